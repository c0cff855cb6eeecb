#!/usr/bin/env bash
# Times bench_grid's road (showStackItem to the last end of request of a 2048x2048 12-bit
# lossless image at level 0; the first increment of a 512x512 image; the paint of a
# 1024x1024 cell) beside opj_decompress -threads 1 on the same file, in the same run.
#
# compare_grid.sh [BUILD_DIR] [RUNS]   (defaults: build-plain, 3 runs of opj)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-plain}
runs=${2:-3}
bench=$build/bench/bench_grid
python=${ORBEL_PYTHON:-/usr/bin/python3}
[ -x "$bench" ] || { echo "no $bench: build the bench_grid target first" >&2; exit 1; }
command -v opj_compress >/dev/null || { echo "opj_compress missing (libopenjp2-tools)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/compare_grid.$$.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$python" - "$work" <<'PY'
import sys
import numpy as np
out = sys.argv[1]
rng = np.random.default_rng(12)
for name, n, top in (("big", 2048, 4095), ("small", 512, 4095)):
    y, x = np.mgrid[0:n, 0:n] / n
    v = top * (0.5 + 0.4 * np.sin(6.3 * x) * np.cos(4.1 * y)) + rng.normal(0, 20, (n, n))
    np.clip(np.rint(v), 0, top).astype(">u2").tofile("%s/%s.raw" % (out, name))
PY
opj_compress -i "$work/big.raw" -F 2048,2048,1,12,u@1x1 -o "$work/1_1_1_1_1.jp2" -n 6 -t 256,256 -PLT >/dev/null
opj_compress -i "$work/small.raw" -F 512,512,1,12,u@1x1 -o "$work/1_1_1_2_1.jp2" -n 5 -r 20,5,1 -PLT >/dev/null

echo "== opj_decompress -threads 1, 2048x2048 12-bit, level 0 (${runs} runs)"
for _ in $(seq "$runs"); do
    start=$(date +%s.%N)
    opj_decompress -threads 1 -i "$work/1_1_1_1_1.jp2" -o "$work/out.pgx" >/dev/null
    end=$(date +%s.%N)
    "$python" -c "print('%.1f ms' % ((float('$end') - float('$start')) * 1000))"
done
echo "== bench_grid"
ORBEL_GRID_BENCH_DIR="$work" "$bench"
