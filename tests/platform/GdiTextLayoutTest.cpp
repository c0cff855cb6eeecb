// Text as metafiles draw it: faces chosen by name, pitch and weight, any escapement,
// every alignment, the current position, caller advances, underline and strike-out,
// single-byte text. Judged against Pillow drawing the same Liberation files
// (scripts/text_reference.py) and against values read from the font tables there.
#include "platform/Gdi.h"
#include "platform/TextConv.h"

#include "tests/support/TestTools.h"
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <unistd.h>

namespace {

std::string fontDir()
{
    for (const char* dir : {"/usr/share/fonts/truetype/liberation", "/usr/share/fonts/truetype/liberation2"})
        if (std::ifstream(std::string(dir) + "/LiberationSans-Regular.ttf"))
            return dir;
    return "";
}

struct Canvas {
    static const int W = 1000, H = 240, X0 = 500, Y0 = 120;
    HDC dc;
    HBITMAP bm;
    Canvas()
    {
        dc = CreateCompatibleDC(nullptr);
        bm = CreateCompatibleBitmap(dc, W, H);
        SelectObject(dc, bm);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(255, 255, 255));
    }
    ~Canvas()
    {
        SelectObject(dc, GetStockObject(SYSTEM_FONT));
        DeleteDC(dc);
        DeleteObject(bm);
    }
    // Lit pixels relative to (X0, Y0).
    std::set<std::pair<int, int>> ink() const
    {
        std::vector<uint8_t> px = platform::BitmapPixels(bm, nullptr, nullptr);
        std::set<std::pair<int, int>> out;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                if (px[(size_t(y) * W + size_t(x)) * 4 + 2])
                    out.emplace(x - X0, y - Y0);
        return out;
    }
};

using Ink = std::set<std::pair<int, int>>;

// Share of a's pixels with one of b's within a pixel, the smaller of both directions.
double agreement(const Ink& a, const Ink& b)
{
    auto share = [](const Ink& p, const Ink& q) {
        if (p.empty())
            return q.empty() ? 1.0 : 0.0;
        int hit = 0;
        for (auto [x, y] : p) {
            bool near = false;
            for (int dy = -1; dy <= 1 && !near; ++dy)
                for (int dx = -1; dx <= 1 && !near; ++dx)
                    near = q.count({x + dx, y + dy}) != 0;
            hit += near;
        }
        return double(hit) / double(p.size());
    };
    return std::min(share(a, b), share(b, a));
}

// Pixels both have over pixels either has.
double overlap(const Ink& a, const Ink& b)
{
    size_t both = 0;
    for (auto p : a)
        both += b.count(p);
    const size_t either = a.size() + b.size() - both;
    return either ? double(both) / double(either) : 1.0;
}

Ink shifted(const Ink& a, int dx, int dy)
{
    Ink out;
    for (auto [x, y] : a)
        out.emplace(x + dx, y + dy);
    return out;
}

// Runs the reference script over job lines; one output line each.
std::vector<std::string> reference(const std::vector<std::string>& jobs)
{
    const std::string input =
        std::string(ORBEL_BINARY_DIR) + "/platform-text-jobs-" + std::to_string(getpid()) + ".txt";
    struct Removed {
        std::string path;
        ~Removed() { std::remove(path.c_str()); }
    } removed{input};
    {
        std::ofstream f(input);
        for (const auto& j : jobs)
            f << j << '\n';
    }
    std::string cmd = OrbelTest::pythonCommand(std::string(ORBEL_SOURCE_DIR) + "/tests/platform/scripts/text_reference.py") +
                      " < " + input;
    std::vector<std::string> out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return out;
    std::string line;
    for (int c; (c = fgetc(p)) != EOF;) {
        if (c == '\n') {
            out.push_back(line);
            line.clear();
        } else {
            line.push_back(char(c));
        }
    }
    pclose(p);
    return out;
}

Ink parseInk(const std::string& line)
{
    std::istringstream in(line);
    int w = 0, h = 0, ox = 0, oy = 0;
    std::string bits;
    in >> w >> h >> ox >> oy >> bits;
    Ink out;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (bits[size_t(y) * size_t(w) + size_t(x)] == '1')
                out.emplace(x - ox, y - oy);
    return out;
}

