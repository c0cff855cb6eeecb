#include "codec/core/rvd_dims.h"

#include <algorithm>

bool rvd_dims::intersects(const rvd_dims& o) const
{
    if (is_empty() || o.is_empty())
        return false;
    // 64-bit far edges: pos + size may pass the 32-bit range.
    int64_t ay2 = int64_t(pos.y) + size.y, ax2 = int64_t(pos.x) + size.x;
    int64_t by2 = int64_t(o.pos.y) + o.size.y, bx2 = int64_t(o.pos.x) + o.size.x;
    return pos.y < by2 && o.pos.y < ay2 && pos.x < bx2 && o.pos.x < ax2;
}

rvd_dims rvd_dims::operator&=(const rvd_dims& o)
{
    int64_t y2 = std::min(int64_t(pos.y) + size.y, int64_t(o.pos.y) + o.size.y);
    int64_t x2 = std::min(int64_t(pos.x) + size.x, int64_t(o.pos.x) + o.size.x);
    pos.y = std::max(pos.y, o.pos.y);
    pos.x = std::max(pos.x, o.pos.x);
    size.y = int32_t(std::max<int64_t>(0, y2 - pos.y));
    size.x = int32_t(std::max<int64_t>(0, x2 - pos.x));
    return *this;
}

void rvd_dims::transpose_and_flip(bool transp, bool vflip, bool hflip)
{
    if (transp) {
        pos.transpose();
        size.transpose();
    }
    if (vflip)
        pos.y = 1 - pos.y - size.y;
    if (hflip)
        pos.x = 1 - pos.x - size.x;
}

void rvd_dims::from_apparent(bool transp, bool vflip, bool hflip)
{
    if (vflip)
        pos.y = 1 - pos.y - size.y;
    if (hflip)
        pos.x = 1 - pos.x - size.x;
    if (transp) {
        pos.transpose();
        size.transpose();
    }
}
