// Presentation from a PSSI document whose values were written by hand
// (tests/data/pssi/pssi.xml): the logged steps, the DICOM values, lookup tables and
// stored texts an image takes from it, and what a failing step leaves behind; then a CT
// image on the real road against presentation_fixture.py's reading of it.
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/DicomTags.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "image/ImageBase.h"
#include "R2IVuzi/StartupValues.h"
#include "platform/Gdi.h"
#include "platform/TextConv.h"
#include "tests/R2IVuzi/support/GridHarness.h"
#include "tests/R2IVuzi/support/GridPixels.h"
#include "tests/R2IVuzi/support/OverlayReference.h"
#include "tests/R2IVuzi/support/PresentationFixture.h"
#include "tests/diagnostics/LogTestSupport.h"
#include "tools/decode/pgx_image.h"
#include "tests/support/TestTools.h"
#include "tests/support/DicomWindow.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

std::string fixture()
{
    std::ifstream in(std::string(ORBEL_TEST_DATA_DIR) + "/pssi/pssi.xml", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TiXmlElement* imageById(CPssiXmlDao& dao, const std::string& id)
{
    TiXmlElement* series =
        dao.getRootElement()->FirstChildElement("Patient")->FirstChildElement("Study")->FirstChildElement("Series");
    for (TiXmlElement* e = series->FirstChildElement("Image"); e; e = e->NextSiblingElement("Image"))
        if (e->Attribute("id") && id == e->Attribute("id"))
            return e;
    return nullptr;
}

// Where the last of the records ends when they occur in the order given from `from` on; npos otherwise.
size_t findInOrder(const std::string& log, const std::vector<std::string>& records, size_t from = 0)
{
    for (const std::string& r : records) {
        from = log.find(r, from);
        if (from == std::string::npos)
            return from;
        from += r.size();
    }
    return from;
}

const std::vector<std::string> kSteps = {"Start Presentation", "prepareOverlayInfo", "prepareDicomLUT",
                                         "prepareDicomInfo", "prepareImageStatus", "prepareImageAnnotation"};

class Presentation : public LogFileFixture {
protected:
    void SetUp() override
    {
        LogFileFixture::SetUp();
        initLogFile(u"C:\\Quillon.Log", 1, 1, 0);
    }
    // Registers image `id` of the (edited) fixture and sends it WM_APP + 8.
    boost::shared_ptr<CJ2KImage> present(gridtest::GridHarness& h, const std::string& pssi, const std::string& id)
    {
        auto dao = h.frame->getPssiXmlDao();
        dao->parsePssi(pssi);
        image_.reset(new CJ2KImage(id, "1.2.3", imageById(*dao, id)));
        dao->registerImage(id, image_);
        h.grid->setImage(image_);
        send(h, id);
        return image_;
    }
    void send(gridtest::GridHarness& h, const std::string& target)
    {
        SendMessageW(h.grid->m_hWnd, WM_J2K_START_PRESENTATION, reinterpret_cast<WPARAM>(&target), 0);
    }
    boost::shared_ptr<CJ2KImage> image_;
};

std::string without(std::string text, const std::string& cut)
{
    const size_t at = text.find(cut);
    return at == std::string::npos ? text : text.erase(at, cut.size());
}

} // namespace

TEST_F(Presentation, TakesTheDocumentsValuesOnceInOrder)
{
    const struct {
        const char* name;
        std::string pssi;
        const char* id;
        bool presented;
        float width, centre, slope, intercept;
        int representation;
        double rowSpacing, columnSpacing;
        size_t voiTables;
        const char* status;     // null: the image's own display-state text
        const char* annotation; // null: the annotations' own text
    } cases[] = {
        {"all values", fixture(), "A", true, 350, 40, 1.5f, -1024, 1, 0.5, 0.25, 2, "0a0b", "0c"},
        {"no status tag", without(fixture(), "<Tag group=\"0x0011\" element=\"0x101B\">0a0b</Tag>"), "A", true, 350,
         40, 1.5f, -1024, 1, 0.5, 0.25, 2, nullptr, "0c"},
        // No window, intercept or representation on the image: the defaults stay (never
        // image A's values); the slope comes from the series.
        {"no window", fixture(), "C", true, -1, 0, 1.5f, 0, -1, -1.0, -1.0, 0, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        gridtest::GridHarness h;
        boost::shared_ptr<CJ2KImage> image = present(h, c.pssi, c.id);
        CImageBase& base = image->getImageBase();
        const DicomRecord& d = base.GetPhotometricInterpretation();
        EXPECT_EQ(image->isPresented(), c.presented);
        EXPECT_FALSE(h.grid->isAnnotationFailed());
        EXPECT_EQ(d.windowWidth, c.width);
        EXPECT_EQ(d.windowCentre, c.centre);
        EXPECT_EQ(d.rescaleSlope, c.slope);
        EXPECT_EQ(d.rescaleIntercept, c.intercept);
        EXPECT_EQ(d.pixelRepresentation, c.representation);
        EXPECT_EQ(d.pixelSpacingRow, c.rowSpacing);
        EXPECT_EQ(d.pixelSpacingColumn, c.columnSpacing);
        EXPECT_EQ(base.GetVoiLuts().size(), c.voiTables);
        std::string state;
        EXPECT_EQ(image->getStatus(), c.status ? std::string(c.status) : base.GetDisplayStateText(state));
        EXPECT_EQ(image->getStoredAnnotation(), c.annotation ? std::string(c.annotation) : image->getAnnotationText());
        const std::string first = readLog();
        EXPECT_NE(findInOrder(first, kSteps), std::string::npos) << first;
        // Later messages for the same image only repaint.
        send(h, c.id);
        const std::string second = readLog().substr(first.size());
        EXPECT_NE(second.find("Start Presentation"), std::string::npos);
        EXPECT_EQ(second.find("prepare"), std::string::npos) << second;
    }
}

TEST_F(Presentation, FailingStepKeepsTheImageUnpresentedUntilALaterMessage)
{
    gridtest::GridHarness h;
    // Image B's window centre is "abc".
    boost::shared_ptr<CJ2KImage> image = present(h, fixture(), "B");
    EXPECT_FALSE(image->isPresented());
    EXPECT_TRUE(h.grid->isAnnotationFailed());
    const std::string first = readLog();
    EXPECT_NE(findInOrder(first, {"prepareDicomInfo", "Exception happened in OnStartPresentation"}),
              std::string::npos) << first;
    // Mended in the document, the next message runs every step again.
    TiXmlElement* b = imageById(*h.frame->getPssiXmlDao(), "B");
    for (TiXmlElement* t = b->FirstChildElement("Tag"); t; t = t->NextSiblingElement("Tag"))
        if (std::string(t->Attribute("element")) == "0x1050")
            t->FirstChild()->SetValue("12");
    send(h, "B");
    EXPECT_TRUE(image->isPresented());
    EXPECT_EQ(image->getImageBase().GetPhotometricInterpretation().windowCentre, 12.0f);
    EXPECT_NE(findInOrder(readLog(), kSteps, first.size()), std::string::npos);
    // A target outside the registry only repaints.
    const size_t before = readLog().size();
    send(h, "unknown");
    EXPECT_EQ(readLog().substr(before).find("prepare"), std::string::npos);
}

// The CT fixture on the real road, everything presentation should show checked against
// presentation_fixture.py's own reading of the DICOM file and the document.
namespace {

using gridtest::PresentationCell;
using gridtest::PresentationExpected;

std::vector<uint8_t> pixelBuffer(CImageBase& base)
{
    size_t bytes = 0;
    const uint8_t* p = base.GetPixelBuffer(bytes);
    return p ? std::vector<uint8_t>(p, p + bytes) : std::vector<uint8_t>();
}

struct Shown {
    std::string state, window;
    std::vector<uint8_t> buffer;
};

Shown shown(CJ2KImage& image)
{
    CImageBase& base = image.getImageBase();
    Shown s;
    base.GetDisplayStateText(s.state);
    base.GetWindowLevelText(s.window);
    s.buffer = pixelBuffer(base);
    return s;
}

const OverlayItem* overlayItem(CJ2KImage& image, const PresentationExpected::Item& e)
{
    for (const OverlayLayoutEntry& entry : image.getOverlayEntries())
        if (entry.item.group == e.group && entry.item.element == e.element)
            return &entry.item;
    return nullptr;
}

// Every pixel the reference drawing of the expected texts paints white is white in the
// painted cell; both are saved as PNG when not.
void expectOverlayPainted(PresentationCell& cell, const PresentationExpected& expected)
{
    const RECT v = cell.grid->getViewRect();
    const int lh = std::min(20, std::max(6, int(std::pow(1.1, 2.0 - g_overlayTextSize) * ((v.bottom - v.top) / 20))));
    gridtest::Surface reference(v.right, v.bottom);
    HFONT font = CreateFontW(lh, 0, 0, 0, 400, 0, 0, 0, 1, 0, 0, 0, 0, Utf8ToUtf16(GetDefaultOverlayFontName()).c_str());
    HGDIOBJ old = SelectObject(reference.dc, font);
    std::vector<gridtest::OverlaySpec> specs;
    for (const PresentationExpected::Item& i : expected.items) {
        const bool picture = i.group == "0x1301" && i.element == "0x0002";
        specs.push_back({Utf8ToUtf16(i.prefix + i.text + i.suffix), i.gridx, i.gridy, i.offsetx, i.offsety,
                         picture ? gridtest::readBitmap(226).width : -1});
    }
    gridtest::drawOverlayTexts(reference.dc, gridtest::layOutOverlay(specs, v, lh, reference.dc));
    SelectObject(reference.dc, old);
    DeleteObject(font);
    cell.paint();
    const platform::SurfaceView painted = platform::SurfaceOf(cell.frame->m_hWnd);
    int white = 0, missing = 0;
    for (int y = v.top + 1; y < v.bottom - 1; ++y)
        for (int x = v.left + 1; x < v.right - 1; ++x)
            if (reference.white(x, y)) {
                ++white;
                const uint8_t* p = painted.pixels + size_t(y) * painted.stride + size_t(x) * 4;
                missing += !(p[0] == 255 && p[1] == 255 && p[2] == 255);
            }
    EXPECT_GT(white, 500);
    EXPECT_EQ(missing, 0);
    if (missing) {
        platform::SavePng(cell.frame->m_hWnd, gridtest::presentationDir() + "/painted.png");
        platform::SavePng(reference.bitmap, gridtest::presentationDir() + "/reference.png");
    }
}

// Marked annotated, the image is presented at once, before the loader reports it open.
bool presentBeforeOpening(PresentationCell& cell)
{
    cell.grid->showStackItem(cell.ctItem);
    boost::shared_ptr<CJ2KImage> image = cell.image();
    EXPECT_TRUE(image && image->isPresented() && !image->isOpened());
    return image && cell.settle(1) && cell.settleView() && image->isOpened();
}

// Registered as presented until it opened, then presented by WM_APP + 8; the view is
// asked for again, so a region request follows.
bool presentAfterOpening(PresentationCell& cell)
{
    boost::shared_ptr<CJ2KImage> image(new CJ2KImage(cell.ctItem.objectFile, cell.ctItem.instanceUID, cell.ctItem.node));
    image->setPresented(true);
    cell.frame->getPssiXmlDao()->registerImage(cell.ctItem.objectFile, image);
    cell.grid->showStackItem(cell.ctItem);
    if (!cell.settle(1) || !image->isOpened())
        return false;
    image->setPresented(false);
    SendMessageW(cell.grid->m_hWnd, WM_J2K_START_PRESENTATION, reinterpret_cast<WPARAM>(&cell.ctItem.objectFile), 0);
    EXPECT_TRUE(image->isPresented());
    const bool settled = cell.settleView();
    // The view is asked for again: a region request goes out unless the one after opening
    // already brought the whole region, so at least one is in the server's log (written
    // after it answers: wait for the line).
    EXPECT_TRUE(platform::PumpUntil([&] { return !cell.serverLines("\"kind\": \"region\"").empty(); }, 10000));
    return settled;
}

} // namespace

TEST_F(Presentation, CtFixtureEndToEnd)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    ORBEL_REQUIRE_PYTHON_MODULE("pydicom", "python3-pydicom");
    const std::string& dir = gridtest::presentationDir();
    ASSERT_FALSE(dir.empty());
    const PresentationExpected& expected = gridtest::presentationExpected();
    ASSERT_EQ(expected.hounsfield.size(), size_t(expected.width) * expected.height);
    // 10-pixel lines in the 128-pixel cell, whatever ends the test.
    struct TextSize {
        float saved = g_overlayTextSize;
        ~TextSize() { g_overlayTextSize = saved; }
    } restore;
    g_overlayTextSize = -3.5f;

    // The annotation reply is the document itself: it adds nothing.
    PresentationCell cell("False", {"--annotation-default", dir + "/pssi.xml"});
    ASSERT_TRUE(cell.showPresented());
    boost::shared_ptr<CJ2KImage> image = cell.image();
    CImageBase& base = image->getImageBase();
    EXPECT_EQ(cell.serverLines("\"kind\": \"annotation\"").size(), 1u);
    EXPECT_NE(findInOrder(readLog(), kSteps), std::string::npos) << readLog();
    EXPECT_FALSE(cell.grid->isAnnotationFailed());

    EXPECT_EQ(base.GetVoiLuts().size(), 2u);
    EXPECT_TRUE(base.IsVoiEnabled());
    ImageDisplayState state;
    base.GetDisplayState(state);
    EXPECT_EQ(state.quarterTurns, 1);
    EXPECT_TRUE(base.IsInverted());
    EXPECT_EQ(image->getStatus(), expected.status);
    EXPECT_EQ(image->getStoredAnnotation(), expected.annotation);
    EXPECT_EQ(image->getAnnotationText(), expected.annotation);

    for (const PresentationExpected::Item& e : expected.items) {
        SCOPED_TRACE(e.group + "," + e.element);
        const OverlayItem* item = overlayItem(*image, e);
        ASSERT_NE(item, nullptr);
        if (e.group != "0x1301") {
            EXPECT_EQ(Utf16ToUtf8(cell.grid->getOverlayText(*item)), e.text);
        }
    }
    expectOverlayPainted(cell, expected);

    const RECT v = cell.grid->getViewRect();
    PixelReadout readout;
    base.GetPixelReadout(readout, (v.left + v.right) / 2, (v.top + v.bottom) / 2, "CT");
    int x = -1, y = -1, hu = 0;
    ASSERT_EQ(std::sscanf(readout.value.c_str(), "X=%d, Y=%d, Hounsfield= %d", &x, &y, &hu), 3) << readout.value;
    ASSERT_TRUE(x >= 0 && x < expected.width && y >= 0 && y < expected.height);
    EXPECT_EQ(hu, expected.hounsfield[size_t(y) * expected.width + x]) << readout.value;

    const pgx_image reference = read_pgx(dir + "/ct_r0.pgx");
    const std::vector<uint8_t> buffer = pixelBuffer(base);
    ASSERT_EQ(buffer.size(), reference.samples.size() * 2);
    size_t wrong = 0;
    for (size_t i = 0; i < reference.samples.size(); ++i)
        wrong += int16_t(buffer[2 * i] | buffer[2 * i + 1] << 8) != reference.samples[i];
    EXPECT_EQ(wrong, 0u);

    PresentationCell before("True"), after("True");
    ASSERT_TRUE(presentBeforeOpening(before));
    ASSERT_TRUE(presentAfterOpening(after));
    boost::shared_ptr<CJ2KImage> late = after.image();
    const Shown a = shown(*before.image()), b = shown(*late), c = shown(*image);
    EXPECT_EQ(a.window, expected.window);
    EXPECT_EQ(a.state, b.state);
    EXPECT_EQ(a.state, c.state);
    EXPECT_EQ(a.window, b.window);
    EXPECT_EQ(a.window, c.window);
    EXPECT_TRUE(a.buffer == b.buffer && a.buffer == c.buffer);
    // Opening after presentation keeps the stored status as the base of later comparisons.
    EXPECT_EQ(before.image()->getStatus(), expected.status);
    EXPECT_EQ(late->getStatus(), expected.status);
}

TEST_F(Presentation, CtFixtureVariants)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    ORBEL_REQUIRE_PYTHON_MODULE("pydicom", "python3-pydicom");
    ASSERT_FALSE(gridtest::presentationDir().empty());
    const struct {
        const char* name;
        bool first;        // presented before the codestream opens
        bool statusTag;    // the document keeps (0011,101B)
    } cases[] = {
        {"status tag, presented first", true, true},
        {"no status tag, presented first", true, false},
        {"no status tag, presented after opening", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PresentationCell cell("True");
        if (!c.statusTag) {
            TiXmlElement* element = cell.ctItem.node->ToElement();
            for (TiXmlElement* t = element->FirstChildElement("Tag"); t; t = t->NextSiblingElement("Tag"))
                if (std::string(t->Attribute("element")) == "0x101B") {
                    element->RemoveChild(t);
                    break;
                }
        }
        ASSERT_TRUE(c.first ? presentBeforeOpening(cell) : presentAfterOpening(cell));
        boost::shared_ptr<CJ2KImage> image = cell.image();
        CImageBase& base = image->getImageBase();
        std::string state;
        base.GetDisplayStateText(state);
        if (!c.statusTag) {
            EXPECT_EQ(image->getStatus(), state);
        }
        // A second message for the image only repaints.
        const Shown was = shown(*image);
        const std::string log = readLog(), status = image->getStatus();
        SendMessageW(cell.grid->m_hWnd, WM_J2K_START_PRESENTATION, reinterpret_cast<WPARAM>(&cell.ctItem.objectFile), 0);
        ASSERT_TRUE(cell.settleView());
        const Shown now = shown(*image);
        EXPECT_TRUE(was.state == now.state && was.window == now.window && was.buffer == now.buffer);
        EXPECT_EQ(image->getStatus(), status);
        const std::string second = readLog().substr(log.size());
        EXPECT_NE(second.find("Start Presentation"), std::string::npos);
        EXPECT_EQ(second.find("prepare"), std::string::npos) << second;
    }
}

// The CT's values shifted below zero, as 13-bit two's complement in an unsigned codestream,
// with a document that says signed: the picture, five readouts, the automatic window, a
// window from a region and the status text read the samples as the document says,
// against pydicom's Hounsfield values through the DICOM linear window.
namespace {

void removeTags(TiXmlElement* element, const std::vector<std::string>& elements)
{
    for (const std::string& e : elements)
        for (TiXmlElement* t = element->FirstChildElement("Tag"); t; t = t->NextSiblingElement("Tag"))
            if (e == t->Attribute("element")) {
                element->RemoveChild(t);
                break;
            }
}

// The cell shows ctu_1.jp2 without stored state, annotation or VOI table, its own intercept.
void showSignedCodestream(PresentationCell& cell, bool documentWindow)
{
    TiXmlElement* element = cell.ctItem.node->ToElement();
    removeTags(element, {"0x101B", "0x101D", "0x3010"});
    if (!documentWindow)
        removeTags(element, {"0x1050", "0x1051"});
    for (TiXmlElement* t = element->FirstChildElement("Tag"); t; t = t->NextSiblingElement("Tag"))
        if (std::string(t->Attribute("element")) == "0x1052")
            t->FirstChild()->SetValue(std::to_string(gridtest::presentationExpected().signedIntercept).c_str());
    cell.ctItem.objectFile = cell.server->imageTarget("ctu");
    element->FirstChildElement("ObjectFile")->FirstChild()->SetValue(cell.ctItem.objectFile.c_str());
}

double stateValue(const std::string& text, size_t offset)
{
    uint8_t bytes[8];
    for (size_t i = 0; i < 8; ++i)
        bytes[i] = uint8_t(std::stoi(text.substr(2 * (offset + i), 2), nullptr, 16));
    double v;
    std::memcpy(&v, bytes, 8);
    return v;
}

std::string windowText(double width, double centre)
{
    char text[100];
    std::snprintf(text, sizeof text, "W : %.f, L : %.f", width, centre);
    return text;
}

} // namespace

TEST_F(Presentation, SignedValuesInAnUnsignedCodestreamReadAsTheDocumentSays)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    ORBEL_REQUIRE_PYTHON_MODULE("pydicom", "python3-pydicom");
    ASSERT_FALSE(gridtest::presentationDir().empty());
    const PresentationExpected& expected = gridtest::presentationExpected();
    const std::vector<int>& hu = expected.hounsfield;
    const int w = expected.width, h = expected.height;
    ASSERT_EQ(hu.size(), size_t(w) * h);
    struct Decorations {
        bool overlay = g_showOverlay, ruler = g_showRuler;
        ~Decorations() { g_showOverlay = overlay, g_showRuler = ruler; }
    } restore;
    g_showOverlay = g_showRuler = false;
    const int lowest = *std::min_element(hu.begin(), hu.end()), highest = *std::max_element(hu.begin(), hu.end());
    const struct {
        const char* name;
        bool first;          // presented before the codestream opens
        bool documentWindow; // else the automatic window
    } cases[] = {
        {"document window, presented first", true, true},
        {"automatic window, presented first", true, false},
        {"automatic window, presented after the data", false, false},
        {"document window, presented after the data", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PresentationCell cell("True");
        showSignedCodestream(cell, c.documentWindow);
        ASSERT_TRUE(c.first ? presentBeforeOpening(cell) : presentAfterOpening(cell));
        CImageBase& base = cell.image()->getImageBase();
        ASSERT_EQ(base.LevelWidth(), w);
        const double width = c.documentWindow ? 400.0 : highest - lowest + 1.0;
        const double centre = c.documentWindow ? 40.0 : lowest + width / 2;
        std::string text;
        EXPECT_EQ(base.GetWindowLevelText(text), windowText(width, centre));
        // The status text carries the window: centre at byte 16, width at byte 24.
        base.GetDisplayStateText(text);
        EXPECT_EQ(stateValue(text, 16), centre);
        EXPECT_EQ(stateValue(text, 24), width);

        cell.paint();
        const platform::SurfaceView painted = platform::SurfaceOf(cell.frame->m_hWnd);
        int wrong = 0;
        // The outermost ring is left to the edge checks.
        for (int y = 3; y < h - 3; ++y)
            for (int x = 3; x < w - 3; ++x) {
                const int grey = painted.pixels[size_t(y) * painted.stride + size_t(x) * 4 + 1];
                wrong += std::abs(grey - OrbelTest::DicomLinearWindow(hu[size_t(y) * w + x], centre, width)) > 2.0;
            }
        EXPECT_EQ(wrong, 0);

        const int points[][2] = {{3, 3}, {w - 4, 3}, {3, h - 4}, {w - 4, h - 4}, {w / 2, h / 2 + 5}};
        for (const auto& p : points) {
            PixelReadout readout;
            base.GetPixelReadout(readout, p[0], p[1], "CT");
            int x = -1, y = -1, value = 0;
            ASSERT_EQ(std::sscanf(readout.value.c_str(), "X=%d, Y=%d, Hounsfield= %d", &x, &y, &value), 3)
                << readout.value;
            EXPECT_EQ(x, p[0]);
            EXPECT_EQ(y, p[1]);
            EXPECT_EQ(value, hu[size_t(p[1]) * w + p[0]]) << readout.value;
        }

        // Columns 10..49, rows 20..69 of the view are those of the image.
        int low = INT32_MAX, high = INT32_MIN;
        for (int y = 20; y < 70; ++y)
            for (int x = 10; x < 50; ++x) {
                low = std::min(low, hu[size_t(y) * w + x]);
                high = std::max(high, hu[size_t(y) * w + x]);
            }
        base.SetWindowFromRegion(10, 20, 50, 70);
        EXPECT_EQ(base.GetWindowLevelText(text), windowText(high - low + 1.0, low + (high - low + 1.0) / 2));
    }
}

// Until an image is open and presented its window and zoom items show nothing, then the
// document's window; a stalled server holds the image at each step.
TEST_F(Presentation, WindowAndZoomTextsWaitForTheImage)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    ORBEL_REQUIRE_PYTHON_MODULE("pydicom", "python3-pydicom");
    ASSERT_FALSE(gridtest::presentationDir().empty());
    const PresentationExpected& expected = gridtest::presentationExpected();
    const struct {
        const char* name;
        const char* fault;
        const char* kind;  // the stalled request
        bool opened;
        const char* window;
        const char* zoom;
    } cases[] = {
        {"presented, channel stalled", "stall:on=cnew,times=1,secs=3", "cnew", false, "", ""},
        {"presented and open, data stalled", "stall:on=region,times=1,secs=3", "region", true,
         expected.window.c_str(), "1.00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PresentationCell cell("True", {"--fault", c.fault});
        cell.grid->showStackItem(cell.ctItem);
        const std::string kind = std::string("\"kind\": \"") + c.kind + "\"";
        ASSERT_TRUE(platform::PumpUntil(
            [&] {
                boost::shared_ptr<CJ2KImage> image = cell.image();
                return image && image->isPresented() && image->isOpened() == c.opened &&
                       !cell.serverLines(kind).empty();
            },
            10000));
        boost::shared_ptr<CJ2KImage> image = cell.image();
        std::string window = "missing", zoom = "missing";
        for (const OverlayLayoutEntry& entry : image->getOverlayEntries()) {
            const OverlayItem& item = entry.item;
            if (item.group == dicom::OverlayWindowText.group && item.element == dicom::OverlayWindowText.element)
                window = Utf16ToUtf8(cell.grid->getOverlayText(item));
            if (item.group == dicom::OverlayZoom.group && item.element == dicom::OverlayZoom.element)
                zoom = Utf16ToUtf8(cell.grid->getOverlayText(item));
        }
        EXPECT_EQ(window, c.window);
        EXPECT_EQ(zoom, c.zoom);
    }
}
