#include "tests/image/RenderTestSupport.h"
#include "tests/support/TestTools.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/stat.h>

using render_test::Cell;
using render_test::Noise;

namespace {

struct Source {
    const char *name, *dtype, *photometric;
    int bits;
    bool grey, isSigned, invert;
    float windowWidth, windowCentre, slope, intercept; // width -1: no DICOM window
    render_test::SampleFn sample;
};

const Source kSources[] = {
    {"u8", "u8", "MONOCHROME2", 8, true, false, false, 180, 100, 1, 0, [](int x, int y) { return Noise(1, x, y, 0, 255); }},
    {"u12", "u16", "MONOCHROME1", 12, true, false, false, 3000, 1500, 1, 0, [](int x, int y) { return Noise(2, x, y, 0, 4095); }},
    {"u16", "u16", "MONOCHROME2", 16, true, false, true, -1, 0, 1, 0,
     [](int x, int y) { return (x + y) % 13 ? Noise(3, x, y, 0, 65535) : 65535u; }},
    {"s12", "i16", "MONOCHROME2", 12, true, true, false, 6000, 0, 2, 100,
     [](int x, int y) { return uint32_t(uint16_t((x + y) % 11 ? Noise(4, x, y, 0, 4095) - 2048 : (x & 1) ? 2047 : -2048)); }},
    {"rgb", "bgrx", "RGB", 8, false, false, false, -1, 0, 1, 0, [](int x, int y) { return Noise(5, x, y, 0, 0xFFFFFF); }},
};

std::string OracleDir(const char* folder) { return std::string(ORBEL_BINARY_DIR) + "/tests/image/" + folder; }

// Renders a w x h source (200 x 150 unless given) with 2 levels, applies a view, and
// describes the cell to the oracle; its files go to the folder's case name.
std::string RenderCase(const Source& s, const char* viewName, const std::function<void(CImageBase&)>& view,
                       int w = 200, int h = 150, const char* folder = "view_oracle")
{
    Cell cell(257, 191);
    CImageBase& im = cell.image;
    DicomRecord& d = im.GetPhotometricInterpretation();
    d = DicomRecord{s.photometric, 0, s.slope, s.intercept, s.windowWidth, s.windowCentre, -1, -1};
    cell.Init(w, h, 2, s.bits, s.grey, s.isSigned, s.sample);
    im.ApplyDicomWindow();
    if (s.invert)
        im.InvertGrey(true);
    if (!s.grey)
        im.AdjustWindowLevel(0, 40, true, false); // brightness 40
    cell.Render();
    view(im);
    cell.Decode();
    cell.Draw();

    const std::string base = OracleDir(folder) + "/" + s.name + "-" + viewName;
    EXPECT_TRUE(platform::SavePng(cell.bitmap, base + ".png"));
    size_t size = 0;
    const char* src = reinterpret_cast<const char*>(im.GetPixelBuffer(size));
    std::ofstream(base + ".raw", std::ios::binary).write(src, static_cast<std::streamsize>(size));
    int32_t c[7];
    im.GetTransformRegion(c);
    const RECT dr = cell.Dest();
    std::ostringstream o;
    o.precision(17);
    o << "{\"name\": \"" << s.name << "-" << viewName << "\", \"bitmap\": \"" << base << ".png\", \"source\": {\"path\": \"" << base
      << ".raw\", \"dtype\": \"" << s.dtype << "\", \"width\": " << c[4] << ", \"height\": " << c[5] << "}, \"region\": ["
      << c[0] << ", " << c[1] << ", " << c[2] << ", " << c[3] << "], \"dest\": [" << dr.left << ", " << dr.top << ", "
      << dr.right << ", " << dr.bottom << "], \"rotation\": " << im.Rotation() << ", \"hflip\": " << im.HorizontalFlip()
      << ", \"vflip\": " << im.VerticalFlip() << ", \"table\": {\"kind\": \"" << (s.grey ? "grey" : "colour")
      << "\", \"bits\": " << s.bits << ", \"signed\": " << s.isSigned << ", \"width\": " << double(im.WindowWidth())
      << ", \"centre\": " << double(im.WindowCentre()) << ", \"slope\": " << double(s.slope) << ", \"intercept\": "
      << double(s.intercept) << ", \"photometric\": \"" << s.photometric << "\", \"invert\": " << im.IsInverted()
      << ", \"brightness\": " << double(im.Brightness()) << "}}";
    return o.str();
}

} // namespace

