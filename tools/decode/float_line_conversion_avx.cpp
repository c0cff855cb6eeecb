// The conversion of floating-point lines to output samples on AVX2 and AVX-512 processors:
// the portable form's double-precision steps, 4 or 8 samples at a time.
#include "tools/decode/float_line_conversion.h"

#include "codec/core/rvd_processor.h"

#ifdef RVD_WIDE_FORMS
#include <immintrin.h>

RVD_WIDE_FORMS_BEGIN

RVD_TARGET_AVX2 bool convert_float_line_avx2(const float_line_conversion& c, const float* sp, int width,
                                             std::int32_t* out)
{
    const __m256d vs = _mm256_set1_pd(c.scale), half = _mm256_set1_pd(0.5);
    const __m256d vlo = _mm256_set1_pd(c.flo), vhi = _mm256_set1_pd(c.fhi);
    const __m128i off = _mm_set1_epi32(c.offset);
    // The low halves of the comparison's four 64-bit lanes.
    const __m256i low_halves = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
    int i = 0;
    for (; i + 4 <= width; i += 4) {
        __m256d v = _mm256_add_pd(_mm256_mul_pd(_mm256_cvtps_pd(_mm_loadu_ps(sp + i)), vs), half);
        v = _mm256_min_pd(_mm256_max_pd(v, vlo), vhi); // a NaN takes the low bound
        __m128i t = _mm256_cvttpd_epi32(v);
        // All ones (-1) where the truncation went up: a negative fraction.
        __m256d above = _mm256_cmp_pd(_mm256_cvtepi32_pd(t), v, _CMP_GT_OQ);
        __m128i fix = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(_mm256_castpd_si256(above), low_halves));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_add_epi32(_mm_add_epi32(t, fix), off));
    }
    c.convert_from(i, sp, width, out);
    return true;
}

RVD_TARGET_AVX512 bool convert_float_line_avx512(const float_line_conversion& c, const float* sp, int width,
                                                 std::int32_t* out)
{
    const __m512d vs = _mm512_set1_pd(c.scale), half = _mm512_set1_pd(0.5);
    const __m512d vlo = _mm512_set1_pd(c.flo), vhi = _mm512_set1_pd(c.fhi);
    const __m256i off = _mm256_set1_epi32(c.offset), one = _mm256_set1_epi32(1);
    for (int i = 0; i < width; i += 8) {
        // The last samples under a mask: lanes beyond the width are neither read nor written.
        const __mmask8 m = width - i >= 8 ? __mmask8(0xFF) : __mmask8((1u << (width - i)) - 1u);
        __m512d v = _mm512_add_pd(_mm512_mul_pd(_mm512_cvtps_pd(_mm256_maskz_loadu_ps(m, sp + i)), vs), half);
        v = _mm512_min_pd(_mm512_max_pd(v, vlo), vhi); // a NaN takes the low bound
        __m256i t = _mm512_cvttpd_epi32(v);
        // One less where the truncation went up: a negative fraction.
        __mmask8 above = _mm512_cmp_pd_mask(_mm512_cvtepi32_pd(t), v, _CMP_GT_OQ);
        t = _mm256_mask_sub_epi32(t, above, t, one);
        _mm256_mask_storeu_epi32(out + i, m, _mm256_add_epi32(t, off));
    }
    return true;
}

RVD_WIDE_FORMS_END

#else

bool convert_float_line_avx2(const float_line_conversion&, const float*, int, std::int32_t*) { return false; }
bool convert_float_line_avx512(const float_line_conversion&, const float*, int, std::int32_t*) { return false; }

#endif
