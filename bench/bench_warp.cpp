// Speed of the affine warp: gray8, gray16 and rgbx8 at nearest, linear and cubic into a
// 2048 x 2048 destination, for a 17-degree rotation with zoom 1.37 and a quarter turn with
// zoom 1.5 about the centre, under each variant index (0 generic, 1 SSE, 2 SSE2, 3 SSE3,
// 4 SSSE3) through the public entry points. "ours/generic" is our time over the generic
// body's in the same run. With OpenCV present, the same run times cv::warpAffine (one
// thread, constant border) on the same forward matrix right after each of our calls and
// reports the median of our time over its, call by call.
// OpenCV is a speed reference only: its positions are quantised, so its pixels differ.
#include "bench/BenchQuick.h"
#include "image/WarpAffine.h"
#include "image/WarpVariants.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <tuple>
#include <vector>

#ifdef ORBEL_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

const int kSrc = 1536;
const int kDst = 2048;

struct Format {
    const char* name;
    warp_entry entry;
    warp_entry generic;
    int bytes;
    int channels;
};
const Format kFormats[] = {{"gray8", warp_affine_gray8, warp_affine_gray8_generic, 1, 1},
                           {"gray16", warp_affine_gray16, warp_affine_gray16_generic, 2, 1},
                           {"rgbx8", warp_affine_rgbx8, warp_affine_rgbx8_generic, 4, 4}};
const char* const kVariants[warp_variant_count] = {"generic", "sse", "sse2", "sse3", "ssse3"};

// The generic body's time is taken once per format, interpolation and map, in the same run.
typedef std::tuple<int, int, int> Key;

// Seconds of processor time of this thread: the machine may be shared, and every timed call
// (ours, the generic body's, OpenCV's with one thread) runs on the calling thread.
double ThreadSeconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

double Mean(int runs, const std::function<void()>& call)
{
    call();
    const double t0 = ThreadSeconds();
    for (int i = 0; i < runs; ++i)
        call();
    return (ThreadSeconds() - t0) / runs;
}

double TimeGeneric(const Format& f, const std::vector<uint8_t>& src, std::vector<uint8_t>& dst, const double* m,
                   int interp, const Key& key)
{
    static std::map<Key, double> cache;
    auto it = cache.find(key);
    if (it != cache.end())
        return it->second;
    const double t = Mean(benchRuns(3), [&] {
        benchmark::DoNotOptimize(f.generic(src.data(), kSrc, kSrc, kSrc * f.bytes, 0, 0, kSrc, kSrc, dst.data(),
                                           kDst * f.bytes, 0, 0, kDst, kDst, m, interp));
    });
    return cache[key] = t;
}

void ForwardMatrix(int map, double m[6])
{
    const double angle = map == 0 ? 17.0 * 3.14159265358979323846 / 180.0 : 3.14159265358979323846 / 2.0;
    const double zoom = map == 0 ? 1.37 : 1.5;
    const double c = std::cos(angle) * zoom, s = std::sin(angle) * zoom;
    const double cs = (kSrc - 1) * 0.5, cd = (kDst - 1) * 0.5;
    m[0] = c;
    m[1] = -s;
    m[3] = s;
    m[4] = c;
    m[2] = cd - (m[0] * cs + m[1] * cs);
    m[5] = cd - (m[3] * cs + m[4] * cs);
}

std::vector<uint8_t> SourceBytes(int bytes)
{
    std::vector<uint8_t> v(static_cast<size_t>(kSrc) * kSrc * bytes);
    uint32_t x = 12345;
    for (auto& b : v) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
    }
    if (bytes == 2) // 12-bit samples
        for (size_t i = 1; i < v.size(); i += 2)
            v[i] &= 0x0F;
    return v;
}

