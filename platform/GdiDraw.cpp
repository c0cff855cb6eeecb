#include "platform/GdiInternal.h"

#include <algorithm>
#include <cmath>

using namespace platform::gdi;
using platform::Region;

namespace {

// Pixels a call covers, each applied once however often the shape reaches it.
// Only pixels inside the box (what the target can show) are kept, so hostile
// coordinates cost no memory.
class PixelSet {
public:
    explicit PixelSet(const RECT& box) : box_(box) {}
    const RECT& box() const { return box_; }
    void add(int x, int y)
    {
        if (x >= box_.left && x < box_.right && y >= box_.top && y < box_.bottom)
            pts_.push_back((uint64_t(uint32_t(y)) << 32) | uint32_t(x));
    }
    void finish()
    {
        std::sort(pts_.begin(), pts_.end());
        pts_.erase(std::unique(pts_.begin(), pts_.end()), pts_.end());
    }
    bool has(int x, int y) const
    {
        return std::binary_search(pts_.begin(), pts_.end(), (uint64_t(uint32_t(y)) << 32) | uint32_t(x));
    }
    template <class F>
    void each(F f) const
    {
        for (uint64_t k : pts_)
            f(int(int32_t(uint32_t(k))), int(int32_t(uint32_t(k >> 32))));
    }
    size_t size() const { return pts_.size(); }

private:
    RECT box_;
    std::vector<uint64_t> pts_;
};

inline uint32_t bgr(COLORREF c) { return uint32_t(GetBValue(c)) | uint32_t(GetGValue(c)) << 8 | uint32_t(GetRValue(c)) << 16; }

void applySet(const Target& t, const PixelSet& set, COLORREF colour, int op)
{
    uint32_t p = bgr(colour);
    set.each([&](int x, int y) {
        if (!t.contains(x, y))
            return;
        uint8_t* q = t.at(x, y);
        uint32_t d = uint32_t(q[0]) | uint32_t(q[1]) << 8 | uint32_t(q[2]) << 16;
        uint32_t v = applyRop2(op, p, d);
        q[0] = uint8_t(v);
        q[1] = uint8_t(v >> 8);
        q[2] = uint8_t(v >> 16);
        if (t.bpp == 32)
            q[3] = 0;
    });
}

struct Pen {
    bool visible = true;
    int width = 1;
    int on = 0;     // 0: solid
    int period = 0;
    COLORREF colour = 0;
};

Pen penOf(const DC& d)
{
    Pen pen;
    auto o = object(d.pen);
    if (!o || o->kind != Kind::Pen || o->style == PS_NULL) {
        pen.visible = false;
        return pen;
    }
    pen.colour = o->color;
    pen.width = o->width;
    if (pen.width == 1) {
        if (o->style == PS_DASH) {
            pen.on = 18;
            pen.period = 24;
        } else if (o->style == PS_DOT) {
            pen.on = 3;
            pen.period = 6;
        }
    }
    return pen;
}

bool brushOf(const DC& d, COLORREF& colour)
{
    bool isNull;
    colour = platform::detail::brushColor(reinterpret_cast<HBRUSH>(d.brush), &isNull);
    return !isNull;
}

// One thin-line pixel, widened to the pen and filtered by its pattern.
void plot(PixelSet& set, const Pen& pen, int& phase, int x, int y)
{
    bool draw = pen.period == 0 || (phase % pen.period) < pen.on;
    ++phase;
    if (!draw)
        return;
    if (pen.width <= 1) {
        set.add(x, y);
        return;
    }
    const RECT& b = set.box();
    if (x < b.left - pen.width || x >= b.right + pen.width || y < b.top - pen.width || y >= b.bottom + pen.width)
        return;
    int x0 = x - pen.width / 2, y0 = y - pen.width / 2;
    for (int j = 0; j < pen.width; ++j)
        for (int i = 0; i < pen.width; ++i)
            set.add(x0 + i, y0 + j);
}

// Bresenham from (x0, y0) towards (x1, y1), the end pixel excluded.
void line(PixelSet& set, const Pen& pen, int& phase, int x0, int y0, int x1, int y1)
{
    int64_t dx = std::abs(int64_t(x1) - x0), dy = -std::abs(int64_t(y1) - y0);
    int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int64_t err = dx + dy;
    int64_t limit = 1 << 20; // hostile coordinates cannot make a line without end
    int x = x0, y = y0;
    while ((x != x1 || y != y1) && limit-- > 0) {
        plot(set, pen, phase, x, y);
        int64_t e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}

bool begin(HDC hdc, std::shared_ptr<DC>& d, Target& t)
{
    d = dc(hdc);
    if (!d)
        return false;
    resolve(*d, t);
    return true;
}

// Pixels of the ellipse inscribed in [l, r) x [t, b): inside and outline.
struct EllipseShape {
    double cx, cy, a, b;
    int l, t, r, bottom;
    EllipseShape(int l_, int t_, int r_, int b_) : l(l_), t(t_), r(r_), bottom(b_)
    {
        cx = (double(l) + r - 1) / 2.0;
        cy = (double(t) + b_ - 1) / 2.0;
        a = std::max((double(r) - 1 - l) / 2.0, 0.5);
        b = std::max((double(b_) - 1 - t) / 2.0, 0.5);
    }
    bool inside(int x, int y) const
    {
        if (x < l || x >= r || y < t || y >= bottom)
            return false;
        double u = (x - cx) / a, v = (y - cy) / b;
        return u * u + v * v <= 1.0 + 1e-9;
    }
    bool edge(int x, int y) const
    {
        return inside(x, y) && (!inside(x - 1, y) || !inside(x + 1, y) || !inside(x, y - 1) || !inside(x, y + 1));
    }
};

void normalise(int& l, int& t, int& r, int& b)
{
    if (l > r)
        std::swap(l, r);
    if (t > b)
        std::swap(t, b);
}

// The part of the target a call can change.
RECT boxOf(const Target& t) { return t.allowed.bounds(); }

// A filled shape: its interior less the outline in the brush colour, then the outline, so
// that each pixel meets the raster operation once.
void applyFilled(const Target& t, PixelSet& interior, PixelSet& outline, COLORREF brush,
                 COLORREF penColour, int op)
{
    outline.finish();
    interior.finish();
    PixelSet inner(boxOf(t));
    interior.each([&](int x, int y) {
        if (!outline.has(x, y))
            inner.add(x, y);
    });
    applySet(t, inner, brush, op);
    applySet(t, outline, penColour, op);
}

// [lo, hi) clamped to [boxLo - margin, boxHi + margin).
inline void clampRange(int& lo, int& hi, int boxLo, int boxHi, int margin)
{
    lo = int(std::max<int64_t>(lo, int64_t(boxLo) - margin));
    hi = int(std::min<int64_t>(hi, int64_t(boxHi) + margin));
}

// f(x, y) for each pixel of [l, r) x [t, b) within `margin` of the part of the target a
// call can change, row by row.
template <class F>
void eachPixelNear(const Target& tg, int l, int t, int r, int b, int margin, F f)
{
    RECT box = boxOf(tg);
    clampRange(l, r, box.left, box.right, margin);
    clampRange(t, b, box.top, box.bottom, margin);
    for (int y = t; y < b; ++y)
        for (int x = l; x < r; ++x)
            f(x, y);
}

enum class BoxStart { Failed, Empty, Draw };

// The start of a call drawing in a box given by corners in either order: the DC and its
// target (Failed for an unknown DC), the corners put in order, and Empty when the box
// holds no pixel (nothing to draw, yet success).
BoxStart beginBox(HDC hdc, std::shared_ptr<DC>& d, Target& t, int& left, int& top, int& right,
                  int& bottom)
{
    if (!begin(hdc, d, t))
        return BoxStart::Failed;
    normalise(left, top, right, bottom);
    if (int64_t(right) - left < 1 || int64_t(bottom) - top < 1)
        return BoxStart::Empty;
    return BoxStart::Draw;
}

} // namespace

BOOL MoveToEx(HDC hdc, int x, int y, POINT* previous)
{
    auto d = dc(hdc);
    if (!d)
        return FALSE;
    if (previous)
        *previous = d->pos;
    d->pos = POINT{x, y};
    d->penPhase = 0;
    return TRUE;
}

BOOL LineTo(HDC hdc, int x, int y)
{
    std::shared_ptr<DC> d;
    Target t;
    if (!begin(hdc, d, t))
        return FALSE;
    Pen pen = penOf(*d);
    PixelSet set(boxOf(t));
    if (pen.visible)
        line(set, pen, d->penPhase, d->pos.x, d->pos.y, x, y);
    d->pos = POINT{x, y};
    set.finish();
    if (!t.allowed.empty())
        applySet(t, set, pen.colour, d->rop2);
    return TRUE;
}

BOOL Polyline(HDC hdc, const POINT* points, int count)
{
    std::shared_ptr<DC> d;
    Target t;
    if (!points || count < 2 || !begin(hdc, d, t))
        return FALSE;
    Pen pen = penOf(*d);
    PixelSet set(boxOf(t));
    int phase = 0;
    if (pen.visible)
        for (int i = 1; i < count; ++i)
            line(set, pen, phase, points[i - 1].x, points[i - 1].y, points[i].x, points[i].y);
    set.finish();
    applySet(t, set, pen.colour, d->rop2);
    return TRUE;
}

BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom)
{
    std::shared_ptr<DC> d;
    Target t;
    if (BoxStart s = beginBox(hdc, d, t, left, top, right, bottom); s != BoxStart::Draw)
        return s == BoxStart::Empty ? TRUE : FALSE;
    Pen pen = penOf(*d);
    PixelSet outline(boxOf(t)), fill(boxOf(t));
    int phase = 0;
    if (pen.visible) {
        int r = right - 1, b = bottom - 1;
        if (r == left || b == top) {
            line(outline, pen, phase, left, top, r, b);
            plot(outline, pen, phase, r, b);
        } else {
            line(outline, pen, phase, left, top, r, top);
            line(outline, pen, phase, r, top, r, b);
            line(outline, pen, phase, r, b, left, b);
            line(outline, pen, phase, left, b, left, top);
        }
    }
    COLORREF brush;
    if (brushOf(*d, brush)) {
        // Without a pen the interior reaches one pixel further up and left.
        int l = pen.visible ? left + 1 : left, tp = pen.visible ? top + 1 : top;
        eachPixelNear(t, l, tp, right - 1, bottom - 1, 0, [&](int x, int y) { fill.add(x, y); });
    }
    applyFilled(t, fill, outline, brush, pen.colour, d->rop2);
    return TRUE;
}

