// Row walks of the processor-specific kernels, shared by the sibling files: nearest and
// linear in WarpSse.cpp (positions in single precision) and WarpSse2.cpp (double precision),
// cubic in WarpSseCubic.cpp and WarpSse2Cubic.cpp (points in single precision for all).
// A family supplies a Walk: the running positions, the sampled indices with their fractions
// or 14-bit weights, and the 8-bit interpolation in its own instruction set. Everything else
// (addressing, the float and 16-bit arithmetic, stores) is here. Results are defined to the
// bit: built with -ffp-contract=off, single-precision steps in the order stated below.
#pragma once

#include "image/WarpAffine.h"
#include "image/WarpCubicWeights.h"
#include "image/WarpVariants.h"

#include <xmmintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdint>
#include <cstring>

namespace warp_simd {

// C samples computed per pixel, S samples per interleaved pixel (1 for planes), P planar.
template <typename T, int C, int S, bool P>
struct Format {
    using Sample = T;
    static constexpr int channels = C;
    static constexpr int stride = S;
    static constexpr bool planar = P;
    static constexpr int planes = P ? C : 1;
};

template <class F>
struct Source {
    using T = typename F::Sample;
    const char* base[F::planes];
    ptrdiff_t step;
    Source(const void* src, int srcStep) : step(srcStep)
    {
        if constexpr (F::planar) {
            for (int c = 0; c < F::planes; ++c)
                base[c] = static_cast<const char*>(static_cast<const void* const*>(src)[c]);
        } else {
            base[0] = static_cast<const char*>(src);
        }
    }
    const T* at(int i, int j, int c) const
    {
        if constexpr (F::planar)
            return reinterpret_cast<const T*>(base[c] + j * step) + i;
        else
            return reinterpret_cast<const T*>(base[0] + j * step) + static_cast<ptrdiff_t>(i) * F::stride + c;
    }
};

// The destination row (each plane's row); the caller's plane array is only read.
template <class F>
struct Dest {
    using T = typename F::Sample;
    char* row[F::planes] = {};
    ptrdiff_t step = 0;
    Dest() = default;
    Dest(void* dst, int dstStep) : step(dstStep)
    {
        if constexpr (F::planar) {
            for (int c = 0; c < F::planes; ++c)
                row[c] = static_cast<char*>(static_cast<void* const*>(dst)[c]);
        } else {
            row[0] = static_cast<char*>(dst);
        }
    }
    T* at(ptrdiff_t X, int c) const
    {
        if constexpr (F::planar)
            return reinterpret_cast<T*>(row[c]) + X;
        else
            return reinterpret_cast<T*>(row[0]) + X * F::stride + c;
    }
    void next()
    {
        for (int c = 0; c < F::planes; ++c)
            row[c] += step;
    }
};

inline uint16_t Load16(const void* p)
{
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline uint32_t Load32(const void* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// The 8-bit samples of pixels (i, j) and (i + 1, j), and of the row below. Interleaved: in
// memory order (2, 6 or 8 bytes, never read past pixel i + 1). Planar: plane c's two samples
// at byte 2c, 2c + 1.
template <class F>
inline uint64_t Row8At(const uint8_t* p)
{
    if constexpr (F::stride == 1) {
        return Load16(p);
    } else if constexpr (F::stride == 3) {
        return Load32(p) | static_cast<uint64_t>(Load16(p + 4)) << 32;
    } else {
        uint64_t u;
        std::memcpy(&u, p, 8);
        return u;
    }
}
template <class F>
inline void Rows8(const Source<F>& s, int i, int j, uint64_t& row0, uint64_t& row1)
{
    if constexpr (F::planar) {
        row0 = row1 = 0;
        for (int c = 0; c < F::planes; ++c) {
            const uint8_t* p = s.at(i, j, c);
            row0 |= static_cast<uint64_t>(Load16(p)) << (16 * c);
            row1 |= static_cast<uint64_t>(Load16(p + s.step)) << (16 * c);
        }
    } else {
        const uint8_t* p = s.at(i, j, 0);
        row0 = Row8At<F>(p);
        row1 = Row8At<F>(p + s.step);
    }
}

// Channel c's result in byte c of v; rgbx keeps its fourth sample.
template <class F>
inline void Store8(const Dest<F>& d, ptrdiff_t X, uint32_t v)
{
    if constexpr (F::planar) {
        for (int c = 0; c < F::planes; ++c)
            *d.at(X, c) = static_cast<uint8_t>(v >> (8 * c));
    } else {
        std::memcpy(d.at(X, 0), &v, F::channels);
    }
}

template <class F>
inline void CopyPixel(const Source<F>& s, int i, int j, const Dest<F>& d, ptrdiff_t X)
{
    using T = typename F::Sample;
    if constexpr (F::planar) {
        for (int c = 0; c < F::planes; ++c)
            *d.at(X, c) = *s.at(i, j, c);
    } else {
        std::memcpy(d.at(X, 0), s.at(i, j, 0), sizeof(T) * F::channels);
    }
}

// 16-bit results round to nearest, ties to even (the default rounding mode), then clamp.
inline uint16_t Round16(float v)
{
    const int r = _mm_cvtss_si32(_mm_set_ss(v));
    return static_cast<uint16_t>(std::min(std::max(r, 0), 65535));
}

// Single-precision bilinear value of 16-bit and float formats; fx, fy in [0, 1].
template <class F>
inline void BlendFloat(const Source<F>& s, int i, int j, float fx, float fy, const Dest<F>& d, ptrdiff_t X)
{
    using T = typename F::Sample;
    for (int c = 0; c < F::channels; ++c) {
        const T* a = s.at(i, j, c);
        const T* b = reinterpret_cast<const T*>(reinterpret_cast<const char*>(a) + s.step);
        const float p00 = static_cast<float>(a[0]), p01 = static_cast<float>(a[F::stride]);
        const float p10 = static_cast<float>(b[0]), p11 = static_cast<float>(b[F::stride]);
        float r;
        if constexpr (F::channels == 1 && !F::planar && sizeof(T) == 4) {
            const float gx = 1.0f - fx;
            r = (p00 * gx + p01 * fx) * (1.0f - fy) + (p10 * gx + p11 * fx) * fy; // horizontal first
        } else if constexpr (F::channels == 1 && !F::planar) {
            const float gy = 1.0f - fy;
            r = (p00 * gy + p10 * fy) * (1.0f - fx) + (p01 * gy + p11 * fy) * fx; // vertical first
        } else {
            const float top = p00 + (p01 - p00) * fx;
            const float bottom = p10 + (p11 - p10) * fx;
            r = top + (bottom - top) * fy;
        }
        if constexpr (sizeof(T) == 4)
            *d.at(X, c) = r;
        else
            *d.at(X, c) = Round16(r);
    }
}

// One linear pixel at position p of a walk.
template <class Walk, class F, class Pos>
inline void LinearPixel(const Walk& walk, Pos p, const Source<F>& s, const Dest<F>& d, ptrdiff_t X)
{
    int i, j;
    if constexpr (sizeof(typename F::Sample) == 1) {
        typename Walk::Weights w;
        walk.linear8(p, i, j, w);
        Store8<F>(d, X, Walk::template blend8<F>(s, i, j, w));
    } else {
        float fx, fy;
        walk.linearFloat(p, i, j, fx, fy);
        BlendFloat<F>(s, i, j, fx, fy, d, X);
    }
}

// Bands of rows walked in tiles of columns, so that a steep or turned map keeps its source
// reads within a few pages. Each row's positions are still one running sum from its first
// pixel, in increasing column order, so tiling changes no result. run(walk, p, dest, X, last)
// writes pixels X..last of a row from position p and returns the position after last.
template <class Walk, class F, class Run>
inline void WalkRows(void* dst, int dstStep, int firstRow, int lastRow, const int32_t* spans, const double* inv,
                     int xmax, int ymax, bool nearest, Run run)
{
    if (lastRow - firstRow < 0)
        return;
    constexpr int kBand = 16;
    constexpr ptrdiff_t kTile = 64;
    Dest<F> d(dst, dstStep);
    Walk walk(inv, firstRow, xmax, ymax);
    const ptrdiff_t rows = static_cast<ptrdiff_t>(lastRow) - firstRow + 1;
    for (ptrdiff_t k0 = 0; k0 < rows; k0 += kBand) {
        const int n = static_cast<int>(std::min<ptrdiff_t>(kBand, rows - k0));
        typename Walk::Pos p[kBand];
        ptrdiff_t next[kBand], last[kBand];
        Dest<F> rowDest[kBand];
        ptrdiff_t lo = PTRDIFF_MAX, hi = PTRDIFF_MIN;
        for (int r = 0; r < n; ++r, walk.nextRow(), d.next()) {
            rowDest[r] = d;
            next[r] = spans[2 * (k0 + r)];
            last[r] = spans[2 * (k0 + r) + 1];
            if (last[r] < next[r])
                continue; // an empty row: the destination still moves on by one step
            p[r] = nearest ? walk.startNearest(static_cast<int>(next[r])) : walk.start(static_cast<int>(next[r]));
            lo = std::min(lo, next[r]);
            hi = std::max(hi, last[r]);
        }
        for (ptrdiff_t c = lo; c <= hi; c += kTile)
            for (int r = 0; r < n; ++r) {
                const ptrdiff_t stop = std::min(last[r], c + kTile - 1);
                if (next[r] > stop)
                    continue;
                p[r] = run(walk, p[r], rowDest[r], next[r], stop);
                next[r] = stop + 1;
            }
    }
    Walk::finish();
}

// Nearest: the row start carries the 0.5; indices are the truncated positions, held to the
// source so that no drift of the running sums reads outside it.
template <class Walk, class F>
void warp_row_nearest_simd(const void* src, void* dst, int srcStep, int dstStep, int firstRow, int lastRow,
                           const int32_t* spans, const double* inv, int xmax, int ymax, const void*)
{
    const Source<F> s(src, srcStep);
    WalkRows<Walk, F>(dst, dstStep, firstRow, lastRow, spans, inv, xmax, ymax, true,
                      [&s](const Walk& walk, typename Walk::Pos p, const Dest<F>& d, ptrdiff_t X, ptrdiff_t stop) {
                          for (; X + 3 <= stop; X += 4)
                              p = walk.template nearestFour<F>(p, s, d, X);
                          for (; X <= stop; ++X, p = walk.next(p)) {
                              int i, j;
                              walk.nearest(p, i, j);
                              CopyPixel<F>(s, i, j, d, X);
                          }
                          return p;
                      });
}

// Linear: 8-bit formats in 14-bit fixed point through the family's own instructions,
// 16-bit and float formats in single precision; four pixels at a time where a row allows.
template <class Walk, class F>
void warp_row_linear_simd(const void* src, void* dst, int srcStep, int dstStep, int firstRow, int lastRow,
                          const int32_t* spans, const double* inv, int xmax, int ymax, const void*)
{
    const Source<F> s(src, srcStep);
    WalkRows<Walk, F>(dst, dstStep, firstRow, lastRow, spans, inv, xmax, ymax, false,
                      [&s](const Walk& walk, typename Walk::Pos p, const Dest<F>& d, ptrdiff_t X, ptrdiff_t stop) {
                          for (; X + 3 <= stop; X += 4)
                              p = walk.template linearFour<F>(p, s, d, X);
                          for (; X <= stop; ++X, p = walk.next(p))
                              LinearPixel(walk, p, s, d, X);
                          return p;
                      });
}

// Cubic: per row, the source points in single precision into the coordinate buffer (n x
// values, then n y values), from running sums in double; then the family's span loop.
// Without a buffer (a direct call) the kernel makes its own for the call.
template <class Spans, class F>
void warp_row_cubic_simd(const void* src, void* dst, int srcStep, int dstStep, int firstRow, int lastRow,
                         const int32_t* spans, const double* inv, int xmax, int ymax, const void* aux)
{
    if (lastRow - firstRow < 0)
        return;
    const ptrdiff_t rows = static_cast<ptrdiff_t>(lastRow) - firstRow + 1;
    float* xs = static_cast<float*>(const_cast<void*>(aux));
    void* own = nullptr;
    if (!xs) {
        ptrdiff_t widest = 1;
        for (ptrdiff_t k = 0; k < rows; ++k)
            widest = std::max<ptrdiff_t>(widest, static_cast<ptrdiff_t>(spans[2 * k + 1]) - spans[2 * k] + 1);
        own = warp_alloc_aligned_bytes(static_cast<size_t>(widest) * 8);
        if (!own)
            return;
        xs = static_cast<float*>(own);
    }
    const Source<F> s(src, srcStep);
    Dest<F> d(dst, dstStep);
    double bx = inv[1] * firstRow + inv[2], by = inv[4] * firstRow + inv[5];
    for (ptrdiff_t k = 0; k < rows; ++k, bx += inv[1], by += inv[4], d.next()) {
        const int x0 = spans[2 * k], x1 = spans[2 * k + 1];
        if (x1 < x0)
            continue;
        const ptrdiff_t n = static_cast<ptrdiff_t>(x1) - x0 + 1;
        float* ys = xs + n;
        double sx = inv[0] * x0 + bx, sy = inv[3] * x0 + by;
        for (ptrdiff_t i = 0; i < n; ++i, sx += inv[0], sy += inv[3]) {
            xs[i] = static_cast<float>(sx);
            ys[i] = static_cast<float>(sy);
        }
        Spans::template span<F>(s, d, x0, xs, ys, n, xmax, ymax);
    }
    Spans::finish();
    warp_free_aligned(own);
}

// The window of a cubic point: its first column (row) and the distance of the point from
// it. Points below -1 or beyond the width (height) are skipped, and so is a NaN; the start
// is held to 0 so that a point at -1 reads inside the source.
struct CubicWindow {
    int sx, sy;
    float dx, dy;
    bool set(float x, float y, int xmax, int ymax)
    {
        if (!(x >= -1.0f && y >= -1.0f && x <= static_cast<float>(xmax + 1) && y <= static_cast<float>(ymax + 1)))
            return false;
        sx = Start(_mm_cvttss_si32(_mm_set_ss(x)), xmax);
        sy = Start(_mm_cvttss_si32(_mm_set_ss(y)), ymax);
        dx = x - static_cast<float>(sx);
        dy = y - static_cast<float>(sy);
        return true;
    }
    static int Start(int i, int max)
    {
        int s = std::min(i, max - 2); // width - 3
        if (s > 0)
            --s;
        return std::max(s, 0);
    }
};

// Entry index of a distance from the window start, quantised to 1/512 pixel and held to
// the table.
inline int CubicEntry(float d)
{
    return std::min(std::max(_mm_cvtss_si32(_mm_set_ss(d * 512.0f)), 0), 1536);
}

// Tap weights of a distance, lanes in tap order 3, 2, 1, 0.
inline __m128 CubicWeightsFloat(float d)
{
    const __m128 f = _mm_set1_ps(d - 1.0f);
    const __m128 f2 = _mm_mul_ps(f, f), f3 = _mm_mul_ps(f, f2);
    const float(*c)[4] = cubic_weight_block.poly;
    return _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_load_ps(c[3]), f3), _mm_mul_ps(_mm_load_ps(c[2]), f2)),
                      _mm_add_ps(_mm_mul_ps(_mm_load_ps(c[1]), f), _mm_load_ps(c[0])));
}

