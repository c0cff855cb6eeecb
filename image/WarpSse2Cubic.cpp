// Cubic kernels of the SSE2 family, whose code the SSE3 and SSSE3 tables share: 8-bit
// samples through the fixed-point weight table and packed 16-bit multiply-adds, 16-bit and
// float samples through single-precision weight polynomials, one lane per window row.
#include "image/WarpCubicWeights.h"
#include "image/WarpSimdRows.h"

#include <emmintrin.h>

namespace {

using warp_simd::CubicWindow;
using warp_simd::Dest;
using warp_simd::Format;
using warp_simd::Source;

// 8-bit weights of a distance as int16 (w0, w1, w2, w3, w0, w1, w2, w3): entry k holds
// (w0, w1), the mirrored entry (w3, w2).
__m128i Weights8(int k)
{
    uint32_t a, b;
    std::memcpy(&a, cubic_weight_block.pairs[k], 4);
    std::memcpy(&b, cubic_weight_block.pairs[1536 - k], 4);
    b = b >> 16 | b << 16;
    return _mm_set_epi32(static_cast<int>(b), static_cast<int>(a), static_cast<int>(b), static_cast<int>(a));
}

// (V + 2^19) >> 20 of 32-bit sums, clamped to 0..255 by saturating packs.
uint32_t Round8(__m128i v)
{
    const __m128i r = _mm_srai_epi32(_mm_add_epi32(v, _mm_set1_epi32(0x80000)), 20);
    const __m128i r16 = _mm_packs_epi32(r, r);
    return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(r16, r16)));
}

struct Sse2CubicSpans {
    static void finish() {}

