#include "image/WarpKernels.h"

#include <algorithm>

// Results are defined to the bit: this file is built with -ffp-contract=off, positions are
// carried by addition and every conversion truncates toward zero.

namespace {

template <typename T>
inline T StoreLinear(double v);
template <>
inline uint8_t StoreLinear<uint8_t>(double v)
{
    return static_cast<uint8_t>(static_cast<int>(v + 0.5));
}
template <>
inline uint16_t StoreLinear<uint16_t>(double v)
{
    // 16-bit linear truncates without rounding.
    return static_cast<uint16_t>(static_cast<int>(v));
}
template <>
inline float StoreLinear<float>(double v)
{
    return static_cast<float>(v);
}

template <typename T>
inline T StoreCubic(double v);
template <>
inline uint8_t StoreCubic<uint8_t>(double v)
{
    if (v > 255.0)
        return 255;
    if (v < 0.0)
        return 0;
    return static_cast<uint8_t>(static_cast<int>(v + 0.5));
}
template <>
inline uint16_t StoreCubic<uint16_t>(double v)
{
    if (v > 65535.0)
        return 65535;
    if (v < 0.0)
        return 0;
    return static_cast<uint16_t>(static_cast<int>(v + 0.5));
}
template <>
inline float StoreCubic<float>(double v)
{
    return static_cast<float>(v);
}

struct CubicWeights {
    double w[4];
};

// 4-point Lagrange weights on the samples at -1, 0, 1, 2.
inline CubicWeights Weights(float tf)
{
    const double t = tf;
    const double sixth = 1.0 / 6.0;
    const double third = 1.0 / 3.0;
    const double t2 = t * t;
    const double t3 = t2 * t;
    CubicWeights r;
    r.w[0] = (-t3 * sixth + t2 * 0.5) - t * third;
    r.w[1] = ((t3 * 0.5 + 1.0) - t2) - t * 0.5;
    r.w[2] = (-t3 * 0.5 + t2 * 0.5) + t;
    r.w[3] = t3 * sixth - t * sixth;
    return r;
}

template <typename T>
inline const T* RowAt(const void* base, ptrdiff_t step, ptrdiff_t row)
{
    return reinterpret_cast<const T*>(static_cast<const char*>(base) + step * row);
}

template <typename T>
inline double CubicChannel(const T* w0, ptrdiff_t step, int stride, const CubicWeights& wx, const CubicWeights& wy)
{
    double s[4];
    for (int j = 0; j < 4; ++j) {
        const T* p = reinterpret_cast<const T*>(reinterpret_cast<const char*>(w0) + step * j);
        s[j] = wx.w[0] * static_cast<double>(p[0]) + wx.w[1] * static_cast<double>(p[stride]) +
               wx.w[2] * static_cast<double>(p[2 * stride]) + wx.w[3] * static_cast<double>(p[3 * stride]);
    }
    return wy.w[0] * s[0] + wy.w[1] * s[1] + wy.w[2] * s[2] + wy.w[3] * s[3];
}

template <typename T>
inline void CubicPoint(const T* window, ptrdiff_t step, int stride, T* out, int channels, float tx, float ty)
{
    const CubicWeights wx = Weights(tx);
    const CubicWeights wy = Weights(ty);
    for (int c = 0; c < channels; ++c)
        out[c] = StoreCubic<T>(CubicChannel(window + c, step, stride, wx, wy));
}

template <typename T>
inline void CubicPointPlanar(const T* const* planes, ptrdiff_t step, ptrdiff_t windowOffset, T* const* dst,
                             ptrdiff_t dstOffset, int planeCount, float tx, float ty)
{
    const CubicWeights wx = Weights(tx);
    const CubicWeights wy = Weights(ty);
    for (int c = 0; c < planeCount; ++c)
        dst[c][dstOffset] = StoreCubic<T>(CubicChannel(
            reinterpret_cast<const T*>(reinterpret_cast<const char*>(planes[c]) + windowOffset), step, 1, wx, wy));
}

// Cubic window origin along one axis: the 4-sample window always lies inside [0, max].
inline int CubicOrigin(double xb, int max)
{
    if (!(xb < max - 1))
        return max - 3;
    if (xb < 1.0)
        return 0;
    return static_cast<int>(xb) - 1;
}

// Channels: samples computed per pixel; Stride: samples per source and destination pixel
// (1 for planes); Planar: the pointers are plane arrays. A stride of 4 with 3 channels
// keeps the fourth sample.
template <typename T, int Channels, int Stride, bool Planar, int Interp>
void RowKernel(const void* src, void* dst, int srcStep, int dstStep, int firstRow, int lastRow,
               const int32_t* spans, const double* inv, int xmax, int ymax, const void*)
{
    const ptrdiff_t sstep = srcStep;
    const ptrdiff_t dstep = dstStep;
    const double a0 = inv[0], a1 = inv[1], a2 = inv[2], a3 = inv[3], a4 = inv[4], a5 = inv[5];
    // Positions inside a span lie in the source image up to rounding; these bounds only
    // keep pathological maps (huge coefficients, accumulated error) inside the image.
    const double loX = -0.5, loY = -0.5;
    const double hiX = xmax + 0.5, hiY = ymax + 0.5;

    const T* const* srcPlanes = nullptr;
    T* dstPlanes[Channels > 0 ? Channels : 1] = {};
    if constexpr (Planar) {
        srcPlanes = static_cast<const T* const*>(src);
        T* const* given = static_cast<T* const*>(dst);
        for (int c = 0; c < Channels; ++c)
            dstPlanes[c] = given[c];
    }

    double rx = a1 * firstRow + a2;
    double ry = a4 * firstRow + a5;
    for (int row = firstRow; row <= lastRow; ++row) {
        const ptrdiff_t i = row - firstRow;
        const int left = spans[2 * i];
        const int right = spans[2 * i + 1];
        if (left <= right) {
            double x = a0 * left + rx;
            double y = a3 * left + ry;
            T* drow = nullptr;
            T* drows[Channels > 0 ? Channels : 1] = {};
            if constexpr (Planar) {
                for (int c = 0; c < Channels; ++c)
                    drows[c] = reinterpret_cast<T*>(reinterpret_cast<char*>(dstPlanes[c]) + dstep * i);
            } else {
                drow = reinterpret_cast<T*>(static_cast<char*>(dst) + dstep * i);
            }
            for (int X = left; X <= right; ++X, x += a0, y += a3) {
                const ptrdiff_t dOff = static_cast<ptrdiff_t>(X) * Stride;
                if constexpr (Interp == 0) {
                    const int ix = static_cast<int>(std::min(std::max(x + 0.5, 0.0), static_cast<double>(xmax)));
                    const int iy = static_cast<int>(std::min(std::max(y + 0.5, 0.0), static_cast<double>(ymax)));
                    if constexpr (Planar) {
                        for (int c = 0; c < Channels; ++c)
                            drows[c][X] = RowAt<T>(srcPlanes[c], sstep, iy)[ix];
                    } else {
                        const T* s = RowAt<T>(src, sstep, iy) + static_cast<ptrdiff_t>(ix) * Stride;
                        for (int c = 0; c < Channels; ++c)
                            drow[dOff + c] = s[c];
                    }
                } else if constexpr (Interp == 1) {
                    const double xc = std::min(std::max(x, loX), hiX);
                    const double yc = std::min(std::max(y, loY), hiY);
                    const double xb = xc + 1e-7;
                    const double yb = yc + 1e-7;
                    int ix, iy;
                    double fx, fy;
                    if (xb >= xmax) {
                        ix = xmax - 1;
                        fx = 1.0;
                    } else {
                        ix = xb < 0.0 ? 0 : static_cast<int>(xb);
                        fx = xc - ix;
                    }
                    if (yb >= ymax) {
                        iy = ymax - 1;
                        fy = 1.0;
                    } else {
                        iy = yb < 0.0 ? 0 : static_cast<int>(yb);
                        fy = yc - iy;
                    }
                    if constexpr (Planar) {
                        for (int c = 0; c < Channels; ++c) {
                            const T* r0 = RowAt<T>(srcPlanes[c], sstep, iy) + ix;
                            const T* r1 = RowAt<T>(srcPlanes[c], sstep, iy + 1) + ix;
                            const double p00 = r0[0], p01 = r0[1], p10 = r1[0], p11 = r1[1];
                            const double top = p00 + (p01 - p00) * fx;
                            const double bottom = p10 + (p11 - p10) * fx;
                            drows[c][X] = StoreLinear<T>(top + (bottom - top) * fy);
                        }
                    } else {
                        const T* r0 = RowAt<T>(src, sstep, iy) + static_cast<ptrdiff_t>(ix) * Stride;
                        const T* r1 = RowAt<T>(src, sstep, iy + 1) + static_cast<ptrdiff_t>(ix) * Stride;
                        for (int c = 0; c < Channels; ++c) {
                            const double p00 = r0[c], p01 = r0[c + Stride], p10 = r1[c], p11 = r1[c + Stride];
                            const double top = p00 + (p01 - p00) * fx;
                            const double bottom = p10 + (p11 - p10) * fx;
                            drow[dOff + c] = StoreLinear<T>(top + (bottom - top) * fy);
                        }
                    }
                } else {
                    const double xc = std::min(std::max(x, loX), hiX);
                    const double yc = std::min(std::max(y, loY), hiY);
                    const int sx = CubicOrigin(xc + 1e-7, xmax);
                    const int sy = CubicOrigin(yc + 1e-7, ymax);
                    const float tx = static_cast<float>(xc - 1 - sx);
                    const float ty = static_cast<float>(yc - 1 - sy);
                    if constexpr (Planar) {
                        CubicPointPlanar<T>(srcPlanes, sstep,
                                            sy * sstep + static_cast<ptrdiff_t>(sx) * static_cast<ptrdiff_t>(sizeof(T)),
                                            drows, X, Channels, tx, ty);
                    } else {
                        const T* w = RowAt<T>(src, sstep, sy) + static_cast<ptrdiff_t>(sx) * Stride;
                        CubicPoint<T>(w, sstep, Stride, drow + dOff, Channels, tx, ty);
                    }
                }
            }
        }
        rx += a1;
        ry += a4;
    }
}

} // namespace

