// The JPIP client over loopback against the test server, 2048 x 2048 grey and RGB:
// whole-image fetch rate beside parsing the same bodies from memory and a plain memcpy
// of their bytes; the time to the first complete level-2 window beside parsing its
// replies offline. One run each; the server's own pace is part of the loopback figures.
#include "bench/BenchScratch.h"
#include "bench/LoopbackFetcher.h"
#include "R2IVuzi/J2KCache.h"
#include "R2IVuzi/JpipHttp.h"
#include "R2IVuzi/JpipParser.h"
#include "platform/ModuleStartup.h"
#include "tests/support/JpipTestServer.h"
#include "tests/support/TestTools.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const int kSide = 2048;

struct Corpus {
    std::string dir;
    std::unique_ptr<OrbelTest::JpipTestServer> server;
    // Per image: whole-image replies and level-2 window replies, offline.
    std::vector<std::vector<uint8_t>> whole[2], level2[2];
};

std::vector<std::vector<uint8_t>> replies(const std::string& folder)
{
    std::vector<fs::path> names;
    for (auto& e : fs::directory_iterator(folder))
        names.push_back(e.path());
    std::sort(names.begin(), names.end());
    std::vector<std::vector<uint8_t>> out;
    for (const fs::path& p : names) {
        std::ifstream in(p, std::ios::binary);
        out.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return out;
}

// A set-up that cannot go on ends the run through exit, so the run's folder, made before
// anything can fail, is removed as at a normal end (abort would leave its 24 MB behind).
[[noreturn]] void setUpFailed(const std::string& what)
{
    std::fprintf(stderr, "bench_jpip_loopback: %s\n", what.c_str());
    std::exit(1);
}

Corpus& corpus()
{
    static Corpus c = [] {
        Corpus k;
        k.dir = benchscratch::folder();
        if (!ModuleLoad())
            setUpFailed("the module's start-up failed");
        for (int comps : {1, 3}) {
            std::ofstream raw(k.dir + "/img" + std::to_string(comps) + ".raw", std::ios::binary);
            for (int c = 0; c < comps; ++c)
                for (int y = 0; y < kSide; ++y)
                    for (int x = 0; x < kSide; ++x)
                        raw.put(char((x * (c + 1) + y * (3 - c) + (x ^ y) / 9) & 255));
        }
        const std::string server = std::string(ORBEL_SOURCE_DIR) + "/tools/jpip_test_server.py";
        for (int i = 0; i < 2; ++i) {
            const std::string n = "img" + std::to_string(i ? 3 : 1);
            const std::string cmd = "cd '" + k.dir + "' && opj_compress -i " + n + ".raw -F 2048,2048," +
                                    (i ? "3" : "1") + ",8,u -o " + n + (i ? ".jp2" : ".j2k") +
                                    " -n 6 -t 512,512 -r 20,5,1 -PLT >/dev/null && mv " + n + (i ? ".jp2" : ".j2k") +
                                    " " + n + "_1.jp2 && " + OrbelTest::python() + " " + server + " stream " + n +
                                    "_1.jp2 --out " + n + "_whole && " + OrbelTest::python() + " " + server + " stream " + n +
                                    "_1.jp2 --out " + n + "_l2 --fsiz 512,512";
            if (std::system(cmd.c_str()) != 0)
                setUpFailed("cannot make the served " + n + " (opj_compress or the server's stream failed)");
            k.whole[i] = replies(k.dir + "/" + n + "_whole");
            k.level2[i] = replies(k.dir + "/" + n + "_l2");
        }
        try {
            k.server.reset(new OrbelTest::JpipTestServer(k.dir));
        } catch (const std::exception& e) {
            setUpFailed(e.what());
        }
        jpipGlobalInit();
        return k;
    }();
    return c;
}

uint64_t totalBytes(const std::vector<std::vector<uint8_t>>& bodies)
{
    uint64_t n = 0;
    for (const auto& b : bodies)
        n += b.size();
    return n;
}

void fetch(benchmark::State& state, int image, int level)
{
    Corpus& c = corpus();
    const std::string name = image ? "img3" : "img1";
    const int side = kSide >> level;
    const int32_t window[5] = {level, 0, 0, side - 1, side - 1};
    uint64_t bytes = 0;
    for (auto _ : state) {
        boost::shared_ptr<LoopbackFetcher> f(new LoopbackFetcher(c.server->imageTarget(name), window));
        if (!f->run())
            state.SkipWithError("the fetch failed");
        bytes += f->image->getCache()->get_total_new_bytes();
    }
    state.SetBytesProcessed(int64_t(bytes));
}

void parse(benchmark::State& state, const std::vector<std::vector<uint8_t>>& bodies)
{
    for (auto _ : state) {
        CJ2KCache cache;
        CJpipParser parser;
        for (const auto& b : bodies)
            processChunkBody(parser, &cache, b.data(), b.size());
        benchmark::DoNotOptimize(cache.get_total_new_bytes());
    }
    state.SetBytesProcessed(int64_t(state.iterations() * totalBytes(bodies)));
}

void copy(benchmark::State& state, const std::vector<std::vector<uint8_t>>& bodies)
{
    std::vector<uint8_t> to(totalBytes(bodies));
    for (auto _ : state) {
        size_t at = 0;
        for (const auto& b : bodies) {
            std::memcpy(to.data() + at, b.data(), b.size());
            at += b.size();
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations() * to.size()));
}

void BM_WholeFetchLoopback(benchmark::State& s) { fetch(s, int(s.range(0)), 0); }
void BM_WholeParseFromMemory(benchmark::State& s) { parse(s, corpus().whole[s.range(0)]); }
void BM_WholeMemcpy(benchmark::State& s) { copy(s, corpus().whole[s.range(0)]); }
void BM_FirstLevel2WindowLoopback(benchmark::State& s) { fetch(s, int(s.range(0)), 2); }
void BM_FirstLevel2WindowParseOffline(benchmark::State& s) { parse(s, corpus().level2[s.range(0)]); }

// Arguments: 0 grey, 1 RGB.
BENCHMARK(BM_WholeFetchLoopback)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WholeParseFromMemory)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeMemcpy)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstLevel2WindowLoopback)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FirstLevel2WindowParseOffline)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
