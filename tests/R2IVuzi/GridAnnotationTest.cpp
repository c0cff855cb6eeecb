// Annotations on a shown grid: rulers dragged with the pointer measure with the image's
// (0028,0030) spacing, rows first, and a loaded text lands where the grid placed the image.
#include "R2IVuzi/J2KImage.h"
#include "annotation/OrbelAnnWrapper.h"
#include "image/ImageBase.h"
#include "tests/R2IVuzi/support/GridHarness.h"
#include "tests/R2IVuzi/support/GridPixels.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>
#include <tinyxml.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <cstring>
#include <map>
#include <sstream>

using gridtest::GridHarness;
using gridtest::pixelAt;

namespace {

// tools/ann_text.py's output for `mode` ("decode" or "encode") of `input`.
std::string annText(const std::string& mode, const std::string& input)
{
    const std::string path = std::string(ORBEL_BINARY_DIR) + "/grid_ann_" + std::to_string(getpid()) + ".in";
    std::ofstream(path) << input;
    const std::string cmd =
        OrbelTest::pythonCommand(ORBEL_SOURCE_DIR "/tools/ann_text.py") + " " + mode + " < '" + path + "'";
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        for (char buf[4096]; fgets(buf, sizeof buf, p);)
            out += buf;
        pclose(p);
    }
    std::remove(path.c_str());
    return out;
}

// The fields of the listing lines whose head (role and class) is `head`, in order.
std::vector<std::map<std::string, std::string>> records(const std::string& listing, const std::string& head)
{
    std::vector<std::map<std::string, std::string>> out;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line.substr(line.find_first_not_of(' ')));
        std::string word, name;
        while (words >> word && word.find('=') == std::string::npos)
            name += (name.empty() ? "" : " ") + word;
        if (name != head)
            continue;
        out.emplace_back();
        do
            out.back()[word.substr(0, word.find('='))] = word.substr(word.find('=') + 1);
        while (words >> word);
    }
    return out;
}

// A grid showing image 1 (512 x 384) with pixel spacing "0.5\0.25", placed at x 40 in a
// 480 x 300 cell.
struct SpacedGrid : GridHarness {
    SpacedGrid() : GridHarness(480, 300)
    {
        TiXmlElement tag("Tag");
        tag.SetAttribute("group", "0x0028");
        tag.SetAttribute("element", "0x0030");
        tag.InsertEndChild(TiXmlText("0.5\\0.25"));
        images.at(0)->InsertEndChild(tag);
        shown = show(1);
        grid->getImage()->getImageBase().GetDisplayState(state);
        platform::ResetInput();
    }
    POINT toImage(int x, int y) const
    {
        return POINT{int((x - state.placedImage.left) / state.zoomX + 0.5),
                     int((y - state.placedImage.top) / state.zoomY + 0.5)};
    }
    POINT toView(int x, int y) const
    {
        return POINT{int(x * state.zoomX + state.placedImage.left + 0.5),
                     int(y * state.zoomY + state.placedImage.top + 0.5)};
    }
    void drag(POINT from, POINT to)
    {
        platform::InjectMouseMove(from.x, from.y);
        platform::InjectButton(platform::MouseButton::Left, true);
        platform::PumpPending();
        for (int i = 1; i <= 4; ++i) {
            platform::InjectMouseMove(from.x + (to.x - from.x) * i / 4, from.y + (to.y - from.y) * i / 4);
            platform::PumpPending();
        }
        platform::InjectButton(platform::MouseButton::Left, false);
        platform::PumpPending();
    }
    bool shown = false;
    ImageDisplayState state;
};

} // namespace

