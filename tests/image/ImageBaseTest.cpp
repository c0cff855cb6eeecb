#include "image/ImageBase.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

// Installs buffers and window state that the rendering and display-state code set later.
class CImageBaseTestAccess {
public:
    template <typename T>
    static void SetSource(CImageBase& b, const std::vector<T>& samples)
    {
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(samples.data());
        b.sourcePixels_.assign(bytes, bytes + samples.size() * sizeof(T));
    }
    template <typename T>
    static void SetViewSamples(CImageBase& b, const std::vector<T>& samples, int width, int height)
    {
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(samples.data());
        b.viewSamples_.assign(bytes, bytes + samples.size() * sizeof(T));
        b.viewWidth_ = width;
        b.viewHeight_ = height;
    }
    static float& Width(CImageBase& b) { return b.windowWidth_; }
    static float& Centre(CImageBase& b) { return b.windowCentre_; }
    static float& Brightness(CImageBase& b) { return b.brightness_; }
    static bool& UserAdjusted(CImageBase& b) { return b.userAdjusted_; }
    static bool& FromDisplayState(CImageBase& b) { return b.windowFromDisplayState_; }
    static bool& Inverted(CImageBase& b) { return b.inverted_; }
};
using Access = CImageBaseTestAccess;

namespace {

// A grey image shown whole in a 256 x 256 view.
void InitGrey(CImageBase& b, int bits, bool isSigned, const char* photometric = "MONOCHROME2", int w = 64,
              int h = 32)
{
    b.GetPhotometricInterpretation().photometricInterpretation = photometric;
    b.GetPhotometricInterpretation().pixelRepresentation = isSigned ? 1 : 0;
    b.Transform().SetView(0, 0, 255, 255);
    b.InitImage(h, w, 0, bits, true, isSigned);
}

int Entry(const CImageBase& b, int i) { return b.GreyTable().data.at(static_cast<size_t>(i)); }

VoiLutEntry Ramp(int count, int first, int start, int step)
{
    VoiLutEntry e;
    e.bitsPerEntry = 16;
    e.firstValueMapped = first;
    e.entryCount = count;
    for (int i = 0; i < count; ++i)
        e.data.push_back(start + i * step);
    return e;
}

} // namespace

TEST(ImageBaseGreyTable, VoiAndModalityTables)
{
    // VOI data 100..300: the entry whose VOI value is 200 maps to 127, whatever the window.
    {
        CImageBase b;
        InitGrey(b, 8, false);
        b.GetVoiLuts()[0] = Ramp(256, 0, 100, 0);
        for (int i = 0; i < 256; ++i)
            b.GetVoiLuts()[0].data[static_cast<size_t>(i)] = 100 + (i * 200) / 255;
        b.SelectVoiLut(1);
        EXPECT_TRUE(b.IsVoiEnabled());
        int found = 0;
        for (int i = 0; i < 256; ++i)
            if (b.GetVoiLuts()[0].data[static_cast<size_t>(i)] == 200) {
                EXPECT_EQ(127, Entry(b, i));
                ++found;
            }
        EXPECT_GT(found, 0);
        EXPECT_EQ(0, Entry(b, 0));
        EXPECT_EQ(255, Entry(b, 255));
    }
    // Signed 12-bit: entry 0 is stored value -2048 (modality LUT indexed by it).
    {
        CImageBase b;
        InitGrey(b, 12, true);
        b.GetModalityLut() = Ramp(4096, -2048, 0, 1);
        Access::Width(b) = 4096;
        Access::Centre(b) = 2048;
        b.EnableModalityLut(true);
        for (int i : {0, 1, 2047, 2048, 4095})
            EXPECT_EQ(static_cast<int>(i * 255.0 / 4096), Entry(b, i)) << i;
    }
    // The VOI LUT takes the modality output: intercept -1024 and a ramp from -1024 give
    // VOI element s for stored value s.
    {
        CImageBase b;
        InitGrey(b, 12, false);
        b.GetPhotometricInterpretation().rescaleIntercept = -1024.0f;
        b.GetPhotometricInterpretation().windowWidth = 400;
        b.GetPhotometricInterpretation().windowCentre = 40;
        b.ApplyDicomWindow();
        b.GetVoiLuts()[0] = Ramp(4096, -1024, 0, 1);
        b.SelectVoiLut(1);
        for (int s = 0; s < 4096; s += 7)
            ASSERT_EQ(static_cast<int>(s * 255.0 / 4095), Entry(b, s)) << s;
    }
    // A full 65536-entry modality LUT on 16-bit data is used.
    {
        CImageBase b;
        InitGrey(b, 16, false);
        b.GetModalityLut() = Ramp(65536, 0, 65535, -1);
        b.EnableModalityLut(true);
        EXPECT_EQ(254, Entry(b, 0));
        EXPECT_EQ(0, Entry(b, 65535));
    }
}

