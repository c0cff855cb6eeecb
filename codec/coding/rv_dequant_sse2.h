// Vector forms of the dequantisation of block rows (16-bit ones: counts a multiple of 8),
// giving exactly the portable conversions' values; chosen by rv_dequantizer::convert.
#pragma once

#include <cstdint>

// Whether this build carries the vector forms.
bool rv_dequant_sse2_built();
// Reversible: magnitude >> shift with the sign, saturated to 16 bits.
void rv_dequant_rev16_sse2(const std::uint32_t* sp, std::int16_t* dp, int n, int shift);
// Irreversible: the signed magnitude times `scale` in single precision, rounded to the
// nearest (ties to even) and saturated to 16 bits.
void rv_dequant_irr16_sse2(const std::uint32_t* sp, std::int16_t* dp, int n, float scale);
// Irreversible on 32-bit lines: the signed magnitude times `scale` in single precision,
// any count.
void rv_dequant_irr32_sse2(const std::uint32_t* sp, float* dp, int n, float scale);
// The same, 8 or 16 samples at a time, for AVX2 and AVX-512 processors; false when this
// build has no such form.
bool rv_dequant_irr32_avx2(const std::uint32_t* sp, float* dp, int n, float scale);
bool rv_dequant_irr32_avx512(const std::uint32_t* sp, float* dp, int n, float scale);
