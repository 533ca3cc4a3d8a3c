#!/usr/bin/env bash
# The parts of the program use only the parts below them: every include of
# another part's header must be one the table allows. Also, no source file of
# the program or the benchmarks runs past 400 lines.
#
#   layers_test.sh SOURCE_DIR
set -euo pipefail
cd "$1/src"

# Each part (a folder of src/, or a wing of spc_sweep/) and the parts it may
# include. Nothing includes console/, generator/ or spc_sweep/ but itself:
# the programs depend on the library, never on each other; and spc_sweep
# works on networks and engines as values, never on the console program's
# state.
declare -A may_use=(
  [base]=""
  [network]="base"
  [loader]="base network"
  [engine]="base network"
  [phast]="base network engine"
  [report]="base"
  [state]="base network"
  [program]="base network loader engine state"
  [sweep]="base network engine report state program"
  [console]="base network report state program sweep"
  [compressed]="base network loader"
  [generator]="base network loader compressed"
  [spc_sweep/plan]="base report"
  [spc_sweep/checkpoint]="base network report spc_sweep/plan"
  [spc_sweep/ranks]="base network loader engine phast report spc_sweep/plan spc_sweep/checkpoint"
  [spc_sweep/tool]="base network loader compressed engine phast report spc_sweep/plan spc_sweep/checkpoint spc_sweep/ranks"
)

status=0
parts=$(find . -name '*.h' -o -name '*.cpp' | xargs -n1 dirname | sort -u | sed 's#^\./##')
for part in $parts; do
  [ -n "${may_use[$part]+set}" ] || { echo "src/$part: a folder the layers do not name"; status=1; continue; }
  while IFS= read -r line; do
    file=${line%%:*}
    used=${line#*:#include \"}
    used=${used%/*}
    [ "$used" = "$part" ] && continue
    case " ${may_use[$part]} " in
      *" $used "*) ;;
      *) echo "src/$file: $part may not include $used/"; status=1 ;;
    esac
  done < <(grep -H '^#include "[a-z_]*/' "$part"/*.h "$part"/*.cpp 2>/dev/null || true)
done

while read -r lines file; do
  [ "$file" = total ] && continue
  if [ "$lines" -ge 400 ]; then echo "$file: $lines lines (400 or more)"; status=1; fi
done < <(find . ../bench -name '*.h' -o -name '*.cpp' | xargs wc -l)

[ $status -eq 0 ] && echo "ok"
exit $status
