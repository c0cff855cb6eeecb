// The metafile player: mapping modes, transforms, saved contexts, fills, pens, paths,
// clipping, palettes and bitmaps judged by pixels worked out by hand, and records that lie
// about their sizes, counts and indexes skipped without harm.
#include "platform/Gdi.h"
#include "tests/imagelib/support/MetafileBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using rxtest::EmfBuilder;
using rxtest::MetaBytes;
using rxtest::WmfBuilder;

const int64_t kNullPen = 0x80000008;
const COLORREF kRed = RGB(255, 0, 0), kBlue = RGB(0, 0, 255), kGreen = RGB(0, 255, 0), kWhite = RGB(255, 255, 255),
               kYellow = RGB(255, 255, 0);

int64_t F(float f)
{
    uint32_t v;
    std::memcpy(&v, &f, 4);
    return v;
}

struct Probe {
    int x, y;
    COLORREF want;
};

// WMF records as (function, 16-bit words), and a named file of them with its probes.
using WRecs = std::vector<std::pair<int, std::vector<int>>>;
struct WmfCase {
    const char* name;
    WRecs records;
    std::vector<Probe> probes;
};

// The picture a metafile plays onto a white 100 x 100 bitmap.
class Played {
public:
    explicit Played(const MetaBytes& file, bool wmf)
    {
        const METAFILEPICT picture{MM_ANISOTROPIC, 0, 0, nullptr};
        h_ = wmf ? SetWinMetaFileBits(UINT(file.size()), file.data(), nullptr, &picture)
                 : SetEnhMetaFileBits(UINT(file.size()), file.data());
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateCompatibleBitmap(dc_, 100, 100);
        old_ = SelectObject(dc_, bitmap_);
        const RECT rc{0, 0, 100, 100};
        FillRect(dc_, &rc, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        const int live = platform::LiveGdiObjects();
        if (h_)
            PlayEnhMetaFile(dc_, h_, &rc);
        leaked_ = platform::LiveGdiObjects() - live;
    }
    ~Played()
    {
        SelectObject(dc_, old_);
        DeleteDC(dc_);
        DeleteObject(bitmap_);
        if (h_)
            DeleteEnhMetaFile(h_);
    }
    bool loaded() const { return h_ != nullptr; }
    int leaked() const { return leaked_; }
    COLORREF at(int x, int y) const { return GetPixel(dc_, x, y); }
    int count(COLORREF c) const
    {
        int n = 0;
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x)
                n += at(x, y) == c;
        return n;
    }

private:
    HENHMETAFILE h_ = nullptr;
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_;
    int leaked_ = 0;
};

using Recs = std::vector<std::pair<int, std::vector<int64_t>>>;

MetaBytes Emf(const Recs& records, int handles = 8)
{
    EmfBuilder e;
    e.handles = handles;
    for (const auto& r : records) {
        rxtest::Put32(e.records, r.first);
        rxtest::Put32(e.records, 8 + 4 * int64_t(r.second.size()));
        for (int64_t v : r.second)
            rxtest::Put32(e.records, v);
    }
    return e.bytes(0, 0, 100, 100); // bounds onto the 100 x 100 picture: one unit a pixel
}

