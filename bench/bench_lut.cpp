// Grey-table builds, one per window-drag step, for 8-, 12- and 16-bit images, beside a
// plain fill of 65536 entries as the floor.
#include "image/ImageBase.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

void BM_GreyTable(benchmark::State& state)
{
    const int bits = static_cast<int>(state.range(0));
    CImageBase image;
    image.GetPhotometricInterpretation().photometricInterpretation = "MONOCHROME2";
    image.Transform().SetView(0, 0, 511, 511);
    image.InitImage(512, 512, 0, bits, true, false);
    for (auto _ : state) {
        image.RebuildGreyLut();
        benchmark::DoNotOptimize(image.GreyTable().data.data());
    }
    state.SetItemsProcessed(state.iterations() * (int64_t(1) << bits));
}

void BM_PlainFill(benchmark::State& state)
{
    std::vector<int32_t> table(65536);
    int32_t v = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < table.size(); ++i)
            table[i] = static_cast<int32_t>(i >> 8) + v;
        ++v;
        benchmark::DoNotOptimize(table.data());
    }
    state.SetItemsProcessed(state.iterations() * 65536);
}

} // namespace

BENCHMARK(BM_GreyTable)->Arg(8)->Arg(12)->Arg(16);
BENCHMARK(BM_PlainFill);
