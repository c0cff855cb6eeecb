// The metafile reader playing a large EMF into a 4000 x 2828 picture: 1,120 cells of shapes,
// pictures (8 and 24 bits) and text, some 12,000 records, made by tools/make_metafiles.py
// --large. ORBEL_BENCH_METAFILE names another file to play instead. bench/compare_metafile.sh
// times emf2svg-conv + rsvg-convert on the same file beside it.
#include "bench/BenchQuick.h"
#include "bench/BenchScratch.h"
#include "imagelib/RxImageWMF.h"
#include "imagelib/RxMemFile.h"
#include "tests/support/TestTools.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

Bytes ReadAll(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// The file to play: the one named, or the generator's large EMF made once per run.
const Bytes& LargeEmf()
{
    static const Bytes bytes = [] {
        if (const char* named = std::getenv("ORBEL_BENCH_METAFILE"))
            return ReadAll(named);
        const std::string path = benchscratch::folder() + "/large.emf";
        const std::string cmd = OrbelTest::pythonCommand(std::string(ORBEL_SOURCE_DIR) + "/tools/make_metafiles.py") +
                                " --large " + path;
        return std::system(cmd.c_str()) == 0 ? ReadAll(path) : Bytes();
    }();
    return bytes;
}

void BM_PlayLargeEmf(benchmark::State& state)
{
    const Bytes& bytes = LargeEmf();
    if (bytes.empty()) {
        state.SkipWithError("no metafile: the generator failed or ORBEL_BENCH_METAFILE is unreadable");
        return;
    }
    long pixels = 0;
    for (auto _ : state) {
        RxMemFile file(const_cast<BYTE*>(bytes.data()), DWORD(bytes.size()));
        RxImageWMF image;
        if (!image.Decode(&file, 0, 0)) {
            state.SkipWithError(image.GetLastError());
            return;
        }
        pixels = long(image.GetWidth()) * long(image.GetHeight());
        benchmark::DoNotOptimize(image.GetBits());
    }
    state.counters["pixels"] = double(pixels);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

} // namespace

BENCHMARK(BM_PlayLargeEmf)->Unit(benchmark::kMillisecond)->MinTime(benchMinTime(2.0));
