// Whole-image decoding speed from memory: create the codestream, read it and pull every
// line of every component through the decode tool's loop (no file writing). Reports
// megasamples per second. Cases come from ORBEL_BENCH_DECODE
// ("label|path|reduce|x0,y0,x1,y1 or -" separated by ';', as bench/compare_decode.py
// passes them); without it, the CT-like 512x512 12-bit lossless stream and the two RGB
// 2048x2048 streams (lossless, 9/7 in five layers) of bench/compare_decode.py, each whole,
// at reduce 2 and over a centred region (256x256, 1024x1024). Samples count every component.
#include "bench/BenchQuick.h"
#include "bench/BenchScratch.h"
#include "codec/core/rvd_message.h"
#include "tools/decode/codec_message_sinks.h"
#include "tools/decode/decode_sources.h"
#include "tools/decode/image_decoder.h"

#include "tests/support/TestTools.h"
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

throwing_codec_sink error_sink;
printing_codec_sink warning_sink(nullptr);

struct bench_case {
    std::string label;
    std::string path;
    decode_settings settings;
};

// Not from __FILE__: a cached compile may have made that path relative to the build tree.
std::string source_root() { return ORBEL_SOURCE_DIR; }

std::vector<std::string> split(const std::string& text, char sep)
{
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, sep))
        parts.push_back(part);
    return parts;
}

void make_streams(const std::string& dir, const std::string& which)
{
    const std::string cmd = OrbelTest::pythonCommand(source_root() + "/bench/compare_decode.py") + " " + which +
                            " --make-streams " + dir + " > /dev/null";
    if (std::system(cmd.c_str()) != 0)
        throw std::runtime_error("stream generator failed: " + cmd);
}

// Each stream whole, at reduce 2 and over a centred square region of the given side.
void add_cases(std::vector<bench_case>& cases, const std::string& dir, const std::string& stream, int size,
               int side)
{
    const std::string path = dir + "/" + stream + ".j2k";
    bench_case c{stream + "_full", path, decode_settings()};
    cases.push_back(c);
    c.label = stream + "_r2";
    c.settings.reduce = 2;
    cases.push_back(c);
    c.label = stream + "_region" + std::to_string(side);
    c.settings.reduce = 0;
    c.settings.has_region = true;
    const int x0 = (size - side) / 2;
    c.settings.region = rvd_dims(rvd_coords(x0, x0), rvd_coords(side, side));
    cases.push_back(c);
}

std::vector<bench_case> default_cases()
{
    const std::string dir = benchscratch::path("decode_streams");
    make_streams(dir, "--quick");
    std::vector<bench_case> cases;
    add_cases(cases, dir, "ct512_lossless", 512, 256);
    if (benchQuick())
        return cases;
    make_streams(dir, "--colour-only");
    add_cases(cases, dir, "rgb2048_lossless", 2048, 1024);
    add_cases(cases, dir, "rgb2048_irr5", 2048, 1024);
    return cases;
}

std::vector<bench_case> cases_from(const std::string& spec)
{
    std::vector<bench_case> cases;
    for (const std::string& entry : split(spec, ';')) {
        std::vector<std::string> f = split(entry, '|');
        if (f.size() != 4)
            throw std::runtime_error("bad ORBEL_BENCH_DECODE entry: " + entry);
        bench_case c{f[0], f[1], decode_settings()};
        c.settings.reduce = std::stoi(f[2]);
        if (f[3] != "-") {
            std::vector<std::string> r = split(f[3], ',');
            if (r.size() != 4)
                throw std::runtime_error("bad region in: " + entry);
            const int x0 = std::stoi(r[0]), y0 = std::stoi(r[1]);
            c.settings.has_region = true;
            c.settings.region = rvd_dims(rvd_coords(y0, x0), rvd_coords(std::stoi(r[3]) - y0, std::stoi(r[2]) - x0));
        }
        cases.push_back(c);
    }
    return cases;
}

void BM_Decode(benchmark::State& state, const bench_case& c)
{
    std::ifstream in(c.path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty()) {
        state.SkipWithError(("cannot read " + c.path).c_str());
        return;
    }
    int64_t samples = 0;
    for (auto _ : state) {
        decode_memory_source source(bytes.data(), int64_t(bytes.size()));
        std::vector<pgx_image> images;
        try {
            images = decode_components(&source, c.settings);
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            break;
        }
        samples = 0;
        for (const pgx_image& img : images)
            samples += int64_t(img.width) * img.height;
        benchmark::DoNotOptimize(images.data());
    }
    state.counters["MS/s"] =
        benchmark::Counter(double(samples) * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

int register_cases()
{
    rvd_customize_errors(&error_sink);
    rvd_customize_warnings(&warning_sink);
    const char* spec = std::getenv("ORBEL_BENCH_DECODE");
    for (const bench_case& c : (spec && *spec) ? cases_from(spec) : default_cases())
        benchmark::RegisterBenchmark(("BM_Decode/" + c.label).c_str(), BM_Decode, c)
            ->Unit(benchmark::kMillisecond);
    return 0;
}

[[maybe_unused]] const int registered = register_cases();

} // namespace
