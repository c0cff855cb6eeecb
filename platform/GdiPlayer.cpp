#include "platform/GdiPlayer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace platform {
namespace gdi {

namespace {

const double kPi = 3.14159265358979323846;
const size_t kMaxSaved = 1024;      // nested saves kept; deeper ones are ignored
const size_t kMaxPathPoints = 1 << 18; // a path's points, far beyond any real file
// Beyond this a coordinate is off every 4000-pixel picture; keeping it there keeps integers exact.
const double kFar = 1 << 26;

int clampInt(double v)
{
    if (!(v > -kFar))
        return -int(kFar);
    return v >= kFar ? int(kFar) : int(std::floor(v + 0.5));
}

double safeRatio(double n, double d) { return d == 0 || !std::isfinite(n / d) ? 1 : n / d; }

size_t outlinePoints(const Outline& o)
{
    size_t n = 0;
    for (const Contour& c : o)
        n += c.pts.size();
    return n;
}

// The standard cosmetic patterns, in pixels.
std::vector<double> cosmeticDash(int style)
{
    switch (style) {
    case 1: return {18, 6};
    case 2: return {3, 3};
    case 3: return {9, 6, 3, 6};
    case 4: return {9, 3, 3, 3, 3, 3};
    case 8: return {1, 1}; // PS_ALTERNATE
    default: return {};
    }
}

} // namespace

Xform Xform::then(const Xform& o) const
{
    return Xform{a * o.a + b * o.c, a * o.b + b * o.d, c * o.a + d * o.c, c * o.b + d * o.d, e * o.a + f * o.c + o.e,
                 e * o.b + f * o.d + o.f};
}

Player::Player(HDC h, const Metafile& mf, const RECT& r) : m(mf), hdc(h), rc(r), limit_(mf.objects)
{
    const double w = double(r.right) - r.left, ht = double(r.bottom) - r.top;
    if (m.wmf) {
        base_ = Xform{1, 0, 0, 1, double(r.left), double(r.top)};
    } else {
        const ENHMETAHEADER& hd = m.header;
        if (hd.szlDevice.cx > 0 && hd.szlDevice.cy > 0 && hd.szlMillimeters.cx > 0 && hd.szlMillimeters.cy > 0) {
            ppmmX_ = double(hd.szlDevice.cx) / hd.szlMillimeters.cx;
            ppmmY_ = double(hd.szlDevice.cy) / hd.szlMillimeters.cy;
        }
        // The frame (0.01 mm) in reference pixels maps onto the destination; a file without
        // one falls back on its bounds.
        double fl = hd.rclFrame.left * ppmmX_ / 100, ft = hd.rclFrame.top * ppmmY_ / 100;
        double fw = (double(hd.rclFrame.right) - hd.rclFrame.left) * ppmmX_ / 100;
        double fh = (double(hd.rclFrame.bottom) - hd.rclFrame.top) * ppmmY_ / 100;
        if (!(fw > 0 && fh > 0)) {
            fl = hd.rclBounds.left;
            ft = hd.rclBounds.top;
            fw = double(hd.rclBounds.right) - hd.rclBounds.left;
            fh = double(hd.rclBounds.bottom) - hd.rclBounds.top;
        }
        const double sx = safeRatio(w, fw), sy = safeRatio(ht, fh);
        base_ = Xform{sx, 0, 0, sy, r.left - fl * sx, r.top - ft * sy};
    }
    changed();
    if (auto d = dc(hdc)) {
        hadClip_ = d->hasClip;
        oldClip_ = d->clip;
    }
    oldFont_ = GetCurrentObject(hdc, OBJ_FONT);
    oldPen_ = GetCurrentObject(hdc, OBJ_PEN);
    oldBrush_ = GetCurrentObject(hdc, OBJ_BRUSH);
    oldAlign_ = GetTextAlign(hdc);
    oldText_ = GetTextColor(hdc);
    oldBk_ = GetBkColor(hdc);
    oldBkMode_ = GetBkMode(hdc);
    MoveToEx(hdc, 0, 0, &oldPos_);
    s.font.lfHeight = -12;
    s.font.lfWeight = 400;
    s.pen.colour = 0;
    s.brush.paint.kind = Paint::Solid;
    s.brush.paint.colour = 0xFFFFFF;
    // The context's palette stands for the metafile's until one is selected.
    if (auto d = dc(hdc))
        if (auto o = d->palette ? object(d->palette) : nullptr)
            s.palette = std::make_shared<const std::vector<PALETTEENTRY>>(o->palette);
}

Player::~Player()
{
    if (auto d = dc(hdc)) {
        d->hasClip = hadClip_;
        d->clip = oldClip_;
    }
    SelectObject(hdc, oldFont_);
    SelectObject(hdc, oldPen_);
    SelectObject(hdc, oldBrush_);
    SetTextAlign(hdc, oldAlign_);
    SetTextColor(hdc, oldText_);
    SetBkColor(hdc, oldBk_);
    SetBkMode(hdc, oldBkMode_);
    MoveToEx(hdc, oldPos_.x, oldPos_.y, nullptr);
}

// ---- mapping --------------------------------------------------------------------------

void Player::changed()
{
    double sx = 1, sy = 1;
    const double ext[] = {0, 0, 0.1, 0.01, 0.254, 0.0254, 25.4 / 1440};
    if (m.wmf) {
        // A WMF plays as into a context whose viewport is the destination: its window maps
        // onto it (without an extent a unit is a pixel). A viewport extent of its own takes
        // the window's place, in destination pixels; a viewport origin moves the picture.
        if (s.mapMode >= 2 && s.mapMode <= 6) {
            sx = ext[s.mapMode] * 96 / 25.4;
            sy = -sx;
        } else if (s.wmfViewportExt && (s.mapMode == 7 || s.mapMode == 8)) {
            sx = safeRatio(s.vpExtX, s.winExtX);
            sy = safeRatio(s.vpExtY, s.winExtY);
        } else if (s.wmfWindowSet) {
            sx = safeRatio(double(rc.right) - rc.left, s.winExtX);
            sy = safeRatio(double(rc.bottom) - rc.top, s.winExtY);
        }
        if (s.mapMode == 7) {
            const double k = std::min(std::fabs(sx), std::fabs(sy));
            sx = std::copysign(k, sx);
            sy = std::copysign(k, sy);
        }
        const Xform page{sx, 0, 0, sy, s.vpOrgX - s.winOrgX * sx, s.vpOrgY - s.winOrgY * sy};
        full_ = s.world.then(page).then(base_);
        return;
    }
    if (s.mapMode >= 2 && s.mapMode <= 6) {
        sx = ext[s.mapMode] * ppmmX_;
        sy = -ext[s.mapMode] * ppmmY_;
    } else if (s.mapMode == 7 || s.mapMode == 8) {
        sx = safeRatio(s.vpExtX, s.winExtX);
        sy = safeRatio(s.vpExtY, s.winExtY);
        if (s.mapMode == 7) {
            const double k = std::min(std::fabs(sx), std::fabs(sy));
            sx = std::copysign(k, sx);
            sy = std::copysign(k, sy);
        }
    }
    const Xform page{sx, 0, 0, sy, s.vpOrgX - s.winOrgX * sx, s.vpOrgY - s.winOrgY * sy};
    full_ = s.world.then(page).then(base_);
}

PointF Player::mapRound(double x, double y) const
{
    const PointF p = map(x, y);
    return PointF{double(clampInt(p.x)), double(clampInt(p.y))};
}

double Player::scaleX() const { return std::hypot(full_.a, full_.b); }
double Player::scaleY() const { return std::hypot(full_.c, full_.d); }

void Player::setMapMode(int mode)
{
    if (mode < 1 || mode > 8)
        return;
    s.mapMode = mode;
    if (mode != 7 && mode != 8) {
        s.winExtX = s.winExtY = s.vpExtX = s.vpExtY = 1;
    }
    changed();
}

void Player::setWindowOrg(double x, double y)
{
    s.winOrgX = x;
    s.winOrgY = y;
    changed();
}

void Player::setWindowExt(double x, double y)
{
    if (x == 0 || y == 0)
        return;
    if (m.wmf) { // honoured in every mode, as the destination's context is anisotropic
        s.winExtX = x;
        s.winExtY = y;
        s.wmfWindowSet = true;
    } else if (s.mapMode == 7 || s.mapMode == 8) {
        s.winExtX = x;
        s.winExtY = y;
    }
    changed();
}

void Player::setViewportOrg(double x, double y)
{
    s.vpOrgX = x;
    s.vpOrgY = y;
    changed();
}

void Player::setViewportExt(double x, double y)
{
    if (x == 0 || y == 0 || (s.mapMode != 7 && s.mapMode != 8))
        return;
    s.wmfViewportExt = m.wmf;
    s.vpExtX = x;
    s.vpExtY = y;
    changed();
}

void Player::scaleWindowExt(double xn, double xd, double yn, double yd)
{
    if (xd == 0 || yd == 0 || xn == 0 || yn == 0)
        return;
    // Extents stay whole numbers, as the context keeps them.
    setWindowExt(std::trunc(s.winExtX * xn / xd), std::trunc(s.winExtY * yn / yd));
}

void Player::scaleViewportExt(double xn, double xd, double yn, double yd)
{
    if (xd == 0 || yd == 0 || xn == 0 || yn == 0)
        return;
    setViewportExt(std::trunc(s.vpExtX * xn / xd), std::trunc(s.vpExtY * yn / yd));
}

void Player::setWorld(const Xform& x)
{
    if (!std::isfinite(x.a + x.b + x.c + x.d + x.e + x.f) || x.det() == 0)
        return;
    s.world = x;
    changed();
}

void Player::modifyWorld(const Xform& x, int mode)
{
    switch (mode) {
    case 1: // MWT_IDENTITY
        s.world = Xform();
        changed();
        break;
    case 2: // MWT_LEFTMULTIPLY
        setWorld(x.then(s.world));
        break;
    case 3: // MWT_RIGHTMULTIPLY
        setWorld(s.world.then(x));
        break;
    case 4: // MWT_SET
        setWorld(x);
        break;
    default:
        break;
    }
}

void Player::save()
{
    if (saved_.size() < kMaxSaved)
        saved_.push_back(s);
}

void Player::restore(int relative)
{
    // Negative: that many back; positive: an absolute level (1 the first save).
    int64_t level = relative < 0 ? int64_t(saved_.size()) + relative : int64_t(relative) - 1;
    if (level < 0 || level >= int64_t(saved_.size()))
        return;
    s = saved_[size_t(level)];
    saved_.resize(size_t(level));
    changed();
    applyClip();
}

// ---- objects ----------------------------------------------------------------------------

MetaObject* Player::slot(size_t index)
{
    auto it = objects_.find(index);
    return it == objects_.end() ? nullptr : &it->second;
}

bool Player::put(size_t index, MetaObject o)
{
    if (index >= limit_)
        return false;
    objects_[index] = std::move(o);
    return true;
}

int Player::wmfFreeSlot() const
{
    // The lowest index not in use.
    size_t i = 0;
    for (const auto& kv : objects_) {
        if (kv.first != i)
            break;
        ++i;
    }
    return i < limit_ ? int(i) : -1;
}

void Player::select(size_t index)
{
    const MetaObject* o = slot(index);
    if (!o)
        return;
    switch (o->kind) {
    case MetaObject::Pen:
        s.pen = o->pen;
        s.penIndex = int64_t(index);
        break;
    case MetaObject::Brush:
        s.brush = o->brush;
        s.brushIndex = int64_t(index);
        break;
    case MetaObject::Font: s.font = o->font; break;
    case MetaObject::Palette:
        s.palette = std::make_shared<const std::vector<PALETTEENTRY>>(o->palette);
        s.paletteIndex = int64_t(index);
        break;
    case MetaObject::Region: {
        Region r = regionFromRects(o->rects, true);
        selectClip(&r, RGN_COPY);
        break;
    }
    default: break;
    }
}

void Player::selectStock(uint32_t index)
{
    const COLORREF greys[] = {0xFFFFFF, 0xC0C0C0, 0x808080, 0x404040, 0};
    if (index <= 4) {
        s.brush.paint = Paint();
        s.brush.paint.kind = Paint::Solid;
        s.brush.paint.colour = greys[index];
        s.brushIndex = -1;
    } else if (index == 5) {
        s.brush.paint = Paint();
        s.brushIndex = -1;
    } else if (index == 6 || index == 7 || index == 8) {
        s.penIndex = -1;
        s.pen = PenDesc();
        s.pen.colour = index == 6 ? 0xFFFFFF : 0;
        s.pen.null = index == 8;
    } else if (index >= 10 && index <= 17 && index != 15) {
        s.font = LOGFONTW{};
        s.font.lfHeight = -12;
        s.font.lfWeight = 400;
        if (index == 11 || index == 10)
            std::memcpy(s.font.lfFaceName, u"Courier New", 12 * sizeof(char16_t));
    }
}

void Player::erase(size_t index)
{
    // Deleting what is selected leaves the context's defaults in its place.
    if (s.penIndex == int64_t(index)) {
        s.pen = PenDesc();
        s.penIndex = -1;
    }
    if (s.brushIndex == int64_t(index)) {
        s.brush = BrushDesc();
        s.brush.paint.kind = Paint::Solid;
        s.brush.paint.colour = 0xFFFFFF;
        s.brushIndex = -1;
    }
    objects_.erase(index);
}

bool Player::packedBits(const uint8_t* dib, size_t bytes, unsigned usage, size_t& offset)
{
    if (bytes < 12)
        return false;
    const uint32_t hsize = le32(dib);
    size_t bits = 0, colours = 0, entry = usage == 1 ? 2 : 4, masks = 0;
    if (hsize == 12) {
        bits = le16(dib + 10);
        entry = usage == 1 ? 2 : 3;
    } else if (hsize >= 40 && hsize <= bytes) {
        bits = le16(dib + 14);
        const uint32_t used = le32(dib + 32);
        if (bits <= 8)
            colours = used && used < (1u << bits) ? used : 0;
        masks = le32(dib + 16) == 3 && hsize == 40 ? 12 : 0;
    } else {
        return false;
    }
    if (bits <= 8 && colours == 0)
        colours = size_t(1) << bits;
    if (bits > 8)
        colours = 0;
    offset = hsize + masks + colours * entry;
    return offset <= bytes;
}

// ---- drawing ------------------------------------------------------------------------------

Stroke Player::strokeOf() const
{
    Stroke st;
    st.visible = !s.pen.null;
    st.colour = colour(s.pen.colour);
    const double scale = std::sqrt(std::fabs(full_.det()));
    st.width = s.pen.cosmetic ? 1 : std::max(1.0, std::floor(s.pen.width * scale + 0.5));
    // Hostile widths would cost a square of pixels at every point of a line.
    st.width = std::min(st.width, 2.0 * std::max(rc.right - rc.left, rc.bottom - rc.top) + 2);
    st.cap = s.pen.cap;
    st.join = s.pen.join;
    st.miterLimit = s.miterLimit;
    if (s.pen.style == 7) {
        for (double u : s.pen.user)
            st.dash.push_back(std::max(1.0, s.pen.cosmetic ? u : u * scale));
    } else if (st.width <= 1.5) {
        st.dash = cosmeticDash(s.pen.style);
    } else if (!s.pen.cosmetic && s.pen.style >= 1 && s.pen.style <= 4) {
        const double w = st.width;
        const std::vector<double> styles[] = {{3 * w, w}, {w, w}, {3 * w, w, w, w}, {3 * w, w, w, w, w, w}};
        st.dash = styles[s.pen.style - 1];
    }
    return st;
}

Background Player::background() const { return Background{s.bkMode == 2, colour(s.bkColour)}; }

COLORREF Player::colour(COLORREF c) const
{
    // PALETTEINDEX: an entry of the selected palette; the rest are RGB (PALETTERGB too).
    if ((c >> 24) == 1) {
        const size_t i = c & 0xFFFF;
        const std::vector<PALETTEENTRY>& pal = palette();
        return i < pal.size() ? RGB(pal[i].peRed, pal[i].peGreen, pal[i].peBlue) : 0;
    }
    return c & 0xFFFFFF;
}

const std::vector<PALETTEENTRY>& Player::palette() const
{
    static const std::vector<PALETTEENTRY> none;
    return s.palette ? *s.palette : none;
}

bool Player::target(Target& t) const
{
    auto d = dc(hdc);
    return d && resolve(*d, t);
}

void Player::draw(const Outline& device, bool fill, bool stroke)
{
    Target t;
    if (!target(t))
        return;
    if (fill && s.brush.paint.kind != Paint::None) {
        std::vector<Span> spans;
        scanFill(device, s.winding, t.allowed.bounds(), spans);
        paintSpans(t, spans, resolved(s.brush.paint), background(), s.rop2);
    }
    if (stroke)
        strokeOutline(t, device, strokeOf(), background(), s.rop2);
}

void Player::emit(Outline device, bool fill, bool stroke, bool closeForPath)
{
    if (!inPath_) {
        draw(device, fill, stroke);
        return;
    }
    if (outlinePoints(path_) + outlinePoints(device) > kMaxPathPoints)
        return;
    for (Contour& c : device) {
        if (closeForPath)
            c.closed = true;
        path_.push_back(std::move(c));
    }
    figureOpen_ = false;
}

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
    if (aligned && !inPath_ && kind != Box::Chord && kind != Box::Pie) {
        // The fill reaches the right and bottom edges the outline stands on when no pen
        // covers them: GDI's boxes fill [left, right - 1) either way.
    }
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
    switch (mode) {
    case RGN_COPY: current = *region; break;
    case RGN_AND: current.intersect(*region); break;
    case RGN_OR: current.unite(*region); break;
    case RGN_DIFF: current.subtract(*region); break;
    case RGN_XOR: {
        Region both = current;
        both.intersect(*region);
        current.unite(*region);
        current.subtract(both);
        break;
    }
    default: return;
    }
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

// ---- text -------------------------------------------------------------------------------

void Player::text(double x, double y, const std::u16string& str, UINT options, const RECT* logicalRect,
                  const std::vector<double>& dx)
{
    if (inPath_ || (str.empty() && !(logicalRect && (options & ETO_OPAQUE))))
        return;
    const bool updateCp = (s.textAlign & 1) != 0; // TA_UPDATECP
    PointF ref = updateCp ? s.pos : mapRound(x, y);
    LOGFONTW lf = s.font;
    const double sy = scaleY(), sx = scaleX();
    // Letters taller than twice the picture show nothing more and would cost their square.
    const double tallest = std::min(4096.0, 2.0 * std::max(rc.right - rc.left, rc.bottom - rc.top) + 2);
    lf.lfHeight = LONG(std::clamp(std::floor(lf.lfHeight * sy + (lf.lfHeight < 0 ? -0.5 : 0.5)), -tallest, tallest));
    if (lf.lfHeight == 0 && s.font.lfHeight != 0)
        lf.lfHeight = s.font.lfHeight < 0 ? -1 : 1;
    lf.lfWidth = LONG(std::clamp(std::floor(std::fabs(lf.lfWidth * sx) + 0.5), 0.0, tallest));
    // Escapement turns with the mapping: flipped axes mirror it, a world rotation adds its angle.
    double esc = lf.lfEscapement;
    if (full_.det() < 0)
        esc = -esc;
    esc += std::atan2(-full_.b, full_.a) * 1800 / kPi * (full_.d < 0 ? -1 : 1);
    if (full_.a < 0 && full_.d < 0)
        esc += 0; // a half turn is in the atan2 already
    esc = std::fmod(esc, 3600);
    lf.lfEscapement = lf.lfOrientation = LONG(std::floor(esc + 0.5));
    HFONT font = CreateFontIndirectW(&lf);
    if (!font)
        return;
    const HGDIOBJ old = SelectObject(hdc, font);
    SetTextColor(hdc, colour(s.textColour));
    SetBkColor(hdc, colour(s.bkColour));
    SetBkMode(hdc, s.bkMode == 1 ? 1 : 2);
    SetTextAlign(hdc, s.textAlign & ~1u);
    RECT dev{};
    const RECT* rp = nullptr;
    if (logicalRect && (options & (ETO_OPAQUE | ETO_CLIPPED))) {
        const PointF p = mapRound(logicalRect->left, logicalRect->top),
                     q = mapRound(logicalRect->right, logicalRect->bottom);
        dev = RECT{int(std::min(p.x, q.x)), int(std::min(p.y, q.y)), int(std::max(p.x, q.x)), int(std::max(p.y, q.y))};
        rp = &dev;
    }
    std::vector<INT> adv;
    if (!dx.empty()) {
        // Advances scaled, the rounding carried so the string keeps its length.
        double sum = 0;
        int placed = 0;
        for (double d : dx) {
            sum += d * sx;
            const int at = clampInt(sum);
            adv.push_back(at - placed);
            placed = at;
        }
    }
    const UINT count = UINT(std::min<size_t>(str.size(), dx.empty() ? str.size() : adv.size()));
    ExtTextOutW(hdc, clampInt(ref.x), clampInt(ref.y), options & (ETO_OPAQUE | ETO_CLIPPED), rp,
                reinterpret_cast<LPCWSTR>(str.data()), count, adv.empty() ? nullptr : adv.data());
    if (updateCp) {
        double width = 0;
        if (!adv.empty()) {
            for (INT a : adv)
                width += a;
        } else {
            SIZE size{0, 0};
            if (GetTextExtentPoint32W(hdc, reinterpret_cast<LPCWSTR>(str.data()), int(count), &size))
                width = size.cx;
        }
        const double ang = lf.lfEscapement * kPi / 1800;
        s.pos = PointF{double(clampInt(ref.x + width * std::cos(ang))), double(clampInt(ref.y - width * std::sin(ang)))};
    }
    SelectObject(hdc, old);
    DeleteObject(font);
}

// ---- bitmaps ------------------------------------------------------------------------------

namespace {

// A DIB checked against its bytes: header fields and where its colours and rows are.
struct DibView {
    int width = 0, height = 0, bits = 0;
    bool topDown = false;
    uint32_t compression = 0;
    size_t colours = 0; // table entries
    size_t stride = 0;
    std::vector<uint8_t> info; // BITMAPINFO: the 40-byte header, masks and colour table
};

// The largest source a record may expand: the pixels a 4000 x 4000 picture could need.
const int64_t kMaxDibPixels = int64_t(4096) * 4096;

bool viewDib(const uint8_t* bmi, size_t bmiBytes, size_t bitsBytes, unsigned usage, const std::vector<PALETTEENTRY>& pal,
             DibView& v)
{
    if (!bmi || bmiBytes < 12)
        return false;
    const uint32_t hsize = le32(bmi);
    if (hsize == 12) { // the old core header: 16-bit sizes, three-byte colours
        v.width = le16(bmi + 4);
        v.height = s16(bmi + 6);
        v.bits = le16(bmi + 10);
    } else if (hsize >= 40 && hsize <= bmiBytes) {
        v.width = s32(bmi + 4);
        v.height = s32(bmi + 8);
        v.bits = le16(bmi + 14);
        v.compression = le32(bmi + 16);
    } else {
        return false;
    }
    if (v.width <= 0 || v.height == 0 || v.height == INT32_MIN)
        return false;
    if (v.bits != 1 && v.bits != 4 && v.bits != 8 && v.bits != 16 && v.bits != 24 && v.bits != 32)
        return false;
    // Run-length bits are as long as the header says, and must be there.
    const bool rle = (v.compression == 1 && v.bits == 8) || (v.compression == 2 && v.bits == 4);
    if (v.compression != 0 && v.compression != 3 && !rle)
        return false;
    if (v.compression == 3 && ((v.bits != 16 && v.bits != 32) || (hsize != 40 && hsize < 52)))
        return false;
    const uint32_t sizeImage = hsize >= 40 ? le32(bmi + 20) : 0;
    if (rle && (v.height < 0 || sizeImage == 0 || sizeImage > bitsBytes))
        return false;
    v.topDown = v.height < 0;
    const int64_t h = std::llabs(int64_t(v.height));
    if (int64_t(v.width) * h > kMaxDibPixels)
        return false;
    v.stride = size_t((int64_t(v.width) * v.bits + 31) / 32 * 4);
    if (!rle && v.stride * size_t(h) > bitsBytes)
        return false;
    size_t used = hsize >= 40 && le32(bmi + 32) ? le32(bmi + 32) : 0;
    if (v.bits <= 8)
        v.colours = used ? std::min<size_t>(used, size_t(1) << v.bits) : size_t(1) << v.bits;
    const size_t entry = hsize == 12 ? 3 : (usage == 1 ? 2 : 4);
    const size_t masks = (v.compression == 3 && hsize == 40) ? 12 : 0;
    const size_t tableAt = hsize + masks;
    if (tableAt > bmiBytes || v.colours * entry > bmiBytes - tableAt)
        return false;
    // A BITMAPINFO the stand-in reads: 40-byte header, masks, RGB table.
    v.info.assign(40 + 12 + v.colours * 4, 0);
    uint8_t* o = v.info.data();
    auto put32 = [](uint8_t* p, uint32_t x) {
        p[0] = uint8_t(x), p[1] = uint8_t(x >> 8), p[2] = uint8_t(x >> 16), p[3] = uint8_t(x >> 24);
    };
    put32(o, 40);
    put32(o + 4, uint32_t(v.width));
    put32(o + 8, uint32_t(v.height));
    o[12] = 1;
    o[14] = uint8_t(v.bits);
    put32(o + 16, v.compression);
    put32(o + 20, sizeImage);
    put32(o + 32, uint32_t(v.colours));
    size_t at = 40;
    if (v.compression == 3) { // the masks: inside a larger header, or right after the 40-byte one
        std::memcpy(o + 40, bmi + 40, 12);
        at = 52;
    }
    const uint8_t* table = bmi + tableAt;
    for (size_t i = 0; i < v.colours; ++i) {
        uint8_t* e = o + at + i * 4;
        if (usage == 1) { // indexes into the logical palette
            const size_t k = le16(table + i * 2);
            if (k < pal.size()) {
                e[0] = pal[k].peBlue, e[1] = pal[k].peGreen, e[2] = pal[k].peRed;
            }
        } else {
            e[0] = table[i * entry], e[1] = table[i * entry + 1], e[2] = table[i * entry + 2];
        }
    }
    v.info.resize(at + v.colours * 4);
    return true;
}

} // namespace

Paint Player::brushFromDib(const uint8_t* bmi, size_t bmiBytes, const uint8_t* bits, size_t bitsBytes, unsigned usage) const
{
    Paint p;
    DibView v;
    if (!viewDib(bmi, bmiBytes, bitsBytes, usage, palette(), v) || int64_t(v.width) * std::llabs(int64_t(v.height)) > 256 * 256)
        return p;
    const int h = int(std::llabs(int64_t(v.height)));
    p.kind = Paint::Pattern;
    p.width = v.width;
    p.height = h;
    std::vector<COLORREF> pixels(size_t(v.width) * size_t(h));
    const uint8_t* table = v.info.data() + (v.compression == 3 ? 52 : 40);
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = bits + size_t(v.topDown ? y : h - 1 - y) * v.stride;
        for (int x = 0; x < v.width; ++x) {
            COLORREF c = 0;
            if (v.bits <= 8) {
                const int per = 8 / v.bits;
                const unsigned idx = (row[x / per] >> ((per - 1 - x % per) * v.bits)) & ((1u << v.bits) - 1);
                if (idx < v.colours)
                    c = RGB(table[idx * 4 + 2], table[idx * 4 + 1], table[idx * 4]);
            } else if (v.bits == 16) {
                const unsigned w = le16(row + x * 2);
                c = RGB(((w >> 10) & 31) * 255 / 31, ((w >> 5) & 31) * 255 / 31, (w & 31) * 255 / 31);
            } else {
                const uint8_t* q = row + x * (v.bits / 8);
                c = RGB(q[2], q[1], q[0]);
            }
            pixels[size_t(y) * size_t(v.width) + size_t(x)] = c;
        }
    }
    p.pixels = std::make_shared<const std::vector<COLORREF>>(std::move(pixels));
    return p;
}

