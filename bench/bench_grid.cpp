// The grid's road timed end to end against the loopback server on the real clock (the
// decode timer ticks every 100 ms as in the viewer), beside the stream alone and two
// decoders of the complete file, alternating within each round; and the grid's paint and
// presentation beside their bare floors.
//
// ORBEL_GRID_BENCH_DIR names the served images (compare_grid.sh makes them): 1_1_1_1_1.jp2,
// 2048 x 2048 12-bit lossless with 256 x 256 tiles; 1_1_1_2_1.jp2, 512 x 512 12-bit CT;
// 1_1_1_3_1.jp2, 2048 x 2048 RGB 9/7. Without it the paint and presentation cases use the
// grid tests' images and the road cases are skipped. ORBEL_BENCH_QUICK=1 runs one round.
#include "bench/BenchQuick.h"
#include "bench/BenchScratch.h"
#include "bench/LoopbackFetcher.h"
#include "bench/PssiDocument.h"
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KImageLoader.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "R2IVuzi/StartupValues.h"
#include "codec/core/rvd_message.h"
#include "image/ImageBase.h"
#include "platform/Gdi.h"
#include "platform/Kernel.h"
#include "platform/ModuleStartup.h"
#include "platform/Win32.h"
#include "tests/R2IVuzi/support/GridHarness.h"
#include "tests/support/TestTools.h"

#include <benchmark/benchmark.h>
#include <tinyxml.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); }

double median(std::vector<double> v)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The module's start-up steps and the codec's error formatter, as the viewer's module
// and control set them up; once per process.
bool loadModule()
{
    static const bool loaded = [] {
        setenv("ORBEL_RESOURCES", ORBEL_SOURCE_DIR "/resources", 1);
        if (!ModuleLoad())
            return false;
        rvd_customize_errors(&GetCodecErrorFormatter());
        return true;
    }();
    return loaded;
}

std::string benchDir()
{
    const char* dir = std::getenv("ORBEL_GRID_BENCH_DIR");
    return dir ? dir : "";
}

// The served images: compare_grid.sh's folder, else the grid tests' own, made in the run's
// temporary folder.
std::string servedDir()
{
    if (!benchDir().empty())
        return benchDir();
    setenv("ORBEL_FIXTURE_DIR", benchscratch::folder().c_str(), 0);
    return gridtest::corpusDir();
}

// The module loaded and the served folder, or empty with the case skipped.
std::string readyServedDir(benchmark::State& state)
{
    if (!loadModule()) {
        state.SkipWithError("the module's start-up failed");
        return std::string();
    }
    const std::string dir = servedDir();
    if (dir.empty())
        state.SkipWithError("no served images");
    return dir;
}

bool served(const std::string& dir, int n)
{
    return std::filesystem::exists(dir + "/1_1_1_" + std::to_string(n) + "_1.jp2");
}

double timedCommand(const std::string& command)
{
    const auto start = Clock::now();
    const int rc = std::system(command.c_str());
    const double ms = msSince(start);
    return rc == 0 ? ms : -1.0;
}

struct RoadTimes {
    double first = -1, last = -1;
};

// showStackItem to the first and the last painted increment, read at the end of each
// decode step (the pump may run several messages between two looks); the clock stays
// real, so the decode timer runs at the viewer's pace.
bool road(gridtest::GridHarness& h, int n, RoadTimes& out)
{
    platform::UseRealClock();
    gridtest::RecordingGrid& grid = *h.grid;
    int seen = 0;
    const auto start = Clock::now();
    const bool trace = std::getenv("ORBEL_GRID_BENCH_STEPS") != nullptr;
    grid.afterStep = [&](int step) {
        if (trace)
            std::fprintf(stderr, "step %d ends at %.0f ms, %d increments in all\n", step, msSince(start),
                         grid.increments);
        if (grid.increments != seen) {
            seen = grid.increments;
            out.last = msSince(start);
            if (out.first < 0)
                out.first = out.last;
        }
    };
    grid.showStackItem(h.item(n));
    const bool ended = platform::PumpUntil(
        [&] { return grid.arrivals >= 1 && grid.getDecodeTimer() == 0 && grid.getAnimationTimer() == 0; }, 300000);
    grid.afterStep = nullptr;
    if (trace) {
        const std::vector<std::string> replies = h.serverLines("\"kind\": \"region\"");
        const size_t at = replies.empty() ? std::string::npos : replies.back().find("\"time\": ");
        if (at != std::string::npos) {
            const double end = std::stod(replies.back().substr(at + 8)) * 1000.0;
            const double now = std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
            std::fprintf(stderr, "last reply at %.0f ms, %zu replies\n", end - (now - msSince(start)), replies.size());
        }
    }
    return ended && out.first >= 0;
}

