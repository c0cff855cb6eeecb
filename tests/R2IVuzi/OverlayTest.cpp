// Overlay text: item texts from values written by hand, and the painted overlay compared
// pixel for pixel with a drawing the test makes itself at positions it works out from
// the cell, the line height and the stand-in's text extents.
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "R2IVuzi/StartupValues.h"
#include "image/ImageBase.h"
#include "platform/Gdi.h"
#include "platform/TextConv.h"
#include "tests/R2IVuzi/support/GridHarness.h"
#include "tests/R2IVuzi/support/GridPixels.h"
#include "tests/R2IVuzi/support/OverlayReference.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

namespace {

struct Item {
    const char *group, *element, *vr, *value, *prefix, *suffix;
    int gridx, gridy, offsetx, offsety;
};

// A CT series with one image carrying each item's value, and a CT overlay of the items.
std::string document(const std::vector<Item>& items)
{
    std::string image, overlay;
    for (const Item& i : items) {
        image += std::string("<Tag group=\"") + i.group + "\" element=\"" + i.element + "\">" + i.value + "</Tag>";
        overlay += std::string("<Tag group=\"") + i.group + "\" element=\"" + i.element + "\" vr=\"" + i.vr +
                   "\"><gridx>" + std::to_string(i.gridx) + "</gridx><gridy>" + std::to_string(i.gridy) +
                   "</gridy><offsetx>" + std::to_string(i.offsetx) + "</offsetx><offsety>" +
                   std::to_string(i.offsety) + "</offsety><prefix>" + i.prefix + "</prefix><suffix>" + i.suffix +
                   "</suffix></Tag>";
    }
    return "<Root><Patient><Study><Series><Tag group=\"0x0008\" element=\"0x0060\">CT</Tag><Image>" + image +
           "</Image></Series></Study></Patient><overlay><modality name=\"CT\">" + overlay +
           "</modality></overlay></Root>";
}

class Overlay : public ::testing::Test {
protected:
    void load(const std::vector<Item>& items)
    {
        auto dao = h.frame->getPssiXmlDao();
        dao->parsePssi(document(items));
        TiXmlNode* element = dao->getRootElement()->FirstChildElement("Patient")->FirstChildElement("Study")
                                 ->FirstChildElement("Series")->FirstChildElement("Image");
        image.reset(new CJ2KImage("t", "u", element));
        h.grid->setImage(image);
        h.grid->setImageElement(element);
        h.grid->prepareOverlayInfo(image);
    }
    gridtest::GridHarness h{240, 180};
    boost::shared_ptr<CJ2KImage> image;
};

} // namespace

TEST_F(Overlay, ItemTexts)
{
    load({});
    image->getImageBase().InitImage(64, 64, 1, 8, true, false);
    auto dao = h.frame->getPssiXmlDao();
    dao->parseConfig("<root><resource><L>left</L><R>right</R><A>front</A><P>back</P><H>head</H><F>foot</F>"
                     "</resource></root>");
    const struct {
        const char *group, *element, *vr, *value, *text;
    } cases[] = {
        {"0x1901", "0x000D", "", "12.7", "12"},
        {"0x1901", "0x000E", "", "-3.9", "-3"},
        {"0x1901", "0x000F", "", "1e300", ""},
        {"0x1901", "0x000D", "", "abc", ""},
        {"0x1901", "0x0006", "", "1\\0\\0\\0\\1", ""},
        // Rows run towards the patient's left, columns to the back: the left edge shows the
        // patient's right, the top edge the front.
        {"0x1901", "0x0006", "", "1\\0\\0\\0\\1\\0", "right"},
        {"0x1901", "0x0007", "", "1\\0\\0\\0\\1\\0", "front"},
        {"0x1901", "0x0007", "", "1\\x\\0\\0\\1\\0", ""},
        {"0x1901", "0x0001", "", "5", ""},
        {"0x1901", "0x0005", "", "5", ""},
        {"0x0018", "0x0050", "DA", "5.000", "5.000"},
        {"0x0008", "0x0020", "DA", "20040119", "2004/01/19"},
        {"0x0008", "0x0030", "TM", "072730", "07:27:30"},
        {"0x0010", "0x0010", "PN", "Doe^J", "Doe^J"},
    };
    for (const auto& c : cases) {
        OverlayItem item;
        item.group = c.group;
        item.element = c.element;
        item.vr = c.vr;
        item.value = Utf8ToUtf16(c.value);
        EXPECT_EQ(Utf16ToUtf8(h.grid->getOverlayText(item)), c.text) << c.group << c.element << " " << c.value;
        h.grid->setImageElement(nullptr);
        EXPECT_EQ(h.grid->getOverlayText(item), u"") << c.value;
        h.grid->setImageElement(image->getElement());
    }
}

