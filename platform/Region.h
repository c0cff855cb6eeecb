// A set of pixels held as disjoint rectangles: visible regions of windows and the clip
// regions of device contexts.
#pragma once

#include "platform/WinTypes.h"

#include <vector>

namespace platform {

class Region {
public:
    Region() = default;
    explicit Region(const RECT& r) { add(r); }
    // From rectangles known not to overlap (a filler's spans): no pairwise work.
    static Region fromDisjoint(std::vector<RECT> rects);

    const std::vector<RECT>& rects() const { return rects_; }
    bool empty() const { return rects_.empty(); }
    RECT bounds() const;
    bool contains(int x, int y) const;

    void clear() { rects_.clear(); }
    void intersect(const RECT& r);
    void intersect(const Region& other);
    void subtract(const RECT& r);
    void subtract(const Region& other);
    void unite(const RECT& r);
    void unite(const Region& other);
    void offset(int dx, int dy);

private:
    void add(const RECT& r);
    std::vector<RECT> rects_;
};

inline bool rectEmpty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }
inline RECT rectIntersect(const RECT& a, const RECT& b)
{
    RECT r{a.left > b.left ? a.left : b.left, a.top > b.top ? a.top : b.top,
           a.right < b.right ? a.right : b.right, a.bottom < b.bottom ? a.bottom : b.bottom};
    if (rectEmpty(r))
        r = RECT{0, 0, 0, 0};
    return r;
}

} // namespace platform
