// Vector forms of the forward wavelet's line work: two-tap lifting steps on 16-bit lines
// (the exact W9X7 form, and taps of +1 or -1) and on 32-bit lines (reversible taps of +1
// or -1, irreversible float taps), and splitting an interleaved line into its even and
// odd samples. Each gives the plain routine's results bit for bit; each returns false,
// having done nothing, when the processor level is below SSE2 (rvd_mmx_level 2), the build
// has no SSE2, or the step is not one it serves, and the caller runs the plain routine.
// The vertical steps go through the same lifting forms, over whole lines.
#pragma once

#include "codec/coding/rv_lifting_step.h"

#include <cstdint>

// out[n] = in[n] + update(src[0][n], src[1][n]) for n0 <= n < n1, as the plain 16-bit
// routine: the W9X7 form for the W9X7 kernel's steps, (a + b + offset) >> shift and
// (offset - a - b) >> shift for taps of +1 and -1 (shifts up to 14). `out` may be `in`.
bool rv_analysis_lift16_sse2(const rv_lifting_step& step, const std::int16_t* const* src,
                             const std::int16_t* in, std::int16_t* out, int n0, int n1);
// The same on 32-bit lines: reversible taps of +1 or -1 (shifts up to 30), or any two
// irreversible taps (0 + c0 a + c1 b, then added, in single precision).
bool rv_analysis_lift32_sse2(const rv_lifting_step& step, const rvd_sample32* const* src,
                             const rvd_sample32* in, rvd_sample32* out, int n0, int n1);

// Even columns of `n` samples starting at column x0 to `low`, odd ones to `high`; 16-bit
// samples are shifted down by `shift` (0 to 15) with rounding, (v + 2^(shift-1)) >> shift.
bool rv_split_line16_sse2(const std::int16_t* in, int n, int x0, std::int16_t* low,
                          std::int16_t* high, int shift);
bool rv_split_line32_sse2(const std::int32_t* in, int n, int x0, std::int32_t* low,
                          std::int32_t* high);
