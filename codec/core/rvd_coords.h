// Points, sizes and index pairs of the codec: vertical first, in memory and in every
// argument list.
#pragma once

#include <cstdint>

struct rvd_coords {
    int32_t y = 0;
    int32_t x = 0;

    rvd_coords() = default;
    rvd_coords(int32_t y_, int32_t x_) : y(y_), x(x_) {}

    void transpose()
    {
        int32_t t = y;
        y = x;
        x = t;
    }
    // Real to apparent geometry: transpose first, then negate the flipped coordinates.
    void to_apparent(bool transp, bool vflip, bool hflip)
    {
        if (transp)
            transpose();
        if (vflip)
            y = -y;
        if (hflip)
            x = -x;
    }
    // The exact inverse of to_apparent.
    void from_apparent(bool transp, bool vflip, bool hflip)
    {
        if (vflip)
            y = -y;
        if (hflip)
            x = -x;
        if (transp)
            transpose();
    }
    bool operator==(const rvd_coords& o) const { return y == o.y && x == o.x; }
    bool operator!=(const rvd_coords& o) const { return !(*this == o); }
};

// Ceiling and floor division by a positive divisor, exact for negative numerators.
inline int32_t rvd_ceil_ratio(int32_t v, int32_t d)
{
    return v > 0 ? (v - 1) / d + 1 : v / d;
}
inline int32_t rvd_floor_ratio(int32_t v, int32_t d)
{
    return v >= 0 ? v / d : -1 - ((-1 - v) / d);
}
inline int64_t rvd_ceil_ratio64(int64_t v, int64_t d)
{
    return v > 0 ? (v - 1) / d + 1 : v / d;
}
inline int64_t rvd_floor_ratio64(int64_t v, int64_t d)
{
    return v >= 0 ? v / d : -1 - ((-1 - v) / d);
}