TEST(ImageBaseGreyTable, MonotonicAndDegenerateWindows)
{
    std::mt19937 rng(8);
    std::uniform_real_distribution<float> u(-5000.0f, 5000.0f);
    for (int trial = 0; trial < 50; ++trial) {
        CImageBase b;
        InitGrey(b, 12, trial % 2 == 1);
        Access::Width(b) = std::fabs(u(rng));
        Access::Centre(b) = u(rng);
        b.RebuildGreyLut();
        for (int i = 1; i < 4096; ++i)
            ASSERT_LE(Entry(b, i - 1), Entry(b, i)) << "trial " << trial << " entry " << i;
    }
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float bad[][2] = {{0, 100}, {nan, 100}, {inf, 100}, {-inf, 5}, {100, nan}, {100, inf}, {nan, -inf}};
    for (const auto& wc : bad) {
        CImageBase b;
        InitGrey(b, 12, false);
        Access::Width(b) = wc[0];
        Access::Centre(b) = wc[1];
        b.RebuildGreyLut();
        b.ApplyDicomWindow();
        for (int i = 0; i < 4096; ++i)
            ASSERT_TRUE(Entry(b, i) >= 0 && Entry(b, i) <= 255);
    }
    // A flat VOI LUT.
    CImageBase flat;
    InitGrey(flat, 8, false);
    flat.GetVoiLuts()[0] = Ramp(256, 0, 77, 0);
    flat.SelectVoiLut(1);
    for (int i = 0; i < 256; ++i)
        ASSERT_TRUE(Entry(flat, i) >= 0 && Entry(flat, i) <= 255);
    // Non-finite brightness on a colour image.
    CImageBase colour;
    colour.InitImage(8, 8, 0, 8, false, false);
    for (float v : {nan, inf, -inf}) {
        Access::Brightness(colour) = v;
        colour.RebuildColourTable();
        for (int i = 0; i < 256; ++i)
            ASSERT_EQ(i, colour.ColourTable().data[static_cast<size_t>(i)]);
    }
}

TEST(ImageBaseWindow, DicomDragVoiAndInitRules)
{
    // A DICOM window applied twice folds a pending drag once (12 bits: 3 per step).
    {
        CImageBase b;
        InitGrey(b, 12, false);
        b.Drag().pendingX = 10;
        b.Drag().pendingY = -5;
        b.GetPhotometricInterpretation().windowWidth = 400;
        b.GetPhotometricInterpretation().windowCentre = 40;
        b.ApplyDicomWindow();
        EXPECT_EQ(430.0f, b.WindowWidth());
        EXPECT_EQ(25.0f, b.WindowCentre());
        EXPECT_FALSE(b.Drag().IsPending());
        b.Drag().pendingX = 10;
        b.ApplyDicomWindow();
        EXPECT_EQ(430.0f, b.WindowWidth());
    }
    // An absent VOI entry is created empty; the flag is set and the window applies.
    {
        CImageBase b, plain;
        InitGrey(b, 8, false);
        InitGrey(plain, 8, false);
        b.SelectVoiLut(3);
        EXPECT_TRUE(b.IsVoiEnabled());
        EXPECT_EQ(1u, b.GetVoiLuts().count(2));
        EXPECT_TRUE(b.GetVoiLuts()[2].data.empty());
        EXPECT_EQ(plain.GreyTable().data, b.GreyTable().data);
    }
    // Invalid initialisations change nothing.
    {
        CImageBase b;
        b.InitImage(10, 10, 0, 17, true, false);
        b.InitImage(10, 0, 0, 8, true, false);
        b.InitImage(-1, 10, 0, 8, true, false);
        EXPECT_FALSE(b.IsInitialised());
        EXPECT_TRUE(b.GreyTable().data.empty());
        EXPECT_EQ(0, b.GetPixelFormat().bytesPerPixel);
    }
}

