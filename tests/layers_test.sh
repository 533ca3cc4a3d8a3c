#!/usr/bin/env bash
# The parts of the program use only the parts below them: every include of
# another part's header must be one the table allows. Also, no source file of
# the program or the benchmarks runs past 400 lines.
#
#   layers_test.sh SOURCE_DIR
set -euo pipefail
cd "$1/src"

# Each part and the parts it may include. Nothing includes console/,
# generator/ or spc_sweep/ but itself: the programs depend on the library,
# never on each other.
declare -A may_use=(
  [state]=""
  [loader]="state"
  [engine]="state"
  [report]="state"
  [sweep]="state engine report"
  [console]="state loader engine report sweep"
  [generator]="state loader"
  [spc_sweep]="state loader engine report sweep"
)

status=0
for part in */; do
  part=${part%/}
  [ -n "${may_use[$part]+set}" ] || { echo "src/$part: a folder the layers do not name"; status=1; continue; }
  while IFS=: read -r file _ used; do
    [ -n "$file" ] || continue
    [ "$used" = "$part" ] && continue
    case " ${may_use[$part]} " in
      *" $used "*) ;;
      *) echo "src/$file: $part may not include $used/"; status=1 ;;
    esac
  done < <(grep -Ho '^#include "[a-z_]*/' "$part"/*.h "$part"/*.cpp 2>/dev/null | sed 's/#include "\(.*\)\/$/\1/' | sed 's/^\([^:]*\):/\1::/')
done

while read -r lines file; do
  [ "$file" = total ] && continue
  if [ "$lines" -ge 400 ]; then echo "$file: $lines lines (400 or more)"; status=1; fi
done < <(wc -l ./*/*.h ./*/*.cpp ../bench/*.cpp ../bench/*.h)

[ $status -eq 0 ] && echo "ok"
exit $status
