#!/usr/bin/env bash
# How spc_sweep's wall-clock time falls with the ranks on this machine: one
# sweep of a grid whose sweep takes tens of seconds on one core, and of the
# same grid with as many nodes again that have no arcs, so that half the
# sources cost nothing (and come last, where a fixed split of the sources
# would leave one rank idle). Each on 1 rank, then on RANKS ranks, ROUNDS
# times taking turns; per count of ranks the fastest round counts.
#
#   bench/sweep_ranks.sh [BUILD_DIR [RANKS [ROUNDS [SIDE]]]]
#
# Prints, per network: the wall-clock time of each count of ranks, the ratio
# RANKS/1 (ideal: 1/RANKS), and the processor time the runs took on all ranks
# against one rank's (ideal: 1).
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
ranks=${2:-2}
rounds=${3:-2}
side=${4:-140}
sweep=$build/spc_sweep
gen=$build/spc_gen
[ -x "$sweep" ] && [ -x "$gen" ] || { echo "build spc_sweep and spc_gen in $build first" >&2; exit 2; }
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 OMPI_MCA_btl=self,vader

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$gen" grid "$side" "$side" --seed 1 --lengths 1 10000 -o "$work/grid.gr"
nodes=$((side * side))
# The same grid with as many nodes again, numbered after it and without arcs:
# sources that reach nothing but themselves.
{ echo "c the grid $side x $side and $nodes nodes more without arcs"
  sed -n "s/^p sp $nodes /p sp $((2 * nodes)) /p" "$work/grid.gr"
  grep '^a ' "$work/grid.gr"; } > "$work/half-idle.gr"

# Wall-clock seconds and the tool's processor time of one sweep on $1 ranks.
run() {
  local count=$1 network=$2 start end cpu
  start=$(date +%s.%N)
  mpiexec -n "$count" "$sweep" --threads 1 --repetitions 1 --log /dev/null "$network" > "$work/out.txt"
  end=$(date +%s.%N)
  cpu=$(sed -n 's/.*processor time in the runs \([0-9.]*\) s.*/\1/p' "$work/out.txt")
  echo "$(echo "$end - $start" | bc -l) $cpu"
}

printf "%-12s %12s %12s %10s %14s\n" network "1 rank s" "$ranks ranks s" "ratio" "cpu ratio"
for network in grid half-idle; do
  best1=999999; best2=999999; cpu1=0; cpu2=0
  for round in $(seq "$rounds"); do
    read -r wall cpu < <(run 1 "$work/$network.gr")
    if (( $(echo "$wall < $best1" | bc -l) )); then best1=$wall; cpu1=$cpu; fi
    read -r wall cpu < <(run "$ranks" "$work/$network.gr")
    if (( $(echo "$wall < $best2" | bc -l) )); then best2=$wall; cpu2=$cpu; fi
  done
  printf "%-12s %12.2f %12.2f %10.3f %14.3f\n" "$network" "$best1" "$best2" "$(echo "$best2 / $best1" | bc -l)" \
    "$(echo "$cpu2 / $cpu1" | bc -l)"
done