std::string job(const std::string& file, int em, const std::string& angle, const std::string& text)
{
    return fontDir() + "/" + file + "\t" + std::to_string(em) + "\t" + angle + "\t" + text;
}

HFONT makeFont(int height, int escapement, int weight, bool italic, const char16_t* face, int pitch = 0,
               bool underline = false, bool strike = false)
{
    return CreateFontW(height, 0, escapement, escapement, weight, italic, underline, strike, DEFAULT_CHARSET, 0, 0, 0,
                       DWORD(pitch), face);
}

Ink draw(HFONT font, UINT align, const std::u16string& text, UINT options = 0, const RECT* rc = nullptr,
         const INT* dx = nullptr)
{
    Canvas c;
    SelectObject(c.dc, font);
    SetTextAlign(c.dc, align);
    ExtTextOutW(c.dc, Canvas::X0, Canvas::Y0, options, rc, text.c_str(), UINT(text.size()), dx);
    return c.ink();
}

#define REQUIRE_FONTS_AND_PILLOW()                                                 \
    ASSERT_FALSE(fontDir().empty()) << "fonts-liberation is not installed";         \
    ORBEL_REQUIRE_PYTHON_MODULE("PIL", "python3-pil")

TEST(GdiTextFaces, NamesPitchAndWeightPickTheLiberationFile)
{
    REQUIRE_FONTS_AND_PILLOW();
    const char* files[] = {"LiberationSans-Regular.ttf", "LiberationSans-Bold.ttf",  "LiberationSans-Italic.ttf",
                           "LiberationSans-BoldItalic.ttf", "LiberationSerif-Regular.ttf", "LiberationSerif-Bold.ttf",
                           "LiberationSerif-Italic.ttf", "LiberationSerif-BoldItalic.ttf", "LiberationMono-Regular.ttf",
                           "LiberationMono-Bold.ttf", "LiberationMono-Italic.ttf", "LiberationMono-BoldItalic.ttf"};
    struct Case {
        const char16_t* face;
        int pitch, weight;
        bool italic;
        int file; // index into files
    } cases[] = {
        {u"Arial", 0, FW_NORMAL, false, 0},           {u"Helvetica", 0, FW_BOLD, false, 1},
        {u"Tahoma", 0, FW_NORMAL, true, 2},           {u"Segoe UI", 0, FW_HEAVY, true, 3},
        {u"MS Sans Serif", FF_ROMAN, FW_NORMAL, false, 0}, {u"Unknown Face", 0, FW_NORMAL, false, 0},
        {u"Times New Roman", 0, FW_NORMAL, false, 4}, {u"georgia", 0, FW_SEMIBOLD, false, 5},
        {u"Times", 0, FW_NORMAL, true, 6},            {u"Unknown Face", FF_ROMAN | VARIABLE_PITCH, FW_BOLD, true, 7},
        {u"Courier New", 0, FW_NORMAL, false, 8},     {u"Consolas", 0, FW_BOLD, false, 9},
        {u"Lucida Console", 0, FW_LIGHT, true, 10},   {u"Unknown Face", FIXED_PITCH, FW_BOLD, true, 11},
        {u"Unknown Face", FF_MODERN, FW_NORMAL, false, 8},
    };
    const int em = 20;
    const std::string text = "Hamburg 1lI";
    std::vector<std::string> jobs;
    for (const char* f : files)
        jobs.push_back(job(f, em, "0", text));
    std::vector<std::string> lines = reference(jobs);
    ASSERT_EQ(lines.size(), 12u);
    std::vector<Ink> theirs;
    for (const auto& l : lines)
        theirs.push_back(parseInk(l));
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.face) + " pitch " + std::to_string(c.pitch) + " weight " + std::to_string(c.weight) +
                     (c.italic ? " italic" : ""));
        HFONT f = makeFont(-em, 0, c.weight, c.italic, c.face, c.pitch);
        Ink ours = draw(f, TA_BASELINE, Utf8ToUtf16(text));
        DeleteObject(f);
        // Same FreeType glyphs, same layout but for a kerning pixel here and there: the
        // same pixels within one, and the most pixels exactly in common by a clear margin.
        EXPECT_GE(agreement(ours, theirs[size_t(c.file)]), 0.97) << files[c.file];
        const double want = overlap(ours, theirs[size_t(c.file)]);
        for (int i = 0; i < 12; ++i) {
            if (i != c.file) {
                EXPECT_LT(overlap(ours, theirs[size_t(i)]), want - 0.05) << "as close to " << files[i];
            }
        }
    }
}

