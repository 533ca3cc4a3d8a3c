#!/usr/bin/env bash
# Times spc_heap1 built from the working tree against spc_heap1 built at each
# commit given, on a fixed set of networks of every kind, so that an engine
# change shows what it costs or gains before it lands.
#
#   bench/compare_builds.sh [--rounds N] [--only NAME[,NAME...]] REF [REF...]
#
# Each REF is built once (Release, programs only) in a scratch folder,
# $SPC_COMPARE_DIR (default /tmp/spc-compare), kept there for the next call;
# the working tree, uncommitted changes included, is built there afresh. The
# builds then take turns on every network, N rounds (default 5), the first
# build of a round changing from round to round. Every run's sum and counts
# must agree with the working tree's, or the script stops. Per network and
# REF it prints the working tree's time over the REF's, as the median of the
# rounds' ratios and their smallest and largest (ratios of runs made one
# after the other, so that a slow spell of the machine falls on both).
#
# The networks (each sweep a few tenths of a second to a few seconds here):
#   dense      random, 1,000 nodes, 100 arcs a node     ids 16, keys 32, lengths 16
#   sparse     random, 3,000 nodes, 5 arcs a node       ids 16, keys 32, lengths 16
#   wide       random, 2,000 nodes, lengths to 10^8     ids 16, keys 32 checked, lengths 32
#   negative   random, 2,000 nodes, lengths +-10^8      ids 16, keys 64, lengths 32
#   grid       grid 55 x 55                             ids 16, keys 32, lengths 16
#   road       road 58 x 58                             ids 16, keys 32, lengths 16
#   bremen     the first 3,000 nodes reached from node 1 of Bremen's streets
#              (../shared/networks/bremen.gr.xz), numbered as reached
#   ids32      165 copies of a random network of 400 nodes side by side:
#              66,000 nodes, each source reaching 400     ids 32, keys 32, lengths 16
set -euo pipefail

rounds=5
only=""
refs=()
while (($#)); do
  case $1 in
    --rounds) rounds=$2; shift 2 ;;
    --only) only=$2; shift 2 ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) refs+=("$1"); shift ;;
  esac
done
((${#refs[@]})) || { echo "usage: bench/compare_builds.sh [--rounds N] [--only NAME,...] REF [REF...]" >&2; exit 2; }

root=$(cd "$(dirname "$0")/.." && pwd)
scratch=${SPC_COMPARE_DIR:-/tmp/spc-compare}
mkdir -p "$scratch"
networks_dir=$root/../shared/networks

# Builds spc_heap1 and spc_gen from source folder $1 into $2.
build() {
  cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DSPC_TESTS=OFF -DSPC_BENCHMARKS=OFF -DSPC_MPI=OFF > "$2.log" 2>&1 &&
    cmake --build "$2" -j2 --target spc_heap1 spc_gen >> "$2.log" 2>&1 ||
    { echo "the build in $2 failed: see $2.log" >&2; exit 1; }
}

echo "building the working tree" >&2
build "$root" "$scratch/work"
names=(work)
bins=("$scratch/work/spc_heap1")
for ref in "${refs[@]}"; do
  commit=$(git -C "$root" rev-parse --verify --quiet "$ref^{commit}") || { echo "no commit $ref" >&2; exit 2; }
  dir=$scratch/${commit:0:12}
  if [ ! -x "$dir/build/spc_heap1" ]; then
    echo "building $ref (${commit:0:12})" >&2
    rm -rf "$dir" && mkdir -p "$dir/src"
    git -C "$root" archive "$commit" | tar -x -C "$dir/src"
    build "$dir/src" "$dir/build"
  fi
  names+=("$ref")
  bins+=("$dir/build/spc_heap1")
done

net=$scratch/networks
mkdir -p "$net"
gen=$scratch/work/spc_gen
make_network() {
  local name=$1 file=$net/$1.gr
  [ -s "$file" ] && return 0
  case $name in
    dense) "$gen" random 1000 100000 --seed 14 --lengths 1 10000 -o "$file" ;;
    sparse) "$gen" random 3000 15000 --seed 3 --lengths 1 10000 -o "$file" ;;
    wide) "$gen" random 2000 40000 --seed 5 --lengths 1 100000000 -o "$file" ;;
    negative) "$gen" random 2000 10000 --seed 6 --lengths -100000000 100000000 -o "$file" ;;
    grid) "$gen" grid 55 55 --seed 1 --lengths 1 10000 -o "$file" ;;
    road) "$gen" road 58 58 --seed 2 --lengths 1 12000 -o "$file" ;;
    bremen)
      [ -r "$networks_dir/bremen.gr.xz" ] || { echo "skipping bremen: $networks_dir/bremen.gr.xz is missing" >&2; return 1; }
      xz -dc "$networks_dir/bremen.gr.xz" | awk -v keep=3000 '
        $1 == "a" { tail[++m] = $2; head[m] = $3; len[m] = $4; out[$2] = out[$2] " " m }
        END {
          id[1] = 1; order[1] = 1; n = 1
          for (i = 1; i <= n && n < keep; ++i) {
            k = split(out[order[i]], arcs, " ")
            for (j = 1; j <= k && n < keep; ++j) {
              h = head[arcs[j]]
              if (!(h in id)) { id[h] = ++n; order[n] = h }
            }
          }
          for (e = 1; e <= m; ++e) if ((tail[e] in id) && (head[e] in id)) kept[++c] = id[tail[e]] " " id[head[e]] " " len[e]
          print "c the first " n " nodes reached from node 1 of bremen.gr, numbered as reached"
          print "p sp " n " " c
          for (e = 1; e <= c; ++e) print "a " kept[e]
        }' > "$file" ;;
    ids32)
      "$gen" random 400 1600 --seed 8 --lengths 1 10000 -o "$net/ids32-part.gr"
      awk -v copies=165 '
        $1 == "a" { a[++m] = $2 " " $3 " " $4 }
        $1 == "p" { n = $3 }
        END {
          print "c " copies " copies of a random network of " n " nodes, side by side"
          print "p sp " copies * n " " copies * m
          for (c = 0; c < copies; ++c) for (e = 1; e <= m; ++e) {
            split(a[e], f, " "); print "a " f[1] + c * n " " f[2] + c * n " " f[3]
          }
        }' "$net/ids32-part.gr" > "$file" ;;
  esac
}

