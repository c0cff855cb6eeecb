// The compression side of a wavelet transform across components: the finest level's
// lines, given for one row, are lifted forward level by level into the block's subband
// inputs. It lives beside the forward lifting it uses, so the multi-component code below
// the encoder does not depend on it.
#include "codec/coding/rv_multi_block.h"

#include "codec/encode/rvd_analysis.h"

#include <cmath>

const char* rv_multi_dwt_block::prepare_for_inversion()
{
    // The finest level's work lines are lines 0 .. n-1; each must come from downstream.
    for (std::size_t e = 0; e < element_src.size(); ++e)
        if (int(e) >= num_outputs || outputs[e].num_consumers <= 0 || outputs[e].is_constant)
            return "DWT transform block cannot be inverted unless all output components can be "
                   "computed by downstream transform blocks in the multi-component transform "
                   "network, or by the application supplying them.";
    if (!reversible)
        for (const rv_multi_line* in : inputs)
            if (in != nullptr && in->reversible)
                return "Encountered an irreversible DWT transform block which operates on "
                       "reversible codestream sample data.  Such transforms are processed during "
                       "decompression, but cannot be inverted during compression.";
    outstanding = 0;
    return nullptr;
}

void rv_multi_dwt_block::perform_analysis()
{
    const int n = int(element_src.size());
    if (num_levels == 0) {
        for (int e = 0; e < n; ++e)
            if (rv_multi_line* dst = element_src[std::size_t(e)])
                rv_dwt_unload(outputs[e].samples(), dst->samples(), reversible, 1.0f);
        return;
    }
    // Finest level first; each level's low-pass lines become the next coarser level's
    // work lines, and the coarsest level's the first subband inputs.
    for (int l = num_levels - 1; l >= 0; --l) {
        level& lv = levels[std::size_t(l)];
        if (lv.num_elements < 1)
            continue;
        work_bufs.resize(std::size_t(lv.num_elements));
        for (int p = 0; p < lv.num_elements; ++p)
            work_bufs[std::size_t(p)] = &outputs[lv.first_line + p].line;
        if (lv.extra_upshift > 0)
            for (int p = 0; p < lv.num_elements; ++p) {
                rv_line_samples w = outputs[lv.first_line + p].samples();
                if (w.precise) {
                    float* f = w.f32();
                    for (int x = 0; x < w.width; ++x)
                        f[x] = std::ldexp(f[x], -lv.extra_upshift);
                } else {
                    int16_t* v = w.s16();
                    const int half = 1 << (lv.extra_upshift - 1);
                    for (int x = 0; x < w.width; ++x)
                        v[x] = int16_t((int32_t(v[x]) + half) >> lv.extra_upshift);
                }
            }
        if (lv.num_elements == 1) {
            // Synthesis halves a lone reversible high-pass element; doubling undoes it.
            const rv_line_samples w = outputs[lv.first_line].samples();
            if (reversible && (lv.canvas_min & 1) != 0)
                for (int x = 0; x < w.width; ++x) {
                    if (w.precise)
                        w.i32()[x] = int32_t(uint32_t(w.i32()[x]) << 1);
                    else
                        w.s16()[x] = int16_t(uint16_t(w.s16()[x]) << 1);
                }
        } else {
            const int first = lv.canvas_min, last = lv.canvas_min + lv.num_elements - 1;
            for (int s = 0; s < num_steps; ++s) {
                const rv_lifting_step& st = steps[std::size_t(s)];
                // Even steps update the high-pass (odd) indices, odd steps the low-pass ones.
                const int parity = (st.step_idx & 1) == 0 ? 1 : 0;
                for (int c = first; c <= last; ++c) {
                    if ((c & 1) != parity)
                        continue;
                    rvd_line_buf& target = *work_bufs[std::size_t(c - first)];
                    rv_analysis_vertical_step(st, step_sources(st, c, first, last), target, target);
                }
            }
        }
        int next_low = 0, next_high = lv.num_inputs_before;
        for (int p = 0; p < lv.num_elements; ++p) {
            const bool low = ((lv.canvas_min + p) & 1) == 0;
            rv_multi_line* dst;
            if (low)
                dst = l == 0 ? element_src[std::size_t(next_low++)]
                             : &outputs[levels[std::size_t(l - 1)].first_line + next_low++];
            else
                dst = element_src[std::size_t(next_high++)];
            if (dst == nullptr)
                continue; // an absent subband: synthesis takes it as zeros
            const float g = low ? lv.low_gain : 0.5f * lv.high_gain;
            rv_dwt_unload(outputs[lv.first_line + p].samples(), dst->samples(), reversible, g);
        }
    }
}
