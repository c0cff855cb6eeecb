// Block decoding speed on the single code-block of a 64x64 12-bit image, encoded with every
// pass in one layer.
//
// BM_DecodeBlock/mode/form: the noisy block in modes 0 (plain), 1 (bypass), 4 (restart)
// and 63 (all styles), through the portable (form 0) and the hand-written (form 1) MQ
// passes; megasamples per second.
//
// BM_PassKinds/block/form: the noisy (block 0) and a sparse block (block 1, one sample in
// 32 nonzero) in mode 0, pass by pass: each pass kind's decoded symbols (MQ decisions,
// counted from the context words each pass leaves) per second of that kind's time.
#include "bench/BenchScratch.h"
#include "codec/coding/rv_block_passes.h"
#include "codec/coding/rv_block_passes_hand.h"
#include "codec/coding/rv_context_tables.h"
#include "codec/coding/rv_mq_decoder.h"
#include "codec/coding/rvd_block_decoder.h"
#include "codec/core/rvd_processor.h"
#include "tests/codec/support/block_extract.h"
#include "tests/codec/support/processor_form.h"

#include "tests/support/TestTools.h"
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace {

// Not from __FILE__: a cached compile may have made that path relative to the build tree.
std::string source_root() { return ORBEL_SOURCE_DIR; }

block_test::extracted_block load(const std::string& name)
{
    static bool made = false;
    const std::string dir = benchscratch::path("streams");
    if (!made) {
        std::string cmd = OrbelTest::pythonCommand(source_root() + "/tools/make_test_streams.py") + " " + dir + " blocks";
        if (std::system(cmd.c_str()) != 0)
            throw std::runtime_error("stream generator failed: " + cmd);
        made = true;
    }
    std::ifstream in(dir + "/" + name + ".j2k", std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return block_test::extract_block(bytes);
}

// A decoder of the given form: the processor words choose when it is made.
std::unique_ptr<rvd_block_decoder> make_decoder(int form)
{
    rv_init_processor_words();
    rv_init_mq_tables();
    rv_init_context_tables();
    codec_test::processor_form_guard guard(form == 0 ? 0 : rvd_mmx_level);
    return std::unique_ptr<rvd_block_decoder>(new rvd_block_decoder);
}

void BM_DecodeBlock(benchmark::State& state)
{
    int mode = static_cast<int>(state.range(0));
    std::unique_ptr<rvd_block_decoder> decoder = make_decoder(static_cast<int>(state.range(1)));
    block_test::extracted_block eb = load("noisy_s12_m" + std::to_string(mode));
    rvd_block block;
    block_test::fill_block(block, eb, eb.num_passes);
    for (auto _ : state) {
        decoder->decode(&block);
        benchmark::DoNotOptimize(block.sample_buffer[0]);
    }
    double samples = static_cast<double>(eb.width) * eb.height * static_cast<double>(state.iterations());
    state.counters["Msamples/s"] = benchmark::Counter(samples / 1e6, benchmark::Counter::kIsRate);
    state.counters["passes"] = eb.num_passes;
    state.counters["bytes"] = static_cast<double>(eb.body.size());
}

// Row r's bit among a word's significance, coded-here and sign bits, as 1 or 0.
inline int has(uint32_t w, uint32_t bit) { return (w & bit) != 0 ? 1 : 0; }

// Decisions a pass took, from the context words before (`was`) and after (`now`) it.
int64_t count_symbols(int kind, const uint32_t* was, const uint32_t* now, int width, int stripes, int stride)
{
    using namespace rv_ctx;
    int64_t n = 0;
    for (int s = 0; s < stripes; s++)
        for (int c = 0; c < width; c++) {
            size_t at = static_cast<size_t>((s + 1) * stride + 1 + c);
            uint32_t w0 = was[at], w1 = now[at];
            if (kind == 1) { // refinement: one per row to refine
                n += __builtin_popcount(w0 & refine_mask);
                continue;
            }
            int first = 0;
            if (kind == 2 && w0 == 0) { // cleanup run: one symbol, then the row index and sign
                n++;
                while (first < 4 && !has(w1, sig(first)))
                    first++;
                if (first == 4)
                    continue;
                n += 3;
                first++;
            }
            for (int r = first; r < 4; r++) {
                bool coded = kind == 0 ? has(w1, visited(r)) && !has(w0, visited(r))
                                       : !has(w0, sig(r) | visited(r) | sign(r));
                if (coded)
                    n += 1 + (has(w1, sig(r)) && !has(w0, sig(r)) ? 1 : 0);
            }
        }
    return n;
}

void BM_PassKinds(benchmark::State& state)
{
    const char* name = state.range(0) == 0 ? "noisy_s12_m0" : "sparse_s12_m0";
    bool hand = state.range(1) != 0;
    std::unique_ptr<rvd_block_decoder> decoder = make_decoder(0);
    block_test::extracted_block eb = load(name);
    rvd_block block;
    block_test::fill_block(block, eb, eb.num_passes);
    int width = eb.width, stripes = (eb.height + 3) / 4, stride = width + 3;
    size_t words = static_cast<size_t>((stripes + 2) * stride + 1);
    std::vector<uint32_t> before(words);
    double seconds[3] = {0, 0, 0};
    int64_t symbols[3] = {0, 0, 0};
    using clock = std::chrono::steady_clock;
    for (auto _ : state) {
        // A decode of no passes leaves the sample and context buffers prepared.
        block.num_passes = 0;
        decoder->decode(&block);
        uint32_t* ctx = reinterpret_cast<uint32_t*>(block.context_buffer);
        rv_mq_state states[rv_num_contexts];
        for (int n = 0; n < rv_num_contexts; n++)
            states[n] = rv_mq_decoder_state(0, 0);
        states[0] = rv_mq_decoder_state(4, 0);
        states[rv_run_context] = rv_mq_decoder_state(3, 0);
        rv_mq_decoder coder;
        int length = 0;
        for (int z = 0; z < eb.num_passes; z++)
            length += eb.pass_lengths[static_cast<size_t>(z)];
        coder.start(block.byte_buffer, length, true);
        int p = 30 - eb.missing_msbs;
        for (int z = 0; z < eb.num_passes; z++) {
            int kind = z == 0 ? 2 : (z - 1) % 3; // 0 significance, 1 refinement, 2 cleanup
            if (kind == 0)
                p--;
            std::memcpy(before.data(), ctx, words * sizeof(uint32_t));
            auto t0 = clock::now();
            if (kind == 0)
                (hand ? rv_decode_significance_pass_hand : rv_decode_significance_pass)(
                    coder, states, p, false, 0, block.sample_buffer, block.context_buffer, width, stripes, stride);
            else if (kind == 1)
                (hand ? rv_decode_refinement_pass_hand : rv_decode_refinement_pass)(
                    coder, states, p, block.sample_buffer, block.context_buffer, width, stripes, stride);
            else
                (hand ? rv_decode_cleanup_pass_hand : rv_decode_cleanup_pass)(
                    coder, states, p, false, 0, block.sample_buffer, block.context_buffer, width, stripes, stride);
            seconds[kind] += std::chrono::duration<double>(clock::now() - t0).count();
            symbols[kind] += count_symbols(kind, before.data(), ctx, width, stripes, stride);
        }
        coder.finish();
        benchmark::DoNotOptimize(block.sample_buffer[0]);
    }
    const char* names[3] = {"sig Msym/s", "ref Msym/s", "cln Msym/s"};
    for (int k = 0; k < 3; k++)
        if (seconds[k] > 0)
            state.counters[names[k]] = static_cast<double>(symbols[k]) / seconds[k] / 1e6;
    state.counters["symbols"] = static_cast<double>(symbols[0] + symbols[1] + symbols[2]) /
                                static_cast<double>(state.iterations());
}

} // namespace

BENCHMARK(BM_DecodeBlock)->ArgsProduct({{0, 1, 4, 63}, {0, 1}});
BENCHMARK(BM_PassKinds)->ArgsProduct({{0, 1}, {0, 1}});
