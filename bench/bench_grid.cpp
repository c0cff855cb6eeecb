// The grid's road timed end to end against the loopback server, and its paint beside the
// stand-in's bare paint path. compare_grid.sh makes the images (ORBEL_GRID_BENCH_DIR:
// 1_1_1_1_1.jp2, 2048 x 2048 12-bit lossless; 1_1_1_2_1.jp2, 512 x 512) and times
// opj_decompress on the first in the same run.
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KImageLoader.h"
#include "R2IVuzi/StartupValues.h"
#include "image/ImageBase.h"
#include "platform/Gdi.h"
#include "tests/R2IVuzi/support/GridHarness.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <vector>

namespace {

std::string corpus()
{
    const char* dir = std::getenv("ORBEL_GRID_BENCH_DIR");
    return dir ? dir : "";
}

// showStackItem to the last end of request, the whole image at level 0.
void BM_GridShowWholeAtLevel0(benchmark::State& state)
{
    if (corpus().empty()) {
        state.SkipWithError("set ORBEL_GRID_BENCH_DIR (compare_grid.sh does)");
        return;
    }
    // Timed by hand: setting up and tearing down the window and server stay outside.
    for (auto _ : state) {
        gridtest::GridHarness h(2048, 2048, {}, true, corpus());
        const auto start = std::chrono::steady_clock::now();
        if (!h.show(1))
            state.SkipWithError("the view did not end");
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        int32_t c[7];
        h.grid->getImage()->getImageBase().GetTransformRegion(c);
        if (c[6] != 0)
            state.SkipWithError("not at level 0");
    }
}
BENCHMARK(BM_GridShowWholeAtLevel0)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();

// From showStackItem to the first decoded increment on screen.
void BM_GridFirstIncrement(benchmark::State& state)
{
    if (corpus().empty()) {
        state.SkipWithError("set ORBEL_GRID_BENCH_DIR (compare_grid.sh does)");
        return;
    }
    for (auto _ : state) {
        gridtest::GridHarness h(512, 512, {}, true, corpus());
        const auto start = std::chrono::steady_clock::now();
        h.grid->showStackItem(h.item(2));
        if (!h.until([&] { return h.grid->increments > 0; }))
            state.SkipWithError("no increment");
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        h.settle(1);
    }
}
BENCHMARK(BM_GridFirstIncrement)->Unit(benchmark::kMillisecond)->Iterations(5)->UseManualTime();

// OnPaint of a 1024 x 1024 cell with rulers, the image already decoded.
void BM_GridPaint1024WithRulers(benchmark::State& state)
{
    if (corpus().empty()) {
        state.SkipWithError("set ORBEL_GRID_BENCH_DIR (compare_grid.sh does)");
        return;
    }
    gridtest::GridHarness h(1024, 1024, {}, true, corpus());
    g_showRuler = true;
    if (!h.show(1)) {
        state.SkipWithError("the view did not end");
        return;
    }
    for (auto _ : state)
        h.grid->OnPaint(true);
}
BENCHMARK(BM_GridPaint1024WithRulers)->Unit(benchmark::kMicrosecond);

// The stand-in's bare paint path for the same cell: compatible bitmap, SetDIBits, BitBlt.
void BM_BarePaint1024(benchmark::State& state)
{
    gridtest::GridHarness h(1024, 1024, {}, true, corpus());
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

} // namespace
