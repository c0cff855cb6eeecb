// The inverse irreversible colour transform of float lines on AVX2 and AVX-512 processors:
// the portable form's operations in the same order per pixel.
#include "codec/coding/rvd_colour.h"

#include "codec/core/rvd_processor.h"

#ifdef RVD_WIDE_FORMS
#include <immintrin.h>

RVD_WIDE_FORMS_BEGIN

using namespace rv_ict;

RVD_TARGET_AVX2 bool rv_ict_inverse_float_avx2(float* x, float* y, float* z, int n)
{
    const __m256 rcr = _mm256_set1_ps(red_cr), gcr = _mm256_set1_ps(green_cr);
    const __m256 gcb = _mm256_set1_ps(green_cb), bcb = _mm256_set1_ps(blue_cb);
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256 lum = _mm256_loadu_ps(x + i), cb = _mm256_loadu_ps(y + i), cr = _mm256_loadu_ps(z + i);
        _mm256_storeu_ps(x + i, _mm256_add_ps(lum, _mm256_mul_ps(rcr, cr)));
        _mm256_storeu_ps(y + i, _mm256_sub_ps(_mm256_sub_ps(lum, _mm256_mul_ps(gcr, cr)), _mm256_mul_ps(gcb, cb)));
        _mm256_storeu_ps(z + i, _mm256_add_ps(lum, _mm256_mul_ps(bcb, cb)));
    }
    inverse_float_pixels(x, y, z, i, n);
    return true;
}

RVD_TARGET_AVX512 bool rv_ict_inverse_float_avx512(float* x, float* y, float* z, int n)
{
    const __m512 rcr = _mm512_set1_ps(red_cr), gcr = _mm512_set1_ps(green_cr);
    const __m512 gcb = _mm512_set1_ps(green_cb), bcb = _mm512_set1_ps(blue_cb);
    for (int i = 0; i < n; i += 16) {
        // The last pixels under a mask: lanes beyond n are neither read nor written.
        const __mmask16 m = n - i >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << (n - i)) - 1u);
        const __m512 lum = _mm512_maskz_loadu_ps(m, x + i), cb = _mm512_maskz_loadu_ps(m, y + i),
                     cr = _mm512_maskz_loadu_ps(m, z + i);
        _mm512_mask_storeu_ps(x + i, m, _mm512_add_ps(lum, _mm512_mul_ps(rcr, cr)));
        _mm512_mask_storeu_ps(y + i, m,
                              _mm512_sub_ps(_mm512_sub_ps(lum, _mm512_mul_ps(gcr, cr)), _mm512_mul_ps(gcb, cb)));
        _mm512_mask_storeu_ps(z + i, m, _mm512_add_ps(lum, _mm512_mul_ps(bcb, cb)));
    }
    return true;
}

RVD_WIDE_FORMS_END

#else

bool rv_ict_inverse_float_avx2(float*, float*, float*, int) { return false; }
bool rv_ict_inverse_float_avx512(float*, float*, float*, int) { return false; }

#endif