// Any escapement turns the text about its reference point, counter-clockwise; against
// Pillow turning its upright bitmap (so the pixels differ along the edges).
TEST(GdiTextFaces, EscapementTurnsAboutTheReferencePoint)
{
    REQUIRE_FONTS_AND_PILLOW();
    const int em = 18;
    const std::string text = "Tilt 42";
    const int angles[] = {0, 300, 450, 900, 1350, 1800, 2250, 2700, 3150, -450, 3900};
    std::vector<std::string> jobs;
    for (int a : angles)
        jobs.push_back(job("LiberationSans-Regular.ttf", em, std::to_string(a), text));
    std::vector<std::string> lines = reference(jobs);
    ASSERT_EQ(lines.size(), std::size(angles));
    for (size_t i = 0; i < std::size(angles); ++i) {
        SCOPED_TRACE("escapement " + std::to_string(angles[i]));
        HFONT f = makeFont(-em, angles[i], FW_NORMAL, false, u"Arial");
        Ink ours = draw(f, TA_BASELINE, Utf8ToUtf16(text));
        DeleteObject(f);
        Ink theirs = parseInk(lines[i]);
        EXPECT_GE(agreement(ours, theirs), angles[i] % 900 ? 0.85 : 0.98);
        // Centres of the ink within a pixel and a half.
        auto centre = [](const Ink& k, int axis) {
            double s = 0;
            for (auto p : k)
                s += axis ? p.second : p.first;
            return k.empty() ? 0.0 : s / double(k.size());
        };
        EXPECT_NEAR(centre(ours, 0), centre(theirs, 0), 1.5);
        EXPECT_NEAR(centre(ours, 1), centre(theirs, 1), 1.5);
    }
}

// Alignment moves the whole run by the text's width and the font's ascent and cell
// height, read from the font here by the script; under a quarter turn the moves turn too.
TEST(GdiTextFaces, AlignmentShiftsByWidthAscentAndCell)
{
    REQUIRE_FONTS_AND_PILLOW();
    const int em = 17;
    const std::string text = "Align WAVE";
    std::vector<std::string> lines = reference({job("LiberationSans-Regular.ttf", em, "metrics", text)});
    ASSERT_EQ(lines.size(), 1u);
    int width = 0, ascent = 0, cell = 0;
    std::istringstream(lines[0]) >> width >> ascent >> cell;
    ASSERT_GT(width, 0);
    const std::u16string wide = Utf8ToUtf16(text);
    for (int turns : {0, 1, 2, 3}) {
        HFONT f = makeFont(-em, 900 * turns, FW_NORMAL, false, u"Arial");
        Ink origin = draw(f, TA_LEFT | TA_TOP, wide);
        ASSERT_FALSE(origin.empty());
        struct Align {
            UINT h;
            int du;
            UINT v;
            int dv;
        };
        for (Align a : {Align{TA_LEFT, 0, TA_TOP, 0}, Align{TA_CENTER, -(width / 2), TA_TOP, 0},
                        Align{TA_RIGHT, -width, TA_TOP, 0}, Align{TA_LEFT, 0, TA_BASELINE, -ascent},
                        Align{TA_CENTER, -(width / 2), TA_BASELINE, -ascent}, Align{TA_RIGHT, -width, TA_BASELINE, -ascent},
                        Align{TA_LEFT, 0, TA_BOTTOM, -cell}, Align{TA_CENTER, -(width / 2), TA_BOTTOM, -cell},
                        Align{TA_RIGHT, -width, TA_BOTTOM, -cell}}) {
            SCOPED_TRACE("turns " + std::to_string(turns) + " align " + std::to_string(a.h | a.v));
            // Text-frame moves (u along the baseline, v down) on the device.
            const int ux[4] = {1, 0, -1, 0}, uy[4] = {0, -1, 0, 1};
            const int dx = a.du * ux[turns] - a.dv * uy[turns], dy = a.du * uy[turns] + a.dv * ux[turns];
            EXPECT_EQ(draw(f, a.h | a.v, wide), shifted(origin, dx, dy));
        }
        DeleteObject(f);
    }
}

