#include "platform/GdiRaster.h"

#include <algorithm>
#include <cmath>

namespace platform {
namespace gdi {

namespace {

const double kPi = 3.14159265358979323846;
// Coordinates beyond this are clamped: far enough outside any 4000-pixel picture that
// nothing visible changes, near enough that arithmetic stays exact.
const double kFar = 1 << 24;

double tame(double v)
{
    if (!(v > -kFar)) // NaN too
        return -kFar;
    return v > kFar ? kFar : v;
}

inline uint32_t bgrOf(COLORREF c)
{
    return uint32_t(GetBValue(c)) | uint32_t(GetGValue(c)) << 8 | uint32_t(GetRValue(c)) << 16;
}

// The 8 x 8 hatches: whether pixel (x, y) of the tile is a line.
bool hatchBit(int hatch, int x, int y)
{
    x &= 7;
    y &= 7;
    switch (hatch) {
    case 0: return y == 7;                          // horizontal
    case 1: return x == 7;                          // vertical
    case 2: return x == y;                          // forward diagonal, top-left to bottom-right
    case 3: return x + y == 7;                      // backward diagonal
    case 4: return x == 7 || y == 7;                // cross
    default: return x == y || x + y == 7;           // diagonal cross
    }
}

// A pixel's three bytes under a raster operation.
inline void blend(uint8_t* q, uint32_t p, int op, int bpp)
{
    const uint32_t d = uint32_t(q[0]) | uint32_t(q[1]) << 8 | uint32_t(q[2]) << 16;
    const uint32_t v = op == R2_COPYPEN ? p : applyRop2(op, p, d);
    q[0] = uint8_t(v);
    q[1] = uint8_t(v >> 8);
    q[2] = uint8_t(v >> 16);
    if (bpp == 32)
        q[3] = 0;
}

// f(x0, x1) for each piece of row y's span [x0, x1) the target allows.
template <class F>
void eachAllowed(const Target& t, int y, int x0, int x1, F f)
{
    t.allowed.eachInRow(y, [&](int l, int r) {
        const int a = std::max(x0, l), b = std::min(x1, r);
        if (a < b)
            f(a, b);
    });
}

double signedArea(const std::vector<PointF>& p)
{
    double s = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        const PointF& a = p[i];
        const PointF& b = p[(i + 1) % p.size()];
        s += a.x * b.y - b.x * a.y;
    }
    return s / 2;
}

// Adds a closed piece turned one way, so that winding fills of many pieces unite them.
void addPiece(Outline& out, std::vector<PointF> pts)
{
    if (pts.size() < 3)
        return;
    if (signedArea(pts) < 0)
        std::reverse(pts.begin(), pts.end());
    out.push_back(Contour{std::move(pts), true});
}

// Points of a round join or cap: enough to look round, fewer when a contour has very many
// vertices (the budget keeps a hostile polyline's joins within a few million points).
int circleSteps(double r, int budget) { return std::clamp(std::min(int(std::ceil(r * 1.5)), budget), 8, 256); }

void addDisc(Outline& out, const PointF& c, double r, int budget)
{
    const int n = circleSteps(r, budget);
    std::vector<PointF> pts(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        pts[size_t(i)] = PointF{c.x + r * std::cos(2 * kPi * i / n), c.y + r * std::sin(2 * kPi * i / n)};
    addPiece(out, std::move(pts));
}

// One contour's pieces: a quad per segment, joins between, caps at open ends.
void widenContour(Outline& out, std::vector<PointF> p, bool closed, const Stroke& pen, int budget)
{
    p.erase(std::unique(p.begin(), p.end(), [](const PointF& a, const PointF& b) { return a.x == b.x && a.y == b.y; }),
            p.end());
    if (closed && p.size() > 1 && p.front().x == p.back().x && p.front().y == p.back().y)
        p.pop_back();
    const double h = pen.width / 2;
    if (p.size() == 1) {
        if (pen.cap == Cap::Round)
            addDisc(out, p[0], h, budget);
        else if (pen.cap == Cap::Square)
            addPiece(out, {{p[0].x - h, p[0].y - h}, {p[0].x + h, p[0].y - h}, {p[0].x + h, p[0].y + h}, {p[0].x - h, p[0].y + h}});
        return;
    }
    if (p.size() < 2)
        return;
    const size_t segments = closed ? p.size() : p.size() - 1;
    auto normal = [&](size_t i) {
        const PointF& a = p[i];
        const PointF& b = p[(i + 1) % p.size()];
        const double dx = b.x - a.x, dy = b.y - a.y, len = std::hypot(dx, dy);
        return PointF{-dy / len * h, dx / len * h};
    };
    for (size_t i = 0; i < segments; ++i) {
        PointF a = p[i], b = p[(i + 1) % p.size()];
        const PointF n = normal(i);
        if (!closed && pen.cap == Cap::Square) {
            const PointF d{n.y, -n.x}; // along the segment, length h
            if (i == 0)
                a = PointF{a.x - d.x, a.y - d.y};
            if (i + 1 == segments)
                b = PointF{b.x + d.x, b.y + d.y};
        }
        addPiece(out, {{a.x + n.x, a.y + n.y}, {b.x + n.x, b.y + n.y}, {b.x - n.x, b.y - n.y}, {a.x - n.x, a.y - n.y}});
    }
    // Joins at every vertex between two segments.
    const size_t first = closed ? 0 : 1, last = closed ? p.size() : p.size() - 1;
    for (size_t v = first; v < last; ++v) {
        const size_t in = (v + p.size() - 1) % p.size(), outSeg = v;
        const PointF& c = p[v];
        if (pen.join == Join::Round) {
            addDisc(out, c, h, budget);
            continue;
        }
        const PointF n0 = normal(in), n1 = normal(outSeg);
        const double turn = n0.x * n1.y - n0.y * n1.x;
        const double side = turn > 0 ? -1 : 1; // the outer side of the turn
        const PointF o0{c.x + side * n0.x, c.y + side * n0.y}, o1{c.x + side * n1.x, c.y + side * n1.y};
        if (pen.join == Join::Miter) {
            const double cosHalf = std::sqrt(std::max(0.0, (1 + (n0.x * n1.x + n0.y * n1.y) / (h * h)) / 2));
            if (cosHalf > 1e-9 && 1 / cosHalf <= pen.miterLimit) {
                const PointF mid{(n0.x + n1.x) / 2, (n0.y + n1.y) / 2};
                const double ml = std::hypot(mid.x, mid.y);
                if (ml > 1e-12) {
                    const double reach = h / cosHalf;
                    const PointF m{c.x + side * mid.x / ml * reach, c.y + side * mid.y / ml * reach};
                    addPiece(out, {c, o0, m, o1});
                    continue;
                }
            }
        }
        addPiece(out, {c, o0, o1});
    }
    if (!closed && pen.cap == Cap::Round) {
        addDisc(out, p.front(), h, budget);
        addDisc(out, p.back(), h, budget);
    }
}

// Bresenham from a towards b (b excluded), after clipping the segment to the box widened
// by a margin: hostile coordinates never make a long walk.
template <class F>
void bresenham(PointF a, PointF b, const RECT& box, F plot)
{
    const double m = 4;
    if (!std::isfinite(a.x + a.y + b.x + b.y))
        return;
    const double x0 = a.x, y0 = a.y, dx = b.x - x0, dy = b.y - y0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {x0 - (box.left - m), (box.right + m) - x0, y0 - (box.top - m), (box.bottom + m) - y0};
    double t0 = 0, t1 = 1;
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0)
                return;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
    }
    if (t0 > t1)
        return;
    const bool clippedEnd = t1 < 1;
    a = PointF{x0 + t0 * dx, y0 + t0 * dy};
    b = PointF{x0 + t1 * dx, y0 + t1 * dy};
    int x = int(std::floor(a.x + 0.5)), y = int(std::floor(a.y + 0.5));
    const int x1 = int(std::floor(b.x + 0.5)), y1 = int(std::floor(b.y + 0.5));
    const int64_t ddx = std::abs(int64_t(x1) - x), ddy = -std::abs(int64_t(y1) - y);
    const int sx = x < x1 ? 1 : -1, sy = y < y1 ? 1 : -1;
    int64_t err = ddx + ddy;
    while (x != x1 || y != y1) {
        plot(x, y);
        const int64_t e2 = 2 * err;
        if (e2 >= ddy) {
            err += ddy;
            x += sx;
        }
        if (e2 <= ddx) {
            err += ddx;
            y += sy;
        }
    }
    if (clippedEnd)
        plot(x, y);
}

void applyPixels(const Target& t, std::vector<uint64_t>& pts, COLORREF c, int rop2)
{
    std::sort(pts.begin(), pts.end());
    pts.erase(std::unique(pts.begin(), pts.end()), pts.end());
    const uint32_t v = bgrOf(c);
    for (uint64_t k : pts) {
        const int x = int(int32_t(uint32_t(k))), y = int(int32_t(uint32_t(k >> 32)));
        if (t.contains(x, y))
            blend(t.at(x, y), v, rop2, t.bpp);
    }
}

void strokeCosmetic(const Target& t, const Outline& outline, const Stroke& pen, const Background& bk, int rop2)
{
    const RECT box = t.allowed.bounds();
    std::vector<uint64_t> on, off;
    double period = 0;
    for (double d : pen.dash)
        period += d;
    for (const Contour& c : outline) {
        const size_t n = c.pts.size();
        if (n == 0)
            continue;
        int64_t phase = 0;
        auto plot = [&](int x, int y) {
            bool draw = true;
            if (period > 0) {
                double at = std::fmod(double(phase), period);
                size_t i = 0;
                while (i + 1 < pen.dash.size() && at >= pen.dash[i]) {
                    at -= pen.dash[i];
                    ++i;
                }
                draw = i % 2 == 0;
            }
            ++phase;
            if (x < box.left || x >= box.right || y < box.top || y >= box.bottom)
                return;
            const uint64_t k = (uint64_t(uint32_t(y)) << 32) | uint32_t(x);
            if (draw)
                on.push_back(k);
            else if (bk.opaque)
                off.push_back(k);
        };
        if (n == 1) {
            const PointF p{tame(c.pts[0].x), tame(c.pts[0].y)};
            plot(int(std::floor(p.x + 0.5)), int(std::floor(p.y + 0.5)));
            continue;
        }
        for (size_t i = 1; i < n; ++i)
            bresenham(c.pts[i - 1], c.pts[i], box, plot);
        if (c.closed)
            bresenham(c.pts[n - 1], c.pts[0], box, plot);
    }
    if (!off.empty())
        applyPixels(t, off, bk.colour, rop2);
    applyPixels(t, on, pen.colour, rop2);
}

} // namespace