// (h1 wy1 + h3 wy3) + (h0 wy0 + h2 wy2), h in lanes 0..3, wy in tap order 3..0.
inline float CubicVertical(__m128 h, __m128 wy)
{
    const __m128 prod = _mm_mul_ps(h, _mm_shuffle_ps(wy, wy, _MM_SHUFFLE(0, 1, 2, 3)));
    const __m128 t = _mm_add_ps(prod, _mm_movehl_ps(prod, prod)); // p0 + p2, p1 + p3
    return _mm_cvtss_f32(_mm_add_ss(_mm_shuffle_ps(t, t, 1), t));
}
// (col0 wx0 + col1 wx1) + (col2 wx2 + col3 wx3), columns with one lane per window row.
inline __m128 CubicHorizontal(const __m128* col, __m128 wx)
{
    return _mm_add_ps(_mm_add_ps(_mm_mul_ps(col[0], _mm_shuffle_ps(wx, wx, 0xFF)),
                                 _mm_mul_ps(col[1], _mm_shuffle_ps(wx, wx, 0xAA))),
                      _mm_add_ps(_mm_mul_ps(col[2], _mm_shuffle_ps(wx, wx, 0x55)),
                                 _mm_mul_ps(col[3], _mm_shuffle_ps(wx, wx, 0x00))));
}

} // namespace warp_simd