TEST(GdiTextFaces, UnderlineAndStrikeOutFollowTheFontTables)
{
    REQUIRE_FONTS_AND_PILLOW();
    for (int em : {13, 24, 40}) {
        SCOPED_TRACE("em " + std::to_string(em));
        const std::string text = "under";
        std::vector<std::string> lines = reference({job("LiberationSans-Regular.ttf", em, "metrics", text)});
        ASSERT_EQ(lines.size(), 1u);
        int width, ascent, cell, upm, ulPos, ulThick, stPos, stSize;
        std::istringstream(lines[0]) >> width >> ascent >> cell >> upm >> ulPos >> ulThick >> stPos >> stSize;
        const double scale = double(em) / upm;
        for (bool strike : {false, true}) {
            HFONT plain = makeFont(-em, 0, FW_NORMAL, false, u"Arial");
            HFONT lined = makeFont(-em, 0, FW_NORMAL, false, u"Arial", 0, !strike, strike);
            Ink base = draw(plain, TA_BASELINE, Utf8ToUtf16(text)), with = draw(lined, TA_BASELINE, Utf8ToUtf16(text));
            DeleteObject(plain);
            DeleteObject(lined);
            // Rows fully lit across the text's width, that the plain text does not fill.
            std::vector<int> rows;
            for (int y = -em; y < em; ++y) {
                bool full = true, plainFull = true;
                for (int x = 0; x < width; ++x) {
                    full = full && with.count({x, y});
                    plainFull = plainFull && base.count({x, y});
                }
                if (full && !plainFull)
                    rows.push_back(y);
                EXPECT_FALSE(with.count({-1, y}) && !base.count({-1, y})) << "line starts before the text, row " << y;
                EXPECT_FALSE(with.count({width, y}) && !base.count({width, y})) << "line runs past the text, row " << y;
            }
            ASSERT_FALSE(rows.empty()) << (strike ? "strike-out" : "underline");
            const double top = strike ? -stPos * scale : -ulPos * scale, thick = (strike ? stSize : ulThick) * scale;
            EXPECT_NEAR(rows.front(), top, 1.0) << (strike ? "strike-out" : "underline");
            EXPECT_NEAR(double(rows.size()), std::max(1.0, thick), 1.0) << (strike ? "strike-out" : "underline");
        }
    }
}

