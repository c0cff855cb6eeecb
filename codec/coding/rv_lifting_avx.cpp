// The symmetric two-tap floating-point lifting step on AVX2 and AVX-512 processors.
#include "codec/coding/rv_lifting_sse2.h"

#include "codec/core/rvd_processor.h"

#ifdef RVD_WIDE_FORMS
#include <immintrin.h>

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

RVD_WIDE_FORMS_END

#else

bool rv_lift_floats_sym2_avx2(float*, const float*, const float*, float, int) { return false; }
bool rv_lift_floats_sym2_avx512(float*, const float*, const float*, float, int) { return false; }

#endif
