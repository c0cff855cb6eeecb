#!/usr/bin/env bash
# Times opj_decompress (one thread) beside bench_region's renders of the same codestreams
# in the same run: a 2048x2048 8-bit grey and an 8-bit RGB image, reversible (opj_compress
# defaults), whole, at levels 0 and 2.
#
# compare_region.sh [BUILD_DIR] [RUNS]   (defaults: build-plain, 5 runs of opj per case)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-plain}
runs=${2:-5}
bench=$build/bench/bench_region
[ -x "$bench" ] || { echo "no $bench: build the bench_region target first" >&2; exit 1; }
command -v opj_compress >/dev/null || { echo "opj_compress missing (libopenjp2-tools)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/compare_region.$$.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Smooth fields with a little noise, from a fixed seed.
python3 - "$work" <<'EOF'
import math, random, sys
out = sys.argv[1]
n = 2048
rng = random.Random(11)
def field(phase):
    rows = bytearray()
    for y in range(n):
        fy = y / n
        for x in range(n):
            fx = x / n
            v = 128 + 60 * math.sin(6.3 * fx + phase) * math.cos(4.1 * fy - phase) + rng.randint(-6, 6)
            rows.append(max(0, min(255, int(v))))
    return rows
grey = field(0.0)
open(out + "/grey.pgm", "wb").write(b"P5\n%d %d\n255\n" % (n, n) + grey)
r, g, b = field(0.5), field(1.3), field(2.1)
rgb = bytearray(3 * n * n)
rgb[0::3], rgb[1::3], rgb[2::3] = r, g, b
open(out + "/rgb.ppm", "wb").write(b"P6\n%d %d\n255\n" % (n, n) + rgb)
EOF
opj_compress -i "$work/grey.pgm" -o "$work/grey.j2k" >/dev/null
opj_compress -i "$work/rgb.ppm" -o "$work/rgb.j2k" >/dev/null

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

printf "%-6s %-6s %14s\n" image level "opj ms (median)"
for image in grey rgb; do
  for level in 0 2; do
    for i in $(seq "$runs"); do
      start=$(date +%s%N)
      opj_decompress -threads 1 -r "$level" -i "$work/$image.j2k" -o "$work/out_$image.pgx" >/dev/null 2>&1
      end=$(date +%s%N)
      echo $(( (end - start) / 1000000 ))
    done | median | xargs printf "%-6s %-6s %14s\n" "$image" "$level"
  done
done

echo
echo "bench_region on the same codestreams (decoding included), then the rendering alone:"
ORBEL_REGION_STREAMS=$work "$bench" --benchmark_filter='BM_Render(Grey|Rgb|SyntheticGrey|SyntheticRgb)/' \
  --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
