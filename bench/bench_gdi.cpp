// The grid's paint path for a 1024 x 1024 cell (compatible bitmap, 32-bit SetDIBits,
// one overlay line of text, BitBlt to a window surface) beside a plain memcpy of the
// same bytes, in the same run.
#include "platform/Gdi.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

const int kSide = 1024;

LRESULT plainProc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcW(h, m, w, l); }

HWND benchWindow()
{
    static HWND hwnd = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = plainProc;
        wc.lpszClassName = u"BenchGrid";
        RegisterClassExW(&wc);
        return CreateWindowExW(0, u"BenchGrid", u"", WS_VISIBLE, 0, 0, kSide, kSide, nullptr, nullptr, nullptr,
                               nullptr);
    }();
    return hwnd;
}

std::vector<uint32_t> image()
{
    std::vector<uint32_t> px(size_t(kSide) * kSide);
    for (size_t i = 0; i < px.size(); ++i)
        px[i] = uint32_t(i * 2654435761u) & 0xFFFFFF;
    return px;
}

void BM_GridPaint(benchmark::State& state)
{
    HWND hwnd = benchWindow();
    std::vector<uint32_t> px = image();
    BITMAPINFO bi{};
    bi.bmiHeader = BITMAPINFOHEADER{40, kSide, kSide, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    HFONT font = CreateFontW(-13, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, u"Arial");
    for (auto _ : state) {
        HDC window = GetDC(hwnd);
        HDC mem = CreateCompatibleDC(window);
        HBITMAP cell = CreateCompatibleBitmap(window, kSide, kSide);
        HGDIOBJ oldBitmap = SelectObject(mem, cell);
        SetDIBits(mem, cell, 0, kSide, px.data(), &bi, DIB_RGB_COLORS);
        HGDIOBJ oldFont = SelectObject(mem, font);
        SetBkMode(mem, TRANSPARENT);
        SetTextColor(mem, RGB(255, 255, 255));
        TextOutW(mem, 4, 4, u"W : 400, L : 40   Zoom 1.00   Im: 12/240", 40);
        BitBlt(window, 0, 0, kSide, kSide, mem, 0, 0, SRCCOPY);
        SelectObject(mem, oldFont);
        SelectObject(mem, oldBitmap);
        DeleteObject(cell);
        DeleteDC(mem);
        ReleaseDC(hwnd, window);
    }
    DeleteObject(font);
    state.SetBytesProcessed(int64_t(state.iterations()) * kSide * kSide * 4);
}
BENCHMARK(BM_GridPaint)->Unit(benchmark::kMillisecond);

void BM_MemcpySameBytes(benchmark::State& state)
{
    std::vector<uint32_t> px = image();
    std::vector<uint32_t> out(px.size());
    for (auto _ : state) {
        std::memcpy(out.data(), px.data(), px.size() * 4);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kSide * kSide * 4);
}
BENCHMARK(BM_MemcpySameBytes)->Unit(benchmark::kMillisecond);

} // namespace
