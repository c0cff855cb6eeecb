#include "WarpSimdModel.h"

#include "image/WarpAffine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace warpmodel {

namespace {

struct Shape {
    int type;     // 0 8-bit, 1 float, 2 16-bit
    int channels; // samples computed
    int stride;   // samples per interleaved pixel
    bool planar;
};

Shape Describe(int format)
{
    static const int kChannels[6] = {1, 3, 3, 3, 4, 4};
    static const int kStride[6] = {1, 3, 4, 1, 4, 1};
    const int layout = format & 7;
    return {format >> 3, kChannels[layout], kStride[layout], layout == 3 || layout == 5};
}

int Bytes(const Shape& s) { return s.type == 0 ? 1 : s.type == 1 ? 4 : 2; }

// Byte address of sample (i, j) of channel c.
char* At(const Shape& s, void* base, long step, long i, long j, int c)
{
    if (s.planar)
        return static_cast<char**>(base)[c] + j * step + i * Bytes(s);
    return static_cast<char*>(base) + j * step + (i * s.stride + c) * Bytes(s);
}

double Get(const Shape& s, const void* base, long step, long i, long j, int c)
{
    const char* p = At(s, const_cast<void*>(base), step, i, j, c);
    if (s.type == 0)
        return static_cast<uint8_t>(*p);
    if (s.type == 1) {
        float f;
        std::memcpy(&f, p, 4);
        return f;
    }
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

void Put(const Shape& s, void* base, long step, long i, int c, double v)
{
    char* p = At(s, base, step, i, 0, c);
    if (s.type == 0) {
        *p = static_cast<char>(static_cast<uint8_t>(v));
    } else if (s.type == 1) {
        const float f = static_cast<float>(v);
        std::memcpy(p, &f, 4);
    } else {
        const uint16_t u = static_cast<uint16_t>(v);
        std::memcpy(p, &u, 2);
    }
}

int Truncated(double v) { return v <= -2147483648.0 ? INT32_MIN : v >= 2147483647.0 ? INT32_MAX : static_cast<int>(v); }
int Held(int v, int lo, int hi) { return std::min(std::max(v, lo), hi); }
int Saturated16(int v) { return Held(v, -32768, 32767); }

} // namespace

void RowKernel(bool single, int format, int interpolation, const void* src, void* dst, int srcStep, int dstStep,
               int firstRow, int lastRow, const int32_t* spans, const double* inv, int xmax, int ymax)
{
    if (lastRow - firstRow < 0)
        return;
    const Shape s = Describe(format);
    const bool nearest = interpolation == 1;
    // Single precision: coefficients rounded, the first row base formed in double.
    const float c0f = static_cast<float>(inv[0]), c1f = static_cast<float>(inv[1]);
    const float c3f = static_cast<float>(inv[3]), c4f = static_cast<float>(inv[4]);
    float bxf = static_cast<float>(firstRow * static_cast<double>(c1f) + inv[2]);
    float byf = static_cast<float>(firstRow * static_cast<double>(c4f) + inv[5]);
    double bx = firstRow * inv[1] + inv[2], by = firstRow * inv[4] + inv[5];
    char* planes[4] = {};
    void* rowBase = s.planar ? static_cast<void*>(planes) : nullptr;
    for (long k = 0; k <= static_cast<long>(lastRow) - firstRow; ++k) {
        if (s.planar) {
            for (int c = 0; c < s.channels; ++c)
                planes[c] = static_cast<char**>(dst)[c] + k * dstStep;
        } else {
            rowBase = static_cast<char*>(dst) + k * dstStep;
        }
        const int x0 = spans[2 * k], x1 = spans[2 * k + 1];
        if (x1 - static_cast<long>(x0) >= 0) {
            float sxf = static_cast<float>(x0) * c0f + bxf, syf = static_cast<float>(x0) * c3f + byf;
            double sx = x0 * inv[0] + bx, sy = x0 * inv[3] + by;
            if (nearest) {
                sxf += 0.5f;
                syf += 0.5f;
                sx += 0.5;
                sy += 0.5;
            }
            for (long X = x0; X <= x1; ++X) {
                const double px = single ? sxf : sx, py = single ? syf : sy;
                if (nearest) {
                    const int i = Held(Truncated(px), 0, xmax), j = Held(Truncated(py), 0, ymax);
                    for (int c = 0; c < s.channels; ++c)
                        Put(s, rowBase, 0, X, c, Get(s, src, srcStep, i, j, c));
                } else {
                    int i = Truncated(px), j = Truncated(py);
                    if (i == xmax)
                        i = xmax - 1;
                    if (j == ymax)
                        j = ymax - 1;
                    i = Held(i, 0, xmax - 1);
                    j = Held(j, 0, ymax - 1);
                    // Fractions from the moved index, in the family's precision, held to [0, 1].
                    float fxf, fyf;
                    double fx = 0, fy = 0;
                    if (single) {
                        fxf = std::min(std::max(sxf - static_cast<float>(i), 0.0f), 1.0f);
                        fyf = std::min(std::max(syf - static_cast<float>(j), 0.0f), 1.0f);
                    } else {
                        fx = std::min(std::max(sx - i, 0.0), 1.0);
                        fy = std::min(std::max(sy - j, 0.0), 1.0);
                        fxf = static_cast<float>(fx);
                        fyf = static_cast<float>(fy);
                    }
                    for (int c = 0; c < s.channels; ++c) {
                        const double q00 = Get(s, src, srcStep, i, j, c), q01 = Get(s, src, srcStep, i + 1, j, c);
                        const double q10 = Get(s, src, srcStep, i, j + 1, c);
                        const double q11 = Get(s, src, srcStep, i + 1, j + 1, c);
                        if (s.type == 0) {
                            const int Fx = single ? static_cast<int>(std::nearbyint(fxf * 16384.0f))
                                                  : static_cast<int>(std::nearbyint(fx * 16384.0));
                            const int Fy = single ? static_cast<int>(std::nearbyint(fyf * 16384.0f))
                                                  : static_cast<int>(std::nearbyint(fy * 16384.0));
                            const int wx0 = Saturated16(16384 - Fx), wx1 = Saturated16(Fx);
                            const int wy0 = Saturated16(16384 - Fy), wy1 = Saturated16(Fy);
                            const int top = Saturated16((static_cast<int>(q00) * wx0 + static_cast<int>(q01) * wx1) >> 8);
                            const int bottom =
                                Saturated16((static_cast<int>(q10) * wx0 + static_cast<int>(q11) * wx1) >> 8);
                            const int r = (top * wy0 + bottom * wy1 + 0x80000) >> 20;
                            Put(s, rowBase, 0, X, c, (format & 7) == 4 ? Held(r, 0, 255) : (r & 255));
                            continue;
                        }
                        const float p00 = static_cast<float>(q00), p01 = static_cast<float>(q01);
                        const float p10 = static_cast<float>(q10), p11 = static_cast<float>(q11);
                        float r;
                        if (format == 8)
                            r = (p00 * (1.0f - fxf) + p01 * fxf) * (1.0f - fyf) + (p10 * (1.0f - fxf) + p11 * fxf) * fyf;
                        else if (format == 16)
                            r = (p00 * (1.0f - fyf) + p10 * fyf) * (1.0f - fxf) + (p01 * (1.0f - fyf) + p11 * fyf) * fxf;
                        else {
                            const float top = p00 + (p01 - p00) * fxf;
                            const float bottom = p10 + (p11 - p10) * fxf;
                            r = top + (bottom - top) * fyf;
                        }
                        if (s.type == 1)
                            Put(s, rowBase, 0, X, c, r);
                        else
                            Put(s, rowBase, 0, X, c, Held(static_cast<int>(std::nearbyint(r)), 0, 65535));
                    }
                }
                sxf += c0f;
                syf += c3f;
                sx += inv[0];
                sy += inv[3];
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
    const int x1 = sx + std::min(srcWidth - sx, sw) - 1, y1 = sy + std::min(srcHeight - sy, sh) - 1;
    double quad[8], inv[6];
    if (warp_map_source_roi(coeffs, sx, sy, x1, y1, quad) < 0)
        return -56;
    const int orientation = warp_inverse_from_quadrangle(quad, sx, sy, x1, y1, 0, inv);
    warp_span_table spans;
    if (!warp_build_spans(quad, orientation, dx, dy, dx + dw - 1, dy + dh - 1, spans))
        return 30;
    const Shape s = Describe(format);
    const long offset = static_cast<long>(dstStep) * spans.firstRow;
    char* planes[4] = {};
    void* first = static_cast<char*>(dst) + offset;
    if (s.planar) {
        for (int c = 0; c < s.channels; ++c)
            planes[c] = static_cast<char**>(dst)[c] + offset;
        first = planes;
    }
    RowKernel(single, format, interpolation, src, first, srcStep, dstStep, spans.firstRow, spans.lastRow,
              spans.spans, inv, srcWidth - 1, srcHeight - 1);
    return 0;
}

} // namespace warpmodel