namespace {

// A DIB turned into a bitmap selected into a memory context: the source of the blits
// that take a context.
struct SourceDC {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    SourceDC(HDC like, const DibView& v, const uint8_t* bits)
    {
        const auto* info = reinterpret_cast<const BITMAPINFO*>(v.info.data());
        bitmap = CreateDIBitmap(like, &info->bmiHeader, CBM_INIT, bits, info, DIB_RGB_COLORS);
        dc = bitmap ? CreateCompatibleDC(like) : nullptr;
        if (dc)
            old = SelectObject(dc, bitmap);
    }
    ~SourceDC()
    {
        if (dc) {
            SelectObject(dc, old);
            DeleteDC(dc);
        }
        if (bitmap)
            DeleteObject(bitmap);
    }
};

// The player's brush as the context's, for the raster operations that read the pattern;
// hatches and patterns stand in by their colour.
struct BrushScope {
    HDC dc;
    HBRUSH brush = nullptr;
    HGDIOBJ old = nullptr;
    BrushScope(HDC d, const Paint& p) : dc(d)
    {
        brush = p.kind == Paint::None ? nullptr : CreateSolidBrush(p.colour);
        old = SelectObject(dc, brush ? static_cast<HGDIOBJ>(brush) : GetStockObject(NULL_BRUSH));
    }
    ~BrushScope()
    {
        SelectObject(dc, old);
        if (brush)
            DeleteObject(brush);
    }
};

} // namespace

