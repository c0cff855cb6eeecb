// Shared by the annotation suites: storing and loading containers through the text, a
// container of every stored class with mixed values, and a memory canvas.
#pragma once

#include "annotation/OrbelAnnArrowMark.h"
#include "annotation/OrbelAnnContainer.h"
#include "annotation/OrbelAnnRectangle.h"
#include "platform/Gdi.h"
#include "tests/support/TestTools.h"

#include <unistd.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace anntest {

inline std::string Store(COrbelAnnContainer& c)
{
    COrbelArchive ar(0);
    c.Serialize(ar);
    std::string text;
    return COrbelArchive::ToHex(ar, text);
}

// Loads a text into c as the loader does; returns the archive's error text.
inline std::string Load(const std::string& text, COrbelAnnContainer& c)
{
    COrbelArchive ar(1);
    if (COrbelArchive::FromHex(text, ar))
        c.Serialize(ar);
    return ar.Error();
}

inline COrbelAnnLine* Line(int x1, int y1, int x2, int y2, int complete, int creating, BYTE selected)
{
    auto* l = new COrbelAnnLine();
    l->imageStart = POINT{x1, y1};
    l->imageEnd = POINT{x2, y2};
    l->complete = complete;
    l->creating = creating;
    l->selected = selected;
    return l;
}

// Runs tools/ann_text.py (decode or encode) on input; returns its standard output.
inline std::string RunScript(const std::string& mode, const std::string& input)
{
    // One input file per process: CTest runs several tests at once.
    const std::string path =
        std::string(ORBEL_BINARY_DIR) + "/ann_text_" + mode + "_" + std::to_string(getpid()) + ".in";
    std::ofstream(path) << input;
    const std::string cmd = OrbelTest::pythonCommand(std::string(ORBEL_SOURCE_DIR) + "/tools/ann_text.py") + " " +
                            mode + " < '" + path + "'";
    FILE* p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[4096];
    for (size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    EXPECT_TRUE(p && pclose(p) == 0) << cmd;
    std::remove(path.c_str());
    return out;
}

inline void ExpectPoint(const POINT& p, int x, int y) { EXPECT_TRUE(p.x == x && p.y == y) << p.x << "," << p.y; }

// Draws an object out with the mouse: press, move, release.
template <class T>
T* Drawn(T* o, int x1, int y1, int x2, int y2)
{
    o->BeginCreate(x1, y1);
    o->DragTo(x2, y2);
    o->EndCreate(x2, y2);
    return o;
}

constexpr int kBig = 1 << 28;

// Line, rectangle, arrow and arrow mark, in that order, with flags and coordinates the
// listing in AnnTextScriptTest names one by one.
inline void FillMixed(COrbelAnnContainer& c)
{
    c.Add(Line(-5, 7, kBig, -kBig, 1, 0, 1));
    auto* r = new COrbelAnnRectangle();
    r->imageRect = RECT{-kBig, 3, 40, kBig};
    r->creating = 1;
    c.Add(r);
    auto* a = new COrbelAnnArrow();
    a->complete = a->selected = 1;
    a->shaft.imageStart = POINT{100, -100};
    a->shaft.imageEnd = POINT{-2147483647 - 1, 2147483647};
    a->shaft.complete = 1;
    a->wing1.imageEnd = POINT{9, 8};
    a->wing2.selected = 1;
    c.Add(a);
    auto* m = new COrbelAnnArrowMark();
    m->complete = 1;
    m->arrow.shaft.imageStart = POINT{12, 34};
    m->arrow.shaft.imageEnd = POINT{56, -78};
    c.Add(m);
}

// A memory context over a w x h bitmap with a seeded random background.
struct Canvas {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
    int w, h;
    Canvas(int width, int height, uint32_t seed) : w(width), h(height)
    {
        dc = CreateCompatibleDC(nullptr);
        bitmap = CreateCompatibleBitmap(dc, w, h);
        old = SelectObject(dc, bitmap);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                seed = seed * 1664525u + 1013904223u;
                SetPixel(dc, x, y, seed >> 8 & 0xFFFFFF);
            }
    }
    ~Canvas()
    {
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
    std::vector<uint8_t> Pixels() const { return platform::BitmapPixels(bitmap, nullptr, nullptr); }
};

} // namespace anntest
