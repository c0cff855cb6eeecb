// Lifting-step speed over sample lines: a whole horizontal synthesis or analysis (all
// steps, with boundary extension) of a 2048-sample line, and one vertical step over 2048
// samples, for each line kind; the analysis at the plain level and with the vector forms;
// the 9/7 float synthesis also with the AVX2 and AVX-512 forms where the processor has them.
// Reports samples per second.
#include "codec/coding/rv_lifting_step.h"
#include "codec/core/rvd_kernels.h"
#include "codec/core/rvd_processor.h"
#include "codec/encode/rvd_analysis.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

const int line_width = 2048;

std::vector<rv_lifting_step> steps_of(int kernel_id, bool reversible)
{
    rvd_kernels k;
    k.init(kernel_id, reversible);
    std::vector<rv_lifting_step> out(std::size_t(k.get_num_steps()));
    for (int s = 0; s < k.get_num_steps(); s++) {
        std::vector<float> taps;
        for (int t = 0; t < k.get_steps()[s].support_length; t++)
            taps.push_back(k.get_coefficients()[t * k.get_num_steps() + s]);
        out[std::size_t(s)].init(s, k.get_steps()[s], taps.data(), reversible, kernel_id);
    }
    return out;
}

struct kind {
    int kernel_id;
    bool reversible, shorts;
    int mmx_level;
    int avx_level = 0;
};
// 0: 5/3 32-bit, 1: 5/3 16-bit, 2: 9/7 float (SSE2), 3: 9/7 16-bit exact form, 4: 9/7 16-bit
// general, 5: 9/7 float AVX2, 6: 9/7 float AVX-512
const kind kinds[] = {{1, true, false, 2},    {1, true, true, 2},     {0, false, false, 2},
                      {0, false, true, 2},    {0, false, true, 0},    {0, false, false, 2, 1},
                      {0, false, false, 2, 2}};

struct lines {
    rvd_sample_allocator alloc;
    rvd_line_buf buf[4];
    lines(const kind& k, int width)
    {
        for (auto& b : buf)
            b.pre_create(&alloc, width, k.reversible, k.shorts, 8, 8);
        alloc.finalize();
        std::mt19937 rng(7);
        for (auto& b : buf) {
            b.create();
            for (int n = 0; n < width; n++) {
                int v = int(rng() % 2001) - 1000;
                if (k.shorts)
                    b.get_buf16()[n] = std::int16_t(v);
                else if (k.reversible)
                    b.get_buf32()[n].ival = v;
                else
                    b.get_buf32()[n].fval = float(v) / 4096.0f;
            }
        }
    }
};

// False when the processor lacks the kind's wide vectors.
bool setup(const kind& k)
{
    rv_init_w97_consts();
    rvd_mmx_level = k.mmx_level;
    rvd_avx_level = k.avx_level;
    return k.avx_level <= rvd_get_avx_level();
}

// Times `op(steps, lines)` over lines of `width` samples of kind `k`.
template <class Op>
void time_lines(benchmark::State& state, const kind& k, int width, Op op)
{
    if (!setup(k)) {
        state.SkipWithError("the processor has no such vector form");
        return;
    }
    auto steps = steps_of(k.kernel_id, k.reversible);
    lines l(k, width);
    for (auto _ : state) {
        op(steps, l);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * line_width);
}

void BM_HorizontalSynthesis(benchmark::State& state)
{
    time_lines(state, kinds[state.range(0)], line_width / 2, [](auto& steps, lines& l) {
        rv_horizontal_synthesis(steps.data(), int(steps.size()), true, l.buf[0], l.buf[1], 0,
                                line_width - 1);
    });
}

void BM_VerticalStep(benchmark::State& state)
{
    time_lines(state, kinds[state.range(0)], line_width, [](auto& steps, lines& l) {
        const rvd_line_buf* src[2] = {&l.buf[1], &l.buf[2]};
        rv_vertical_step(steps[0], l.buf[0], src, line_width);
    });
}

// Analysis: each kind at its plain level, then with the vector forms (level 2). 16-bit
// 9/7 is plain at level 1, where its own fixed-point form starts.
// 0/1: 5/3 32-bit, 2/3: 5/3 16-bit, 4/5: 9/7 float, 6/7: 9/7 16-bit
const kind analysis_kinds[] = {{1, true, false, 0}, {1, true, false, 2}, {1, true, true, 0},
                               {1, true, true, 2},  {0, false, false, 0}, {0, false, false, 2},
                               {0, false, true, 1}, {0, false, true, 2}};

void BM_HorizontalAnalysis(benchmark::State& state)
{
    time_lines(state, analysis_kinds[state.range(0)], line_width / 2, [](auto& steps, lines& l) {
        rv_horizontal_analysis(steps.data(), int(steps.size()), true, l.buf[0], l.buf[1], 0,
                               line_width - 1);
    });
}

void BM_AnalysisVerticalStep(benchmark::State& state)
{
    time_lines(state, analysis_kinds[state.range(0)], line_width, [](auto& steps, lines& l) {
        const rvd_line_buf* src[2] = {&l.buf[1], &l.buf[2]};
        rv_analysis_vertical_step(steps[0], src, l.buf[0], l.buf[3]);
    });
}

BENCHMARK(BM_HorizontalSynthesis)->DenseRange(0, 6);
BENCHMARK(BM_VerticalStep)->DenseRange(0, 6);
BENCHMARK(BM_HorizontalAnalysis)->DenseRange(0, 7);
BENCHMARK(BM_AnalysisVerticalStep)->DenseRange(0, 7);

} // namespace
