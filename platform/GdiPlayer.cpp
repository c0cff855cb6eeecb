// The player's state: construction, mapping, saved contexts, the object table, and what
// every drawing call shares (pens, background, colours, the target).
#include "platform/GdiPlayer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace platform {
namespace gdi {

using namespace play;

namespace {

const size_t kMaxSaved = 1024; // nested saves kept; deeper ones are ignored

double safeRatio(double n, double d) { return d == 0 || !std::isfinite(n / d) ? 1 : n / d; }

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


} // namespace gdi
} // namespace platform