// Common records: a solid brush made and selected, the null pen.
Recs Brush(int index, COLORREF c) { return {{39, {index, 0, c, 0}}, {37, {index}}}; }
Recs operator+(Recs a, const Recs& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
const Recs kNoPen = {{37, {kNullPen}}};

// 32-bit words of bytes, little-endian, padded with zeros.
std::vector<int64_t> Words(const std::vector<uint8_t>& bytes)
{
    std::vector<int64_t> out;
    for (size_t i = 0; i < bytes.size(); i += 4) {
        uint32_t v = 0;
        for (size_t k = 0; k < 4 && i + k < bytes.size(); ++k)
            v |= uint32_t(bytes[i + k]) << (8 * k);
        out.push_back(v);
    }
    return out;
}

// A 2 x 2 24-bit DIB, bottom-up: red, green below; blue, yellow above.
std::vector<uint8_t> TwoByTwo()
{
    return {40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
            0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // the header
            0, 0, 255, 0, 255, 0, 0, 0,          // red, green
            255, 0, 0, 0, 255, 255, 0, 0};       // blue, yellow
}

Recs StretchDib(int x, int y, int w, int h, int64_t cbBits = 16, int64_t rop = SRCCOPY)
{
    std::vector<int64_t> p = {0, 0, 100, 100, x, y, 0, 0, 2, 2, 80, 40, 120, cbBits, 0, rop, w, h};
    const std::vector<int64_t> dib = Words(TwoByTwo());
    p.insert(p.end(), dib.begin(), dib.end());
    return {{81, p}};
}

TEST(GdiPlayer, EmfPictures)
{
    struct Case {
        const char* name;
        Recs records;
        std::vector<Probe> probes;
    };
    const Recs redBox = Brush(1, kRed) + kNoPen;
    const Recs nested = {{8, {0, 0, 100, 100, 2, 8, 4, 4, 10, 10, 90, 10, 90, 90, 10, 90, 30, 30, 70, 30, 70, 70, 30, 70}}};
    const Recs pie = {{47, {0, 0, 100, 100, 100, 50, 50, 0}}};
    const int64_t flat = 0x10000 | 0x200, round = 0x10000;
    const Case cases[] = {
        // 0.1 mm at 1024 pixels over 320 mm: 250 units are 80 pixels, y up.
        {"lometric", redBox + Recs{{17, {2}}, {43, {0, 0, 250, -250}}},
         {{40, 40, kRed}, {78, 78, kRed}, {79, 40, kWhite}, {40, 85, kWhite}}},
        {"twips", redBox + Recs{{17, {6}}, {43, {0, 0, 1440, -720}}}, // 25.4 mm: 81.28 by 40.64 pixels
         {{79, 20, kRed}, {81, 20, kWhite}, {20, 39, kRed}, {20, 41, kWhite}}},
        {"anisotropic with a viewport origin",
         redBox + Recs{{17, {8}}, {9, {200, 200}}, {11, {100, 100}}, {12, {10, 10}}, {43, {0, 0, 100, 100}}},
         {{12, 12, kRed}, {58, 58, kRed}, {61, 61, kWhite}, {9, 9, kWhite}}},
        {"isotropic keeps the aspect", redBox + Recs{{17, {7}}, {9, {100, 100}}, {11, {100, 50}}, {43, {0, 0, 100, 100}}},
         {{45, 45, kRed}, {55, 45, kWhite}, {45, 55, kWhite}}},
        {"viewport scaled", redBox + Recs{{17, {8}}, {9, {100, 100}}, {11, {100, 100}}, {31, {1, 2, 1, 4}}, {43, {0, 0, 100, 100}}},
         {{48, 20, kRed}, {52, 20, kWhite}, {20, 23, kRed}, {20, 27, kWhite}}},
        {"world transform set then scaled first",
         redBox + Recs{{35, {F(1), F(0), F(0), F(1), F(20), F(0)}}, {36, {F(2), F(0), F(0), F(2), F(0), F(0), 2}},
                       {43, {0, 0, 10, 10}}},
         {{30, 10, kRed}, {19, 10, kWhite}, {41, 10, kWhite}, {30, 21, kWhite}}},
        {"world transform back to identity",
         redBox + Recs{{35, {F(1), F(0), F(0), F(1), F(50), F(50)}}, {36, {0, 0, 0, 0, 0, 0, 1}}, {43, {0, 0, 10, 10}}},
         {{5, 5, kRed}, {55, 55, kWhite}}},
        {"restored by a relative index",
         redBox + Recs{{33, {}}, {10, {-50, -50}}, {33, {}}, {10, {-20, -20}}, {34, {-2}}, {43, {0, 0, 10, 10}}},
         {{5, 5, kRed}, {25, 25, kWhite}, {55, 55, kWhite}}},
        {"alternate fill leaves the nested square", redBox + nested, {{20, 20, kRed}, {50, 50, kWhite}}},
        {"winding fill fills it", redBox + Recs{{19, {2}}} + nested, {{20, 20, kRed}, {50, 50, kRed}}},
        {"hatch over an opaque background",
         Recs{{39, {1, 2, kBlue, 0}}, {37, {1}}, {25, {kGreen}}} + kNoPen + Recs{{43, {0, 0, 100, 100}}},
         {{4, 7, kBlue}, {4, 8, kGreen}, {4, 15, kBlue}}},
        {"hatch over a transparent background",
         Recs{{39, {1, 2, kBlue, 0}}, {37, {1}}, {18, {1}}} + kNoPen + Recs{{43, {0, 0, 100, 100}}},
         {{4, 7, kBlue}, {4, 8, kWhite}}},
        {"clip rectangles", redBox + Recs{{30, {20, 20, 80, 80}}, {29, {40, 40, 60, 60}}, {43, {0, 0, 100, 100}}},
         {{30, 30, kRed}, {79, 79, kRed}, {50, 50, kWhite}, {10, 10, kWhite}, {80, 80, kWhite}}},
        {"clip offset", redBox + Recs{{30, {0, 0, 20, 20}}, {26, {50, 50}}, {43, {0, 0, 100, 100}}},
         {{60, 60, kRed}, {10, 10, kWhite}}},
        {"clip region, then none",
         redBox + Recs{{75, {48, RGN_COPY, 32, 1, 1, 16, 0, 0, 10, 10, 0, 0, 10, 10}}, {43, {0, 0, 100, 100}}} +
             Brush(2, kBlue) + Recs{{75, {0, RGN_COPY}}, {43, {50, 50, 100, 100}}},
         {{5, 5, kRed}, {20, 20, kWhite}, {70, 70, kBlue}}},
        {"clip region of overlapping rectangles",
         redBox + Recs{{75, {64, RGN_COPY, 32, 1, 2, 32, 0, 0, 15, 15, 0, 0, 10, 10, 5, 5, 15, 15}}, {43, {0, 0, 100, 100}}},
         {{2, 2, kRed}, {12, 12, kRed}, {7, 7, kRed}, {12, 2, kWhite}, {2, 12, kWhite}}},
        {"path filled", redBox + Recs{{59, {}}, {43, {10, 10, 50, 50}}, {60, {}}, {62, {0, 0, 0, 0}}},
         {{30, 30, kRed}, {48, 48, kRed}, {50, 50, kWhite}}},
        {"aborted path draws nothing", redBox + Recs{{59, {}}, {43, {10, 10, 50, 50}}, {68, {}}, {62, {0, 0, 0, 0}}},
         {{30, 30, kWhite}}},
        {"clip path", redBox + Recs{{59, {}}, {42, {0, 0, 100, 100}}, {60, {}}, {67, {RGN_COPY}}, {43, {0, 0, 100, 100}}},
         {{50, 50, kRed}, {50, 3, kRed}, {3, 3, kWhite}, {96, 96, kWhite}}},
        {"wide pen, flat ends",
         Recs{{95, {1, 0, 0, 0, 0, flat, 10, 0, kBlue, 0, 0}}, {37, {1}}, {27, {20, 50}}, {54, {80, 50}}},
         {{50, 45, kBlue}, {50, 54, kBlue}, {50, 44, kWhite}, {50, 55, kWhite}, {19, 50, kWhite}, {79, 50, kBlue},
          {81, 50, kWhite}}},
        {"wide pen, round ends",
         Recs{{95, {1, 0, 0, 0, 0, round, 10, 0, kBlue, 0, 0}}, {37, {1}}, {27, {20, 50}}, {54, {80, 50}}},
         {{83, 50, kBlue}, {16, 50, kBlue}, {86, 50, kWhite}}},
        {"pie counter-clockwise", redBox + pie, {{75, 25, kRed}, {25, 25, kWhite}, {75, 75, kWhite}}},
        {"pie clockwise", redBox + Recs{{57, {2}}} + pie, {{75, 25, kWhite}, {25, 25, kRed}, {75, 75, kRed}}},
        {"chord", redBox + Recs{{46, {0, 0, 100, 100, 100, 50, 50, 0}}}, {{80, 20, kRed}, {55, 35, kWhite}}},
        {"palette index", Recs{{49, {1, 0x300 | (2 << 16), 0x0000FF, 0x00FF00}}, {48, {1}}, {39, {2, 0, 0x01000001, 0}},
                               {37, {2}}} + kNoPen + Recs{{43, {0, 0, 100, 100}}},
         {{50, 50, kGreen}}},
        {"opaque box of no text", {{25, {kGreen}}, {84, {0, 0, 0, 0, 1, F(1), F(1), 0, 0, 0, 76, 2, 10, 10, 50, 50, 0}}},
         {{30, 30, kGreen}, {9, 9, kWhite}, {50, 50, kWhite}}},
        {"glyph indexes: the box only",
         {{25, {kGreen}}, {84, {0, 0, 0, 0, 1, F(1), F(1), 10, 10, 1, 76, 0x12, 10, 10, 50, 50, 0, 'W'}}},
         {{30, 30, kGreen}, {12, 12, kGreen}, {60, 60, kWhite}}},
        {"stretched bitmap", StretchDib(0, 0, 100, 100),
         {{25, 75, kRed}, {75, 75, kGreen}, {25, 25, kBlue}, {75, 25, kYellow}}},
        {"mirrored bitmap", StretchDib(99, 0, -100, 100), {{75, 75, kRed}, {25, 75, kGreen}}},
        // Pattern AND source over the yellow quarter: the hatch's lines black, its gaps green.
        {"bitmap ANDed with a hatched brush",
         Recs{{39, {1, 2, kBlue, 0}}, {37, {1}}, {25, {kGreen}}} + StretchDib(0, 0, 100, 100, 16, 0x00C000CA),
         {{75, 7, RGB(0, 0, 0)}, {75, 8, kGreen}, {25, 7, kBlue}}},
        {"bitmap under a world transform", Recs{{35, {F(0.5f), F(0), F(0), F(0.5f), F(0), F(0)}}} + StretchDib(0, 0, 100, 100),
         {{12, 37, kRed}, {37, 12, kYellow}, {75, 75, kWhite}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Played p(Emf(c.records), false);
        ASSERT_TRUE(p.loaded());
        EXPECT_EQ(p.leaked(), 0);
        for (const Probe& q : c.probes)
            EXPECT_EQ(p.at(q.x, q.y), q.want) << q.x << ", " << q.y;
    }
}

// Region data of one rectangle, with its byte count first.
std::vector<int64_t> OneRect(int l, int t, int r, int b) { return {48, 32, 1, 1, 16, l, t, r, b, l, t, r, b}; }

TEST(GdiPlayer, EmfShapesPensAndRegions)
{
    struct Case {
        const char* name;
        Recs records;
        std::vector<Probe> probes;
    };
    const COLORREF kBlack = 0, kCyan = RGB(0, 255, 255);
    const Recs redBox = Brush(1, kRed) + kNoPen;
    const Recs bluePen10 = {{38, {3, 0, 10, 0, kBlue}}, {37, {3}}};
    auto extPen = [](int64_t style, int width) { return Recs{{95, {3, 0, 0, 0, 0, style, width, 0, kBlue, 0, 0}}, {37, {3}}}; };
    const std::vector<int64_t> rgn = OneRect(20, 20, 80, 80);
    std::vector<int64_t> frame = {20, 20, 80, 80, 48, 2, 3, 3}, invert = {20, 20, 80, 80, 48};
    frame.insert(frame.end(), rgn.begin() + 1, rgn.end());
    invert.insert(invert.end(), rgn.begin() + 1, rgn.end());
    std::vector<int64_t> dibBrush = {1, 0, 32, 40, 72, 16};
    for (int64_t w : Words(TwoByTwo()))
        dibBrush.push_back(w);
    // 2 x 2, one bit: black and white; the top row 1 0, the bottom row 0 1.
    std::vector<int64_t> monoBrush = {1, 0, 32, 48, 80, 8, 40, 2, 2, 1 | 1 << 16, 0, 0, 0, 0, 0, 0, 0, 0xFFFFFF, 0x40, 0x80};
    const int64_t flatMiter = 0x10000 | 0x200 | 0x2000, flatBevel = 0x10000 | 0x200 | 0x1000;
    const Recs corner = {{27, {20, 50}}, {6, {0, 0, 0, 0, 2, 50, 50, 50, 80}}};
    const Case cases[] = {
        {"round rectangle corners stay empty", redBox + Recs{{44, {0, 0, 100, 100, 40, 40}}},
         {{2, 2, kWhite}, {50, 1, kRed}, {1, 50, kRed}, {50, 50, kRed}}},
        {"poly-polyline", {{7, {0, 0, 0, 0, 2, 4, 2, 2, 10, 10, 90, 10, 10, 50, 90, 50}}},
         {{50, 10, kBlack}, {50, 50, kBlack}, {50, 30, kWhite}, {90, 10, kWhite}}},
        {"Bézier through its midpoint", {{2, {0, 0, 0, 0, 4, 10, 50, 10, 10, 90, 10, 90, 50}}},
         {{50, 20, kBlack}, {10, 50, kBlack}, {50, 50, kWhite}}},
        {"PolyDraw closes its figure", {{56, {0, 0, 0, 0, 3, 10, 10, 90, 10, 90, 90, 0x030206}}},
         {{50, 10, kBlack}, {90, 50, kBlack}, {50, 50, kBlack}, {30, 70, kWhite}}},
        {"ArcTo leaves the position at the arc's end",
         {{27, {10, 90}}, {55, {0, 0, 100, 100, 100, 50, 50, 0}}, {54, {50, 50}}}, {{50, 25, kBlack}, {50, 60, kWhite}}},
        {"AngleArc joins the position and ends there",
         {{27, {10, 50}}, {41, {50, 50, 40, F(0), F(90)}}, {54, {50, 90}}},
         {{30, 50, kBlack}, {50, 30, kBlack}, {20, 20, kWhite}}},
        {"a pixel set", {{15, {5, 5, kBlue}}}, {{5, 5, kBlue}, {6, 5, kWhite}}},
        {"NOT of the destination", Recs{{20, {6}}} + kNoPen + Recs{{43, {0, 0, 100, 100}}}, {{50, 50, kBlack}}},
        {"blit without a source inverts by the pattern",
         Brush(1, kRed) + Recs{{76, {0, 0, 0, 0, 0, 0, 100, 100, 0x005A0049, 0, 0, F(1), F(0), F(0), F(1), F(0), F(0), 0, 0, 0, 0, 0, 0}}},
         {{50, 50, kCyan}}},
        {"DIB brush tiled from the corner", Recs{{94, dibBrush}, {37, {1}}} + kNoPen + Recs{{43, {0, 0, 100, 100}}},
         {{0, 0, kBlue}, {1, 0, kYellow}, {0, 1, kRed}, {1, 1, kGreen}, {2, 2, kBlue}}},
        {"DIB brush tiled from the brush origin",
         Recs{{13, {3, 0}}, {94, dibBrush}, {37, {1}}} + kNoPen + Recs{{43, {0, 0, 100, 100}}},
         {{3, 0, kBlue}, {4, 0, kYellow}, {0, 0, kYellow}, {3, 1, kRed}}},
        {"monochrome brush in the colours of the moment",
         Recs{{93, monoBrush}, {37, {1}}, {24, {kBlue}}, {25, {kGreen}}} + kNoPen + Recs{{43, {0, 0, 100, 100}}},
         {{0, 0, kGreen}, {1, 0, kBlue}, {0, 1, kBlue}, {1, 1, kGreen}}},
        {"dashes with their gaps in the background colour",
         Recs{{38, {3, 1, 1, 0, kBlue}}, {37, {3}}, {25, {kGreen}}, {27, {0, 50}}, {54, {100, 50}}},
         {{10, 50, kBlue}, {20, 50, kGreen}, {30, 50, kBlue}}},
        {"inside-frame pen within the box",
         Recs{{38, {3, 6, 10, 0, kBlue}}, {37, {3}}, {37, {0x80000005}}, {43, {10, 10, 90, 90}}},
         {{12, 50, kBlue}, {8, 50, kWhite}, {88, 50, kBlue}, {90, 50, kWhite}, {50, 50, kWhite}}},
        {"wide pen of CreatePen", bluePen10 + Recs{{27, {20, 50}}, {54, {80, 50}}}, {{50, 46, kBlue}, {50, 40, kWhite}}},
        {"miter join reaches the corner", extPen(flatMiter, 10) + corner, {{54, 45, kBlue}, {50, 47, kBlue}}},
        {"bevel join cuts it", extPen(flatBevel, 10) + corner, {{54, 45, kWhite}, {50, 47, kBlue}}},
        {"stroke and fill a closed figure",
         redBox + Recs{{37, {0x80000007}}, {59, {}}, {27, {10, 10}}, {54, {90, 10}}, {54, {90, 90}}, {61, {}}, {60, {}},
                       {63, {0, 0, 0, 0}}},
         {{80, 20, kRed}, {50, 10, kBlack}, {50, 50, kBlack}, {20, 80, kWhite}}},
        {"widened path filled",
         extPen(0x10000 | 0x200, 20) + Brush(1, kRed) + Recs{{59, {}}, {27, {10, 50}}, {54, {90, 50}}, {60, {}}, {66, {}},
                                                          {62, {0, 0, 0, 0}}},
         {{50, 42, kRed}, {50, 57, kRed}, {50, 38, kWhite}, {5, 50, kWhite}}},
        {"meta region outlives the clip",
         redBox + Recs{{30, {20, 20, 80, 80}}, {28, {}}, {75, {0, RGN_COPY}}, {43, {0, 0, 100, 100}}},
         {{10, 10, kWhite}, {50, 50, kRed}}},
        {"clip regions combined by xor",
         redBox + Recs{{30, {0, 0, 60, 60}}, {75, {48, RGN_XOR, 32, 1, 1, 16, 40, 40, 100, 100, 40, 40, 100, 100}},
                       {43, {0, 0, 100, 100}}},
         {{20, 20, kRed}, {50, 50, kWhite}, {80, 80, kRed}}},
        {"region framed", Recs{{39, {2, 0, kBlue, 0}}, {72, frame}}, {{21, 50, kBlue}, {25, 50, kWhite}, {50, 78, kBlue}}},
        {"region inverted", Recs{{73, invert}}, {{50, 50, kBlack}, {10, 10, kWhite}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Played p(Emf(c.records), false);
        ASSERT_TRUE(p.loaded());
        EXPECT_EQ(p.leaked(), 0);
        for (const Probe& q : c.probes)
            EXPECT_EQ(p.at(q.x, q.y), q.want) << q.x << ", " << q.y;
    }
}

// Where the ink of a played picture lies: its box, and its widths in the top and bottom rows.
struct Ink {
    int top = 100, bottom = -1, left = 100, right = -1, topWidth = 0, bottomWidth = 0;
};

Ink InkOf(const Played& p)
{
    Ink k;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            if (p.at(x, y) != kWhite) {
                k.top = std::min(k.top, y), k.bottom = std::max(k.bottom, y);
                k.left = std::min(k.left, x), k.right = std::max(k.right, x);
            }
    for (int x = 0; x < 100; ++x) {
        k.topWidth += p.at(x, k.top) != kWhite;
        k.bottomWidth += p.at(x, k.bottom) != kWhite;
    }
    return k;
}

// Text through the mapping: its size follows the scale, and a flipped axis leaves it upright.
TEST(GdiPlayer, EmfTextMapped)
{
    // A 10-unit Liberation Sans "T" at (20, 20), transparent, after the given mapping records.
    auto tee = [](const Recs& mapping, int x, int y) {
        std::vector<int64_t> font = {1, -10, 0, 0, 0, 400, 0};
        font.resize(2 + 92 / 4, 0);
        Recs r = mapping + Recs{{82, font}, {37, {1}}, {18, {1}}};
        r.push_back({84, {0, 0, 0, 0, 1, F(1), F(1), x, y, 1, 76, 0, 0, 0, 0, 0, 0, 'T'}});
        return r;
    };
    Played plain(Emf(tee({}, 20, 20)), false);
    Played doubled(Emf(tee({{17, {8}}, {9, {50, 50}}, {11, {100, 100}}}, 10, 10)), false);
    Played flipped(Emf(tee({{17, {8}}, {9, {100, 100}}, {11, {100, -100}}, {12, {0, 100}}}, 20, 80)), false);
    const Ink a = InkOf(plain), b = InkOf(doubled), c = InkOf(flipped);
    ASSERT_GT(a.bottom, a.top);
    const double ratio = double(b.bottom - b.top + 1) / (a.bottom - a.top + 1);
    EXPECT_GT(ratio, 1.7);
    EXPECT_LT(ratio, 2.3);
    EXPECT_GE(a.top, 20); // the reference point is the top-left corner of the cell
    EXPECT_GE(b.top, 20);
    // The bar of the T stays on top: the top row is the wide one.
    EXPECT_GT(a.topWidth, a.bottomWidth);
    EXPECT_GT(c.topWidth, c.bottomWidth);
    EXPECT_GE(c.top, 20);

    // Turned a quarter under y up: the compatible mode keeps the device's sense (upwards
    // from the point), the advanced one mirrors it with the axis (downwards).
    auto turned = [](int mode) {
        std::vector<int64_t> font = {1, -12, 0, 900, 900, 400, 0};
        font.resize(2 + 92 / 4, 0);
        Recs r = {{17, {8}}, {9, {100, 100}}, {11, {100, -100}}, {12, {0, 100}}, {82, font}, {37, {1}}, {18, {1}}};
        r.push_back({84, {0, 0, 0, 0, mode, F(1), F(1), 40, 40, 3, 76, 0, 0, 0, 0, 0, 0, 'T' | 'T' << 16, 'T'}});
        return r;
    };
    Played up(Emf(turned(1)), false), down(Emf(turned(2)), false);
    const Ink u = InkOf(up), d = InkOf(down);
    EXPECT_GT(u.bottom - u.top, u.right - u.left); // running along y
    EXPECT_LE(u.bottom, 62);                        // from the point (40, 60) upwards
    EXPECT_GT(d.bottom - d.top, d.right - d.left);
    EXPECT_GE(d.top, 58);
}

MetaBytes Wmf(const std::vector<std::pair<int, std::vector<int>>>& records, int objects = 4)
{
    WmfBuilder w;
    w.objects = objects;
    w.rec(0x020C, {100, 100});
    for (const auto& r : records) {
        rxtest::Put32(w.records, 3 + int64_t(r.second.size()));
        rxtest::Put16(w.records, r.first);
        for (int v : r.second)
            rxtest::Put16(w.records, v);
    }
    return w.bytes(false);
}

TEST(GdiPlayer, WmfPictures)
{
    using Case = WmfCase;
    // A red brush in slot 0, the null pen in slot 1, both selected.
    const WRecs red = {{0x02FC, {0, 0xFF, 0, 0}}, {0x012D, {0}}, {0x02FA, {5, 0, 0, 0, 0}}, {0x012D, {1}}};
    auto with = [&](WRecs more) {
        WRecs all = red;
        all.insert(all.end(), more.begin(), more.end());
        return all;
    };
    // A region of one scan: rows 10..30, columns 20..40.
    const std::vector<int> region = {0, 6, 0, 0, 34, 1, 2, 20, 10, 40, 30, 2, 10, 30, 20, 40, 2};
    std::vector<int> stretchDib = {0x0020, 0x00CC, 0, 2, 2, 0, 0, 100, 100, 0, 0};
    const std::vector<uint8_t> dib = TwoByTwo();
    for (size_t i = 0; i < dib.size(); i += 2)
        stretchDib.push_back(dib[i] | dib[i + 1] << 8);
    const Case cases[] = {
        {"clip rectangle", with({{0x0416, {80, 80, 20, 20}}, {0x041B, {100, 100, 0, 0}}}),
         {{50, 50, kRed}, {10, 10, kWhite}, {85, 85, kWhite}}},
        {"excluded rectangle", with({{0x0415, {60, 60, 40, 40}}, {0x041B, {100, 100, 0, 0}}}),
         {{50, 50, kWhite}, {10, 10, kRed}}},
        {"saved and restored two back",
         with({{0x001E, {}}, {0x020B, {-50, -50}}, {0x001E, {}}, {0x020B, {-20, -20}}, {0x0127, {0xFFFE}},
               {0x041B, {10, 10, 0, 0}}}),
         {{5, 5, kRed}, {25, 25, kWhite}, {55, 55, kWhite}}},
        {"viewport in destination pixels",
         with({{0x0103, {8}}, {0x020C, {200, 200}}, {0x020E, {100, 100}}, {0x020D, {10, 10}}, {0x041B, {100, 100, 0, 0}}}),
         {{12, 12, kRed}, {58, 58, kRed}, {61, 61, kWhite}}},
        {"viewport origin keeps the window's scale",
         with({{0x020C, {200, 200}}, {0x020D, {10, 10}}, {0x041B, {100, 100, 0, 0}}}),
         {{12, 12, kRed}, {58, 58, kRed}, {61, 61, kWhite}, {9, 9, kWhite}}},
        {"region filled", with({{0x06FF, region}, {0x0228, {2, 0}}}),
         {{30, 20, kRed}, {19, 20, kWhite}, {30, 31, kWhite}}},
        {"region selected as clip", with({{0x06FF, region}, {0x012C, {2}}, {0x041B, {100, 100, 0, 0}}}),
         {{30, 20, kRed}, {50, 50, kWhite}}},
        {"polypolygon alternate",
         with({{0x0538, {2, 4, 4, 10, 10, 90, 10, 90, 90, 10, 90, 30, 30, 70, 30, 70, 70, 30, 70}}}),
         {{20, 20, kRed}, {50, 50, kWhite}}},
        {"pie", with({{0x081A, {0, 50, 50, 100, 100, 100, 0, 0}}}), {{75, 25, kRed}, {25, 25, kWhite}}},
        // A 2 x 2 monochrome device bitmap, rows top first: 1 0, then 0 1.
        {"monochrome pattern brush",
         {{0x01F9, {0, 2, 2, 2, 0x0101, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0080, 0x0040}}, {0x012D, {0}},
          {0x0209, {0, 0xFF}}, {0x0201, {0xFF00, 0}}, {0x02FA, {5, 0, 0, 0, 0}}, {0x012D, {1}}, {0x041B, {100, 100, 0, 0}}},
         {{0, 0, kGreen}, {1, 0, kBlue}, {0, 1, kBlue}, {1, 1, kGreen}, {2, 2, kGreen}}},
        {"stretched DIB", {{0x0F43, stretchDib}}, {{25, 75, kRed}, {75, 75, kGreen}, {25, 25, kBlue}, {75, 25, kYellow}}},
        {"text drawn at its point", {{0x02FB, {-20, 0, 0, 0, 700, 0, 0, 0, 0}}, {0x012D, {0}}, {0x0209, {0xFF, 0}},
                                     {0x0521, {2, 'H' | 'H' << 8, 40, 40}}},
         {{5, 5, kWhite}, {95, 95, kWhite}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Played p(Wmf(c.records), true);
        ASSERT_TRUE(p.loaded());
        EXPECT_EQ(p.leaked(), 0);
        for (const Probe& q : c.probes)
            EXPECT_EQ(p.at(q.x, q.y), q.want) << q.x << ", " << q.y;
    }
    // The text case inks red pixels to the right of and below its point only.
    Played text(Wmf({{0x02FB, {-20, 0, 0, 0, 700}}, {0x012D, {0}}, {0x0209, {0xFF, 0}}, {0x0521, {2, 'H' | 'H' << 8, 40, 40}}}),
                true);
    int inside = 0, outside = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            if (text.at(x, y) != kWhite)
                (x >= 40 && y >= 40 && x < 80 && y < 70 ? inside : outside)++;
    EXPECT_GT(inside, 20);
    EXPECT_EQ(outside, 0);
}

// A blue ring (pixels 20..24 and 54..58 across: the null pen leaves off the last row and
// column) around a white square on white, a red brush
// selected, then the records given. The window maps one unit to a pixel.
TEST(GdiPlayer, FloodFills)
{
    using Case = WmfCase;
    const WRecs ring = {{0x02FA, {5, 0, 0, 0, 0}}, {0x012D, {0}},   {0x02FC, {0, 0, 0xFF, 0}},    {0x012D, {1}},
                        {0x041B, {60, 60, 20, 20}}, {0x02FC, {0, 0xFFFF, 0xFF, 0}}, {0x012D, {2}},
                        {0x041B, {55, 55, 25, 25}}, {0x02FC, {0, 0xFF, 0, 0}}, {0x012D, {3}}};
    auto with = [&](WRecs more) {
        WRecs all = ring;
        all.insert(all.end(), more.begin(), more.end());
        return all;
    };
    const COLORREF kBlack = RGB(0, 0, 0);
    const Case cases[] = {
        {"border fill inside the ring", with({{0x0419, {0, 0xFF, 40, 40}}}),
         {{26, 26, kRed}, {53, 53, kRed}, {22, 22, kBlue}, {57, 40, kBlue}, {10, 10, kWhite}, {62, 40, kWhite}}},
        {"border fill outside the ring", with({{0x0548, {0, 0, 0xFF, 10, 10}}}),
         {{10, 10, kRed}, {99, 99, kRed}, {0, 99, kRed}, {22, 22, kBlue}, {40, 40, kWhite}}},
        {"surface fill of the ring", with({{0x0548, {1, 0, 0xFF, 22, 22}}}),
         {{22, 22, kRed}, {57, 40, kRed}, {40, 40, kWhite}, {10, 10, kWhite}}},
        {"surface fill starting on another colour", with({{0x0548, {1, 0, 0xFF, 40, 40}}}),
         {{40, 40, kWhite}, {22, 22, kBlue}}},
        {"fill stopped by the clip", with({{0x0416, {100, 40, 0, 0}}, {0x0419, {0, 0xFF, 30, 30}}}),
         {{30, 30, kRed}, {39, 50, kRed}, {40, 50, kWhite}, {50, 30, kWhite}}},
        {"start outside the clip", with({{0x0416, {100, 40, 0, 0}}, {0x0419, {0, 0xFF, 45, 45}}}),
         {{45, 45, kWhite}, {30, 30, kWhite}}},
        {"start outside the picture", with({{0x0419, {0, 0xFF, 40, 150}}, {0x0419, {0, 0xFF, -3, 40}}}),
         {{40, 40, kWhite}, {10, 10, kWhite}}},
        {"raster operation applied", with({{0x0104, {R2_NOT}}, {0x0419, {0, 0xFF, 40, 40}}}),
         {{40, 40, kBlack}, {26, 53, kBlack}, {22, 22, kBlue}, {10, 10, kWhite}}},
        // Each pixel filled once: a second pass would turn black back to white.
        {"raster operation on a wide outside", with({{0x0104, {R2_NOT}}, {0x0419, {0, 0xFF, 5, 95}}}),
         {{0, 0, kBlack}, {99, 99, kBlack}, {40, 40, kWhite}, {22, 22, kBlue}}},
        {"hatched brush", with({{0x02FC, {2, 0xFF, 0, 0}}, {0x012D, {4}}, {0x0419, {0, 0xFF, 40, 40}}}), {}}, // horizontal
        {"null brush", with({{0x02FC, {1, 0, 0, 0}}, {0x012D, {4}}, {0x0419, {0, 0xFF, 40, 40}}}),
         {{40, 40, kWhite}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Played p(Wmf(c.records, 6), true);
        ASSERT_TRUE(p.loaded());
        for (const Probe& q : c.probes)
            EXPECT_EQ(p.at(q.x, q.y), q.want) << q.x << ", " << q.y;
    }
    // The hatch: whole red rows inside the ring only, the rest of it in the background.
    Played hatch(Wmf(cases[9].records, 6), true);
    int redRows = 0;
    for (int y = 25; y < 54; ++y) {
        int red = 0;
        for (int x = 25; x < 54; ++x)
            red += hatch.at(x, y) == kRed;
        EXPECT_TRUE(red == 0 || red == 29) << y;
        redRows += red == 29;
    }
    EXPECT_GE(redRows, 3);
    EXPECT_EQ(hatch.count(kRed), redRows * 29);

    // The same through an enhanced metafile.
    Played emf(Emf(kNoPen + Brush(1, kBlue) + Recs{{43, {20, 20, 61, 61}}} + Brush(2, kWhite) +
                   Recs{{43, {25, 25, 56, 56}}} + Brush(3, kRed) + Recs{{53, {40, 40, kBlue, 0}}, {53, {22, 22, kBlue, 1}}}),
               false);
    ASSERT_TRUE(emf.loaded());
    for (const Probe& q : {Probe{40, 40, kRed}, Probe{26, 53, kRed}, Probe{22, 22, kRed}, Probe{57, 40, kRed},
                           Probe{10, 10, kWhite}})
        EXPECT_EQ(emf.at(q.x, q.y), q.want) << q.x << ", " << q.y;
}

// Old device-dependent bitmaps: a head (type, width, height, bytes a row, planes and bits a
// pixel), then rows top first.
TEST(GdiPlayer, WmfDeviceBitmaps)
{
    using Case = WmfCase;
    // 2 x 2 at 24 bits, rows of 6 bytes: red, blue; green, yellow.
    const std::vector<int> colour = {0, 2, 2, 6, 0x1801, 0x0000, 0xFFFF, 0x0000, 0xFF00, 0x0000, 0xFFFF};
    auto blit = [&](std::vector<int> head) {
        head.insert(head.end(), colour.begin(), colour.end());
        return head;
    };
    std::vector<int> brush = {0, 2, 2, 6, 0x1801, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    brush.insert(brush.end(), colour.begin() + 5, colour.end());
    const Case cases[] = {
        // 0 bits take the text colour (red), 1 bits the background (green): rows 1 0, then 0 1.
        {"monochrome stretched",
         {{0x0209, {0xFF, 0}}, {0x0201, {0xFF00, 0}},
          {0x0B23, {0x0020, 0x00CC, 2, 2, 0, 0, 100, 100, 0, 0, 0, 2, 2, 2, 0x0101, 0x0080, 0x0040}}},
         {{25, 25, kGreen}, {75, 25, kRed}, {25, 75, kRed}, {75, 75, kGreen}}},
        {"24 bits at their size", {{0x0922, blit({0x0020, 0x00CC, 0, 0, 2, 2, 10, 10})}},
         {{10, 10, kRed}, {11, 10, kBlue}, {10, 11, kGreen}, {11, 11, kYellow}, {12, 12, kWhite}, {9, 9, kWhite}}},
        {"24 bits from the second column", {{0x0922, blit({0x0020, 0x00CC, 0, 1, 2, 1, 10, 10})}},
         {{10, 10, kBlue}, {10, 11, kYellow}, {11, 10, kWhite}}},
        {"24 bits inverted onto the picture", {{0x0922, blit({0x0020, 0x0033, 0, 0, 2, 2, 10, 10})}},
         {{10, 10, RGB(0, 255, 255)}, {11, 11, RGB(0, 0, 255)}}},
        {"colour pattern brush", {{0x01F9, brush}, {0x012D, {0}}, {0x02FA, {5, 0, 0, 0, 0}}, {0x012D, {1}},
                                  {0x041B, {100, 100, 0, 0}}},
         {{0, 0, kRed}, {1, 0, kBlue}, {0, 1, kGreen}, {1, 1, kYellow}, {2, 2, kRed}, {51, 51, kYellow}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Played p(Wmf(c.records), true);
        ASSERT_TRUE(p.loaded());
        EXPECT_EQ(p.leaked(), 0);
        for (const Probe& q : c.probes)
            EXPECT_EQ(p.at(q.x, q.y), q.want) << q.x << ", " << q.y;
    }
}

// Each file paints the picture red, then holds a record that lies, then (for state
// records) paints blue: the lie is skipped, nothing outside the file is read (the address
// sanitizer watches), and the picture is what the honest records make.
TEST(GdiPlayer, LyingRecordsSkipped)
{
    struct Case {
        const char* name;
        Recs lie;
        bool thenBlue;
    };
    const Case cases[] = {
        {"polypolygon counts past their points", {{8, {0, 0, 0, 0, 2, 3, 2, 0x7FFFFFFF, 1, 1, 5, 5, 9, 9}}}, false},
        {"polypolygon counts not summing to the total", {{8, {0, 0, 0, 0, 2, 3, 1, 1, 1, 1, 5, 5, 9, 9}}}, false},
        {"polygon count past the record", {{3, {0, 0, 0, 0, 1000, 1, 1}}}, false},
        {"polydraw types past the record", {{56, {0, 0, 0, 0, 3, 1, 1, 5, 5, 9, 9}}}, false},
        {"bitmap wider than its bits", StretchDib(0, 0, 100, 100, 15), false},
        {"bitmap header past the record", {{81, {0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 80, 4000, 120, 16, 0, SRCCOPY, 10, 10}}}, false},
        {"text string past the record", {{84, {0, 0, 0, 0, 1, F(1), F(1), 5, 5, 1000, 76, 0, 0, 0, 0, 0, 0}}}, false},
        {"text offset past the record", {{84, {0, 0, 0, 0, 1, F(1), F(1), 5, 5, 2, 0x7FFFFFF0, 0, 0, 0, 0, 0, 0}}}, false},
        {"gradient vertex past the table", {{118, {0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 5}}}, false},
        {"gradient count past the record", {{118, {0, 0, 0, 0, 0x10000000, 1, 0}}}, false},
        {"region count past its data", {{75, {48, RGN_COPY, 32, 1, 100, 16, 0, 0, 10, 10, 0, 0, 10, 10}}}, true},
        {"fill region brush never made", {{71, {0, 0, 0, 0, 48, 7, 32, 1, 1, 16, 0, 0, 10, 10, 0, 0, 10, 10}}}, false},
        {"pen style entries past the record", {{95, {3, 0, 0, 0, 0, 0x10007, 10, 0, 0, 0, 0x40000000}}, {37, {3}}}, true},
        {"object index past the table", {{39, {0x7FFFFFFF, 0, kBlue, 0}}, {37, {0x7FFFFFFF}}}, true},
        {"restore below the first save", {{34, {-5}}, {34, {3}}}, true},
        {"mapping with zero extents", {{17, {8}}, {9, {0, 0}}, {11, {0, 5}}}, true},
        {"world transform that flattens everything", {{35, {F(0), F(0), F(0), F(0), F(1), F(1)}}}, true},
    };
    const Recs red = Brush(1, kRed) + kNoPen + Recs{{43, {0, 0, 101, 101}}};
    const Recs blue = Brush(2, kBlue) + kNoPen + Recs{{43, {0, 0, 101, 101}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Played p(Emf(red + c.lie + (c.thenBlue ? blue : Recs())), false);
        ASSERT_TRUE(p.loaded());
        EXPECT_EQ(p.count(c.thenBlue ? kBlue : kRed), 100 * 100);
    }
}

TEST(GdiPlayer, LyingWmfRecordsSkipped)
{
    struct Case {
        const char* name;
        WRecs lie;
    };
    const std::vector<int> bigDib = {0x0020, 0x00CC, 0, 2, 2, 0, 0, 100, 100, 0, 0, 40, 0, 0xFA00, 0, 0xFA00, 0, 1, 24,
                                     0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const Case cases[] = {
        {"polypolygon counts past the points", {{0x0538, {2, 0x7FFF, 0x7FFF, 1, 1}}}},
        {"polypolygon count of polygons past the record", {{0x0538, {0x7FFF, 3}}}},
        {"polygon count past the record", {{0x0324, {500, 1, 1}}}},
        {"text count past the record", {{0x0521, {0x7FFF, 'A' | 'B' << 8}}}},
        {"extended text count past the record", {{0x0A32, {10, 10, 500, 0, 'A' | 'B' << 8}}}},
        {"extended text box missing", {{0x0A32, {10, 10, 2, ETO_OPAQUE}}}},
        {"bitmap larger than its bits", {{0x0F43, bigDib}}},
        {"bitmap header cut short", {{0x0940, {0x0020, 0x00CC, 0, 0, 2, 2, 0, 0, 40, 0}}}},
        {"region scans past the record", {{0x06FF, {0, 6, 0, 0, 34, 100, 2, 0, 0, 10, 10}}, {0x0228, {2, 0}}}},
        {"pattern brush header lying", {{0x0142, {5, 0, 40, 0, 0x7FFF, 0, 0x7FFF, 0, 1, 8}}, {0x012D, {2}},
                                        {0x041B, {101, 101, 0, 0}}}},
        {"object index past the table", {{0x012D, {999}}, {0x01F0, {999}}}},
        {"restore far below the first save", {{0x0127, {0x8000}}}},
        {"zero window extent", {{0x020C, {0, 0}}, {0x041B, {50, 50, 0, 0}}}},
        {"device bitmap rows past the record",
         {{0x0922, {0x0020, 0x00CC, 0, 0, 2, 2, 0, 0, 0, 2, 2, 100, 0x1801, 0, 0, 0}}}},
        {"device bitmap rows shorter than its width",
         {{0x0B23, {0x0020, 0x00CC, 2, 2, 0, 0, 50, 50, 0, 0, 0, 100, 1, 2, 0x0101, 0}}}},
        {"device bitmap of two planes", {{0x0922, {0x0020, 0x00CC, 0, 0, 1, 1, 0, 0, 0, 1, 1, 2, 0x0102, 0}}}},
        {"pattern brush rows past the record",
         {{0x01F9, {0, 2, 0x7FFF, 6, 0x1801, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}, {0x012D, {2}},
          {0x041B, {101, 101, 0, 0}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WRecs all = {{0x02FC, {0, 0xFF, 0, 0}}, {0x012D, {0}}, {0x02FA, {5, 0, 0, 0, 0}}, {0x012D, {1}},
                     {0x041B, {101, 101, 0, 0}}};
        all.insert(all.end(), c.lie.begin(), c.lie.end());
        Played p(Wmf(all), true);
        ASSERT_TRUE(p.loaded());
        EXPECT_EQ(p.leaked(), 0);
        EXPECT_EQ(p.count(kRed), 100 * 100);
    }
}

// Saves without end and paths of many figures stay within what the file's bytes pay for.
TEST(GdiPlayer, DeepSavesAndLongPaths)
{
    Recs many = Brush(1, kRed) + kNoPen + Recs{{19, {2}}};
    for (int i = 0; i < 3000; ++i)
        many.push_back({33, {}});
    many.push_back({59, {}});
    for (int i = 0; i < 2000; ++i)
        many.push_back({43, {i % 50, i % 50, 100, 100}});
    many.push_back({60, {}});
    many.push_back({62, {0, 0, 0, 0}});
    for (int i = 0; i < 3000; ++i)
        many.push_back({34, {-1}});
    Played p(Emf(many), false);
    EXPECT_EQ(p.at(60, 60), kRed);
    EXPECT_EQ(p.leaked(), 0);

    // A wide round pen along a polyline and a curve of thirty thousand points each: the
    // joins and the flattening stay within a budget (a hostile file must not cost gigabytes).
    std::vector<int64_t> line = {0, 0, 0, 0, 30000}, curve = {0, 0, 0, 0, 30000};
    for (int i = 0; i < 30000; ++i) {
        line.push_back((i % 100) | int64_t(i % 97) << 16);
        curve.push_back((i % 90) | int64_t(i % 83) << 16);
    }
    Played wide(Emf({{95, {1, 0, 0, 0, 0, 0x10000, 60, 0, kBlue, 0, 0}}, {37, {1}}, {87, line}, {85, curve}}), false);
    EXPECT_EQ(wide.at(50, 50), kBlue);
}

} // namespace

namespace {

// The clip calls a context takes in device units, as the player's clipping lands there.
TEST(GdiClipCalls, RectanglesExcludedAndMoved)
{
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bm = CreateCompatibleBitmap(dc, 10, 10);
    HGDIOBJ old = SelectObject(dc, bm);
    const RECT all{0, 0, 10, 10};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    EXPECT_EQ(IntersectClipRect(dc, 8, 8, 2, 2), SIMPLEREGION); // corners in either order
    EXPECT_EQ(ExcludeClipRect(dc, 4, 4, 6, 6), COMPLEXREGION);
    HBRUSH red = CreateSolidBrush(kRed), blue = CreateSolidBrush(kBlue);
    FillRect(dc, &all, red);
    EXPECT_EQ(OffsetClipRgn(dc, 1, 1), COMPLEXREGION);
    FillRect(dc, &all, blue);
    EXPECT_EQ(SelectClipRgn(dc, nullptr), SIMPLEREGION); // reading back sees the whole bitmap
    const Probe probes[] = {{0, 0, kWhite}, {2, 2, kRed}, {3, 3, kBlue}, {8, 8, kBlue}, {9, 9, kWhite},
                            {4, 4, kBlue}, {5, 5, kWhite}, {6, 6, kRed}};
    for (const Probe& q : probes)
        EXPECT_EQ(GetPixel(dc, q.x, q.y), q.want) << q.x << ", " << q.y;
    EXPECT_EQ(OffsetClipRgn(dc, 3, 3), SIMPLEREGION); // no clip: nothing to move
    FillRect(dc, &all, red);
    EXPECT_EQ(GetPixel(dc, 0, 0), kRed);
    EXPECT_EQ(IntersectClipRect(nullptr, 0, 0, 1, 1), RGN_ERROR);
    SelectObject(dc, old);
    DeleteObject(red);
    DeleteObject(blue);
    DeleteDC(dc);
    DeleteObject(bm);
}

} // namespace
