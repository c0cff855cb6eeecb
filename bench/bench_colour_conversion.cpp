// Colour conversion into sRGB over one 2048-sample line (or line triple) per iteration,
// for spaces that take each path: luminance table, ICT only, first matrix with one tone
// table, tone tables with a second matrix, and CMYK. Items are sample positions. Lines are
// converted again each iteration: every path stays within 16 bits, so the work is the same.
#include "codec/jp2/jp2_colour_conversion.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

const int width = 2048;

struct Setup {
    j2_colour desc;
    jp2_colour_conversion conv;
    rvd_sample_allocator alloc;
    rvd_line_buf l[4];
    explicit Setup(int space)
    {
        desc.initialized = true;
        desc.space = space;
        desc.num_colours = space == 0 ? 1 : space == 12 ? 4 : 3;
        conv.init(jp2_colour(&desc), false, false);
        for (rvd_line_buf& b : l)
            b.pre_create(&alloc, width, false, true, 0, 0);
        alloc.finalize();
        std::mt19937 gen(1);
        std::uniform_int_distribution<int> dist(-4096, 4095);
        for (int c = 0; c < 4; ++c) {
            l[c].create();
            for (int i = 0; i < width; ++i)
                l[c].get_buf16()[i] = static_cast<int16_t>(dist(gen));
        }
    }
};

void BM_ColourConversion(benchmark::State& state)
{
    const int space = static_cast<int>(state.range(0));
    Setup s(space);
    for (auto _ : state) {
        if (space == 0)
            s.conv.convert_lum(s.l[0]);
        else if (space == 12)
            s.conv.convert_rgb4(s.l[0], s.l[1], s.l[2], s.l[3]);
        else
            s.conv.convert_rgb(s.l[0], s.l[1], s.l[2]);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * width);
}

} // namespace

// 0 bi-level, 18 sYCC, 1 YCbCr(1), 21 ROMM-RGB, 12 CMYK
BENCHMARK(BM_ColourConversion)->Arg(0)->Arg(18)->Arg(1)->Arg(21)->Arg(12);
