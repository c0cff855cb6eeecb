#include "platform/GdiInternal.h"

#include <algorithm>
#include <cstring>

namespace platform {
namespace gdi {

namespace {
const int kSysColorCount = 31;

COLORREF sysColor(int index)
{
    switch (index) {
    case COLOR_WINDOW:
        return RGB(255, 255, 255);
    case COLOR_MENU:
    case COLOR_BTNFACE:
        return RGB(240, 240, 240);
    case COLOR_SCROLLBAR:
        return RGB(200, 200, 200);
    case COLOR_INFOBK:
        return RGB(255, 255, 225);
    default:
        return RGB(0, 0, 0);
    }
}

struct Stock {
    HGDIOBJ objects[DEFAULT_GUI_FONT + 1] = {};
    HGDIOBJ defaultBitmap = nullptr; // what a memory context holds before a bitmap: nothing to draw on
    HGDIOBJ sysBrushes[kSysColorCount] = {};
};

std::shared_ptr<Object> makeBrush(COLORREF c, int style)
{
    auto o = std::make_shared<Object>();
    o->kind = Kind::Brush;
    o->color = c & 0xFFFFFF;
    o->style = style;
    return o;
}

std::shared_ptr<Object> makePen(COLORREF c, int style)
{
    auto o = std::make_shared<Object>();
    o->kind = Kind::Pen;
    o->color = c & 0xFFFFFF;
    o->style = style;
    o->width = 1;
    return o;
}

HGDIOBJ addStockLocked(GdiState& g, std::shared_ptr<Object> o)
{
    o->stock = true;
    HGDIOBJ h = reinterpret_cast<HGDIOBJ>(g.next);
    g.next += 4;
    g.objects[h] = std::move(o);
    return h;
}
} // namespace

std::shared_ptr<Object> makeSystemFont(); // from the text part

Stock& stock();

GdiState& gdi()
{
    static GdiState* g = new GdiState();
    return *g;
}

Stock& stock()
{
    static Stock* s = [] {
        auto* st = new Stock();
        GdiState& g = gdi();
        boost::lock_guard<boost::mutex> lock(g.lock);
        st->objects[WHITE_BRUSH] = addStockLocked(g, makeBrush(RGB(255, 255, 255), 0));
        st->objects[LTGRAY_BRUSH] = addStockLocked(g, makeBrush(RGB(192, 192, 192), 0));
        st->objects[GRAY_BRUSH] = addStockLocked(g, makeBrush(RGB(128, 128, 128), 0));
        st->objects[DKGRAY_BRUSH] = addStockLocked(g, makeBrush(RGB(64, 64, 64), 0));
        st->objects[BLACK_BRUSH] = addStockLocked(g, makeBrush(RGB(0, 0, 0), 0));
        st->objects[NULL_BRUSH] = addStockLocked(g, makeBrush(0, 1));
        st->objects[WHITE_PEN] = addStockLocked(g, makePen(RGB(255, 255, 255), 0));
        st->objects[BLACK_PEN] = addStockLocked(g, makePen(RGB(0, 0, 0), 0));
        st->objects[NULL_PEN] = addStockLocked(g, makePen(0, 5));
        st->objects[SYSTEM_FONT] = addStockLocked(g, makeSystemFont());
        st->objects[DEFAULT_GUI_FONT] = st->objects[SYSTEM_FONT];
        auto empty = std::make_shared<Object>();
        empty->kind = Kind::Bitmap;
        empty->bitmap = std::make_shared<Bitmap>();
        st->defaultBitmap = addStockLocked(g, empty);
        for (int i = 0; i < kSysColorCount; ++i)
            st->sysBrushes[i] = addStockLocked(g, makeBrush(sysColor(i), 0));
        return st;
    }();
    return *s;
}

std::shared_ptr<Object> object(HGDIOBJ h)
{
    GdiState& g = gdi();
    boost::lock_guard<boost::mutex> lock(g.lock);
    auto it = g.objects.find(h);
    return it == g.objects.end() ? nullptr : it->second;
}

std::shared_ptr<DC> dc(HDC h)
{
    GdiState& g = gdi();
    boost::lock_guard<boost::mutex> lock(g.lock);
    auto it = g.dcs.find(h);
    return it == g.dcs.end() ? nullptr : it->second;
}

HGDIOBJ addObject(std::shared_ptr<Object> o)
{
    stock();
    GdiState& g = gdi();
    boost::lock_guard<boost::mutex> lock(g.lock);
    HGDIOBJ h = reinterpret_cast<HGDIOBJ>(g.next);
    g.next += 4;
    g.objects[h] = std::move(o);
    ++g.live;
    return h;
}

HDC addDC(std::shared_ptr<DC> d)
{
    Stock& st = stock();
    d->pen = st.objects[BLACK_PEN];
    d->brush = st.objects[WHITE_BRUSH];
    d->font = st.objects[SYSTEM_FONT];
    if (d->type == DC::Type::Memory)
        d->bitmap = st.defaultBitmap;
    GdiState& g = gdi();
    boost::lock_guard<boost::mutex> lock(g.lock);
    HDC h = reinterpret_cast<HDC>(g.next);
    g.next += 4;
    g.dcs[h] = std::move(d);
    return h;
}

bool resolve(DC& d, Target& t)
{
    t = Target();
    if (d.type == DC::Type::Screen)
        return false;
    if (d.type == DC::Type::Memory) {
        auto bm = d.bitmap ? object(d.bitmap) : nullptr;
        if (!bm || !bm->bitmap || bm->bitmap->width == 0 || bm->bitmap->height == 0)
            return false;
        Bitmap& b = *bm->bitmap;
        t.bitmap = bm->bitmap;
        t.width = b.width;
        t.height = b.height;
        t.bpp = b.bpp;
        t.top = b.rowPtr(0);
        t.stride = b.topDown ? b.stride : -b.stride;
        t.allowed = Region(RECT{0, 0, b.width, b.height});
    } else {
        POINT origin;
        Region visible;
        if (!platform::detail::paintTarget(d.hwnd, t.surface, origin, visible))
            return false;
        t.width = t.surface->width;
        t.height = t.surface->height;
        t.bpp = 32;
        t.top = t.surface->pixels.data();
        t.stride = ptrdiff_t(t.width) * 4;
        t.ox = origin.x;
        t.oy = origin.y;
        t.allowed = visible;
        if (d.hasPaintClip)
            t.allowed.intersect(d.paintClip);
    }
    if (d.hasClip)
        t.allowed.intersect(d.clip);
    t.allowed.index();
    return !t.allowed.empty();
}

void fillSolid(const Target& t, const RECT& rc, COLORREF c)
{
    Region area(rc);
    area.intersect(t.allowed);
    uint8_t px[4] = {GetBValue(c), GetGValue(c), GetRValue(c), 0};
    int bytes = t.bpp / 8;
    for (const RECT& r : area.rects()) {
        for (int y = r.top; y < r.bottom; ++y) {
            uint8_t* p = t.at(r.left, y);
            if (bytes == 4) {
                uint32_t v;
                std::memcpy(&v, px, 4);
                for (int x = r.left; x < r.right; ++x, p += 4)
                    std::memcpy(p, &v, 4);
            } else {
                for (int x = r.left; x < r.right; ++x, p += 3) {
                    p[0] = px[0];
                    p[1] = px[1];
                    p[2] = px[2];
                }
            }
        }
    }
}

} // namespace gdi

int LiveGdiObjects()
{
    gdi::GdiState& g = gdi::gdi();
    boost::lock_guard<boost::mutex> lock(g.lock);
    return g.live;
}

namespace detail {

HDC createWindowDC(HWND hwnd, bool paint, const RECT* paintClip)
{
    auto d = std::make_shared<gdi::DC>();
    d->type = hwnd ? gdi::DC::Type::Window : gdi::DC::Type::Screen;
    d->hwnd = hwnd;
    d->paint = paint;
    if (paintClip) {
        d->hasPaintClip = true;
        d->paintClip = *paintClip;
    }
    return gdi::addDC(d);
}

void releaseWindowDC(HDC hdc);

COLORREF brushColor(HBRUSH brush, bool* isNull)
{
    *isNull = true;
    uintptr_t v = reinterpret_cast<uintptr_t>(brush);
    if (v > 0 && v <= uintptr_t(gdi::kSysColorCount)) {
        // A system colour index plus one stands for that colour's brush.
        *isNull = false;
        return gdi::sysColor(int(v - 1));
    }
    auto o = gdi::object(reinterpret_cast<HGDIOBJ>(brush));
    if (!o || o->kind != gdi::Kind::Brush || o->style == 1)
        return 0;
    *isNull = false;
    return o->color;
}

BOOL fillRectDC(HDC hdc, const RECT* rc, HBRUSH brush)
{
    auto d = gdi::dc(hdc);
    if (!d || !rc)
        return FALSE;
    bool isNull;
    COLORREF c = brushColor(brush, &isNull);
    if (isNull)
        return TRUE;
    gdi::Target t;
    if (gdi::resolve(*d, t))
        gdi::fillSolid(t, *rc, c);
    return TRUE;
}

} // namespace detail
} // namespace platform

