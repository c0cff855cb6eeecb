// Vector forms of the symmetric two-tap floating-point lifting step, y[n] -= k (a[n] + b[n]),
// with the same single-precision operations in the same order per sample (so the same
// values), 4, 8 or 16 samples at a time; chosen by rv_lift_floats from the processor
// words. Each returns false when this build has no such form.
#pragma once

bool rv_lift_floats_sym2_sse2(float* y, const float* a, const float* b, float k, int count);
bool rv_lift_floats_sym2_avx2(float* y, const float* a, const float* b, float k, int count);
bool rv_lift_floats_sym2_avx512(float* y, const float* a, const float* b, float k, int count);

// Interleaves `pairs` 32-bit samples (floats or integers, copied as bits) of a low and a
// high half into out: low[0], high[0], low[1], ...; false when this build has no such form.
bool rv_interleave32_avx2(const void* low, const void* high, int pairs, void* out);
bool rv_interleave32_avx512(const void* low, const void* high, int pairs, void* out);