bool Paint::at(int x, int y, COLORREF& c) const
{
    switch (kind) {
    case Solid:
        c = colour;
        return true;
    case Hatch:
        c = colour;
        return hatchBit(hatch, x - originX, y - originY);
    case Pattern: {
        if (width <= 0 || height <= 0 || !pixels || pixels->size() < size_t(width) * size_t(height))
            return false;
        const int64_t dx = int64_t(x) - originX, dy = int64_t(y) - originY;
        const int px = int(((dx % width) + width) % width), py = int(((dy % height) + height) % height);
        c = (*pixels)[size_t(py) * size_t(width) + size_t(px)];
        return true;
    }
    default:
        return false;
    }
}

void scanFill(const Outline& outline, bool winding, const RECT& box, std::vector<Span>& out)
{
    struct Edge {
        double x0, y0, slope, y1;
        int dir;
    };
    std::vector<Edge> edges;
    double top = kFar, bottom = -kFar;
    for (const Contour& c : outline) {
        const size_t n = c.pts.size();
        if (n < 3)
            continue;
        for (size_t i = 0; i < n; ++i) {
            PointF p{tame(c.pts[i].x), tame(c.pts[i].y)}, q{tame(c.pts[(i + 1) % n].x), tame(c.pts[(i + 1) % n].y)};
            if (p.y == q.y)
                continue;
            int dir = 1;
            if (p.y > q.y) {
                std::swap(p, q);
                dir = -1;
            }
            edges.push_back(Edge{p.x, p.y, (q.x - p.x) / (q.y - p.y), q.y, dir});
            top = std::min(top, p.y);
            bottom = std::max(bottom, q.y);
        }
    }
    if (edges.empty())
        return;
    std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.y0 < b.y0; });
    const int y0 = int(std::max<double>(box.top, std::ceil(top))), y1 = int(std::min<double>(box.bottom, std::ceil(bottom)));
    std::vector<size_t> active;
    std::vector<std::pair<double, int>> xs;
    size_t next = 0;
    // Edges wholly above the first row never cross a row.
    while (next < edges.size() && edges[next].y0 < y0 && edges[next].y1 <= y0)
        ++next;
    for (int y = y0; y < y1; ++y) {
        while (next < edges.size() && edges[next].y0 <= y)
            active.push_back(next++);
        active.erase(std::remove_if(active.begin(), active.end(), [&](size_t i) { return edges[i].y1 <= y; }),
                     active.end());
        xs.clear();
        for (size_t i : active)
            xs.emplace_back(edges[i].x0 + (y - edges[i].y0) * edges[i].slope, edges[i].dir);
        std::sort(xs.begin(), xs.end());
        int w = 0;
        double start = 0;
        for (const auto& [x, dir] : xs) {
            const int before = w;
            w = winding ? w + dir : w ^ 1;
            if (before == 0 && w != 0)
                start = x;
            else if (before != 0 && w == 0) {
                // Steep edges put crossings far outside: kept to the box before becoming ints.
                const int a = int(std::clamp<double>(std::ceil(start), box.left, box.right));
                const int b = int(std::clamp<double>(std::ceil(x), box.left, box.right));
                if (a < b) {
                    if (!out.empty() && out.back().y == y && out.back().x1 >= a)
                        out.back().x1 = std::max(out.back().x1, b);
                    else
                        out.push_back(Span{y, a, b});
                }
            }
        }
    }
}