// Cells of every sample kind, view and orientation against the independent oracle.
TEST(ImageRender, CellsMatchIndependentOracle)
{
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    ORBEL_REQUIRE_PYTHON_MODULE("PIL", "python3-pil");
    mkdir((std::string(ORBEL_BINARY_DIR) + "/tests/image/view_oracle").c_str(), 0755);
    const auto turn = [](CImageBase& b) { b.Rotate(true, true); b.Flip(true, true); };
    const std::pair<const char*, std::function<void(CImageBase&)>> views[] = {
        {"fit", [](CImageBase&) {}},
        {"fit-turned", turn},
        {"zoom-pan", [](CImageBase& b) { b.Zoom(3.7f, true, false); b.Pan(37, 37, true); }},
        {"zoom-pan-turned", [&](CImageBase& b) { turn(b); b.Zoom(3.7f, true, false); b.Pan(-37, -37, true); }},
        {"actual-size", [](CImageBase& b) { b.SetFitMode(1, true); b.Zoom(1.0f, true, true); }},
    };
    std::string cases;
    for (const Source& s : kSources)
        for (const auto& v : views)
            cases += (cases.empty() ? "" : ",\n") + RenderCase(s, v.first, v.second);
    const std::string json = std::string(ORBEL_BINARY_DIR) + "/tests/image/view_oracle/cases.json";
    std::ofstream(json) << "{\"cases\": [\n" << cases << "\n]}\n";
    const std::string cmd = OrbelTest::pythonCommand(ORBEL_SOURCE_DIR "/tests/image/scripts/view_oracle.py") + " " + json;
    EXPECT_EQ(0, std::system(cmd.c_str())) << cmd;
}

// Every pixel of small images, their outermost rows and columns too, at actual size (as
// the fit to actual size and as the zoom tool's cubic path draw it) in all eight
// orientations, inverted or not, and fitted and zoomed: each against the oracle, which
// also wants every pixel outside the image black.
TEST(ImageRender, EdgePixelsShownInEveryOrientation)
{
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    ORBEL_REQUIRE_PYTHON_MODULE("PIL", "python3-pil");
    const std::string dir = OracleDir("edge_oracle");
    struct Cleanup {
        std::string dir;
        ~Cleanup() { std::filesystem::remove_all(dir); }
    } cleanup{dir};
    std::filesystem::create_directories(dir);
    const auto orient = [](int turns, bool flip) {
        return [=](CImageBase& b) {
            for (int i = 0; i < turns; ++i)
                b.Rotate(true, true);
            if (flip)
                b.Flip(true, true);
        };
    };
    // Edge samples away from the table's black end, so a dropped edge cannot pass as black.
    const Source bright[] = {
        {"u12", "u16", "MONOCHROME2", 12, true, false, false, 3000, 1500, 1, 0,
         [](int x, int y) { return Noise(11, x, y, 1000, 4095); }},
        {"s12", "i16", "MONOCHROME2", 12, true, true, false, 6000, 0, 2, 100,
         [](int x, int y) { return uint32_t(uint16_t(Noise(12, x, y, 0, 2047) - 1000)); }},
        {"u8", "u8", "MONOCHROME2", 8, true, false, false, 180, 100, 1, 0, [](int x, int y) { return Noise(13, x, y, 60, 255); }},
    };
    std::string cases;
    for (const int size : {16, 64})
        for (const Source& source : bright)
            for (const bool inverted : {false, true}) {
                Source s = source;
                s.invert = inverted;
                for (int o = 0; o < 8; ++o) {
                    const auto turn = orient(o % 4, o >= 4);
                    const std::string tag = std::to_string(size) + (inverted ? "-inv-" : "-") + std::to_string(o);
                    const std::pair<std::string, std::function<void(CImageBase&)>> views[] = {
                        {"actual-" + tag, [&](CImageBase& b) { b.SetFitMode(1, true); turn(b); }},
                        {"actual-cubic-" + tag, [&](CImageBase& b) { turn(b); b.SetFitMode(1, true); b.Zoom(1.0f, true, true); }},
                        {"fit-" + tag, [&](CImageBase& b) { turn(b); }},
                        {"zoom-" + tag, [&](CImageBase& b) { turn(b); b.Zoom(0.5f, true, false); }},
                    };
                    for (const auto& v : views)
                        cases += (cases.empty() ? "" : ",\n") + RenderCase(s, v.first.c_str(), v.second, size, size,
                                                                           "edge_oracle");
                }
            }
    const std::string json = dir + "/cases.json";
    std::ofstream(json) << "{\"cases\": [\n" << cases << "\n]}\n";
    const std::string cmd = OrbelTest::pythonCommand(ORBEL_SOURCE_DIR "/tests/image/scripts/view_oracle.py") + " " +
                            json + " > " + dir + "/report.txt";
    const int status = std::system(cmd.c_str());
    std::ifstream report(dir + "/report.txt");
    std::string failures;
    for (std::string line; std::getline(report, line);)
        if (line.rfind("ok ", 0) != 0)
            failures += line + "\n";
    EXPECT_EQ(0, status) << failures;
}

