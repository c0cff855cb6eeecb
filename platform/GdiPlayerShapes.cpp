// The player's shapes, paths, clipping and regions, in device pixels.
#include "platform/GdiPlayer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace platform {
namespace gdi {

using namespace play;

void Player::moveTo(double x, double y)
{
    s.pos = mapRound(x, y);
    figureOpen_ = false;
}

void Player::lineTo(double x, double y)
{
    const PointF to = mapRound(x, y);
    if (inPath_) {
        if (!figureOpen_ || path_.empty()) {
            path_.push_back(Contour{{s.pos}, false});
            figureOpen_ = true;
        }
        if (path_.back().pts.size() < kMaxPathPoints)
            path_.back().pts.push_back(to);
    } else {
        draw(Outline{Contour{{s.pos, to}, false}}, false, true);
    }
    s.pos = to;
}

void Player::polyline(const std::vector<PointF>& logical, bool fromCurrent)
{
    if (logical.empty())
        return;
    if (fromCurrent) {
        if (inPath_) {
            for (const PointF& p : logical)
                lineTo(p.x, p.y);
            return;
        }
        // One line from the position through the points: its corners are joins.
        Contour c{{s.pos}, false};
        for (const PointF& p : logical)
            c.pts.push_back(mapRound(p.x, p.y));
        s.pos = c.pts.back();
        draw(Outline{c}, false, true);
        return;
    }
    Contour c;
    for (const PointF& p : logical)
        c.pts.push_back(mapRound(p.x, p.y));
    emit(Outline{c}, false, true, false);
}

void Player::polygons(const std::vector<std::vector<PointF>>& logical, bool fill)
{
    Outline o;
    for (const auto& poly : logical) {
        Contour c;
        c.closed = true;
        for (const PointF& p : poly)
            c.pts.push_back(mapRound(p.x, p.y));
        o.push_back(std::move(c));
    }
    emit(std::move(o), fill, true, true);
}

void Player::polylines(const std::vector<std::vector<PointF>>& logical)
{
    Outline o;
    for (const auto& poly : logical) {
        Contour c;
        for (const PointF& p : poly)
            c.pts.push_back(mapRound(p.x, p.y));
        o.push_back(std::move(c));
    }
    emit(std::move(o), false, true, false);
}

void Player::bezier(const std::vector<PointF>& logical, bool fromCurrent)
{
    std::vector<PointF> dev;
    for (const PointF& p : logical)
        dev.push_back(map(p.x, p.y));
    size_t i = 0;
    Contour c;
    if (fromCurrent) {
        c.pts.push_back(s.pos);
    } else {
        if (dev.empty())
            return;
        c.pts.push_back(dev[0]);
        i = 1;
    }
    // A record of very many curves gets fewer points a curve: a million in all at most.
    const int most = int(std::clamp<size_t>((size_t(1) << 20) / (dev.size() / 3 + 1), 1, 200));
    for (; i + 3 <= dev.size(); i += 3) {
        const PointF from = c.pts.back(); // a copy: the flattening grows the vector
        flattenBezier(from, dev[i], dev[i + 1], dev[i + 2], c.pts, most);
    }
    for (PointF& p : c.pts)
        p = PointF{double(clampInt(p.x)), double(clampInt(p.y))};
    if (fromCurrent) {
        s.pos = c.pts.back();
        if (inPath_) {
            if (!figureOpen_ || path_.empty()) {
                path_.push_back(Contour{{c.pts[0]}, false});
                figureOpen_ = true;
            }
            if (outlinePoints(path_) + c.pts.size() < kMaxPathPoints)
                path_.back().pts.insert(path_.back().pts.end(), c.pts.begin() + 1, c.pts.end());
            return;
        }
    }
    emit(Outline{c}, false, true, false);
}

void Player::polyDraw(const std::vector<PointF>& logical, const std::vector<uint8_t>& types)
{
    // PT_MOVETO 6, PT_LINETO 2, PT_BEZIERTO 4, PT_CLOSEFIGURE 1
    PointF start = s.pos; // of the figure, device
    for (size_t i = 0; i < logical.size() && i < types.size(); ++i) {
        const uint8_t t = types[i] & ~1u;
        if (t == 6) {
            moveTo(logical[i].x, logical[i].y);
            start = s.pos;
        } else if (t == 2) {
            lineTo(logical[i].x, logical[i].y);
        } else if (t == 4 && i + 2 < logical.size()) {
            bezier({logical[i], logical[i + 1], logical[i + 2]}, true);
            i += 2;
        }
        if (types[std::min(i, types.size() - 1)] & 1) {
            if (inPath_) {
                closeFigure();
            } else {
                // Outside a path the figure is closed by a line back to its start.
                draw(Outline{Contour{{s.pos, start}, false}}, false, true);
                s.pos = start;
            }
        }
    }
}

Outline Player::arcPoints(Box kind, double l, double t, double r, double b, double x1, double y1, double x2,
                          double y2, bool& aligned)
{
    // Axis-aligned mappings build the shape in device pixels, from the box's corners
    // rounded, the right and bottom edges inside as GDI's are; others in logical units.
    aligned = full_.b == 0 && full_.c == 0;
    Xform f;
    bool flip = false;
    if (aligned) {
        const PointF p = mapRound(l, t), q = mapRound(r, b);
        l = std::min(p.x, q.x);
        r = std::max(p.x, q.x) - 1;
        t = std::min(p.y, q.y);
        b = std::max(p.y, q.y) - 1;
        const PointF a1 = map(x1, y1), a2 = map(x2, y2);
        x1 = a1.x;
        y1 = a1.y;
        x2 = a2.x;
        y2 = a2.y;
        flip = full_.det() < 0;
        if (s.pen.style == 6 && !s.pen.cosmetic) { // PS_INSIDEFRAME keeps the pen inside the box
            const double h = std::floor(strokeOf().width / 2);
            l += h, t += h, r -= h, b -= h;
        }
    } else {
        f = full_;
        if (l > r)
            std::swap(l, r);
        if (t > b)
            std::swap(t, b);
    }
    const double cx = (l + r) / 2, cy = (t + b) / 2, rx = (r - l) / 2, ry = (b - t) / 2;
    const double devR = std::max(rx, ry) * (aligned ? 1 : std::max(scaleX(), scaleY()));
    const int steps = int(std::clamp(std::isfinite(devR) ? devR * 1.2 : 8.0, 16.0, 720.0));
    Contour c;
    auto put = [&](double x, double y) { c.pts.push_back(f.apply(x, y)); };
    if (kind == Box::Rect) {
        put(l, t), put(r, t), put(r, b), put(l, b);
        c.closed = true;
        return Outline{c};
    }
    if (kind == Box::Ellipse) {
        for (int i = 0; i < steps; ++i)
            put(cx + rx * std::cos(2 * kPi * i / steps), cy + ry * std::sin(2 * kPi * i / steps));
        c.closed = true;
        return Outline{c};
    }
    if (kind == Box::RoundRect) {
        // x1, y1: the corner ellipse's width and height.
        double ex = std::min(std::fabs(x1) / 2, rx), ey = std::min(std::fabs(y1) / 2, ry);
        if (aligned) {
            ex = std::min(std::fabs(x1 * full_.a) / 2, rx);
            ey = std::min(std::fabs(y1 * full_.d) / 2, ry);
        }
        const int q = std::max(4, steps / 4);
        const double corners[4][3] = {{r - ex, t + ey, -kPi / 2}, {r - ex, b - ey, 0}, {l + ex, b - ey, kPi / 2},
                                      {l + ex, t + ey, kPi}};
        for (const auto& k : corners)
            for (int i = 0; i <= q; ++i) {
                const double a = k[2] + kPi / 2 * i / q;
                put(k[0] + ex * std::cos(a), k[1] + ey * std::sin(a));
            }
        c.closed = true;
        return Outline{c};
    }
    // Arcs: angles of the rays through the two points, on screen counter-clockwise unless
    // the arc direction (seen in logical units) says otherwise.
    auto angle = [&](double x, double y) { return std::atan2(-(y - cy) / std::max(ry, 1e-9), (x - cx) / std::max(rx, 1e-9)); };
    const double a0 = angle(x1, y1), a1 = angle(x2, y2);
    bool ccw = !s.clockwise;
    if (flip)
        ccw = !ccw;
    double sweep = ccw ? a1 - a0 : a0 - a1;
    if (sweep <= 1e-12)
        sweep += 2 * kPi;
    const int n = std::max(2, int(steps * sweep / (2 * kPi)));
    if (kind == Box::Pie)
        put(cx, cy);
    for (int i = 0; i <= n; ++i) {
        const double a = a0 + (ccw ? 1 : -1) * sweep * i / n;
        put(cx + rx * std::cos(a), cy - ry * std::sin(a));
    }
    c.closed = kind == Box::Chord || kind == Box::Pie;
    return Outline{c};
}

void Player::box(Box kind, double l, double t, double r, double b, double x1, double y1, double x2, double y2)
{
    bool aligned;
    Outline o = arcPoints(kind, l, t, r, b, x1, y1, x2, y2, aligned);
    if (o.empty() || o[0].pts.empty())
        return;
    if (kind == Box::Arc || kind == Box::ArcTo) {
        if (kind == Box::ArcTo) {
            // A line from the current position to the arc's start, and the position moves to its end.
            o[0].pts.insert(o[0].pts.begin(), s.pos);
            s.pos = o[0].pts.back();
            if (inPath_) {
                if (!figureOpen_ || path_.empty()) {
                    path_.push_back(Contour{{}, false});
                    figureOpen_ = true;
                }
                path_.back().pts.insert(path_.back().pts.end(), o[0].pts.begin(), o[0].pts.end());
                return;
            }
        }
        emit(std::move(o), false, true, false);
        return;
    }
    // Boxes fill [left, right - 1) with a pen or without, as GDI's do.
    emit(std::move(o), true, true, true);
}

void Player::angleArc(double x, double y, double radius, double start, double sweep)
{
    if (!std::isfinite(radius + start + sweep))
        return;
    sweep = std::clamp(sweep, -3600.0, 3600.0);
    const double a0 = start * kPi / 180, sw = sweep * kPi / 180;
    const double length = std::fabs(sw) * std::fabs(radius) * std::max(scaleX(), scaleY()) / 2;
    const int n = int(std::clamp(std::isfinite(length) ? length : 4.0, 4.0, 720.0));
    std::vector<PointF> pts;
    for (int i = 0; i <= n; ++i) {
        const double a = a0 + sw * i / n;
        pts.push_back(PointF{x + radius * std::cos(a), y - radius * std::sin(a)});
    }
    polyline(pts, true);
}

void Player::setPixel(double x, double y, COLORREF c)
{
    const PointF p = mapRound(x, y);
    Target t;
    if (target(t) && t.contains(int(p.x), int(p.y)))
        putPixel(t.at(int(p.x), int(p.y)), colour(c), t.bpp);
}

void Player::floodFill(double x, double y, COLORREF c, bool surface)
{
    Target t;
    if (inPath_ || s.brush.paint.kind == Paint::None || !target(t))
        return;
    const RECT box = rectIntersect(t.allowed.bounds(), RECT{-t.ox, -t.oy, t.width - t.ox, t.height - t.oy});
    const PointF p = mapRound(x, y);
    const int sx = int(p.x), sy = int(p.y);
    if (rectEmpty(box) || sx < box.left || sx >= box.right || sy < box.top || sy >= box.bottom)
        return;
    // One byte a pixel of the box: 1 where the fill may go (allowed, and the colour test
    // passes on the picture as it was), 2 once taken. Reading all of it before painting
    // keeps a brush that paints the border colour from changing what is reached.
    const COLORREF want = colour(c);
    const size_t w = size_t(box.right - box.left), h = size_t(box.bottom - box.top);
    std::vector<uint8_t> state(w * h, 0);
    for (size_t row = 0; row < h; ++row) {
        const int dy = box.top + int(row);
        uint8_t* line = state.data() + row * w;
        t.allowed.eachInRow(dy, [&](int l, int r) {
            for (int dx = std::max(l, int(box.left)); dx < std::min(r, int(box.right)); ++dx)
                line[dx - box.left] = (getPixel(t.at(dx, dy)) == want) == surface;
        });
    }
    auto open = [&](size_t cx, size_t cy) { return state[cy * w + cx] == 1; };
    // Seeds are open pixels, each pushed at most once from the row above and once from below.
    std::vector<std::pair<size_t, size_t>> seeds{{size_t(sx - box.left), size_t(sy - box.top)}};
    std::vector<Span> spans;
    while (!seeds.empty()) {
        const auto [cx, cy] = seeds.back();
        seeds.pop_back();
        if (!open(cx, cy))
            continue;
        size_t l = cx, r = cx + 1;
        while (l > 0 && open(l - 1, cy))
            --l;
        while (r < w && open(r, cy))
            ++r;
        std::fill(state.begin() + long(cy * w + l), state.begin() + long(cy * w + r), uint8_t(2));
        spans.push_back(Span{box.top + int(cy), box.left + int(l), box.left + int(r)});
        for (const size_t ny : {cy - 1, cy + 1}) {
            if (ny >= h) // cy - 1 wraps above the first row
                continue;
            for (size_t i = l; i < r; ++i)
                if (open(i, ny) && (i == l || !open(i - 1, ny)))
                    seeds.emplace_back(i, ny);
        }
    }
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) {
        return a.y != b.y ? a.y < b.y : a.x0 < b.x0;
    });
    paintSpans(t, spans, resolved(s.brush.paint), background(), s.rop2);
}

