#include "WarpSimdModel.h"

#include "image/WarpAffine.h"
#include "image/WarpCubicWeights.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace warpmodel {

namespace {

int Held(long v, long lo, long hi) { return static_cast<int>(std::min(std::max(v, lo), hi)); }
long Truncated(double v) { return v <= -4e9 ? -4000000000L : v >= 4e9 ? 4000000000L : static_cast<long>(v); }

// Sample access by format: address of sample (i, j) of channel c from an origin or plane array.
struct Samples {
    int type, channels, stride, bytes;
    bool planar;
    explicit Samples(int format)
    {
        static const int kChannels[6] = {1, 3, 3, 3, 4, 4}, kStride[6] = {1, 3, 4, 1, 4, 1};
        const int layout = format & 7;
        type = format >> 3;
        channels = kChannels[layout];
        stride = kStride[layout];
        planar = layout == 3 || layout == 5;
        bytes = type == 0 ? 1 : type == 1 ? 4 : 2;
    }
    char* at(const void* base, long step, long i, long j, int c) const
    {
        if (planar)
            return static_cast<char* const*>(base)[c] + j * step + i * bytes;
        return static_cast<char*>(const_cast<void*>(base)) + j * step + (i * stride + c) * bytes;
    }
    double get(const void* base, long step, long i, long j, int c) const
    {
        const char* p = at(base, step, i, j, c);
        float f;
        uint16_t u;
        if (type == 0)
            return static_cast<uint8_t>(*p);
        if (type == 1)
            return std::memcpy(&f, p, 4), f;
        return std::memcpy(&u, p, 2), u;
    }
    void put(void* base, long i, int c, double v) const
    {
        char* p = at(base, 0, i, 0, c);
        if (type == 0) {
            *p = static_cast<char>(static_cast<uint8_t>(v));
        } else if (type == 1) {
            const float f = static_cast<float>(v);
            std::memcpy(p, &f, 4);
        } else {
            const uint16_t u = static_cast<uint16_t>(v);
            std::memcpy(p, &u, 2);
        }
    }
};

} // namespace

namespace {

// Window start of a cubic point along one axis: min(trunc, max - 2), one back when above 0,
// never below 0.
long CubicStart(float v, int max)
{
    long start = std::min(Truncated(v), static_cast<long>(max) - 2);
    if (start > 0)
        --start;
    return std::max(start, 0L);
}

void CubicRows(int format, const void* src, void* dst, int srcStep, int dstStep, int firstRow, int lastRow,
               const int32_t* spans, const double* inv, int xmax, int ymax)
{
    const Samples s(format);
    const auto& table = cubic_weight_block;
    double bx = inv[1] * firstRow + inv[2], by = inv[4] * firstRow + inv[5];
    char* planes[4] = {};
    for (long k = 0; k <= static_cast<long>(lastRow) - firstRow; ++k, bx += inv[1], by += inv[4]) {
        void* row = static_cast<char*>(dst) + k * dstStep;
        if (s.planar) {
            for (int c = 0; c < s.channels; ++c)
                planes[c] = static_cast<char**>(dst)[c] + k * dstStep;
            row = planes;
        }
        double px = inv[0] * spans[2 * k] + bx, py = inv[3] * spans[2 * k] + by;
        for (long X = spans[2 * k]; X <= spans[2 * k + 1]; ++X, px += inv[0], py += inv[3]) {
            const float x = static_cast<float>(px), y = static_cast<float>(py);
            if (!(x >= -1.0f && y >= -1.0f && x <= xmax + 1.0f && y <= ymax + 1.0f))
                continue;
            const long sx = CubicStart(x, xmax), sy = CubicStart(y, ymax);
            const float dx = x - static_cast<float>(sx), dy = y - static_cast<float>(sy);
            // 8-bit: table weights at 1/512 pixel, taps 0, 1 from entry k, taps 3, 2 mirrored.
            int wx[4], wy[4];
            const int kx = Held(static_cast<long>(std::nearbyint(dx * 512.0f)), 0, 1536);
            const int ky = Held(static_cast<long>(std::nearbyint(dy * 512.0f)), 0, 1536);
            for (int j = 0; j < 2; ++j) {
                wx[j] = table.pairs[kx][j];
                wx[3 - j] = table.pairs[1536 - kx][j];
                wy[j] = table.pairs[ky][j];
                wy[3 - j] = table.pairs[1536 - ky][j];
            }
            // 16-bit and float: tap j's weight (C3 f^3 + C2 f^2) + (C1 f + C0), rows in tap order 3..0.
            float fx[4], fy[4];
            const float f = dx - 1.0f, g = dy - 1.0f;
            for (int j = 0; j < 4; ++j) {
                const float(*c)[4] = table.poly;
                fx[j] = (c[3][3 - j] * (f * (f * f)) + c[2][3 - j] * (f * f)) + (c[1][3 - j] * f + c[0][3 - j]);
                fy[j] = (c[3][3 - j] * (g * (g * g)) + c[2][3 - j] * (g * g)) + (c[1][3 - j] * g + c[0][3 - j]);
            }
            for (int c = 0; c < s.channels; ++c) {
                if (s.type == 0) {
                    long v = 0;
                    for (int r = 0; r < 4; ++r) {
                        long h = 0;
                        for (int t = 0; t < 4; ++t)
                            h += static_cast<long>(s.get(src, srcStep, sx + t, sy + r, c)) * wx[t];
                        v += (h >> 8) * wy[r];
                    }
                    s.put(row, X, c, Held((v + 524288) >> 20, 0, 255));
                    continue;
                }
                float h[4];
                for (int r = 0; r < 4; ++r) {
                    float p[4];
                    for (int t = 0; t < 4; ++t)
                        p[t] = static_cast<float>(s.get(src, srcStep, sx + t, sy + r, c));
                    h[r] = (p[0] * fx[0] + p[1] * fx[1]) + (p[2] * fx[2] + p[3] * fx[3]);
                }
                const float v = (h[1] * fy[1] + h[3] * fy[3]) + (h[0] * fy[0] + h[2] * fy[2]);
                s.put(row, X, c, s.type == 1 ? v : Held(static_cast<long>(std::nearbyint(v)), 0, 65535));
            }
        }
    }
}

} // namespace