using namespace platform::gdi;

HGDIOBJ GetStockObject(int index)
{
    if (index < 0 || index > DEFAULT_GUI_FONT)
        return nullptr;
    return stock().objects[index];
}

DWORD GetSysColor(int index) { return (index >= 0 && index < kSysColorCount) ? sysColor(index) : 0; }

HBRUSH GetSysColorBrush(int index)
{
    if (index < 0 || index >= kSysColorCount)
        return nullptr;
    return reinterpret_cast<HBRUSH>(stock().sysBrushes[index]);
}

HBRUSH CreateSolidBrush(COLORREF color)
{
    auto o = std::make_shared<Object>();
    o->kind = Kind::Brush;
    o->color = color & 0xFFFFFF;
    return reinterpret_cast<HBRUSH>(addObject(o));
}

BOOL DeleteObject(HGDIOBJ h)
{
    GdiState& g = gdi();
    boost::lock_guard<boost::mutex> lock(g.lock);
    auto it = g.objects.find(h);
    if (it == g.objects.end())
        return FALSE;
    if (it->second->stock)
        return TRUE; // stock objects stay
    if (it->second->kind == Kind::Metafile)
        return FALSE; // DeleteEnhMetaFile's
    if (it->second->selections > 0 || it->second->selectedIn)
        return FALSE;
    g.objects.erase(it);
    --g.live;
    return TRUE;
}

