#include "codec/jp2/rvd_region_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace rv_region {

namespace {

template <class Dst, class W>
inline Dst saturate(W v)
{
    const W lo = W(std::numeric_limits<Dst>::min()), hi = W(std::numeric_limits<Dst>::max());
    return Dst(v < lo ? lo : (v > hi ? hi : v));
}

template <class Dst>
void float_to_fix(const float* src, Dst* dst, int n, int frac)
{
    const double scale = std::ldexp(1.0, frac);
    const double lo = double(std::numeric_limits<Dst>::min());
    const double hi = double(std::numeric_limits<Dst>::max());
    for (int i = 0; i < n; ++i) {
        double v = double(src[i]) * scale;
        v = v >= 0 ? std::floor(v + 0.5) : -std::floor(0.5 - v);
        if (!(v >= lo)) // NaN lands on the low end too
            v = lo;
        else if (v > hi)
            v = hi;
        dst[i] = Dst(v);
    }
}

template <class Src, class Dst, class W>
void abs_to_fix(const Src* src, Dst* dst, int n, int shift)
{
    // Shifts beyond the word only ever saturate or vanish.
    shift = std::clamp(shift, -(int(sizeof(W)) * 8 - 1), int(sizeof(W) - sizeof(Src)) * 8 - 1);
    if (shift >= 0) {
        const W f = W(1) << shift;
        for (int i = 0; i < n; ++i)
            dst[i] = saturate<Dst, W>(W(src[i]) * f);
    } else {
        const int s = -shift;
        for (int i = 0; i < n; ++i)
            dst[i] = saturate<Dst, W>(W(src[i]) >> s);
    }
}

inline std::int16_t clip_index(std::int64_t v, std::int64_t top)
{
    return std::int16_t(v < 0 ? 0 : (v > top ? top : v));
}

inline std::int64_t floor_div(std::int64_t v, std::int64_t d)
{
    return v >= 0 ? v / d : -1 - ((-1 - v) / d);
}

// Source samples are read through `get` so that palette lookups share the loop.
template <class T, class Get>
void expand_any(const Get& get, int src_len, T* dst, int dst_len, int num, int den,
                std::int64_t phase)
{
    if (src_len < 1 || dst_len < 1)
        return;
    const std::int64_t last = src_len - 1;
    if (den == 1) {
        std::int64_t idx = floor_div(phase, num);
        int r = int(phase - idx * num);
        int k = 0;
        // Leading positions before sample 0.
        while (k < dst_len && idx < 0) {
            dst[k++] = get(0);
            if (++r == num) {
                r = 0;
                ++idx;
            }
        }
        if (num == 1) {
            const int body = int(std::min<std::int64_t>(dst_len - k, src_len - idx));
            for (int i = 0; i < body; ++i)
                dst[k + i] = get(int(idx) + i);
            k += std::max(body, 0);
            idx += std::max(body, 0);
        } else if (num == 2 && r == 0) {
            while (k + 1 < dst_len && idx <= last) {
                const T v = get(int(idx++));
                dst[k] = v;
                dst[k + 1] = v;
                k += 2;
            }
        } else {
            while (k < dst_len && idx <= last) {
                dst[k++] = get(int(idx));
                if (++r == num) {
                    r = 0;
                    ++idx;
                }
            }
        }
        const T tail = get(int(std::min(std::max<std::int64_t>(idx, 0), last)));
        for (; k < dst_len; ++k)
            dst[k] = tail;
        return;
    }
    // b = ceil(pos / num), q = b * num - pos in 0..num-1.
    std::int64_t b = -floor_div(-phase, num);
    std::int64_t q = b * num - phase;
    for (int k = 0; k < dst_len; ++k) {
        const std::int64_t ib = std::clamp<std::int64_t>(b, 0, last);
        const std::int64_t ia = std::clamp<std::int64_t>(b - 1, 0, last);
        dst[k] = T(interpolate(get(int(ia)), get(int(ib)), q, num));
        q -= den;
        while (q < 0) {
            q += num;
            ++b;
        }
    }
}

template <class T>
void interpolate_line(const T* a, const T* b, T* dst, int n, std::int64_t q, int num)
{
    if (4 * q <= num) {
        if (dst != b)
            std::memmove(dst, b, sizeof(T) * size_t(std::max(n, 0)));
    } else if (2 * q <= num) {
        for (int i = 0; i < n; ++i)
            dst[i] = T(b[i] + ((std::int32_t(a[i]) - b[i] + 2) >> 2));
    } else if (4 * q < 3 * std::int64_t(num)) {
        for (int i = 0; i < n; ++i)
            dst[i] = T((std::int32_t(a[i]) + b[i]) >> 1);
    } else {
        for (int i = 0; i < n; ++i)
            dst[i] = T(a[i] + ((std::int32_t(b[i]) - a[i] + 2) >> 2));
    }
}

// value = clip(clip((x + add) >> rshift, 0, maxv) << lshift - bias, lo, hi)
template <class W>
struct transfer_params {
    W add, maxv, bias, lo, hi;
    int rshift, lshift;
    transfer_params(int frac, int bits, bool is_signed, int sample_bits)
    {
        if (bits < 1)
            bits = 1;
        if (bits <= frac) {
            rshift = frac - bits;
            // No rounding term at full precision.
            add = (rshift > 0 ? W(1) << (rshift - 1) : W(0)) + (W(1) << (frac - 1));
            maxv = (W(1) << bits) - 1;
            lshift = 0;
        } else {
            rshift = 0;
            add = W(1) << (frac - 1);
            maxv = (W(1) << frac) - 1;
            lshift = bits - frac;
        }
        bias = is_signed ? W(1) << (bits - 1) : W(0);
        lo = is_signed ? -(W(1) << (sample_bits - 1)) : W(0);
        hi = is_signed ? (W(1) << (sample_bits - 1)) - 1 : (W(1) << sample_bits) - 1;
    }
};

template <class W, class Src, class Dst>
void transfer_line(const Src* src, Dst* dst, int n, int gap, const transfer_params<W>& t)
{
    const W add = t.add, maxv = t.maxv, bias = t.bias, lo = t.lo, hi = t.hi;
    const int rs = t.rshift, ls = t.lshift;
    if (gap == 1 && ls == 0) {
        for (int i = 0; i < n; ++i) {
            W v = (W(src[i]) + add) >> rs;
            v = v < 0 ? 0 : (v > maxv ? maxv : v);
            v -= bias;
            v = v < lo ? lo : (v > hi ? hi : v);
            dst[i] = Dst(v);
        }
        return;
    }
    for (int i = 0; i < n; ++i, dst += gap) {
        W v = (W(src[i]) + add) >> rs;
        v = v < 0 ? 0 : (v > maxv ? maxv : v);
        v = (v << ls) - bias;
        v = v < lo ? lo : (v > hi ? hi : v);
        *dst = Dst(v);
    }
}

} // namespace

