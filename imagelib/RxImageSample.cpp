// Resampling: the colour of an image at a real-valued point through sixteen interpolation
// methods and six edge rules. Windows wholly inside a 24-bit image take direct paths over the
// pixel rows; every other case reads tap by tap through GetPixelColorEdged.
#include "imagelib/RxImage.h"

#include <cmath>

namespace {

constexpr float kPi = 3.1415927410125732f;
constexpr float kTwoPi = 6.2831854820251465f;
// Points are clamped to this before they become integers, so any input gives a colour.
constexpr float kFar = 1073741824.0f;

float Sane(float v)
{
    if (std::isnan(v))
        return -kFar;
    return v < -kFar ? -kFar : (v > kFar ? kFar : v);
}

// Whole-number part: truncation, minus one for negatives (-1.0 gives -2).
long WholePart(float v)
{
    return long(v) - (v < 0 ? 1 : 0);
}

float Cube(float u) { return u > 0 ? u * u * u : 0.0f; }

float KernelBSpline(float d)
{
    if (d > 2)
        return 0;
    return (Cube(d + 2) - 4 * Cube(d + 1) + 6 * Cube(d) - 4 * Cube(d - 1)) * 0.1666666716337204f;
}

float KernelCubic(float d, float a)
{
    const float t = std::fabs(d);
    if (t < 1)
        return (a + 2) * t * t * t - (a + 3) * t * t + 1;
    if (t < 2)
        return a * t * t * t - 5 * a * t * t + 8 * a * t - 4 * a;
    return 0;
}

float KernelCubicMinusOne(float d)
{
    const float t = std::fabs(d);
    if (t < 1)
        return t * t * t - 2 * t * t + 1;
    if (t < 2)
        return 4 - 8 * t + 5 * t * t - t * t * t;
    return 0;
}

float KernelWindowedSinc(float d, float r)
{
    if (d == 0)
        return 1;
    if (std::fabs(d) > r)
        return 0;
    const float pd = kPi * d;
    const float pdr = pd / r;
    return std::sin(pd) / pd * std::sin(pdr) / pdr;
}

float KernelSinc(float d)
{
    if (d == 0)
        return 1;
    const float pd = kPi * d;
    return std::sin(pd) / pd;
}

float Kernel(long method, float d)
{
    const float t = std::fabs(d);
    switch (method) {
    case 3: return KernelBSpline(d);
    case 4: return KernelCubicMinusOne(d);
    case 5: return KernelCubic(d, -0.5f);
    case 7: return (d >= -0.5f && d < 0.5f) ? 1.0f : 0.0f;
    case 8: return (d >= -1 && d < 1) ? (2 * t - 3) * d * d + 1 : 0.0f;
    case 9: return (d >= -1 && d < 1) ? (2 * t - 3) * 0.9200000166893005f * d * d + 1 : 0.0f;
    case 10: return KernelSinc(d);
    case 11: return 0.41999998688697815f + 0.5f * std::cos(kPi * d) + 0.07999999821186066f * std::cos(kTwoPi * d);
    case 12: return d == 0 ? 0.7853982f : RxImage::BesselJ1(kPi * d) / (2 * d);
    case 13: return std::exp(-2 * d * d) * 0.7978845834732056f;
    case 14:
        if (d >= -1.5f && d < -0.5f)
            return 0.5f * (d + 1.5f) * (d + 1.5f);
        if (d >= -0.5f && d < 0.5f)
            return 0.75f - d * d;
        if (d >= 0.5f && d < 1.5f)
            return 0.5f * (d - 1.5f) * (d - 1.5f);
        return 0;
    case 15:
        if (d < -2 || d >= 2)
            return 0;
        if (t < 1)
            return 1.1666666269302368f * t * t * t - 2 * t * t + 0.8888888955116272f;
        return -0.3888888657093048f * t * t * t + 2 * t * t - 3.3333332538604736f * t + 1.7777777910232544f;
    case 16:
        if (d < -2 || d >= 2)
            return 0;
        if (d < -1)
            return 0.5f * (d * d * d + 5 * d * d + 8 * d + 4);
        if (d < 0)
            return 0.5f * (2 - 5 * d * d - 3 * d * d * d);
        if (d < 1)
            return 0.5f * (3 * d * d * d - 5 * d * d + 2);
        return 0.5f * (-d * d * d + 5 * d * d - 8 * d + 4);
    default: return 0;
    }
}

double Polynomial(const double* c, int n, double u)
{
    double v = 0;
    for (int i = 0; i < n; ++i)
        v = v * u + c[i];
    return v;
}

BYTE ClampByte(float v)
{
    return v <= 0 ? BYTE(0) : (v >= 255 ? BYTE(255) : BYTE(v));
}

} // namespace