// One image on screen: the road, then the stream alone and both decoders of the whole
// file, in turn each round. Counters are the medians in milliseconds; budget is the
// stream plus 1.5 times j2k_decode's time; read is a plain read of the file.
void imageOnScreen(benchmark::State& state, int n, int side)
{
    if (!loadModule()) {
        state.SkipWithError("the module's start-up failed");
        return;
    }
    const std::string dir = benchDir();
    if (dir.empty() || !served(dir, n)) {
        state.SkipWithError("set ORBEL_GRID_BENCH_DIR to compare_grid.sh's images");
        return;
    }
    const std::string file = dir + "/1_1_1_" + std::to_string(n) + "_1.jp2";
    const std::string out = dir + "/decoded" + std::to_string(n);
    const std::string ours = std::string("'" ORBEL_BINARY_DIR "/tools/decode/j2k_decode' '") + file + "' '" + out +
                             "' >/dev/null 2>&1";
    const std::string opj = "opj_decompress -threads 1 -i '" + file + "' -o '" + out + ".pgx' >/dev/null 2>&1";
    std::vector<double> first, last, stream, j2k, opjTimes, reads;
    for (auto _ : state) {
        RoadTimes t;
        {
            gridtest::GridHarness h(side, side, {}, true, dir);
            if (!road(h, n, t)) {
                state.SkipWithError("the view did not end");
                break;
            }
            int32_t c[7];
            h.grid->getImage()->getImageBase().GetTransformRegion(c);
            if (c[6] != 0) {
                state.SkipWithError("not at level 0");
                break;
            }
            const int32_t window[5] = {0, 0, 0, side - 1, side - 1};
            boost::shared_ptr<LoopbackFetcher> f(new LoopbackFetcher(h.server->imageTarget("1_1_1_" + std::to_string(n)), window));
            const auto start = Clock::now();
            if (!f->run()) {
                state.SkipWithError("the stream alone failed");
                break;
            }
            stream.push_back(msSince(start));
        }
        {
            // The server's sending rate is judged against a plain read of the file.
            const auto start = Clock::now();
            std::FILE* f = std::fopen(file.c_str(), "rb");
            std::vector<char> bytes(1 << 20);
            while (f && std::fread(bytes.data(), 1, bytes.size(), f) > 0) {
            }
            if (f)
                std::fclose(f);
            reads.push_back(msSince(start));
        }
        first.push_back(t.first);
        last.push_back(t.last);
        j2k.push_back(timedCommand(ours));
        opjTimes.push_back(timedCommand(opj));
        state.SetIterationTime(t.last / 1000.0);
        if (j2k.back() < 0 || opjTimes.back() < 0) {
            state.SkipWithError("a decoder failed");
            break;
        }
    }
    std::system(("rm -f '" + out + "'_*.pgx '" + out + "'*.pgx").c_str());
    state.counters["first_ms"] = median(first);
    state.counters["last_ms"] = median(last);
    state.counters["stream_ms"] = median(stream);
    state.counters["j2k_ms"] = median(j2k);
    state.counters["opj_ms"] = median(opjTimes);
    state.counters["read_ms"] = median(reads);
    state.counters["budget_ms"] = median(stream) + 1.5 * median(j2k);
}

void BM_OnScreenCT512(benchmark::State& s) { imageOnScreen(s, 2, 512); }
void BM_OnScreenDX2048Lossless(benchmark::State& s) { imageOnScreen(s, 1, 2048); }
void BM_OnScreenRGB2048Irreversible(benchmark::State& s) { imageOnScreen(s, 3, 2048); }
BENCHMARK(BM_OnScreenCT512)->Unit(benchmark::kMillisecond)->Iterations(benchRuns(5))->UseManualTime();
BENCHMARK(BM_OnScreenDX2048Lossless)->Unit(benchmark::kMillisecond)->Iterations(benchRuns(3))->UseManualTime();
BENCHMARK(BM_OnScreenRGB2048Irreversible)->Unit(benchmark::kMillisecond)->Iterations(benchRuns(3))->UseManualTime();

