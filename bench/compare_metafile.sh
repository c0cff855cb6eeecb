#!/usr/bin/env bash
# Times emf2svg-conv + rsvg-convert beside the raster library's metafile reader on the same
# large EMF (tools/make_metafiles.py --large: 4000 x 2828, some 12,000 records of shapes,
# pictures and text) at the same size, in the same run. The outside pair goes from the file
# to a PNG; bench_metafile from the bytes in memory to the picture; metafile_render (when
# built) from the file to a PPM, the nearest like for like. Medians in milliseconds; asserts
# nothing.
#
# compare_metafile.sh [BUILD_DIR] [RUNS]   (defaults: build-plain, 5 runs)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build-plain}" && pwd)
runs=${2:-5}
bench=$build/bench/bench_metafile
render=$build/tools/metafile_render/metafile_render
[ -x "$bench" ] || { echo "no $bench: build the bench_metafile target first" >&2; exit 1; }
for tool in emf2svg-conv rsvg-convert; do
  command -v "$tool" >/dev/null || { echo "$tool missing (scripts/install-deps)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/compare_metafile.$$.XXXXXX")
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 "$root/tools/make_metafiles.py" --large "$work/large.emf"
echo "file: $(stat -c %s "$work/large.emf") bytes, 4000 x 2828"

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
ms() { echo $(( ($2 - $1) / 1000000 )); }

svg_ms=() png_ms=() both_ms=() ours_ms=()
for i in $(seq "$runs"); do
  t0=$(date +%s%N)
  emf2svg-conv -i "$work/large.emf" -o "$work/large.svg"
  t1=$(date +%s%N)
  rsvg-convert -w 4000 -h 2828 -b white -o "$work/large.png" "$work/large.svg"
  t2=$(date +%s%N)
  svg_ms+=("$(ms "$t0" "$t1")") png_ms+=("$(ms "$t1" "$t2")") both_ms+=("$(ms "$t0" "$t2")")
  if [ -x "$render" ]; then
    t3=$(date +%s%N)
    "$render" "$work/large.emf" "$work/ours.ppm" >/dev/null
    t4=$(date +%s%N)
    ours_ms+=("$(ms "$t3" "$t4")")
  fi
done
outside=$(printf '%s\n' "${both_ms[@]}" | median)
printf "%-44s %8s ms\n" "emf2svg-conv (EMF to SVG)" "$(printf '%s\n' "${svg_ms[@]}" | median)"
printf "%-44s %8s ms\n" "rsvg-convert (SVG to 4000 x 2828 PNG)" "$(printf '%s\n' "${png_ms[@]}" | median)"
printf "%-44s %8s ms\n" "emf2svg-conv + rsvg-convert" "$outside"
if [ ${#ours_ms[@]} -gt 0 ]; then
  ours=$(printf '%s\n' "${ours_ms[@]}" | median)
  printf "%-44s %8s ms  (outside / ours: %s)\n" "metafile_render (EMF to 4000 x 2828 PPM)" "$ours" \
    "$(awk -v a="$outside" -v b="$ours" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')"
fi
echo
echo "bench_metafile on the same file (bytes in memory to the picture):"
ORBEL_BENCH_METAFILE=$work/large.emf "$bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
