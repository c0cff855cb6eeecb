// Inverse and forward colour transforms over one 2048-sample line triple of each kind,
// through the rvd_line_buf entry points; items are samples (three per position).
#include "codec/coding/rvd_colour.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

enum Kind { rct16, rct32, ict16, ictf };

struct Lines {
    rvd_sample_allocator alloc;
    rvd_line_buf l[3];
    Lines(int width, Kind kind)
    {
        const bool absolute = kind == rct16 || kind == rct32;
        const bool shorts = kind == rct16 || kind == ict16;
        for (rvd_line_buf& b : l)
            b.pre_create(&alloc, width, absolute, shorts, 0, 0);
        alloc.finalize();
        std::mt19937 gen(1);
        std::uniform_int_distribution<int> dist(-2048, 2047);
        for (rvd_line_buf& b : l) {
            b.create();
            for (int i = 0; i < width; ++i) {
                if (shorts)
                    b.get_buf16()[i] = static_cast<int16_t>(dist(gen));
                else if (absolute)
                    b.get_buf32()[i].ival = dist(gen);
                else
                    b.get_buf32()[i].fval = dist(gen) / 8192.0f;
            }
        }
    }
};

void BM_YccToRgb(benchmark::State& state)
{
    Lines lines(2048, static_cast<Kind>(state.range(0)));
    for (auto _ : state) {
        rvd_convert_ycc_to_rgb(lines.l[0], lines.l[1], lines.l[2], -1);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 2048 * 3);
}

void BM_RgbToYcc(benchmark::State& state)
{
    Lines lines(2048, static_cast<Kind>(state.range(0)));
    for (auto _ : state) {
        rvd_convert_rgb_to_ycc(lines.l[0], lines.l[1], lines.l[2]);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 2048 * 3);
}

} // namespace

// Arguments: 0 RCT 16-bit, 1 RCT 32-bit, 2 ICT 16-bit, 3 ICT float.
BENCHMARK(BM_YccToRgb)->DenseRange(0, 3);
BENCHMARK(BM_RgbToYcc)->DenseRange(0, 3);
