#!/usr/bin/env bash
# spc_bench with its output redirected: no colour codes, and the summary table
# is what standard output gets (Google Benchmark's own lines only with --raw).
#
#   bench_output_test.sh SPC_BENCH
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }
bench=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$bench" --benchmark_filter='^Ours/grid55x55/' --benchmark_min_time=0.01 > "$work/out.txt" 2> "$work/err.txt" || fail "spc_bench: $(cat "$work/err.txt")"
grep -q $'\x1b' "$work/out.txt" && fail "colour codes in redirected output"
# The table, and a line naming each peer this build lacks.
[ "$(grep -cv '^Built without ' "$work/out.txt")" -le 6 ] || fail "more than the table: $(cat "$work/out.txt")"
grep -q '^network  *ours ms' "$work/out.txt" || fail "no table header: $(cat "$work/out.txt")"
grep -q '^grid55x55  ' "$work/out.txt" || fail "no row for grid55x55: $(cat "$work/out.txt")"
grep -q 'Ours/grid55x55' "$work/err.txt" || fail "no progress on standard error: $(cat "$work/err.txt")"
"$bench" --raw --benchmark_filter='^Ours/grid55x55/' --benchmark_min_time=0.01 > "$work/raw.txt" 2> /dev/null
grep -q '^Ours/grid55x55/repeats:5 ' "$work/raw.txt" || fail "--raw: no benchmark lines: $(cat "$work/raw.txt")"
echo ok
