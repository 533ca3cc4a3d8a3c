#!/usr/bin/env bash
# Turns the CSV of spc_scaling into a log-log plot of milliseconds per sweep
# against the node count, one line per engine and family, each with the
# growth exponent fitted by least squares on the logarithms in its legend.
#
#   bench/plot_scaling.sh build/scaling.csv build/scaling   (writes build/scaling.svg and .png)
#
# The x axis spans the data; the machine named in the CSV's "# machine:"
# line is written under the title.
#
# Needs gnuplot (Debian: gnuplot-nox).
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: plot_scaling.sh FILE.csv OUTPUT_STEM" >&2
  exit 2
fi
csv=$1
stem=$2
command -v gnuplot >/dev/null || { echo "plot_scaling.sh: gnuplot not found (apt-get install gnuplot-nox)" >&2; exit 1; }
[ -r "$csv" ] || { echo "plot_scaling.sh: cannot read $csv" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One file of "nodes ms" per engine and family, named ENGINE-FAMILY.dat.
awk -F, -v dir="$work" '/^#/ || $1 == "family" { next } $6 > 0 { print $3, $6 > (dir "/" $5 "-" $1 ".dat") }' "$csv"
machine=$(sed -n 's/^# machine: //p' "$csv" | head -1)
machine=${machine:-an unnamed machine}
# The x range: the data's, widened by a fifth either way.
read -r xmin xmax < <(awk -F, '/^#/ || $1 == "family" { next } $6 > 0 {
  if (min == "" || $3 < min) min = $3; if ($3 > max) max = $3 } END { print min / 1.2, max * 1.2 }' "$csv")
series=()
for f in "$work"/*.dat; do
  [ -e "$f" ] || { echo "plot_scaling.sh: no rows in $csv" >&2; exit 1; }
  series+=("$(basename "$f" .dat)")
done

# The fit of each series, then one plot command over all of them.
{
  echo "set fit quiet"
  echo "set fit logfile '/dev/null'"
  plot="plot"
  i=0
  for s in "${series[@]}"; do
    i=$((i + 1))
    echo "f$i(x) = a$i + b$i * x"
    echo "a$i = 1; b$i = 1"
    echo "fit f$i(x) '$work/$s.dat' using (log10(\$1)):(log10(\$2)) via a$i, b$i"
    engine=${s%%-*}
    family=${s#*-}
    # A colour per engine, a point and dash type per family.
    colour="#d62728"
    [ "$engine" = ours ] && colour="#1f77b4"
    style="pt 7 dt 1"
    [ "$family" = random ] && style="pt 9 dt 2"
    [ "$i" -gt 1 ] && plot+=","
    plot+=" '$work/$s.dat' using 1:2 with linespoints lw 2 lc rgb '$colour' $style"
    plot+=" title sprintf('$engine, $family: n^{%.2f}', b$i)"
  done
  echo "set logscale xy"
  echo "set xrange [$xmin:$xmax]"
  echo "set xlabel 'nodes n'"
  echo "set ylabel 'processor ms per all-sources sweep'"
  echo "set key top left"
  echo "set grid"
  echo "set title \"Time of one all-sources sweep (fitted growth exponent in the legend)\\n{/*0.8 on ${machine//\'/}}\""
  echo "set terminal svg size 900,600 dynamic enhanced font 'sans,13'"
  echo "set output '$stem.svg'"
  echo "$plot"
  echo "set terminal pngcairo size 900,600 enhanced font 'sans,11'"
  echo "set output '$stem.png'"
  echo "replot"
  echo "set output"
} > "$work/plot.gp"
gnuplot "$work/plot.gp"
echo "wrote $stem.svg and $stem.png"
