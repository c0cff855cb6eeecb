// Cubic kernels of the SSE variant: MMX and SSE only. 8-bit samples through the fixed-point
// weight table and packed 16-bit multiply-adds on 64-bit registers, 16-bit and float samples
// through single-precision weight polynomials, one lane per window row; integer samples
// reach float through MMX registers. The MMX state is cleared before each kernel returns.
#include "image/WarpSimdRows.h"

#include <mmintrin.h>
#include <xmmintrin.h>

namespace {

using warp_simd::CubicWindow;
using warp_simd::Dest;
using warp_simd::Format;
using warp_simd::Source;

// 8-bit weights of a distance: (w0, w1, w2, w3) as int16; entry k holds (w0, w1), the
// mirrored entry (w3, w2).
__m64 Weights8(int k)
{
    uint32_t a, b;
    std::memcpy(&a, cubic_weight_block.pairs[k], 4);
    std::memcpy(&b, cubic_weight_block.pairs[1536 - k], 4);
    return _mm_set_pi32(static_cast<int>(b >> 16 | b << 16), static_cast<int>(a));
}

// (V + 2^19) >> 20 of two 32-bit sums, for channels in lo and hi, clamped to 0..255.
uint32_t Round8(__m64 lo, __m64 hi)
{
    const __m64 half = _mm_set1_pi32(0x80000);
    const __m64 r16 = _mm_packs_pi32(_mm_srai_pi32(_mm_add_pi32(lo, half), 20), _mm_srai_pi32(_mm_add_pi32(hi, half), 20));
    return static_cast<uint32_t>(_mm_cvtsi64_si32(_mm_packs_pu16(r16, r16)));
}

__m64 Word(const char* p) { return _mm_cvtsi32_si64(static_cast<int>(warp_simd::Load32(p))); }

struct SseCubicSpans {
    static void finish() { _mm_empty(); }

    // One channel of one plane: rows of 4 bytes from p.
    static uint8_t Gray8(const char* p, ptrdiff_t step, __m64 wx, __m64 wy)
    {
        const __m64 zero = _mm_setzero_si64();
        __m64 h[4];
        for (int r = 0; r < 4; ++r) {
            const __m64 sums = _mm_madd_pi16(_mm_unpacklo_pi8(Word(p + r * step), zero), wx);
            h[r] = _mm_srai_pi32(_mm_add_pi32(sums, _mm_srli_si64(sums, 32)), 8);
        }
        const __m64 rows = _mm_packs_pi32(_mm_unpacklo_pi32(h[0], h[1]), _mm_unpacklo_pi32(h[2], h[3]));
        const __m64 v = _mm_madd_pi16(rows, wy);
        return static_cast<uint8_t>(Round8(_mm_add_pi32(v, _mm_srli_si64(v, 32)), _mm_setzero_si64()));
    }

    // Pixels 0, 1 and 2, 3 of one window row as (c0 c1 c2 c3) each; rgb reads no byte past
    // the fourth pixel.
    template <class F>
    static void Row4(const char* p, __m64& p01, __m64& p23)
    {
        if constexpr (F::stride == 4) {
            long long a, b;
            std::memcpy(&a, p, 8);
            std::memcpy(&b, p + 8, 8);
            p01 = _mm_cvtsi64_m64(a);
            p23 = _mm_cvtsi64_m64(b);
        } else {
            p01 = _mm_unpacklo_pi32(Word(p), Word(p + 3));
            p23 = _mm_unpacklo_pi32(Word(p + 6), _mm_srli_pi32(Word(p + 8), 8));
        }
    }

