#include "codec/coding/rv_multi_block.h"

#include "codec/coding/rv_multi_source.h"
#include "codec/core/rvd_message.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

[[noreturn]] void dwt_depth_error()
{
    {
        rvd_error e("Ravade Core Error:\n");
        e << "Inconsistent bit-depths encountered amongst output image components produced by "
             "a DWT transform block embedded inside the multi-component transform network.  "
             "All output components of one DWT block must have the same bit-depth.";
    }
    throw std::logic_error("codec error handler returned");
}

[[noreturn]] void dwt_description_error()
{
    {
        rvd_error e("Ravade Core Error:\n");
        e << "Multi-component DWT block has an invalid component range, level count or "
             "lifting description.";
    }
    throw std::logic_error("codec error handler returned");
}

// Number of even (low-pass) indices in [a, b), for a >= 0.
int num_even(int a, int b)
{
    return (b + 1) / 2 - (a + 1) / 2;
}

} // namespace

void rv_multi_dwt_block::initialize(int stage_idx, int block_idx, rv_multi_source& source,
                                    int num_block_inputs, int num_block_outputs,
                                    rv_multi_collection* input_collection,
                                    rv_multi_collection* output_collection,
                                    rv_multi_transform* owner)
{
    int cmin = 0, clim = 0;
    const float* taps = nullptr;
    const rvd_kernel_step_info* info =
        source.get_mct_dwt_info(stage_idx, block_idx, reversible, num_levels, cmin, clim, num_steps,
                                symmetric, symmetric_extension, taps);
    const int n = clim - cmin;
    if (info == nullptr || cmin < 0 || n < 1 || num_levels < 0 || num_levels > 32 ||
        num_steps < 0 || num_steps > 255 || (num_steps > 0 && taps == nullptr) ||
        num_block_inputs < 0 || num_block_inputs > n || num_block_outputs < 0 ||
        num_block_outputs > n)
        dwt_description_error();
    std::vector<int> active_in(static_cast<std::size_t>(n)), active_out(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        active_in[std::size_t(i)] = active_out[std::size_t(i)] = i;
    info = source.get_mct_dwt_info(stage_idx, block_idx, reversible, num_levels, cmin, clim,
                                   num_steps, symmetric, symmetric_extension, taps,
                                   active_in.data(), active_out.data());

    // Kernel: lifting steps and the band normalisation.
    steps.assign(std::size_t(num_steps), rv_lifting_step());
    std::size_t tap_pos = 0;
    for (int s = 0; s < num_steps; ++s) {
        if (info[s].support_length < 1 || info[s].support_length > 255)
            dwt_description_error();
        steps[std::size_t(s)].init(s, info[s], taps + tap_pos, reversible, 2);
        tap_pos += std::size_t(info[s].support_length);
    }
    rvd_kernels kernels;
    if (num_steps > 0)
        kernels.init(num_steps, info, taps, symmetric, symmetric_extension, reversible);

    // Level ranges, finest first while halving, then stored coarsest first.
    std::vector<std::pair<int, int>> ranges; // [a, b) per level, finest first
    int a = cmin, b = clim;
    for (int l = 0; l < num_levels; ++l) {
        ranges.emplace_back(a, b);
        a = (a + 1) / 2;
        b = (b + 1) / 2;
    }
    std::reverse(ranges.begin(), ranges.end());
    levels.assign(std::size_t(num_levels), level());
    // Owned lines: the finest level's work lines (the block's outputs) first, then the
    // work lines of each coarser level.
    int total_lines = n;
    int high_before = num_levels > 0 ? num_even(ranges[0].first, ranges[0].second) : n;
    for (int l = 0; l < num_levels; ++l) {
        level& lv = levels[std::size_t(l)];
        lv.canvas_min = ranges[std::size_t(l)].first;
        lv.num_elements = ranges[std::size_t(l)].second - lv.canvas_min;
        lv.num_low = num_even(lv.canvas_min, lv.canvas_min + lv.num_elements);
        lv.num_high = lv.num_elements - lv.num_low;
        lv.num_inputs_before = high_before;
        high_before += lv.num_high;
        if (l == num_levels - 1) {
            lv.first_line = 0;
        } else {
            lv.first_line = total_lines;
            total_lines += lv.num_elements;
        }
        if (reversible) {
            lv.low_gain = 1.0f;
            lv.high_gain = 2.0f;
        } else if (lv.num_elements < 2) {
            // A lone low-pass sample is itself; a lone high-pass one was doubled.
            lv.low_gain = 1.0f;
            lv.high_gain = 1.0f;
        } else {
            lv.low_gain = 1.0f / kernels.get_low_scale();
            lv.high_gain = 1.0f / kernels.get_high_scale();
            // Headroom for 16-bit work lines: scale down now, back up after lifting.
            while (std::max(std::fabs(lv.low_gain), std::fabs(lv.high_gain)) > 6.0f) {
                lv.low_gain *= 0.5f;
                lv.high_gain *= 0.5f;
                lv.extra_upshift++;
            }
        }
    }

    for (int i = 0; i < num_block_outputs; ++i)
        if (active_out[std::size_t(i)] < 0 || active_out[std::size_t(i)] >= n)
            dwt_description_error();
    bind(stage_idx, block_idx, source, num_block_inputs, num_block_outputs, total_lines,
         active_out.data(), input_collection, output_collection, owner);
    element_of_input.assign(std::size_t(num_inputs), -1);
    element_src.assign(std::size_t(n), nullptr);
    for (int i = 0; i < num_inputs; ++i) {
        const int e = active_in[std::size_t(i)];
        if (e < 0 || e >= n || element_src[std::size_t(e)] != nullptr)
            dwt_description_error();
        element_of_input[std::size_t(i)] = e;
        element_src[std::size_t(e)] = inputs[std::size_t(i)];
    }
    for (rv_multi_line* in : inputs)
        if (in != nullptr && reversible)
            in->reversible = true;
    for (int j = 0; j < num_outputs; ++j) {
        outputs[j].reversible = reversible;
        outputs[j].need_irreversible = !reversible;
    }
    for (int i = 0; i < num_block_outputs; ++i) {
        rv_multi_line& out = outputs[active_out[std::size_t(i)]];
        out.rev_offset = rev_offsets[std::size_t(i)];
        out.irrev_offset = irrev_offsets[std::size_t(i)];
    }
}

void rv_multi_dwt_block::normalize()
{
    if (reversible)
        return;
    bool precise = false;
    int max_depth = 0;
    for (int j = 0; j < num_outputs; ++j) {
        precise |= outputs[j].need_precise;
        max_depth = std::max(max_depth, outputs[j].bit_depth);
    }
    for (rv_multi_line* in : inputs)
        if (in != nullptr)
            precise |= in->need_precise || in->bit_depth == 0;
    if (max_depth == 0)
        precise = true;
    for (int j = 0; j < num_outputs; ++j) {
        if (outputs[j].bit_depth == 0)
            outputs[j].bit_depth = max_depth;
        else if (outputs[j].bit_depth != max_depth)
            dwt_depth_error();
        outputs[j].need_precise = precise;
    }
    for (rv_multi_line* in : inputs)
        if (in != nullptr)
            in->need_precise = precise;
}

bool rv_multi_dwt_block::propagate_bit_depths(bool need_input_depth, bool need_output_depth)
{
    (void)need_output_depth;
    int depth = 0;
    for (int j = 0; j < num_outputs; ++j) {
        const int d = outputs[j].bit_depth;
        if (d == 0)
            continue;
        if (depth != 0 && d != depth)
            return false;
        depth = d;
    }
    if (depth == 0) {
        if (!need_input_depth)
            return false;
        for (rv_multi_line* in : inputs)
            if (in != nullptr && in->bit_depth != 0 && (depth == 0 || in->bit_depth < depth))
                depth = in->bit_depth;
        if (depth == 0)
            return false;
    }
    bool changed = false;
    for (int j = 0; j < num_outputs; ++j)
        if (outputs[j].bit_depth == 0) {
            outputs[j].bit_depth = depth;
            changed = true;
        }
    const int finest_first_high =
        levels.empty() ? 0 : levels.back().num_inputs_before;
    for (int i = 0; i < num_inputs; ++i) {
        rv_multi_line* in = inputs[std::size_t(i)];
        if (in == nullptr || in->bit_depth != 0)
            continue;
        // Bands below the finest level's high-pass band carry one more bit.
        in->bit_depth = element_of_input[std::size_t(i)] >= finest_first_high ? depth : depth + 1;
        changed = true;
    }
    return changed;
}

void rv_multi_dwt_block::perform_synthesis()
{
    const int n = int(element_src.size());
    if (num_levels == 0) {
        for (int e = 0; e < n; ++e) {
            rv_multi_line* src = element_src[std::size_t(e)];
            rv_line_samples src_s;
            if (src != nullptr)
                src_s = src->samples();
            rv_dwt_load(outputs[e].samples(), src != nullptr ? &src_s : nullptr, reversible, 1.0f);
        }
    }
    for (int l = 0; l < num_levels; ++l) {
        level& lv = levels[std::size_t(l)];
        // A lone odd element has no low-pass band below it: nothing to do there.
        if (lv.num_elements < 1)
            continue;
        work_bufs.resize(std::size_t(lv.num_elements));
        int next_low = 0, next_high = lv.num_inputs_before;
        for (int p = 0; p < lv.num_elements; ++p) {
            rv_multi_line& work = outputs[lv.first_line + p];
            work_bufs[std::size_t(p)] = &work.line;
            const bool low = ((lv.canvas_min + p) & 1) == 0;
            const rv_multi_line* src;
            if (low)
                src = l == 0 ? element_src[std::size_t(next_low++)]
                             : &outputs[levels[std::size_t(l - 1)].first_line + next_low++];
            else
                src = element_src[std::size_t(next_high++)];
            rv_line_samples src_s;
            if (src != nullptr)
                src_s = src->samples();
            const float g = low ? lv.low_gain : 0.5f * lv.high_gain;
            rv_dwt_load(work.samples(), src != nullptr ? &src_s : nullptr, reversible, g);
        }
        if (lv.num_elements == 1) {
            rvd_line_buf& w = *work_bufs[0];
            if (reversible && (lv.canvas_min & 1) != 0)
                rv_halve_samples(w, 0, w.get_width());
            continue;
        }
        const int first = lv.canvas_min, last = lv.canvas_min + lv.num_elements - 1;
        const int width = work_bufs[0]->get_width();
        for (int s = num_steps - 1; s >= 0; --s) {
            const rv_lifting_step& st = steps[std::size_t(s)];
            // Even steps update the high-pass (odd) indices, odd steps the low-pass ones.
            const int parity = (st.step_idx & 1) == 0 ? 1 : 0;
            for (int c = first; c <= last; ++c)
                if ((c & 1) == parity)
                    rv_vertical_step(st, *work_bufs[std::size_t(c - first)],
                                     step_sources(st, c, first, last), width);
        }
        if (lv.extra_upshift > 0)
            for (int p = 0; p < lv.num_elements; ++p) {
                rv_line_samples w = outputs[lv.first_line + p].samples();
                if (w.precise) {
                    float* f = w.f32();
                    for (int x = 0; x < w.width; ++x)
                        f[x] = std::ldexp(f[x], lv.extra_upshift);
                } else {
                    int16_t* v = w.s16();
                    for (int x = 0; x < w.width; ++x)
                        v[x] = int16_t(uint16_t(uint32_t(int32_t(v[x])) << lv.extra_upshift));
                }
            }
    }
    for (int j = 0; j < n && j < num_outputs; ++j)
        rv_line_add_offset(outputs[j].samples(), outputs[j].rev_offset, outputs[j].irrev_offset);
}

const rvd_line_buf* const* rv_multi_dwt_block::step_sources(const rv_lifting_step& st, int c,
                                                            int first, int last)
{
    step_src.resize(std::size_t(st.support_length));
    for (int k = 0; k < st.support_length; ++k) {
        const int i = (c ^ 1) + 2 * (st.support_min + k);
        step_src[std::size_t(k)] =
            work_bufs[std::size_t(rv_extend_index(i, first, last, symmetric_extension) - first)];
    }
    return step_src.data();
}
