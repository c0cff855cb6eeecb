// A tile's multi-component transform: its stage chain, what the components of interest
// need of it, the queries from which the synthesis network builds its blocks, and the
// component gains.
#include "codec/core/rv_codestream.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_params.h"
#include "codec/core/rvd_tile.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>

namespace {

bool codestream_comps_exposed(const rv_codestream* cs)
{
    return cs->component_access_mode == RVD_WANT_CODESTREAM_COMPONENTS;
}

// The tile's chain when the caller sees output components through it; else null.
rv_mct_stage* visible_chain(const rv_tile* t)
{
    if (t == nullptr || t->mct_head == nullptr || codestream_comps_exposed(t->codestream))
        return nullptr;
    return t->mct_head.get();
}

rv_mct_stage* stage_at(rv_mct_stage* first, int stage_idx)
{
    rv_mct_stage* s = first;
    for (int n = 0; s != nullptr && n < stage_idx; n++)
        s = s->next_stage;
    return stage_idx < 0 ? nullptr : s;
}

// Block b among those with required outputs. A stage none of whose blocks is needed
// still answers block 0 (with nothing to do), so that the network's walk over the
// stages is not cut short.
rv_mct_block* active_block(rv_mct_stage* s, int block_idx)
{
    if (s == nullptr || block_idx < 0)
        return nullptr;
    int n = block_idx;
    for (rv_mct_block& b : s->blocks)
        if (b.num_required_outputs > 0 && n-- == 0)
            return &b;
    if (block_idx == 0 && !s->blocks.empty()) {
        for (rv_mct_block& b : s->blocks)
            if (b.num_required_outputs > 0)
                return nullptr;
        return &s->blocks[0];
    }
    return nullptr;
}

rv_mct_block* find_block(const rv_tile* t, int stage_idx, int block_idx)
{
    return active_block(stage_at(visible_chain(t), stage_idx), block_idx);
}

float vector_entry(rvd_params* obj, int idx)
{
    float v = 0.0f;
    if (obj != nullptr)
        obj->get("Mvector_coeffs", idx, 0, v);
    return v;
}

float coeff(rvd_params* obj, const char* name, int idx)
{
    float v = 0.0f;
    obj->get(name, idx, 0, v);
    return v;
}

// Nearest integer; coefficients beyond the int range (or not numbers) are clipped.
int rounded(float v)
{
    const double r = std::floor(double(v) + 0.5);
    if (!(r > double(INT_MIN)))
        return INT_MIN;
    return r < double(INT_MAX) ? int(r) : INT_MAX;
}

bool output_required(const rv_mct_block& b, int j)
{
    return b.stage->output_comps[size_t(b.outputs[size_t(j)])].is_required;
}

// The block positions of the required outputs.
void list_active_outputs(const rv_mct_block& b, int* active)
{
    if (active == nullptr)
        return;
    int k = 0;
    for (int j = 0; j < b.num_outputs; j++)
        if (output_required(b, j))
            active[k++] = j;
}

} // namespace

void rv_tile::build_mct_stages()
{
    rv_codestream* cs = codestream;
    mct_head.reset();
    mct_tail = nullptr;
    gain_all.assign(size_t(cs->num_components), -1.0f);
    gain_of_interest.assign(size_t(cs->num_components), -1.0f);
    if (!cs->uses_mct)
        return;
    rv_mct_stage* first = nullptr;
    rv_mct_stage* last = nullptr;
    rv_mct_stage::create_stages(first, last, cs->siz.get(), t_num, cs->num_components,
                                cs->comp_info.data(), cs->num_output_components,
                                cs->output_comp_info.data());
    mct_head.reset(first);
    mct_tail = last;
}

void rv_tile::apply_mct_restrictions()
{
    rv_codestream* cs = codestream;
    std::fill(gain_of_interest.begin(), gain_of_interest.end(), -1.0f);
    if (mct_tail == nullptr || codestream_comps_exposed(cs) || !cs->in) {
        for (rv_tile_comp& tc : comps)
            tc.enabled = true;
        return;
    }
    mct_tail->apply_output_restrictions(cs->output_comp_info.data(), -1, nullptr);
    const rv_mct_stage* first = mct_head.get();
    for (rv_tile_comp& tc : comps)
        tc.enabled = tc.cnum < first->num_inputs &&
                     first->input_required_indices[size_t(tc.cnum)] >= 0;
}

