#!/usr/bin/env bash
# spc_sweep's per-source figures against NetworkX on small networks of every
# family, with zero lengths, parallel arcs, unreachable nodes and one node;
# the same file by the method phast, from the network compressed by each of
# gzip, xz and bzip2, and from 1, 2 and 3 ranks where MPI is there.
#
#   per_source_test.sh SPC_SWEEP SPC_GEN ORACLE [MPIEXEC]
set -euo pipefail
sweep=$1 gen=$2 oracle=$3 mpiexec=${4:-}
fail() { echo "FAIL: $*" >&2; exit 1; }
python3 -c "import networkx" 2>/dev/null || { echo "skipped: NetworkX is not installed"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$gen" grid 9 7 --seed 1 --lengths 0 20 -o grid.gr
"$gen" road 12 8 --seed 2 --lengths 1 1000 -o road.gr
"$gen" random 120 600 --seed 3 --lengths 0 5 -o random.gr
"$gen" complete 15 --seed 4 --lengths 1 50 -o complete.gr
"$gen" path 40 --seed 5 --lengths 1 2147483647 -o path.gr   # one way: most pairs unreachable
printf 'p sp 1 2\na 1 1 0\na 1 1 7\n' > one.gr
printf 'p sp 6 5\na 1 2 3\na 1 2 1\na 2 3 0\na 4 5 2\na 5 4 2\n' > islands.gr
for network in grid road random complete path one islands; do
  "$sweep" --repetitions 1 --log /dev/null --per-source "$network.tsv" "$network.gr" > /dev/null ||
    fail "spc_sweep on $network"
  "$oracle" "$network.gr" "$network.tsv" > oracle.txt || fail "$network: $(cat oracle.txt)"
  "$sweep" --method phast --repetitions 1 --log /dev/null --per-source "$network-phast.tsv" "$network.gr" > /dev/null ||
    fail "spc_sweep --method phast on $network"
  cmp -s "$network.tsv" "$network-phast.tsv" || fail "the method phast wrote another file for $network"
done
# Compressed by the system's own tools: the plain file's figures; the name
# in the header is the file's.
for kind in "gzip .gz" "xz .xz" "bzip2 .bz2"; do
  set -- $kind
  "$1" -c road.gr > "road.gr$2"
  "$sweep" --repetitions 1 --log /dev/null --per-source packed.tsv "road.gr$2" > /dev/null || fail "spc_sweep on road.gr$2"
  cmp -s <(tail -n +2 road.tsv) <(tail -n +2 packed.tsv) || fail "road.gr$2 gave other figures"
done
if [ -n "$mpiexec" ]; then
  export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 OMPI_MCA_btl=self,vader
  for ranks in 2 3; do
    "$mpiexec" -n "$ranks" --oversubscribe "$sweep" --repetitions 2 --log /dev/null --per-source "$ranks-%n" \
      random.gr islands.gr > /dev/null || fail "spc_sweep on $ranks ranks"
    cmp -s "$ranks-random.gr" random.tsv || fail "$ranks ranks wrote another file for random.gr"
    cmp -s "$ranks-islands.gr" islands.tsv || fail "$ranks ranks wrote another file for islands.gr"
  done
fi
echo "ok"
