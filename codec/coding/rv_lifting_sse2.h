// Vector form of the symmetric two-tap floating-point lifting step, y[n] -= k (a[n] + b[n]),
// with the same single-precision operations in the same order per sample (so the same
// values); chosen by rv_lift_floats on processors with SSE2. Returns false when this build
// has no vector form.
#pragma once

bool rv_lift_floats_sym2_sse2(float* y, const float* a, const float* b, float k, int count);
