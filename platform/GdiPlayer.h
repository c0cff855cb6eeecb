// The metafile player's state and drawing: the context a metafile's records change
// (mapping, world transform, objects, colours, modes, path, clip, saved copies) and the
// shapes, text and bitmaps they draw, all mapped to device pixels here and handed to the
// drawing core (GdiRaster.h) or the GDI text and bitmap calls in device coordinates.
// Records are decoded in GdiPlayEmf.cpp and GdiPlayWmf.cpp; every size, count and index
// is checked against its record before these functions see it.
//
// Where to look: mapping, state and objects: GdiPlayer.cpp; shapes, paths and clipping:
// GdiPlayerShapes.cpp; text and bitmaps: GdiPlayerTextBitmaps.cpp; EMF records:
// GdiPlayEmf.cpp; WMF records: GdiPlayWmf.cpp; headers and handles: GdiMetafile.cpp.
#pragma once

#include "platform/GdiRaster.h"

#include <cmath>
#include <map>
#include <string>

namespace platform {
namespace gdi {

struct Metafile {
    bool wmf = false;
    std::vector<uint8_t> bytes;
    ENHMETAHEADER header{};
    std::vector<PALETTEENTRY> palette; // from the end-of-file record
    unsigned objects = 0;              // size of the object table
};

// What the player's files share.
namespace play {
const double kPi = 3.14159265358979323846;
const size_t kMaxPathPoints = 1 << 18; // a path's points, far beyond any real file
// Beyond this a coordinate is off every 4000-pixel picture; keeping it there keeps integers exact.
const double kFar = 1 << 26;

inline int clampInt(double v)
{
    if (!(v > -kFar)) // NaN too
        return -int(kFar);
    return v >= kFar ? int(kFar) : int(std::floor(v + 0.5));
}

inline size_t outlinePoints(const Outline& o)
{
    size_t n = 0;
    for (const Contour& c : o)
        n += c.pts.size();
    return n;
}
} // namespace play

// A character of the Western code page (single-byte text); the rest of it is Latin-1.
inline char16_t fromAnsi(uint8_t c)
{
    static const char16_t high[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                      0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
    return c >= 0x80 && c < 0xA0 ? high[c - 0x80] : char16_t(c);
}

inline uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline int16_t s16(const uint8_t* p) { return int16_t(le16(p)); }
inline int32_t s32(const uint8_t* p) { return int32_t(le32(p)); }

// x' = a x + c y + e, y' = b x + d y + f
struct Xform {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
    PointF apply(double x, double y) const { return PointF{a * x + c * y + e, b * x + d * y + f}; }
    Xform then(const Xform& o) const; // this first, o after
    double det() const { return a * d - b * c; }
};

struct PenDesc {
    bool null = false;
    bool cosmetic = true; // one pixel whatever the mapping
    int style = 0;        // PS_SOLID ... PS_INSIDEFRAME, PS_USERSTYLE
    double width = 0;     // logical
    COLORREF colour = 0;
    Cap cap = Cap::Round;
    Join join = Join::Round;
    std::vector<double> user; // PS_USERSTYLE lengths, logical
};

struct BrushDesc {
    Paint paint; // kind None: the null brush
};

// A DIB carried by a record: header and colours, bits, and how its colours are given.
struct DibSource {
    const uint8_t* bmi = nullptr;
    size_t bmiBytes = 0;
    const uint8_t* bits = nullptr;
    size_t bitsBytes = 0;
    unsigned usage = 0;
};

// What a blit needs beyond StretchDIBits's arguments.
struct BlitExtra {
    enum Kind { Stretch, Alpha, Transparent, Mask, Plg } kind = Stretch;
    bool fromContext = false; // source rows count from the top, as in a context
    DibSource mask;
    int maskX = 0, maskY = 0;
    PointF plg[3]; // logical corners: top-left, top-right, bottom-left
};

// One slot of the metafile's object table.
struct MetaObject {
    enum Kind { Empty, Pen, Brush, Font, Region, Palette, Other } kind = Empty;
    PenDesc pen;
    BrushDesc brush;
    LOGFONTW font{};
    std::vector<RECT> rects; // regions, logical units
    std::vector<PALETTEENTRY> palette;
};

struct PlayState {
    Xform world;
    int mapMode = 1;
    double winOrgX = 0, winOrgY = 0, winExtX = 1, winExtY = 1;
    double vpOrgX = 0, vpOrgY = 0, vpExtX = 1, vpExtY = 1;
    bool wmfWindowSet = false; // a WMF's window extent: it maps onto the destination
    bool wmfViewportExt = false; // a WMF's own viewport extent: the window maps onto it
    PenDesc pen;
    BrushDesc brush;
    int64_t penIndex = -1, brushIndex = -1, paletteIndex = -1; // the table slots selected, -1 for defaults and stock
    LOGFONTW font{};
    // Shared with the saved copies: a context saved a thousand times holds one of each.
    std::shared_ptr<const std::vector<PALETTEENTRY>> palette;
    COLORREF textColour = 0, bkColour = 0xFFFFFF;
    int bkMode = 2;
    int rop2 = 13;
    bool winding = false;
    bool clockwise = false;
    UINT textAlign = 0;
    double miterLimit = 10;
    int stretchMode = 1;
    PointF pos;   // current position, device
    POINT brushOrg{0, 0}; // reference device pixels
    std::shared_ptr<const Region> clip; // device; none: everything
    std::shared_ptr<const Region> meta; // device; none: everything
};

class Player {
public:
    Player(HDC hdc, const Metafile& m, const RECT& rc);
    ~Player();
    void play();

    // ---- used by the record decoders ----
    PlayState s;
    const Metafile& m;
    HDC hdc;
    RECT rc;

    PointF map(double x, double y) const { return full_.apply(x, y); }
    PointF mapRound(double x, double y) const;
    double scaleX() const; // device length of one logical unit along x
    double scaleY() const;
    void changed(); // the mapping changed: recompute the full transform

    // Mapping records
    void setMapMode(int mode);
    void setWindowOrg(double x, double y);
    void setWindowExt(double x, double y);
    void setViewportOrg(double x, double y);
    void setViewportExt(double x, double y);
    void scaleWindowExt(double xn, double xd, double yn, double yd);
    void scaleViewportExt(double xn, double xd, double yn, double yd);
    void offsetWindowOrg(double x, double y) { setWindowOrg(s.winOrgX + x, s.winOrgY + y); }
    void offsetViewportOrg(double x, double y) { setViewportOrg(s.vpOrgX + x, s.vpOrgY + y); }
    void setWorld(const Xform& x);
    void modifyWorld(const Xform& x, int mode);
    void save();
    void restore(int relative);

    // Objects
    MetaObject* slot(size_t index);
    bool put(size_t index, MetaObject o); // false past the table
    int wmfFreeSlot() const;
    void select(size_t index);
    void selectStock(uint32_t index);
    void erase(size_t index);
    // Where the bits of a packed DIB (header, colours, bits) start; false when they cannot.
    static bool packedBits(const uint8_t* dib, size_t bytes, unsigned usage, size_t& offset);
    Paint brushFromDib(const uint8_t* bmi, size_t bmiBytes, const uint8_t* bits, size_t bitsBytes, unsigned usage) const;

    // Drawing (logical coordinates in, the path bracket honoured)
    void moveTo(double x, double y);
    void lineTo(double x, double y);
    void polyline(const std::vector<PointF>& logical, bool fromCurrent);
    void polygons(const std::vector<std::vector<PointF>>& logical, bool fill);
    void polylines(const std::vector<std::vector<PointF>>& logical);
    void bezier(const std::vector<PointF>& logical, bool fromCurrent);
    void polyDraw(const std::vector<PointF>& logical, const std::vector<uint8_t>& types);
    enum class Box { Rect, Ellipse, RoundRect, Arc, Chord, Pie, ArcTo };
    void box(Box kind, double l, double t, double r, double b, double x1 = 0, double y1 = 0, double x2 = 0,
             double y2 = 0);
    void angleArc(double x, double y, double radius, double start, double sweep);
    void setPixel(double x, double y, COLORREF c);
    // Fills with the brush from (x, y), 4-connected: up to a border of colour c, or
    // (surface) the pixels of colour c.
    void floodFill(double x, double y, COLORREF c, bool surface);

    // Paths
    void beginPath();
    void endPath() { inPath_ = false; }
    void abortPath();
    void closeFigure();
    void strokePath() { drawPath(false, true); }
    void fillPath() { drawPath(true, false); }
    void strokeAndFillPath() { drawPath(true, true); }
    void flattenPath() {}
    void widenPath();
    void selectClipPath(int mode);

    // Clipping and regions (device regions)
    void intersectClip(double l, double t, double r, double b);
    void excludeClip(double l, double t, double r, double b);
    void offsetClip(double x, double y);
    void selectClip(const Region* region, int mode);
    void setMetaRegion();
    Region regionFromRects(const std::vector<RECT>& rects, bool logical) const;
    void fillRegion(const Region& r, const Paint& p, int rop2);
    void frameRegion(const Region& r, const Paint& p, double logicalW, double logicalH);

    // Text and bitmaps
    // advanced: the writer's graphics mode let the world turn and mirror text; otherwise
    // the escapement is on the device as given.
    void text(double x, double y, const std::u16string& str, UINT options, const RECT* logicalRect,
              const std::vector<double>& dx, bool advanced = false);
    bool dib(const DibSource& src, double x, double y, double w, double h, int xs, int ys, int ws, int hs, DWORD rop,
             const BlitExtra& extra = BlitExtra());
    void gradient(const std::vector<TRIVERTEX>& logical, const void* mesh, ULONG count, ULONG mode);
    void patBlt(double x, double y, double w, double h, DWORD rop);

private:
    Stroke strokeOf() const;
    Background background() const;
    bool target(Target& t) const;
    void draw(const Outline& device, bool fill, bool stroke);
    void drawPath(bool fill, bool stroke);
    void emit(Outline device, bool fill, bool stroke, bool closeForPath);
    Region boxRegion(double l, double t, double r, double b) const;
    void applyClip();
    Paint resolved(const Paint& p) const;
public:
    COLORREF colour(COLORREF c) const; // a record's colour, palette indexes looked up
    const std::vector<PALETTEENTRY>& palette() const;
private:
    Outline arcPoints(Box kind, double l, double t, double r, double b, double x1, double y1, double x2, double y2,
                      bool& aligned);

    Xform base_;  // reference device pixels to destination pixels
    Xform full_;  // logical to destination pixels
    double ppmmX_ = 96 / 25.4, ppmmY_ = 96 / 25.4; // reference device pixels per millimetre
    std::vector<PlayState> saved_;
    std::map<size_t, MetaObject> objects_;
    size_t limit_;
    bool inPath_ = false;
    Outline path_;
    bool figureOpen_ = false;
    bool hadClip_ = false;
    Region oldClip_;
    HGDIOBJ oldFont_ = nullptr;
    HGDIOBJ oldPen_ = nullptr, oldBrush_ = nullptr;
    UINT oldAlign_ = 0;
    COLORREF oldText_ = 0, oldBk_ = 0;
    int oldBkMode_ = 0;
    POINT oldPos_{0, 0};
};

void playEmfRecord(Player& p, unsigned type, const uint8_t* r, size_t n);
void playWmfRecord(Player& p, unsigned fn, const uint8_t* r, size_t n);

} // namespace gdi
} // namespace platform