void rvd_tile::set_components_of_interest(int num, const int* indices)
{
    rv_tile* t = state;
    if (t == nullptr)
        return;
    rv_codestream* cs = t->codestream;
    std::fill(t->gain_of_interest.begin(), t->gain_of_interest.end(), -1.0f);
    if (visible_chain(t) != nullptr) {
        // num 0 wants every output, as without a transform.
        t->mct_tail->apply_output_restrictions(cs->output_comp_info.data(), num > 0 ? num : -1,
                                               num > 0 ? indices : nullptr);
        const rv_mct_stage* first = t->mct_head.get();
        for (rv_tile_comp& tc : t->comps)
            tc.is_of_interest = tc.cnum < first->num_inputs &&
                                first->input_required_indices[size_t(tc.cnum)] >= 0;
        return;
    }
    const int visible = get_num_components();
    for (rv_tile_comp& tc : t->comps)
        tc.is_of_interest = (num <= 0);
    if (num <= 0)
        return;
    auto mark = [&](int k) {
        if (k < 0 || k >= visible)
            return;
        rv_comp_info* ci = cs->visible_comp(k, !codestream_comps_exposed(cs));
        if (ci == nullptr)
            return;
        const size_t c = size_t(ci - cs->comp_info.data());
        if (c < t->comps.size())
            t->comps[c].is_of_interest = true;
    };
    for (int n = 0; n < num; n++)
        mark(indices != nullptr ? indices[n] : n);
}

namespace {

// The single stage of a tile without a transform (or while codestream components are
// exposed): one null block from the components of interest to themselves, with the
// offsets that centre unsigned samples.
bool default_block_info(const rvd_tile& tile, rv_tile* t, int stage_idx, int block_idx,
                        int& num_stage_inputs, int& num_stage_outputs, int& num_block_inputs,
                        int& num_block_outputs, int* block_inputs, int* block_outputs,
                        float* irrev_offsets, int* rev_offsets, int* stage_inputs)
{
    if (stage_idx != 0 || block_idx != 0)
        return false;
    rv_codestream* cs = t->codestream;
    const bool cs_mode = codestream_comps_exposed(cs);
    const int n = cs_mode ? cs->num_apparent_components : cs->num_apparent_output_components;
    // The tile-component behind visible component k (-1: an output no component feeds).
    auto comp_of = [&](int k) -> int {
        int c = -1;
        if (cs_mode) {
            const rv_comp_info* ci = cs->comp_info[size_t(k)].from_apparent;
            c = (ci == nullptr) ? -1 : int(ci - cs->comp_info.data());
        } else {
            c = cs->output_comp_info[size_t(k)].from_apparent;
        }
        return (c >= 0 && c < int(t->comps.size())) ? c : -1;
    };
    auto of_interest = [&](int c) {
        return c >= 0 && t->comps[size_t(c)].is_of_interest && t->comps[size_t(c)].enabled;
    };
    bool ycc = !cs_mode && tile.get_ycc();
    if (ycc)
        ycc = of_interest(0) || of_interest(1) || of_interest(2);
    num_stage_outputs = n;
    num_stage_inputs = ycc ? 3 : 0;
    num_block_inputs = num_block_outputs = 0;
    if (ycc && stage_inputs != nullptr)
        for (int c = 0; c < 3; c++)
            stage_inputs[c] = c;
    for (int k = 0; k < n; k++) {
        const int c = comp_of(k);
        if (!of_interest(c))
            continue;
        int pos = 0;
        if (ycc && c < 3) {
            pos = c;
        } else {
            pos = num_stage_inputs++;
            if (stage_inputs != nullptr)
                stage_inputs[pos] = cs_mode ? k : c;
        }
        const rv_comp_info& ci = cs->comp_info[size_t(c)];
        const double offset = ci.is_signed ? 0.0 : std::ldexp(1.0, ci.precision - 1);
        if (block_inputs != nullptr)
            block_inputs[num_block_inputs] = pos;
        if (block_outputs != nullptr)
            block_outputs[num_block_outputs] = k;
        if (rev_offsets != nullptr) // precisions reach 38 bits
            rev_offsets[num_block_outputs] = int(std::min(offset, double(INT_MAX)));
        if (irrev_offsets != nullptr)
            irrev_offsets[num_block_outputs] = float(offset);
        num_block_inputs++;
        num_block_outputs++;
    }
    return true;
}

} // namespace