// The largest image served: 1 when present (compare_grid.sh's quick form has only 2).
int paintImage(const std::string& dir) { return served(dir, 1) ? 1 : 2; }

// A 1024 x 1024 cell showing the largest served image, decoded; null when that failed.
std::unique_ptr<gridtest::GridHarness> shownCell(benchmark::State& state)
{
    const std::string dir = readyServedDir(state);
    if (dir.empty())
        return nullptr;
    std::unique_ptr<gridtest::GridHarness> h(new gridtest::GridHarness(1024, 1024, {}, true, dir));
    if (!h->show(paintImage(dir))) {
        state.SkipWithError("the view did not end");
        return nullptr;
    }
    return h;
}

// OnPaint of a 1024 x 1024 cell with rulers, the image already decoded.
void BM_GridPaint1024WithRulers(benchmark::State& state)
{
    std::unique_ptr<gridtest::GridHarness> h = shownCell(state);
    if (!h)
        return;
    g_showRuler = true;
    for (auto _ : state)
        h->grid->OnPaint(true);
    g_showRuler = false;
}
BENCHMARK(BM_GridPaint1024WithRulers)->Unit(benchmark::kMicrosecond);

// A CT overlay of 20 items at the four corners and the edges: image, series and patient
// values, the window text and the zoom, each with a prefix.
const char* const kOverlay[][2] = {
    {"0x0028", "0x1050"}, {"0x0028", "0x1051"}, {"0x0008", "0x0060"}, {"0x0010", "0x0010"}, {"0x1901", "0x0003"},
    {"0x1901", "0x0004"}, {"0x0009", "0x1000"}, {"0x0009", "0x1001"}, {"0x0028", "0x1050"}, {"0x0028", "0x1051"},
    {"0x0008", "0x0060"}, {"0x0010", "0x0010"}, {"0x1901", "0x0003"}, {"0x1901", "0x0004"}, {"0x0009", "0x1000"},
    {"0x0009", "0x1001"}, {"0x0028", "0x1050"}, {"0x0028", "0x1051"}, {"0x0008", "0x0060"}, {"0x0010", "0x0010"}};

void addOverlay(CPssiXmlDao& dao)
{
    std::string text = "<overlay><modality name=\"CT\">";
    for (int i = 0; i < 20; ++i) {
        // Five places, four lines each: the corners and the bottom edge's middle; lines
        // run down from the top and up from the bottom, right-hand items right to left.
        const int place = i / 4, line = i % 4;
        const int gridx = place == 4 ? 1 : (place % 2) * 2, gridy = place == 4 ? 2 : (place / 2) * 2;
        const int offsetx = gridx == 2 ? -1 : 1, offsety = gridy == 2 ? line - 4 : line + 1;
        text += std::string("<Tag group=\"") + kOverlay[i][0] + "\" element=\"" + kOverlay[i][1] +
                "\" vr=\"LO\"><gridx>" + std::to_string(gridx) + "</gridx><gridy>" + std::to_string(gridy) +
                "</gridy><offsetx>" + std::to_string(offsetx) + "</offsetx><offsety>" + std::to_string(offsety) +
                "</offsety><prefix>Item " + std::to_string(i) + ": </prefix><suffix></suffix></Tag>";
    }
    text += "</modality></overlay>";
    TiXmlDocument overlay;
    overlay.Parse(text.c_str());
    CPssiXmlDao::Lock lock(dao);
    if (overlay.RootElement())
        dao.getRootElement()->InsertEndChild(*overlay.RootElement());
}