// Formats in table order: name, sample type, channels computed, samples per pixel, planar.
#define WARP_SIMD_FORMATS(X)                 \
    X(gray8, uint8_t, 1, 1, false)           \
    X(rgb8, uint8_t, 3, 3, false)            \
    X(rgbx8, uint8_t, 3, 4, false)           \
    X(planar3_8, uint8_t, 3, 1, true)        \
    X(rgba8, uint8_t, 4, 4, false)           \
    X(planar4_8, uint8_t, 4, 1, true)        \
    X(gray32f, float, 1, 1, false)           \
    X(rgb32f, float, 3, 3, false)            \
    X(rgbx32f, float, 3, 4, false)           \
    X(planar3_32f, float, 3, 1, true)        \
    X(rgba32f, float, 4, 4, false)           \
    X(planar4_32f, float, 4, 1, true)        \
    X(gray16, uint16_t, 1, 1, false)         \
    X(rgb16, uint16_t, 3, 3, false)          \
    X(rgbx16, uint16_t, 3, 4, false)         \
    X(planar3_16, uint16_t, 3, 1, true)      \
    X(rgba16, uint16_t, 4, 4, false)         \
    X(planar4_16, uint16_t, 4, 1, true)

// Kernels of the double-precision family, which the SSE2, SSE3 and SSSE3 tables share.
#define WARP_SSE2_FAMILY_DECL(name, T, C, S, P) \
    WARP_KERNEL_DECL(warp_sse2_nearest_##name)  \
    WARP_KERNEL_DECL(warp_sse2_linear_##name)   \
    WARP_KERNEL_DECL(warp_sse2_cubic_##name)
WARP_SIMD_FORMATS(WARP_SSE2_FAMILY_DECL)
#undef WARP_SSE2_FAMILY_DECL

// A table's three slots of one format.
#define WARP_SSE2_FAMILY_SLOTS(name, T, C, S, P) &warp_sse2_nearest_##name, &warp_sse2_linear_##name, &warp_sse2_cubic_##name,

// A variant's driver (the shared driver with its table and a coordinate buffer for cubic)
// and its four entry wrappers.
#define WARP_VARIANT_DEFINE(variant, table)                                                                    \
    int warp_affine_##variant(const void* src, int srcWidth, int srcHeight, int srcStep, int sx, int sy, int sw, \
                              int sh, void* dst, int dstStep, int dx, int dy, int dw, int dh, int format,        \
                              const double* coeffs, int interpolation)                                          \
    {                                                                                                           \
        return warp_affine_with_kernels(table, true, src, srcWidth, srcHeight, srcStep, sx, sy, sw, sh, dst,      \
                                        dstStep, dx, dy, dw, dh, format, coeffs, interpolation);                \
    }                                                                                                           \
    WARP_VARIANT_WRAPPER(variant, gray8)                                                                        \
    WARP_VARIANT_WRAPPER(variant, rgb8)                                                                         \
    WARP_VARIANT_WRAPPER(variant, rgbx8)                                                                        \
    WARP_VARIANT_WRAPPER(variant, gray16)

#define WARP_VARIANT_WRAPPER(variant, fmt)                                                                     \
    int warp_affine_##fmt##_##variant(const void* src, int srcWidth, int srcHeight, int srcStep, int sx, int sy,  \
                                      int sw, int sh, void* dst, int dstStep, int dx, int dy, int dw, int dh,    \
                                      const double* coeffs, int interpolation)                                  \
    {                                                                                                           \
        return warp_affine_##variant(src, srcWidth, srcHeight, srcStep, sx, sy, sw, sh, dst, dstStep, dx, dy, dw, \
                                     dh, warp_##fmt, coeffs, interpolation);                                    \
    }