// ---- paths ------------------------------------------------------------------------------

void Player::beginPath()
{
    path_.clear();
    inPath_ = true;
    figureOpen_ = false;
}

void Player::abortPath()
{
    path_.clear();
    inPath_ = false;
    figureOpen_ = false;
}

void Player::closeFigure()
{
    if (!path_.empty() && figureOpen_) {
        path_.back().closed = true;
        figureOpen_ = false;
    }
}

void Player::drawPath(bool fill, bool stroke)
{
    if (inPath_)
        return;
    Outline o;
    o.swap(path_);
    if (fill)
        for (Contour& c : o)
            c.closed = c.closed || stroke == false;
    if (fill && stroke) {
        // Every figure of a filled path is closed for the fill; its outline too.
        for (Contour& c : o)
            c.closed = true;
    }
    draw(o, fill, stroke);
}

void Player::widenPath()
{
    if (inPath_)
        return;
    Stroke st = strokeOf();
    path_ = widen(st.dash.empty() ? path_ : dashed(path_, st.dash), st);
}

void Player::selectClipPath(int mode)
{
    if (inPath_)
        return;
    Outline o;
    o.swap(path_);
    Region r = regionOf(o, s.winding, RECT{rc.left - 2, rc.top - 2, rc.right + 2, rc.bottom + 2});
    selectClip(&r, mode);
}