// Each view sample of a 256 x row + column image decodes to the level position that the
// inverse view mapping gives, in all 16 orientations, fitted, zoomed and panned.
TEST(ImageRender, GeometryFollowsViewToImage)
{
    for (int case_ = 0; case_ < 64; ++case_) {
        const int orientation = case_ % 16, view = case_ / 16;
        Cell cell(257, 191);
        cell.Init(240, 180, 1, 16, true, false, [](int x, int y) { return uint32_t(256 * y + x); });
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
                const uint16_t v = cell.Sample16(x, y);
                float p[2];
                cell.image.Transform().ViewToImage(float(x), float(y), p);
                worst = std::max({worst, std::fabs((v & 255) - double(p[0])), std::fabs((v >> 8) - double(p[1]))});
            }
        // Margin and truncated region: up to three pixels, plus half a pixel of nearest
        // sampling; four where a turned cell, fitted to its turned size, is zoomed and panned.
        EXPECT_LE(worst, orientation % 2 ? 4.0 : 3.5) << "orientation " << orientation << " view " << view;
    }
}

// The cubic path through the zoomed image: constants stay constant, a ramp stays monotonic,
// and the signed source comes back unchanged from every copy.
TEST(ImageRender, CubicPathKeepsValues)
{
    for (int k = 0; k < 5; ++k) {
        const bool isSigned = k % 2, ramp = k >= 2, turned = k == 4;
        const int base = isSigned ? -1000 : 3000;
        Cell cell(257, 191);
        cell.Init(200, 150, 1, 12, true, isSigned, [&](int x, int) { return uint32_t(uint16_t(base + (ramp ? 10 * x : 0))); });
        cell.Render();
        if (turned)
            cell.image.Rotate(true, true); // the source's x runs down the view
        for (float zoom : {2.5f, 1.0f}) {
            cell.image.Zoom(zoom, true, zoom == 1.0f);
            cell.Decode();
            size_t size = 0;
            const uint8_t* src = cell.image.GetPixelBuffer(size);
            EXPECT_TRUE(std::equal(src, src + size, cell.sourceAfterFill.begin())) << k;
            const RECT d = cell.Dest();
            for (int y = d.top + 3; y < d.bottom - 2; ++y)
                for (int x = d.left + 3; x < d.right - 2; ++x) {
                    const int v = int16_t(cell.Sample16(x, y));
                    const int prev = int16_t(turned ? cell.Sample16(x, y - 1) : cell.Sample16(x - 1, y));
                    ASSERT_TRUE(ramp ? prev <= v : v == base) << k << " at " << x << "," << y;
                }
        }
    }
}