TEST(ImageBaseWindow, PrecedenceAndAutomaticWindow)
{
    // Signed 12-bit samples from -500 to 1500.
    std::vector<int16_t> samples(64 * 32, 100);
    samples[5] = -500;
    samples[777] = 1500;
    CImageBase b;
    InitGrey(b, 12, true);
    EXPECT_EQ(4096.0f, b.WindowWidth()); // full range
    Access::SetSource(b, samples);
    b.ApplyDicomWindow(); // no DICOM window: automatic
    EXPECT_EQ(2001.0f, b.WindowWidth());
    EXPECT_EQ(500.5f, b.WindowCentre());
    b.GetPhotometricInterpretation().windowWidth = 300;
    b.GetPhotometricInterpretation().windowCentre = 30;
    b.ApplyDicomWindow(); // DICOM beats automatic
    EXPECT_EQ(300.0f, b.WindowWidth());
    b.AutoWindow();
    EXPECT_EQ(300.0f, b.WindowWidth());
    // A display-state window beats DICOM, at initialisation and afterwards.
    b.Block().firstValue = 700;
    b.Block().secondValue = 70;
    Access::FromDisplayState(b) = true;
    InitGrey(b, 12, true);
    EXPECT_EQ(700.0f, b.WindowWidth());
    b.GetPhotometricInterpretation().windowWidth = 310;
    b.ApplyDicomWindow();
    EXPECT_EQ(700.0f, b.WindowWidth());
    // The user's window beats everything.
    Access::Width(b) = 55;
    Access::UserAdjusted(b) = true;
    Access::FromDisplayState(b) = false;
    b.GetPhotometricInterpretation().windowWidth = 320;
    b.ApplyDicomWindow();
    b.SelectVoiLut(0);
    EXPECT_EQ(55.0f, b.WindowWidth());

    // A signed 8-bit image is scanned as 16-bit samples.
    std::vector<int16_t> small(64 * 32, 0);
    small[0] = -100;
    small[1] = 100;
    CImageBase s8;
    InitGrey(s8, 8, true);
    EXPECT_EQ(2, s8.GetPixelFormat().bytesPerPixel);
    Access::SetSource(s8, small);
    s8.AutoWindow();
    EXPECT_EQ(201.0f, s8.WindowWidth());
    EXPECT_EQ(0.5f, s8.WindowCentre());
    // A buffer too small for the level image is not scanned.
    CImageBase shortBuffer;
    InitGrey(shortBuffer, 12, true);
    Access::SetSource(shortBuffer, std::vector<int16_t>(10, 1000));
    shortBuffer.AutoWindow();
    EXPECT_EQ(4096.0f, shortBuffer.WindowWidth());
}

TEST(ImageBaseWindow, RegionScans)
{
    // View samples 16 x 8; the image fills the view.
    auto make = [](int bits, bool isSigned) {
        std::unique_ptr<CImageBase> b(new CImageBase);
        b->GetPhotometricInterpretation().pixelRepresentation = isSigned;
        b->Transform().SetView(0, 0, 15, 7);
        b->InitImage(8, 16, 0, bits, true, isSigned);
        b->Transform().fitType = 5;
        b->Transform().ApplyFit();
        return b;
    };
    {
        auto b = make(12, true);
        std::vector<int16_t> v(16 * 8, 0);
        v[2 * 16 + 3] = -40;
        v[4 * 16 + 6] = 60;
        v[7 * 16 + 15] = 3000; // outside the region
        Access::SetViewSamples(*b, v, 16, 8);
        b->SetWindowFromRegion(2, 1, 10, 6);
        EXPECT_EQ(101.0f, b->WindowWidth());
        EXPECT_EQ(10.5f, b->WindowCentre());
        EXPECT_TRUE(b->IsUserAdjusted());
    }
    {
        auto b = make(12, false);
        b->GetPhotometricInterpretation().rescaleIntercept = -1000;
        b->ApplyDicomWindow();
        const RECT d = b->Transform().destRect;
        std::vector<uint16_t> v(16 * 8, 500);
        v[d.top * 16 + d.left] = 100;
        v[(d.bottom - 1) * 16 + d.right - 1] = 900;
        Access::SetViewSamples(*b, v, 16, 8);
        b->SetWindowFromRegion(d.left, d.top, d.right, d.bottom);
        EXPECT_EQ(801.0f, b->WindowWidth());
        EXPECT_EQ(-900.0f + 400.5f, b->WindowCentre());
    }
    {
        auto b = make(8, false);
        std::vector<uint8_t> v(16 * 8, 50);
        v[3 * 16 + 4] = 20;
        Access::SetViewSamples(*b, v, 16, 8);
        const float before = b->WindowWidth();
        b->SetWindowFromRegion(5, 3, 2, 6); // inverted
        b->SetWindowFromRegion(2, 3, 2, 6); // empty
        b->SetWindowFromRegion(0, 0, 17, 8); // past the view samples
        EXPECT_EQ(before, b->WindowWidth());
        EXPECT_FALSE(b->IsUserAdjusted());
        b->SetWindowFromRegion(4, 3, 5, 4);
        EXPECT_EQ(1.0f, b->WindowWidth());
        EXPECT_EQ(20.5f, b->WindowCentre());
    }
    {
        auto b = make(8, false);
        b->SetWindowFromRegion(0, 0, 4, 4); // no view samples
        EXPECT_FALSE(b->IsUserAdjusted());
    }
}

