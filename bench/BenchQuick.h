// The smallest form of every benchmark, for CI (bench/run_smoke.sh): ORBEL_BENCH_QUICK=1
// asks for one iteration per case and the least set-up a case allows; no figure of that
// form means anything.
#pragma once

#include <cstdlib>
#include <cstring>

inline bool benchQuick()
{
    const char* q = std::getenv("ORBEL_BENCH_QUICK");
    return q && *q && std::strcmp(q, "0") != 0;
}

// A case's minimum time, or (quick) one small enough that its first iteration ends it.
inline double benchMinTime(double seconds) { return benchQuick() ? 1e-9 : seconds; }

// Runs of a side-by-side timing: one when quick.
inline int benchRuns(int runs) { return benchQuick() ? 1 : runs; }
