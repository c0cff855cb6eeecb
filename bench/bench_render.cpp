// Speed of a cell's render: the copy of a decoded region into the view samples and the
// conversion into the cell bitmap, for a 2048 x 2048 16-bit image in a 1024 x 1024 view,
// fitted, at zoom 2 with a pan, and at actual size. The same run times a plain reference on
// the same source, forward matrix and sizes: one warp (cv::warpAffine on one thread with a
// constant border when OpenCV is present, our generic gray16 warp otherwise) and a pass of
// the 65536-entry table into 32-bit rows, alternating with ours in every iteration;
// "ours/reference" is the median of our times over the median of its.
#include "bench/BenchQuick.h"
#include "image/ImageBase.h"
#include "image/WarpAffine.h"
#include "platform/Gdi.h"

#include <benchmark/benchmark.h>

#include <algorithm>
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
class Reference {
public:
    explicit Reference(CImageBase& image)
        : table_(image.GreyTable().data), view_(static_cast<size_t>(kView) * kView), rows_(view_.size())
    {
        size_t size = 0;
        src_ = reinterpret_cast<const uint16_t*>(image.GetPixelBuffer(size));
        lw_ = image.LevelWidth();
        lh_ = image.LevelHeight();
        std::memcpy(m_, image.DisplayMatrix(), sizeof m_);
#ifdef ORBEL_HAVE_OPENCV
        cv::setNumThreads(1);
#endif
    }

    void Run()
    {
#ifdef ORBEL_HAVE_OPENCV
        cv::Mat s(lh_, lw_, CV_16UC1, const_cast<uint16_t*>(src_));
        cv::Mat d(kView, kView, CV_16UC1, view_.data());
        cv::Mat M = (cv::Mat_<double>(2, 3) << m_[0], m_[1], m_[2], m_[3], m_[4], m_[5]);
        cv::warpAffine(s, d, M, d.size(), cv::INTER_NEAREST, cv::BORDER_CONSTANT);
#else
        warp_affine_gray16(src_, lw_, lh_, lw_ * 2, 0, 0, lw_, lh_, view_.data(), kView * 2, 0, 0, kView, kView, m_, 1);
#endif
        for (int y = 0; y < kView; ++y) {
            const uint16_t* in = view_.data() + static_cast<size_t>(y) * kView;
            uint32_t* out = rows_.data() + static_cast<size_t>(kView - 1 - y) * kView;
            for (int i = 0; i < kView; ++i) {
                const uint32_t g = static_cast<uint32_t>(table_[in[i]]);
                out[i] = g | g << 8 | g << 16;
            }
        }
        benchmark::DoNotOptimize(rows_.data());
    }

private:
    const std::vector<int32_t>& table_;
    const uint16_t* src_ = nullptr;
    int lw_ = 0, lh_ = 0;
    double m_[6] = {};
    std::vector<uint16_t> view_;
    std::vector<uint32_t> rows_;
};

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n == 0 ? 0.0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Ours and the reference alternate within each iteration, so both see the same load;
// the ratio is of the medians.
void BM_Render(benchmark::State& state)
{
    const int view = static_cast<int>(state.range(0));
    CImageBase image;
    Setup(image, view);
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, kView - 1, kView - 1);
    HGDIOBJ old = SelectObject(dc, bitmap);
    Reference reference(image);
    reference.Run();
    std::vector<double> ours, theirs;
    int32_t c[7];
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        image.GetTransformRegion(c);
        image.OnRegionDecoded(c[0], c[1], c[2], c[3]);
        image.DrawToBitmap(dc, bitmap, true, 0, 0, kView - 1, kView - 1);
        auto t1 = std::chrono::steady_clock::now();
        ours.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        state.SetIterationTime(ours.back() / 1000.0);
        benchmark::ClobberMemory();
        t0 = std::chrono::steady_clock::now();
        reference.Run();
        t1 = std::chrono::steady_clock::now();
        theirs.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    state.counters["MP/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kView * kView / 1e6,
                                                benchmark::Counter::kIsRate);
    state.counters["ours_ms"] = Median(ours);
    state.counters["reference_ms"] = Median(theirs);
    state.counters["ours/reference"] = Median(ours) / Median(theirs);
    state.SetLabel(view == 0 ? "fit" : view == 1 ? "zoom 2, panned" : "actual size");
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

} // namespace

BENCHMARK(BM_Render)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->MinTime(benchMinTime(0.5))->UseManualTime();
