// Block encoding speed beside block decoding of the same blocks: the 64 x 64 code-blocks
// of a noisy and of a smooth 12-bit 512 x 512 image, in modes 0 (plain), 1 (bypass),
// 4 (restart) and 63 (all styles), with rate-distortion slopes and without. Reports
// megasamples per second for both directions.
#include "tests/codec/support/block_roundtrip.h"
#include "tests/codec/support/databin_blocks.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

namespace {

const int kSide = 512, kBlock = 64, kPlanes = 13;

// Level-shifted 12-bit samples as sign-magnitude words, one vector per code-block.
const std::vector<std::vector<int32_t>>& image_blocks(int smooth)
{
    static std::vector<std::vector<int32_t>> made[2];
    std::vector<std::vector<int32_t>>& blocks = made[smooth];
    if (!blocks.empty())
        return blocks;
    std::mt19937 rng(12);
    std::vector<int> img(size_t(kSide) * kSide);
    for (int y = 0; y < kSide; y++)
        for (int x = 0; x < kSide; x++) {
            double v = smooth ? 2048 + 1500 * std::sin(x / 37.0) * std::cos(y / 53.0) + (rng() % 9)
                              : double(rng() % 4096);
            img[size_t(y) * kSide + size_t(x)] = std::min(4095, std::max(0, int(v)));
        }
    for (int by = 0; by < kSide; by += kBlock)
        for (int bx = 0; bx < kSide; bx += kBlock) {
            std::vector<int32_t> w;
            for (int y = by; y < by + kBlock; y++)
                for (int x = bx; x < bx + kBlock; x++)
                    w.push_back(codec_test::to_word(img[size_t(y) * kSide + size_t(x)] - 2048, kPlanes));
            blocks.push_back(std::move(w));
        }
    return blocks;
}

codec_test::block_shape shape_of(int mode)
{
    codec_test::block_shape s;
    s.height = s.width = kBlock;
    s.modes = mode;
    s.orientation = 0;
    s.kmax = kPlanes;
    s.missing = 0;
    return s;
}

const int kPasses = 3 * kPlanes - 2;

rvd_block_decoder& dec_of()
{
    static rvd_block_decoder dec;
    return dec;
}

void BM_EncodeBlocks(benchmark::State& state)
{
    codec_test::init_block_coding_tables();
    const int smooth = int(state.range(0)), mode = int(state.range(1));
    const double wmse = state.range(2) ? 1.0 : 0.0;
    const auto& blocks = image_blocks(smooth);
    rvd_block_encoder enc;
    rvd_block b;
    size_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        for (const auto& w : blocks)
            bytes += codec_test::encode_block(enc, b, shape_of(mode), w, kPasses, true, wmse).bytes.size();
        benchmark::DoNotOptimize(bytes);
    }
    double samples = double(kSide) * kSide * double(state.iterations());
    state.counters["Msamples/s"] = benchmark::Counter(samples / 1e6, benchmark::Counter::kIsRate);
    state.counters["bytes"] = double(bytes);
}

void BM_DecodeBlocks(benchmark::State& state)
{
    codec_test::init_block_coding_tables();
    const int smooth = int(state.range(0)), mode = int(state.range(1));
    const auto& blocks = image_blocks(smooth);
    rvd_block_encoder enc;
    rvd_block eb, db;
    std::vector<codec_test::coded_block> coded;
    for (const auto& w : blocks)
        coded.push_back(codec_test::encode_block(enc, eb, shape_of(mode), w, kPasses));
    for (auto _ : state)
        for (const auto& c : coded)
            benchmark::DoNotOptimize(codec_test::decode_block(dec_of(), db, shape_of(mode), c, kPasses)[0]);
    double samples = double(kSide) * kSide * double(state.iterations());
    state.counters["Msamples/s"] = benchmark::Counter(samples / 1e6, benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_EncodeBlocks)->ArgsProduct({{0, 1}, {0, 1, 4, 63}, {0, 1}});
BENCHMARK(BM_DecodeBlocks)->ArgsProduct({{0, 1}, {0, 1, 4, 63}});
