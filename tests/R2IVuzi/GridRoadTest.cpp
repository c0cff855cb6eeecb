// The real road of one image, to the painted pixel: served by the loopback server, shown
// by one grid, decoded in increments, compared with opj_decompress sample for sample and
// with view_oracle.py pixel for pixel.
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/StartupValues.h"
#include "image/ImageBase.h"
#include "tests/R2IVuzi/support/GridChecks.h"
#include "tests/R2IVuzi/support/GridHarness.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

using gridtest::GridHarness;

namespace {

void expectSamples(CImageBase& base, const std::string& name, const int32_t c[7])
{
    gridtest::expectSamples(base, gridtest::corpusDir(), name, c);
}

// Paints the cell, saves it, and checks it with view_oracle.py against opj's decode.
void expectPainted(GridHarness& h, const std::string& name, const std::string& view)
{
    CImageBase& base = h.grid->getImage()->getImageBase();
    int32_t c[7], d[4];
    base.GetTransformRegion(c);
    base.GetImageRectInView(d);
    h.paint();
    const std::string png = gridtest::corpusDir() + "/painted-" + name + "-" + view + ".png";
    ASSERT_TRUE(platform::SavePng(h.frame->m_hWnd, png));
    const bool colour = base.GetPixelFormat().bytesPerPixel == 4;
    const std::string ref = gridtest::corpusDir() + "/" + name + "_r" + std::to_string(c[6]);
    const DicomRecord& dicom = base.GetPhotometricInterpretation();
    std::ostringstream table;
    if (colour)
        table << "{\"kind\": \"colour\", \"brightness\": " << base.Brightness()
              << ", \"invert\": " << (base.IsInverted() ? "true" : "false") << "}";
    else
        table << "{\"kind\": \"grey\", \"bits\": " << h.grid->getImage()->getBitDepth()
              << ", \"signed\": " << (base.IsSigned() ? "true" : "false") << ", \"width\": " << base.WindowWidth()
              << ", \"centre\": " << base.WindowCentre() << ", \"slope\": " << dicom.rescaleSlope
              << ", \"intercept\": " << dicom.rescaleIntercept << ", \"photometric\": \""
              << dicom.photometricInterpretation << "\", \"invert\": " << (base.IsInverted() ? "true" : "false")
              << "}";
    std::ostringstream json;
    json << "{\"name\": \"" << name << " " << view << "\", \"bitmap\": \"" << png << ".inner.png\", \"source\": {\"path\": \""
         << ref << (colour ? ".ppm\", \"format\": \"pnm\"" : ".pgx\", \"format\": \"pgx\"") << "}, \"region\": ["
         << c[0] << ", " << c[1] << ", " << c[2] << ", " << c[3] << "], \"dest\": [" << d[0] << ", " << d[1] << ", "
         << d[2] << ", " << d[3] << "], \"rotation\": " << base.Rotation()
         << ", \"hflip\": " << (base.HorizontalFlip() ? "true" : "false")
         << ", \"vflip\": " << (base.VerticalFlip() ? "true" : "false") << ", \"table\": " << table.str()
         << ", \"border\": 1}";
    const std::string desc = png + ".json";
    std::ofstream(desc) << json.str();
    // The border is the grid's own, drawn over the image's edge: blanked here, and left out
    // of the oracle's comparison.
    const std::string blank = OrbelTest::python() +
                              " -c \"import sys; from PIL import Image, ImageDraw; im = Image.open(sys.argv[1]); "
                              "ImageDraw.Draw(im).rectangle([0, 0, im.width - 1, im.height - 1], outline=0); "
                              "im.save(sys.argv[1] + '.inner.png')\" '" + png + "'";
    ASSERT_EQ(std::system(blank.c_str()), 0);
    const std::string cmd = OrbelTest::pythonCommand(std::string(ORBEL_SOURCE_DIR) + "/tests/image/scripts/view_oracle.py") +
                            " '" + desc + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << name << " " << view;
}

// The table inputs that presentation will give each image.
void presentTables(CImageBase& base, int n)
{
    if (n == 2 || n == 4) {
        base.GetPhotometricInterpretation().photometricInterpretation = "MONOCHROME2";
        base.GetPhotometricInterpretation().windowWidth = n == 2 ? 3000.0f : 50000.0f;
        base.GetPhotometricInterpretation().windowCentre = n == 2 ? 2000.0f : 30000.0f;
        base.ApplyDicomWindow();
    } else if (n == 3) {
        base.GetPhotometricInterpretation().pixelRepresentation = 1;
    } else if (n == 5) {
        base.AdjustWindowLevel(40, 0, true, false);
    }
}

} // namespace