    template <class F>
    static uint32_t Colour8(const char* p, ptrdiff_t step, __m64 wx, __m64 wy)
    {
        const __m64 zero = _mm_setzero_si64();
        const __m64 wx01 = _mm_unpacklo_pi32(wx, wx), wx23 = _mm_unpackhi_pi32(wx, wx);
        const __m64 wy01 = _mm_unpacklo_pi32(wy, wy), wy23 = _mm_unpackhi_pi32(wy, wy);
        __m64 lo[4], hi[4]; // horizontal sums of channels 0, 1 and 2, 3 per row
        for (int r = 0; r < 4; ++r) {
            __m64 p01, p23;
            Row4<F>(p + r * step, p01, p23);
            const __m64 a0 = _mm_unpacklo_pi8(p01, zero), a1 = _mm_unpackhi_pi8(p01, zero);
            const __m64 b0 = _mm_unpacklo_pi8(p23, zero), b1 = _mm_unpackhi_pi8(p23, zero);
            lo[r] = _mm_srai_pi32(_mm_add_pi32(_mm_madd_pi16(_mm_unpacklo_pi16(a0, a1), wx01),
                                               _mm_madd_pi16(_mm_unpacklo_pi16(b0, b1), wx23)),
                                  8);
            hi[r] = _mm_srai_pi32(_mm_add_pi32(_mm_madd_pi16(_mm_unpackhi_pi16(a0, a1), wx01),
                                               _mm_madd_pi16(_mm_unpackhi_pi16(b0, b1), wx23)),
                                  8);
        }
        // Rows r, r + 1 of two channels as (H_r, H_r+1) pairs per channel.
        auto pairs = [](__m64 a, __m64 b) { return _mm_shuffle_pi16(_mm_packs_pi32(a, b), _MM_SHUFFLE(3, 1, 2, 0)); };
        const __m64 vlo = _mm_add_pi32(_mm_madd_pi16(pairs(lo[0], lo[1]), wy01), _mm_madd_pi16(pairs(lo[2], lo[3]), wy23));
        const __m64 vhi = _mm_add_pi32(_mm_madd_pi16(pairs(hi[0], hi[1]), wy01), _mm_madd_pi16(pairs(hi[2], hi[3]), wy23));
        return Round8(vlo, vhi);
    }

    static const char* Ahead(const float* p)
    {
        return reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(p) + 64);
    }

    // Windows of four points at once, as CubicWindow and CubicEntry give them one by one,
    // two lanes per MMX register; bit k of valid is set when point k lies inside. The limits
    // must be exact in single precision: min(truncate(v), max - 2) is then
    // truncate(min(v, max - 2)).
    struct Windows4 {
        int32_t sx[4], sy[4];
        alignas(16) float dx[4], dy[4];
        int16_t kx[4], ky[4];
        int valid;
        void set(const float* xs, const float* ys, int xmax, int ymax)
        {
            const __m128 x = _mm_loadu_ps(xs), y = _mm_loadu_ps(ys), low = _mm_set1_ps(-1.0f);
            const __m128 in = _mm_and_ps(
                _mm_and_ps(_mm_cmpge_ps(x, low), _mm_cmpge_ps(y, low)),
                _mm_and_ps(_mm_cmple_ps(x, _mm_set1_ps(static_cast<float>(xmax + 1))),
                           _mm_cmple_ps(y, _mm_set1_ps(static_cast<float>(ymax + 1)))));
            valid = _mm_movemask_ps(in);
            axis(x, xmax, sx, dx, kx);
            axis(y, ymax, sy, dy, ky);
        }
        static __m64 Start(__m64 i)
        {
            const __m64 zero = _mm_setzero_si64();
            i = _mm_add_pi32(i, _mm_cmpgt_pi32(i, zero));               // one back when above 0
            return _mm_and_si64(i, _mm_cmpgt_pi32(i, _mm_set1_pi32(-1))); // held to 0
        }
        static void axis(__m128 v, int max, int32_t* start, float* dist, int16_t* entry)
        {
            const __m128 m = _mm_min_ps(v, _mm_set1_ps(static_cast<float>(max - 2)));
            const __m64 lo = Start(_mm_cvttps_pi32(m)), hi = Start(_mm_cvttps_pi32(_mm_movehl_ps(m, m)));
            const __m128 d = _mm_sub_ps(v, _mm_cvtpi32x2_ps(lo, hi));
            const __m128 scaled = _mm_mul_ps(d, _mm_set1_ps(512.0f));
            const __m64 k = _mm_packs_pi32(_mm_cvtps_pi32(scaled), _mm_cvtps_pi32(_mm_movehl_ps(scaled, scaled)));
            const __m64 held = _mm_min_pi16(_mm_max_pi16(k, _mm_setzero_si64()), _mm_set1_pi16(1536));
            std::memcpy(start, &lo, 8);
            std::memcpy(start + 2, &hi, 8);
            _mm_store_ps(dist, d);
            std::memcpy(entry, &held, 8);
        }
    };

