// Objects and device contexts of the GDI stand-in, and the drawing target they resolve
// to: a window's piece of its top-level surface or a memory bitmap.
#pragma once

#include "platform/Gdi.h"
#include "platform/Region.h"
#include "platform/WindowInternal.h"

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

#include <map>
#include <memory>
#include <vector>

namespace platform {
namespace gdi {

enum class Kind { Pen = 1, Brush = 2, Palette = 5, Font = 6, Bitmap = 7, Region = 8, Metafile = 100 };

struct Bitmap {
    int width = 0;
    int height = 0;
    int bpp = 32;       // 32, or 24 for DIB sections
    int stride = 0;     // bytes per stored row
    bool topDown = true;
    std::vector<uint8_t> storage;
    uint8_t* rowPtr(int y) { return storage.data() + size_t(topDown ? y : height - 1 - y) * size_t(stride); }
};

struct Font;
struct Metafile;

struct Object {
    Kind kind = Kind::Brush;
    bool stock = false;
    int selections = 0;   // device contexts holding it
    HDC selectedIn = nullptr; // bitmaps: the one context they are selected into
    COLORREF color = 0;
    int style = 0;        // pen style, or brush style (0 solid, 1 null)
    int width = 1;        // pens
    std::shared_ptr<Bitmap> bitmap;
    std::shared_ptr<Font> font;
    Region region;
    std::vector<PALETTEENTRY> palette;
    std::shared_ptr<const Metafile> metafile;
};

struct DC {
    enum class Type { Memory, Window, Screen } type = Type::Memory;
    HWND hwnd = nullptr;
    bool paint = false;
    bool hasPaintClip = false;
    RECT paintClip{};
    HGDIOBJ pen = nullptr;
    HGDIOBJ brush = nullptr;
    HGDIOBJ font = nullptr;
    HGDIOBJ bitmap = nullptr; // memory contexts
    HGDIOBJ palette = nullptr;
    COLORREF textColor = 0;
    COLORREF bkColor = 0xFFFFFF;
    int bkMode = 2; // OPAQUE
    UINT textAlign = 0;
    int rop2 = 13;  // R2_COPYPEN
    int stretchMode = 1; // BLACKONWHITE
    POINT pos{0, 0};
    int penPhase = 0; // styled-pen pattern position along the current path
    bool hasClip = false;
    Region clip; // device coordinates
};

struct GdiState {
    boost::mutex lock;
    std::map<HGDIOBJ, std::shared_ptr<Object>> objects;
    std::map<HDC, std::shared_ptr<DC>> dcs;
    uintptr_t next = 0x20000;
    int live = 0;
};

GdiState& gdi();
std::shared_ptr<Object> object(HGDIOBJ h);
std::shared_ptr<DC> dc(HDC h);
HGDIOBJ addObject(std::shared_ptr<Object> o);
HDC addDC(std::shared_ptr<DC> d);

// Where drawing lands: a pixel (x, y) in device coordinates is at
// row(y + oy) + (x + ox) * bpp/8, and only pixels inside 'allowed' are touched.
struct Target {
    uint8_t* top = nullptr;
    ptrdiff_t stride = 0; // from one row down to the next (negative for bottom-up)
    int width = 0;
    int height = 0;
    int bpp = 32;
    int ox = 0;
    int oy = 0;
    Region allowed;
    std::shared_ptr<platform::detail::Surface> surface; // kept alive while drawing
    std::shared_ptr<Bitmap> bitmap;

    uint8_t* at(int x, int y) const { return top + ptrdiff_t(y + oy) * stride + ptrdiff_t(x + ox) * (bpp / 8); }
    bool contains(int x, int y) const { return allowed.contains(x, y); }
};

// Resolves a context; false when it draws nowhere (no bitmap, hidden window, ...).
bool resolve(DC& d, Target& t);

// Combines 'other' into 'current' by an RGN_ mode; false for an unknown mode.
bool combineRegion(Region& current, const Region& other, int mode);

// Fills device-coordinate rectangle rc with colour c, ignoring the raster operation.
void fillSolid(const Target& t, const RECT& rc, COLORREF c);

inline void putPixel(uint8_t* p, COLORREF c, int bpp)
{
    p[0] = GetBValue(c);
    p[1] = GetGValue(c);
    p[2] = GetRValue(c);
    if (bpp == 32)
        p[3] = 0;
}

// A binary raster operation of pen p over destination d: 24-bit colour words, bitwise, so
// any channel order.
inline uint32_t applyRop2(int op, uint32_t p, uint32_t d)
{
    uint32_t r;
    switch (op) {
    case R2_BLACK: r = 0; break;
    case R2_NOTMERGEPEN: r = ~(d | p); break;
    case R2_MASKNOTPEN: r = d & ~p; break;
    case R2_NOTCOPYPEN: r = ~p; break;
    case R2_MASKPENNOT: r = p & ~d; break;
    case R2_NOT: r = ~d; break;
    case R2_XORPEN: r = d ^ p; break;
    case R2_NOTMASKPEN: r = ~(d & p); break;
    case R2_MASKPEN: r = d & p; break;
    case R2_NOTXORPEN: r = ~(d ^ p); break;
    case R2_NOP: r = d; break;
    case R2_MERGENOTPEN: r = d | ~p; break;
    case R2_MERGEPEN: r = d | p; break;
    case R2_MERGEPENNOT: r = p | ~d; break;
    case R2_WHITE: r = 0xFFFFFF; break;
    default: r = p; break; // R2_COPYPEN
    }
    return r & 0xFFFFFF;
}

inline COLORREF getPixel(const uint8_t* p) { return RGB(p[2], p[1], p[0]); }

} // namespace gdi
} // namespace platform
