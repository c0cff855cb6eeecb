// The SSE2 family of nearest and linear kernels: source positions in double precision, x and
// y in one register; 8-bit bilinear values in 14-bit fixed point through packed 16-bit
// multiply-adds. The SSE3 and SSSE3 tables hold these same kernels.
#include "image/WarpSimdRows.h"

#include <emmintrin.h>

namespace {

using warp_simd::Format;

struct Sse2Walk {
    using Pos = __m128d;
    __m128d base, rowStep, pixStep, limit;
    __m128i limitIndex, limitPairIndex;
    bool fixedPoint; // positions x 16384 fit 32 bits

    Sse2Walk(const double* c, int firstRow, int xmax, int ymax)
    {
        base = _mm_set_pd(firstRow * c[4] + c[5], firstRow * c[1] + c[2]);
        rowStep = _mm_set_pd(c[4], c[1]);
        pixStep = _mm_set_pd(c[3], c[0]);
        limit = _mm_set_pd(ymax, xmax);
        limitIndex = _mm_set_epi32(0, 0, ymax, xmax);
        limitPairIndex = _mm_set_epi32(ymax, xmax, ymax, xmax);
        fixedPoint = xmax < (1 << 17) && ymax < (1 << 17);
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

    template <class F>
    __m128d nearestFour(__m128d p, const warp_simd::Source<F>& s, const warp_simd::Dest<F>& d, ptrdiff_t X) const
    {
        for (int k = 0; k < 4; ++k, p = next(p)) {
            int i, j;
            nearest(p, i, j);
            warp_simd::CopyPixel<F>(s, i, j, d, X + k);
        }
        return p;
    }

    // Four pixels: positions one after the other as ever, then their weights together and,
    // for grey, their values together. Returns the position of the next pixel.
    template <class F>
    __m128d linearFour(__m128d p, const warp_simd::Source<F>& s, const warp_simd::Dest<F>& d, ptrdiff_t X) const
    {
        using T = typename F::Sample;
        if constexpr (sizeof(T) == 1) {
            __m128i ij[2], upper;
            if (fixedPoint) {
                // R = round(held position x 16384) holds index and weight at once: for a position
                // s >= 0, R - 16384 floor(s) is round(frac(s) x 16384), as both products are exact
                // and 16384 floor(s) is even. A weight that rounds up to 16384 appears as weight 0
                // on the next index, which gives the same sums; at the last column or row both
                // forms step back one with weight 16384.
                __m128i r[4];
                #pragma GCC unroll 4
                for (int k = 0; k < 4; ++k, p = next(p))
                    r[k] = _mm_cvtpd_epi32(_mm_mul_pd(_mm_min_pd(_mm_max_pd(p, _mm_setzero_pd()), limit),
                                                      _mm_set1_pd(16384.0)));
                __m128i f[2];
                #pragma GCC unroll 4
                for (int h = 0; h < 2; ++h) {
                    const __m128i both = _mm_unpacklo_epi64(r[2 * h], r[2 * h + 1]);
                    const __m128i index = _mm_srai_epi32(both, 14);
                    const __m128i edge = _mm_cmpeq_epi32(index, limitPairIndex);
                    ij[h] = _mm_add_epi32(index, edge);
                    f[h] = _mm_add_epi32(_mm_and_si128(both, _mm_set1_epi32(16383)),
                                         _mm_and_si128(edge, _mm_set1_epi32(16384)));
                }
                upper = _mm_packs_epi32(f[0], f[1]);
            } else {
                __m128i index[4], scaled[4];
                #pragma GCC unroll 4
                for (int k = 0; k < 4; ++k, p = next(p)) {
                    index[k] = clampedIndex(p);
                    index[k] = _mm_add_epi32(index[k], _mm_cmpeq_epi32(index[k], limitIndex));
                    const __m128d f = _mm_min_pd(_mm_sub_pd(p, _mm_cvtepi32_pd(index[k])), _mm_set1_pd(1.0));
                    scaled[k] = _mm_cvtpd_epi32(_mm_mul_pd(f, _mm_set1_pd(16384.0)));
                }
                // A fraction below 0 converted to a negative value, which the maximum holds at 0.
                upper = _mm_max_epi16(_mm_packs_epi32(_mm_unpacklo_epi64(scaled[0], scaled[1]),
                                                      _mm_unpacklo_epi64(scaled[2], scaled[3])),
                                      _mm_setzero_si128());
                ij[0] = _mm_unpacklo_epi64(index[0], index[1]);
                ij[1] = _mm_unpacklo_epi64(index[2], index[3]);
            }
            blendFour8<F>(upper, ij, s, d, X);
        } else {
            __m128i index[4];
            __m128d frac[4];
            for (int k = 0; k < 4; ++k, p = next(p)) {
                index[k] = clampedIndex(p);
                index[k] = _mm_add_epi32(index[k], _mm_cmpeq_epi32(index[k], limitIndex));
                frac[k] = _mm_min_pd(_mm_sub_pd(p, _mm_cvtepi32_pd(index[k])), _mm_set1_pd(1.0));
            }
            const __m128i ij[2] = {_mm_unpacklo_epi64(index[0], index[1]), _mm_unpacklo_epi64(index[2], index[3])};
            blendFourFloat<F>(frac, ij, s, d, X);
        }
        return p;
    }

    // Byte offsets j * step + i * bytes of four pixels from (i, j) pairs; never negative.
    static void offsets(const __m128i* ij, ptrdiff_t step, int bytes, int64_t* out)
    {
        const __m128i rowStep = _mm_set1_epi64x(step), pixel = _mm_set1_epi64x(bytes);
        for (int h = 0; h < 2; ++h) {
            const __m128i rows = _mm_mul_epu32(_mm_srli_epi64(ij[h], 32), rowStep);
            _mm_store_si128(reinterpret_cast<__m128i*>(out + 2 * h), _mm_add_epi64(rows, _mm_mul_epu32(ij[h], pixel)));
        }
    }
    // (i, j) of four pixels from their pairs.
    static void indices(const __m128i* ij, int* i, int* j)
    {
        alignas(16) int32_t v[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(v), ij[0]);
        _mm_store_si128(reinterpret_cast<__m128i*>(v + 4), ij[1]);
        for (int k = 0; k < 4; ++k) {
            i[k] = v[2 * k];
            j[k] = v[2 * k + 1];
        }
    }

    // upper: (Fx, Fy) of the four pixels as int16; ij: their (i, j) pairs.
    template <class F>
    static void blendFour8(__m128i upper, const __m128i* ij, const warp_simd::Source<F>& s,
                           const warp_simd::Dest<F>& d, ptrdiff_t X)
    {
        // (16384 - F, F) pairs: wx and wy hold pixel k's pair in 32-bit lane k.
        const __m128i lower = _mm_sub_epi16(_mm_set1_epi16(16384), upper);
        const __m128 w01 = _mm_castsi128_ps(_mm_unpacklo_epi16(lower, upper));
        const __m128 w23 = _mm_castsi128_ps(_mm_unpackhi_epi16(lower, upper));
        const __m128i wx = _mm_castps_si128(_mm_shuffle_ps(w01, w23, _MM_SHUFFLE(2, 0, 2, 0)));
        const __m128i wy = _mm_castps_si128(_mm_shuffle_ps(w01, w23, _MM_SHUFFLE(3, 1, 3, 1)));
        if constexpr (F::channels == 1 && !F::planar) {
            // (left, right) pairs of the four pixels, one register per source row.
            alignas(16) int64_t offset[4];
            offsets(ij, s.step, 1, offset);
            // Each pair goes straight into its 16-bit lane.
            const char* a[4] = {s.base[0] + offset[0], s.base[0] + offset[1], s.base[0] + offset[2],
                                s.base[0] + offset[3]};
            auto lanes = [&a](ptrdiff_t o) {
                __m128i v = _mm_cvtsi32_si128(warp_simd::Load16(a[0] + o));
                v = _mm_insert_epi16(v, warp_simd::Load16(a[1] + o), 1);
                v = _mm_insert_epi16(v, warp_simd::Load16(a[2] + o), 2);
                return _mm_insert_epi16(v, warp_simd::Load16(a[3] + o), 3);
            };
            const __m128i zero = _mm_setzero_si128();
            const __m128i t = _mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(lanes(0), zero), wx), 8);
            const __m128i b = _mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(lanes(s.step), zero), wx), 8);
            const __m128i vertical = _mm_or_si128(t, _mm_slli_epi32(b, 16));
            const __m128i r =
                _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(vertical, wy), _mm_set1_epi32(0x80000)), 20);
            const __m128i r16 = _mm_packs_epi32(r, r);
            const uint32_t bytes = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(r16, r16)));
            std::memcpy(d.at(X, 0), &bytes, 4);
        } else if constexpr (!F::planar && F::stride == 4) {
            // Two pixels per register: each pixel's (left, right) bytes interleave into int16
            // pairs per channel; the four results leave in one 16-byte store, rgbx putting
            // back the fourth samples it read.
            alignas(16) int64_t offset[4];
            offsets(ij, s.step, 4, offset);
            const __m128i zero = _mm_setzero_si128(), round = _mm_set1_epi32(0x80000);
            auto interleave = [](const char* a, const char* b) {
                const __m128i t = _mm_shuffle_epi32(
                    _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)),
                                       _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b))),
                    _MM_SHUFFLE(3, 1, 2, 0));
                return _mm_unpacklo_epi8(t, _mm_srli_si128(t, 8));
            };
            auto pixel = [&](__m128i top, __m128i bottom, __m128i x, __m128i y) {
                const __m128i t = _mm_srai_epi32(_mm_madd_epi16(top, x), 8);
                const __m128i b = _mm_srai_epi32(_mm_madd_epi16(bottom, x), 8);
                const __m128i v = _mm_or_si128(t, _mm_slli_epi32(b, 16));
                return _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(v, y), round), 20);
            };
            const __m128i xk[4] = {_mm_shuffle_epi32(wx, 0x00), _mm_shuffle_epi32(wx, 0x55),
                                   _mm_shuffle_epi32(wx, 0xAA), _mm_shuffle_epi32(wx, 0xFF)};
            const __m128i yk[4] = {_mm_shuffle_epi32(wy, 0x00), _mm_shuffle_epi32(wy, 0x55),
                                   _mm_shuffle_epi32(wy, 0xAA), _mm_shuffle_epi32(wy, 0xFF)};
            __m128i half[2];
            // Left rolled: unrolled, this loop took twice the time on the rotated map.
            for (int h = 0; h < 2; ++h) {
                const char* a = s.base[0] + offset[2 * h];
                const char* b = s.base[0] + offset[2 * h + 1];
                const __m128i top = interleave(a, b), bottom = interleave(a + s.step, b + s.step);
                const __m128i ra = pixel(_mm_unpacklo_epi8(top, zero), _mm_unpacklo_epi8(bottom, zero), xk[2 * h],
                                         yk[2 * h]);
                const __m128i rb = pixel(_mm_unpackhi_epi8(top, zero), _mm_unpackhi_epi8(bottom, zero),
                                         xk[2 * h + 1], yk[2 * h + 1]);
                half[h] = _mm_packs_epi32(ra, rb);
            }
            __m128i bytes = _mm_packus_epi16(half[0], half[1]);
            __m128i* out = reinterpret_cast<__m128i*>(d.at(X, 0));
            if constexpr (F::channels == 3) {
                const __m128i keep = _mm_set1_epi32(static_cast<int>(0xFF000000u));
                bytes = _mm_or_si128(_mm_andnot_si128(keep, bytes), _mm_and_si128(keep, _mm_loadu_si128(out)));
            }
            _mm_storeu_si128(out, bytes);
        } else {
            int i[4], j[4];
            indices(ij, i, j);
            alignas(16) int32_t xs[4], ys[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(xs), wx);
            _mm_store_si128(reinterpret_cast<__m128i*>(ys), wy);
            #pragma GCC unroll 4
            for (int k = 0; k < 4; ++k) {
                const Weights w = {_mm_set1_epi32(xs[k]), _mm_set1_epi32(ys[k])};
                warp_simd::Store8<F>(d, X + k, blend8<F>(s, i[k], j[k], w));
            }
        }
    }

    template <class F>
    static void blendFourFloat(const __m128d* frac, const __m128i* ij, const warp_simd::Source<F>& s,
                               const warp_simd::Dest<F>& d, ptrdiff_t X)
    {
        using T = typename F::Sample;
        // Fractions held at 0 from below, in single precision: fx and fy of the four pixels.
        __m128 f[4];
        for (int k = 0; k < 4; ++k)
            f[k] = _mm_cvtpd_ps(_mm_max_pd(frac[k], _mm_setzero_pd()));
        const __m128 f01 = _mm_movelh_ps(f[0], f[1]), f23 = _mm_movelh_ps(f[2], f[3]);
        const __m128 fx = _mm_shuffle_ps(f01, f23, _MM_SHUFFLE(2, 0, 2, 0));
        const __m128 fy = _mm_shuffle_ps(f01, f23, _MM_SHUFFLE(3, 1, 3, 1));
        if constexpr (F::channels == 1 && !F::planar) {
            alignas(16) int64_t offset[4];
            offsets(ij, s.step, sizeof(T), offset);
            __m128 p00, p01, p10, p11;
            if constexpr (sizeof(T) == 4) {
                __m128 r0[2], r1[2];
                for (int h = 0; h < 2; ++h) {
                    const char* a0 = s.base[0] + offset[2 * h];
                    const char* a1 = a0 + s.step;
                    const char* b0 = s.base[0] + offset[2 * h + 1];
                    const char* b1 = b0 + s.step;
                    r0[h] = _mm_castsi128_ps(_mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a0)),
                                                                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b0))));
                    r1[h] = _mm_castsi128_ps(_mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a1)),
                                                                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b1))));
                }
                p00 = _mm_shuffle_ps(r0[0], r0[1], _MM_SHUFFLE(2, 0, 2, 0));
                p01 = _mm_shuffle_ps(r0[0], r0[1], _MM_SHUFFLE(3, 1, 3, 1));
                p10 = _mm_shuffle_ps(r1[0], r1[1], _MM_SHUFFLE(2, 0, 2, 0));
                p11 = _mm_shuffle_ps(r1[0], r1[1], _MM_SHUFFLE(3, 1, 3, 1));
                const __m128 one = _mm_set1_ps(1.0f), gx = _mm_sub_ps(one, fx);
                // Horizontal first.
                const __m128 r = _mm_add_ps(
                    _mm_mul_ps(_mm_add_ps(_mm_mul_ps(p00, gx), _mm_mul_ps(p01, fx)), _mm_sub_ps(one, fy)),
                    _mm_mul_ps(_mm_add_ps(_mm_mul_ps(p10, gx), _mm_mul_ps(p11, fx)), fy));
                _mm_storeu_ps(d.at(X, 0), r);
            } else {
                const char* a[4];
                for (int k = 0; k < 4; ++k)
                    a[k] = s.base[0] + offset[k];
                auto word = [](const char* q) { return static_cast<int>(warp_simd::Load32(q)); };
                const __m128i row0 = _mm_set_epi32(word(a[3]), word(a[2]), word(a[1]), word(a[0]));
                const __m128i row1 = _mm_set_epi32(word(a[3] + s.step), word(a[2] + s.step), word(a[1] + s.step),
                                                   word(a[0] + s.step));
                const __m128i low = _mm_set1_epi32(0xFFFF);
                p00 = _mm_cvtepi32_ps(_mm_and_si128(row0, low));
                p01 = _mm_cvtepi32_ps(_mm_srli_epi32(row0, 16));
                p10 = _mm_cvtepi32_ps(_mm_and_si128(row1, low));
                p11 = _mm_cvtepi32_ps(_mm_srli_epi32(row1, 16));
                const __m128 one = _mm_set1_ps(1.0f), gy = _mm_sub_ps(one, fy);
                // Vertical first.
                const __m128 r = _mm_add_ps(
                    _mm_mul_ps(_mm_add_ps(_mm_mul_ps(p00, gy), _mm_mul_ps(p10, fy)), _mm_sub_ps(one, fx)),
                    _mm_mul_ps(_mm_add_ps(_mm_mul_ps(p01, gy), _mm_mul_ps(p11, fy)), fx));
                // Ties to even, then held to 0..65535 by a signed pack around 32768.
                const __m128i bias = _mm_set1_epi32(32768);
                const __m128i packed =
                    _mm_packs_epi32(_mm_sub_epi32(_mm_cvtps_epi32(r), bias), _mm_setzero_si128());
                _mm_storel_epi64(reinterpret_cast<__m128i*>(d.at(X, 0)),
                                 _mm_xor_si128(packed, _mm_set1_epi16(static_cast<short>(0x8000))));
            }
        } else {
            int i[4], j[4];
            indices(ij, i, j);
            alignas(16) float xs[4], ys[4];
            _mm_store_ps(xs, fx);
            _mm_store_ps(ys, fy);
            for (int k = 0; k < 4; ++k)
                warp_simd::BlendFloat<F>(s, i[k], j[k], xs[k], ys[k], d, X + k);
        }
    }

    // (left, right) int16 pairs per channel of pixels (i, j) and (i + 1, j), and of the row
    // below. Interleaved pixels come as two 4-byte loads that never pass pixel i + 1.
    template <class F>
    static void pairs(const warp_simd::Source<F>& s, int i, int j, __m128i& row0, __m128i& row1)
    {
        const __m128i zero = _mm_setzero_si128();
        if constexpr (F::planar || F::stride == 1) {
            uint64_t a, b;
            warp_simd::Rows8<F>(s, i, j, a, b);
            row0 = _mm_unpacklo_epi8(_mm_cvtsi64_si128(static_cast<long long>(a)), zero);
            row1 = _mm_unpacklo_epi8(_mm_cvtsi64_si128(static_cast<long long>(b)), zero);
        } else {
            const char* p = reinterpret_cast<const char*>(s.at(i, j, 0));
            auto word = [](const char* q) { return _mm_cvtsi32_si128(static_cast<int>(warp_simd::Load32(q))); };
            // Pixel i + 1 of rgb starts 3 bytes on: read from byte 2 and drop that byte.
            auto right = [&](const char* q) {
                return F::stride == 3 ? _mm_srli_epi32(word(q + 2), 8) : word(q + 4);
            };
            row0 = _mm_unpacklo_epi8(_mm_unpacklo_epi8(word(p), right(p)), zero);
            row1 = _mm_unpacklo_epi8(_mm_unpacklo_epi8(word(p + s.step), right(p + s.step)), zero);
        }
    }
    // Horizontal sums of both rows, then the vertical sum, per channel. The horizontal sums
    // lie in 0..16320, so the 16-bit saturation of the rule never acts and (top, bottom)
    // pairs form by a shift.
    template <class F>
    static uint32_t blend8(const warp_simd::Source<F>& s, int i, int j, const Weights& w)
    {
        __m128i row0, row1;
        pairs<F>(s, i, j, row0, row1);
        const __m128i top = _mm_srai_epi32(_mm_madd_epi16(row0, w.x), 8);
        const __m128i bottom = _mm_srai_epi32(_mm_madd_epi16(row1, w.x), 8);
        const __m128i vertical = _mm_or_si128(top, _mm_slli_epi32(bottom, 16));
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
