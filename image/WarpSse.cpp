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
    __m128 base, rowStep, pixStep, limit, limitPair;
    __m64 limitIndex;
    int xmax, ymax;
    bool exact;      // both limits exact in single precision: four pixels need no integer bound
    bool fixedPoint; // positions x 16384 fit 32 bits

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
        limitPair = _mm_movelh_ps(limit, limit);
        limitIndex = _mm_set_pi32(yMax, xMax);
        exact = xMax < (1 << 24) && yMax < (1 << 24);
        fixedPoint = xMax < (1 << 17) && yMax < (1 << 17);
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

    // Truncated indices of four positions, two pixels per register; a and b hold the
    // positions of pixels 0, 1 and 2, 3 as (x, y, x, y).
    void indicesFour(__m128 a, __m128 b, __m64* t) const
    {
        const __m128 zero = _mm_setzero_ps();
        const __m128 ha = _mm_min_ps(_mm_max_ps(a, zero), limitPair);
        const __m128 hb = _mm_min_ps(_mm_max_ps(b, zero), limitPair);
        t[0] = _mm_cvttps_pi32(ha);
        t[1] = _mm_cvttps_pi32(_mm_movehl_ps(ha, ha));
        t[2] = _mm_cvttps_pi32(hb);
        t[3] = _mm_cvttps_pi32(_mm_movehl_ps(hb, hb));
    }
    static void split(__m64 t, int& i, int& j)
    {
        const uint64_t ij = static_cast<uint64_t>(_mm_cvtm64_si64(t));
        i = static_cast<int32_t>(ij);
        j = static_cast<int32_t>(ij >> 32);
    }

    template <class F>
    __m128 nearestFour(__m128 p, const warp_simd::Source<F>& s, const warp_simd::Dest<F>& d, ptrdiff_t X) const
    {
        if (!exact) {
            #pragma GCC unroll 4
            for (int k = 0; k < 4; ++k, p = next(p)) {
                int i, j;
                nearest(p, i, j);
                warp_simd::CopyPixel<F>(s, i, j, d, X + k);
            }
            return p;
        }
        __m128 q[4];
        #pragma GCC unroll 4
        for (int k = 0; k < 4; ++k, p = next(p))
            q[k] = p;
        __m64 t[4];
        indicesFour(_mm_movelh_ps(q[0], q[1]), _mm_movelh_ps(q[2], q[3]), t);
        #pragma GCC unroll 4
        for (int k = 0; k < 4; ++k) {
            int i, j;
            split(t[k], i, j);
            warp_simd::CopyPixel<F>(s, i, j, d, X + k);
        }
        return p;
    }

    // Four pixels: positions one after the other as ever, then indices and fractions of two
    // pixels per register and, for grey, values of two pixels per multiply-add. Returns the
    // position of the next pixel.
    template <class F>
    __m128 linearFour(__m128 p, const warp_simd::Source<F>& s, const warp_simd::Dest<F>& d, ptrdiff_t X) const
    {
        if (!exact) {
            #pragma GCC unroll 4
            for (int k = 0; k < 4; ++k, p = next(p))
                warp_simd::LinearPixel(*this, p, s, d, X + k);
            return p;
        }
        __m128 q[4];
        #pragma GCC unroll 4
        for (int k = 0; k < 4; ++k, p = next(p))
            q[k] = p;
        const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f);
        const __m128 a = _mm_movelh_ps(q[0], q[1]), b = _mm_movelh_ps(q[2], q[3]); // x0 y0 x1 y1, x2 y2 x3 y3
        __m64 t[4];
        int i[4], j[4];
        if constexpr (sizeof(typename F::Sample) == 1) {
            if (fixedPoint) {
                // R = round(held position x 16384) holds index and weight at once, as in the
                // double-precision family: both products are exact in single precision too.
                const __m128 scale = _mm_set1_ps(16384.0f);
                const __m128 sa = _mm_mul_ps(_mm_min_ps(_mm_max_ps(a, zero), limitPair), scale);
                const __m128 sb = _mm_mul_ps(_mm_min_ps(_mm_max_ps(b, zero), limitPair), scale);
                const __m64 r[4] = {_mm_cvtps_pi32(sa), _mm_cvtps_pi32(_mm_movehl_ps(sa, sa)), _mm_cvtps_pi32(sb),
                                    _mm_cvtps_pi32(_mm_movehl_ps(sb, sb))};
                __m64 f[4];
                #pragma GCC unroll 4
                for (int k = 0; k < 4; ++k) {
                    const __m64 index = _mm_srai_pi32(r[k], 14);
                    const __m64 edge = _mm_cmpeq_pi32(index, limitIndex);
                    split(_mm_add_pi32(index, edge), i[k], j[k]);
                    f[k] = _mm_add_pi32(_mm_and_si64(r[k], _mm_set1_pi32(16383)),
                                        _mm_and_si64(edge, _mm_set1_pi32(16384)));
                }
                fourBytes<F>(_mm_packs_pi32(f[0], f[1]), _mm_packs_pi32(f[2], f[3]), i, j, s, d, X);
                return p;
            }
        }
        indicesFour(a, b, t);
        #pragma GCC unroll 4
        for (int k = 0; k < 4; ++k)
            t[k] = _mm_add_pi32(t[k], _mm_cmpeq_pi32(t[k], limitIndex));
        const __m128 fa = _mm_min_ps(_mm_max_ps(_mm_sub_ps(a, _mm_cvtpi32x2_ps(t[0], t[1])), zero), one);
        const __m128 fb = _mm_min_ps(_mm_max_ps(_mm_sub_ps(b, _mm_cvtpi32x2_ps(t[2], t[3])), zero), one);
        #pragma GCC unroll 4
        for (int k = 0; k < 4; ++k)
            split(t[k], i[k], j[k]);
        if constexpr (sizeof(typename F::Sample) == 1) {
            const __m128 scale = _mm_set1_ps(16384.0f);
            const __m128 sa = _mm_mul_ps(fa, scale), sb = _mm_mul_ps(fb, scale);
            fourBytes<F>(_mm_packs_pi32(_mm_cvtps_pi32(sa), _mm_cvtps_pi32(_mm_movehl_ps(sa, sa))),
                         _mm_packs_pi32(_mm_cvtps_pi32(sb), _mm_cvtps_pi32(_mm_movehl_ps(sb, sb))), i, j, s, d, X);
        } else {
            fourFloats<F>(fa, fb, i, j, s, d, X);
        }
        return p;
    }

    template <class F>
    // u01, u23: (Fx, Fy) of pixels 0, 1 and 2, 3 as int16. Then (16384 - F, F): w[k] holds
    // pixel k's x pair in its low 32 bits and its y pair in its high 32 bits.
    static void fourBytes(__m64 u01, __m64 u23, const int* i, const int* j, const warp_simd::Source<F>& s,
                          const warp_simd::Dest<F>& d, ptrdiff_t X)
    {
        const __m64 full = _mm_set1_pi16(16384);
        const __m64 l01 = _mm_sub_pi16(full, u01), l23 = _mm_sub_pi16(full, u23);
        const __m64 w[4] = {_mm_unpacklo_pi16(l01, u01), _mm_unpackhi_pi16(l01, u01), _mm_unpacklo_pi16(l23, u23),
                            _mm_unpackhi_pi16(l23, u23)};
        if constexpr (F::channels == 1 && !F::planar) {
            const __m64 zero = _mm_setzero_si64();
            __m64 r[2];
            #pragma GCC unroll 4
            for (int h = 0; h < 2; ++h) {
                const int A = 2 * h, B = 2 * h + 1;
                const Weights pair = {_mm_unpacklo_pi32(w[A], w[B]), _mm_unpackhi_pi32(w[A], w[B])};
                const uint8_t* pa = s.at(i[A], j[A], 0);
                const uint8_t* pb = s.at(i[B], j[B], 0);
                const __m64 row0 = _mm_unpacklo_pi8(
                    _mm_cvtsi32_si64(static_cast<int>(warp_simd::Load16(pa) | warp_simd::Load16(pb) << 16)), zero);
                const __m64 row1 = _mm_unpacklo_pi8(
                    _mm_cvtsi32_si64(static_cast<int>(warp_simd::Load16(pa + s.step) |
                                                      warp_simd::Load16(pb + s.step) << 16)),
                    zero);
                r[h] = blendTwo(row0, row1, pair);
            }
            const __m64 r16 = _mm_packs_pi32(r[0], r[1]);
            const uint32_t bytes = static_cast<uint32_t>(_mm_cvtsi64_si32(_mm_packs_pu16(r16, r16)));
            std::memcpy(d.at(X, 0), &bytes, 4);
        } else if constexpr (!F::planar && F::stride == 4) {
            // Each pixel's (left, right) samples straight into MMX registers; two pixels leave
            // in one 8-byte store, rgbx putting back the fourth samples it read.
            const __m64 zero = _mm_setzero_si64();
            for (int h = 0; h < 2; ++h) {
                __m64 r[2];
                for (int e = 0; e < 2; ++e) {
                    const int k = 2 * h + e;
                    const Weights pair = {_mm_unpacklo_pi32(w[k], w[k]), _mm_unpackhi_pi32(w[k], w[k])};
                    const char* p = reinterpret_cast<const char*>(s.at(i[k], j[k], 0));
                    __m64 m0, m1;
                    std::memcpy(&m0, p, 8);
                    std::memcpy(&m1, p + s.step, 8);
                    const __m64 l0 = _mm_unpacklo_pi8(m0, zero), r0 = _mm_unpackhi_pi8(m0, zero);
                    const __m64 l1 = _mm_unpacklo_pi8(m1, zero), r1 = _mm_unpackhi_pi8(m1, zero);
                    r[e] = _mm_packs_pi32(blendTwo(_mm_unpacklo_pi16(l0, r0), _mm_unpacklo_pi16(l1, r1), pair),
                                          blendTwo(_mm_unpackhi_pi16(l0, r0), _mm_unpackhi_pi16(l1, r1), pair));
                }
                __m64 out = _mm_packs_pu16(r[0], r[1]);
                char* q = reinterpret_cast<char*>(d.at(X + 2 * h, 0));
                if constexpr (F::channels == 3) {
                    const __m64 keep = _mm_set1_pi32(static_cast<int>(0xFF000000u));
                    __m64 old;
                    std::memcpy(&old, q, 8);
                    out = _mm_or_si64(_mm_andnot_si64(keep, out), _mm_and_si64(keep, old));
                }
                std::memcpy(q, &out, 8);
            }
        } else {
            #pragma GCC unroll 4
            for (int k = 0; k < 4; ++k) {
                const Weights pair = {_mm_unpacklo_pi32(w[k], w[k]), _mm_unpackhi_pi32(w[k], w[k])};
                warp_simd::Store8<F>(d, X + k, blend8<F>(s, i[k], j[k], pair));
            }
        }
    }

    // Two floats from any address, in the low half.
    static __m128 loadTwo(const char* p)
    {
        __m64 v;
        std::memcpy(&v, p, 8);
        return _mm_loadl_pi(_mm_setzero_ps(), &v);
    }

    template <class F>
    static void fourFloats(__m128 fa, __m128 fb, const int* i, const int* j, const warp_simd::Source<F>& s,
                           const warp_simd::Dest<F>& d, ptrdiff_t X)
    {
        using T = typename F::Sample;
        const __m128 fx = _mm_shuffle_ps(fa, fb, _MM_SHUFFLE(2, 0, 2, 0));
        const __m128 fy = _mm_shuffle_ps(fa, fb, _MM_SHUFFLE(3, 1, 3, 1));
        if constexpr (F::channels == 1 && !F::planar) {
            // Samples (left, right) of two pixels per register, one register per row and pair.
            __m128 r0[2], r1[2];
            #pragma GCC unroll 4
            for (int h = 0; h < 2; ++h) {
                const char* a = reinterpret_cast<const char*>(s.at(i[2 * h], j[2 * h], 0));
                const char* b = reinterpret_cast<const char*>(s.at(i[2 * h + 1], j[2 * h + 1], 0));
                if constexpr (sizeof(T) == 4) {
                    r0[h] = _mm_movelh_ps(loadTwo(a), loadTwo(b));
                    r1[h] = _mm_movelh_ps(loadTwo(a + s.step), loadTwo(b + s.step));
                } else {
                    auto word = [](const char* w) { return static_cast<int>(warp_simd::Load32(w)); };
                    r0[h] = _mm_cvtpu16_ps(_mm_set_pi32(word(b), word(a)));
                    r1[h] = _mm_cvtpu16_ps(_mm_set_pi32(word(b + s.step), word(a + s.step)));
                }
            }
            const __m128 p00 = _mm_shuffle_ps(r0[0], r0[1], _MM_SHUFFLE(2, 0, 2, 0));
            const __m128 p01 = _mm_shuffle_ps(r0[0], r0[1], _MM_SHUFFLE(3, 1, 3, 1));
            const __m128 p10 = _mm_shuffle_ps(r1[0], r1[1], _MM_SHUFFLE(2, 0, 2, 0));
            const __m128 p11 = _mm_shuffle_ps(r1[0], r1[1], _MM_SHUFFLE(3, 1, 3, 1));
            const __m128 one = _mm_set1_ps(1.0f);
            if constexpr (sizeof(T) == 4) {
                const __m128 gx = _mm_sub_ps(one, fx); // horizontal first
                const __m128 r = _mm_add_ps(
                    _mm_mul_ps(_mm_add_ps(_mm_mul_ps(p00, gx), _mm_mul_ps(p01, fx)), _mm_sub_ps(one, fy)),
                    _mm_mul_ps(_mm_add_ps(_mm_mul_ps(p10, gx), _mm_mul_ps(p11, fx)), fy));
                _mm_storeu_ps(d.at(X, 0), r);
            } else {
                const __m128 gy = _mm_sub_ps(one, fy); // vertical first
                const __m128 r = _mm_add_ps(
                    _mm_mul_ps(_mm_add_ps(_mm_mul_ps(p00, gy), _mm_mul_ps(p10, fy)), _mm_sub_ps(one, fx)),
                    _mm_mul_ps(_mm_add_ps(_mm_mul_ps(p01, gy), _mm_mul_ps(p11, fy)), fx));
                // Ties to even, then held to 0..65535 by a signed pack around 32768.
                const __m64 bias = _mm_set1_pi32(32768);
                const __m64 lo = _mm_sub_pi32(_mm_cvtps_pi32(r), bias);
                const __m64 hi = _mm_sub_pi32(_mm_cvtps_pi32(_mm_movehl_ps(r, r)), bias);
                const __m64 packed = _mm_xor_si64(_mm_packs_pi32(lo, hi), _mm_set1_pi16(static_cast<short>(0x8000)));
                const long long bits = _mm_cvtm64_si64(packed);
                std::memcpy(d.at(X, 0), &bits, 8);
            }
        } else {
            alignas(16) float xs[4], ys[4];
            _mm_store_ps(xs, fx);
            _mm_store_ps(ys, fy);
            #pragma GCC unroll 4
            for (int k = 0; k < 4; ++k)
                warp_simd::BlendFloat<F>(s, i[k], j[k], xs[k], ys[k], d, X + k);
        }
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
        // The horizontal sums lie in 0..16320: the 16-bit saturation never acts.
        const __m64 vertical = _mm_or_si64(top, _mm_slli_pi32(bottom, 16));
        return _mm_srai_pi32(_mm_add_pi32(_mm_madd_pi16(vertical, w.y), _mm_set1_pi32(0x80000)), 20);
    }
    template <class F>
    static uint32_t blend8(const warp_simd::Source<F>& s, int i, int j, const Weights& w)
    {
        uint64_t row0, row1;
        warp_simd::Rows8<F>(s, i, j, row0, row1);
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

#define WARP_SSE_CUBIC_DECL(name, T, C, S, P) WARP_KERNEL_DECL(warp_sse_cubic_##name)
WARP_SIMD_FORMATS(WARP_SSE_CUBIC_DECL)

#define WARP_SSE_SLOTS(name, T, C, S, P) &warp_sse_nearest_##name, &warp_sse_linear_##name, &warp_sse_cubic_##name,

const warp_kernel_table warp_sse_kernels = {WARP_SIMD_FORMATS(WARP_SSE_SLOTS)};

WARP_VARIANT_DEFINE(sse, warp_sse_kernels)
