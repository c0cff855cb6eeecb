#include "codec/coding/rv_multi_line_ops.h"

#include <algorithm>
#include <cmath>

namespace {

inline int16_t wrap16(int64_t v)
{
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(v)));
}

inline int32_t wrap32(int64_t v)
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v)));
}

inline int16_t clip16(double v)
{
    return static_cast<int16_t>(std::min(32767.0, std::max(-32768.0, v)));
}

inline int64_t int_sample(const rv_line_samples& l, int i)
{
    return l.precise ? int64_t(static_cast<const int32_t*>(l.buf)[i])
                     : int64_t(static_cast<const int16_t*>(l.buf)[i]);
}

// A real source sample in normalised units.
inline double real_sample(const rv_line_samples& l, int i)
{
    return l.precise ? double(static_cast<const float*>(l.buf)[i])
                     : double(static_cast<const int16_t*>(l.buf)[i]) * (1.0 / 8192.0);
}

} // namespace

rv_line_samples rv_samples_of(const rvd_line_buf& line, int bit_depth)
{
    rv_line_samples s;
    s.precise = !line.is_shorts();
    s.reversible = line.is_absolute();
    s.buf = s.precise ? static_cast<void*>(line.get_buf32()) : static_cast<void*>(line.get_buf16());
    s.width = s.buf != nullptr ? line.get_width() : 0;
    s.bit_depth = bit_depth;
    return s;
}

int rv_fix16_offset(float v)
{
    const double f = std::floor(double(v) * 8192.0 + 0.5);
    if (!(f >= -2147483648.0)) // also catches NaN
        return f > 0 ? 2147483647 : -2147483647 - 1;
    if (f > 2147483647.0)
        return 2147483647;
    return static_cast<int>(f);
}

void rv_line_fill(const rv_line_samples& line, int int_off, float real_off)
{
    const int n = line.width;
    if (line.reversible) {
        if (line.precise)
            std::fill_n(line.i32(), n, int32_t(int_off));
        else
            std::fill_n(line.s16(), n, wrap16(int_off));
    } else if (line.precise) {
        std::fill_n(line.f32(), n, real_off);
    } else {
        std::fill_n(line.s16(), n, real_off == 0.0f ? int16_t(0) : wrap16(rv_fix16_offset(real_off)));
    }
}

void rv_line_add_offset(const rv_line_samples& line, int int_off, float real_off)
{
    const int n = line.width;
    if (line.reversible) {
        if (int_off == 0)
            return;
        if (line.precise) {
            int32_t* s = line.i32();
            for (int i = 0; i < n; ++i)
                s[i] = wrap32(int64_t(s[i]) + int_off);
        } else {
            int16_t* s = line.s16();
            for (int i = 0; i < n; ++i)
                s[i] = wrap16(int64_t(s[i]) + int_off);
        }
        return;
    }
    if (real_off == 0.0f)
        return;
    if (line.precise) {
        float* s = line.f32();
        for (int i = 0; i < n; ++i)
            s[i] += real_off;
    } else {
        const int64_t o = rv_fix16_offset(real_off);
        int16_t* s = line.s16();
        for (int i = 0; i < n; ++i)
            s[i] = wrap16(s[i] + o);
    }
}

void rv_line_copy(const rv_line_samples& dst, const rv_line_samples& src, int int_off,
                  float real_off)
{
    const int n = dst.width;
    if (dst.reversible) {
        if (src.reversible) {
            if (dst.precise) {
                int32_t* d = dst.i32();
                for (int i = 0; i < n; ++i)
                    d[i] = wrap32(int_sample(src, i) + int_off);
            } else {
                int16_t* d = dst.s16();
                for (int i = 0; i < n; ++i)
                    d[i] = wrap16(int_sample(src, i) + int_off);
            }
        } else {
            // Real data feeding an integer line: round its value at the source's depth.
            const double scale = std::ldexp(1.0, src.bit_depth);
            for (int i = 0; i < n; ++i) {
                double v = std::floor(real_sample(src, i) * scale + 0.5) + int_off;
                v = std::min(2147483647.0, std::max(-2147483648.0, v));
                if (dst.precise)
                    dst.i32()[i] = static_cast<int32_t>(v);
                else
                    dst.s16()[i] = wrap16(static_cast<int64_t>(v));
            }
        }
        return;
    }

    if (!dst.precise) {
        int16_t* d = dst.s16();
        if (src.precise && !src.reversible) {
            // Float source into fixed point: scale, round and clip.
            const double f = std::ldexp(8192.0, src.bit_depth - dst.bit_depth);
            const double o = rv_fix16_offset(real_off);
            const float* s = src.f32();
            for (int i = 0; i < n; ++i)
                d[i] = clip16(std::floor(s[i] * f + 0.5) + o);
            return;
        }
        const int k = src.reversible ? 13 : src.bit_depth;
        const int shift = k - dst.bit_depth;
        const int64_t o = rv_fix16_offset(real_off);
        if (shift == 0) {
            for (int i = 0; i < n; ++i)
                d[i] = wrap16(int_sample(src, i) + o);
        } else if (shift < 0) {
            // (x + 2^(s-1) + o 2^s) >> s, with the offset taken out of the shift so no
            // product leaves 64 bits; beyond 40 bits every 32-bit sample rounds to 0.
            const int s = std::min(-shift, 40);
            const int64_t half = int64_t(1) << (s - 1);
            for (int i = 0; i < n; ++i)
                d[i] = wrap16(((int_sample(src, i) + half) >> s) + o);
        } else {
            // Only the low 16 bits are kept, so any shift beyond 16 leaves just the offset.
            const int64_t mul = int64_t(1) << std::min(shift, 16);
            for (int i = 0; i < n; ++i)
                d[i] = wrap16(int_sample(src, i) * mul + o);
        }
        return;
    }

    float* d = dst.f32();
    if (src.reversible) {
        const float f = static_cast<float>(std::ldexp(1.0, -dst.bit_depth));
        for (int i = 0; i < n; ++i)
            d[i] = static_cast<float>(int_sample(src, i)) * f + real_off;
    } else if (src.precise) {
        const float* s = src.f32();
        if (src.bit_depth == dst.bit_depth) {
            for (int i = 0; i < n; ++i)
                d[i] = s[i] + real_off;
        } else {
            const float f = static_cast<float>(std::ldexp(1.0, src.bit_depth - dst.bit_depth));
            for (int i = 0; i < n; ++i)
                d[i] = s[i] * f + real_off;
        }
    } else {
        const float f = static_cast<float>(std::ldexp(1.0 / 8192.0, src.bit_depth - dst.bit_depth));
        const int16_t* s = src.s16();
        for (int i = 0; i < n; ++i)
            d[i] = float(s[i]) * f + real_off;
    }
}
