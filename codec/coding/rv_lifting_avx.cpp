// The symmetric two-tap floating-point lifting step and the interleaving of 32-bit halves on
// AVX2 and AVX-512 processors.
#include "codec/coding/rv_lifting_sse2.h"

#include "codec/core/rvd_processor.h"

#ifdef RVD_WIDE_FORMS
#include <immintrin.h>

#include <cstdint>

RVD_WIDE_FORMS_BEGIN

RVD_TARGET_AVX2 bool rv_lift_floats_sym2_avx2(float* y, const float* a, const float* b, float k,
                                              int count)
{
    const __m256 vk = _mm256_set1_ps(k);
    int n = 0;
    for (; n + 8 <= count; n += 8) {
        __m256 sum = _mm256_add_ps(_mm256_loadu_ps(a + n), _mm256_loadu_ps(b + n));
        _mm256_storeu_ps(y + n, _mm256_sub_ps(_mm256_loadu_ps(y + n), _mm256_mul_ps(vk, sum)));
    }
    for (; n < count; n++)
        y[n] -= k * (a[n] + b[n]);
    return true;
}

RVD_TARGET_AVX512 bool rv_lift_floats_sym2_avx512(float* y, const float* a, const float* b,
                                                  float k, int count)
{
    const __m512 vk = _mm512_set1_ps(k);
    int n = 0;
    for (; n + 16 <= count; n += 16) {
        __m512 sum = _mm512_add_ps(_mm512_loadu_ps(a + n), _mm512_loadu_ps(b + n));
        _mm512_storeu_ps(y + n, _mm512_sub_ps(_mm512_loadu_ps(y + n), _mm512_mul_ps(vk, sum)));
    }
    if (n < count) {
        // The last samples under a mask: lanes beyond the count are neither read nor written.
        const __mmask16 m = __mmask16((1u << (count - n)) - 1u);
        __m512 sum = _mm512_add_ps(_mm512_maskz_loadu_ps(m, a + n), _mm512_maskz_loadu_ps(m, b + n));
        _mm512_mask_storeu_ps(y + n, m,
                              _mm512_sub_ps(_mm512_maskz_loadu_ps(m, y + n), _mm512_mul_ps(vk, sum)));
    }
    return true;
}

RVD_TARGET_AVX2 bool rv_interleave32_avx2(const void* low, const void* high, int pairs, void* out)
{
    const float* l = static_cast<const float*>(low);
    const float* h = static_cast<const float*>(high);
    float* o = static_cast<float*>(out);
    int j = 0;
    for (; j + 8 <= pairs; j += 8) {
        __m256 a = _mm256_loadu_ps(l + j), b = _mm256_loadu_ps(h + j);
        __m256 lo = _mm256_unpacklo_ps(a, b); // l0 h0 l1 h1 | l4 h4 l5 h5
        __m256 hi = _mm256_unpackhi_ps(a, b); // l2 h2 l3 h3 | l6 h6 l7 h7
        _mm256_storeu_ps(o + 2 * j, _mm256_permute2f128_ps(lo, hi, 0x20));
        _mm256_storeu_ps(o + 2 * j + 8, _mm256_permute2f128_ps(lo, hi, 0x31));
    }
    for (; j < pairs; j++) {
        o[2 * j] = l[j];
        o[2 * j + 1] = h[j];
    }
    return true;
}

RVD_TARGET_AVX512 bool rv_interleave32_avx512(const void* low, const void* high, int pairs, void* out)
{
    const std::int32_t* l = static_cast<const std::int32_t*>(low);
    const std::int32_t* h = static_cast<const std::int32_t*>(high);
    std::int32_t* o = static_cast<std::int32_t*>(out);
    // Lanes 0-15 pick from the low half, 16-31 from the high one.
    const __m512i first = _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
    const __m512i second = _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
    int j = 0;
    for (; j + 16 <= pairs; j += 16) {
        __m512i a = _mm512_loadu_si512(l + j), b = _mm512_loadu_si512(h + j);
        _mm512_storeu_si512(o + 2 * j, _mm512_permutex2var_epi32(a, first, b));
        _mm512_storeu_si512(o + 2 * j + 16, _mm512_permutex2var_epi32(a, second, b));
    }
    for (; j < pairs; j++) {
        o[2 * j] = l[j];
        o[2 * j + 1] = h[j];
    }
    return true;
}

RVD_WIDE_FORMS_END

#else

bool rv_lift_floats_sym2_avx2(float*, const float*, const float*, float, int) { return false; }
bool rv_lift_floats_sym2_avx512(float*, const float*, const float*, float, int) { return false; }
bool rv_interleave32_avx2(const void*, const void*, int, void*) { return false; }
bool rv_interleave32_avx512(const void*, const void*, int, void*) { return false; }

#endif