// A letter the configuration does not translate is still the letter, never the lookup's
// placeholder: the image's left edge is the patient's right (R), its top the front (A).
TEST_F(Overlay, OrientationLettersWithoutTheirResourceStayLetters)
{
    load({});
    image->getImageBase().InitImage(64, 64, 1, 8, true, false);
    auto dao = h.frame->getPssiXmlDao();
    const struct {
        const char* name;
        const char* config;
        const char *left, *top;
    } cases[] = {
        {"translated", "<root><resource><R>right</R><A>front</A></resource></root>", "right", "front"},
        {"no resources", "<root><configuration/></root>", "R", "A"},
        {"one missing, one empty", "<root><resource><R>right</R><A></A></resource></root>", "right", "A"},
        {"no configuration at all", "", "R", "A"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dao->parseConfig(c.config);
        OverlayItem item;
        item.group = "0x1901";
        item.value = u"1\\0\\0\\0\\1\\0";
        item.element = "0x0006";
        EXPECT_EQ(Utf16ToUtf8(h.grid->getOverlayText(item)), c.left);
        item.element = "0x0007";
        EXPECT_EQ(Utf16ToUtf8(h.grid->getOverlayText(item)), c.top);
    }
}

TEST_F(Overlay, PaintedWhereTheLayoutPutsIt)
{
    const RECT v = h.grid->getViewRect();
    const int W = v.right - v.left, H = v.bottom - v.top, lh = std::min(20, std::max(6, H / 20));
    const int left = v.left + 5, right = v.right - 5, top = v.top + 5, bottom = v.bottom - 5;
    // The expected drawing: text at (x, y), from the test's own reading of the layout;
    // x as a function of the extents of "A", "BB" and "PS".
    using Text = gridtest::PlacedText;
    gridtest::Surface probe(8, 8);
    HFONT font = CreateFontW(lh, 0, 0, 0, 400, 0, 0, 0, 1, 0, 0, 0, 0, Utf8ToUtf16(GetDefaultOverlayFontName()).c_str());
    SelectObject(probe.dc, font);
    auto w = [&](const char16_t* t) {
        SIZE s;
        GetTextExtentPoint32W(probe.dc, t, int(std::char_traits<char16_t>::length(t)), &s);
        return int(s.cx);
    };
    const int a = w(u"A"), bb = w(u"BB");
    const gridtest::Bitmap picture = gridtest::readBitmap(226);
    ASSERT_GT(picture.width, 0);
    const struct {
        const char* name;
        std::vector<Item> items;
        std::vector<Text> texts;
        bool show;
        POINT picture = {-1, -1};
    } cases[] = {
        {"anchors",
         {{"0x0009", "0x0001", "", "A", "", "", 0, 0, 1, 0}, {"0x0009", "0x0002", "", "BB", "", "", 2, 0, 0, 0},
          {"0x0009", "0x0003", "", "A", "", "", 1, 1, 1, 0}},
         {{u"A", left, top}, {u"BB", right - bb, top}, {u"A", v.left + W * 4 / 8, v.top + H * 4 / 8}},
         true},
        {"rightwards with a gap",
         {{"0x0009", "0x0001", "", "A", "", "", 0, 0, 1, 0}, {"0x0009", "0x0002", "", "BB", "", "", 0, 0, 3, 0}},
         {{u"A", left, top}, {u"BB", left + a + lh / 2, top}},
         true},
        {"leftwards",
         {{"0x0009", "0x0001", "", "A", "", "", 2, 0, -1, 0}, {"0x0009", "0x0002", "", "BB", "", "", 2, 0, -2, 0}},
         {{u"A", right - a, top}, {u"BB", right - a - bb, top}},
         true},
        {"bottom lines",
         {{"0x0009", "0x0001", "", "A", "", "", 0, 2, 1, -1}, {"0x0009", "0x0002", "", "BB", "", "", 1, 2, 1, 0},
          {"0x0009", "0x0003", "", "A", "", "", 2, 2, 0, 1}},
         // Lines 0 and 1 at the bottom anchor end there, as line -1 does: inside the cell.
         {{u"A", left, bottom - lh}, {u"BB", v.left + W / 2, bottom - lh}, {u"A", right - a, bottom - lh}},
         true},
        {"below the bottom anchor",
         {{"0x0009", "0x0001", "", "A", "", "", 0, 2, 1, 3}, {"0x0009", "0x0002", "", "BB", "", "", 0, 2, 1, -2}},
         {{u"A", left, bottom - lh}, {u"BB", left, bottom - 2 * lh}},
         true},
        {"empty value and a picture refused",
         {{"0x0018", "0x0050", "DS", "", "P", "S", 0, 0, 1, 0}, {"0x1301", "0x0002", "", "N", "", "", 0, 0, 2, 0}},
         {{u"PS", left, top}},
         true},
        {"picture",
         {{"0x1301", "0x0002", "", "Y", "", "", 0, 0, 1, 0}, {"0x0009", "0x0001", "", "A", "", "", 0, 0, 2, 0}},
         {{u"A", left + picture.width, top}},
         true,
         {left, top}},
        // Equal order numbers touch instead of overlapping.
        {"equal orders",
         {{"0x0009", "0x0001", "", "A", "", "", 0, 0, 1, 0}, {"0x0009", "0x0002", "", "BB", "", "", 0, 0, 1, 0}},
         {{u"A", left, top}, {u"BB", left + a, top}},
         true},
        // Extreme document numbers land off the cell without overflow.
        {"extremes",
         {{"0x0009", "0x0001", "", "A", "", "", 2147483647, 0, -2147483647 - 1, 0},
          {"0x0009", "0x0002", "", "BB", "", "", 0, -2147483647 - 1, 1, 2147483647}},
         {},
         true},
        {"toggle off", {{"0x0009", "0x0001", "", "A", "", "", 0, 0, 1, 0}}, {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        load(c.items);
        g_showOverlay = c.show;
        gridtest::Surface painted(v.right, v.bottom), expected(v.right, v.bottom);
        h.grid->drawOverlay(painted.dc);
        g_showOverlay = true;
        HGDIOBJ old = SelectObject(expected.dc, font);
        gridtest::drawOverlayTexts(expected.dc, c.texts);
        SelectObject(expected.dc, old);
        // The picture without its green.
        for (int y = 0; c.picture.x >= 0 && y < picture.height; ++y)
            for (int x = 0; x < picture.width; ++x) {
                const COLORREF p = picture.pixels[size_t(y) * picture.width + x];
                if (p != RGB(0, 255, 0))
                    SetPixel(expected.dc, c.picture.x + x, c.picture.y + y, p);
            }
        EXPECT_TRUE(painted == expected);
        // Nothing of a bottom-anchored text reaches the cell's edge.
        for (const Text& t : c.texts)
            EXPECT_LE(t.y + lh, v.bottom - 5) << Utf16ToUtf8(t.text);
    }
    DeleteObject(font);
}

TEST_F(Overlay, WindowAndZoomTexts)
{
    load({});
    OverlayItem window, zoom;
    window.group = zoom.group = "0x1901";
    window.element = "0x0003";
    zoom.element = "0x0004";
    const struct {
        const char* name;
        bool grey;
        const char* window;
    } cases[] = {
        // A stored state with brightness 30 and contrast 2.6 (rounded as shown).
        {"colour", false, "C : 3, B : 30"},
        // Width 400, centre 40; without a photometric value the image counts as
        // MONOCHROME1, whose level is read from the top of the 8-bit range.
        {"grey", true, "W : 400, L : 216"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        image.reset(new CJ2KImage("t", "u", image->getElement()));
        h.grid->setImage(image);
        CImageBase& base = image->getImageBase();
        base.InitImage(384, 512, 3, 8, c.grey, false);
        // The byte form holds the second value (contrast or centre) at byte 16 and the
        // first (brightness or width) at byte 24, as little-endian doubles.
        std::string state;
        base.GetDisplayStateText(state);
        state.replace(32, 32, c.grey ? "00000000000044400000000000007940" : "cdcccccccccc04400000000000003e40");
        base.SetDisplayStateText(state);
        base.SetViewRect(0, 0, 256, 256, nullptr, false);
        // Until the image is open and presented (the grid names a UID, so presentation
        // will come) neither text shows.
        h.grid->setUid("u");
        EXPECT_EQ(h.grid->getOverlayText(window), u"");
        EXPECT_EQ(h.grid->getOverlayText(zoom), u"");
        image->setOpened(true);
        EXPECT_EQ(h.grid->getOverlayText(window), u"");
        image->setPresented(true);
        EXPECT_EQ(Utf16ToUtf8(h.grid->getOverlayText(window)), c.window);
        // 512 x 384 fitted into 256 x 256.
        EXPECT_EQ(Utf16ToUtf8(h.grid->getOverlayText(zoom)), "0.50");
    }
    // Both need the image.
    h.grid->setImage(boost::shared_ptr<CJ2KImage>());
    EXPECT_EQ(h.grid->getOverlayText(window), u"");
    EXPECT_EQ(h.grid->getOverlayText(zoom), u"");
    // An image given up on before it opened has no window or zoom of its own to show; once
    // opened, a failure later on leaves what it had.
    image.reset(new CJ2KImage("t", "u", image->getElement()));
    image->getImageBase().InitImage(384, 512, 3, 8, true, false);
    image->setFailure("refused");
    h.grid->setImage(image);
    EXPECT_EQ(h.grid->getOverlayText(window), u"");
    EXPECT_EQ(h.grid->getOverlayText(zoom), u"");
    image->setOpened(true);
    EXPECT_NE(h.grid->getOverlayText(window), u"");
    EXPECT_NE(h.grid->getOverlayText(zoom), u"");
}

// The failure mark of an image given up on: never over a text. With lines in the lower
// left it sits above them; with the whole left edge written it goes to the middle.
TEST_F(Overlay, FailureMarkHidesNoText)
{
    std::vector<Item> column;
    static const char* const elements[] = {"0x0001", "0x0002", "0x0003", "0x0004", "0x0005", "0x0006", "0x0007",
                                           "0x0008", "0x0009", "0x000A", "0x000B", "0x000C", "0x000D", "0x000E",
                                           "0x000F", "0x0010", "0x0011", "0x0012", "0x0013", "0x0014", "0x0015"};
    for (int line = 0; line < 21; ++line)
        column.push_back({"0x0009", elements[line], "", "Line", "", "", 0, 0, 1, line + 1});
    const struct {
        const char* name;
        std::vector<Item> items;
        bool centred;
    } cases[] = {
        {"nothing written", {}, false},
        {"two lines in the lower left",
         {{"0x0009", "0x0001", "", "W : 400, L : 40", "", "", 0, 2, 1, -1},
          {"0x0009", "0x0002", "", "2.96", "Zoom: ", "", 0, 2, 1, 0}},
         false},
        {"the whole left edge", column, true},
    };
    const RECT v = h.grid->getViewRect();
    const gridtest::Bitmap mark = gridtest::readBitmap(229);
    ASSERT_GT(mark.width, 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        load(c.items);
        image->setFailure("refused");
        h.paint();
        const RECT at = h.grid->getFailureMarkRect();
        ASSERT_EQ(at.right - at.left, mark.width);
        EXPECT_TRUE(gridtest::showsBitmap(h.frame->m_hWnd, 229, at.left, at.top, true));
        EXPECT_GE(at.top, v.top);
        EXPECT_LE(at.bottom, v.bottom);
        if (c.centred)
            EXPECT_EQ(at.left, (v.left + v.right - mark.width) / 2);
        else
            EXPECT_EQ(at.left, v.left + 2);
        // Without the mark, the texts change no pixel of its box.
        image->setFailure("");
        std::vector<COLORREF> shown[2];
        for (int overlay = 0; overlay < 2; ++overlay) {
            g_showOverlay = overlay == 1;
            h.paint();
            for (int y = at.top; y < at.bottom; ++y)
                for (int x = at.left; x < at.right; ++x)
                    shown[overlay].push_back(gridtest::pixelAt(h.frame->m_hWnd, x, y));
        }
        g_showOverlay = true;
        EXPECT_EQ(shown[0], shown[1]);
    }
}