TEST(ImageBaseReadout, ValuesAndBounds)
{
    // 12-bit CT: slope 1, intercept -1024, stored 1000.
    CImageBase ct;
    ct.GetPhotometricInterpretation().rescaleIntercept = -1024;
    ct.Transform().SetView(0, 0, 99, 99);
    ct.InitImage(100, 100, 0, 12, true, false);
    Access::SetSource(ct, std::vector<uint16_t>(100 * 100, 1000));
    PixelReadout r;
    ct.GetPixelReadout(r, 50, 50, "CT");
    EXPECT_EQ("X=50, Y=50, Hounsfield= -24", r.value);
    EXPECT_EQ("0", r.position);
    EXPECT_FALSE(r.plainValue);
    ct.GetPixelReadout(r, 50, 50, "MR");
    EXPECT_EQ("X=50, Y=50", r.position);
    EXPECT_EQ("-24", r.value);
    EXPECT_TRUE(r.plainValue);
    // The right and bottom edges of the destination rectangle still read.
    const RECT d = ct.Transform().destRect;
    ct.GetPixelReadout(r, d.right, d.bottom, "");
    EXPECT_EQ("-24", r.value);
    EXPECT_EQ("X=99, Y=99", r.position);
    ct.GetPixelReadout(r, d.right + 1, 10, "CT");
    EXPECT_EQ("", r.value);
    EXPECT_EQ("", r.position);
    // No buffer, or a buffer shorter than the level image: empty strings.
    CImageBase none;
    none.Transform().SetView(0, 0, 99, 99);
    none.InitImage(100, 100, 0, 8, true, false);
    none.GetPixelReadout(r, 10, 10, "");
    EXPECT_EQ("", r.value);
    Access::SetSource(none, std::vector<uint8_t>(50, 3));
    none.GetPixelReadout(r, 99, 99, "");
    EXPECT_EQ("", r.value);
    none.GetPixelReadout(r, 10, 0, "");
    EXPECT_EQ("3", r.value);
    // Colour.
    CImageBase colour;
    colour.Transform().SetView(0, 0, 9, 9);
    colour.InitImage(10, 10, 0, 8, false, false);
    Access::SetSource(colour, std::vector<uint32_t>(100, 0x00123456u));
    colour.GetPixelReadout(r, 2, 3, "US");
    EXPECT_EQ("X=2, Y=3,RGB=18,52,86", r.value);
    EXPECT_EQ("0", r.position);
}

namespace {

// Patient direction named by a vector through the cosines: the largest component decides.
std::string DirectionLetter(double x, double y, double z)
{
    const double ax = std::fabs(x), ay = std::fabs(y), az = std::fabs(z);
    if (ax >= ay && ax >= az)
        return x > 0 ? "L" : "R";
    if (ay >= az)
        return y > 0 ? "P" : "A";
    return z > 0 ? "H" : "F";
}

} // namespace

// The letter at the left (top) edge names the patient direction of the image vector from the
// view's right-middle to left-middle point (bottom-middle to top-middle).
TEST(ImageBaseReadout, OrientationLettersFollowRotationAndFlips)
{
    const std::vector<std::vector<float>> orientations = {
        {1, 0, 0, 0, 1, 0}, {0, 1, 0, 0, 0, -1}, {-1, 0, 0, 0, 0, -1}, {0, -1, 0, 1, 0, 0}};
    for (const auto& cos : orientations)
        for (int rotation = 0; rotation < 4; ++rotation)
            for (int flips = 0; flips < 4; ++flips) {
                SCOPED_TRACE(::testing::Message() << "rotation " << rotation << " flips " << flips);
                CImageBase b;
                CImageTransform& t = b.Transform();
                t.SetView(0, 0, 120, 90);
                b.InitImage(60, 80, 0, 8, true, false);
                t.rotation = rotation;
                if (flips & 1)
                    t.Flip(true);
                if (flips & 2)
                    t.Flip(false);
                const RECT d = t.destRect;
                const float mx = (d.left + d.right) * 0.5f, my = (d.top + d.bottom) * 0.5f;
                auto through = [&](float x0, float y0, float x1, float y1) {
                    float a[2], c[2];
                    t.ViewToImage(x0, y0, a);
                    t.ViewToImage(x1, y1, c);
                    const double du = c[0] - a[0], dv = c[1] - a[1];
                    return DirectionLetter(du * cos[0] + dv * cos[3], du * cos[1] + dv * cos[4],
                                           du * cos[2] + dv * cos[5]);
                };
                OrientationMarkers m;
                b.GetOrientationMarkers(m, cos);
                EXPECT_EQ(through(float(d.right - 1), my, float(d.left), my), m.left);
                EXPECT_EQ(through(mx, float(d.bottom - 1), mx, float(d.top)), m.top);
            }
}
