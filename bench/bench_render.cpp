// Speed of a cell's render: the copy of a decoded region into the view samples and the
// conversion into the cell bitmap, for a 2048 x 2048 16-bit image in a 1024 x 1024 view,
// fitted, at zoom 2 with a pan, and at actual size. The same run times a plain reference on
// the same source, forward matrix and sizes: one warp (cv::warpAffine on one thread with a
// constant border when OpenCV is present, our generic gray16 warp otherwise) and a pass of
// the 65536-entry table into 32-bit rows; "ours/reference" is our time over its.
#include "bench/BenchQuick.h"
#include "image/ImageBase.h"
#include "image/WarpAffine.h"
#include "platform/Gdi.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

#ifdef ORBEL_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

const int kImage = 2048;
const int kView = 1024;

void Setup(CImageBase& image, int view)
{
    image.GetPhotometricInterpretation().photometricInterpretation = "MONOCHROME2";
    image.InitImage(kImage, kImage, 3, 16, true, false);
    image.SetViewRect(0, 0, kView - 1, kView - 1, nullptr, true);
    if (view == 1) {
        image.Zoom(2.0f / static_cast<float>(image.Transform().zoomX), true, false);
        image.Pan(150, -90, true);
    } else if (view == 2) {
        image.SetFitMode(1, true);
        image.Zoom(1.0f, true, true);
    }
    int32_t p[7];
    image.GetPendingRegion(p);
    size_t size = 0;
    uint16_t* pixels = reinterpret_cast<uint16_t*>(image.GetPixelBuffer(size));
    uint32_t x = 12345;
    for (size_t i = 0; i < size / 2; ++i) {
        x = x * 1664525u + 1013904223u;
        pixels[i] = static_cast<uint16_t>(x >> 16);
    }
    image.SetDecodedRegion(p[0], p[1], p[2], p[3], p[6], true);
}

// The reference: one warp of the level image into the view and the table pass.
double TimeReference(CImageBase& image)
{
    size_t size = 0;
    const uint16_t* src = reinterpret_cast<const uint16_t*>(image.GetPixelBuffer(size));
    const int lw = image.LevelWidth(), lh = image.LevelHeight();
    const double* m = image.DisplayMatrix();
    const std::vector<int32_t>& table = image.GreyTable().data;
    std::vector<uint16_t> view(static_cast<size_t>(kView) * kView);
    std::vector<uint32_t> rows(view.size());
    auto lut = [&] {
        for (int y = 0; y < kView; ++y) {
            const uint16_t* in = view.data() + static_cast<size_t>(y) * kView;
            uint32_t* out = rows.data() + static_cast<size_t>(kView - 1 - y) * kView;
            for (int i = 0; i < kView; ++i) {
                const uint32_t g = static_cast<uint32_t>(table[in[i]]);
                out[i] = g | g << 8 | g << 16;
            }
        }
    };
#ifdef ORBEL_HAVE_OPENCV
    cv::setNumThreads(1);
    cv::Mat s(lh, lw, CV_16UC1, const_cast<uint16_t*>(src));
    cv::Mat d(kView, kView, CV_16UC1, view.data());
    cv::Mat M = (cv::Mat_<double>(2, 3) << m[0], m[1], m[2], m[3], m[4], m[5]);
    auto warp = [&] { cv::warpAffine(s, d, M, d.size(), cv::INTER_NEAREST, cv::BORDER_CONSTANT); };
#else
    auto warp = [&] {
        warp_affine_gray16(src, lw, lh, lw * 2, 0, 0, lw, lh, view.data(), kView * 2, 0, 0, kView, kView, m, 1);
    };
#endif
    warp();
    lut();
    const int runs = benchRuns(5);
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < runs; ++i) {
        warp();
        lut();
    }
    benchmark::DoNotOptimize(rows.data());
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / runs;
}

void BM_Render(benchmark::State& state)
{
    const int view = static_cast<int>(state.range(0));
    CImageBase image;
    Setup(image, view);
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, kView - 1, kView - 1);
    HGDIOBJ old = SelectObject(dc, bitmap);
    int32_t c[7];
    double seconds = 0;
    int64_t runs = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        image.GetTransformRegion(c);
        image.OnRegionDecoded(c[0], c[1], c[2], c[3]);
        image.DrawToBitmap(dc, bitmap, true, 0, 0, kView - 1, kView - 1);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        ++runs;
        benchmark::ClobberMemory();
    }
    state.counters["MP/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kView * kView / 1e6,
                                                benchmark::Counter::kIsRate);
    state.counters["ours/reference"] = (seconds / static_cast<double>(runs)) / TimeReference(image);
    state.SetLabel(view == 0 ? "fit" : view == 1 ? "zoom 2, panned" : "actual size");
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

} // namespace

BENCHMARK(BM_Render)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->MinTime(benchMinTime(0.5));