void RowKernel(bool single, int format, int interpolation, const void* src, void* dst, int srcStep, int dstStep,
               int firstRow, int lastRow, const int32_t* spans, const double* inv, int xmax, int ymax)
{
    if (interpolation == 4)
        return CubicRows(format, src, dst, srcStep, dstStep, firstRow, lastRow, spans, inv, xmax, ymax);
    const Samples s(format);
    const bool nearest = interpolation == 1;
    // Single precision: coefficients rounded, the first row base formed in double from them.
    const float c0f = static_cast<float>(inv[0]), c1f = static_cast<float>(inv[1]);
    const float c3f = static_cast<float>(inv[3]), c4f = static_cast<float>(inv[4]);
    float bxf = static_cast<float>(firstRow * static_cast<double>(c1f) + inv[2]);
    float byf = static_cast<float>(firstRow * static_cast<double>(c4f) + inv[5]);
    double bx = firstRow * inv[1] + inv[2], by = firstRow * inv[4] + inv[5];
    char* planes[4] = {};
    for (long k = 0; k <= static_cast<long>(lastRow) - firstRow; ++k) {
        void* row = static_cast<char*>(dst) + k * dstStep;
        if (s.planar) {
            for (int c = 0; c < s.channels; ++c)
                planes[c] = static_cast<char**>(dst)[c] + k * dstStep;
            row = planes;
        }
        const long x0 = spans[2 * k], x1 = spans[2 * k + 1];
        const float half = nearest ? 0.5f : 0.0f;
        float sxf = static_cast<float>(x0) * c0f + bxf + half, syf = static_cast<float>(x0) * c3f + byf + half;
        double sx = x0 * inv[0] + bx + half, sy = x0 * inv[3] + by + half;
        for (long X = x0; X <= x1; ++X, sxf += c0f, syf += c3f, sx += inv[0], sy += inv[3]) {
            const long tx = Truncated(single ? sxf : sx), ty = Truncated(single ? syf : sy);
            if (nearest) {
                for (int c = 0; c < s.channels; ++c)
                    s.put(row, X, c, s.get(src, srcStep, Held(tx, 0, xmax), Held(ty, 0, ymax), c));
                continue;
            }
            // The edge rule, then the bounds; fractions from the index, in the family's precision.
            const int i = Held(tx == xmax ? xmax - 1 : tx, 0, xmax - 1);
            const int j = Held(ty == ymax ? ymax - 1 : ty, 0, ymax - 1);
            const double fx = std::min(std::max(sx - i, 0.0), 1.0), fy = std::min(std::max(sy - j, 0.0), 1.0);
            const float fxf = single ? std::min(std::max(sxf - static_cast<float>(i), 0.0f), 1.0f) : static_cast<float>(fx);
            const float fyf = single ? std::min(std::max(syf - static_cast<float>(j), 0.0f), 1.0f) : static_cast<float>(fy);
            for (int c = 0; c < s.channels; ++c) {
                const double q00 = s.get(src, srcStep, i, j, c), q01 = s.get(src, srcStep, i + 1, j, c);
                const double q10 = s.get(src, srcStep, i, j + 1, c), q11 = s.get(src, srcStep, i + 1, j + 1, c);
                if (s.type == 0) {
                    const int Fx = static_cast<int>(single ? std::nearbyint(fxf * 16384.0f) : std::nearbyint(fx * 16384.0));
                    const int Fy = static_cast<int>(single ? std::nearbyint(fyf * 16384.0f) : std::nearbyint(fy * 16384.0));
                    auto sat = [](long v) { return Held(v, -32768, 32767); };
                    const int top = sat((static_cast<int>(q00) * sat(16384 - Fx) + static_cast<int>(q01) * sat(Fx)) >> 8);
                    const int bottom = sat((static_cast<int>(q10) * sat(16384 - Fx) + static_cast<int>(q11) * sat(Fx)) >> 8);
                    const int r = (top * sat(16384 - Fy) + bottom * sat(Fy) + 0x80000) >> 20;
                    s.put(row, X, c, (format & 7) == 4 ? Held(r, 0, 255) : (r & 255));
                    continue;
                }
                const float p00 = static_cast<float>(q00), p01 = static_cast<float>(q01);
                const float p10 = static_cast<float>(q10), p11 = static_cast<float>(q11);
                float r;
                if (format == 8) // gray32f: weights, horizontal first
                    r = (p00 * (1.0f - fxf) + p01 * fxf) * (1.0f - fyf) + (p10 * (1.0f - fxf) + p11 * fxf) * fyf;
                else if (format == 16) // gray16: weights, vertical first
                    r = (p00 * (1.0f - fyf) + p10 * fyf) * (1.0f - fxf) + (p01 * (1.0f - fyf) + p11 * fyf) * fxf;
                else {
                    const float top = p00 + (p01 - p00) * fxf, bottom = p10 + (p11 - p10) * fxf;
                    r = top + (bottom - top) * fyf;
                }
                s.put(row, X, c, s.type == 1 ? r : Held(static_cast<long>(std::nearbyint(r)), 0, 65535));
            }
        }
        bxf += c1f;
        byf += c4f;
        bx += inv[1];
        by += inv[4];
    }
}