#define WARP_KERNEL_DEF(name, T, C, S, P, I)                                                             \
    void name(const void* src, void* dst, int srcStep, int dstStep, int firstRow, int lastRow,          \
              const int32_t* spans, const double* inv, int xmax, int ymax, const void* aux)              \
    {                                                                                                    \
        RowKernel<T, C, S, P, I>(src, dst, srcStep, dstStep, firstRow, lastRow, spans, inv, xmax, ymax, aux); \
    }

#define WARP_KERNEL_TRIPLE(suffix, T, C, S, P)                    \
    WARP_KERNEL_DEF(warp_row_nearest_##suffix, T, C, S, P, 0)     \
    WARP_KERNEL_DEF(warp_row_linear_##suffix, T, C, S, P, 1)      \
    WARP_KERNEL_DEF(warp_row_cubic_##suffix, T, C, S, P, 2)

#define WARP_KERNEL_TYPE(tag, T)                       \
    WARP_KERNEL_TRIPLE(gray##tag, T, 1, 1, false)      \
    WARP_KERNEL_TRIPLE(rgb##tag, T, 3, 3, false)       \
    WARP_KERNEL_TRIPLE(rgbx##tag, T, 3, 4, false)      \
    WARP_KERNEL_TRIPLE(planar3_##tag, T, 3, 1, true)   \
    WARP_KERNEL_TRIPLE(rgba##tag, T, 4, 4, false)      \
    WARP_KERNEL_TRIPLE(planar4_##tag, T, 4, 1, true)

WARP_KERNEL_TYPE(8, uint8_t)
WARP_KERNEL_TYPE(32f, float)
WARP_KERNEL_TYPE(16, uint16_t)

#define WARP_KERNEL_ADDRESS(name) &name,

const warp_kernel_table warp_generic_kernels = {WARP_KERNEL_LIST(WARP_KERNEL_ADDRESS)};

namespace {
#define WARP_KERNEL_SLOT(name) &warp_kernel_table::name,
const warp_row_kernel warp_kernel_table::* const kSlots[] = {WARP_KERNEL_LIST(WARP_KERNEL_SLOT)};
static_assert(sizeof(kSlots) / sizeof(kSlots[0]) == warp_kernel_count, "54 kernel slots");
} // namespace

warp_row_kernel warp_kernel_at(const warp_kernel_table& table, int slot)
{
    if (slot < 0 || slot >= warp_kernel_count)
        return nullptr;
    return table.*kSlots[slot];
}

void warp_cubic_point_8(const uint8_t* window, int srcStep, int pixelStride, uint8_t* out, int channels,
                        float tx, float ty)
{
    CubicPoint<uint8_t>(window, srcStep, pixelStride, out, channels, tx, ty);
}

void warp_cubic_point_16(const uint16_t* window, int srcStep, int pixelStride, uint16_t* out, int channels,
                         float tx, float ty)
{
    CubicPoint<uint16_t>(window, srcStep, pixelStride, out, channels, tx, ty);
}

void warp_cubic_point_32f(const float* window, int srcStep, int pixelStride, float* out, int channels,
                          float tx, float ty)
{
    CubicPoint<float>(window, srcStep, pixelStride, out, channels, tx, ty);
}

void warp_cubic_point_planar_8(const uint8_t* const* planes, int srcStep, ptrdiff_t windowOffset,
                               uint8_t* const* dstPlanes, ptrdiff_t dstOffset, int planeCount, float tx, float ty)
{
    CubicPointPlanar<uint8_t>(planes, srcStep, windowOffset, dstPlanes, dstOffset, planeCount, tx, ty);
}

void warp_cubic_point_planar_16(const uint16_t* const* planes, int srcStep, ptrdiff_t windowOffset,
                                uint16_t* const* dstPlanes, ptrdiff_t dstOffset, int planeCount, float tx,
                                float ty)
{
    CubicPointPlanar<uint16_t>(planes, srcStep, windowOffset, dstPlanes, dstOffset, planeCount, tx, ty);
}

void warp_cubic_point_planar_32f(const float* const* planes, int srcStep, ptrdiff_t windowOffset,
                                 float* const* dstPlanes, ptrdiff_t dstOffset, int planeCount, float tx,
                                 float ty)
{
    CubicPointPlanar<float>(planes, srcStep, windowOffset, dstPlanes, dstOffset, planeCount, tx, ty);
}