// The same paint with 20 overlay items shown (range 1) and with the toggle off (range 0).
void BM_GridPaint1024Overlay(benchmark::State& state)
{
    const std::string dir = readyServedDir(state);
    if (dir.empty())
        return;
    gridtest::GridHarness h(1024, 1024, {}, true, dir);
    addOverlay(*h.frame->getPssiXmlDao());
    if (!h.show(paintImage(dir))) {
        state.SkipWithError("the view did not end");
        return;
    }
    if (h.grid->getImage()->getOverlayGroups().empty()) {
        state.SkipWithError("the overlay was not laid out");
        return;
    }
    const bool shown = g_showOverlay;
    g_showOverlay = state.range(0) != 0;
    for (auto _ : state)
        h.grid->OnPaint(true);
    // ORBEL_GRID_BENCH_PNG=path: the painted cell, to look at.
    if (const char* png = std::getenv("ORBEL_GRID_BENCH_PNG"))
        platform::SavePng(h.frame->m_hWnd, png + std::to_string(state.range(0)) + ".png");
    g_showOverlay = shown;
}
BENCHMARK(BM_GridPaint1024Overlay)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The stand-in's bare paint path for the same cell: compatible bitmap, SetDIBits, BitBlt.
void BM_BarePaint1024(benchmark::State& state)
{
    const std::string dir = readyServedDir(state);
    if (dir.empty())
        return;
    gridtest::GridHarness h(1024, 1024, {}, true, dir);
    std::vector<uint32_t> bits(1024 * 1024, 0x00336699);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = 40;
    info.bmiHeader.biWidth = 1024;
    info.bmiHeader.biHeight = 1024;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    HWND w = h.grid->m_hWnd;
    for (auto _ : state) {
        HDC dc = GetDC(w);
        HDC memory = CreateCompatibleDC(dc);
        HBITMAP bitmap = CreateCompatibleBitmap(dc, 1024, 1024);
        HGDIOBJ old = SelectObject(memory, bitmap);
        SetDIBits(memory, bitmap, 0, 1024, bits.data(), &info, DIB_RGB_COLORS);
        BitBlt(dc, 0, 0, 1024, 1024, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(w, dc);
    }
}
BENCHMARK(BM_BarePaint1024)->Unit(benchmark::kMicrosecond);

// The image in the middle of the document (patient 2, study 3, series 2, image 13).
TiXmlElement* middleImage(TiXmlElement* root)
{
    TiXmlElement* e = root;
    const char* path[] = {"Patient", "Study", "Series", "Image"};
    const int index[] = {2, 3, 2, 13};
    for (int level = 0; level < 4 && e; ++level) {
        e = e->FirstChildElement(path[level]);
        for (int i = 1; i < index[level] && e; ++i)
            e = e->NextSiblingElement(path[level]);
    }
    return e;
}

// The values presentation takes from the document: photometric interpretation, pixel
// representation, rescale intercept and slope, window centre and width, pixel spacing.
const char* const kSeven[][2] = {{"0x0028", "0x0004"}, {"0x0028", "0x0103"}, {"0x0028", "0x1052"},
                                 {"0x0028", "0x1053"}, {"0x0028", "0x1050"}, {"0x0028", "0x1051"},
                                 {"0x0028", "0x0030"}};

// Presenting one image of the 2,000-image document (range 1) beside a plain TinyXML read
// of the same seven values from the image and its ancestors (range 0).
void BM_PresentOneOf2000(benchmark::State& state)
{
    const std::string dir = readyServedDir(state);
    if (dir.empty())
        return;
    gridtest::GridHarness h(512, 512, {}, true, dir);
    boost::shared_ptr<CPssiXmlDao> dao = h.frame->getPssiXmlDao();
    dao->parsePssi(pssi2000Text());
    TiXmlElement* element = dao->getRootElement() ? middleImage(dao->getRootElement()) : nullptr;
    if (!element) {
        state.SkipWithError("tools/make_pssi.py gave no document");
        return;
    }
    if (state.range(0) == 0) {
        for (auto _ : state) {
            int found = 0;
            for (const auto& tag : kSeven)
                for (TiXmlNode* level = element; level && !level->ToDocument(); level = level->Parent()) {
                    const TiXmlElement* t = level->FirstChildElement("Tag");
                    for (; t; t = t->NextSiblingElement("Tag")) {
                        const char* g = t->Attribute("group");
                        const char* e = t->Attribute("element");
                        if (g && e && std::strcmp(g, tag[0]) == 0 && std::strcmp(e, tag[1]) == 0)
                            break;
                    }
                    if (t) {
                        benchmark::DoNotOptimize(t->GetText());
                        ++found;
                        break;
                    }
                }
            benchmark::DoNotOptimize(found);
        }
        return;
    }
    const std::string target = "present-bench";
    boost::shared_ptr<CJ2KImage> image(new CJ2KImage(target, "1.2.3", element));
    dao->registerImage(target, image);
    h.grid->setImage(image);
    for (auto _ : state) {
        image->setPresented(false);
        h.grid->presentImage(target);
    }
    h.grid->setImage(nullptr);
}
BENCHMARK(BM_PresentOneOf2000)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace
