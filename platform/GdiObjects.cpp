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
    for (HGDIOBJ h : {d.pen, d.brush, d.font}) {
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
