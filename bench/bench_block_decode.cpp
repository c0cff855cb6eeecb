// Block decoding speed: the single code-block of a noisy 12-bit 64x64 image, encoded
// with every pass in one layer, in modes 0 (plain), 1 (bypass), 4 (restart) and 63 (all
// styles). Reports megasamples per second.
#include "codec/coding/rv_context_tables.h"
#include "codec/coding/rv_mq_decoder.h"
#include "codec/coding/rvd_block_decoder.h"
#include "tests/codec/support/block_extract.h"

#include "tests/support/TestTools.h"
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string source_root()
{
    std::string here = __FILE__;
    return here.substr(0, here.rfind("/bench/"));
}

block_test::extracted_block load_noisy(int mode)
{
    static bool made = false;
    const std::string dir = "bench_streams";
    if (!made) {
        std::string cmd = OrbelTest::pythonCommand(source_root() + "/tools/make_test_streams.py") + " " + dir + " blocks";
        if (std::system(cmd.c_str()) != 0)
            throw std::runtime_error("stream generator failed: " + cmd);
        made = true;
    }
    std::ifstream in(dir + "/noisy_s12_m" + std::to_string(mode) + ".j2k", std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return block_test::extract_block(bytes);
}

void BM_DecodeBlock(benchmark::State& state)
{
    rv_init_mq_tables();
    rv_init_context_tables();
    int mode = static_cast<int>(state.range(0));
    block_test::extracted_block eb = load_noisy(mode);
    rvd_block block;
    rvd_block_decoder decoder;
    block_test::fill_block(block, eb, eb.num_passes);
    for (auto _ : state) {
        decoder.decode(&block);
        benchmark::DoNotOptimize(block.sample_buffer[0]);
    }
    double samples = static_cast<double>(eb.width) * eb.height * static_cast<double>(state.iterations());
    state.counters["Msamples/s"] = benchmark::Counter(samples / 1e6, benchmark::Counter::kIsRate);
    state.counters["passes"] = eb.num_passes;
    state.counters["bytes"] = static_cast<double>(eb.body.size());
}

} // namespace

BENCHMARK(BM_DecodeBlock)->Arg(0)->Arg(1)->Arg(4)->Arg(63);