float RxImage::BesselJ1(float xf)
{
    static const double p[] = {2701.1227108923235, -4695753.530642996, 3413234182.3017006,
                               -1322983480332.1265, 290879526383477.56, -35888175699101060.0,
                               2316433580634002432.0, -66721065689249161216.0, 581199354001606115328.0};
    static const double q[] = {1, 1606.9315734814877, 1501793.5949985855, 1013863514.358674,
                               524371026216.76495, 208166122130760.75, 60920613989175216.0,
                               11857707121903210496.0, 1162398708003212230656.0};
    static const double p1n[] = {1.2571716929145342, 211.15291828539623, 4985.4832060594335,
                                 31353.963110915956, 62758.84524716128, 35224.66491336798};
    static const double p1d[] = {1, 203.07751891347593, 4930.396490181089,
                                 31240.406381904104, 62694.34695935605, 35224.66491336798};
    static const double q1n[] = {0.03532840052740124, 4.568171629551227, 83.18989576738508,
                                 425.98730116544425, 721.0391804904475, 351.17519143035526};
    static const double q1d[] = {1, 103.81875854621337, 1811.1867005523513,
                                 9152.231701516992, 15414.177339265098, 7491.737417180912};
    const double x = xf;
    if (x == 0)
        return 0;
    const double s = std::fabs(x);
    if (s < 8) {
        const double u = s * s;
        return float(x * Polynomial(p, 9, u) / Polynomial(q, 9, u));
    }
    const double z = 8 / s, u = z * z;
    const double sn = float(std::sin(s)), cs = float(std::cos(s));
    const double p1 = Polynomial(p1n, 6, u) / Polynomial(p1d, 6, u);
    const double q1 = Polynomial(q1n, 6, u) / Polynomial(q1d, 6, u);
    double v = std::sqrt(2 / (double(kPi) * s)) * (p1 * (sn - cs) + z * q1 * (sn + cs)) / double(float(std::sqrt(2.0)));
    return float(x < 0 ? -v : v);
}

RGBQUAD RxImage::PixelColorInside(long x, long y) const
{
    if (head.biClrUsed)
        return GetPaletteColor(GetPixelIndex(x, y));
    const BYTE* p = pBits + size_t(info.dwEffWidth) * size_t(y) + size_t(x) * 3;
    return RGBQUAD{p[0], p[1], p[2], BYTE(pAlpha ? pAlpha[size_t(head.biWidth) * size_t(y) + size_t(x)] : 0)};
}

void RxImage::MoveIntoImage(long& x, long& y, long edgeRule) const
{
    const long w = head.biWidth, h = head.biHeight;
    if (w <= 0 || h <= 0 || (x >= 0 && x < w && y >= 0 && y < h))
        return;
    auto wrap = [](long c, long size) {
        c %= size;
        return c < 0 ? c + size : c;
    };
    auto clamp = [](long c, long size) {
        if (c <= 0)
            c = 0;
        return c >= size - 1 ? size - 1 : c;
    };
    auto mirror = [](long c, long size) {
        if (c < 0)
            return (-c) % size;
        if (c >= size)
            return size - (c % size) - 1;
        return c;
    };
    switch (edgeRule) {
    case 4: x = wrap(x, w); y = wrap(y, h); break;
    case 5: x = clamp(x, w); y = clamp(y, h); break;
    case 6: x = mirror(x, w); y = mirror(y, h); break;
    default: break;
    }
}