TEST(GridAnnotation, DraggedRulersMeasureRowsFirst)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    ASSERT_FALSE(gridtest::corpusDir().empty());
    SpacedGrid h;
    ASSERT_TRUE(h.shown);
    ASSERT_EQ(h.state.placedImage.left, 40);
    HWND w = h.frame->m_hWnd;
    const struct {
        POINT from, to;
    } drags[] = {{{100, 60}, {300, 60}}, {{380, 80}, {380, 260}}, {{80, 120}, {260, 240}}};
    size_t made = 0;
    for (const auto& d : drags) {
        SCOPED_TRACE(testing::Message() << d.from.x << "," << d.from.y << " -> " << d.to.x << "," << d.to.y);
        h.frame->setWorkingTool(16);  // the ruler
        h.drag(d.from, d.to);
        h.paint();
        const std::string listing = annText("decode", h.grid->getImage()->getAnnWrapper().GetAnnotationText());
        const auto lines = records(listing, "measured: COrbelAnnLine");
        const auto texts = records(listing, "text: COrbelAnnText");
        ASSERT_EQ(lines.size(), ++made);
        ASSERT_EQ(texts.size(), made);
        const auto& line = lines.back();
        const int x1 = std::stoi(line.at("imageStart.x")), y1 = std::stoi(line.at("imageStart.y"));
        const int x2 = std::stoi(line.at("imageEnd.x")), y2 = std::stoi(line.at("imageEnd.y"));
        const POINT a = h.toImage(d.from.x, d.from.y), b = h.toImage(d.to.x, d.to.y);
        EXPECT_EQ(std::vector<int>({x1, y1, x2, y2}), std::vector<int>({a.x, a.y, b.x, b.y}));
        // Columns 0.25 mm apart, rows 0.5 mm.
        char want[32];
        std::snprintf(want, sizeof want, "%.2fmm", std::hypot((x2 - x1) * 0.25, (y2 - y1) * 0.5));
        EXPECT_EQ(texts.back().at("text"), want);
        // White with its shadow below (a row) or to the right (a column), end to end; the
        // start's tick and its shadow take the first two pixels.
        if (d.from.x != d.to.x && d.from.y != d.to.y)
            continue;
        const bool row = d.from.y == d.to.y;
        int wrong = 0;
        for (int t = (row ? d.from.x : d.from.y) + 2; t < (row ? d.to.x : d.to.y); ++t) {
            const int x = row ? t : d.from.x, y = row ? d.from.y : t;
            wrong += pixelAt(w, x, y) != RGB(255, 255, 255);
            wrong += pixelAt(w, x + !row, y + row) != RGB(0, 0, 0);
        }
        EXPECT_EQ(wrong, 0);
    }
}

TEST(GridAnnotation, LoadedTextPlacedByTheGridsLayout)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    ASSERT_FALSE(gridtest::corpusDir().empty());
    SpacedGrid h;
    ASSERT_TRUE(h.shown);
    OrbelAnnWrapper& annotations = h.grid->getImage()->getAnnWrapper();
    const struct {
        int x, y;
    } corners[] = {{20, 30}, {300, 250}};
    for (const auto& c : corners) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
        h.paint();
        const platform::SurfaceView s = platform::SurfaceOf(h.frame->m_hWnd);
        const std::vector<uint8_t> before(s.pixels, s.pixels + size_t(s.height) * s.stride);
        const std::string hex = annText("encode", "COrbelAnnContainer version=1017 count=1\n"
                                                  "COrbelAnnText complete=1 creating=0 selected=0 imageCorner2.x=" +
                                                      std::to_string(c.x + 40) + " imageCorner2.y=" +
                                                      std::to_string(c.y + 20) + " imageCorner1.x=" +
                                                      std::to_string(c.x) + " imageCorner1.y=" + std::to_string(c.y) +
                                                      " text=AB turnsCaptured=1 storedTurns=0\n");
        ASSERT_TRUE(annotations.LoadAnnotationText(hex.substr(0, hex.find('\n'))));
        h.paint();
        // Every changed pixel lies in the text's box from the view point of its corner.
        const POINT at = h.toView(c.x, c.y);
        const int height = 300 / 20;
        RECT changed = {1 << 20, 1 << 20, -1, -1};
        for (int y = 0; y < s.height; ++y)
            for (int x = 0; x < s.width; ++x)
                if (const size_t at = size_t(y) * s.stride + size_t(x) * 4; std::memcmp(&before[at], s.pixels + at, 3)) {
                    changed = RECT{std::min<LONG>(changed.left, x), std::min<LONG>(changed.top, y),
                                   std::max<LONG>(changed.right, x), std::max<LONG>(changed.bottom, y)};
                }
        EXPECT_GE(changed.left, at.x);
        EXPECT_LE(changed.left, at.x + 3);
        EXPECT_GE(changed.top, at.y);
        EXPECT_LE(changed.top, at.y + height / 2);
        EXPECT_LE(changed.right, at.x + 2 * height + 1);
        EXPECT_LE(changed.bottom, at.y + height + 1);
    }
}