// ---- clipping ---------------------------------------------------------------------------

Region Player::boxRegion(double l, double t, double r, double b) const
{
    if (full_.b == 0 && full_.c == 0) {
        const PointF p = mapRound(l, t), q = mapRound(r, b);
        return Region(RECT{int(std::min(p.x, q.x)), int(std::min(p.y, q.y)), int(std::max(p.x, q.x)),
                           int(std::max(p.y, q.y))});
    }
    Contour c{{map(l, t), map(r, t), map(r, b), map(l, b)}, true};
    return regionOf(Outline{c}, false, RECT{rc.left - 2, rc.top - 2, rc.right + 2, rc.bottom + 2});
}

void Player::applyClip()
{
    auto d = dc(hdc);
    if (!d)
        return;
    Region r = hadClip_ ? oldClip_ : Region(RECT{-(1 << 28), -(1 << 28), 1 << 28, 1 << 28});
    if (s.meta)
        r.intersect(*s.meta);
    if (s.clip)
        r.intersect(*s.clip);
    r.index();
    d->clip = r;
    d->hasClip = hadClip_ || s.meta || s.clip;
}

void Player::selectClip(const Region* region, int mode)
{
    if (!region) {
        if (mode == RGN_COPY) {
            s.clip.reset();
            applyClip();
        }
        return;
    }
    Region current = s.clip ? *s.clip : Region(RECT{rc.left - 2, rc.top - 2, rc.right + 2, rc.bottom + 2});
    if (!combineRegion(current, *region, mode))
        return;
    s.clip = std::make_shared<const Region>(std::move(current));
    applyClip();
}