int FillRect(HDC hdc, const RECT* rc, HBRUSH brush) { return platform::detail::fillRectDC(hdc, rc, brush); }

namespace platform {
namespace gdi {
void destroyDC(HDC hdc)
{
    GdiState& g = gdi();
    boost::lock_guard<boost::mutex> lock(g.lock);
    auto it = g.dcs.find(hdc);
    if (it == g.dcs.end())
        return;
    DC& d = *it->second;
    for (HGDIOBJ h : {d.pen, d.brush, d.font, d.palette}) {
        auto o = g.objects.find(h);
        if (o != g.objects.end() && o->second->selections > 0)
            --o->second->selections;
    }
    if (d.bitmap) {
        auto o = g.objects.find(d.bitmap);
        if (o != g.objects.end() && o->second->selectedIn == hdc)
            o->second->selectedIn = nullptr;
    }
    g.dcs.erase(it);
}
} // namespace gdi

void detail::releaseWindowDC(HDC hdc)
{
    auto d = gdi::dc(hdc);
    if (d && d->type != gdi::DC::Type::Memory)
        gdi::destroyDC(hdc);
}
} // namespace platform

// ---- pens, selection, queries -------------------------------------------------------

HPEN CreatePen(int style, int width, COLORREF color)
{
    if (style != PS_SOLID && style != PS_DASH && style != PS_DOT && style != PS_NULL)
        style = PS_SOLID;
    auto o = std::make_shared<Object>();
    o->kind = Kind::Pen;
    o->style = style;
    o->width = width <= 0 ? 1 : std::min(width, 1024);
    o->color = color & 0xFFFFFF;
    return reinterpret_cast<HPEN>(addObject(o));
}

