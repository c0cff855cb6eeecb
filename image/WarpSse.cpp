// The SSE variant's nearest and linear kernels: MMX and SSE only. Source positions in single
// precision: c0, c1, c3, c4 rounded to float, the first row base formed in double and rounded,
// every later sum a float addition. 8-bit bilinear values in 14-bit fixed point on 64-bit
// integer registers, whose state is cleared before each kernel returns.
#include "image/WarpSimdRows.h"

#include <mmintrin.h>
#include <xmmintrin.h>

namespace {

using warp_simd::Format;

struct SseWalk {
    using Pos = __m128;
    __m128 base, rowStep, pixStep, limit;
    int xmax, ymax;

    SseWalk(const double* c, int firstRow, int xMax, int yMax) : xmax(xMax), ymax(yMax)
    {
        const float c0 = static_cast<float>(c[0]), c1 = static_cast<float>(c[1]);
        const float c3 = static_cast<float>(c[3]), c4 = static_cast<float>(c[4]);
        const float bx = static_cast<float>(firstRow * static_cast<double>(c1) + c[2]);
        const float by = static_cast<float>(firstRow * static_cast<double>(c4) + c[5]);
        base = _mm_set_ps(0.0f, 0.0f, by, bx);
        rowStep = _mm_set_ps(0.0f, 0.0f, c4, c1);
        pixStep = _mm_set_ps(0.0f, 0.0f, c3, c0);
        limit = _mm_set_ps(0.0f, 0.0f, static_cast<float>(yMax), static_cast<float>(xMax));
    }
    __m128 start(int x0) const { return _mm_add_ps(_mm_mul_ps(_mm_set1_ps(static_cast<float>(x0)), pixStep), base); }
    __m128 startNearest(int x0) const { return _mm_add_ps(start(x0), _mm_set1_ps(0.5f)); }
    __m128 next(__m128 p) const { return _mm_add_ps(p, pixStep); }
    void nextRow() { base = _mm_add_ps(base, rowStep); }
    static void finish() { _mm_empty(); }

    // Truncated indices held to the source; the integer bound covers limits that float rounds up.
    void index(__m128 p, int& i, int& j) const
    {
        const __m128 held = _mm_min_ps(_mm_max_ps(p, _mm_setzero_ps()), limit);
        i = std::min(std::max(_mm_cvttss_si32(held), 0), xmax);
        j = std::min(std::max(_mm_cvttss_si32(_mm_shuffle_ps(held, held, 1)), 0), ymax);
    }
    void nearest(__m128 p, int& i, int& j) const { index(p, i, j); }

    // Index at the last column or row steps back one; the fraction from it, held to [0, 1].
    __m128 fraction(__m128 p, int& i, int& j) const
    {
        index(p, i, j);
        i -= i == xmax;
        j -= j == ymax;
        const __m128 f = _mm_sub_ps(p, _mm_set_ps(0.0f, 0.0f, static_cast<float>(j), static_cast<float>(i)));
        return _mm_min_ps(_mm_max_ps(f, _mm_setzero_ps()), _mm_set1_ps(1.0f));
    }

    struct Weights {
        __m64 x, y;
    };
    void linear8(__m128 p, int& i, int& j, Weights& w) const
    {
        const __m128 f = _mm_mul_ps(fraction(p, i, j), _mm_set1_ps(16384.0f));
        const int fx = _mm_cvtss_si32(f);
        const int fy = _mm_cvtss_si32(_mm_shuffle_ps(f, f, 1));
        w.x = _mm_set1_pi32(static_cast<int>(static_cast<uint32_t>(fx) << 16 | static_cast<uint32_t>(16384 - fx)));
        w.y = _mm_set1_pi32(static_cast<int>(static_cast<uint32_t>(fy) << 16 | static_cast<uint32_t>(16384 - fy)));
    }
    void linearFloat(__m128 p, int& i, int& j, float& fx, float& fy) const
    {
        const __m128 f = fraction(p, i, j);
        fx = _mm_cvtss_f32(f);
        fy = _mm_cvtss_f32(_mm_shuffle_ps(f, f, 1));
    }