void paintSpans(const Target& t, const std::vector<Span>& spans, const Paint& paint, const Background& bk, int rop2)
{
    if (paint.kind == Paint::None)
        return;
    const uint32_t solid = bgrOf(paint.colour), back = bgrOf(bk.colour);
    for (const Span& s : spans)
        eachAllowed(t, s.y, s.x0, s.x1, [&](int a, int b) {
            uint8_t* q = t.at(a, s.y);
            const int step = t.bpp / 8;
            for (int x = a; x < b; ++x, q += step) {
                if (paint.kind == Paint::Solid) {
                    blend(q, solid, rop2, t.bpp);
                    continue;
                }
                COLORREF c;
                if (paint.at(x, s.y, c))
                    blend(q, bgrOf(c), rop2, t.bpp);
                else if (bk.opaque)
                    blend(q, back, rop2, t.bpp);
            }
        });
}

Outline widen(const Outline& outline, const Stroke& pen)
{
    size_t vertices = 1;
    for (const Contour& c : outline)
        vertices += c.pts.size();
    const int budget = int(std::min<size_t>(256, (size_t(1) << 22) / vertices));
    Outline out;
    for (const Contour& c : outline)
        widenContour(out, c.pts, c.closed, pen, budget);
    return out;
}

Outline dashed(const Outline& outline, const std::vector<double>& dash)
{
    double period = 0;
    for (double d : dash)
        period += d;
    if (period <= 0)
        return outline;
    Outline out;
    for (const Contour& c : outline) {
        std::vector<PointF> p = c.pts;
        if (c.closed && !p.empty())
            p.push_back(p.front());
        size_t index = 0;
        double left = dash[0]; // of the current dash or gap
        bool on = true;
        Contour piece;
        size_t pieces = 0;
        for (size_t i = 1; i < p.size(); ++i) {
            PointF a = p[i - 1];
            const PointF b = p[i];
            double len = std::hypot(b.x - a.x, b.y - a.y);
            if (on && piece.pts.empty())
                piece.pts.push_back(a);
            while (len > left) {
                const double f = left / len;
                a = PointF{a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f};
                len -= left;
                if (on) {
                    piece.pts.push_back(a);
                    out.push_back(piece);
                    piece.pts.clear();
                    // A hostile pattern of tiny dashes on a long line: stop adding pieces.
                    if (++pieces > 100000)
                        return out;
                } else {
                    piece.pts.push_back(a);
                }
                on = !on;
                index = (index + 1) % dash.size();
                left = dash[index];
            }
            left -= len;
            if (on)
                piece.pts.push_back(b);
        }
        if (on && piece.pts.size() > 1)
            out.push_back(piece);
    }
    return out;
}

