// Rectangles of the codec: a top-left position and a size, vertical first.
#pragma once

#include "codec/core/rvd_coords.h"

struct rvd_dims {
    rvd_coords pos;
    rvd_coords size;

    rvd_dims() = default;
    rvd_dims(rvd_coords p, rvd_coords s) : pos(p), size(s) {}

    bool is_empty() const { return size.y < 1 || size.x < 1; }
    bool intersects(const rvd_dims& o) const;
    // Intersection in place; sizes are clamped to 0, never negative.
    rvd_dims operator&=(const rvd_dims& o);
    rvd_dims operator&(const rvd_dims& o) const
    {
        rvd_dims r = *this;
        r &= o;
        return r;
    }
    bool operator==(const rvd_dims& o) const { return pos == o.pos && size == o.size; }
    bool operator!=(const rvd_dims& o) const { return !(*this == o); }

    // Real to apparent geometry; a flipped rectangle covers -(p+s-1) .. -p.
    void transpose_and_flip(bool transp, bool vflip, bool hflip);
    void from_apparent(bool transp, bool vflip, bool hflip);
};