// TA_UPDATECP: text starts at the current position and leaves it at the far end (left
// aligned), the near end (right aligned) or where it was (centred), along the escapement.
TEST(GdiTextFaces, UpdateCurrentPositionChainsRuns)
{
    ASSERT_FALSE(fontDir().empty()) << "fonts-liberation is not installed";
    HFONT f = makeFont(-16, 0, FW_NORMAL, false, u"Arial");
    Canvas probe;
    SelectObject(probe.dc, f);
    SIZE whole{};
    GetTextExtentPoint32W(probe.dc, u"mnop", 4, &whole);
    struct Case {
        UINT align;
        int escapement;
        const char16_t* first;
        const char16_t* second;
        int moveX, moveY; // of the current position, in units of the whole width
    } cases[] = {
        {TA_LEFT | TA_BASELINE, 0, u"mn", u"op", 1, 0},
        {TA_RIGHT | TA_BASELINE, 0, u"op", u"mn", -1, 0},
        {TA_LEFT | TA_TOP, 900, u"mn", u"op", 0, -1},
        {TA_CENTER | TA_TOP, 0, u"mnop", nullptr, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("align " + std::to_string(c.align) + " escapement " + std::to_string(c.escapement));
        HFONT turned = makeFont(-16, c.escapement, FW_NORMAL, false, u"Arial");
        Ink once = draw(turned, c.align, u"mnop");
        Canvas k;
        SelectObject(k.dc, turned);
        SetTextAlign(k.dc, c.align | TA_UPDATECP);
        MoveToEx(k.dc, Canvas::X0, Canvas::Y0, nullptr);
        TextOutW(k.dc, 3, 3, c.first, int(std::char_traits<char16_t>::length(c.first))); // x, y ignored
        if (c.second)
            TextOutW(k.dc, 3, 3, c.second, int(std::char_traits<char16_t>::length(c.second)));
        EXPECT_EQ(k.ink(), once);
        POINT now{};
        MoveToEx(k.dc, 0, 0, &now);
        EXPECT_EQ(now.x, Canvas::X0 + c.moveX * whole.cx);
        EXPECT_EQ(now.y, Canvas::Y0 + c.moveY * whole.cx);
        SelectObject(k.dc, GetStockObject(SYSTEM_FONT));
        DeleteObject(turned);
    }
    SelectObject(probe.dc, GetStockObject(SYSTEM_FONT));
    DeleteObject(f);
}

// Caller advances place each glyph exactly; ETO_PDY pairs move the glyphs after them down.
TEST(GdiTextFaces, AdvancesAndVerticalStepsPlaceEachGlyph)
{
    ASSERT_FALSE(fontDir().empty()) << "fonts-liberation is not installed";
    HFONT f = makeFont(-20, 0, FW_NORMAL, false, u"Arial");
    Ink one = draw(f, TA_BASELINE, u"I");
    ASSERT_FALSE(one.empty());
    struct Case {
        UINT options;
        std::vector<INT> dx;
        std::vector<std::pair<int, int>> at; // where each glyph's ink lands
    } cases[] = {
        {0, {7, 11, 3, 15}, {{0, 0}, {7, 0}, {18, 0}, {21, 0}}},
        {0, {-9, 30, 0, 1}, {{0, 0}, {-9, 0}, {21, 0}, {21, 0}}},
        {ETO_PDY, {7, 2, 11, -5, 3, 0, 15, 4}, {{0, 0}, {7, 2}, {18, -3}, {21, -3}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("options " + std::to_string(c.options) + ", first advance " + std::to_string(c.dx[0]));
        Ink want;
        for (auto [x, y] : c.at)
            for (auto p : shifted(one, x, y))
                want.insert(p);
        EXPECT_EQ(draw(f, TA_BASELINE, u"IIII", c.options, nullptr, c.dx.data()), want);
    }
    DeleteObject(f);
}

// Anti-aliased and ClearType qualities blend grey edges, as Pillow's anti-aliased drawing
// of the same file does (within one pixel and 48 levels, the measure metafiles are judged
// by); other qualities stay two-level.
TEST(GdiTextFaces, SmoothQualitiesBlendEdgesLikePillow)
{
    REQUIRE_FONTS_AND_PILLOW();
    const std::string text = "Smooth Hamburg 42";
    for (int em : {11, 20, 33}) {
        std::vector<std::string> lines = reference({job("LiberationSans-Regular.ttf", em, "grey", text)});
        ASSERT_EQ(lines.size(), 1u);
        std::istringstream in(lines[0]);
        int w = 0, h = 0, ox = 0, oy = 0;
        std::string hex;
        in >> w >> h >> ox >> oy >> hex;
        std::map<std::pair<int, int>, int> theirs;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                int v = std::stoi(hex.substr((size_t(y) * size_t(w) + size_t(x)) * 2, 2), nullptr, 16);
                if (v)
                    theirs[{x - ox, y - oy}] = v;
            }
        for (int quality : {DEFAULT_QUALITY, NONANTIALIASED_QUALITY, ANTIALIASED_QUALITY, CLEARTYPE_QUALITY}) {
            SCOPED_TRACE("em " + std::to_string(em) + " quality " + std::to_string(quality));
            HFONT f = CreateFontW(-em, 0, 0, 0, FW_NORMAL, 0, 0, 0, 0, 0, 0, DWORD(quality), 0, u"Arial");
            Canvas c;
            SelectObject(c.dc, f);
            SetTextAlign(c.dc, TA_BASELINE);
            TextOutW(c.dc, Canvas::X0, Canvas::Y0, Utf8ToUtf16(text).c_str(), int(text.size()));
            std::vector<uint8_t> px = platform::BitmapPixels(c.bm, nullptr, nullptr);
            SelectObject(c.dc, GetStockObject(SYSTEM_FONT));
            DeleteObject(f);
            std::map<std::pair<int, int>, int> ours;
            int partial = 0;
            for (int y = 0; y < Canvas::H; ++y)
                for (int x = 0; x < Canvas::W; ++x) {
                    int v = px[(size_t(y) * Canvas::W + size_t(x)) * 4 + 1];
                    if (v)
                        ours[{x - Canvas::X0, y - Canvas::Y0}] = v;
                    partial += v && v < 255;
                }
            const bool smooth = quality == ANTIALIASED_QUALITY || quality == CLEARTYPE_QUALITY;
            if (!smooth) {
                EXPECT_EQ(partial, 0);
                continue;
            }
            EXPECT_GT(partial, int(ours.size()) / 5);
            auto share = [](const std::map<std::pair<int, int>, int>& a, const std::map<std::pair<int, int>, int>& b) {
                int hit = 0;
                for (auto& [p, v] : a) {
                    bool near = false;
                    for (int dy = -1; dy <= 1 && !near; ++dy)
                        for (int dx = -1; dx <= 1 && !near; ++dx) {
                            auto it = b.find({p.first + dx, p.second + dy});
                            near = std::abs((it == b.end() ? 0 : it->second) - v) <= 48;
                        }
                    hit += near;
                }
                return a.empty() ? 0.0 : double(hit) / double(a.size());
            };
            EXPECT_GE(share(ours, theirs), 0.95); // light hinting here, full hinting there
            EXPECT_GE(share(theirs, ours), 0.95);
        }
    }
}

// lfWidth asks for an average character width: the run's extent scales by its ratio to
// the face's own average width (the OS/2 table's, read by the script).
TEST(GdiTextFaces, WidthScalesTheRunHorizontally)
{
    REQUIRE_FONTS_AND_PILLOW();
    const int em = 24;
    const std::string text = "Hamburgefonts";
    std::vector<std::string> lines = reference({job("LiberationSans-Regular.ttf", em, "metrics", text)});
    ASSERT_EQ(lines.size(), 1u);
    int width, ascent, cell, upm, ulPos, ulThick, stPos, stSize, avg;
    std::istringstream(lines[0]) >> width >> ascent >> cell >> upm >> ulPos >> ulThick >> stPos >> stSize >> avg;
    ASSERT_GT(avg, 0);
    const double natural = double(avg) * em / upm;
    const std::u16string wide = Utf8ToUtf16(text);
    for (double factor : {0.5, 1.0, 1.6, 3.0}) {
        SCOPED_TRACE("factor " + std::to_string(factor));
        const int lfWidth = int(std::lround(natural * factor));
        HFONT f = CreateFontW(-em, lfWidth, 0, 0, FW_NORMAL, 0, 0, 0, 0, 0, 0, 0, 0, u"Arial");
        Canvas c;
        SelectObject(c.dc, f);
        SIZE size{};
        ASSERT_TRUE(GetTextExtentPoint32W(c.dc, wide.c_str(), int(wide.size()), &size));
        EXPECT_NEAR(size.cx, width * lfWidth / natural, 0.04 * width * factor + 3);
        EXPECT_EQ(size.cy, cell); // the height stays
        Ink ink = draw(f, TA_BASELINE, wide);
        int right = 0;
        for (auto p : ink)
            right = std::max(right, p.first);
        EXPECT_NEAR(right, size.cx, 3 + factor * 2);
        SelectObject(c.dc, GetStockObject(SYSTEM_FONT));
        DeleteObject(f);
    }
}

// The Symbol face's codes, single-byte or as U+F0xx, draw the Greek letters and signs the
// codes stand for (worked from the face's published code chart), in the serif face.
TEST(GdiTextFaces, SymbolFaceCodesDrawGreekAndMathematicalSigns)
{
    ASSERT_FALSE(fontDir().empty()) << "fonts-liberation is not installed";
    HFONT symbol = CreateFontW(-20, 0, 0, 0, FW_NORMAL, 0, 0, 0, SYMBOL_CHARSET, 0, 0, 0, 0, u"Symbol");
    HFONT serif = makeFont(-20, 0, FW_NORMAL, false, u"Times New Roman");
    struct Case {
        char code;
        char16_t meaning;
    } cases[] = {{'a', u'\u03b1'}, {'b', u'\u03b2'}, {'D', u'\u0394'}, {'p', u'\u03c0'}, {'S', u'\u03a3'},
                 {'W', u'\u03a9'}, {'\xa5', u'\u221e'}, {'\xb3', u'\u2265'}, {'\xb9', u'\u2260'}, {'\xd6', u'\u221a'},
                 {'\xe5', u'\u2211'}, {'+', u'+'},         {'-', u'\u2212'}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<unsigned char>(c.code)));
        const Ink want = draw(serif, TA_BASELINE, std::u16string(1, c.meaning));
        ASSERT_FALSE(want.empty());
        Canvas a;
        SelectObject(a.dc, symbol);
        SetTextAlign(a.dc, TA_BASELINE);
        TextOutA(a.dc, Canvas::X0, Canvas::Y0, &c.code, 1);
        EXPECT_EQ(a.ink(), want);
        const char16_t privateUse = char16_t(0xF000 + static_cast<unsigned char>(c.code));
        EXPECT_EQ(draw(symbol, TA_BASELINE, std::u16string(1, privateUse)), want);
    }
    DeleteObject(symbol);
    DeleteObject(serif);
}