void float_to_fix16(const float* src, std::int16_t* dst, int n) { float_to_fix(src, dst, n, frac16); }
void float_to_fix32(const float* src, std::int32_t* dst, int n) { float_to_fix(src, dst, n, frac32); }

void abs16_to_fix16(const std::int16_t* src, std::int16_t* dst, int n, int depth)
{
    abs_to_fix<std::int16_t, std::int16_t, std::int32_t>(src, dst, n, frac16 - depth);
}
void abs16_to_fix32(const std::int16_t* src, std::int32_t* dst, int n, int depth)
{
    abs_to_fix<std::int16_t, std::int32_t, std::int64_t>(src, dst, n, frac32 - depth);
}
void abs32_to_fix16(const std::int32_t* src, std::int16_t* dst, int n, int depth)
{
    abs_to_fix<std::int32_t, std::int16_t, std::int64_t>(src, dst, n, frac16 - depth);
}
void abs32_to_fix32(const std::int32_t* src, std::int32_t* dst, int n, int depth)
{
    abs_to_fix<std::int32_t, std::int32_t, std::int64_t>(src, dst, n, frac32 - depth);
}
void fix16_to_fix32(const std::int16_t* src, std::int32_t* dst, int n)
{
    for (int i = 0; i < n; ++i)
        dst[i] = std::int32_t(src[i]) * 65536;
}

void float_to_index(const float* src, std::int16_t* dst, int n, int bits, bool is_signed)
{
    const double scale = std::ldexp(1.0, bits);
    const std::int64_t top = (std::int64_t(1) << bits) - 1;
    const double centre = is_signed ? 0.0 : std::ldexp(1.0, bits - 1);
    for (int i = 0; i < n; ++i) {
        double v = std::floor(double(src[i]) * scale + 0.5) + centre;
        dst[i] = !(v >= 0) ? 0 : (v > double(top) ? std::int16_t(top) : std::int16_t(v));
    }
}

void fix16_to_index(const std::int16_t* src, std::int16_t* dst, int n, int bits, bool is_signed)
{
    const std::int64_t top = (std::int64_t(1) << bits) - 1;
    const std::int32_t centre = is_signed ? 0 : 4096;
    const int shift = frac16 - bits;
    if (shift > 0) {
        const std::int32_t add = (std::int32_t(1) << (shift - 1)) + centre;
        for (int i = 0; i < n; ++i)
            dst[i] = clip_index((std::int32_t(src[i]) + add) >> shift, top);
    } else {
        for (int i = 0; i < n; ++i)
            dst[i] = clip_index(std::int64_t(std::int32_t(src[i]) + centre) * (std::int64_t(1) << -shift), top);
    }
}

