// Line kernels of the region decompressor: decoded lines into the working forms,
// horizontal expansion and vertical interpolation at rational factors, and the transfer
// of finished rows into 8-bit or 16-bit caller buffers.
//
// Working forms: 16-bit lines hold fixed point with 13 fraction bits, 32-bit lines fixed
// point with 29 fraction bits; both stand for the nominal range -0.5..0.5.
#pragma once

#include <cstdint>

namespace rv_region {

constexpr int frac16 = 13;
constexpr int frac32 = 29;

// ---- Decoded line to working form ----
// Floats: times 2^13 or 2^29, nearest integer with halves away from zero, saturated.
void float_to_fix16(const float* src, std::int16_t* dst, int n);
void float_to_fix32(const float* src, std::int32_t* dst, int n);
// Exact integers of bit depth `depth`: scaled by 2^(F - depth), or shifted right when
// that is negative.
void abs16_to_fix16(const std::int16_t* src, std::int16_t* dst, int n, int depth);
void abs16_to_fix32(const std::int16_t* src, std::int32_t* dst, int n, int depth);
void abs32_to_fix16(const std::int32_t* src, std::int16_t* dst, int n, int depth);
void abs32_to_fix32(const std::int32_t* src, std::int32_t* dst, int n, int depth);
// 13-fraction-bit samples into a 32-bit working line.
void fix16_to_fix32(const std::int16_t* src, std::int32_t* dst, int n);

// ---- Decoded line to palette indices of `bits` bits, clipped to 0..2^bits-1 ----
void float_to_index(const float* src, std::int16_t* dst, int n, int bits, bool is_signed);
void fix16_to_index(const std::int16_t* src, std::int16_t* dst, int n, int bits, bool is_signed);
void abs16_to_index(const std::int16_t* src, std::int16_t* dst, int n, int depth, int bits,
                    bool is_signed);
void abs32_to_index(const std::int32_t* src, std::int16_t* dst, int n, int depth, int bits,
                    bool is_signed);

// ---- Expansion ----
// Output sample k stands at position (phase + k * den) in units of 1/num of a source
// step from source sample 0. With den == 1 each output takes source sample
// floor(position / num); otherwise it lies between the older sample a and the newer
// sample b = ceil(position / num) and takes the quarter-step rule of interpolate().
// Positions before the first or past the last source sample take that end sample.
void expand16(const std::int16_t* src, int src_len, std::int16_t* dst, int dst_len, int num,
              int den, std::int64_t phase);
void expand32(const std::int32_t* src, int src_len, std::int32_t* dst, int dst_len, int num,
              int den, std::int64_t phase);
// The same with the samples taken through a palette table (indices in src; the table
// has 2^bits entries).
void expand_palette(const std::int16_t* src, int src_len, const std::int16_t* table,
                    std::int16_t* dst, int dst_len, int num, int den, std::int64_t phase);

// The quarter-step rule between older sample a and newer sample b, with q the distance
// from the output position to b in units of 1/num of a source step (0 <= q < num).
inline std::int32_t interpolate(std::int32_t a, std::int32_t b, std::int64_t q, int num)
{
    if (4 * q <= num)
        return b;
    if (2 * q <= num)
        return b + ((a - b + 2) >> 2);
    if (4 * q < 3 * std::int64_t(num))
        return (a + b) >> 1;
    return a + ((b - a + 2) >> 2);
}
// Whole lines: dst = interpolate(a, b, q, num) for every sample.
void interpolate16(const std::int16_t* a, const std::int16_t* b, std::int16_t* dst, int n,
                   std::int64_t q, int num);
void interpolate32(const std::int32_t* a, const std::int32_t* b, std::int32_t* dst, int n,
                   std::int64_t q, int num);

// ---- Transfer into caller buffers ----
// Writes n samples at every `gap` samples of dst at precision `bits` (signed values are
// centred on 0), clipped to the range of the destination's sample type.
void transfer16_to8(const std::int16_t* src, std::uint8_t* dst, int n, int gap, int bits,
                    bool is_signed);
void transfer16_to16(const std::int16_t* src, std::uint16_t* dst, int n, int gap, int bits,
                     bool is_signed);
void transfer32_to8(const std::int32_t* src, std::uint8_t* dst, int n, int gap, int bits,
                    bool is_signed);
void transfer32_to16(const std::int32_t* src, std::uint16_t* dst, int n, int gap, int bits,
                     bool is_signed);
// Packed pixels from 16-bit lines at precision 8: r, g, b into bits 16-23, 8-15 and 0-7,
// a (255 when null) into bits 24-31.
void pack16_argb(const std::int16_t* r, const std::int16_t* g, const std::int16_t* b,
                 const std::int16_t* a, std::uint32_t* dst, int n);
// Sets n bytes at every `gap` bytes to 255.
void fill_alpha(std::uint8_t* dst, int n, int gap);

} // namespace rv_region