void RxImage::MoveIntoImage(float& x, float& y, long edgeRule) const
{
    const float w = float(head.biWidth), h = float(head.biHeight);
    x = Sane(x);
    y = Sane(y);
    if (w <= 0 || h <= 0 || (x >= 0 && x < w && y >= 0 && y < h))
        return;
    auto wrap = [](float c, float size) {
        c = float(std::fmod(c, size));
        return c < 0 ? c + size : c;
    };
    auto clamp = [](float c, float size) { return c < 0 ? 0 : (c > size - 1 ? size - 1 : c); };
    auto mirror = [](float c, float size) {
        if (c < 0)
            return float(std::fmod(-c, size));
        if (c >= size)
            return float(size - std::fmod(c, size) - 1);
        return c;
    };
    switch (edgeRule) {
    case 4: x = wrap(x, w); y = wrap(y, h); break;
    case 5: x = clamp(x, w); y = clamp(y, h); break;
    case 6: x = mirror(x, w); y = mirror(y, h); break;
    default: break;
    }
}

RGBQUAD RxImage::GetPixelColorEdged(long x, long y, long edgeRule, RGBQUAD* replacement) const
{
    if (pDib && x >= 0 && x < head.biWidth && y >= 0 && y < head.biHeight)
        return PixelColorInside(x, y);
    RGBQUAD colour = replacement ? *replacement : RGBQUAD{255, 255, 255, 0};
    if (!pDib)
        return colour;
    switch (edgeRule) {
    case 2:
        if (info.nBkgndIndex != -1)
            return head.biBitCount >= 24 ? info.nBkgndColor : GetPaletteColor(BYTE(info.nBkgndIndex));
        return colour;
    case 3:
        if (pAlpha) {
            colour.rgbReserved = 0;
            return colour;
        }
        return info.nBkgndIndex >= 0 ? GetTransColor() : colour;
    case 4:
    case 5:
    case 6:
        MoveIntoImage(x, y, edgeRule);
        if (x >= 0 && x < head.biWidth && y >= 0 && y < head.biHeight)
            return PixelColorInside(x, y);
        return colour;
    default: return colour;
    }
}