TEST(GridRoad, EachImageFitZoomedAndTurnedMeetsTheDecoderAndTheOracle)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    ASSERT_FALSE(gridtest::corpusDir().empty());
    const int savedPacket = g_packetSize;
    const bool savedRuler = g_showRuler;
    g_packetSize = 512;
    g_showRuler = false;
    static const char* names[] = {"", "1_1_1_1", "1_1_1_2", "1_1_1_3", "1_1_1_4", "1_1_1_5"};
    for (int n = 1; n <= 5; ++n) {
        SCOPED_TRACE(names[n]);
        GridHarness h;
        ASSERT_TRUE(h.show(n));
        CImageBase& base = h.grid->getImage()->getImageBase();
        int32_t c[7];
        base.GetTransformRegion(c);
        EXPECT_EQ(c[6], 1);
        expectSamples(base, names[n], c);
        presentTables(base, n);
        h.grid->layout();
        ASSERT_TRUE(h.settleView());
        expectPainted(h, names[n], "fit");

        const auto view = [&](const std::function<void()>& change, const char* label) {
            change();
            h.grid->updateView();
            ASSERT_TRUE(h.settleView());
            base.GetTransformRegion(c);
            expectSamples(base, names[n], c);
            expectPainted(h, names[n], label);
        };
        view([&] { base.Zoom(2.5f, true, false); base.Pan(-60, 40, true); }, "zoom");
        EXPECT_EQ(c[6], 0);
        view([&] { base.ResetView(true); base.Rotate(true, true); }, "turn");
    }
    g_packetSize = savedPacket;
    g_showRuler = savedRuler;
}

TEST(GridRoad, DecodingIsIncrementalAndBounded)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    ASSERT_FALSE(gridtest::corpusDir().empty());
    const int savedPacket = g_packetSize;
    const bool savedRuler = g_showRuler;
    // Small replies keep the image loading over several decode steps, however fast the
    // loopback server answers.
    g_packetSize = 128;
    g_showRuler = false;
    GridHarness h;
    std::string firstPng;
    h.grid->afterStep = [&](int step) {
        // A message posted while loading is handled between steps.
        if (step == 1)
            PostMessageW(h.grid->m_hWnd, WM_APP + 100, 0, 0);
        if (firstPng.empty() && h.grid->increments > 0) {
            firstPng = gridtest::corpusDir() + "/painted-first-step.png";
            platform::SavePng(h.frame->m_hWnd, firstPng);
        }
    };
    ASSERT_TRUE(h.show(2));
    EXPECT_EQ(h.grid->testMessageArrivals, 0);
    int early = 0;
    const int rows = 192;
    for (const auto& s : h.grid->stepIncrements) {
        early += s.first > 0 && s.second == 0;
        EXPECT_LE(s.first, rows + 2);
    }
    EXPECT_GE(early, 2);
    ASSERT_FALSE(firstPng.empty());
    h.paint();
    const std::string last = gridtest::corpusDir() + "/painted-last-step.png";
    ASSERT_TRUE(platform::SavePng(h.frame->m_hWnd, last));
    const std::string differ = OrbelTest::python() +
                               " -c \"import sys; from PIL import Image, ImageChops; "
                               "sys.exit(0 if ImageChops.difference(Image.open(sys.argv[1]).convert('RGB'), "
                               "Image.open(sys.argv[2]).convert('RGB')).getbbox() else 1)\" '" + firstPng + "' '" + last + "'";
    EXPECT_EQ(std::system(differ.c_str()), 0);
    expectPainted(h, "1_1_1_2", "incremental");
    g_packetSize = savedPacket;
    g_showRuler = savedRuler;
}

// Buffer forms without a painted check: 8-bit signed (16-bit form), 4-bit unsigned
// (8-bit form, native precision), and an image placed off the canvas origin.
TEST(GridRoad, SignedSmallAndPlacedImagesFillTheBufferExactly)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    ASSERT_FALSE(gridtest::corpusDir().empty());
    const struct {
        int image, width, height, level;
    } cases[] = {{6, 260, 200, 0}, {6, 48, 38, 2}, {7, 240, 180, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE("image " + std::to_string(c.image) + " level " + std::to_string(c.level));
        GridHarness h(c.width, c.height);
        ASSERT_TRUE(h.show(c.image));
        CImageBase& base = h.grid->getImage()->getImageBase();
        int32_t r[7];
        base.GetTransformRegion(r);
        EXPECT_EQ(r[6], c.level);
        EXPECT_EQ(base.GetPixelFormat().bytesPerPixel, c.image == 6 ? 2 : 1);
        expectSamples(base, "1_1_1_" + std::to_string(c.image), r);
    }
}
