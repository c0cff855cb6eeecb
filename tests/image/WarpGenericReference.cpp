#include "WarpGenericReference.h"

#include <algorithm>

namespace {

template <typename T>
T Linear(double v)
{
    if constexpr (sizeof(T) == 1)
        return static_cast<T>(static_cast<int>(v + 0.5));
    else if constexpr (sizeof(T) == 2)
        return static_cast<T>(static_cast<int>(v)); // 16-bit truncates
    else
        return static_cast<T>(v);
}

template <typename T>
T Cubic(double v)
{
    if constexpr (sizeof(T) == 4) {
        return static_cast<T>(v);
    } else {
        const double top = sizeof(T) == 1 ? 255.0 : 65535.0;
        if (v > top)
            return static_cast<T>(top);
        if (v < 0.0)
            return 0;
        return static_cast<T>(static_cast<int>(v + 0.5));
    }
}

// Lagrange weights of the samples at -1, 0, 1, 2, from a single-precision fraction.
void Weights(float tf, double w[4])
{
    const double t = tf, t2 = t * t, t3 = t2 * t;
    w[0] = (-t3 * (1.0 / 6.0) + t2 * 0.5) - t * (1.0 / 3.0);
    w[1] = ((t3 * 0.5 + 1.0) - t2) - t * 0.5;
    w[2] = (-t3 * 0.5 + t2 * 0.5) + t;
    w[3] = t3 * (1.0 / 6.0) - t * (1.0 / 6.0);
}

int Origin(double b, int max)
{
    if (!(b < max - 1))
        return max - 3;
    return b < 1.0 ? 0 : static_cast<int>(b) - 1;
}

// Linear index and fraction along one axis.
void Split(double v, int max, int& i, double& f)
{
    const double c = std::min(std::max(v, -0.5), max + 0.5);
    const double b = c + 1e-7;
    if (b >= max) {
        i = max - 1;
        f = 1.0;
    } else {
        i = b < 0.0 ? 0 : static_cast<int>(b);
        f = c - i;
    }
}

template <typename T, int Channels, int Stride, bool Planar, int Interp>
void Walk(const void* src, void* dst, int srcStep, int dstStep, int firstRow, int lastRow, const int32_t* spans,
          const double* inv, int xmax, int ymax, const void*)
{
    // Sample c of source pixel (x, y) and destination pixel X of row i.
    auto in = [&](int c, int x, int y) {
        const char* base = Planar ? static_cast<const char* const*>(src)[c] : static_cast<const char*>(src);
        return static_cast<double>(
            reinterpret_cast<const T*>(base + static_cast<ptrdiff_t>(srcStep) * y)[Planar ? x : x * Stride + c]);
    };
    auto out = [&](int c, int X, ptrdiff_t i) -> T& {
        char* base = Planar ? static_cast<char* const*>(dst)[c] : static_cast<char*>(dst);
        return reinterpret_cast<T*>(base + static_cast<ptrdiff_t>(dstStep) * i)[Planar ? X : X * Stride + c];
    };
    double rx = inv[1] * firstRow + inv[2], ry = inv[4] * firstRow + inv[5];
    for (int row = firstRow; row <= lastRow; ++row, rx += inv[1], ry += inv[4]) {
        const ptrdiff_t i = row - firstRow;
        double x = inv[0] * spans[2 * i] + rx, y = inv[3] * spans[2 * i] + ry;
        for (int X = spans[2 * i]; X <= spans[2 * i + 1]; ++X, x += inv[0], y += inv[3]) {
            for (int c = 0; c < Channels; ++c) {
                if constexpr (Interp == 0) {
                    const int ix = static_cast<int>(std::min(std::max(x + 0.5, 0.0), static_cast<double>(xmax)));
                    const int iy = static_cast<int>(std::min(std::max(y + 0.5, 0.0), static_cast<double>(ymax)));
                    out(c, X, i) = static_cast<T>(in(c, ix, iy));
                } else if constexpr (Interp == 1) {
                    int ix, iy;
                    double fx, fy;
                    Split(x, xmax, ix, fx);
                    Split(y, ymax, iy, fy);
                    const double top = in(c, ix, iy) + (in(c, ix + 1, iy) - in(c, ix, iy)) * fx;
                    const double bottom = in(c, ix, iy + 1) + (in(c, ix + 1, iy + 1) - in(c, ix, iy + 1)) * fx;
                    out(c, X, i) = Linear<T>(top + (bottom - top) * fy);
                } else {
                    const double xc = std::min(std::max(x, -0.5), xmax + 0.5);
                    const double yc = std::min(std::max(y, -0.5), ymax + 0.5);
                    const int sx = Origin(xc + 1e-7, xmax), sy = Origin(yc + 1e-7, ymax);
                    double wx[4], wy[4];
                    Weights(static_cast<float>(xc - 1 - sx), wx);
                    Weights(static_cast<float>(yc - 1 - sy), wy);
                    double sum = 0.0;
                    for (int j = 0; j < 4; ++j) {
                        const double r = wx[0] * in(c, sx, sy + j) + wx[1] * in(c, sx + 1, sy + j) +
                                         wx[2] * in(c, sx + 2, sy + j) + wx[3] * in(c, sx + 3, sy + j);
                        sum = j == 0 ? wy[0] * r : sum + wy[j] * r;
                    }
                    out(c, X, i) = Cubic<T>(sum);
                }
            }
        }
    }
}

} // namespace

#define REF_TRIPLE(T, C, S, P) &Walk<T, C, S, P, 0>, &Walk<T, C, S, P, 1>, &Walk<T, C, S, P, 2>,
#define REF_TYPE(T)                                                                                         \
    REF_TRIPLE(T, 1, 1, false) REF_TRIPLE(T, 3, 3, false) REF_TRIPLE(T, 3, 4, false) REF_TRIPLE(T, 3, 1, true) \
        REF_TRIPLE(T, 4, 4, false) REF_TRIPLE(T, 4, 1, true)

const warp_kernel_table warpref::kernels = {REF_TYPE(uint8_t) REF_TYPE(float) REF_TYPE(uint16_t)};
