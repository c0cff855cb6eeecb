#include "tests/image/RenderTestSupport.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/stat.h>

using render_test::Cell;
using render_test::Noise;

namespace {

bool PythonWithNumpy()
{
    const std::string cmd = std::string(ORBEL_PYTHON) + " -c 'import numpy, PIL' >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

std::string OracleDir()
{
    const std::string dir = std::string(ORBEL_BINARY_DIR) + "/tests/image/view_oracle";
    mkdir(dir.c_str(), 0755);
    return dir;
}

std::string Rect(const RECT& r)
{
    std::ostringstream o;
    o << "[" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << "]";
    return o.str();
}

struct Source {
    const char* name;
    int bits;
    bool grey, isSigned;
    const char* photometric;
    float windowWidth, windowCentre, slope, intercept; // window width -1: none
    bool invert;
    const char* dtype;
    render_test::SampleFn sample;
};

const Source kSources[] = {
    {"u8", 8, true, false, "MONOCHROME2", 180, 100, 1, 0, false, "u8",
     [](int x, int y) { return Noise(1, x, y, 0, 255); }},
    {"u12", 12, true, false, "MONOCHROME1", 3000, 1500, 1, 0, false, "u16",
     [](int x, int y) { return Noise(2, x, y, 0, 4095); }},
    {"u16", 16, true, false, "MONOCHROME2", -1, 0, 1, 0, true, "u16",
     [](int x, int y) { return (x + y) % 13 == 0 ? 65535u : Noise(3, x, y, 0, 65535); }},
    {"s12", 12, true, true, "MONOCHROME2", 6000, 0, 2, 100, false, "i16",
     [](int x, int y) {
         const int v = (x + y) % 11 == 0 ? ((x & 1) ? 2047 : -2048) : static_cast<int>(Noise(4, x, y, 0, 4095)) - 2048;
         return static_cast<uint32_t>(static_cast<uint16_t>(v));
     }},
    {"rgb", 8, false, false, "RGB", -1, 0, 1, 0, false, "bgrx",
     [](int x, int y) { return Noise(5, x, y, 0, 0xFFFFFF); }},
};

void Prepare(Cell& cell, const Source& s)
{
    DicomRecord& d = cell.image.GetPhotometricInterpretation();
    d.photometricInterpretation = s.photometric;
    d.rescaleSlope = s.slope;
    d.rescaleIntercept = s.intercept;
    d.windowWidth = s.windowWidth;
    d.windowCentre = s.windowCentre;
    cell.Init(200, 150, 2, s.bits, s.grey, s.isSigned, s.sample);
    cell.image.ApplyDicomWindow();
    if (s.invert)
        cell.image.InvertGrey(true);
    if (!s.grey)
        cell.image.AdjustWindowLevel(0, 40, true, false); // brightness 40
    cell.Render();
}

// Saves the cell and what it was made from; returns the oracle's case description.
std::string SaveCase(Cell& cell, const Source& s, const std::string& name)
{
    const std::string base = OracleDir() + "/" + name;
    EXPECT_TRUE(platform::SavePng(cell.bitmap_, base + ".png"));
    size_t size = 0;
    const uint8_t* src = cell.image.GetPixelBuffer(size);
    std::ofstream(base + ".raw", std::ios::binary).write(reinterpret_cast<const char*>(src), static_cast<std::streamsize>(size));
    int32_t c[7];
    cell.image.GetTransformRegion(c);
    CImageBase& im = cell.image;
    std::ostringstream o;
    o.precision(17);
    o << "{\"name\": \"" << name << "\", \"bitmap\": \"" << base << ".png\", \"source\": {\"path\": \"" << base
      << ".raw\", \"format\": \"raw\", \"dtype\": \"" << s.dtype << "\", \"width\": " << c[4]
      << ", \"height\": " << c[5] << "}, \"region\": " << Rect(RECT{c[0], c[1], c[2], c[3]})
      << ", \"dest\": " << Rect(cell.Dest()) << ", \"rotation\": " << im.Rotation()
      << ", \"hflip\": " << im.HorizontalFlip() << ", \"vflip\": " << im.VerticalFlip() << ", \"table\": ";
    if (s.grey)
        o << "{\"kind\": \"grey\", \"bits\": " << s.bits << ", \"signed\": " << s.isSigned << ", \"width\": "
          << static_cast<double>(im.WindowWidth()) << ", \"centre\": " << static_cast<double>(im.WindowCentre())
          << ", \"slope\": " << static_cast<double>(s.slope) << ", \"intercept\": " << static_cast<double>(s.intercept)
          << ", \"photometric\": \"" << s.photometric << "\", \"invert\": " << im.IsInverted() << "}}";
    else
        o << "{\"kind\": \"colour\", \"brightness\": " << static_cast<double>(im.Brightness())
          << ", \"invert\": " << im.IsInverted() << "}}";
    return o.str();
}

} // namespace

// Cells of every sample kind, view and orientation against the independent oracle.
TEST(ImageRender, CellsMatchIndependentOracle)
{
    if (!PythonWithNumpy()) {
        if (const char* ci = std::getenv("CI"); ci && std::string(ci) == "true")
            FAIL() << ORBEL_PYTHON << " lacks numpy or PIL";
        GTEST_SKIP() << ORBEL_PYTHON << " lacks numpy or PIL";
    }
    struct View {
        const char* name;
        std::function<void(CImageBase&)> apply;
    };
    const View views[] = {
        {"fit", [](CImageBase&) {}},
        {"fit-turned", [](CImageBase& b) { b.Rotate(true, true); b.Flip(true, true); }},
        {"zoom-pan", [](CImageBase& b) { b.Zoom(3.7f, true, false); b.Pan(37, 37, true); }},
        {"zoom-pan-turned", [](CImageBase& b) { b.Rotate(true, true); b.Flip(true, true); b.Zoom(3.7f, true, false); b.Pan(-37, -37, true); }},
        {"actual-size", [](CImageBase& b) { b.SetFitMode(1, true); b.Zoom(1.0f, true, true); }},
    };
    std::string cases;
    for (const Source& s : kSources)
        for (const View& v : views) {
            Cell cell(257, 191);
            Prepare(cell, s);
            v.apply(cell.image);
            cell.Decode();
            cell.Draw();
            cases += (cases.empty() ? "" : ",\n") + SaveCase(cell, s, std::string(s.name) + "-" + v.name);
        }
    const std::string json = OracleDir() + "/cases.json";
    std::ofstream(json) << "{\"cases\": [\n" << cases << "\n]}\n";
    const std::string cmd = std::string(ORBEL_PYTHON) + " " ORBEL_SOURCE_DIR "/tests/image/scripts/view_oracle.py " + json;
    EXPECT_EQ(0, std::system(cmd.c_str())) << cmd;
}

// Each view sample of a 256 x row + column image decodes to the level position that the
// inverse view mapping gives, in all 16 orientations, fitted, zoomed and panned.
TEST(ImageRender, GeometryFollowsViewToImage)
{
    for (int orientation = 0; orientation < 16; ++orientation)
        for (int view = 0; view < 4; ++view) {
            Cell cell(257, 191);
            cell.Init(240, 180, 1, 16, true, false, [](int x, int y) { return static_cast<uint32_t>(256 * y + x); });
            cell.Render();
            for (int r = 0; r < orientation % 4; ++r)
                cell.image.Rotate(true, true);
            if (orientation & 4)
                cell.image.Flip(true, true);
            if (orientation & 8)
                cell.image.Flip(false, true);
            if (view > 0)
                cell.image.Zoom(3.7f, true, false);
            if (view > 1)
                cell.image.Pan(view == 2 ? 37 : -37, view == 2 ? 37 : -37, true);
            cell.Decode();
            const RECT d = cell.Dest();
            double worst = 0;
            for (int y = d.top + 2; y < d.bottom - 2; ++y)
                for (int x = d.left + 2; x < d.right - 2; ++x) {
                    const uint16_t v = cell.ViewSample<uint16_t>(x, y);
                    float p[2];
                    cell.image.Transform().ViewToImage(static_cast<float>(x), static_cast<float>(y), p);
                    worst = std::max({worst, std::fabs((v & 255) - double(p[0])), std::fabs((v >> 8) - double(p[1]))});
                }
            // Three pixels of margin and truncation, plus half a pixel of nearest sampling.
            EXPECT_LE(worst, 3.5) << "orientation " << orientation << " view " << view;
        }
}

// The cubic path through the zoomed image: constants stay constant, a ramp stays monotonic,
// and the signed source comes back unchanged from every copy.
TEST(ImageRender, CubicPathKeepsValues)
{
    struct Case {
        bool isSigned, ramp;
        int turns;
    } cases[] = {{false, false, 0}, {true, false, 1}, {false, true, 0}, {true, true, 0}, {true, true, 1}};
    for (const Case& k : cases) {
        const int base = k.isSigned ? -1000 : 3000;
        Cell cell(257, 191);
        cell.Init(200, 150, 1, 12, true, k.isSigned, [&](int x, int) {
            return static_cast<uint32_t>(static_cast<uint16_t>(base + (k.ramp ? 10 * x : 0)));
        });
        cell.Render();
        for (int r = 0; r < k.turns; ++r)
            cell.image.Rotate(true, true);
        for (int step = 0; step < 2; ++step) {
            if (step == 0)
                cell.image.Zoom(2.5f, true, false);
            else
                cell.image.Zoom(1.0f, true, true);
            cell.Decode();
            size_t size = 0;
            const uint8_t* src = cell.image.GetPixelBuffer(size);
            EXPECT_TRUE(std::equal(src, src + size, cell.sourceAfterFill.begin())) << "source changed by a copy";
            const RECT d = cell.Dest();
            // Odd turns run the source's x down the view.
            const int along = k.turns % 2 ? 1 : 0;
            for (int y = d.top + 2; y < d.bottom - 2; ++y)
                for (int x = d.left + 2; x < d.right - 2; ++x) {
                    const int v = static_cast<int16_t>(cell.ViewSample<uint16_t>(x, y));
                    if (!k.ramp)
                        ASSERT_EQ(base, v) << x << "," << y;
                    else if ((along ? y : x) > (along ? d.top : d.left) + 2) {
                        const int prev = static_cast<int16_t>(cell.ViewSample<uint16_t>(x - !along, y - along));
                        ASSERT_LE(prev, v) << x << "," << y;
                    }
                }
        }
    }
}

// Geometry and drags given before the source is known take effect at the first render as
// if given after it; a fit mode without render changes no pixel.
TEST(ImageRender, DeferredCommandsReplayAtFirstRender)
{
    const auto sample = [](int x, int y) { return Noise(6, x, y, 0, 4095); };
    const auto commands = [](CImageBase& b, bool render, Cell* cell) {
        const std::function<void()> steps[] = {
            [&] { b.Zoom(2.0f, render, false); }, [&] { b.Rotate(true, render); }, [&] { b.Flip(true, render); },
            [&] { b.Pan(10, -5, render); }, [&] { b.AdjustWindowLevel(20, 10, render, false); }};
        for (const auto& step : steps) {
            step();
            if (cell)
                cell->SetView(false);
        }
    };
    Cell before(201, 201), after(201, 201);
    commands(before.image, false, &before);
    before.Init(160, 160, 1, 12, true, false, sample);
    before.Render();
    after.Init(160, 160, 1, 12, true, false, sample);
    after.Render();
    commands(after.image, true, nullptr);
    after.Decode();
    after.Draw();
    EXPECT_NE(0, *std::max_element(before.image.ViewSamples().begin(), before.image.ViewSamples().end()));
    EXPECT_EQ(after.image.ViewSamples(), before.image.ViewSamples());
    EXPECT_EQ(after.Pixels(), before.Pixels());
    EXPECT_EQ(4096 + 60.0f, before.image.WindowWidth()); // the drag counts once
    EXPECT_EQ(after.image.WindowCentre(), before.image.WindowCentre());
    std::string a, b;
    EXPECT_EQ(after.image.GetDisplayStateText(a), before.image.GetDisplayStateText(b));

    const std::vector<uint8_t> shown = after.Pixels();
    after.image.SetFitMode(2, false);
    after.Decode();
    after.Draw();
    EXPECT_EQ(shown, after.Pixels());
}

TEST(ImageRender, BuffersAndRegions)
{
    const auto sample = [](int x, int y) { return Noise(7, x, y, 1, 255); };
    {   // Same size keeps the buffers, one pixel more remakes them zeroed, inverted draws nothing.
        Cell cell(257, 191);
        cell.Init(200, 150, 2, 8, true, false, sample);
        cell.Render();
        const uint8_t* samples = cell.image.ViewSamples().data();
        cell.SetView(true);
        EXPECT_EQ(samples, cell.image.ViewSamples().data());
        cell.image.SetViewRect(0, 0, 190, 257, nullptr, true);
        EXPECT_EQ(258u * 191u, cell.image.ViewSamples().size());
        EXPECT_EQ(0, *std::max_element(cell.image.ViewSamples().begin(), cell.image.ViewSamples().end()));
        cell.image.SetViewRect(50, 50, 10, 10, nullptr, true);
        const std::vector<uint8_t> untouched = cell.Pixels();
        cell.Decode();
        cell.image.DrawToBitmap(cell.dc_, cell.bitmap_, true, 50, 50, 10, 10);
        EXPECT_EQ(untouched, cell.Pixels());
    }
    {   // A rectangle one pixel short leaves the bitmap alone; a 24-bit section gets the picture.
        Cell cell(257, 191);
        cell.Init(200, 150, 2, 8, true, false, sample);
        cell.SetView(true);
        cell.Decode();
        const std::vector<uint8_t> black = cell.Pixels();
        cell.image.DrawToBitmap(cell.dc_, cell.bitmap_, true, 0, 0, 255, 190);
        EXPECT_EQ(black, cell.Pixels());
        cell.Draw();
        HBITMAP dib24 = cell.NewBitmap(24);
        cell.Draw(dib24);
        EXPECT_NE(black, cell.Pixels());
        EXPECT_EQ(cell.Pixels(), cell.Pixels(dib24));
        DeleteObject(dib24);
    }
    {   // A source too large for the finest level keeps the coarser one.
        Cell cell(257, 191);
        cell.Init(10001, 10001, 3, 8, true, false, sample);
        cell.Render();
        cell.image.SetFitMode(1, true);
        int32_t p[7];
        cell.image.GetPendingRegion(p);
        size_t size = 0;
        cell.image.GetPixelBuffer(size);
        EXPECT_EQ(3, p[kRegionLevel]);
        EXPECT_EQ(1250u * 1250u, size);
    }
    {   // Zooming out keeps the finer level; a pan inside the known-good region asks for nothing.
        Cell cell(257, 191);
        cell.Init(200, 150, 2, 8, true, false, sample);
        cell.Render();
        cell.image.Zoom(0.2f, true, false);
        int32_t p[7];
        cell.image.GetPendingRegion(p);
        EXPECT_EQ(0, p[kRegionLevel]);
        cell.image.Zoom(3.7f, true, false);
        cell.Decode();
        cell.image.SetDecodedRegion(0, 0, 200, 150, 0, true);
        cell.image.Pan(5, 5, true);
        cell.image.GetPendingRegion(p);
        EXPECT_EQ(0, p[0] | p[1] | p[2] | p[3]);
    }
}

// Random command sequences keep the source buffer at the level size and the request inside it.
TEST(ImageRender, RandomCommandsKeepBuffersConsistent)
{
    std::mt19937 rng(31);
    for (int sequence = 0; sequence < 2000; ++sequence) {
        Cell cell(64 + static_cast<int>(rng() % 200), 64 + static_cast<int>(rng() % 200));
        const bool grey = rng() % 4 != 0;
        const int bits = grey ? 1 + static_cast<int>(rng() % 16) : 8;
        const bool isSigned = grey && rng() % 2;
        const int w = 1 + static_cast<int>(rng() % 700), h = 1 + static_cast<int>(rng() % 700);
        cell.Init(w, h, static_cast<int>(rng() % 5), bits, grey, isSigned, [](int x, int y) { return Noise(8, x, y, 0, 65535); });
        CImageBase& b = cell.image;
        for (int step = 0; step < 8; ++step) {
            const bool render = rng() % 4 != 0;
            const int a = static_cast<int>(rng() % 400) - 200, c = static_cast<int>(rng() % 400) - 200;
            switch (rng() % 11) {
            case 0: b.Zoom(std::ldexp(1.0f, static_cast<int>(rng() % 9) - 4), render, rng() % 3 == 0); break;
            case 1: b.Pan(a, c, render); break;
            case 2: b.Rotate(rng() % 2, render); break;
            case 3: b.Flip(rng() % 2, render); break;
            case 4: b.SetFitMode(static_cast<int>(rng() % 6), render); break;
            case 5: b.ResetView(render); break;
            case 6: b.ZoomToRect(a + 200, c + 200, a + 200 + static_cast<int>(rng() % 90), c + 200 + static_cast<int>(rng() % 90)); break;
            case 7: b.SetViewRect(0, 0, 40 + static_cast<int>(rng() % 260), 40 + static_cast<int>(rng() % 260), nullptr, render); break;
            case 8: b.AdjustWindowLevel(a, c, render, rng() % 2); break;
            case 9: cell.Decode(); break;
            default: b.RenderMagnifier(0, 0, a + 100, c + 100, a + 250, c + 250, static_cast<int>(rng() % 4)); b.DrawMagnifier(cell.dc_); break;
            }
            int32_t p[7];
            b.GetPendingRegion(p);
            size_t size = 0;
            b.GetPixelBuffer(size);
            const size_t bpp = !grey ? 4 : (isSigned || bits > 8) ? 2 : 1;
            ASSERT_EQ(static_cast<size_t>(w >> p[kRegionLevel]) * static_cast<size_t>(h >> p[kRegionLevel]) * bpp, size);
            ASSERT_EQ(w >> p[kRegionLevel], p[kRegionWidth]);
            ASSERT_TRUE(p[0] >= 0 && p[1] >= 0 && p[2] <= p[kRegionWidth] && p[3] <= p[kRegionHeight] && p[0] <= p[2] && p[1] <= p[3])
                << p[0] << " " << p[1] << " " << p[2] << " " << p[3] << " at " << sequence;
        }
    }
}
