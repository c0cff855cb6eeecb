// What an overlay should look like, drawn by the tests themselves: a black 32-bit surface
// the size of a cell, and the positions of overlay texts from the tests' own reading of
// the layout (anchors, lines, order gaps) with the stand-in's text extents.
#pragma once

#include "platform/Gdi.h"
#include "platform/Win32.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace gridtest {

struct Surface {
    Surface(int w, int h) : width(w), height(h)
    {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc = CreateCompatibleDC(nullptr);
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
        old = SelectObject(dc, bitmap);
        std::memset(bits, 0, size_t(w) * size_t(h) * 4);
    }
    ~Surface()
    {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;
    bool operator==(const Surface& o) const { return std::memcmp(bits, o.bits, size_t(width) * height * 4) == 0; }
    bool white(int x, int y) const
    {
        const uint8_t* p = bits + (size_t(y) * width + x) * 4;
        return p[0] == 255 && p[1] == 255 && p[2] == 255;
    }
    int width, height;
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
    uint8_t* bits = nullptr;
};

// One configured overlay item with the text it should show (prefix and suffix included);
// a picture item has no text, only its width.
struct OverlaySpec {
    std::u16string text;
    int gridx, gridy, offsetx, offsety;
    int pictureWidth = -1; // >= 0: the picture item
};

struct PlacedText {
    std::u16string text;
    int x, y;
};

// Items sharing anchor, line and direction run from the anchor in ascending order
// (equal orders keep document order), a gap of (order - previous - 1) x lh / 2 before
// each; leftward runs end each text where the one before began; at the bottom anchor
// every line ends at the anchor or above it.
inline std::vector<PlacedText> layOutOverlay(const std::vector<OverlaySpec>& specs, const RECT& v, int lh, HDC font)
{
    struct Entry {
        const OverlaySpec* spec;
        int order;
    };
    struct Group {
        int gridx, gridy, line;
        bool rightwards;
        std::vector<Entry> entries;
    };
    std::vector<Group> groups;
    for (const OverlaySpec& s : specs) {
        const bool rightwards = s.offsetx > 0;
        auto g = std::find_if(groups.begin(), groups.end(), [&](const Group& g) {
            return g.gridx == s.gridx && g.gridy == s.gridy && g.line == s.offsety && g.rightwards == rightwards;
        });
        if (g == groups.end())
            g = groups.insert(groups.end(), Group{s.gridx, s.gridy, s.offsety, rightwards, {}});
        g->entries.push_back({&s, rightwards ? s.offsetx : -s.offsetx});
    }
    std::vector<PlacedText> placed;
    for (Group& g : groups) {
        std::stable_sort(g.entries.begin(), g.entries.end(), [](const Entry& a, const Entry& b) { return a.order < b.order; });
        const int w = v.right - v.left, h = v.bottom - v.top;
        int x = v.left + w * g.gridx / 2 + (g.gridx == 0 ? 5 : g.gridx == 2 ? -5 : 0);
        const int anchor = v.top + h * g.gridy / 2 + (g.gridy == 0 ? 5 : g.gridy == 2 ? -5 : 0);
        int y = anchor + (g.line < 1 ? g.line : g.line - 1) * lh;
        // No bottom line runs past the bottom anchor.
        if (g.gridy == 2)
            y = std::min(y, anchor - lh);
        int previous = 0;
        for (const Entry& e : g.entries) {
            const int gap = std::max(0, e.order - previous - 1) * lh / 2;
            previous = e.order;
            int width = e.spec->pictureWidth;
            if (width < 0) {
                SIZE size = {0, 0};
                GetTextExtentPoint32W(font, e.spec->text.c_str(), int(e.spec->text.size()), &size);
                width = size.cx;
            }
            x = g.rightwards ? x + gap : x - gap - width;
            if (e.spec->pictureWidth < 0)
                placed.push_back({e.spec->text, x, y});
            if (g.rightwards)
                x += width;
        }
    }
    return placed;
}

// The texts as the overlay draws them: a black shadow one pixel right and down, then white.
inline void drawOverlayTexts(HDC dc, const std::vector<PlacedText>& texts)
{
    SetBkMode(dc, TRANSPARENT);
    for (int pass = 0; pass < 2; ++pass)
        for (const PlacedText& t : texts) {
            SetTextColor(dc, pass ? RGB(255, 255, 255) : RGB(0, 0, 0));
            TextOutW(dc, t.x + (pass ? 0 : 1), t.y + (pass ? 0 : 1), t.text.c_str(), int(t.text.size()));
        }
}

} // namespace gridtest
