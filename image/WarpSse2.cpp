// The SSE2 family of nearest and linear kernels: source positions in double precision, x and
// y in one register; 8-bit bilinear values in 14-bit fixed point through packed 16-bit
// multiply-adds. The SSE3 and SSSE3 tables hold these same kernels.
#include "image/WarpSimdRows.h"

#include <emmintrin.h>

namespace {

using warp_simd::Format;

struct Sse2Walk {
    __m128d base, rowStep, pixStep, limit;
    __m128i limitIndex;

    Sse2Walk(const double* c, int firstRow, int xmax, int ymax)
    {
        base = _mm_set_pd(firstRow * c[4] + c[5], firstRow * c[1] + c[2]);
        rowStep = _mm_set_pd(c[4], c[1]);
        pixStep = _mm_set_pd(c[3], c[0]);
        limit = _mm_set_pd(ymax, xmax);
        limitIndex = _mm_set_epi32(0, 0, ymax, xmax);
    }
    __m128d start(int x0) const { return _mm_add_pd(_mm_mul_pd(_mm_set1_pd(x0), pixStep), base); }
    __m128d startNearest(int x0) const { return _mm_add_pd(start(x0), _mm_set1_pd(0.5)); }
    __m128d next(__m128d p) const { return _mm_add_pd(p, pixStep); }
    void nextRow() { base = _mm_add_pd(base, rowStep); }
    static void finish() {}

    // Truncation of a position held to [0, max] equals the truncated index held to [0, max].
    __m128i clampedIndex(__m128d p) const
    {
        return _mm_cvttpd_epi32(_mm_min_pd(_mm_max_pd(p, _mm_setzero_pd()), limit));
    }
    static void split(__m128i v, int& a, int& b)
    {
        const uint64_t q = static_cast<uint64_t>(_mm_cvtsi128_si64(v));
        a = static_cast<int32_t>(q);
        b = static_cast<int32_t>(q >> 32);
    }
    void nearest(__m128d p, int& i, int& j) const { split(clampedIndex(p), i, j); }

    // Index at the last column or row steps back one; the fraction from it, held to [0, 1].
    __m128d fraction(__m128d p, __m128i& index) const
    {
        index = clampedIndex(p);
        index = _mm_add_epi32(index, _mm_cmpeq_epi32(index, limitIndex));
        const __m128d f = _mm_sub_pd(p, _mm_cvtepi32_pd(index));
        return _mm_min_pd(_mm_max_pd(f, _mm_setzero_pd()), _mm_set1_pd(1.0));
    }

    // (Wx0, Wx1) and (Wy0, Wy1) as int16 pairs in every 32-bit lane.
    struct Weights {
        __m128i x, y;
    };
    void linear8(__m128d p, int& i, int& j, Weights& w) const
    {
        __m128i index;
        const __m128d f = fraction(p, index);
        const __m128i upper = _mm_cvtpd_epi32(_mm_mul_pd(f, _mm_set1_pd(16384.0)));
        const __m128i lower = _mm_sub_epi32(_mm_set1_epi32(16384), upper);
        const __m128i pairs = _mm_packs_epi32(_mm_unpacklo_epi32(lower, upper), _mm_setzero_si128());
        w.x = _mm_shuffle_epi32(pairs, 0x00);
        w.y = _mm_shuffle_epi32(pairs, 0x55);
        split(index, i, j);
    }
    void linearFloat(__m128d p, int& i, int& j, float& fx, float& fy) const
    {
        __m128i index;
        const __m128 f = _mm_cvtpd_ps(fraction(p, index));
        fx = _mm_cvtss_f32(f);
        fy = _mm_cvtss_f32(_mm_shuffle_ps(f, f, 1));
        split(index, i, j);
    }

    // Samples of row 0 and row 1 (Row8 order) to (left, right) int16 pairs per channel.
    template <class F>
    static __m128i pairs(uint64_t row)
    {
        const __m128i a = _mm_unpacklo_epi8(_mm_cvtsi64_si128(static_cast<long long>(row)), _mm_setzero_si128());
        if constexpr (F::planar || F::stride == 1)
            return a;
        else if constexpr (F::stride == 3)
            return _mm_unpacklo_epi16(a, _mm_srli_si128(a, 6));
        else
            return _mm_unpacklo_epi16(a, _mm_srli_si128(a, 8));
    }
    template <class F>
    static uint32_t blend8(uint64_t row0, uint64_t row1, const Weights& w)
    {
        const __m128i top = _mm_srai_epi32(_mm_madd_epi16(pairs<F>(row0), w.x), 8);
        const __m128i bottom = _mm_srai_epi32(_mm_madd_epi16(pairs<F>(row1), w.x), 8);
        const __m128i tb = _mm_packs_epi32(top, bottom);
        const __m128i vertical = _mm_unpacklo_epi16(tb, _mm_srli_si128(tb, 8));
        const __m128i r =
            _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(vertical, w.y), _mm_set1_epi32(0x80000)), 20);
        const __m128i r16 = _mm_packs_epi32(r, r);
        return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(r16, r16)));
    }
};

} // namespace

#define WARP_SSE2_FAMILY_DEF(name, T, C, S, P)                                                                   \
    void warp_sse2_nearest_##name(const void* src, void* dst, int srcStep, int dstStep, int firstRow,           \
                                  int lastRow, const int32_t* spans, const double* inv, int xmax, int ymax,      \
                                  const void* aux)                                                               \
    {                                                                                                            \
        warp_simd::warp_row_nearest_simd<Sse2Walk, Format<T, C, S, P>>(src, dst, srcStep, dstStep, firstRow,     \
                                                                       lastRow, spans, inv, xmax, ymax, aux);    \
    }                                                                                                            \
    void warp_sse2_linear_##name(const void* src, void* dst, int srcStep, int dstStep, int firstRow,            \
                                 int lastRow, const int32_t* spans, const double* inv, int xmax, int ymax,       \
                                 const void* aux)                                                                \
    {                                                                                                            \
        warp_simd::warp_row_linear_simd<Sse2Walk, Format<T, C, S, P>>(src, dst, srcStep, dstStep, firstRow,      \
                                                                      lastRow, spans, inv, xmax, ymax, aux);     \
    }
WARP_SIMD_FORMATS(WARP_SSE2_FAMILY_DEF)

const warp_kernel_table warp_sse2_kernels = {WARP_SIMD_FORMATS(WARP_SSE2_FAMILY_SLOTS)};

WARP_VARIANT_DEFINE(sse2, warp_sse2_kernels)