// Geometry and drags given before the source is known take effect at the first render as
// if given after it; a fit mode without render changes no pixel.
TEST(ImageRender, DeferredCommandsReplayAtFirstRender)
{
    const auto commands = [](Cell& cell, bool render) {
        CImageBase& b = cell.image;
        const std::function<void()> steps[] = {[&] { b.Zoom(2.0f, render, false); }, [&] { b.Rotate(true, render); },
                                               [&] { b.Flip(true, render); }, [&] { b.Pan(10, -5, render); },
                                               [&] { b.AdjustWindowLevel(20, 10, render, false); }};
        for (const auto& step : steps) {
            step();
            if (!render)
                cell.SetView(false);
        }
    };
    const auto noise = [](int x, int y) { return Noise(6, x, y, 0, 4095); };
    Cell before(201, 201), after(201, 201);
    commands(before, false);
    before.image.SetViewRect(0, 0, 150, 150, nullptr, false); // a resize and back: the zoom counts once
    before.SetView(false);
    before.Init(160, 160, 1, 12, true, false, noise);
    before.Render();
    after.Init(160, 160, 1, 12, true, false, noise);
    after.Render();
    commands(after, true);
    after.Decode();
    after.Draw();
    EXPECT_NE(before.Pixels(), Cell(201, 201).Pixels());
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
    const auto noise = [](int x, int y) { return Noise(7, x, y, 1, 255); };
    Cell cell(257, 191);
    cell.Init(200, 150, 2, 8, true, false, noise);
    cell.SetView(true);
    cell.Decode();
    const std::vector<uint8_t> black = cell.Pixels();
    cell.image.DrawToBitmap(cell.dc, cell.bitmap, true, 0, 0, 255, 190); // one pixel short
    EXPECT_EQ(black, cell.Pixels());
    cell.Draw();
    HBITMAP dib24 = cell.NewBitmap(24);
    cell.Draw(dib24);
    EXPECT_NE(black, cell.Pixels());
    EXPECT_EQ(cell.Pixels(), cell.Pixels(dib24));
    DeleteObject(dib24);
    // The same size keeps the buffers; one pixel more remakes them zeroed; inverted draws nothing.
    const uint8_t* samples = cell.image.ViewSamples().data();
    cell.SetView(true);
    EXPECT_EQ(samples, cell.image.ViewSamples().data());
    cell.image.SetViewRect(0, 0, 190, 257, nullptr, true);
    EXPECT_EQ(std::vector<uint8_t>(258 * 191), cell.image.ViewSamples());
    cell.image.SetViewRect(50, 50, 10, 10, nullptr, true);
    const std::vector<uint8_t> shown = cell.Pixels();
    cell.Decode();
    cell.image.DrawToBitmap(cell.dc, cell.bitmap, true, 50, 50, 10, 10);
    EXPECT_EQ(shown, cell.Pixels());

    // Zooming out keeps the finer level; a pan inside the known-good region asks for nothing.
    int32_t p[7];
    cell.SetView(true);
    cell.image.Zoom(0.2f, true, false);
    cell.image.GetPendingRegion(p);
    EXPECT_EQ(0, p[kRegionLevel]);
    cell.image.Zoom(3.7f, true, false);
    cell.Decode();
    cell.image.SetDecodedRegion(0, 0, 200, 150, 0, true);
    cell.image.Pan(5, 5, true);
    cell.image.GetPendingRegion(p);
    EXPECT_EQ(0, p[0] | p[1] | p[2] | p[3]);

    // A source too large for the finest level keeps the coarser one.
    Cell large(257, 191);
    large.Init(10001, 10001, 3, 8, true, false, noise);
    large.Render();
    large.image.SetFitMode(1, true);
    large.image.GetPendingRegion(p);
    size_t size = 0;
    large.image.GetPixelBuffer(size);
    EXPECT_EQ(3, p[kRegionLevel]);
    EXPECT_EQ(1250u * 1250u, size);
    // Its first buffer, asked for at actual size, is made at the finest level that fits.
    Cell first(257, 191);
    first.Init(10001, 10001, 3, 8, true, false, noise);
    first.image.SetFitMode(1, false);
    first.Render();
    first.image.GetPendingRegion(p);
    first.image.GetPixelBuffer(size);
    EXPECT_EQ(1, p[kRegionLevel]);
    EXPECT_EQ(5000u * 5000u, size);
}

