// Whole-image compression speed from memory into a memory target: every row pushed
// through the multi-component analysis, then the codestream flushed. Reports megasamples
// per second for a 512 x 512 12-bit CT-like image: lossless (5/3, 6 resolutions, 64 x 64
// blocks, one layer), lossless without levels (block coding dominates) and 9/7 in five
// layers, each on the calling thread and on four threads.
#include "tools/decode/codec_message_sinks.h"
#include "tools/encode/image_encoder.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

throwing_codec_sink error_sink;
printing_codec_sink warning_sink(nullptr);

class discard_target : public rvd_compressed_target {
public:
    bool write(const uint8_t*, int n) override
    {
        bytes += n;
        return true;
    }
    int64_t bytes = 0;
};

// A disc of soft tissue with brighter structures and noise, 12 bits.
std::vector<encode_component> phantom()
{
    encode_component c;
    c.width = c.height = 512;
    c.depth = 12;
    c.samples.resize(512 * 512);
    uint32_t seed = 1;
    for (int y = 0; y < 512; y++)
        for (int x = 0; x < 512; x++) {
            const double r = std::hypot(x - 256.0, y - 256.0);
            double v = r < 220 ? 1000 + 200 * std::sin(x / 17.0) * std::cos(y / 23.0) : 50;
            if (std::hypot(x - 300.0, y - 200.0) < 40)
                v += 1800;
            seed = seed * 1103515245u + 12345u;
            v += double((seed >> 16) % 64);
            c.samples[size_t(y) * 512 + size_t(x)] = int32_t(std::min(4095.0, v));
        }
    return {c};
}

void encode(benchmark::State& state, std::vector<std::string> attributes, bool lossy)
{
    rvd_customize_errors(&error_sink);
    rvd_customize_warnings(&warning_sink);
    static const std::vector<encode_component> image = phantom();
    encode_settings s;
    s.attributes = attributes;
    s.threads = int(state.range(0));
    if (lossy)
        for (int ratio : {384, 192, 96, 48, 24})
            s.layer_bytes.push_back(512 * 512 * 2 / ratio);
    for (auto _ : state) {
        discard_target t;
        encode_components(image, s, &t);
        benchmark::DoNotOptimize(t.bytes);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 512 * 512);
}

} // namespace

BENCHMARK_CAPTURE(encode, lossless, std::vector<std::string>{}, false)->Arg(0)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(encode, lossless_no_levels, std::vector<std::string>{"Clevels=0"}, false)->Arg(0)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(encode, irreversible_5_layers, std::vector<std::string>{"Creversible=no"}, true)->Arg(0)->Arg(4)->Unit(benchmark::kMillisecond);
