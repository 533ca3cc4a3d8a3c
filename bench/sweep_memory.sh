#!/usr/bin/env bash
# The memory of spc_sweep's ranks on one machine: the summed proportional set
# size (Pss, /proc/PID/smaps_rollup) of P ranks against one rank alone, on a
# road-like network, measured while they sweep.
#
#   bench/sweep_memory.sh BUILD_DIR [WIDTH HEIGHT [RANKS]]
#
# Defaults: a road network of 2000 x 2000 (4 million nodes), 2 ranks.
set -euo pipefail
build=$1 width=${2:-2000} height=${3:-2000} ranks=${4:-2}
build=$(cd "$build" && pwd)  # the script works in a folder of its own
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 OMPI_MCA_btl=self,vader
work=$(mktemp -d)
trap 'pkill -USR1 -f "$work" 2>/dev/null || true; rm -rf "$work"' EXIT
cd "$work"
"$build/spc_gen" road "$width" "$height" --seed 9 --lengths 1 10000 -o road.gr
echo "network: road $width x $height, $(head -c 200 road.gr | grep -m1 '^p' | cut -d' ' -f3) nodes" >&2

# Summed Pss in MiB of the ranks of a run on $1 ranks, once it sweeps.
measure() {
  local p=$1 dir=$work/run$1
  mkdir -p "$dir"
  if [ "$p" -eq 1 ]; then
    (cd "$dir" && "$build/spc_sweep" --threads 1 --checkpoint ck --log /dev/null "$work/road.gr" > /dev/null 2>&1 &)
  else
    (cd "$dir" && mpiexec -n "$p" --oversubscribe "$build/spc_sweep" --threads 1 --checkpoint ck --log /dev/null \
      "$work/road.gr" > /dev/null 2>&1 &)
  fi
  for _ in $(seq 600); do
    [ "$(cat "$dir"/ck/*.checkpoint 2>/dev/null | wc -l)" -ge $((4 * p)) ] && break
    sleep 0.5
  done
  sleep 2
  local total=0
  for pid in $(pgrep -f "^$build/spc_sweep --threads 1 --checkpoint ck --log /dev/null $work/road.gr"); do
    total=$((total + $(awk '/^Pss:/ {print $2}' "/proc/$pid/smaps_rollup")))
  done
  pkill -USR1 -f "^$build/spc_sweep --threads 1 --checkpoint ck --log /dev/null $work/road.gr" || true
  sleep 2
  echo $((total / 1024))
}
one=$(measure 1)
many=$(measure "$ranks")
echo "Pss of 1 rank: $one MiB; of $ranks ranks together: $many MiB; ratio $(awk -v a="$many" -v b="$one" 'BEGIN { printf "%.2f", a / b }')"