void Player::intersectClip(double l, double t, double r, double b)
{
    Region box = boxRegion(l, t, r, b);
    selectClip(&box, RGN_AND);
}

void Player::excludeClip(double l, double t, double r, double b)
{
    Region box = boxRegion(l, t, r, b);
    selectClip(&box, RGN_DIFF);
}

void Player::offsetClip(double x, double y)
{
    if (!s.clip)
        return;
    const double dx = full_.a * x + full_.c * y, dy = full_.b * x + full_.d * y;
    Region moved = *s.clip;
    moved.offset(clampInt(std::clamp(dx, -1e7, 1e7)), clampInt(std::clamp(dy, -1e7, 1e7)));
    s.clip = std::make_shared<const Region>(std::move(moved));
    applyClip();
}

void Player::setMetaRegion()
{
    if (s.clip) {
        if (s.meta) {
            Region both = *s.meta;
            both.intersect(*s.clip);
            s.meta = std::make_shared<const Region>(std::move(both));
        } else {
            s.meta = s.clip;
        }
    }
    s.clip.reset();
    applyClip();
}

Region Player::regionFromRects(const std::vector<RECT>& rects, bool logical) const
{
    // Kept to the picture and a little around it: what lies further never shows.
    const Xform& f = logical ? full_ : base_;
    const RECT box{rc.left - 2, rc.top - 2, rc.right + 2, rc.bottom + 2};
    std::vector<RECT> device;
    for (const RECT& r : rects) {
        const PointF p = f.apply(r.left, r.top), q = f.apply(r.right, r.bottom);
        const RECT d = rectIntersect(RECT{clampInt(std::min(p.x, q.x)), clampInt(std::min(p.y, q.y)),
                                          clampInt(std::max(p.x, q.x)), clampInt(std::max(p.y, q.y))},
                                     box);
        if (!rectEmpty(d))
            device.push_back(d);
    }
    return Region::fromRects(std::move(device));
}