namespace platform {
namespace gdi {
int setClip(DC& d, const Region* region, int mode);
}
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h)
{
    auto d = dc(hdc);
    auto o = object(h);
    if (!d || !o)
        return nullptr;
    if (o->kind == Kind::Region) {
        int kind = platform::gdi::setClip(*d, &o->region, RGN_COPY);
        return reinterpret_cast<HGDIOBJ>(uintptr_t(kind));
    }
    GdiState& g = gdi();
    boost::lock_guard<boost::mutex> lock(g.lock);
    HGDIOBJ* slot = nullptr;
    switch (o->kind) {
    case Kind::Pen:
        slot = &d->pen;
        break;
    case Kind::Brush:
        slot = &d->brush;
        break;
    case Kind::Font:
        slot = &d->font;
        break;
    case Kind::Bitmap:
        if (d->type != DC::Type::Memory)
            return nullptr;
        if (!o->stock && o->selectedIn && o->selectedIn != hdc)
            return nullptr; // a bitmap lives in one context at a time
        slot = &d->bitmap;
        break;
    default:
        return nullptr;
    }
    HGDIOBJ old = *slot;
    if (old == h)
        return old;
    auto prev = g.objects.find(old);
    if (prev != g.objects.end()) {
        if (o->kind == Kind::Bitmap) {
            if (!prev->second->stock)
                prev->second->selectedIn = nullptr;
        }
        else if (prev->second->selections > 0)
            --prev->second->selections;
    }
    if (o->kind == Kind::Bitmap) {
        if (!o->stock)
            o->selectedIn = hdc;
    } else {
        ++o->selections;
    }
    *slot = h;
    if (o->kind == Kind::Pen)
        d->penPhase = 0;
    return old;
}

namespace platform {
namespace gdi {
void fontLogFont(const Object& o, LOGFONTW& lf);
}
}

int GetObjectW(HGDIOBJ h, int size, LPVOID out)
{
    auto o = object(h);
    if (!o)
        return 0;
    switch (o->kind) {
    case Kind::Bitmap: {
        if (!out)
            return int(sizeof(BITMAP));
        if (size < int(sizeof(BITMAP)))
            return 0;
        const Bitmap& b = *o->bitmap;
        BITMAP bm{0, b.width, b.height, b.stride, 1, WORD(b.bpp), o->style == 1 ? (void*)b.storage.data() : nullptr};
        std::memcpy(out, &bm, sizeof bm);
        return int(sizeof bm);
    }
    case Kind::Font: {
        if (!out)
            return int(sizeof(LOGFONTW));
        if (size < int(sizeof(LOGFONTW)))
            return 0;
        LOGFONTW lf;
        platform::gdi::fontLogFont(*o, lf);
        std::memcpy(out, &lf, sizeof lf);
        return int(sizeof lf);
    }
    default:
        return 0;
    }
}

HGDIOBJ GetCurrentObject(HDC hdc, UINT type)
{
    auto d = dc(hdc);
    if (!d)
        return nullptr;
    switch (type) {
    case OBJ_PEN:
        return d->pen;
    case OBJ_BRUSH:
        return d->brush;
    case OBJ_FONT:
        return d->font;
    case OBJ_BITMAP:
        return d->bitmap;
    default:
        return nullptr;
    }
}

int GetDeviceCaps(HDC, int index)
{
    switch (index) {
    case LOGPIXELSX:
    case LOGPIXELSY:
        return 96;
    case BITSPIXEL:
        return 32;
    case PLANES:
        return 1;
    case HORZRES: {
        MONITORINFO mi{sizeof mi, {}, {}, 0};
        GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &mi);
        return mi.rcMonitor.right - mi.rcMonitor.left;
    }
    case VERTRES: {
        MONITORINFO mi{sizeof mi, {}, {}, 0};
        GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &mi);
        return mi.rcMonitor.bottom - mi.rcMonitor.top;
    }
    default:
        return 0;
    }
}

HDC CreateCompatibleDC(HDC)
{
    auto d = std::make_shared<DC>();
    d->type = DC::Type::Memory;
    return addDC(d);
}

BOOL DeleteDC(HDC hdc)
{
    auto d = dc(hdc);
    if (!d)
        return FALSE;
    platform::gdi::destroyDC(hdc);
    return TRUE;
}

namespace {

// Replaces one attribute of the DC and answers the old value; `bad` for an unknown DC or a
// value the attribute does not take (the DC is left as it was).
template <class T>
T swapAttribute(HDC hdc, T DC::*field, T value, bool valid, T bad)
{
    auto d = dc(hdc);
    if (!d || !valid)
        return bad;
    T old = (*d).*field;
    (*d).*field = value;
    return old;
}

template <class T>
T attribute(HDC hdc, T DC::*field, T bad)
{
    auto d = dc(hdc);
    return d ? (*d).*field : bad;
}

} // namespace

