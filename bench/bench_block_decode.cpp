// Code-block decoding of single-block streams of a noisy 12-bit image in modes 0, 1, 4
// and 63, in megasamples per second.
#include "codec/coding/rvd_block.h"
#include "codec/coding/rvd_block_decoder.h"
#include "tests/codec/support/block_extract.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string stream_folder()
{
    static std::string dir = [] {
        std::string src = __FILE__;
        std::string root = src.substr(0, src.rfind("/bench/"));
        std::string out = "bench_streams";
        std::string cmd = "python3 '" + root + "/tools/make_test_streams.py' " + out + " blocks";
        if (std::system(cmd.c_str()) != 0)
            std::abort();
        return out;
    }();
    return dir;
}

codec_test::extracted_block load(int mode)
{
    std::ifstream in(stream_folder() + "/noisy_s12_m" + std::to_string(mode) + ".j2k",
                     std::ios::binary);
    std::vector<uint8_t> s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return codec_test::extract_single_block(s);
}

void BM_DecodeBlock(benchmark::State& state)
{
    codec_test::extracted_block b = load(int(state.range(0)));
    rvd_block blk;
    rvd_block_decoder dec;
    codec_test::fill_block(blk, b);
    for (auto _ : state) {
        blk.num_passes = b.num_passes;
        dec.decode(&blk);
        benchmark::DoNotOptimize(blk.sample_buffer[0]);
    }
    state.counters["Msamples/s"] = benchmark::Counter(double(b.width * b.height) * 1e-6,
                                                      benchmark::Counter::kIsIterationInvariantRate);
    state.counters["passes"] = b.num_passes;
}

BENCHMARK(BM_DecodeBlock)->Arg(0)->Arg(1)->Arg(4)->Arg(63);

} // namespace