    template <class F>
    static void span(const Source<F>& s, const Dest<F>& d, ptrdiff_t x0, const float* xs, const float* ys,
                     ptrdiff_t n, int xmax, int ymax)
    {
        // The coordinate arrays are read once, in order: ask for the line 64 bytes ahead (a
        // hint, harmless past the end of the buffer).
        ptrdiff_t i = 0;
        if (xmax < (1 << 24) && ymax < (1 << 24)) {
            for (; i + 4 <= n; i += 4) {
                _mm_prefetch(Ahead(xs + i), _MM_HINT_T0);
                _mm_prefetch(Ahead(ys + i), _MM_HINT_T0);
                Windows4 w;
                w.set(xs + i, ys + i, xmax, ymax);
                for (int k = 0; k < 4; ++k)
                    if (w.valid >> k & 1)
                        pixel<F>(s, d, x0 + i + k, w.sx[k], w.sy[k], w.dx[k], w.dy[k], w.kx[k], w.ky[k]);
            }
        }
        for (; i < n; ++i) {
            _mm_prefetch(Ahead(xs + i), _MM_HINT_T0);
            _mm_prefetch(Ahead(ys + i), _MM_HINT_T0);
            CubicWindow w;
            if (w.set(xs[i], ys[i], xmax, ymax))
                pixel<F>(s, d, x0 + i, w.sx, w.sy, w.dx, w.dy, warp_simd::CubicEntry(w.dx),
                         warp_simd::CubicEntry(w.dy));
        }
    }

    // One point of window start (sx, sy), distances (dx, dy) and, for 8-bit samples, weight
    // entries (kx, ky).
    template <class F>
    static void pixel(const Source<F>& s, const Dest<F>& d, ptrdiff_t X, int sx, int sy, float dx, float dy, int kx,
                      int ky)
    {
        using T = typename F::Sample;
        if constexpr (sizeof(T) == 1) {
            const __m64 wx = Weights8(kx), wy = Weights8(ky);
            if constexpr (F::planar || F::channels == 1) {
                for (int c = 0; c < F::planes; ++c)
                    *d.at(X, c) = Gray8(reinterpret_cast<const char*>(s.at(sx, sy, c)), s.step, wx, wy);
            } else {
                warp_simd::Store8<F>(d, X, Colour8<F>(reinterpret_cast<const char*>(s.at(sx, sy, 0)), s.step, wx, wy));
            }
        } else {
            const __m128 wx = warp_simd::CubicWeightsFloat(dx), wy = warp_simd::CubicWeightsFloat(dy);
            for (int c = 0; c < F::channels; ++c) {
                __m128 col[4];
                if constexpr (F::planar || F::channels == 1) {
                    // Window rows are contiguous: load them and turn them into columns.
                    for (int r = 0; r < 4; ++r) {
                        const T* q = s.at(sx, sy + r, c);
                        if constexpr (sizeof(T) == 4) {
                            col[r] = _mm_loadu_ps(q);
                        } else {
                            long long v;
                            std::memcpy(&v, q, 8);
                            col[r] = _mm_cvtpu16_ps(_mm_cvtsi64_m64(v));
                        }
                    }
                    _MM_TRANSPOSE4_PS(col[0], col[1], col[2], col[3]);
                } else {
                    for (int k = 0; k < 4; ++k) {
                        auto at = [&](int r) { return static_cast<float>(*s.at(sx + k, sy + r, c)); };
                        col[k] = _mm_set_ps(at(3), at(2), at(1), at(0));
                    }
                }
                const float v = warp_simd::CubicVertical(warp_simd::CubicHorizontal(col, wx), wy);
                if constexpr (sizeof(T) == 4)
                    *d.at(X, c) = v;
                else
                    *d.at(X, c) = warp_simd::Round16(v);
            }
        }
    }
};

} // namespace

#define WARP_SSE_CUBIC_DEF(name, T, C, S, P)                                                                   \
    void warp_sse_cubic_##name(const void* src, void* dst, int srcStep, int dstStep, int firstRow, int lastRow, \
                               const int32_t* spans, const double* inv, int xmax, int ymax, const void* aux)    \
    {                                                                                                          \
        warp_simd::warp_row_cubic_simd<SseCubicSpans, Format<T, C, S, P>>(src, dst, srcStep, dstStep, firstRow, \
                                                                        lastRow, spans, inv, xmax, ymax, aux); \
    }
WARP_SIMD_FORMATS(WARP_SSE_CUBIC_DEF)