    // One channel of one plane: rows of 4 bytes from p.
    static uint8_t Gray8(const char* p, ptrdiff_t step, __m128i wx, __m128i wy)
    {
        auto row = [&](int r) { return static_cast<int>(warp_simd::Load32(p + r * step)); };
        const __m128i bytes = _mm_set_epi32(row(3), row(2), row(1), row(0));
        const __m128i zero = _mm_setzero_si128();
        const __m128 a = _mm_castsi128_ps(_mm_madd_epi16(_mm_unpacklo_epi8(bytes, zero), wx)); // r0 r0 r1 r1
        const __m128 b = _mm_castsi128_ps(_mm_madd_epi16(_mm_unpackhi_epi8(bytes, zero), wx)); // r2 r2 r3 r3
        const __m128i h = _mm_srai_epi32(_mm_add_epi32(_mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0))),
                                                       _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)))),
                                         8);
        const __m128i v = _mm_madd_epi16(_mm_packs_epi32(h, h), wy); // H0 w0 + H1 w1, H2 w2 + H3 w3
        return static_cast<uint8_t>(Round8(_mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)))));
    }

    // Four interleaved pixels of one window row as (c0 c1 c2 c3) per pixel; rgb reads no
    // byte past the fourth pixel.
    template <class F>
    static __m128i Row4(const char* p)
    {
        if constexpr (F::stride == 4) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        } else {
            auto word = [](const char* q) { return static_cast<int>(warp_simd::Load32(q)); };
            return _mm_set_epi32(static_cast<int>(static_cast<uint32_t>(word(p + 8)) >> 8), word(p + 6), word(p + 3),
                                 word(p));
        }
    }

    template <class F>
    static uint32_t Colour8(const char* p, ptrdiff_t step, __m128i wx, __m128i wy)
    {
        const __m128i zero = _mm_setzero_si128();
        const __m128i wx01 = _mm_shuffle_epi32(wx, 0x00), wx23 = _mm_shuffle_epi32(wx, 0x55);
        __m128i h[4];
        for (int r = 0; r < 4; ++r) {
            const __m128i row = Row4<F>(p + r * step);
            const __m128i lo = _mm_unpacklo_epi8(row, zero), hi = _mm_unpackhi_epi8(row, zero);
            const __m128i p01 = _mm_unpacklo_epi16(lo, _mm_srli_si128(lo, 8));
            const __m128i p23 = _mm_unpacklo_epi16(hi, _mm_srli_si128(hi, 8));
            h[r] = _mm_packs_epi32(
                _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(p01, wx01), _mm_madd_epi16(p23, wx23)), 8),
                _mm_setzero_si128());
        }
        const __m128i v = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(h[0], h[1]), _mm_shuffle_epi32(wy, 0x00)),
                                        _mm_madd_epi16(_mm_unpacklo_epi16(h[2], h[3]), _mm_shuffle_epi32(wy, 0x55)));
        return Round8(v);
    }

    // Windows of four points at once, as CubicWindow and CubicEntry give them one by one;
    // bit k of valid is set when point k lies inside. The limits must be exact in single
    // precision: min(truncate(v), max - 2) is then truncate(min(v, max - 2)).
    struct Windows4 {
        alignas(16) int32_t sx[4], sy[4];
        alignas(16) float dx[4], dy[4];
        alignas(16) int16_t kx[8], ky[8];
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
        static void axis(__m128 v, int max, int32_t* start, float* dist, int16_t* entry)
        {
            const __m128i zero = _mm_setzero_si128();
            __m128i i = _mm_cvttps_epi32(_mm_min_ps(v, _mm_set1_ps(static_cast<float>(max - 2))));
            i = _mm_add_epi32(i, _mm_cmpgt_epi32(i, zero));               // one back when above 0
            i = _mm_and_si128(i, _mm_cmpgt_epi32(i, _mm_set1_epi32(-1))); // held to 0
            const __m128 d = _mm_sub_ps(v, _mm_cvtepi32_ps(i));
            const __m128i k = _mm_packs_epi32(_mm_cvtps_epi32(_mm_mul_ps(d, _mm_set1_ps(512.0f))), zero);
            _mm_store_si128(reinterpret_cast<__m128i*>(start), i);
            _mm_store_ps(dist, d);
            _mm_store_si128(reinterpret_cast<__m128i*>(entry),
                            _mm_min_epi16(_mm_max_epi16(k, zero), _mm_set1_epi16(1536)));
        }
    };

    template <class F>
    static void span(const Source<F>& s, const Dest<F>& d, ptrdiff_t x0, const float* xs, const float* ys,
                     ptrdiff_t n, int xmax, int ymax)
    {
        ptrdiff_t i = 0;
        if (xmax < (1 << 24) && ymax < (1 << 24)) {
            for (; i + 4 <= n; i += 4) {
                Windows4 w;
                w.set(xs + i, ys + i, xmax, ymax);
                for (int k = 0; k < 4; ++k)
                    if (w.valid >> k & 1)
                        pixel<F>(s, d, x0 + i + k, w.sx[k], w.sy[k], w.dx[k], w.dy[k], w.kx[k], w.ky[k]);
            }
        }
        for (; i < n; ++i) {
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
            const __m128i wx = Weights8(kx), wy = Weights8(ky);
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
                        if constexpr (sizeof(T) == 4)
                            col[r] = _mm_loadu_ps(q);
                        else
                            col[r] = _mm_cvtepi32_ps(_mm_unpacklo_epi16(
                                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(q)), _mm_setzero_si128()));
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

#define WARP_SSE2_CUBIC_DEF(name, T, C, S, P)                                                                  \
    void warp_sse2_cubic_##name(const void* src, void* dst, int srcStep, int dstStep, int firstRow,            \
                                int lastRow, const int32_t* spans, const double* inv, int xmax, int ymax,      \
                                const void* aux)                                                               \
    {                                                                                                          \
        warp_simd::warp_row_cubic_simd<Sse2CubicSpans, Format<T, C, S, P>>(src, dst, srcStep, dstStep, firstRow, \
                                                                         lastRow, spans, inv, xmax, ymax, aux); \
    }
WARP_SIMD_FORMATS(WARP_SSE2_CUBIC_DEF)