#ifdef ORBEL_HAVE_OPENCV
int CvType(const Format& f) { return f.bytes == 2 ? CV_16UC1 : f.channels == 4 ? CV_8UC4 : CV_8UC1; }
int CvInterp(int interp) { return interp == 1 ? cv::INTER_NEAREST : interp == 2 ? cv::INTER_LINEAR : cv::INTER_CUBIC; }

// One cv::warpAffine call on the same source and forward matrix, timed alone: called right
// after each of ours, so that both meet the same load on a shared machine.
class OpenCvWarp {
public:
    OpenCvWarp(const Format& f, const std::vector<uint8_t>& srcBytes, const double* m, int interp)
        : src_(kSrc, kSrc, CvType(f), const_cast<uint8_t*>(srcBytes.data())),
          dst_(kDst, kDst, CvType(f), cv::Scalar::all(0)),
          m_((cv::Mat_<double>(2, 3) << m[0], m[1], m[2], m[3], m[4], m[5])), interp_(CvInterp(interp))
    {
        cv::setNumThreads(1);
        if (!benchQuick())
            Seconds(); // warm-up
    }
    double Seconds()
    {
        const double t0 = ThreadSeconds();
        cv::warpAffine(src_, dst_, m_, dst_.size(), interp_, cv::BORDER_CONSTANT);
        return ThreadSeconds() - t0;
    }

private:
    cv::Mat src_, dst_, m_;
    int interp_;
};
#endif

void BM_Warp(benchmark::State& state)
{
    const Format& f = kFormats[state.range(0)];
    const int interp = static_cast<int>(state.range(1));
    const int map = static_cast<int>(state.range(2));
    const int variant = static_cast<int>(state.range(3));
    const Key key(static_cast<int>(state.range(0)), interp, map);
    const int savedVariant = warp_variant_index();
    warp_store_variant_index(variant);
    double m[6];
    ForwardMatrix(map, m);
    const std::vector<uint8_t> src = SourceBytes(f.bytes);
    std::vector<uint8_t> dst(static_cast<size_t>(kDst) * kDst * f.bytes);
    double seconds = 0;
    int64_t runs = 0;
#ifdef ORBEL_HAVE_OPENCV
    OpenCvWarp reference(f, src, m, interp);
    std::vector<double> ratios; // ours over OpenCV's, call by call
#endif
    for (auto _ : state) {
        const double t0 = ThreadSeconds();
        const int status = f.entry(src.data(), kSrc, kSrc, kSrc * f.bytes, 0, 0, kSrc, kSrc, dst.data(),
                                   kDst * f.bytes, 0, 0, kDst, kDst, m, interp);
        const double mine = ThreadSeconds() - t0;
        seconds += mine;
        ++runs;
        benchmark::DoNotOptimize(status);
        benchmark::ClobberMemory();
#ifdef ORBEL_HAVE_OPENCV
        state.PauseTiming();
        ratios.push_back(mine / reference.Seconds());
        state.ResumeTiming();
#endif
    }
    warp_store_variant_index(savedVariant);
    const double ours = seconds / static_cast<double>(runs);
    state.counters["ours/generic"] = ours / TimeGeneric(f, src, dst, m, interp, key);
    state.counters["MP/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kDst * kDst / 1e6, benchmark::Counter::kIsRate);
#ifdef ORBEL_HAVE_OPENCV
    std::nth_element(ratios.begin(), ratios.begin() + ratios.size() / 2, ratios.end());
    state.counters["ours/opencv"] = ratios[ratios.size() / 2];
#endif
    state.SetLabel(std::string(f.name) + (interp == 1 ? " nearest" : interp == 2 ? " linear" : " cubic") +
                   (map == 0 ? " rot17 x1.37 " : " quarter x1.5 ") + kVariants[variant]);
}

} // namespace

BENCHMARK(BM_Warp)
    ->ArgsProduct({{0, 1, 2}, {1, 2, 4}, {0, 1}, {0, 1, 2, 3, 4}})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(benchMinTime(0.5));