bool Player::dib(const DibSource& src, double x, double y, double w, double h, int xs, int ys, int ws, int hs,
                 DWORD rop, const BlitExtra& extra)
{
    if (inPath_)
        return false;
    DibView v;
    if (!viewDib(src.bmi, src.bmiBytes, src.bitsBytes, src.usage, palette(), v))
        return false;
    const bool aligned = full_.b == 0 && full_.c == 0;
    const PointF p = mapRound(x, y), q = mapRound(x + w, y + h);
    const int dx = int(p.x), dy = int(p.y), dw = int(q.x - p.x), dh = int(q.y - p.y);
    const auto* info = reinterpret_cast<const BITMAPINFO*>(v.info.data());
    const BrushScope pattern(hdc, resolved(s.brush.paint));
    // A bottom-up DIB's rows count from its bottom in the DIB calls, from the top in a context.
    const int64_t bh = std::llabs(int64_t(v.height));
    const int flipped = int(std::clamp<int64_t>(bh - ys - hs, INT32_MIN, INT32_MAX));
    if (extra.kind == BlitExtra::Stretch && aligned) {
        SetStretchBltMode(hdc, s.stretchMode);
        StretchDIBits(hdc, dx, dy, dw, dh, xs, extra.fromContext && !v.topDown ? flipped : ys, ws, hs, src.bits, info,
                      DIB_RGB_COLORS, rop);
        return true;
    }
    SourceDC source(hdc, v, src.bits);
    if (!source.dc)
        return false;
    const int top = !extra.fromContext && !v.topDown ? flipped : ys;
    ys = top;
    if (!aligned || extra.kind == BlitExtra::Plg) {
        POINT corners[3];
        if (extra.kind == BlitExtra::Plg) {
            for (int i = 0; i < 3; ++i) {
                const PointF c = mapRound(extra.plg[i].x, extra.plg[i].y);
                corners[i] = POINT{int(c.x), int(c.y)};
            }
        } else {
            const PointF a = mapRound(x, y), b = mapRound(x + w, y), c = mapRound(x, y + h);
            corners[0] = POINT{int(a.x), int(a.y)};
            corners[1] = POINT{int(b.x), int(b.y)};
            corners[2] = POINT{int(c.x), int(c.y)};
        }
        PlgBlt(hdc, corners, source.dc, xs, top, ws, hs, nullptr, 0, 0);
        return true;
    }
    switch (extra.kind) {
    case BlitExtra::Alpha: {
        BLENDFUNCTION blend{0, 0, BYTE(rop >> 16), BYTE(rop >> 24)};
        AlphaBlend(hdc, dx, dy, dw, dh, source.dc, xs, ys, ws, hs, blend);
        break;
    }
    case BlitExtra::Transparent:
        TransparentBlt(hdc, dx, dy, dw, dh, source.dc, xs, ys, ws, hs, rop & 0xFFFFFF);
        break;
    case BlitExtra::Mask: {
        DibView mv;
        if (extra.mask.bmi && viewDib(extra.mask.bmi, extra.mask.bmiBytes, extra.mask.bitsBytes, extra.mask.usage,
                                      palette(), mv)) {
            const auto* minfo = reinterpret_cast<const BITMAPINFO*>(mv.info.data());
            HBITMAP mask = CreateDIBitmap(hdc, &minfo->bmiHeader, CBM_INIT, extra.mask.bits, minfo, DIB_RGB_COLORS);
            MaskBlt(hdc, dx, dy, dw, dh, source.dc, xs, ys, mask, extra.maskX, extra.maskY, rop);
            if (mask)
                DeleteObject(mask);
        } else {
            BitBlt(hdc, dx, dy, dw, dh, source.dc, xs, ys, rop & 0xFFFFFF);
        }
        break;
    }
    default:
        SetStretchBltMode(hdc, s.stretchMode);
        StretchBlt(hdc, dx, dy, dw, dh, source.dc, xs, ys, ws, hs, rop);
        break;
    }
    return true;
}