bool rvd_tile::get_mct_block_info(int stage_idx, int block_idx, int& num_stage_inputs,
                                  int& num_stage_outputs, int& num_block_inputs,
                                  int& num_block_outputs, int* block_input_indices,
                                  int* block_output_indices, float* irrev_block_offsets,
                                  int* rev_block_offsets, int* stage_input_indices) const
{
    rv_tile* t = state;
    if (t == nullptr)
        return false;
    if (visible_chain(t) == nullptr)
        return default_block_info(*this, t, stage_idx, block_idx, num_stage_inputs,
                                  num_stage_outputs, num_block_inputs, num_block_outputs,
                                  block_input_indices, block_output_indices,
                                  irrev_block_offsets, rev_block_offsets, stage_input_indices);
    rv_mct_block* b = find_block(t, stage_idx, block_idx);
    if (b == nullptr)
        return false;
    const rv_mct_stage* s = b->stage;
    num_stage_inputs = s->num_required_inputs;
    num_stage_outputs = s->num_apparent_outputs;
    num_block_inputs = b->num_required_inputs;
    num_block_outputs = b->num_required_outputs;
    if (block_input_indices != nullptr) {
        int k = 0;
        for (int i = 0; i < b->num_inputs; i++)
            if (b->input_required[size_t(i)])
                block_input_indices[k++] = s->input_required_indices[size_t(b->inputs[size_t(i)])];
    }
    int k = 0;
    for (int j = 0; j < b->num_outputs; j++) {
        const rv_mct_output& out = s->output_comps[size_t(b->outputs[size_t(j)])];
        if (!out.is_required)
            continue;
        const float off = vector_entry(b->offset_params, j);
        if (block_output_indices != nullptr)
            block_output_indices[k] = out.apparent_idx;
        if (irrev_block_offsets != nullptr)
            irrev_block_offsets[k] = off;
        if (rev_block_offsets != nullptr)
            rev_block_offsets[k] = rounded(off);
        k++;
    }
    if (stage_input_indices != nullptr)
        for (int c = 0; c < s->num_inputs; c++) {
            const int idx = s->input_required_indices[size_t(c)];
            if (idx >= 0)
                stage_input_indices[idx] = c;
        }
    return true;
}

bool rvd_tile::get_mct_matrix_info(int stage_idx, int block_idx, float* coefficients) const
{
    rv_mct_block* b = find_block(state, stage_idx, block_idx);
    if (b == nullptr || b->num_required_outputs == 0 || b->matrix_params == nullptr ||
        b->is_reversible)
        return false;
    if (coefficients != nullptr) {
        float* dst = coefficients;
        for (int j = 0; j < b->num_outputs; j++) {
            if (!output_required(*b, j))
                continue;
            for (int i = 0; i < b->num_inputs; i++)
                if (b->input_required[size_t(i)])
                    *dst++ = coeff(b->matrix_params, "Mmatrix_coeffs", j * b->num_inputs + i);
        }
    }
    return true;
}

bool rvd_tile::get_mct_rxform_info(int stage_idx, int block_idx, int* coefficients,
                                   int* active_outputs) const
{
    rv_mct_block* b = find_block(state, stage_idx, block_idx);
    if (b == nullptr || b->num_required_outputs == 0 || b->rxform_params() == nullptr)
        return false;
    const int n = b->num_inputs;
    if (coefficients != nullptr)
        for (int line = 0; line < n; line++)
            for (int step = 0; step <= n; step++)
                coefficients[line * (n + 1) + step] = b->rxform_coefficient(line, step);
    list_active_outputs(*b, active_outputs);
    return true;
}

