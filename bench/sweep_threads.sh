#!/usr/bin/env bash
# spc_sweep's compute threads against one, in one process (no MPI):
#  - a grid of SIDE x SIDE (default 140) swept once, ROUNDS times taking
#    turns: the wall-clock time of T threads over one thread's, and the
#    processor time of the runs (the tool's line) over one thread's;
#  - a road network of 1000 x 1000 (a million nodes), whose sweep takes days:
#    each run stopped by SIGUSR1 after SECONDS (default 60), the source runs it
#    recorded a wall-clock second (from its checkpoint), and the processor time
#    a run (the run lines' ns): T threads over one;
#  - the resident memory (VmRSS, summed over the process) of T threads over
#    one, on a road network of 2000 x 2000 (4 million nodes), once it sweeps.
#
#   bench/sweep_threads.sh BUILD_DIR [THREADS [ROUNDS [SECONDS [SIDE]]]]
set -euo pipefail
build=$1 threads=${2:-2} rounds=${3:-2} seconds=${4:-60} side=${5:-140}
build=$(cd "$build" && pwd)  # the script works in a folder of its own
sweep=$build/spc_sweep
gen=$build/spc_gen
[ -x "$sweep" ] && [ -x "$gen" ] || { echo "build spc_sweep and spc_gen in $build first" >&2; exit 2; }
work=$(mktemp -d)
trap 'pkill -KILL -f "$work" 2>/dev/null || true; rm -rf "$work"' EXIT
cd "$work"
"$gen" grid "$side" "$side" --seed 1 --lengths 1 10000 -o grid.gr
"$gen" road 1000 1000 --seed 9 --lengths 1 10000 -o road1m.gr
"$gen" road 2000 2000 --seed 9 --lengths 1 10000 -o road4m.gr

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

# "WALL CPU" of one sweep of the grid on $1 threads.
grid_run() {
  local start end
  start=$(date +%s.%N)
  "$sweep" --threads "$1" --repetitions 1 --log /dev/null grid.gr > out.txt
  end=$(date +%s.%N)
  echo "$(echo "$end - $start" | bc -l) $(sed -n 's/.*processor time in the runs \([0-9.]*\) s.*/\1/p' out.txt)"
}

# "RUNS_PER_SECOND NS_PER_RUN" of a time-limited sweep of the road network on $1 threads.
road_run() {
  rm -rf ck
  timeout -s USR1 "$seconds" "$sweep" --threads "$1" --repetitions 1 --checkpoint ck --log /dev/null road1m.gr \
    > /dev/null 2> err.txt || true
  awk -v s="$seconds" '/^run / { for (i = 1; i < NF; ++i) if ($i == "ns") ns += $(i + 1); runs += $4 - $3 + 1 }
    END { printf "%.3f %.0f\n", runs / s, runs ? ns / runs : 0 }' ck/*.checkpoint
}

# VmRSS in MiB of a sweep of the 4-million-node road network on $1 threads, once it sweeps.
rss_run() {
  rm -rf ck
  "$sweep" --threads "$1" --checkpoint ck --log /dev/null road4m.gr > /dev/null 2>&1 &
  local pid=$!
  for _ in $(seq 600); do
    [ "$(cat ck/*.checkpoint 2>/dev/null | wc -l)" -ge $((8 * $1)) ] && break
    sleep 0.5
  done
  sleep 2
  local kib
  kib=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status")
  kill -USR1 "$pid"; wait "$pid" || true
  echo $((kib / 1024))
}

echo "grid $side x $side, one sweep ($rounds rounds, taking turns): wall-clock and processor time, $threads threads over 1"
for round in $(seq "$rounds"); do
  read -r wall1 cpu1 < <(grid_run 1)
  read -r wallt cput < <(grid_run "$threads")
  echo "  round $round: wall $(ratio "$wallt" "$wall1") ($wall1 s on 1), processor $(ratio "$cput" "$cpu1")"
done
echo "road 1000 x 1000, $seconds s of sweeping: runs a second and processor time a run, $threads threads over 1"
for round in $(seq "$rounds"); do
  read -r rate1 ns1 < <(road_run 1)
  read -r ratet nst < <(road_run "$threads")
  echo "  round $round: wall a run $(ratio "$rate1" "$ratet") ($rate1 runs/s on 1), processor a run $(ratio "$nst" "$ns1")"
done
one=$(rss_run 1)
many=$(rss_run "$threads")
echo "road 2000 x 2000: VmRSS of 1 thread $one MiB, of $threads threads $many MiB: ratio $(ratio "$many" "$one")"