UINT SetTextAlign(HDC hdc, UINT align) { return swapAttribute(hdc, &DC::textAlign, align, true, UINT(0xFFFFFFFF)); }
UINT GetTextAlign(HDC hdc) { return attribute(hdc, &DC::textAlign, UINT(0xFFFFFFFF)); }

COLORREF SetTextColor(HDC hdc, COLORREF color)
{
    return swapAttribute(hdc, &DC::textColor, color & 0xFFFFFF, true, CLR_INVALID);
}
COLORREF GetTextColor(HDC hdc) { return attribute(hdc, &DC::textColor, CLR_INVALID); }

COLORREF SetBkColor(HDC hdc, COLORREF color)
{
    return swapAttribute(hdc, &DC::bkColor, color & 0xFFFFFF, true, CLR_INVALID);
}
COLORREF GetBkColor(HDC hdc) { return attribute(hdc, &DC::bkColor, CLR_INVALID); }

int SetBkMode(HDC hdc, int mode)
{
    return swapAttribute(hdc, &DC::bkMode, mode, mode == TRANSPARENT || mode == OPAQUE, 0);
}
int GetBkMode(HDC hdc) { return attribute(hdc, &DC::bkMode, 0); }

int SetROP2(HDC hdc, int rop2)
{
    return swapAttribute(hdc, &DC::rop2, rop2, rop2 >= R2_BLACK && rop2 <= R2_WHITE, 0);
}
int GetROP2(HDC hdc) { return attribute(hdc, &DC::rop2, 0); }

int SetStretchBltMode(HDC hdc, int mode)
{
    return swapAttribute(hdc, &DC::stretchMode, mode, mode >= BLACKONWHITE && mode <= HALFTONE, 0);
}
int GetStretchBltMode(HDC hdc) { return attribute(hdc, &DC::stretchMode, 0); }

// ---- regions ----------------------------------------------------------------------------

HRGN CreateRectRgn(int left, int top, int right, int bottom)
{
    auto o = std::make_shared<Object>();
    o->kind = Kind::Region;
    // Corners may come in either order.
    RECT r{std::min(left, right), std::min(top, bottom), std::max(left, right), std::max(top, bottom)};
    o->region = platform::Region(r);
    return reinterpret_cast<HRGN>(addObject(o));
}

HRGN CreateRectRgnIndirect(const RECT* rc)
{
    return rc ? CreateRectRgn(rc->left, rc->top, rc->right, rc->bottom) : nullptr;
}

namespace platform {
namespace gdi {

int regionKind(const Region& r)
{
    if (r.empty())
        return NULLREGION;
    Region box(r.bounds());
    box.subtract(r);
    return box.empty() ? SIMPLEREGION : COMPLEXREGION;
}

// The area a context can draw on without any clip: the bitmap or the visible client.
Region baseArea(DC& d)
{
    Region base;
    if (d.type == DC::Type::Memory) {
        auto bm = d.bitmap ? object(d.bitmap) : nullptr;
        if (bm && bm->bitmap)
            base = Region(RECT{0, 0, bm->bitmap->width, bm->bitmap->height});
    } else if (d.type == DC::Type::Window) {
        std::shared_ptr<platform::detail::Surface> s;
        POINT o;
        platform::detail::paintTarget(d.hwnd, s, o, base);
        if (d.hasPaintClip)
            base.intersect(d.paintClip);
    }
    return base;
}

bool combineRegion(Region& current, const Region& other, int mode)
{
    switch (mode) {
    case RGN_COPY:
        current = other;
        return true;
    case RGN_AND:
        current.intersect(other);
        return true;
    case RGN_OR:
        current.unite(other);
        return true;
    case RGN_DIFF:
        current.subtract(other);
        return true;
    case RGN_XOR: {
        Region both = current;
        both.intersect(other);
        current.unite(other);
        current.subtract(both);
        return true;
    }
    default:
        return false;
    }
}

int setClip(DC& d, const Region* region, int mode)
{
    if (!region && mode != RGN_COPY)
        return RGN_ERROR;
    if (!region) {
        d.hasClip = false;
        d.clip.clear();
        return regionKind(baseArea(d));
    }
    // Without a clip, combining starts from everything.
    Region current = d.hasClip ? d.clip : Region(RECT{-(1 << 28), -(1 << 28), 1 << 28, 1 << 28});
    if (!combineRegion(current, *region, mode))
        return RGN_ERROR;
    d.clip = current;
    d.hasClip = true;
    Region visible = baseArea(d);
    visible.intersect(d.clip);
    return regionKind(visible);
}

} // namespace gdi
} // namespace platform

