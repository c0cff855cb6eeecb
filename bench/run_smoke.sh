#!/usr/bin/env bash
# Runs every benchmark program of a build once in its smallest form (one iteration per
# case: --benchmark_min_time=0 and ORBEL_BENCH_QUICK=1), so that a benchmark which
# crashes, exits non-zero or reports an error fails here. No time is judged. A case
# skipped for want of an outside input ("set ORBEL_...") is not an error.
#
# Each program also runs with a temporary folder of its own as TMPDIR, which must be
# empty again when it ends: a benchmark that leaves a temporary folder behind fails too
# (named with what it left), instead of filling the machine's one run after run.
#
# run_smoke.sh [BUILD_DIR]   (default build-plain)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build-plain}" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/bench_smoke.$$.XXXXXX") || exit 1
trap 'rm -rf "$scratch"' EXIT
log="$scratch/log"
tmp="$scratch/tmp"
status=0 count=0
# What the programs make in their working folder (streams, corpora) stays in the build tree.
cd "$build/bench"
for bench in "$build"/bench/bench_*; do
    [ -f "$bench" ] && [ -x "$bench" ] || continue
    count=$((count + 1))
    rm -rf "$tmp" && mkdir "$tmp"
    start=$(date +%s%N)
    TMPDIR="$tmp" ORBEL_BENCH_QUICK=1 "$bench" --benchmark_min_time=0 >"$log" 2>&1
    rc=$?
    secs=$(( ($(date +%s%N) - start) / 1000000 ))
    errors=$(grep 'ERROR OCCURRED' "$log" | grep -v "set ORBEL_" || true)
    left=$(ls -A "$tmp")
    if [ "$rc" -ne 0 ] || [ -n "$errors" ]; then
        echo "FAIL $(basename "$bench") (exit $rc, ${secs} ms)"
        tail -n 20 "$log"
        status=1
    elif [ -z "$left" ]; then
        echo "ok   $(basename "$bench") (${secs} ms)"
    fi
    # A failed run must clean up as well.
    if [ -n "$left" ]; then
        echo "FAIL $(basename "$bench") left in its temporary folder:" $left
        status=1
    fi
done
if [ "$count" -eq 0 ]; then
    echo "no benchmark programs under $build/bench"
    exit 1
fi
exit "$status"
