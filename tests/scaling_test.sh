#!/usr/bin/env bash
# The scaling study in its quick form, and its plot.
#
#   scaling_test.sh SPC_SCALING PLOT_SCRIPT [plot]
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }
scaling=$1
plot_script=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$scaling" --quick -o "$work/s.csv" 2> "$work/progress.txt" || fail "spc_scaling failed: $(cat "$work/progress.txt")"
head -1 "$work/s.csv" | grep -q "^# machine: .*, [0-9]* cores*, " || fail "machine line: $(head -1 "$work/s.csv")"
sed -n 2p "$work/s.csv" | grep -qx "family,size,nodes,arcs,engine,ms_per_sweep,sum_of_distances,arc_scans" ||
  fail "header: $(sed -n 2p "$work/s.csv")"
# Four networks; a progress line on standard error for each.
[ "$(grep -c '^\[[0-9]/4\] ' "$work/progress.txt")" -eq 4 ] || fail "progress: $(cat "$work/progress.txt")"
grep -q '^grid,8,64,224,ours,' "$work/s.csv" || fail "no 8 x 8 grid row"
grep -q '^random,200,200,1000,ours,' "$work/s.csv" || fail "no random 200 row"
# Where BGL ran, its sums and arc counts equal ours, network by network.
if grep -q ',BGL,' "$work/s.csv"; then
  diff <(awk -F, '$5 == "ours" { print $1, $2, $7, $8 }' "$work/s.csv") \
       <(awk -F, '$5 == "BGL" { print $1, $2, $7, $8 }' "$work/s.csv") || fail "the engines' figures differ"
fi

if [ "${3:-}" = plot ]; then
  "$plot_script" "$work/s.csv" "$work/plot" > /dev/null || fail "plot script failed"
  [ -s "$work/plot.png" ] || fail "no PNG"
  head -c 8 "$work/plot.png" | od -An -c | grep -q 'P   N   G' || fail "not a PNG"
  grep -q '<svg' "$work/plot.svg" || fail "not an SVG"
  grep -q 'ours, grid: n' "$work/plot.svg" || fail "no legend with the exponent"
  grep -q 'on .* cores*, ' "$work/plot.svg" || fail "the plot does not name the machine"
  # The x axis ends near the largest network (200 nodes), not decades beyond.
  grep -q '>1000<' "$work/plot.svg" && fail "the x axis runs past the data"
  # A fitted exponent is written with two decimals.
  grep -Eq '>[0-9]+\.[0-9]{2}<' "$work/plot.svg" || fail "no fitted exponent in the SVG"
fi
echo ok
