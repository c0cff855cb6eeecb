// A hand-described tile for the multi-component network: codestream components whose
// engines deliver known sample values, output components, and stages of blocks given
// directly instead of through a codestream.
#pragma once

#include "codec/coding/rv_multi_source.h"
#include "codec/core/rvd_line_buf.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace multi_test {

struct fake_comp {
    bool reversible = true;
    int depth = 8;
    int internal_depth = 8;
    rvd_coords size{4, 6};
};

struct fake_output {
    rvd_coords size{4, 6};
    int depth = 8;
    bool is_signed = false;
};

enum class block_kind { null, matrix, rxform, dependency, dwt };

struct fake_block {
    block_kind kind = block_kind::null;
    std::vector<int> in_idx, out_idx;
    std::vector<float> irrev_off;
    std::vector<int> rev_off;
    std::vector<float> matrix;    // outputs x inputs
    std::vector<int> rx;          // N x (N + 1)
    std::vector<int> active;      // rxform / dependency / dwt outputs
    std::vector<int> active_in;   // dwt
    bool reversible = true;       // dependency and dwt
    std::vector<float> dep_rc, dep_ro;
    std::vector<int> dep_ic, dep_io;
    int levels = 1, cmin = 0, clim = 0;
    std::vector<rvd_kernel_step_info> steps;
    std::vector<float> taps;
};

struct fake_stage {
    int num_inputs = 0, num_outputs = 0;
    std::vector<int> stage_inputs;
    std::vector<fake_block> blocks;
};

// Integer-unit value of sample x of row y of codestream component c.
using sample_fn = std::function<int(int c, int y, int x)>;

class fake_engine : public rvd_pull_ifc_base {
public:
    fake_engine(int comp, const fake_comp& info, sample_fn fn, std::vector<int>* pulls)
        : comp(comp), info(info), fn(std::move(fn)), pulls(pulls)
    {
    }
    void start(rvd_thread_env*) override {}
    void pull(rvd_line_buf& line, rvd_thread_env*) override
    {
        const int w = line.get_width();
        const double scale = std::ldexp(1.0, -info.depth);
        for (int x = 0; x < w; ++x) {
            const int v = fn(comp, row, x);
            if (line.is_absolute()) {
                if (line.is_shorts())
                    line.get_buf16()[x] = int16_t(v);
                else
                    line.get_buf32()[x].ival = v;
            } else if (line.is_shorts()) {
                line.get_buf16()[x] = int16_t(std::lround(v * scale * 8192.0));
            } else {
                line.get_buf32()[x].fval = float(v * scale);
            }
        }
        ++row;
        (*pulls)[std::size_t(comp)]++;
    }

private:
    int comp;
    fake_comp info;
    sample_fn fn;
    std::vector<int>* pulls;
    int row = 0;
};

class fake_source : public rv_multi_source {
public:
    std::vector<fake_comp> comps;
    std::vector<fake_output> outputs;
    std::vector<fake_stage> stages;
    bool ycc = false;
    sample_fn samples = [](int c, int y, int x) { return ((c * 37 + y * 11 + x * 5) % 200) - 100; };
    std::vector<int> pulls;

    // Stage of one null block taking every component to itself with the offsets that
    // centre unsigned samples, as a tile without a transform describes itself.
    void add_default_stage()
    {
        fake_stage s;
        const int n = int(comps.size());
        s.num_inputs = s.num_outputs = n;
        fake_block b;
        for (int c = 0; c < n; ++c) {
            s.stage_inputs.push_back(c);
            b.in_idx.push_back(c);
            b.out_idx.push_back(c);
            const int off = outputs[std::size_t(c)].is_signed ? 0 : 1 << (comps[std::size_t(c)].depth - 1);
            b.rev_off.push_back(off);
            b.irrev_off.push_back(float(off));
        }
        s.blocks.push_back(b);
        stages.push_back(s);
    }

    bool get_ycc() override { return ycc; }

    const fake_block* find(int s, int b) const
    {
        if (s < 0 || s >= int(stages.size()) || b < 0 || b >= int(stages[std::size_t(s)].blocks.size()))
            return nullptr;
        return &stages[std::size_t(s)].blocks[std::size_t(b)];
    }