void Player::gradient(const std::vector<TRIVERTEX>& logical, const void* mesh, ULONG count, ULONG mode)
{
    if (inPath_)
        return;
    std::vector<TRIVERTEX> dev = logical;
    for (TRIVERTEX& t : dev) {
        const PointF p = mapRound(t.x, t.y);
        t.x = LONG(p.x);
        t.y = LONG(p.y);
    }
    GradientFill(hdc, dev.data(), ULONG(dev.size()), mesh, count, mode);
}

void Player::patBlt(double x, double y, double w, double h, DWORD rop)
{
    const PointF p = mapRound(x, y), q = mapRound(x + w, y + h);
    Outline o{Contour{{{std::min(p.x, q.x), std::min(p.y, q.y)}, {std::max(p.x, q.x), std::min(p.y, q.y)},
                       {std::max(p.x, q.x), std::max(p.y, q.y)}, {std::min(p.x, q.x), std::max(p.y, q.y)}},
                      true}};
    Target t;
    if (!target(t))
        return;
    std::vector<Span> spans;
    scanFill(o, false, t.allowed.bounds(), spans);
    // The ternary code's truth table (bit P<<2 | S<<1 | D) without a source is a binary
    // one (bit P<<1 | D), which is what the binary operations number from one.
    const unsigned table = (rop >> 16) & 0xFF;
    unsigned binary = 0;
    for (unsigned pd = 0; pd < 4; ++pd) {
        const unsigned bit = (pd >> 1) << 2 | (pd & 1);
        if (((table >> bit) & 1) != ((table >> (bit | 2)) & 1))
            return; // reads a source it does not have
        binary |= ((table >> bit) & 1) << pd;
    }
    if (binary == 0xA) // the destination kept
        return;
    Paint paint = resolved(s.brush.paint);
    if (paint.kind == Paint::None) { // a null brush paints black where the pattern is read
        paint.kind = Paint::Solid;
        paint.colour = 0;
    }
    paintSpans(t, spans, paint, background(), int(binary) + 1);
}

} // namespace gdi
} // namespace platform