// Single-byte text is code page 1252, whose 0x80 to 0x9F hold printable characters;
// Python's own codec says which.
TEST(GdiTextFaces, SingleByteTextIsCodePage1252)
{
    ASSERT_FALSE(fontDir().empty()) << "fonts-liberation is not installed";
    std::string bytes;
    for (int b = 0x80; b < 0xA0; ++b)
        if (b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D) // not in the code page
            bytes.push_back(char(b));
    bytes += "A\xe9\xff";
    std::string hex;
    for (unsigned char b : bytes) {
        char h[3];
        std::snprintf(h, sizeof h, "%02x", b);
        hex += h;
    }
    std::string cmd = "'" + OrbelTest::python() + "' -c \"import sys; sys.stdout.write(bytes.fromhex('" + hex +
                      "').decode('cp1252'))\"";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string utf8;
    for (int c; (c = fgetc(p)) != EOF;)
        utf8.push_back(char(c));
    ASSERT_EQ(pclose(p), 0);
    std::u16string wide = Utf8ToUtf16(utf8);
    ASSERT_EQ(wide.size(), bytes.size());
    HFONT f = makeFont(-14, 0, FW_NORMAL, false, u"Arial");
    for (size_t i = 0; i < bytes.size(); ++i) {
        SCOPED_TRACE("byte " + std::to_string(static_cast<unsigned char>(bytes[i])));
        Canvas a;
        SelectObject(a.dc, f);
        TextOutA(a.dc, Canvas::X0, Canvas::Y0, &bytes[i], 1);
        EXPECT_EQ(a.ink(), draw(f, TA_LEFT, wide.substr(i, 1)));
    }
    Canvas m;
    SelectObject(m.dc, f);
    SIZE narrow{}, full{};
    EXPECT_TRUE(GetTextExtentPoint32A(m.dc, bytes.c_str(), int(bytes.size()), &narrow));
    EXPECT_TRUE(GetTextExtentPoint32W(m.dc, wide.c_str(), int(wide.size()), &full));
    EXPECT_EQ(narrow.cx, full.cx);
    SelectObject(m.dc, GetStockObject(SYSTEM_FONT));
    DeleteObject(f);
}

} // namespace
