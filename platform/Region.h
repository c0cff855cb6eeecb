// A set of pixels held as disjoint rectangles: visible regions of windows and the clip
// regions of device contexts.
#pragma once

#include "platform/WinTypes.h"

#include <algorithm>
#include <vector>

namespace platform {

class Region {
public:
    Region() = default;
    explicit Region(const RECT& r) { add(r); }
    // From rectangles known not to overlap (a filler's spans): no pairwise work.
    static Region fromDisjoint(std::vector<RECT> rects);
    // The union of rectangles that may overlap, band by band: no pairwise subtraction.
    static Region fromRects(std::vector<RECT> rects);

    const std::vector<RECT>& rects() const { return rects_; }
    bool empty() const { return rects_.empty(); }
    RECT bounds() const;
    bool contains(int x, int y) const;

    // Orders the rectangles by their tops so that contains() and eachInRow() look only at
    // those near a row: drawing tests every pixel against clips of thousands of
    // rectangles (ellipses, paths). Any change drops the order until index() again.
    void index();
    // f(left, right) for each rectangle covering row y.
    template <class F>
    void eachInRow(int y, F f) const
    {
        if (!indexed_) {
            for (const RECT& r : rects_)
                if (y >= r.top && y < r.bottom)
                    f(int(r.left), int(r.right));
            return;
        }
        // Rectangles starting above y - tallest_ end before it.
        const int64_t from = int64_t(y) - tallest_ + 1;
        auto it = std::lower_bound(rects_.begin(), rects_.end(), from,
                                   [](const RECT& r, int64_t v) { return r.top < v; });
        for (; it != rects_.end() && it->top <= y; ++it)
            if (y < it->bottom)
                f(int(it->left), int(it->right));
    }

    void clear()
    {
        rects_.clear();
        indexed_ = false;
    }
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
    bool indexed_ = false;
    int64_t tallest_ = 0;
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
