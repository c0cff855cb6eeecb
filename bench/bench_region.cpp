// Region rendering: the line kernels on 2048-sample lines, and whole 2048x2048 renders
// with the decode step's call pattern (increments of 1,000,000 samples; the 8-bit form
// for grey, the packed form for RGB) at levels 0 and 2. The synthetic renders draw their
// lines from a stand-in engine that hands out ready lines, so they time the rendering
// alone. With ORBEL_REGION_STREAMS naming a folder holding grey.j2k and rgb.j2k (as
// compare_region.sh writes them), the same renders run on those codestreams, decoding
// included. Items are rendered samples.
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_compressed_source.h"
#include "codec/jp2/rvd_channel_mapping.h"
#include "codec/jp2/rvd_region_decompressor.h"
#include "codec/jp2/rvd_region_kernels.h"
#include "tests/codec/support/codestream_bytes.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const int width = 2048;

// ---- Kernels ----

std::vector<int16_t> random16(int n, int lo, int hi)
{
    std::mt19937 gen(7);
    std::uniform_int_distribution<int> dist(lo, hi);
    std::vector<int16_t> v(static_cast<size_t>(n));
    for (int16_t& s : v)
        s = int16_t(dist(gen));
    return v;
}

void BM_Transfer16To8(benchmark::State& state)
{
    const int gap = int(state.range(0));
    const std::vector<int16_t> src = random16(width, -4096, 4095);
    std::vector<uint8_t> dst(size_t(width) * size_t(gap));
    for (auto _ : state) {
        rv_region::transfer16_to8(src.data(), dst.data(), width, gap, 8, false);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * width);
}
BENCHMARK(BM_Transfer16To8)->Arg(1)->Arg(4);

void BM_Transfer32To16(benchmark::State& state)
{
    std::vector<int32_t> src(width);
    for (int i = 0; i < width; ++i)
        src[size_t(i)] = (i * 7919 % 65536 - 32768) * 8192;
    std::vector<uint16_t> dst(width);
    for (auto _ : state) {
        rv_region::transfer32_to16(src.data(), dst.data(), width, 1, 16, false);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * width);
}
BENCHMARK(BM_Transfer32To16);

void BM_Abs16ToFix16(benchmark::State& state)
{
    const std::vector<int16_t> src = random16(width, -128, 127);
    std::vector<int16_t> dst(width);
    for (auto _ : state) {
        rv_region::abs16_to_fix16(src.data(), dst.data(), width, 8);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * width);
}
BENCHMARK(BM_Abs16ToFix16);

// Expansion by num/den into a 2048-sample line.
void BM_Expand16(benchmark::State& state)
{
    const int num = int(state.range(0)), den = int(state.range(1));
    const int src_len = width * den / num + 2;
    const std::vector<int16_t> src = random16(src_len, -4096, 4095);
    std::vector<int16_t> dst(width);
    for (auto _ : state) {
        rv_region::expand16(src.data(), src_len, dst.data(), width, num, den, 0);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * width);
}
BENCHMARK(BM_Expand16)->Args({1, 1})->Args({2, 1})->Args({3, 2});

void BM_Interpolate16(benchmark::State& state)
{
    const std::vector<int16_t> a = random16(width, -4096, 4095), b = random16(width, -4096, 4095);
    std::vector<int16_t> dst(width);
    for (auto _ : state) {
        rv_region::interpolate16(a.data(), b.data(), dst.data(), width, 2, 3);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * width);
}
BENCHMARK(BM_Interpolate16);

// ---- Whole renders ----

class bytes_source : public rvd_compressed_source {
public:
    explicit bytes_source(std::vector<uint8_t> b) : data(std::move(b)) {}
    int get_capabilities() override { return RVD_SOURCE_CAP_SEEKABLE; }
    int read(uint8_t* buf, int n) override
    {
        const int64_t left = int64_t(data.size()) - pos;
        const int k = int(std::max<int64_t>(0, std::min<int64_t>(n, left)));
        if (k > 0)
            std::memcpy(buf, data.data() + pos, size_t(k));
        pos += k;
        return k;
    }
    bool seek(int64_t offset) override
    {
        pos = std::clamp<int64_t>(offset, 0, int64_t(data.size()));
        return true;
    }
    int64_t get_pos() override { return pos; }

private:
    std::vector<uint8_t> data;
    int64_t pos = 0;
};