int Warp(bool single, const void* src, int srcWidth, int srcHeight, int srcStep, int sx, int sy, int sw, int sh,
         void* dst, int dstStep, int dx, int dy, int dw, int dh, int format, const double* coeffs, int interpolation)
{
    if (interpolation == 4 && (srcWidth < 4 || srcHeight < 4))
        interpolation = 2;
    const int x1 = sx + std::min(srcWidth - sx, sw) - 1, y1 = sy + std::min(srcHeight - sy, sh) - 1;
    double quad[8], inv[6];
    if (warp_map_source_roi(coeffs, sx, sy, x1, y1, quad) < 0)
        return -56;
    const int orientation = warp_inverse_from_quadrangle(quad, sx, sy, x1, y1, 0, inv);
    warp_span_table spans;
    if (!warp_build_spans(quad, orientation, dx, dy, dx + dw - 1, dy + dh - 1, spans))
        return 30;
    const long offset = static_cast<long>(dstStep) * spans.firstRow;
    char* planes[4] = {};
    void* first = static_cast<char*>(dst) + offset;
    if (Samples(format).planar) {
        for (int c = 0; c < Samples(format).channels; ++c)
            planes[c] = static_cast<char**>(dst)[c] + offset;
        first = planes;
    }
    RowKernel(single, format, interpolation, src, first, srcStep, dstStep, spans.firstRow, spans.lastRow,
              spans.spans, inv, srcWidth - 1, srcHeight - 1);
    return 0;
}

} // namespace warpmodel
