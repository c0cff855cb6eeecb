// Inverse wavelet speed: a whole 512x512 node tree of five levels pulled row by row,
// with leaves that copy prepared band rows, for each line kind; and the subband
// decoder's dequantisation of a 64x64 block. Reports samples per second.
#include "codec/coding/rv_decoder.h"
#include "codec/coding/rv_synthesis.h"
#include "codec/core/rvd_kernels.h"
#include "codec/core/rvd_processor.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

struct kind {
    bool reversible, shorts;
    int mmx_level;
};
// 0: 5/3 32-bit, 1: 5/3 16-bit, 2: 9/7 float, 3: 9/7 16-bit exact form, 4: 9/7 16-bit general
const kind kinds[] = {{true, false, 2}, {true, true, 2}, {false, false, 2}, {false, true, 2},
                      {false, true, 0}};

// Delivers the same small-valued row again and again.
class copy_leaf : public rvd_pull_ifc_base {
public:
    copy_leaf(int width, bool shorts, bool reversible) : shorts(shorts)
    {
        std::mt19937 rng{unsigned(width)};
        for (int n = 0; n < width; n++) {
            int v = int(rng() % 61) - 30;
            s16.push_back(std::int16_t(v));
            rvd_sample32 s;
            if (reversible)
                s.ival = v;
            else
                s.fval = float(v) / 4096.0f;
            s32.push_back(s);
        }
    }
    void start(rvd_thread_env*) override {}
    void pull(rvd_line_buf& line, rvd_thread_env*) override
    {
        if (shorts)
            std::memcpy(line.get_buf16(), s16.data(), s16.size() * 2);
        else
            std::memcpy(line.get_buf32(), s32.data(), s32.size() * 4);
    }

private:
    bool shorts;
    std::vector<std::int16_t> s16;
    std::vector<rvd_sample32> s32;
};

rv_synthesis_direction direction(bool reversible)
{
    rvd_kernels k;
    k.init(reversible ? 1 : 0, reversible);
    rv_synthesis_direction d;
    d.num_steps = k.get_num_steps();
    for (int s = 0; s < d.num_steps; s++) {
        d.steps.push_back(k.get_steps()[s]);
        for (int t = 0; t < k.get_steps()[s].support_length; t++)
            d.coefficients.push_back(k.get_coefficients()[t * d.num_steps + s]);
    }
    d.low_gain = k.get_low_scale();
    d.high_gain = k.get_high_scale();
    if (!reversible) {
        double lo = 0, hi = 0;
        const double* g = k.get_bibo_gains(0, 0, nullptr, lo, hi);
        d.bibo_gains.push_back(1.0);
        for (int s = 0; s < d.num_steps; s++)
            d.bibo_gains.push_back(g[s]);
    }
    return d;
}

rvd_pull_ifc_base* tree(const kind& k, int size, int levels, rvd_sample_allocator* alloc,
                        float norm)
{
    rv_synthesis_shape s;
    s.region = rvd_dims(rvd_coords(0, 0), rvd_coords(size, size));
    s.reversible = k.reversible;
    s.kernel_id = k.reversible ? 1 : 0;
    s.horz = s.vert = direction(k.reversible);
    const int low = (size + 1) / 2, high = size / 2;
    for (int c = 0; c < 4; c++) {
        s.child_exists[c] = true;
        s.child_dims[c] = rvd_dims(rvd_coords(0, 0), rvd_coords((c & 2) ? high : low, (c & 1) ? high : low));
    }
    auto maker = [&](int c, float n) -> rvd_pull_ifc_base* {
        if (c == 0 && levels > 1)
            return tree(k, low, levels - 1, alloc, n);
        return new copy_leaf(s.child_dims[c].size.x, k.shorts, k.reversible);
    };
    return new rv_synthesis(s, maker, alloc, k.shorts, norm, 0);
}

void BM_SynthesisTree(benchmark::State& state)
{
    const kind& k = kinds[state.range(0)];
    rv_init_w97_consts();
    rvd_mmx_level = k.mmx_level;
    const int size = 512;
    for (auto _ : state) {
        state.PauseTiming();
        rvd_sample_allocator alloc;
        rvd_pull_ifc top(tree(k, size, 5, &alloc, 1.0f));
        rvd_line_buf line;
        line.pre_create(&alloc, size, k.reversible, k.shorts, 0, 0);
        alloc.finalize();
        line.create();
        top.start(nullptr);
        state.ResumeTiming();
        for (int y = 0; y < size; y++)
            top.pull(line, nullptr);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * size * size);
}
BENCHMARK(BM_SynthesisTree)->DenseRange(0, 4);

void BM_Dequantise(benchmark::State& state)
{
    const bool reversible = state.range(0) & 1, shorts = state.range(0) & 2,
               fast = state.range(0) & 4;
    rvd_mmx_level = 2;
    rvd_block b;
    b.set_max_samples(64 * 64);
    b.size = rvd_coords(64, 64);
    b.region = rvd_dims(rvd_coords(0, 0), rvd_coords(64, 64));
    b.transpose = b.vflip = b.hflip = false;
    std::mt19937 rng(3);
    for (int i = 0; i < 64 * 64; i++)
        b.sample_buffer[i] = std::int32_t((rng() & 0x8000FFFFu) << 4);
    rv_dequantizer d;
    d.K_max = d.K_max_prime = 12;
    d.reversible = reversible;
    d.use_shorts = shorts;
    d.delta = 1.0f / 4096;
    d.allow_fast = fast;
    std::vector<std::int16_t> s16(64 * 64);
    std::vector<std::int32_t> i32(64 * 64);
    std::vector<float> f32(64 * 64);
    std::vector<std::int16_t*> p16;
    std::vector<std::int32_t*> pi;
    std::vector<float*> pf;
    for (int i = 0; i < 64; i++) {
        p16.push_back(&s16[size_t(i * 64)]);
        pi.push_back(&i32[size_t(i * 64)]);
        pf.push_back(&f32[size_t(i * 64)]);
    }
    rv_line_ptrs lines;
    lines.s16 = p16.data();
    lines.i32 = pi.data();
    lines.f32 = pf.data();
    for (auto _ : state) {
        d.convert(b, lines, 0);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 64 * 64);
}
// bit 0 reversible, bit 1 16-bit lines, bit 2 fast path allowed
BENCHMARK(BM_Dequantise)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Arg(6)->Arg(7);

} // namespace
