// Dequantisation of irreversible block rows onto 32-bit float lines on AVX2 and AVX-512
// processors: the same conversions as the portable form.
#include "codec/coding/rv_dequant_sse2.h"

#include "codec/core/rvd_processor.h"

#ifdef RVD_WIDE_FORMS
#include <immintrin.h>

RVD_WIDE_FORMS_BEGIN

RVD_TARGET_AVX2 bool rv_dequant_irr32_avx2(const std::uint32_t* sp, float* dp, int n, float scale)
{
    const __m256i mask = _mm256_set1_epi32(0x7FFFFFFF);
    const __m256 s = _mm256_set1_ps(scale);
    int j = 0;
    for (; j + 8 <= n; j += 8) {
        __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sp + j));
        // Sign-magnitude to two's complement: (magnitude ^ s) - s, s all ones when negative.
        __m256i sign = _mm256_srai_epi32(w, 31);
        __m256i v = _mm256_sub_epi32(_mm256_xor_si256(_mm256_and_si256(w, mask), sign), sign);
        _mm256_storeu_ps(dp + j, _mm256_mul_ps(_mm256_cvtepi32_ps(v), s));
    }
    for (; j < n; j++) {
        std::int32_t v = std::int32_t(sp[j] & 0x7FFFFFFFu);
        dp[j] = float((sp[j] & 0x80000000u) ? -v : v) * scale;
    }
    return true;
}

RVD_TARGET_AVX512 bool rv_dequant_irr32_avx512(const std::uint32_t* sp, float* dp, int n,
                                               float scale)
{
    const __m512i mask = _mm512_set1_epi32(0x7FFFFFFF);
    const __m512 s = _mm512_set1_ps(scale);
    for (int j = 0; j < n; j += 16) {
        // The last samples under a mask: lanes beyond n are neither read nor written.
        const __mmask16 m = n - j >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << (n - j)) - 1u);
        __m512i w = _mm512_maskz_loadu_epi32(m, sp + j);
        __m512i sign = _mm512_srai_epi32(w, 31);
        __m512i v = _mm512_sub_epi32(_mm512_xor_si512(_mm512_and_si512(w, mask), sign), sign);
        _mm512_mask_storeu_ps(dp + j, m, _mm512_mul_ps(_mm512_cvtepi32_ps(v), s));
    }
    return true;
}

RVD_WIDE_FORMS_END

#else

bool rv_dequant_irr32_avx2(const std::uint32_t*, float*, int, float) { return false; }
bool rv_dequant_irr32_avx512(const std::uint32_t*, float*, int, float) { return false; }

#endif