all=(dense sparse wide negative grid road bremen ids32)
chosen=()
for name in "${all[@]}"; do
  if [ -n "$only" ] && [[ ",$only," != *",$name,"* ]]; then continue; fi
  make_network "$name" && chosen+=("$name")
done

run_dir=$(mktemp -d)
trap 'rm -rf "$run_dir"' EXIT
# "SUM TRIVIAL NONTRIVIAL MS" of one spc_heap1 run on a network.
measure() {
  local bin=$1 file=$2
  (cd "$run_dir" && printf '%s\n-1\n' "$file" | "$bin") | awk '
    /^Sum of distances:/ { s = $4 } /^Running time/ { t = $6 }
    /^trivial_triple/ { a = $2 } /^nontrivial_triple/ { b = $2 }
    END { print s, a, b, t }'
}

results=$run_dir/results.txt
: > "$results"
count=${#bins[@]}
for round in $(seq "$rounds"); do
  for name in "${chosen[@]}"; do
    file=$net/$name.gr
    expected=""
    for k in $(seq 0 $((count - 1))); do
      b=$(((k + round) % count))
      read -r sum trivial nontrivial ms < <(measure "${bins[$b]}" "$file")
      figures="$sum $trivial $nontrivial"
      [ -z "$expected" ] && expected=$figures
      if [ "$figures" != "$expected" ]; then
        echo "$name: ${names[$b]} gives $figures, another build $expected" >&2
        exit 1
      fi
      echo "$round $name $b $ms" >> "$results"
    done
  done
  echo "round $round of $rounds done" >&2
done

printf "%-10s %-12s %10s %10s %10s %18s\n" network ref "work ms" "ref ms" "work/ref" "smallest..largest"
for name in "${chosen[@]}"; do
  for b in $(seq 1 $((count - 1))); do
    awk -v name="$name" -v b="$b" -v ref="${names[$b]}" '
      $2 == name && $3 == 0 { work[$1] = $4 }
      $2 == name && $3 == b { other[$1] = $4 }
      function median(x, n,   i, j, t) {
        for (i = 2; i <= n; ++i) for (j = i; j > 1 && x[j - 1] > x[j]; --j) { t = x[j]; x[j] = x[j - 1]; x[j - 1] = t }
        return n % 2 ? x[(n + 1) / 2] : (x[n / 2] + x[n / 2 + 1]) / 2
      }
      END {
        n = 0
        for (r in work) if (r in other && other[r] > 0) { ++n; ratio[n] = work[r] / other[r]; w[n] = work[r]; o[n] = other[r] }
        if (n == 0) { printf "%-10s %-12s %s\n", name, ref, "no times (a sweep under a millisecond)"; exit }
        mw = median(w, n); mo = median(o, n); mr = median(ratio, n)
        printf "%-10s %-12s %10.2f %10.2f %10.3f %8.3f..%-8.3f\n", name, ref, mw, mo, mr, ratio[1], ratio[n]
      }' "$results"
  done
done
