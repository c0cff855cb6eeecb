#!/usr/bin/env bash
# Runs every benchmark program of a build once in its smallest form (one iteration per
# case: --benchmark_min_time=0 and ORBEL_BENCH_QUICK=1), so that a benchmark which
# crashes, exits non-zero or reports an error fails here. No time is judged. A case
# skipped for want of an outside input ("set ORBEL_...") is not an error.
#
# run_smoke.sh [BUILD_DIR]   (default build-plain)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build-plain}" && pwd)
log=$(mktemp "${TMPDIR:-/tmp}/bench_smoke.$$.XXXXXX")
trap 'rm -f "$log"' EXIT
status=0 count=0
# What the programs make in their working folder (streams, corpora) stays in the build tree.
cd "$build/bench"
for bench in "$build"/bench/bench_*; do
    [ -f "$bench" ] && [ -x "$bench" ] || continue
    count=$((count + 1))
    start=$(date +%s%N)
    ORBEL_BENCH_QUICK=1 "$bench" --benchmark_min_time=0 >"$log" 2>&1
    rc=$?
    secs=$(( ($(date +%s%N) - start) / 1000000 ))
    errors=$(grep 'ERROR OCCURRED' "$log" | grep -v "set ORBEL_" || true)
    if [ "$rc" -ne 0 ] || [ -n "$errors" ]; then
        echo "FAIL $(basename "$bench") (exit $rc, ${secs} ms)"
        tail -n 20 "$log"
        status=1
    else
        echo "ok   $(basename "$bench") (${secs} ms)"
    fi
done
if [ "$count" -eq 0 ]; then
    echo "no benchmark programs under $build/bench"
    exit 1
fi
exit "$status"