Paint Player::resolved(const Paint& p) const
{
    Paint out = p;
    out.colour = colour(p.colour);
    // The brush origin is a reference-device pixel: where it lands on the destination.
    const PointF o = base_.apply(s.brushOrg.x, s.brushOrg.y);
    out.originX = clampInt(o.x);
    out.originY = clampInt(o.y);
    if (!p.mono)
        return out;
    // A monochrome brush takes the colours of the moment it paints with.
    if (p.pixels) {
        std::vector<COLORREF> px = *p.pixels;
        for (COLORREF& c : px)
            c = c ? colour(s.bkColour) : colour(s.textColour);
        out.pixels = std::make_shared<const std::vector<COLORREF>>(std::move(px));
    }
    out.mono = false;
    return out;
}

void Player::fillRegion(const Region& r, const Paint& given, int rop2)
{
    const Paint p = resolved(given);
    Target t;
    if (!target(t))
        return;
    std::vector<Span> spans;
    for (const RECT& x : r.rects()) {
        const RECT c = rectIntersect(x, t.allowed.bounds());
        for (int y = c.top; y < c.bottom; ++y)
            spans.push_back(Span{y, c.left, c.right});
    }
    paintSpans(t, spans, p, background(), rop2);
}

void Player::frameRegion(const Region& r, const Paint& p, double logicalW, double logicalH)
{
    // The frame's width and height, logical, in pixels: at least one, at most a picture's worth.
    const int w = int(std::clamp(std::fabs(logicalW * scaleX()), 1.0, 1000.0));
    const int h = int(std::clamp(std::fabs(logicalH * scaleY()), 1.0, 1000.0));
    // The frame: pixels of the region whose neighbours w across or h down are not all in it.
    Region inner = r;
    for (const POINT& d : {POINT{w, 0}, POINT{-w, 0}, POINT{0, h}, POINT{0, -h}}) {
        Region moved = r;
        moved.offset(d.x, d.y);
        inner.intersect(moved);
    }
    Region frame = r;
    frame.subtract(inner);
    fillRegion(frame, p, s.rop2);
}


} // namespace gdi
} // namespace platform