bool rvd_tile::get_mct_dependency_info(int stage_idx, int block_idx, bool& is_reversible,
                                       float* irrev_coefficients, float* irrev_offsets,
                                       int* rev_coefficients, int* rev_offsets,
                                       int* active_outputs) const
{
    rv_mct_block* b = find_block(state, stage_idx, block_idx);
    if (b == nullptr || b->num_required_outputs == 0 || b->triang_params == nullptr)
        return false;
    is_reversible = b->is_reversible;
    // Only the lines up to the last required output are computed.
    const int n = b->num_required_inputs;
    const int num_coeffs = n * (n - 1) / 2 + (is_reversible ? n - 1 : 0);
    for (int i = 0; i < num_coeffs; i++) {
        const float v = coeff(b->triang_params, "Mtriang_coeffs", i);
        if (is_reversible && rev_coefficients != nullptr)
            rev_coefficients[i] = rounded(v);
        if (!is_reversible && irrev_coefficients != nullptr)
            irrev_coefficients[i] = v;
    }
    for (int r = 0; r < n; r++) {
        const float v = vector_entry(b->offset_params, r);
        if (is_reversible && rev_offsets != nullptr)
            rev_offsets[r] = rounded(v);
        if (!is_reversible && irrev_offsets != nullptr)
            irrev_offsets[r] = v;
    }
    list_active_outputs(*b, active_outputs);
    return true;
}

const rvd_kernel_step_info*
rvd_tile::get_mct_dwt_info(int stage_idx, int block_idx, bool& is_reversible, int& num_levels,
                           int& canvas_min, int& canvas_lim, int& num_steps, bool& symmetric,
                           bool& symmetric_extension, const float*& coefficients,
                           int* active_inputs, int* active_outputs) const
{
    rv_mct_block* b = find_block(state, stage_idx, block_idx);
    if (b == nullptr || b->num_required_outputs == 0 || b->num_dwt_levels <= 0)
        return nullptr;
    is_reversible = b->is_reversible;
    num_levels = b->num_dwt_levels;
    canvas_min = b->dwt_canvas_origin;
    canvas_lim = b->dwt_canvas_origin + b->num_outputs;
    num_steps = b->num_dwt_steps;
    symmetric = b->dwt_symmetric;
    symmetric_extension = b->dwt_symmetric_extension;
    coefficients = b->dwt_coefficients.data();
    if (active_inputs != nullptr) {
        int k = 0;
        for (int i = 0; i < b->num_inputs; i++)
            if (b->input_required[size_t(i)])
                active_inputs[k++] = i;
    }
    list_active_outputs(*b, active_outputs);
    return b->dwt_step_info.data();
}

double rvd_tile::find_component_gain_info(int comp_idx, bool restrict_to_interest) const
{
    rv_tile* t = state;
    if (t == nullptr)
        return 0.0;
    rv_codestream* cs = t->codestream;
    if (comp_idx < 0 || comp_idx >= cs->num_components || comp_idx >= int(t->comps.size()))
        return 0.0;
    if (codestream_comps_exposed(cs))
        return 1.0;
    std::vector<float>& cache = restrict_to_interest ? t->gain_of_interest : t->gain_all;
    if (cache.size() != t->comps.size())
        cache.assign(t->comps.size(), -1.0f);
    float& g = cache[size_t(comp_idx)];
    if (g < 0.0f) {
        int colour = 0;
        if (t->mct_head == nullptr && t->ycc && t->comps.size() >= 3)
            colour = t->comps[size_t(comp_idx < 3 ? comp_idx : 0)].reversible ? 2 : 1;
        const double gain = rv_mct_component_gain(
            t->mct_head.get(), comp_idx, cs->comp_info[size_t(comp_idx)].precision,
            cs->num_components, colour, cs->output_comp_info.data(), cs->num_output_components,
            restrict_to_interest);
        // A wild description may weigh beyond the float range; it stays cached as huge.
        g = (gain < double(FLT_MAX)) ? float(gain) : FLT_MAX;
    }
    return g;
}