RGBQUAD RxImage::SampleInterpolated(float x, float y, long method, long edgeRule, RGBQUAD* replacement) const
{
    x = Sane(x);
    y = Sane(y);
    if (method == 1)
        return GetPixelColorEdged(long(x + 0.5f), long(y + 0.5f), edgeRule, replacement);
    if (method < 1 || method > 16)
        method = 2;
    if (!pDib)
        return GetPixelColorEdged(0, 0, edgeRule, replacement);
    const long w = head.biWidth, h = head.biHeight;
    const bool direct24 = head.biClrUsed == 0 && head.biBitCount == 24;
    long xi = WholePart(x), yi = WholePart(y);
    // Taps reach this far before and after the whole-number point.
    const long before = method == 2 ? 0 : (method == 6 ? 5 : 1);
    const long after = method == 2 ? 1 : (method == 6 ? 6 : 2);
    if (xi + after < 0 || xi - before >= w || yi + after < 0 || yi - before >= h) {
        if (edgeRule >= 1 && edgeRule <= 3)
            return GetPixelColorEdged(-999, -999, edgeRule, replacement);
        MoveIntoImage(x, y, edgeRule);
        xi = WholePart(x);
        yi = WholePart(y);
    }

    if (method == 2) {
        if (direct24 && xi >= 0 && xi + 1 < w && yi >= 0 && yi + 1 < h) {
            const unsigned fx = unsigned((x - float(xi)) * 256), fy = unsigned((y - float(yi)) * 256);
            const unsigned fxy = (fx * fy) >> 8;
            const unsigned w00 = 256 - (fy - fxy) - fx, w10 = fx - fxy, w01 = fy - fxy, w11 = fxy;
            const BYTE* r0 = pBits + size_t(info.dwEffWidth) * size_t(yi) + size_t(xi) * 3;
            const BYTE* r1 = r0 + info.dwEffWidth;
            RGBQUAD c;
            c.rgbBlue = BYTE((w00 * r0[0] + w10 * r0[3] + w01 * r1[0] + w11 * r1[3]) >> 8);
            c.rgbGreen = BYTE((w00 * r0[1] + w10 * r0[4] + w01 * r1[1] + w11 * r1[4]) >> 8);
            c.rgbRed = BYTE((w00 * r0[2] + w10 * r0[5] + w01 * r1[2] + w11 * r1[5]) >> 8);
            c.rgbReserved = 0;
            if (pAlpha) {
                const BYTE* a0 = pAlpha + size_t(w) * size_t(yi) + size_t(xi);
                const BYTE* a1 = a0 + w;
                c.rgbReserved = BYTE((w00 * a0[0] + w10 * a0[1] + w01 * a1[0] + w11 * a1[1]) >> 8);
            }
            return c;
        }
        const float fx = x - float(xi), fy = y - float(yi), fxy = fx * fy;
        const float wt[4] = {1 - fx - (fy - fxy), fx - fxy, fy - fxy, fxy};
        const RGBQUAD q[4] = {GetPixelColorEdged(xi, yi, edgeRule, replacement),
                              GetPixelColorEdged(xi + 1, yi, edgeRule, replacement),
                              GetPixelColorEdged(xi, yi + 1, edgeRule, replacement),
                              GetPixelColorEdged(xi + 1, yi + 1, edgeRule, replacement)};
        float r = 0, g = 0, b = 0, a = 0;
        for (int i = 0; i < 4; ++i) {
            r += wt[i] * q[i].rgbRed;
            g += wt[i] * q[i].rgbGreen;
            b += wt[i] * q[i].rgbBlue;
            a += wt[i] * q[i].rgbReserved;
        }
        return RGBQUAD{ClampByte(b), ClampByte(g), ClampByte(r), pAlpha ? ClampByte(a) : BYTE(0)};
    }

    // Separable kernels: 4 x 4 taps, or 12 x 12 for the windowed sinc.
    const int taps = int(before + after + 1);
    float wx[12], wy[12];
    for (int k = 0; k < taps; ++k) {
        const float dx = float(xi - before + k) - x, dy = float(yi - before + k) - y;
        wx[k] = method == 6 ? KernelWindowedSinc(dx, 6) : Kernel(method, dx);
        wy[k] = method == 6 ? KernelWindowedSinc(dy, 6) : Kernel(method, dy);
    }
    float r = 0, g = 0, b = 0, a = 0;
    if (direct24 && xi - before >= 0 && xi + after < w && yi - before >= 0 && yi + after < h) {
        for (int k = 0; k < taps; ++k) {
            const long row = yi - before + k;
            const BYTE* p = pBits + size_t(info.dwEffWidth) * size_t(row) + size_t(xi - before) * 3;
            const BYTE* pa = pAlpha ? pAlpha + size_t(w) * size_t(row) + size_t(xi - before) : nullptr;
            for (int j = 0; j < taps; ++j, p += 3) {
                const float wt = wx[j] * wy[k];
                b += wt * p[0];
                g += wt * p[1];
                r += wt * p[2];
                if (pa)
                    a += wt * pa[j];
            }
        }
    } else {
        for (int k = 0; k < taps; ++k)
            for (int j = 0; j < taps; ++j) {
                const float wt = wx[j] * wy[k];
                const RGBQUAD q = GetPixelColorEdged(xi - before + j, yi - before + k, edgeRule, replacement);
                b += wt * q.rgbBlue;
                g += wt * q.rgbGreen;
                r += wt * q.rgbRed;
                a += wt * q.rgbReserved;
            }
    }
    return RGBQUAD{ClampByte(b), ClampByte(g), ClampByte(r), pAlpha ? ClampByte(a) : BYTE(0)};
}