void strokeOutline(const Target& t, const Outline& outline, const Stroke& pen, const Background& bk, int rop2)
{
    if (!pen.visible || outline.empty())
        return;
    if (pen.width <= 1.5) {
        strokeCosmetic(t, outline, pen, bk, rop2);
        return;
    }
    // The pen's pieces (a quad a segment, joins, caps) are marked one by one in a mask over
    // the outline's reach: each piece is small and convex, so marking costs its own rows
    // only, and the mask paints each pixel once whatever the overlaps.
    const double reach = pen.width * std::max(1.0, pen.miterLimit) / 2 + 2;
    double x0 = kFar, y0 = kFar, x1 = -kFar, y1 = -kFar;
    for (const Contour& c : outline)
        for (const PointF& p : c.pts) {
            x0 = std::min(x0, tame(p.x));
            y0 = std::min(y0, tame(p.y));
            x1 = std::max(x1, tame(p.x));
            y1 = std::max(y1, tame(p.y));
        }
    const RECT all = t.allowed.bounds();
    const RECT box = rectIntersect(all, RECT{int(tame(std::floor(x0 - reach))), int(tame(std::floor(y0 - reach))),
                                             int(tame(std::ceil(x1 + reach))) + 1, int(tame(std::ceil(y1 + reach))) + 1});
    if (rectEmpty(box))
        return;
    const size_t mw = size_t(box.right - box.left), mh = size_t(box.bottom - box.top);
    std::vector<uint8_t> mask(mw * mh, 0);
    std::vector<Span> spans;
    // Widened a batch of points at a time, so that a contour of millions of points never
    // holds all its joins at once; batches meet at shared points.
    const size_t kBatch = 4096;
    Outline batch;
    size_t points = 0;
    auto flush = [&] {
        if (batch.empty())
            return;
        for (Contour& piece : widen(batch, pen)) {
            spans.clear();
            Outline one(1);
            one[0] = std::move(piece);
            scanFill(one, true, box, spans);
            for (const Span& s : spans)
                std::fill_n(mask.begin() + long(size_t(s.y - box.top) * mw + size_t(s.x0 - box.left)), s.x1 - s.x0, 1);
        }
        batch.clear();
        points = 0;
    };
    // A piece wholly beyond the pen's reach of the picture marks nothing: a long dashed line
    // that only crosses the picture would otherwise widen and fill every dash it holds.
    auto misses = [&](const Contour& c) {
        double l = kFar, t = kFar, r = -kFar, b = -kFar;
        for (const PointF& p : c.pts) {
            l = std::min(l, tame(p.x));
            t = std::min(t, tame(p.y));
            r = std::max(r, tame(p.x));
            b = std::max(b, tame(p.y));
        }
        return r + reach < box.left || l - reach > box.right || b + reach < box.top || t - reach > box.bottom;
    };
    for (const Contour& c : pen.dash.empty() ? outline : dashed(outline, pen.dash)) {
        if (c.pts.size() <= kBatch && misses(c))
            continue;
        if (c.pts.size() <= kBatch) {
            batch.push_back(c);
            points += c.pts.size();
            if (points >= kBatch)
                flush();
            continue;
        }
        flush();
        std::vector<PointF> pts = c.pts;
        if (c.closed)
            pts.push_back(c.pts.front());
        for (size_t i = 0; i + 1 < pts.size(); i += kBatch - 1) {
            const size_t end = std::min(pts.size(), i + kBatch);
            batch.push_back(Contour{std::vector<PointF>(pts.begin() + long(i), pts.begin() + long(end)), false});
            flush();
        }
    }
    flush();
    spans.clear();
    for (size_t y = 0; y < mh; ++y) {
        const uint8_t* row = mask.data() + y * mw;
        for (size_t x = 0; x < mw;) {
            if (!row[x]) {
                ++x;
                continue;
            }
            const size_t from = x;
            while (x < mw && row[x])
                ++x;
            spans.push_back(Span{box.top + int(y), box.left + int(from), box.left + int(x)});
        }
    }
    Paint solid;
    solid.kind = Paint::Solid;
    solid.colour = pen.colour;
    paintSpans(t, spans, solid, bk, rop2);
}

