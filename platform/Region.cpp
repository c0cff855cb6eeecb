#include "platform/Region.h"

#include <algorithm>

namespace platform {

Region Region::fromDisjoint(std::vector<RECT> rects)
{
    Region r;
    rects.erase(std::remove_if(rects.begin(), rects.end(), [](const RECT& x) { return rectEmpty(x); }), rects.end());
    r.rects_ = std::move(rects);
    return r;
}

Region Region::fromRects(std::vector<RECT> rects)
{
    rects.erase(std::remove_if(rects.begin(), rects.end(), [](const RECT& x) { return rectEmpty(x); }), rects.end());
    std::vector<LONG> ys;
    for (const RECT& r : rects) {
        ys.push_back(r.top);
        ys.push_back(r.bottom);
    }
    std::sort(ys.begin(), ys.end());
    ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
    std::vector<RECT> out;
    std::vector<std::pair<LONG, LONG>> spans;
    for (size_t i = 0; i + 1 < ys.size(); ++i) {
        const LONG top = ys[i], bottom = ys[i + 1];
        spans.clear();
        for (const RECT& r : rects)
            if (r.top <= top && r.bottom >= bottom)
                spans.emplace_back(r.left, r.right);
        std::sort(spans.begin(), spans.end());
        for (size_t k = 0; k < spans.size();) {
            LONG l = spans[k].first, r = spans[k].second;
            for (++k; k < spans.size() && spans[k].first <= r; ++k)
                r = std::max(r, spans[k].second);
            out.push_back(RECT{l, top, r, bottom});
        }
    }
    return fromDisjoint(std::move(out));
}

RECT Region::bounds() const
{
    if (rects_.empty())
        return RECT{0, 0, 0, 0};
    RECT b = rects_[0];
    for (const RECT& r : rects_) {
        b.left = std::min(b.left, r.left);
        b.top = std::min(b.top, r.top);
        b.right = std::max(b.right, r.right);
        b.bottom = std::max(b.bottom, r.bottom);
    }
    return b;
}

bool Region::contains(int x, int y) const
{
    bool in = false;
    eachInRow(y, [&](int l, int r) { in = in || (x >= l && x < r); });
    return in;
}

void Region::index()
{
    std::sort(rects_.begin(), rects_.end(), [](const RECT& a, const RECT& b) { return a.top < b.top; });
    tallest_ = 0;
    for (const RECT& r : rects_)
        tallest_ = std::max<int64_t>(tallest_, int64_t(r.bottom) - r.top);
    indexed_ = true;
}

void Region::add(const RECT& r)
{
    indexed_ = false;
    if (!rectEmpty(r))
        rects_.push_back(r);
}

void Region::intersect(const RECT& clip)
{
    indexed_ = false;
    std::vector<RECT> out;
    for (const RECT& r : rects_) {
        RECT i = rectIntersect(r, clip);
        if (!rectEmpty(i))
            out.push_back(i);
    }
    rects_.swap(out);
}

void Region::intersect(const Region& other)
{
    indexed_ = false;
    std::vector<RECT> out;
    for (const RECT& r : rects_)
        for (const RECT& o : other.rects_) {
            RECT i = rectIntersect(r, o);
            if (!rectEmpty(i))
                out.push_back(i);
        }
    rects_.swap(out);
}

void Region::subtract(const RECT& cut)
{
    indexed_ = false;
    if (rectEmpty(cut))
        return;
    std::vector<RECT> out;
    for (const RECT& r : rects_) {
        RECT i = rectIntersect(r, cut);
        if (rectEmpty(i)) {
            out.push_back(r);
            continue;
        }
        // Up to four pieces: above, below, left and right of the cut.
        if (r.top < i.top)
            out.push_back(RECT{r.left, r.top, r.right, i.top});
        if (i.bottom < r.bottom)
            out.push_back(RECT{r.left, i.bottom, r.right, r.bottom});
        if (r.left < i.left)
            out.push_back(RECT{r.left, i.top, i.left, i.bottom});
        if (i.right < r.right)
            out.push_back(RECT{i.right, i.top, r.right, i.bottom});
    }
    rects_.swap(out);
}

void Region::subtract(const Region& other)
{
    for (const RECT& o : other.rects_)
        subtract(o);
}

void Region::unite(const RECT& r)
{
    indexed_ = false;
    if (rectEmpty(r))
        return;
    Region piece(r);
    piece.subtract(*this);
    rects_.insert(rects_.end(), piece.rects_.begin(), piece.rects_.end());
}

void Region::unite(const Region& other)
{
    for (const RECT& o : other.rects_)
        unite(o);
}

void Region::offset(int dx, int dy)
{
    indexed_ = false;
    for (RECT& r : rects_) {
        r.left += dx;
        r.right += dx;
        r.top += dy;
        r.bottom += dy;
    }
}

} // namespace platform
