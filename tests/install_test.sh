#!/usr/bin/env bash
# Installing the programs, end to end.
#
#   install_test.sh installed BUILD_DIR [RUN_PREFIX]
#       installs BUILD_DIR into a temporary prefix and runs the installed
#       spc_heap1 on an installed sample network (RUN_PREFIX: an emulator);
#   install_test.sh program-only SOURCE_DIR CXX
#       configures a fresh build with GoogleTest, Google Benchmark and MPI out
#       of reach, builds only the programs, installs and runs them.
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs the installed program on the installed net4.gr and checks its figures,
# the run log, and spc_gen's usage.
check_installed() {
  local prefix=$1 run=$2
  [ -x "$prefix/bin/spc_heap1" ] || fail "no $prefix/bin/spc_heap1"
  [ -x "$prefix/bin/spc_gen" ] || fail "no $prefix/bin/spc_gen"
  [ -x "$prefix/bin/spc_sweep" ] || fail "no $prefix/bin/spc_sweep"
  local sample=$prefix/share/spc_heap1/examples/net4.gr
  [ -r "$sample" ] || fail "no $sample"
  [ -r "$prefix/share/spc_heap1/examples/README.md" ] || fail "the samples' README is not installed"
  mkdir -p "$work/run"
  (cd "$work/run" && printf '%s\n-1\n' "$sample" | $run "$prefix/bin/spc_heap1" > out.txt)
  grep -qx "Sum of distances: 18" "$work/run/out.txt" || fail "unexpected output: $(cat "$work/run/out.txt")"
  grep -q "^$sample     18     [0-9.e+]*     6     18\$" "$work/run/spc_heap_output.txt" ||
    fail "unexpected run log: $(cat "$work/run/spc_heap_output.txt")"
  $run "$prefix/bin/spc_gen" --help | grep -q "usage: spc_gen" || fail "spc_gen --help"
  # The batch tool reads the installed sample where it lies. (MPI's libraries
  # keep memory to the end, which LeakSanitizer would take for the tool's.)
  (cd "$work/run" && ASAN_OPTIONS=detect_leaks=0 $run "$prefix/bin/spc_sweep" --repetitions 1 "$sample" > sweep.txt 2>&1) ||
    fail "spc_sweep: $(cat "$work/run/sweep.txt")"
  grep -qx "Sum of distances: 18" "$work/run/sweep.txt" || fail "spc_sweep: $(cat "$work/run/sweep.txt")"
}

case "${1:-}" in
  installed)
    build=$2
    run=${3:-}
    cmake --install "$build" --prefix "$work/prefix" > "$work/install.log" || fail "install: $(cat "$work/install.log")"
    check_installed "$work/prefix" "$run"
    ;;
  program-only)
    source=$2
    cxx=$3
    cmake -S "$source" -B "$work/build" -DCMAKE_CXX_COMPILER="$cxx" -DSPC_TESTS=OFF \
      -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON \
      -DCMAKE_DISABLE_FIND_PACKAGE_MPI=ON > "$work/configure.log" 2>&1 ||
      fail "configure: $(cat "$work/configure.log")"
    grep -q "spc_sweep runs as one process" "$work/configure.log" || fail "MPI was not left out"
    cmake --build "$work/build" -j2 --target spc_heap1 spc_gen spc_sweep > "$work/build.log" 2>&1 ||
      fail "build: $(tail -20 "$work/build.log")"
    cmake --install "$work/build" --prefix "$work/prefix" > "$work/install.log" || fail "install: $(cat "$work/install.log")"
    check_installed "$work/prefix" ""
    ;;
  *)
    echo "usage: install_test.sh installed BUILD_DIR [RUN_PREFIX] | program-only SOURCE_DIR CXX" >&2
    exit 2
    ;;
esac
echo "ok"
