// Metafile player, palettes and global memory of the GDI stand-in.
#include "platform/Gdi.h"
#include "tests/imagelib/support/MetafileBuilder.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using rxtest::EmfBuilder;
using rxtest::MetaBytes;
using rxtest::WmfBuilder;

struct Canvas {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
    Canvas(int w, int h)
    {
        dc = CreateCompatibleDC(nullptr);
        bitmap = CreateCompatibleBitmap(dc, w, h); // black
        old = SelectObject(dc, bitmap);
    }
    ~Canvas()
    {
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
};

int64_t XY(int x, int y) { return int64_t(uint16_t(x)) | int64_t(uint16_t(y)) << 16; }

TEST(GdiMetafile, EmfPolygonAndPolyline)
{
    // Bounds 100 x 100 onto 50 x 50: every coordinate halves.
    EmfBuilder e;
    e.handles = 3;
    e.rec(39, {1, 0, 0x0000FF, 0}).rec(37, {1}).rec(37, {0x80000008});
    e.rec(86, {0, 0, 0, 0, 4, XY(20, 20), XY(80, 20), XY(80, 60), XY(20, 60)});
    e.rec(38, {2, 0, 2, 0, 0xFF0000}).rec(37, {2}).rec(4, {0, 0, 0, 0, 2, -100000000, 90, 98, 90});
    const MetaBytes file = e.bytes(0, 0, 100, 100);
    HENHMETAFILE h = SetEnhMetaFileBits(UINT(file.size()), file.data());
    ASSERT_TRUE(h);
    Canvas c(50, 50);
    const RECT rc{0, 0, 50, 50};
    FillRect(c.dc, &rc, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    const HGDIOBJ pen = GetCurrentObject(c.dc, OBJ_PEN), brush = GetCurrentObject(c.dc, OBJ_BRUSH);
    const int live = platform::LiveGdiObjects();
    ASSERT_TRUE(PlayEnhMetaFile(c.dc, h, &rc));
    EXPECT_EQ(platform::LiveGdiObjects(), live);
    EXPECT_EQ(GetCurrentObject(c.dc, OBJ_PEN), pen);
    EXPECT_EQ(GetCurrentObject(c.dc, OBJ_BRUSH), brush);
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 50; ++x) {
            const COLORREF want = x >= 10 && x < 40 && y >= 10 && y < 30 ? RGB(255, 0, 0)
                                  : y == 45 && x < 49                  ? RGB(0, 0, 255)
                                                                       : RGB(255, 255, 255);
            ASSERT_EQ(GetPixel(c.dc, x, y), want) << x << ", " << y;
        }
    EXPECT_TRUE(DeleteEnhMetaFile(h));
}

// Each file ends with a rectangle over the whole 10 x 10 window; the centre tells what it
// was drawn with: black when not drawn, white with the context's own brush.
TEST(GdiMetafile, WmfObjectsAndBadRecords)
{
    struct Case {
        const char* name;
        int objects;
        std::vector<std::pair<int, std::vector<int>>> records;
        COLORREF centre;
    };
    const std::vector<int> red{0, 0xFF, 0, 0}, green{0, 0xFF00, 0, 0};
    const Case cases[] = {
        {"lowest free slot", 2, {{0x02FA, {0, 1, 0, 0, 0}}, {0x02FC, green}, {0x01F0, {0}}, {0x02FC, red}, {0x012D, {0}}},
         RGB(255, 0, 0)},
        {"a font takes a slot", 2, {{0x02FB, {12, 0, 0, 0, 400}}, {0x02FC, red}, {0x012D, {1}}}, RGB(255, 0, 0)},
        {"table full", 1, {{0x02FC, red}, {0x02FC, green}, {0x012D, {0}}}, RGB(255, 0, 0)},
        {"index past the table", 1, {{0x02FC, red}, {0x012D, {5}}}, RGB(255, 255, 255)},
        {"deleting the selected brush", 1, {{0x02FC, red}, {0x012D, {0}}, {0x01F0, {0}}}, RGB(255, 255, 255)},
        {"count beyond its record", 1, {{0x02FC, red}, {0x012D, {0}}, {0x0324, {100, 1, 1, 5, 5}}}, RGB(255, 0, 0)},
        {"parameters missing", 1, {{0x02FC, {0, 0xFF}}, {0x012D, {}}}, RGB(255, 255, 255)},
        {"a record shorter than its head ends playback", 1, {{-1, {}}}, RGB(0, 0, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WmfBuilder w;
        w.objects = c.objects;
        w.rec(0x020C, {10, 10});
        for (const auto& r : c.records) {
            rxtest::Put32(w.records, r.first < 0 ? 2 : 3 + int64_t(r.second.size()));
            rxtest::Put16(w.records, r.first);
            for (int p : r.second)
                rxtest::Put16(w.records, p);
        }
        w.rec(0x041B, {10, 10, 0, 0});
        const MetaBytes file = w.bytes(false);
        const METAFILEPICT picture{MM_ANISOTROPIC, 0, 0, nullptr};
        HENHMETAFILE h = SetWinMetaFileBits(UINT(file.size()), file.data(), nullptr, &picture);
        ASSERT_TRUE(h);
        Canvas canvas(10, 10);
        const RECT rc{0, 0, 10, 10};
        const int live = platform::LiveGdiObjects();
        PlayEnhMetaFile(canvas.dc, h, &rc);
        EXPECT_EQ(platform::LiveGdiObjects(), live);
        EXPECT_EQ(GetPixel(canvas.dc, 5, 5), c.centre);
        DeleteEnhMetaFile(h);
    }
}

TEST(GdiMetafile, HeadersAndValidation)
{
    const MetaBytes good = EmfBuilder().bytes(1, 2, 30, 40, {0x00112233, 0x00445566});
    struct Broken {
        const char* name;
        size_t offset;
        uint8_t value;
    };
    for (const Broken& b : {Broken{"type", 0, 2}, Broken{"header size", 4, 80}, Broken{"signature", 40, 0},
                            Broken{"total past the end", 49, 0x10}, Broken{"total below the header", 48, 50}}) {
        MetaBytes bad = good;
        bad[b.offset] = b.value;
        EXPECT_FALSE(SetEnhMetaFileBits(UINT(bad.size()), bad.data())) << b.name;
    }
    EXPECT_FALSE(SetEnhMetaFileBits(87, good.data()));

    HENHMETAFILE h = SetEnhMetaFileBits(UINT(good.size()), good.data());
    ASSERT_TRUE(h);
    ENHMETAHEADER header;
    std::memset(&header, 0xAB, sizeof header);
    EXPECT_EQ(GetEnhMetaFileHeader(h, 12, &header), 12u);
    EXPECT_EQ(header.rclBounds.left, 1);
    EXPECT_EQ(uint32_t(header.rclBounds.top), 0xABABABABu); // only 12 bytes copied
    ASSERT_EQ(GetEnhMetaFileHeader(h, sizeof header, &header), 108u);
    EXPECT_EQ(header.rclBounds.bottom, 40);
    EXPECT_EQ(header.nPalEntries, 2u);
    ASSERT_EQ(GetEnhMetaFilePaletteEntries(h, 0, nullptr), 2u);
    PALETTEENTRY entries[2] = {};
    EXPECT_EQ(GetEnhMetaFilePaletteEntries(h, 1, entries), 1u);
    EXPECT_EQ(entries[0].peRed, 0x33);
    EXPECT_EQ(entries[0].peBlue, 0x11);
    EXPECT_EQ(entries[1].peRed, 0);
    EXPECT_FALSE(DeleteObject(h));
    EXPECT_TRUE(DeleteEnhMetaFile(h));
    EXPECT_FALSE(DeleteEnhMetaFile(h));

    // A WMF handle reports its window as bounds.
    WmfBuilder w;
    w.rec(0x020B, {-5, 7}).rec(0x020C, {20, 30});
    MetaBytes wmf = w.bytes(false);
    METAFILEPICT picture{MM_ANISOTROPIC, 0, 0, nullptr};
    h = SetWinMetaFileBits(UINT(wmf.size()), wmf.data(), nullptr, &picture);
    ASSERT_EQ(GetEnhMetaFileHeader(h, sizeof header, &header), 108u);
    EXPECT_EQ(header.rclBounds.left, 7);
    EXPECT_EQ(header.rclBounds.top, -5);
    EXPECT_EQ(header.rclBounds.right, 37);
    EXPECT_EQ(header.rclBounds.bottom, 15);
    DeleteEnhMetaFile(h);
    picture.mm = 3;
    EXPECT_FALSE(SetWinMetaFileBits(UINT(wmf.size()), wmf.data(), nullptr, &picture));
    picture.mm = MM_TEXT;
    wmf[2] = 8; // header size in words
    EXPECT_FALSE(SetWinMetaFileBits(UINT(wmf.size()), wmf.data(), nullptr, &picture));
}

TEST(GdiMetafile, PalettesAndGlobalMemory)
{
    const int live = platform::LiveGdiObjects();
    HGLOBAL mem = GlobalAlloc(GHND, sizeof(LOGPALETTE) + 3 * sizeof(PALETTEENTRY));
    auto* lp = static_cast<LOGPALETTE*>(GlobalLock(mem));
    ASSERT_TRUE(lp);
    EXPECT_EQ(lp->palNumEntries, 0); // zero-initialised
    lp->palVersion = 0x300;
    lp->palNumEntries = 3;
    HPALETTE pal = CreatePalette(lp);
    EXPECT_FALSE(GlobalUnlock(mem));
    ASSERT_TRUE(pal);
    EXPECT_EQ(platform::LiveGdiObjects(), live + 1);
    {
        Canvas c(2, 2);
        SelectPalette(c.dc, pal, FALSE);
        EXPECT_NE(RealizePalette(c.dc), GDI_ERROR);
        EXPECT_EQ(GetPixel(c.dc, 0, 0), RGB(0, 0, 0));
        EXPECT_FALSE(DeleteObject(pal)); // still selected
    }
    EXPECT_TRUE(DeleteObject(pal));
    EXPECT_EQ(platform::LiveGdiObjects(), live);
    EXPECT_EQ(GlobalFree(mem), nullptr);
    EXPECT_EQ(GlobalFree(mem), mem);
    EXPECT_EQ(GlobalLock(mem), nullptr);
}

} // namespace