BOOL Ellipse(HDC hdc, int left, int top, int right, int bottom)
{
    std::shared_ptr<DC> d;
    Target t;
    if (BoxStart s = beginBox(hdc, d, t, left, top, right, bottom); s != BoxStart::Draw)
        return s == BoxStart::Empty ? TRUE : FALSE;
    EllipseShape e(left, top, right, bottom);
    Pen pen = penOf(*d);
    pen.on = pen.period = 0; // outlines of curves are drawn solid
    COLORREF brush;
    bool filled = brushOf(*d, brush);
    PixelSet outline(boxOf(t)), inner(boxOf(t));
    int phase = 0;
    eachPixelNear(t, left, top, right, bottom, pen.width, [&](int x, int y) {
        if (!e.inside(x, y))
            return;
        if (e.edge(x, y) && pen.visible)
            plot(outline, pen, phase, x, y);
        else if (filled)
            inner.add(x, y);
    });
    applyFilled(t, inner, outline, brush, pen.colour, d->rop2);
    return TRUE;
}

BOOL Arc(HDC hdc, int left, int top, int right, int bottom, int xStart, int yStart, int xEnd, int yEnd)
{
    std::shared_ptr<DC> d;
    Target t;
    if (BoxStart s = beginBox(hdc, d, t, left, top, right, bottom); s != BoxStart::Draw)
        return s == BoxStart::Empty ? TRUE : FALSE;
    EllipseShape e(left, top, right, bottom);
    Pen pen = penOf(*d);
    if (!pen.visible)
        return TRUE;
    pen.on = pen.period = 0;
    const double twoPi = 6.283185307179586;
    // Angles counter-clockwise on screen (y grows downwards).
    auto angle = [&](double x, double y) {
        double a = std::atan2(-(y - e.cy), x - e.cx);
        return a < 0 ? a + twoPi : a;
    };
    double a0 = angle(xStart, yStart), a1 = angle(xEnd, yEnd);
    double sweep = a1 - a0;
    if (sweep <= 0)
        sweep += twoPi; // equal rays: the whole ellipse
    PixelSet outline(boxOf(t));
    int phase = 0;
    eachPixelNear(t, left, top, right, bottom, pen.width, [&](int x, int y) {
        if (!e.edge(x, y))
            return;
        double rel = angle(x, y) - a0;
        if (rel < 0)
            rel += twoPi;
        if (rel <= sweep + 1e-12)
            plot(outline, pen, phase, x, y);
    });
    outline.finish();
    applySet(t, outline, pen.colour, d->rop2);
    return TRUE;
}

