// Resampling: the documented values in one table, then every method and edge rule against the
// numpy reference script at seeded points.
#include "imagelib/RxImage.h"
#include "tests/imagelib/support/ExternalTools.h"
#include "tests/imagelib/support/RandomImage.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>

namespace {

RxImage Uniform(BYTE v, DWORD w = 10, DWORD h = 10)
{
    RxImage im(w, h, 24);
    for (long y = 0; y < long(h); ++y)
        for (long x = 0; x < long(w); ++x)
            im.SetPixelColor(x, y, RGBQUAD{v, v, v, 0});
    return im;
}

// Column c of a 10-wide image holds blue c, so the column read shows in blue.
RxImage Columns()
{
    RxImage im(10, 4, 24);
    for (long y = 0; y < 4; ++y)
        for (long x = 0; x < 10; ++x)
            im.SetPixelColor(x, y, RGBQUAD{BYTE(x), BYTE(y), 7, 0});
    return im;
}

TEST(Sample, DocumentedValues)
{
    RxImage blue = Uniform(0);
    blue.SetPixelColor(2, 3, RGBQUAD{100, 0, 0, 0});
    blue.SetPixelColor(3, 3, RGBQUAD{200, 0, 0, 0});
    blue.SetPixelColor(0, 2, RGBQUAD{1, 2, 3, 0});
    RGBQUAD rep{10, 20, 30, 40};
    const RxImage cols = Columns();
    RxImage grey200 = Uniform(200), grey100 = Uniform(100);
    struct Case {
        const RxImage* image;
        float x, y;
        long method, rule;
        RGBQUAD* replacement;
        int channel; // 0 blue, 3 fourth byte, -1 all four
        RGBQUAD expected;
    } cases[] = {
        {&blue, 2.5f, 3.0f, 2, 5, nullptr, 0, {150, 0, 0, 0}},
        {&blue, 2.999f, 3.0f, 2, 5, nullptr, 0, {199, 0, 0, 0}},
        {&blue, -5.3f, 2.0f, 2, 5, nullptr, -1, {1, 2, 3, 0}},
        {&blue, -5.3f, 2.0f, 2, 1, &rep, -1, {10, 20, 30, 40}},
        {&cols, -1.4f, 0, 1, 1, &rep, -1, {0, 0, 7, 0}},
        {&cols, -1.6f, 0, 1, 1, &rep, -1, {10, 20, 30, 40}},
        {&cols, 2.5f, 1, 7, 5, nullptr, 0, {2, 0, 0, 0}},
        {&cols, 2.51f, 1, 7, 5, nullptr, 0, {3, 0, 0, 0}},
        {&grey200, 4, 4, 9, 5, nullptr, -1, {233, 233, 233, 0}},
        {&grey100, 4, 4, 11, 5, nullptr, -1, {255, 255, 255, 0}},
        {&cols, -1.6f, 0, 1, 6, nullptr, 0, {1, 0, 0, 0}},
        {&cols, 10, 0, 1, 6, nullptr, 0, {9, 0, 0, 0}},
        {&cols, 11, 0, 1, 6, nullptr, 0, {8, 0, 0, 0}},
        {&cols, -1.6f, 0, 1, 4, nullptr, 0, {9, 0, 0, 0}},
        {&cols, 10, 0, 1, 4, nullptr, 0, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        const RGBQUAD got = c.image->SampleInterpolated(c.x, c.y, c.method, c.rule, c.replacement);
        const BYTE g[4] = {got.rgbBlue, got.rgbGreen, got.rgbRed, got.rgbReserved};
        const BYTE e[4] = {c.expected.rgbBlue, c.expected.rgbGreen, c.expected.rgbRed, c.expected.rgbReserved};
        for (int ch = 0; ch < 4; ++ch)
            if (c.channel < 0 || c.channel == ch) {
                EXPECT_EQ(g[ch], e[ch]) << "method " << c.method << " rule " << c.rule << " at " << c.x << "," << c.y
                                        << " channel " << ch;
            }
    }
}

TEST(Sample, TransparentEdgePaletteAlphaAndWildPoints)
{
    // Rule 3 half outside an image with alpha: the outside taps bring alpha 0.
    RxImage alpha = Uniform(50);
    alpha.AlphaCreate();
    EXPECT_NEAR(alpha.SampleInterpolated(-0.5f, 4, 2, 3).rgbReserved, 128, 1);

    // A palette image reads its palette colours, fourth byte included, through every tap.
    RxImage pal(4, 4, 8);
    pal.SetPaletteColor(0, 0, 0, 0, 0);
    pal.SetPaletteColor(1, 90, 60, 30, 200);
    for (long y = 0; y < 4; ++y)
        for (long x = 0; x < 4; ++x)
            pal.SetPixelIndex(x, y, 1);
    pal.AlphaCreate();
    const RGBQUAD p = pal.SampleInterpolated(1.5f, 1.5f, 2, 5);
    EXPECT_EQ(p.rgbRed, 90);
    EXPECT_EQ(p.rgbBlue, 30);
    EXPECT_EQ(p.rgbReserved, 200);

    const float wild[] = {std::numeric_limits<float>::quiet_NaN(), 1e30f, -1e30f,
                          std::numeric_limits<float>::infinity()};
    for (float v : wild)
        for (long method = 1; method <= 16; ++method)
            for (long rule = 1; rule <= 6; ++rule) {
                alpha.SampleInterpolated(v, 3, method, rule);
                alpha.SampleInterpolated(2, v, method, rule);
            }
}

struct OracleImage {
    const char* name;
    RxImage image;
};

// Writes the image and points for the script; returns false when the file cannot be made.
bool WriteOracleInput(const std::string& path, const RxImage& im, const RGBQUAD* rep,
                      const std::vector<std::pair<float, float>>& pts)
{
    std::ofstream f(path);
    f << im.GetWidth() << ' ' << im.GetHeight() << ' ' << (im.IsIndexed() ? 1 : 0) << ' '
      << (im.AlphaIsValid() ? 1 : 0) << ' ';
    if (rep)
        f << int(rep->rgbBlue) << ' ' << int(rep->rgbGreen) << ' ' << int(rep->rgbRed) << ' ' << int(rep->rgbReserved);
    else
        f << "-1 0 0 0";
    f << '\n';
    for (long y = 0; y < long(im.GetHeight()); ++y) {
        for (long x = 0; x < long(im.GetWidth()); ++x) {
            RGBQUAD c = im.IsIndexed() ? im.GetPaletteColor(im.GetPixelIndex(x, y)) : im.GetPixelColor(x, y);
            f << int(c.rgbBlue) << ' ' << int(c.rgbGreen) << ' ' << int(c.rgbRed) << ' ' << int(c.rgbReserved) << ' ';
        }
        f << '\n';
    }
    f << pts.size() << '\n';
    f.precision(9);
    for (auto& p : pts)
        f << p.first << ' ' << p.second << '\n';
    return bool(f);
}

std::vector<std::pair<float, float>> SeededPoints(unsigned seed, float w, float h)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(0, 1);
    std::vector<std::pair<float, float>> pts;
    for (int i = 0; i < 500; ++i) {
        float x, y;
        switch (i % 5) {
        case 0: x = u(rng) * (w - 1); y = u(rng) * (h - 1); break;                     // inside
        case 1: x = (i & 8) ? w - 1 + u(rng) : -u(rng); y = u(rng) * h; break;         // on the border
        case 2: x = -3 + u(rng) * (w + 6); y = -3 + u(rng) * (h + 6); break;           // partly outside
        case 3: x = -40 + u(rng) * 30; y = h + 5 + u(rng) * 30; break;                 // wholly outside
        default: x = float(int(u(rng) * (w + 10)) - 5); y = float(int(u(rng) * (h + 10)) - 5); break; // whole
        }
        pts.emplace_back(x, y);
    }
    return pts;
}

TEST(SampleOracle, EveryMethodAndRuleAgreesWithReference)
{
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    std::vector<OracleImage> images;
    images.push_back({"24-bit", RxImage(13, 9, 24)});
    rxtest::FillRandom(images.back().image, 11, false);
    images.push_back({"24-bit alpha", RxImage(13, 9, 24)});
    rxtest::FillRandom(images.back().image, 12, false);
    images.back().image.AlphaCreate();
    for (long y = 0; y < 9; ++y)
        for (long x = 0; x < 13; ++x)
            images.back().image.AlphaSet(x, y, BYTE(x * 19 + y * 7));
    images.push_back({"8-bit palette", RxImage(11, 12, 8)});
    rxtest::FillRandom(images.back().image, 13, false);
    for (int i = 0; i < 256; ++i) {
        RGBQUAD c = images.back().image.GetPaletteColor(BYTE(i));
        c.rgbReserved = BYTE(i * 3);
        images.back().image.SetPaletteColor(BYTE(i), c);
    }
    images.back().image.AlphaCreate();

    RGBQUAD rep{10, 20, 30, 40};
    unsigned seed = 1;
    for (OracleImage& oi : images)
        for (RGBQUAD* r : {static_cast<RGBQUAD*>(nullptr), &rep}) {
            const RxImage& im = oi.image;
            const auto pts = SeededPoints(seed++, float(im.GetWidth()), float(im.GetHeight()));
            const std::string in = rxtest::ScratchDir() + "/sample-in.txt", out = rxtest::ScratchDir() + "/sample-out.txt";
            ASSERT_TRUE(WriteOracleInput(in, im, r, pts));
            ASSERT_EQ(rxtest::Run(OrbelTest::pythonCommand(rxtest::Script("sample_reference.py")) + ' ' +
                                  rxtest::Quote(in) + ' ' + rxtest::Quote(out)),
                      0);
            std::ifstream ref(out);
            int mismatches = 0;
            for (auto& p : pts)
                for (long m = 1; m <= 16; ++m)
                    for (long rule = 1; rule <= 6; ++rule) {
                        int e[4];
                        ASSERT_TRUE(ref >> e[0] >> e[1] >> e[2] >> e[3]);
                        const RGBQUAD g = im.SampleInterpolated(p.first, p.second, m, rule, r);
                        const int got[4] = {g.rgbBlue, g.rgbGreen, g.rgbRed, g.rgbReserved};
                        const int tolerance = m <= 2 ? 0 : 1;
                        for (int ch = 0; ch < 4; ++ch)
                            if (std::abs(got[ch] - e[ch]) > tolerance && ++mismatches <= 10)
                                ADD_FAILURE() << oi.name << (r ? " with" : " without") << " replacement, method " << m
                                              << " rule " << rule << " at (" << p.first << ", " << p.second
                                              << ") channel " << ch << ": " << got[ch] << " vs " << e[ch];
                    }
            EXPECT_EQ(mismatches, 0) << oi.name;
        }
}

TEST(SampleOracle, BesselAgreesWithScipy)
{
    ORBEL_REQUIRE_PYTHON_MODULE("scipy", "python3-scipy");
    const std::string path = rxtest::ScratchDir() + "/j1.txt";
    {
        std::ofstream f(path);
        f.precision(17);
        for (int i = -3000; i <= 3000; ++i)
            f << float(i) / 100 << ' ' << double(RxImage::BesselJ1(float(i) / 100)) << '\n';
    }
    std::string text;
    ASSERT_EQ(rxtest::Run(OrbelTest::pythonCommand(rxtest::Script("sample_reference.py")) + " --j1 " + rxtest::Quote(path),
                          &text),
              0);
    EXPECT_LT(std::stod(text), 1e-6);
}

} // namespace