// Hands out one ready 8-bit line per component and row of the tile.
class ready_lines : public rv_region_line_source {
public:
    ready_lines(rvd_codestream cs, rvd_tile tile)
    {
        const int n = cs.get_num_components(true);
        for (int k = 0; k < n; ++k) {
            rvd_dims d;
            cs.get_tile_dims(tile.get_tile_idx(), k, d, true);
            heights.push_back(d.size.y);
            lines.emplace_back();
            lines.back().pre_create(&alloc, d.size.x, true, true, 0, 0);
        }
        alloc.finalize();
        rows.assign(lines.size(), 0);
        for (size_t k = 0; k < lines.size(); ++k) {
            lines[k].create();
            for (int i = 0; i < lines[k].get_width(); ++i)
                lines[k].get_buf16()[i] = int16_t((i * 37 + int(k) * 11) % 256 - 128);
        }
    }
    rvd_line_buf* get_line(int k) override
    {
        if (rows[size_t(k)] >= heights[size_t(k)])
            return nullptr;
        rows[size_t(k)]++;
        return &lines[size_t(k)];
    }
    bool is_line_precise(int) override { return false; }
    bool is_line_absolute(int) override { return true; }

private:
    rvd_sample_allocator alloc;
    std::vector<rvd_line_buf> lines;
    std::vector<int> heights, rows;
};

class synthetic_decompressor : public rvd_region_decompressor {
protected:
    std::unique_ptr<rv_region_line_source> create_line_source(rvd_codestream cs, rvd_tile tile,
                                                              bool, bool) override
    {
        return std::make_unique<ready_lines>(cs, tile);
    }
};

std::vector<uint8_t> synthetic_stream(int num_comps)
{
    codec_test::siz_geometry g;
    g.xsiz = g.ysiz = g.xtsiz = g.ytsiz = width;
    g.comps.assign(size_t(num_comps), codec_test::siz_geometry::comp());
    return codec_test::build_stream(g, {codec_test::cod_segment(5), codec_test::qcd_segment(5)});
}

// One render of the whole image at `level` as the decode step drives it.
int64_t render(rvd_region_decompressor& d, rvd_codestream cs, rvd_channel_mapping& m, int level,
               std::vector<uint8_t>& grey, std::vector<uint32_t>& packed)
{
    cs.apply_input_restrictions(0, 0, level, 0, nullptr, RVD_WANT_OUTPUT_COMPONENTS);
    rvd_dims region;
    cs.get_dims(0, region, true);
    const size_t n = size_t(region.size.y) * size_t(region.size.x);
    if (!d.start(cs, &m, -1, level, 0, region, rvd_coords(1, 1)))
        throw std::runtime_error("start failed");
    rvd_dims incomplete = region, fresh;
    const int offsets[1] = {0};
    for (;;) {
        bool more;
        if (m.num_channels > 1) {
            packed.resize(n);
            more = d.process(packed.data(), region.pos, region.size.x, 1000000, int(n), incomplete, fresh);
        } else {
            grey.resize(n);
            more = d.process(grey.data(), offsets, 1, region.pos, region.size.x, 1000000, int(n),
                             incomplete, fresh, 0, true);
        }
        if (!more && incomplete.is_empty())
            break;
    }
    if (!d.finish())
        throw std::runtime_error("rendering failed");
    return int64_t(n);
}

void run_render(benchmark::State& state, rvd_region_decompressor& d, std::vector<uint8_t> bytes)
{
    bytes_source src(std::move(bytes));
    rvd_codestream cs;
    try {
        cs.create(&src);
        cs.set_persistent();
        rvd_channel_mapping m;
        m.configure(cs);
        std::vector<uint8_t> grey;
        std::vector<uint32_t> packed;
        int64_t items = 0;
        for (auto _ : state)
            items += render(d, cs, m, int(state.range(0)), grey, packed);
        state.SetItemsProcessed(items);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
    if (cs.exists())
        cs.destroy();
}

void BM_RenderSyntheticGrey(benchmark::State& state)
{
    synthetic_decompressor d;
    run_render(state, d, synthetic_stream(1));
}
BENCHMARK(BM_RenderSyntheticGrey)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_RenderSyntheticRgb(benchmark::State& state)
{
    synthetic_decompressor d;
    run_render(state, d, synthetic_stream(3));
}
BENCHMARK(BM_RenderSyntheticRgb)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);

std::vector<uint8_t> stream_file(const char* name)
{
    const char* dir = std::getenv("ORBEL_REGION_STREAMS");
    if (dir == nullptr)
        return {};
    std::ifstream in(std::string(dir) + "/" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void BM_RenderGrey(benchmark::State& state)
{
    std::vector<uint8_t> bytes = stream_file("grey.j2k");
    if (bytes.empty()) {
        state.SkipWithError("set ORBEL_REGION_STREAMS to a folder with grey.j2k");
        return;
    }
    rvd_region_decompressor d;
    run_render(state, d, std::move(bytes));
}
BENCHMARK(BM_RenderGrey)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_RenderRgb(benchmark::State& state)
{
    std::vector<uint8_t> bytes = stream_file("rgb.j2k");
    if (bytes.empty()) {
        state.SkipWithError("set ORBEL_REGION_STREAMS to a folder with rgb.j2k");
        return;
    }
    rvd_region_decompressor d;
    run_render(state, d, std::move(bytes));
}
BENCHMARK(BM_RenderRgb)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);

} // namespace
