// The multi-component network's per-row cost on 2048-sample lines: the bypassed default
// stage, the colour transforms, a 3x3 matrix and a 5/3 wavelet across five components.
// Engines copy a prepared row, so the time is the network's own; items are output samples.
#include "codec/coding/rv_multi_synthesis.h"
#include "codec/core/rv_kernel_description.h"
#include "tests/codec/support/multi_fake_source.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

using namespace multi_test;

namespace {

const int W = 2048, H = 64;

class copy_engine : public rvd_pull_ifc_base {
public:
    void start(rvd_thread_env*) override {}
    void pull(rvd_line_buf& line, rvd_thread_env*) override
    {
        // Small values of either kind: 16-bit lines hold them as they are.
        if (line.is_shorts())
            std::memset(line.get_buf16(), 0x11, std::size_t(line.get_width()) * 2);
        else
            std::memset(line.get_buf32(), 0x01, std::size_t(line.get_width()) * 4);
    }
};

class bench_source : public fake_source {
public:
    rvd_pull_ifc create_engine(int, rvd_sample_allocator*, bool, rvd_thread_env*,
                               rvd_thread_queue*) override
    {
        return rvd_pull_ifc(new copy_engine);
    }
};

enum Case { plain, rct, ict, matrix, dwt };

bench_source make_source(Case k)
{
    bench_source src;
    const int n = k == dwt ? 5 : 3;
    for (int c = 0; c < n; ++c) {
        fake_comp fc;
        fc.reversible = k != ict && k != matrix;
        fc.size = rvd_coords(H, W);
        src.comps.push_back(fc);
        fake_output fo;
        fo.size = fc.size;
        src.outputs.push_back(fo);
    }
    if (k == matrix || k == dwt) {
        fake_stage st;
        st.num_inputs = st.num_outputs = n;
        fake_block b;
        for (int c = 0; c < n; ++c) {
            st.stage_inputs.push_back(c);
            b.in_idx.push_back(c);
            b.out_idx.push_back(c);
            b.active.push_back(c);
            b.active_in.push_back(c);
        }
        if (k == matrix) {
            b.kind = block_kind::matrix;
            b.matrix = {1.0f, 0.0f, 1.402f, 1.0f, -0.344f, -0.714f, 1.0f, 1.772f, 0.0f};
        } else {
            b.kind = block_kind::dwt;
            bool rev, sym, ext;
            int steps;
            rvd_kernel_step_info* info;
            float* taps;
            rv_create_kernel_description(1, 0, nullptr, -1, rev, sym, ext, steps, info, taps);
            b.reversible = rev;
            b.steps.assign(info, info + steps);
            b.taps.assign(taps, taps + 2 * steps);
            delete[] info;
            delete[] taps;
            b.levels = 2;
            b.clim = n;
        }
        st.blocks.push_back(b);
        src.stages.push_back(st);
    } else {
        src.ycc = k != plain;
        src.add_default_stage();
    }
    return src;
}

void BM_NetworkRows(benchmark::State& state)
{
    const Case k = Case(state.range(0));
    const bool precise = state.range(1) != 0;
    bench_source src = make_source(k);
    const int n = int(src.outputs.size());
    for (auto _ : state) {
        std::unique_ptr<rv_multi_synthesis> e(new rv_multi_synthesis);
        e->create(src, precise, false, false, 1, nullptr, nullptr, false);
        for (int y = 0; y < H; ++y)
            for (int c = 0; c < n; ++c)
                if (e->get_line(c, nullptr) == nullptr) {
                    state.SkipWithError("a row in order was refused");
                    return;
                }
    }
    state.SetItemsProcessed(state.iterations() * int64_t(H) * W * n);
}

} // namespace

BENCHMARK(BM_NetworkRows)->ArgsProduct({{plain, rct, ict, matrix, dwt}, {0, 1}});