void abs16_to_index(const std::int16_t* src, std::int16_t* dst, int n, int depth, int bits,
                    bool is_signed)
{
    const std::int64_t top = (std::int64_t(1) << bits) - 1;
    const std::int64_t centre =
        is_signed || depth < 1 ? 0 : std::int64_t(1) << std::min(depth - 1, 40);
    for (int i = 0; i < n; ++i)
        dst[i] = clip_index(src[i] + centre, top);
}

void abs32_to_index(const std::int32_t* src, std::int16_t* dst, int n, int depth, int bits,
                    bool is_signed)
{
    const std::int64_t top = (std::int64_t(1) << bits) - 1;
    const std::int64_t centre =
        is_signed || depth < 1 ? 0 : std::int64_t(1) << std::min(depth - 1, 40);
    for (int i = 0; i < n; ++i)
        dst[i] = clip_index(src[i] + centre, top);
}

void expand16(const std::int16_t* src, int src_len, std::int16_t* dst, int dst_len, int num,
              int den, std::int64_t phase)
{
    expand_any<std::int16_t>([src](int i) { return src[i]; }, src_len, dst, dst_len, num, den, phase);
}

void expand32(const std::int32_t* src, int src_len, std::int32_t* dst, int dst_len, int num,
              int den, std::int64_t phase)
{
    expand_any<std::int32_t>([src](int i) { return src[i]; }, src_len, dst, dst_len, num, den, phase);
}

void expand_palette(const std::int16_t* src, int src_len, const std::int16_t* table,
                    std::int16_t* dst, int dst_len, int num, int den, std::int64_t phase)
{
    expand_any<std::int16_t>([src, table](int i) { return table[src[i]]; }, src_len, dst, dst_len,
                             num, den, phase);
}

void interpolate16(const std::int16_t* a, const std::int16_t* b, std::int16_t* dst, int n,
                   std::int64_t q, int num)
{
    interpolate_line(a, b, dst, n, q, num);
}

void interpolate32(const std::int32_t* a, const std::int32_t* b, std::int32_t* dst, int n,
                   std::int64_t q, int num)
{
    interpolate_line(a, b, dst, n, q, num);
}

void transfer16_to8(const std::int16_t* src, std::uint8_t* dst, int n, int gap, int bits,
                    bool is_signed)
{
    // Beyond 30 bits every non-zero value saturates a byte or a 16-bit sample already.
    transfer_line(src, dst, n, gap, transfer_params<std::int32_t>(frac16, std::min(bits, 30), is_signed, 8));
}

void transfer16_to16(const std::int16_t* src, std::uint16_t* dst, int n, int gap, int bits,
                     bool is_signed)
{
    transfer_line(src, dst, n, gap, transfer_params<std::int32_t>(frac16, std::min(bits, 30), is_signed, 16));
}

void transfer32_to8(const std::int32_t* src, std::uint8_t* dst, int n, int gap, int bits,
                    bool is_signed)
{
    transfer_line(src, dst, n, gap, transfer_params<std::int64_t>(frac32, std::min(bits, 60), is_signed, 8));
}

void transfer32_to16(const std::int32_t* src, std::uint16_t* dst, int n, int gap, int bits,
                     bool is_signed)
{
    transfer_line(src, dst, n, gap, transfer_params<std::int64_t>(frac32, std::min(bits, 60), is_signed, 16));
}

namespace {
inline std::uint32_t byte_of(std::int32_t x)
{
    std::int32_t v = (x + (16 + 4096)) >> 5;
    return std::uint32_t(v < 0 ? 0 : (v > 255 ? 255 : v));
}
} // namespace

void pack16_argb(const std::int16_t* r, const std::int16_t* g, const std::int16_t* b,
                 const std::int16_t* a, std::uint32_t* dst, int n)
{
    if (a == nullptr) {
        for (int i = 0; i < n; ++i)
            dst[i] = 0xFF000000u | byte_of(r[i]) << 16 | byte_of(g[i]) << 8 | byte_of(b[i]);
    } else {
        for (int i = 0; i < n; ++i)
            dst[i] = byte_of(a[i]) << 24 | byte_of(r[i]) << 16 | byte_of(g[i]) << 8 | byte_of(b[i]);
    }
}

void fill_alpha(std::uint8_t* dst, int n, int gap)
{
    for (int i = 0; i < n; ++i, dst += gap)
        *dst = 255;
}

} // namespace rv_region
