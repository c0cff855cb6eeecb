#include "tools/decode/float_line_conversion.h"

#include "codec/core/rvd_processor.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

void float_line_conversion::convert(const float* sp, int width, std::int32_t* out) const
{
    if (rvd_mmx_level >= 2 &&
        ((rvd_avx_level >= 2 && convert_float_line_avx512(*this, sp, width, out)) ||
         (rvd_avx_level >= 1 && convert_float_line_avx2(*this, sp, width, out))))
        return;
    // Clipped as floating point first: a corrupt stream may give values whose conversion
    // to an integer would overflow. floor is monotonic and the bounds are whole, so
    // clipping first gives the same value and keeps the truncating conversion, corrected
    // downwards for negative fractions, in range.
    int i = 0;
#ifdef __SSE2__
    if (rvd_mmx_level >= 2) {
        const __m128d vs = _mm_set1_pd(scale), half = _mm_set1_pd(0.5);
        const __m128d vlo = _mm_set1_pd(flo), vhi = _mm_set1_pd(fhi);
        const __m128i off = _mm_set1_epi32(offset);
        for (; i + 2 <= width; i += 2) {
            __m128 f = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(sp + i)));
            __m128d v = _mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(f), vs), half);
            v = _mm_min_pd(_mm_max_pd(v, vlo), vhi); // a NaN takes the low bound
            __m128i t = _mm_cvttpd_epi32(v);
            __m128d above = _mm_cmpgt_pd(_mm_cvtepi32_pd(t), v);
            t = _mm_add_epi32(t, _mm_shuffle_epi32(_mm_castpd_si128(above), 0x08));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_add_epi32(t, off));
        }
    }
#endif
    convert_from(i, sp, width, out);
}

void float_line_conversion::convert_from(int i, const float* sp, int width, std::int32_t* out) const
{
    for (; i < width; i++) {
        double v = double(sp[i]) * scale + 0.5;
        v = v >= flo ? v : flo; // also catches NaN
        v = v <= fhi ? v : fhi;
        std::int64_t t = std::int64_t(v);
        t -= double(t) > v ? 1 : 0;
        out[i] = std::int32_t(t + offset);
    }
}