Region regionOf(const Outline& outline, bool winding, const RECT& box)
{
    std::vector<Span> spans;
    scanFill(outline, winding, box, spans);
    std::vector<RECT> rects;
    // Rows with the same single span join into one rectangle.
    for (const Span& s : spans) {
        if (!rects.empty()) {
            RECT& r = rects.back();
            if (r.bottom == s.y && r.left == s.x0 && r.right == s.x1) {
                ++r.bottom;
                continue;
            }
        }
        rects.push_back(RECT{s.x0, s.y, s.x1, s.y + 1});
    }
    return Region::fromDisjoint(std::move(rects));
}

void flattenBezier(const PointF& p0, const PointF& p1, const PointF& p2, const PointF& p3, std::vector<PointF>& out,
                   int most)
{
    const double len = std::hypot(p1.x - p0.x, p1.y - p0.y) + std::hypot(p2.x - p1.x, p2.y - p1.y) +
                       std::hypot(p3.x - p2.x, p3.y - p2.y);
    const int n = std::clamp(int(std::isfinite(len) ? std::min(len / 3, double(most)) : 1), 1, 200);
    for (int i = 1; i <= n; ++i) {
        const double u = double(i) / n, v = 1 - u;
        const double a = v * v * v, b = 3 * v * v * u, c = 3 * v * u * u, d = u * u * u;
        out.push_back(PointF{a * p0.x + b * p1.x + c * p2.x + d * p3.x, a * p0.y + b * p1.y + c * p2.y + d * p3.y});
    }
}

} // namespace gdi
} // namespace platform