    bool get_mct_block_info(int s, int b, int& nsi, int& nso, int& nbi, int& nbo, int* bin,
                            int* bout, float* irr, int* rev, int* sin) override
    {
        const fake_block* blk = find(s, b);
        if (blk == nullptr)
            return false;
        const fake_stage& st = stages[std::size_t(s)];
        nsi = st.num_inputs;
        nso = st.num_outputs;
        nbi = int(blk->in_idx.size());
        nbo = int(blk->out_idx.size());
        for (int i = 0; i < nbi; ++i)
            if (bin != nullptr)
                bin[i] = blk->in_idx[std::size_t(i)];
        for (int i = 0; i < nbo; ++i) {
            if (bout != nullptr)
                bout[i] = blk->out_idx[std::size_t(i)];
            if (irr != nullptr)
                irr[i] = i < int(blk->irrev_off.size()) ? blk->irrev_off[std::size_t(i)] : 0.0f;
            if (rev != nullptr)
                rev[i] = i < int(blk->rev_off.size()) ? blk->rev_off[std::size_t(i)] : 0;
        }
        if (sin != nullptr)
            for (int i = 0; i < int(st.stage_inputs.size()); ++i)
                sin[i] = st.stage_inputs[std::size_t(i)];
        return true;
    }
    bool get_mct_matrix_info(int s, int b, float* c) override
    {
        const fake_block* blk = find(s, b);
        if (blk == nullptr || blk->kind != block_kind::matrix)
            return false;
        if (c != nullptr)
            std::copy(blk->matrix.begin(), blk->matrix.end(), c);
        return true;
    }
    bool get_mct_rxform_info(int s, int b, int* c, int* active) override
    {
        const fake_block* blk = find(s, b);
        if (blk == nullptr || blk->kind != block_kind::rxform)
            return false;
        if (c != nullptr)
            std::copy(blk->rx.begin(), blk->rx.end(), c);
        if (active != nullptr)
            std::copy(blk->active.begin(), blk->active.end(), active);
        return true;
    }
    bool get_mct_dependency_info(int s, int b, bool& rev, float* rc, float* ro, int* ic, int* io,
                                 int* active) override
    {
        const fake_block* blk = find(s, b);
        if (blk == nullptr || blk->kind != block_kind::dependency)
            return false;
        rev = blk->reversible;
        if (rc != nullptr)
            std::copy(blk->dep_rc.begin(), blk->dep_rc.end(), rc);
        if (ro != nullptr)
            std::copy(blk->dep_ro.begin(), blk->dep_ro.end(), ro);
        if (ic != nullptr)
            std::copy(blk->dep_ic.begin(), blk->dep_ic.end(), ic);
        if (io != nullptr)
            std::copy(blk->dep_io.begin(), blk->dep_io.end(), io);
        if (active != nullptr)
            std::copy(blk->active.begin(), blk->active.end(), active);
        return true;
    }
    const rvd_kernel_step_info* get_mct_dwt_info(int s, int b, bool& rev, int& levels, int& cmin,
                                                 int& clim, int& nsteps, bool& sym, bool& sym_ext,
                                                 const float*& coeffs, int* active_in,
                                                 int* active_out) override
    {
        const fake_block* blk = find(s, b);
        if (blk == nullptr || blk->kind != block_kind::dwt)
            return nullptr;
        rev = blk->reversible;
        levels = blk->levels;
        cmin = blk->cmin;
        clim = blk->clim;
        nsteps = int(blk->steps.size());
        sym = sym_ext = true;
        coeffs = blk->taps.data();
        if (active_in != nullptr)
            std::copy(blk->active_in.begin(), blk->active_in.end(), active_in);
        if (active_out != nullptr)
            std::copy(blk->active.begin(), blk->active.end(), active_out);
        return blk->steps.data();
    }
    bool get_reversible(int c) override { return comps[std::size_t(c)].reversible; }
    int get_bit_depth(int c, bool internal) override
    {
        return internal ? comps[std::size_t(c)].internal_depth : comps[std::size_t(c)].depth;
    }
    rvd_coords get_comp_size(int c) override { return comps[std::size_t(c)].size; }
    rvd_coords get_output_size(int o) override { return outputs[std::size_t(o)].size; }
    int get_output_bit_depth(int o) override { return outputs[std::size_t(o)].depth; }
    bool get_output_signed(int o) override { return outputs[std::size_t(o)].is_signed; }
    rvd_pull_ifc create_engine(int c, rvd_sample_allocator*, bool, rvd_thread_env*,
                               rvd_thread_queue*) override
    {
        pulls.resize(comps.size(), 0);
        return rvd_pull_ifc(new fake_engine(c, comps[std::size_t(c)], samples, &pulls));
    }
};

// A line's samples in integer units of bit depth `depth`.
inline std::vector<double> line_values(const rvd_line_buf& line, int depth)
{
    std::vector<double> v(std::size_t(line.get_width()));
    for (int x = 0; x < line.get_width(); ++x) {
        if (line.is_absolute())
            v[std::size_t(x)] = line.is_shorts() ? line.get_buf16()[x] : line.get_buf32()[x].ival;
        else if (line.is_shorts())
            v[std::size_t(x)] = std::ldexp(line.get_buf16()[x] / 8192.0, depth);
        else
            v[std::size_t(x)] = std::ldexp(double(line.get_buf32()[x].fval), depth);
    }
    return v;
}

} // namespace multi_test