int SelectClipRgn(HDC hdc, HRGN region) { return ExtSelectClipRgn(hdc, region, RGN_COPY); }

int ExtSelectClipRgn(HDC hdc, HRGN region, int mode)
{
    auto d = dc(hdc);
    if (!d)
        return RGN_ERROR;
    if (!region)
        return platform::gdi::setClip(*d, nullptr, mode);
    auto o = object(region);
    if (!o || o->kind != Kind::Region)
        return RGN_ERROR;
    return platform::gdi::setClip(*d, &o->region, mode);
}

namespace {

int clipByRect(HDC hdc, int left, int top, int right, int bottom, int mode)
{
    auto d = dc(hdc);
    if (!d)
        return RGN_ERROR;
    const platform::Region box(RECT{std::min(left, right), std::min(top, bottom), std::max(left, right),
                                    std::max(top, bottom)});
    return platform::gdi::setClip(*d, &box, mode);
}

} // namespace

int IntersectClipRect(HDC hdc, int left, int top, int right, int bottom)
{
    return clipByRect(hdc, left, top, right, bottom, RGN_AND);
}

int ExcludeClipRect(HDC hdc, int left, int top, int right, int bottom)
{
    return clipByRect(hdc, left, top, right, bottom, RGN_DIFF);
}

int OffsetClipRgn(HDC hdc, int dx, int dy)
{
    auto d = dc(hdc);
    if (!d)
        return RGN_ERROR;
    if (!d->hasClip)
        return platform::gdi::regionKind(platform::gdi::baseArea(*d)); // nothing to move
    platform::Region moved = d->clip;
    moved.offset(dx, dy);
    return platform::gdi::setClip(*d, &moved, RGN_COPY);
}

int GetClipRgn(HDC hdc, HRGN region)
{
    auto d = dc(hdc);
    auto o = region ? object(region) : nullptr;
    if (!d || !o || o->kind != Kind::Region)
        return -1;
    if (!d->hasClip)
        return 0;
    o->region = d->clip;
    return 1;
}

int GetClipBox(HDC hdc, RECT* rc)
{
    auto d = dc(hdc);
    if (!d || !rc)
        return RGN_ERROR;
    platform::Region area = platform::gdi::baseArea(*d);
    if (d->hasClip)
        area.intersect(d->clip);
    *rc = area.bounds();
    return platform::gdi::regionKind(area);
}

// ---- palettes ------------------------------------------------------------------------

HPALETTE CreatePalette(const LOGPALETTE* palette)
{
    if (!palette || palette->palVersion != 0x300 || palette->palNumEntries == 0)
        return nullptr;
    auto o = std::make_shared<Object>();
    o->kind = Kind::Palette;
    o->palette.assign(palette->palPalEntry, palette->palPalEntry + palette->palNumEntries);
    return reinterpret_cast<HPALETTE>(addObject(o));
}

HPALETTE SelectPalette(HDC hdc, HPALETTE palette, BOOL)
{
    auto d = dc(hdc);
    auto o = object(palette);
    if (!d || !o || o->kind != Kind::Palette)
        return nullptr;
    GdiState& g = gdi();
    boost::lock_guard<boost::mutex> lock(g.lock);
    HGDIOBJ old = d->palette;
    if (old == palette)
        return reinterpret_cast<HPALETTE>(old);
    auto prev = g.objects.find(old);
    if (prev != g.objects.end() && prev->second->selections > 0)
        --prev->second->selections;
    ++o->selections;
    d->palette = palette;
    return reinterpret_cast<HPALETTE>(old);
}

UINT RealizePalette(HDC hdc)
{
    auto d = dc(hdc);
    return d && d->palette ? 0 : GDI_ERROR;
}
