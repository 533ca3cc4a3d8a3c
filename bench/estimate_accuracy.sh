#!/usr/bin/env bash
# How close spc_sweep --estimate comes to the sweep it predicts: for networks
# of every family, the estimate from at most 2 % of the sources (or 30 s of
# processor time, whichever is less) against the measured processor time of
# one full sweep, alone on this machine.
#
#   bench/estimate_accuracy.sh BUILD_DIR [NETWORK...]
#
# Without networks: the samples and generated networks of 5,000 to 50,000
# nodes (a full sweep of larger ones takes hours here).
set -euo pipefail
build=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
networks=("$@")
if [ ${#networks[@]} -eq 0 ]; then
  here=$(cd "$(dirname "$0")/.." && pwd)
  networks=("$here"/examples/*.gr)
  gen() { "$build/spc_gen" "$@" -o "$work/$1-$2-$3.gr" && networks+=("$work/$1-$2-$3.gr"); }
  gen grid 71 71 --seed 1 --lengths 1 10000
  gen road 71 71 --seed 2 --lengths 1 10000
  gen random 5000 14000 --seed 3 --lengths 1 10000
  gen complete 400 --seed 4 --lengths 1 10000
  gen path 5000 --seed 5 --lengths 1 10000
  gen grid 142 142 --seed 6 --lengths 1 10000
  gen road 142 142 --seed 7 --lengths 1 10000
  gen random 20000 56000 --seed 8 --lengths 1 10000
  gen random 20000 100000 --seed 9 --lengths 1 10000
  gen grid 224 224 --seed 10 --lengths 1 10000
  gen road 224 224 --seed 11 --lengths 1 10000
  gen random 50000 140000 --seed 12 --lengths 1 10000
fi

printf "| network | nodes | sampled | estimate s | range s | measured s | estimate / measured |\n|---|---|---|---|---|---|---|\n"
for network in "${networks[@]}"; do
  nodes=$(grep -m1 '^p' "$network" | awk '{print $3}')
  # A first look at the cost of one source, then the budget: 2 % of the
  # sources' time, at most 30 s.
  first=$("$build/spc_sweep" --estimate 0.2 --repetitions 1 "$network" | head -1)
  per_sweep=$(sed -n 's/.*processor time per sweep \([0-9.]*\) s.*/\1/p' <<< "$first")
  budget=$(awk -v t="$per_sweep" 'BEGIN { b = 0.02 * t; if (b > 30) b = 30; if (b < 0.001) b = 0.001; print b }')
  line=$("$build/spc_sweep" --estimate "$budget" --repetitions 1 "$network" | head -1)
  estimate=$(sed -n 's/.*processor time per sweep \([0-9.]*\) s.*/\1/p' <<< "$line")
  range=$(sed -n 's/.*between \([0-9.]*\) and \([0-9.]*\) s.*/\1-\2/p' <<< "$line")
  sampled=$(sed -n "s/.*from \([0-9]*\) sources' runs.*/\1/p" <<< "$line")
  measured=$("$build/spc_sweep" --repetitions 1 --log /dev/null "$network" |
    sed -n 's/.*processor time in the runs \([0-9.]*\) s.*/\1/p')
  printf "| %s | %s | %s | %s | %s | %s | %s |\n" "$(basename "$network")" "$nodes" "$sampled" "$estimate" "$range" \
    "$measured" "$(awk -v e="$estimate" -v m="$measured" 'BEGIN { if (m > 0) printf "%.3f", e / m; else print "-" }')"
done
