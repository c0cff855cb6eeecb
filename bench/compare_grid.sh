#!/usr/bin/env bash
# Makes the grid benchmark's images and runs bench_grid, which times each image on screen
# (showStackItem to the first and the last painted increment) beside the stream alone,
# j2k_decode and opj_decompress -threads 1 on the same file, alternating within each
# round, and the grid's paint and presentation cases. Prints the machine's load.
#
# compare_grid.sh [--quick] [BUILD_DIR]   (default build-plain)
#   --quick: the 512 x 512 image only, one round of every case (CI; no time is judged).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
quick=0
if [ "${1:-}" = "--quick" ]; then
    quick=1
    shift
fi
build=${1:-$root/build-plain}
bench=$build/bench/bench_grid
python=${ORBEL_PYTHON:-/usr/bin/python3}
[ -x "$bench" ] || { echo "no $bench: build the bench_grid target first" >&2; exit 1; }
[ -x "$build/tools/decode/j2k_decode" ] || { echo "no j2k_decode in $build: build it first" >&2; exit 1; }
command -v opj_compress >/dev/null || { echo "opj_compress missing (libopenjp2-tools)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/compare_grid.$$.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$python" - "$work" "$quick" <<'PY'
import sys
import numpy as np
out, quick = sys.argv[1], sys.argv[2] == "1"
rng = np.random.default_rng(12)
grey = (("small", 512, 4095),) if quick else (("big", 2048, 4095), ("small", 512, 4095))
for name, n, top in grey:
    y, x = np.mgrid[0:n, 0:n] / n
    v = top * (0.5 + 0.4 * np.sin(6.3 * x) * np.cos(4.1 * y)) + rng.normal(0, 20, (n, n))
    np.clip(np.rint(v), 0, top).astype(">u2").tofile("%s/%s.raw" % (out, name))
if not quick:
    n = 2048
    y, x = np.mgrid[0:n, 0:n] / n
    rgb = np.stack([128 + 100 * np.sin(9 * x + c) * np.cos(7 * y - c) for c in (0, 1, 2)], axis=-1)
    rgb += rng.normal(0, 6, (n, n, 3))
    np.clip(np.rint(rgb), 0, 255).astype(np.uint8).tofile("%s/rgb.raw" % out)
PY
# 1: DX-like, lossless, 256 x 256 tiles; 2: CT-like, three layers; 3: colour, 9/7, three layers.
opj_compress -i "$work/small.raw" -F 512,512,1,12,u@1x1 -o "$work/1_1_1_2_1.jp2" -n 5 -r 20,5,1 -PLT >/dev/null
if [ "$quick" = 0 ]; then
    opj_compress -i "$work/big.raw" -F 2048,2048,1,12,u@1x1 -o "$work/1_1_1_1_1.jp2" -n 6 -t 256,256 -PLT >/dev/null
    opj_compress -i "$work/rgb.raw" -F 2048,2048,3,8,u@1x1 -o "$work/1_1_1_3_1.jp2" -I -n 6 -r 20,10,5 -PLT >/dev/null
fi
rm -f "$work"/*.raw

echo "== bench_grid (load average: $(cut -d' ' -f1-3 /proc/loadavg))"
if [ "$quick" = 1 ]; then
    ORBEL_GRID_BENCH_DIR="$work" ORBEL_BENCH_QUICK=1 "$bench" --benchmark_min_time=0 | tee "$work/out.txt"
else
    ORBEL_GRID_BENCH_DIR="$work" "$bench" | tee "$work/out.txt"
fi
echo "== load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
# A case that failed (not one skipped for an image this form does not make) fails the run.
if grep 'ERROR OCCURRED' "$work/out.txt" | grep -qv "set ORBEL_"; then
    echo "== a case failed" >&2
    exit 1
fi