BOOL Polygon(HDC hdc, const POINT* points, int count)
{
    std::shared_ptr<DC> d;
    Target t;
    if (!points || count < 2 || !begin(hdc, d, t))
        return FALSE;
    int tp = points[0].y, b = points[0].y;
    for (int i = 1; i < count; ++i) {
        tp = std::min(tp, int(points[i].y));
        b = std::max(b, int(points[i].y));
    }
    Pen pen = penOf(*d);
    PixelSet outline(boxOf(t)), fill(boxOf(t));
    int phase = 0;
    if (pen.visible)
        for (int i = 0; i < count; ++i) {
            const POINT& p = points[i];
            const POINT& q = points[(i + 1) % count];
            line(outline, pen, phase, p.x, p.y, q.x, q.y);
        }
    COLORREF brush;
    if (brushOf(*d, brush)) {
        // Alternate (even-odd) fill sampled at pixel centres.
        std::vector<double> xs;
        RECT box = boxOf(t);
        int y0 = tp, y1 = b + 1;
        clampRange(y0, y1, box.top, box.bottom, 0);
        for (int y = y0; y < y1; ++y) {
            double cy = y + 0.5;
            xs.clear();
            for (int i = 0; i < count; ++i) {
                const POINT& p = points[i];
                const POINT& q = points[(i + 1) % count];
                if ((p.y <= cy && q.y > cy) || (q.y <= cy && p.y > cy))
                    xs.push_back(p.x + (cy - p.y) * (double(q.x) - p.x) / (double(q.y) - p.y));
            }
            std::sort(xs.begin(), xs.end());
            for (size_t k = 0; k + 1 < xs.size(); k += 2) {
                double from = std::max(std::ceil(xs[k] - 0.5), double(box.left));
                double to = std::min(xs[k + 1], double(box.right));
                for (int x = int(from); x + 0.5 < to; ++x)
                    fill.add(x, y);
            }
        }
    }
    applyFilled(t, fill, outline, brush, pen.colour, d->rop2);
    return TRUE;
}

COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color)
{
    std::shared_ptr<DC> d;
    Target t;
    if (!begin(hdc, d, t) || !t.contains(x, y))
        return CLR_INVALID;
    putPixel(t.at(x, y), color, t.bpp);
    return color & 0xFFFFFF;
}

COLORREF GetPixel(HDC hdc, int x, int y)
{
    std::shared_ptr<DC> d;
    Target t;
    if (!begin(hdc, d, t) || !t.contains(x, y))
        return CLR_INVALID;
    return getPixel(t.at(x, y));
}

BOOL DrawFocusRect(HDC hdc, const RECT* rc)
{
    std::shared_ptr<DC> d;
    Target t;
    if (!rc || !begin(hdc, d, t))
        return FALSE;
    int64_t l = rc->left, tp = rc->top, r = int64_t(rc->right) - 1, b = int64_t(rc->bottom) - 1;
    if (r < l || b < tp)
        return TRUE;
    // The border is walked clockwise from the top-left, each pixel once; every second
    // one inverts. Positions along the walk are computed, so only visible pixels cost.
    RECT box = boxOf(t);
    PixelSet set(box);
    auto mark = [&](int64_t x, int64_t y, int64_t index) {
        if ((index & 1) == 0)
            set.add(int(x), int(y));
    };
    int64_t xa = std::max<int64_t>(l, box.left), xb = std::min<int64_t>(r, int64_t(box.right) - 1);
    int64_t ya = std::max<int64_t>(tp + 1, box.top), yb = std::min<int64_t>(b, int64_t(box.bottom) - 1);
    if (tp >= box.top && tp < box.bottom)
        for (int64_t x = xa; x <= xb; ++x)
            mark(x, tp, x - l);
    if (r >= box.left && r < box.right)
        for (int64_t y = ya; y <= yb; ++y)
            mark(r, y, (r - l) + (y - tp));
    if (b > tp && b >= box.top && b < box.bottom)
        for (int64_t x = xa; x <= std::min(xb, r - 1); ++x)
            mark(x, b, (r - l) + (b - tp) + (r - x));
    if (r > l && l >= box.left && l < box.right)
        for (int64_t y = ya; y <= std::min(yb, b - 1); ++y)
            mark(l, y, 2 * (r - l) + (b - tp) + (b - y));
    set.finish();
    applySet(t, set, RGB(255, 255, 255), R2_XORPEN);
    return TRUE;
}