// Random command sequences keep the source buffer at the level size and the request inside it.
TEST(ImageRender, RandomCommandsKeepBuffersConsistent)
{
    std::mt19937 rng(31);
    const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    for (int sequence = 0; sequence < 2000; ++sequence) {
        Cell cell(64 + pick(200), 64 + pick(200));
        const bool grey = pick(4) != 0, isSigned = grey && pick(2);
        const int bits = grey ? 1 + pick(16) : 8, w = 1 + pick(700), h = 1 + pick(700);
        cell.Init(w, h, pick(5), bits, grey, isSigned, [](int x, int y) { return Noise(8, x, y, 0, 65535); });
        CImageBase& b = cell.image;
        for (int step = 0; step < 8; ++step) {
            const bool render = pick(4) != 0;
            const int x = pick(400) - 200, y = pick(400) - 200, e = pick(90);
            switch (pick(11)) {
            case 0: b.Zoom(std::ldexp(1.0f, pick(9) - 4), render, pick(3) == 0); break;
            case 1: b.Pan(x, y, render); break;
            case 2: b.Rotate(pick(2), render); break;
            case 3: b.Flip(pick(2), render); break;
            case 4: b.SetFitMode(pick(6), render); break;
            case 5: b.ResetView(render); break;
            case 6: b.ZoomToRect(x + 200, y + 200, x + 200 + e, y + 200 + e); break;
            case 7: b.SetViewRect(0, 0, 40 + pick(260), 40 + pick(260), nullptr, render); break;
            case 8: b.AdjustWindowLevel(x, y, render, pick(2)); break;
            case 9: cell.Decode(); break;
            default: b.RenderMagnifier(0, 0, x + 100, y + 100, x + 250, y + 250, pick(4)); b.DrawMagnifier(cell.dc);
            }
            int32_t p[7];
            b.GetPendingRegion(p);
            size_t size = 0;
            b.GetPixelBuffer(size);
            const int level = p[kRegionLevel];
            ASSERT_EQ(size_t(w >> level) * size_t(h >> level) * (!grey ? 4 : (isSigned || bits > 8) ? 2 : 1), size);
            ASSERT_EQ(w >> level, p[kRegionWidth]);
            ASSERT_TRUE(p[0] >= 0 && p[1] >= 0 && p[0] <= p[2] && p[1] <= p[3] && p[2] <= p[4] && p[3] <= p[5]) << sequence;
        }
    }
}

// A repaint may reuse the last conversion only while samples, table and view are unchanged:
// a cell drawn before each change must end exactly like one that was not, and the change
// must show.
TEST(ImageRender, RepaintShowsEveryChangeSinceTheLastDraw)
{
    const Source* kinds[] = {&kSources[0], &kSources[1], &kSources[3], &kSources[4]};
    const std::pair<const char*, std::function<void(Cell&)>> changes[] = {
        {"new samples", [](Cell& c) { c.sample = [](int x, int y) { return Noise(9, x, y, 0, 255); }; c.Decode(); }},
        {"window", [](Cell& c) { c.image.AdjustWindowLevel(25, -40, true, false); }},
        {"invert", [](Cell& c) { c.image.InvertGrey(true); }},
        {"zoom", [](Cell& c) { c.image.Zoom(2.0f, true, false); c.Decode(); }},
        {"view size", [](Cell& c) { c.image.SetViewRect(0, 0, c.vh - 1, c.vw - 1 - 16, nullptr, true); c.Decode(); }},
    };
    for (const Source* s : kinds)
        for (const auto& change : changes) {
            if (!s->grey && std::string(change.first) == "invert")
                continue;
            SCOPED_TRACE(std::string(s->name) + ", " + change.first);
            Cell drawn(257, 191), plain(257, 191);
            std::vector<uint8_t> before;
            for (Cell* c : {&drawn, &plain}) {
                DicomRecord& d = c->image.GetPhotometricInterpretation();
                d = DicomRecord{s->photometric, 0, s->slope, s->intercept, s->windowWidth, s->windowCentre, -1, -1};
                c->Init(200, 150, 2, s->bits, s->grey, s->isSigned, s->sample);
                c->image.ApplyDicomWindow();
                c->SetView(true);
                c->Decode();
                if (c == &drawn) {
                    c->Draw();
                    before = c->Pixels();
                    c->Draw();
                    EXPECT_EQ(before, c->Pixels());
                }
                change.second(*c);
            }
            // The smaller view draws into a bitmap of its own size.
            const bool resized = std::string(change.first) == "view size";
            Cell* cells[] = {&drawn, &plain};
            std::vector<uint8_t> after[2];
            for (int i = 0; i < 2; ++i) {
                HBITMAP target = resized ? CreateCompatibleBitmap(cells[i]->dc, cells[i]->vw - 17, cells[i]->vh - 1)
                                         : nullptr;
                HGDIOBJ old = target ? SelectObject(cells[i]->dc, target) : nullptr;
                cells[i]->image.DrawToBitmap(cells[i]->dc, target ? target : cells[i]->bitmap, true, 0, 0,
                                             cells[i]->vw - 1 - (resized ? 16 : 0), cells[i]->vh - 1);
                if (target)
                    SelectObject(cells[i]->dc, old);
                after[i] = cells[i]->Pixels(target);
                if (target)
                    DeleteObject(target);
            }
            EXPECT_EQ(after[1], after[0]);
            if (!resized) {
                EXPECT_NE(before, after[0]);
            }
        }
}