    // Four pixels one after the other; returns the position of the next.
    template <class F>
    __m128 linearFour(__m128 p, const warp_simd::Source<F>& s, const warp_simd::Dest<F>& d, ptrdiff_t X) const
    {
        for (int k = 0; k < 4; ++k, p = next(p))
            warp_simd::LinearPixel(*this, p, s, d, X + k);
        return p;
    }

    // One row's samples (Row8 order) to (left, right) int16 pairs: channels 0, 1 and 2, 3.
    template <class F>
    static void pairs(uint64_t row, __m64& lo, __m64& hi)
    {
        const __m64 m = _mm_cvtsi64_m64(static_cast<long long>(row));
        const __m64 zero = _mm_setzero_si64();
        if constexpr (F::planar || F::stride == 1) {
            lo = _mm_unpacklo_pi8(m, zero);
            hi = _mm_unpackhi_pi8(m, zero);
        } else {
            const __m64 left = _mm_unpacklo_pi8(m, zero);
            const __m64 right = F::stride == 3 ? _mm_unpacklo_pi8(_mm_srli_si64(m, 24), zero)
                                               : _mm_unpackhi_pi8(m, zero);
            lo = _mm_unpacklo_pi16(left, right);
            hi = _mm_unpackhi_pi16(left, right);
        }
    }
    // Two channels: horizontal sums of both rows, then the vertical sum.
    static __m64 blendTwo(__m64 row0, __m64 row1, const Weights& w)
    {
        const __m64 top = _mm_srai_pi32(_mm_madd_pi16(row0, w.x), 8);
        const __m64 bottom = _mm_srai_pi32(_mm_madd_pi16(row1, w.x), 8);
        const __m64 vertical = _mm_shuffle_pi16(_mm_packs_pi32(top, bottom), _MM_SHUFFLE(3, 1, 2, 0));
        return _mm_srai_pi32(_mm_add_pi32(_mm_madd_pi16(vertical, w.y), _mm_set1_pi32(0x80000)), 20);
    }
    template <class F>
    static uint32_t blend8(uint64_t row0, uint64_t row1, const Weights& w)
    {
        __m64 lo0, hi0, lo1, hi1;
        pairs<F>(row0, lo0, hi0);
        pairs<F>(row1, lo1, hi1);
        const __m64 lo = blendTwo(lo0, lo1, w);
        const __m64 hi = F::channels > 2 ? blendTwo(hi0, hi1, w) : _mm_setzero_si64();
        const __m64 r16 = _mm_packs_pi32(lo, hi);
        return static_cast<uint32_t>(_mm_cvtsi64_si32(_mm_packs_pu16(r16, r16)));
    }
};

} // namespace

#define WARP_SSE_KERNEL_DEF(name, T, C, S, P)                                                                   \
    void warp_sse_nearest_##name(const void* src, void* dst, int srcStep, int dstStep, int firstRow,           \
                                 int lastRow, const int32_t* spans, const double* inv, int xmax, int ymax,      \
                                 const void* aux)                                                               \
    {                                                                                                           \
        warp_simd::warp_row_nearest_simd<SseWalk, Format<T, C, S, P>>(src, dst, srcStep, dstStep, firstRow,     \
                                                                      lastRow, spans, inv, xmax, ymax, aux);    \
    }                                                                                                           \
    void warp_sse_linear_##name(const void* src, void* dst, int srcStep, int dstStep, int firstRow,            \
                                int lastRow, const int32_t* spans, const double* inv, int xmax, int ymax,       \
                                const void* aux)                                                                \
    {                                                                                                           \
        warp_simd::warp_row_linear_simd<SseWalk, Format<T, C, S, P>>(src, dst, srcStep, dstStep, firstRow,      \
                                                                     lastRow, spans, inv, xmax, ymax, aux);     \
    }
namespace {
WARP_SIMD_FORMATS(WARP_SSE_KERNEL_DEF)
} // namespace

#define WARP_SSE_SLOTS(name, T, C, S, P) &warp_sse_nearest_##name, &warp_sse_linear_##name, &warp_row_cubic_##name,

const warp_kernel_table warp_sse_kernels = {WARP_SIMD_FORMATS(WARP_SSE_SLOTS)};

WARP_VARIANT_DEFINE(sse, warp_sse_kernels)
