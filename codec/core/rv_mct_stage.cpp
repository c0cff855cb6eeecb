#include "codec/core/rv_mct_stage.h"

#include "codec/core/rvd_kernels.h"
#include "codec/core/rv_codestream.h"
#include "codec/core/rvd_coords.h"
#include "codec/core/rvd_params.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <string>

namespace {

enum : int { XFORM_DEP = 0, XFORM_DWT = 3, XFORM_MATRIX = 9, XFORM_MAT = 1000 };

const int max_dwt_origin = 1 << 28;

const char* const stage_access_error_tail =
    " (starting from 0) in the multi-component transform for some tile (or in the main "
    "header).  Either the `Mstages' attribute contains insufficient entries, or no "
    "`Mstage_blocks' attribute exists with the instance identifier provided by `Mstages'.";

// Draws component indices from the {first, last} records of a range attribute.
class range_cursor {
public:
    range_cursor(rvd_params* obj, const char* name) : obj(obj), name(name) {}
    int next()
    {
        if (cursor > end) {
            int first = 0, last = 0;
            if (obj->get(name, record, 0, first, false, false) &&
                obj->get(name, record, 1, last, false, false)) {
                cursor = first;
                end = last;
                record++;
            }
        }
        return cursor++;
    }

private:
    rvd_params* obj;
    const char* name;
    int record = 0;
    int cursor = 0, end = -1;
};

rvd_params* mct_object(rvd_params* root, int tile_idx, int inst)
{
    rvd_params* cluster = root->access_cluster("MCT");
    return (cluster == nullptr) ? nullptr : cluster->access_relation(tile_idx, -1, inst, true);
}

bool has_size(rvd_params* obj, const char* name, int expected)
{
    int v = 0;
    return obj != nullptr && obj->get(name, 0, 0, v) && v == expected;
}

float coefficient(rvd_params* obj, const char* name, int idx)
{
    float v = 0.0f;
    obj->get(name, idx, 0, v);
    return v;
}

// Stored weights stay within the float range: a wild description gives huge weights,
// never an out-of-range conversion.
float clipped_float(double v)
{
    if (std::isnan(v))
        return 0.0f;
    return float(std::max(-double(FLT_MAX), std::min(double(FLT_MAX), v)));
}

void assign_clipped(std::vector<float>& dst, const std::vector<double>& src)
{
    dst.resize(src.size());
    for (size_t i = 0; i < src.size(); i++)
        dst[i] = clipped_float(src[i]);
}

// Reflects a position into [s, e) by whole-sample symmetric extension.
int reflect(int p, int s, int e)
{
    if (e - s <= 1)
        return s;
    for (;;) {
        if (p < s)
            p = 2 * s - p;
        else if (p >= e)
            p = 2 * e - p - 2;
        else
            return p;
    }
}

void fill_wavelet(rv_mct_block& b, rvd_params* root, int tile_idx, int kernel_id)
{
    bool reversible = false, sym = false, sym_ext = false;
    int num_steps = 0;
    rvd_kernel_step_info* steps = nullptr;
    float* coeffs = nullptr;
    rv_create_kernel_description((kernel_id <= 1) ? kernel_id : -1, kernel_id, root, tile_idx,
                                 reversible, sym, sym_ext, num_steps, steps, coeffs);
    std::unique_ptr<rvd_kernel_step_info[]> steps_owner(steps);
    std::unique_ptr<float[]> coeffs_owner(coeffs);
    int num_coeffs = 0;
    for (int s = 0; s < num_steps; s++)
        num_coeffs += steps[s].support_length;
    b.num_dwt_steps = num_steps;
    b.dwt_step_info.assign(steps, steps + num_steps);
    b.dwt_coefficients.assign(coeffs, coeffs + num_coeffs);
    b.dwt_symmetric = sym;
    b.dwt_symmetric_extension = sym_ext;
    b.is_reversible = reversible;
    rvd_kernels k;
    k.init(num_steps, steps, coeffs, sym, sym_ext, reversible);
    int half = 0;
    k.get_impulse_response(2, half, &b.dwt_low_synth_min, &b.dwt_low_synth_max);
    k.get_impulse_response(3, half, &b.dwt_high_synth_min, &b.dwt_high_synth_max);
    if (reversible) {
        b.dwt_synthesis_gains[0] = b.dwt_synthesis_gains[1] = 1.0f;
    } else {
        b.dwt_synthesis_gains[0] = 1.0f / k.get_low_scale();
        b.dwt_synthesis_gains[1] = 0.5f / k.get_high_scale();
    }
}

const char* const constraint_error =
    "Multi-component transform does not satisfy the constraints imposed by Part 2 of the "
    "JPEG2000 standard.  The first transform stage must touch every codestream image "
    "component (no more and no less), while subsequent stages must touch every component "
    "produced by the previous stage.";

} // namespace

void rv_mct_stage::create_stages(rv_mct_stage*& first, rv_mct_stage*& last, rvd_params* root,
                                 int tile_idx, int num_comps, rv_comp_info* comp_info,
                                 int num_output_comps, rv_output_comp_info* output_comp_info)
{
    first = last = nullptr;
    rvd_params* mco_cluster = root->access_cluster("MCO");
    rvd_params* mco =
        (mco_cluster == nullptr) ? nullptr : mco_cluster->access_relation(tile_idx, -1, 0, true);
    int num_stages = 0;
    if (mco == nullptr || !mco->get("Mnum_stages", 0, 0, num_stages) || num_stages <= 0)
        return;
    int cmct = 0;
    rvd_params* cod_cluster = root->access_cluster("COD");
    rvd_params* cod =
        (cod_cluster == nullptr) ? nullptr : cod_cluster->access_relation(tile_idx, -1, 0, true);
    if (cod == nullptr || !cod->get("Cmct", 0, 0, cmct))
        cmct = 0;
    rvd_params* mcc_cluster = root->access_cluster("MCC");

    std::unique_ptr<rv_mct_stage> head;
    rv_mct_stage* tail = nullptr;
    for (int s = 0; s < num_stages; s++) {
        int inst = 0, probe = 0;
        rvd_params* mcc = nullptr;
        if (mco->get("Mstages", s, 0, inst, true, false) && mcc_cluster != nullptr)
            mcc = mcc_cluster->access_relation(tile_idx, -1, inst, true);
        if (mcc == nullptr || !mcc->get("Mstage_collections", 0, 0, probe, true, false) ||
            !mcc->get("Mstage_collections", 0, 1, probe, true, false))
            rv_raise_core_error("Unable to access the description of stage " + std::to_string(s) +
                                stage_access_error_tail);

        std::unique_ptr<rv_mct_stage> fresh(new rv_mct_stage);
        rv_mct_stage* stg = fresh.get();
        stg->prev_stage = tail;
        if (tail == nullptr)
            head = std::move(fresh);
        else {
            tail->next_owner = std::move(fresh);
            tail->next_stage = stg;
        }
        tail = stg;

        int n = 0;
        for (int v = 0; mcc->get("Mstage_collections", n, 0, v, true, false) &&
                        mcc->get("Mstage_collections", n, 1, v, true, false);
             n++) {
        }
        stg->num_blocks = n;
        stg->blocks.resize(size_t(n));
        range_cursor in_cursor(mcc, "Mstage_inputs"), out_cursor(mcc, "Mstage_outputs");
        for (int b = 0; b < n; b++) {
            rv_mct_block& blk = stg->blocks[size_t(b)];
            blk.stage = stg;
            mcc->get("Mstage_collections", b, 0, blk.num_inputs, true, false);
            mcc->get("Mstage_collections", b, 1, blk.num_outputs, true, false);
            if (blk.num_inputs < 1 || blk.num_outputs < 1)
                rv_raise_core_error(
                    "Multi-component transform blocks must each have a strictly positive "
                    "number of inputs and outputs, as identified by the `Mstage_blocks' "
                    "parameter attribute.");
            // Bounded by the segment's own limits (16384 components).
            if (blk.num_inputs > 16384 || blk.num_outputs > 16384)
                rv_raise_core_error(constraint_error);
            blk.inputs.resize(size_t(blk.num_inputs));
            blk.input_required.assign(size_t(blk.num_inputs), 0);
            blk.outputs.resize(size_t(blk.num_outputs));
            for (int i = 0; i < blk.num_inputs; i++) {
                int c = in_cursor.next();
                if (c < 0 || c > 16383)
                    rv_raise_core_error(constraint_error);
                blk.inputs[size_t(i)] = c;
                stg->num_inputs = std::max(stg->num_inputs, c + 1);
            }
            for (int i = 0; i < blk.num_outputs; i++) {
                int c = out_cursor.next();
                if (c < 0 || c > 16383)
                    rv_raise_core_error(constraint_error);
                blk.outputs[size_t(i)] = c;
                stg->num_outputs = std::max(stg->num_outputs, c + 1);
            }

            int xf[5] = {0, 0, 0, 0, 0};
            for (int f = 0; f < 5; f++)
                mcc->get("Mstage_xforms", b, f, xf[f]);
            if (xf[0] == XFORM_MATRIX && xf[3] != 0 && cmct == 0) {
                xf[0] = XFORM_MAT;
                // Recorded only in this header's own object: a description inherited from
                // the main header may serve tiles whose COD does carry the flag.
                if (mcc->get_tile_idx() == tile_idx)
                    mcc->set("Mstage_xforms", b, 0, XFORM_MAT);
            }
            const int type = xf[0], coeff_inst = xf[1], offset_inst = xf[2];
            if (offset_inst != 0) {
                blk.offset_params = mct_object(root, tile_idx, offset_inst);
                if (!has_size(blk.offset_params, "Mvector_size", blk.num_outputs))
                    rv_raise_core_error(
                        "Unable to access the offset parameters identified by an "
                        "`Mstage_xforms' parameter attribute.  Specifically, there should be "
                        "an `Mvector_size' attribute, with instance index " +
                        std::to_string(offset_inst) + " and value " +
                        std::to_string(blk.num_outputs) +
                        ", corresponding to the number of output components produced by the "
                        "multi-component transform block in question.");
            }
            const bool is_matrix = (type == XFORM_MATRIX || type == XFORM_MAT);
            if (blk.num_inputs != blk.num_outputs && !(is_matrix && xf[3] == 0))
                rv_raise_core_error(
                    "Except for irreversible matrix-based decorrelation transforms, all "
                    "multi-component transform blocks described by the `Mstage_blocks' and "
                    "`Mstage_xforms' parameter attributes must produce exactly one output "
                    "component for each of their input components.");
            if (is_matrix) {
                blk.is_reversible = (xf[3] != 0);
                if (coeff_inst != 0) {
                    int expected = blk.num_inputs * blk.num_outputs;
                    if (blk.is_reversible)
                        expected += blk.num_inputs;
                    rvd_params* m = mct_object(root, tile_idx, coeff_inst);
                    if (!has_size(m, "Mmatrix_size", expected))
                        rv_raise_core_error(
                            "Unable to access the matrix parameters identified by an "
                            "`Mstage_xforms' parameter attribute.  Specifically, there should "
                            "be an `Mmatrix_size' attribute, with instance index " +
                            std::to_string(coeff_inst) + " and value " +
                            std::to_string(expected) +
                            ", corresponding to the total number of coefficients required to "
                            "describe the irreversible decorrelation transform or reversible "
                            "SERM transform in question -- note that reversible transforms are "
                            "described by M*(M+1) coefficients, where M is the number of input "
                            "(or output) components.");
                    blk.is_null_transform = false;
                    if (type == XFORM_MAT && blk.is_reversible)
                        blk.old_rxform_params = m;
                    else
                        blk.matrix_params = m;
                }
            } else if (type == XFORM_DEP) {
                blk.is_reversible = (xf[3] != 0);
                if (coeff_inst != 0) {
                    const int nn = blk.num_outputs;
                    int expected = nn * (nn - 1) / 2;
                    if (blk.is_reversible)
                        expected += nn - 1;
                    rvd_params* m = mct_object(root, tile_idx, coeff_inst);
                    if (!has_size(m, "Mtriang_size", expected))
                        rv_raise_core_error(
                            "Unable to access the matrix parameters identified by an "
                            "`Mstage_xforms' parameter attribute.  Specifically, there should "
                            "be an `Mtriang_size' attribute, with instance index " +
                            std::to_string(coeff_inst) + " and value " +
                            std::to_string(expected) +
                            ", corresponding to the total number of coefficients in the lower "
                            "triangular matrix which describes the dependency transform in "
                            "question.  For irreversible dependency transforms, the matrix "
                            "should not contain any diagonal entries.  For reversible "
                            "dependency transforms, however, all but the first diagonal "
                            "entries should also be included, as normalization factors for "
                            "the integer predictors.");
                    blk.is_null_transform = false;
                    blk.triang_params = m;
                }
            } else if (type == XFORM_DWT && xf[3] > 0) {
                // Positions are reflected about the range ends in int arithmetic.
                if (xf[4] < -max_dwt_origin || xf[4] > max_dwt_origin)
                    rv_raise_core_error(
                        "Multi-component DWT transform block has a canvas origin (the last "
                        "field of its `Mstage_xforms' record) of " + std::to_string(xf[4]) +
                        ", whose magnitude exceeds the largest supported value of " +
                        std::to_string(max_dwt_origin) + ".");
                blk.is_null_transform = false;
                blk.num_dwt_levels = xf[3];
                blk.dwt_canvas_origin = xf[4];
                fill_wavelet(blk, root, tile_idx, coeff_inst);
            }
        }

        rv_mct_stage* prev = stg->prev_stage;
        if (prev != nullptr && prev->num_outputs < stg->num_inputs) {
            prev->num_outputs = stg->num_inputs;
            prev->output_comps.resize(size_t(stg->num_inputs));
        }
        if (s == num_stages - 1 && stg->num_outputs < num_output_comps)
            stg->num_outputs = num_output_comps;
        stg->output_comps.resize(size_t(stg->num_outputs));
        stg->input_required_indices.assign(size_t(stg->num_inputs), -1);

        std::vector<uint8_t> used(size_t(stg->num_inputs), 0);
        for (rv_mct_block& blk : stg->blocks) {
            for (int c : blk.inputs)
                used[size_t(c)] = 1;
            rv_comp_info* ref = nullptr;
            for (int j = 0; j < blk.num_outputs; j++) {
                rv_mct_output& out = stg->output_comps[size_t(blk.outputs[size_t(j)])];
                if (out.block != nullptr)
                    rv_raise_core_error(
                        "Multi-component transform stage contains multiple transform blocks "
                        "which provide different definitions for the same stage output "
                        "component.");
                out.block = &blk;
                out.block_output_idx = j;
                if (j < blk.num_inputs) {
                    int c = blk.inputs[size_t(j)];
                    if (prev == nullptr) {
                        if (c < num_comps && comp_info != nullptr)
                            ref = comp_info + c;
                    } else if (c < prev->num_outputs &&
                               prev->output_comps[size_t(c)].size_ref != nullptr)
                        ref = prev->output_comps[size_t(c)].size_ref;
                }
                out.size_ref = ref;
                if (ref != nullptr)
                    for (int k = 0; k < j; k++) {
                        rv_mct_output& earlier =
                            stg->output_comps[size_t(blk.outputs[size_t(k)])];
                        if (earlier.size_ref == nullptr)
                            earlier.size_ref = ref;
                    }
            }
        }
        bool ok = std::all_of(used.begin(), used.end(), [](uint8_t u) { return u != 0; });
        if (prev == nullptr)
            ok = ok && stg->num_inputs == num_comps;
        else
            ok = ok && stg->num_inputs >= prev->num_outputs;
        if (!ok)
            rv_raise_core_error(constraint_error);
    }

    if (tail->num_outputs > num_output_comps)
        rv_raise_core_error(
            "The last stage of the multi-component transform may not produce more output "
            "components than the number specified in the CBD marker segment (i.e. the "
            "`Mcomponents' value).");
    for (int j = 0; j < tail->num_outputs; j++) {
        rv_mct_output& out = tail->output_comps[size_t(j)];
        out.precision = output_comp_info[j].precision;
        out.is_signed = output_comp_info[j].is_signed;
        if (tile_idx < 0 && out.size_ref == nullptr)
            rv_raise_core_error(
                "Although not strictly illegal, the present Part-2 codestream contains "
                "insufficient information to determine the dimensions of all image components "
                "output by the multi-component transform, based on main header marker "
                "segments.  The fact that this is not illegal is almost certainly an oversight "
                "in the development of the Part-2 syntax, but Ravade cannot work with such "
                "codestreams.");
    }
    tail->apply_output_restrictions(output_comp_info, -1, nullptr);
    first = head.release();
    last = tail;
}

void rv_mct_stage::apply_output_restrictions(const rv_output_comp_info* output_comp_info,
                                             int num_restricted, const int* restricted_indices)
{
    for (rv_mct_stage* stg = this; stg != nullptr; stg = stg->prev_stage) {
        for (rv_mct_output& out : stg->output_comps) {
            out.is_required = false;
            out.block_required_idx = -1;
        }
        stg->num_apparent_outputs = 0;
        if (stg == this) {
            for (int j = 0; j < stg->num_outputs; j++) {
                rv_mct_output& out = stg->output_comps[size_t(j)];
                out.apparent_idx = output_comp_info[j].apparent_idx;
                out.apparent_source_idx = output_comp_info[j].from_apparent;
                if (out.apparent_idx < 0)
                    continue;
                stg->num_apparent_outputs++;
                if (num_restricted < 0 ||
                    (restricted_indices == nullptr && out.apparent_idx < num_restricted))
                    out.is_required = true;
            }
            if (num_restricted >= 0 && restricted_indices != nullptr)
                for (int n = 0; n < num_restricted; n++) {
                    int k = restricted_indices[n];
                    if (k < 0 || k >= stg->num_apparent_outputs)
                        continue;
                    int src = stg->output_comps[size_t(k)].apparent_source_idx;
                    if (src >= 0 && src < stg->num_outputs)
                        stg->output_comps[size_t(src)].is_required = true;
                }
        } else {
            rv_mct_stage* next = stg->next_stage;
            int k = 0;
            for (rv_mct_output& out : stg->output_comps)
                out.apparent_source_idx = -1;
            for (int j = 0; j < stg->num_outputs; j++) {
                rv_mct_output& out = stg->output_comps[size_t(j)];
                out.is_required = (j < next->num_inputs && next->input_required_indices[size_t(j)] >= 0);
                out.apparent_idx = out.is_required ? k : -1;
                if (out.is_required)
                    stg->output_comps[size_t(k++)].apparent_source_idx = j;
            }
            stg->num_apparent_outputs = k;
        }

        for (rv_mct_block& blk : stg->blocks)
            blk.find_required_inputs();
        std::fill(stg->input_required_indices.begin(), stg->input_required_indices.end(), 0);
        std::vector<uint8_t> needed(size_t(stg->num_inputs), 0);
        for (rv_mct_block& blk : stg->blocks)
            for (int i = 0; i < blk.num_inputs; i++)
                if (blk.input_required[size_t(i)])
                    needed[size_t(blk.inputs[size_t(i)])] = 1;
        stg->num_required_inputs = 0;
        for (int c = 0; c < stg->num_inputs; c++)
            stg->input_required_indices[size_t(c)] =
                needed[size_t(c)] ? stg->num_required_inputs++ : -1;
    }
}

void rv_mct_block::find_required_inputs()
{
    num_required_outputs = 0;
    int last_required = -1;
    for (int j = 0; j < num_outputs; j++) {
        rv_mct_output& out = stage->output_comps[size_t(outputs[size_t(j)])];
        if (out.is_required) {
            out.block_required_idx = num_required_outputs++;
            last_required = j;
        }
    }
    std::fill(input_required.begin(), input_required.end(), 0);
    num_required_inputs = 0;
    if (num_required_outputs == 0)
        return;
    auto required = [this](int j) {
        return stage->output_comps[size_t(outputs[size_t(j)])].is_required;
    };
    if (num_required_outputs == num_outputs || matrix_params != nullptr ||
        old_rxform_params != nullptr) {
        std::fill(input_required.begin(), input_required.end(), 1);
    } else if (triang_params != nullptr) {
        for (int i = 0; i <= last_required && i < num_inputs; i++)
            input_required[size_t(i)] = 1;
    } else if (num_dwt_levels > 0) {
        // Follow the synthesis supports level by level over positions [s, e).
        int s = dwt_canvas_origin, e = dwt_canvas_origin + num_outputs;
        std::vector<uint8_t> req(size_t(num_outputs), 0);
        for (int j = 0; j < num_outputs; j++)
            req[size_t(j)] = required(j) ? 1 : 0;
        int high_end = num_inputs; // high-pass inputs are taken from the last backwards
        for (int lev = 0; lev < num_dwt_levels && e > s; lev++) {
            std::vector<uint8_t> mark(size_t(e - s), 0);
            for (int p = s; p < e; p++) {
                if (!req[size_t(p - s)])
                    continue;
                for (int q = p - dwt_low_synth_max; q <= p - dwt_low_synth_min; q++)
                    if ((q & 1) == 0) {
                        int r = reflect(q, s, e);
                        if ((r & 1) == 0)
                            mark[size_t(r - s)] = 1;
                    }
                for (int q = p - dwt_high_synth_max; q <= p - dwt_high_synth_min; q++)
                    if ((q & 1) != 0) {
                        int r = reflect(q, s, e);
                        if ((r & 1) != 0)
                            mark[size_t(r - s)] = 1;
                    }
            }
            int first_odd = s | 1;
            int num_odd = (e > first_odd) ? (e - first_odd + 1) / 2 : 0;
            high_end -= num_odd;
            // A block whose levels take more high-pass inputs than it has gets no index
            // below the first input.
            for (int q = first_odd; q < e; q += 2) {
                const int input = high_end + (q - first_odd) / 2;
                if (mark[size_t(q - s)] && input >= 0 && input < num_inputs)
                    input_required[size_t(input)] = 1;
            }
            // The low-pass positions of the next level: ceilings, also for negative origins.
            int ns = rvd_ceil_ratio(s, 2), ne = rvd_ceil_ratio(e, 2);
            std::vector<uint8_t> next(size_t(std::max(ne - ns, 0)), 0);
            for (int q = ns * 2; q < e; q += 2)
                next[size_t(q / 2 - ns)] = mark[size_t(q - s)];
            req.swap(next);
            s = ns;
            e = ne;
        }
        for (int p = s; p < e && p - s < high_end; p++)
            if (req[size_t(p - s)])
                input_required[size_t(p - s)] = 1;
    } else {
        for (int i = 0; i < num_inputs && i < num_outputs; i++)
            if (required(i))
                input_required[size_t(i)] = 1;
    }
    for (uint8_t r : input_required)
        num_required_inputs += r;
}

void rv_mct_block::build_sensitivity_rows()
{
    rows_built = true;
    rows.assign(size_t(num_inputs), sensitivity_row());
    if (rxform_params() != nullptr) {
        build_rxform_rows();
    } else if (matrix_params != nullptr) {
        for (int j = 0; j < num_inputs; j++) {
            sensitivity_row& row = rows[size_t(j)];
            row.coeffs.resize(size_t(num_outputs));
            for (int i = 0; i < num_outputs; i++)
                row.coeffs[size_t(i)] = coefficient(matrix_params, "Mmatrix_coeffs",
                                                    i * num_inputs + j);
        }
    } else if (triang_params != nullptr) {
        const int n = num_outputs;
        // c(i, k): predictor of output i from output k, normalised for a reversible block.
        std::vector<double> c(size_t(n) * size_t(n), 0.0);
        for (int i = 1; i < n; i++) {
            int off = i * (i - 1) / 2 + (is_reversible ? i - 1 : 0);
            double scale = 1.0;
            if (is_reversible) {
                double diag = coefficient(triang_params, "Mtriang_coeffs", off + i);
                scale = (diag != 0.0) ? 1.0 / diag : 0.0;
            }
            for (int k = 0; k < i; k++)
                c[size_t(i * n + k)] =
                    scale * coefficient(triang_params, "Mtriang_coeffs", off + k);
        }
        for (int j = 0; j < num_inputs && j < n; j++) {
            sensitivity_row& row = rows[size_t(j)];
            row.first_output = j;
            std::vector<double> d(size_t(n - j), 0.0);
            d[0] = 1.0;
            for (int i = j + 1; i < n; i++) {
                double sum = 0.0;
                for (int k = j; k < i; k++)
                    sum += c[size_t(i * n + k)] * d[size_t(k - j)];
                d[size_t(i - j)] = sum;
            }
            assign_clipped(row.coeffs, d);
        }
    } else if (num_dwt_levels > 0) {
        build_wavelet_rows();
    }
    // A null block has no rows: input j feeds output j alone.
}

rvd_params* rv_mct_block::rxform_params() const
{
    if (old_rxform_params != nullptr)
        return old_rxform_params;
    return is_reversible ? matrix_params : nullptr;
}

int rv_mct_block::rxform_coefficient(int line, int step) const
{
    rvd_params* m = rxform_params();
    if (m == nullptr)
        return 0;
    const int n = num_inputs;
    const int idx = (old_rxform_params != nullptr) ? line * (n + 1) + step : step * n + line;
    const double r = std::floor(double(coefficient(m, "Mmatrix_coeffs", idx)) + 0.5);
    if (!(r > double(INT_MIN))) // not a number, or beyond the int range
        return INT_MIN;
    return r < double(INT_MAX) ? int(r) : INT_MAX;
}

void rv_mct_block::build_rxform_rows()
{
    // The synthesis steps without their rounding: step s updates line t = N-1 - (s mod N)
    // by the other lines' factors over its divisor v; a negative divisor in the last
    // step also negates the line. a(i, j) follows line i's dependence on input j.
    const int n = num_inputs;
    const size_t cols = size_t(n) + 1;
    std::vector<double> c(size_t(n) * cols);
    for (int i = 0; i < n; i++)
        for (int s = 0; s <= n; s++)
            c[size_t(i) * cols + size_t(s)] = rxform_coefficient(i, s);
    std::vector<double> a(size_t(n) * size_t(n), 0.0);
    for (int i = 0; i < n; i++)
        a[size_t(i * n + i)] = 1.0;
    for (int s = 0; s <= n; s++) {
        const int t = n - 1 - (s % n);
        const double v = c[size_t(t) * cols + size_t(s)];
        if (v == 0.0)
            continue; // the synthesis refuses it; nothing sensible to weigh
        const double sign = (s == n && v < 0.0) ? -1.0 : 1.0;
        const double scale = 1.0 / std::fabs(v);
        for (int j = 0; j < n; j++) {
            double sum = 0.0;
            for (int i = 0; i < n; i++)
                if (i != t)
                    sum += c[size_t(i) * cols + size_t(s)] * a[size_t(i * n + j)];
            a[size_t(t * n + j)] = sign * (a[size_t(t * n + j)] - scale * sum);
        }
    }
    for (int j = 0; j < n; j++) {
        sensitivity_row& row = rows[size_t(j)];
        row.coeffs.resize(size_t(std::min(n, num_outputs)));
        for (size_t i = 0; i < row.coeffs.size(); i++)
            row.coeffs[i] = clipped_float(a[i * size_t(n) + size_t(j)]);
    }
}

void rv_mct_block::build_wavelet_rows()
{
    rvd_kernels k;
    k.init(num_dwt_steps, dwt_step_info.data(), dwt_coefficients.data(), dwt_symmetric,
           dwt_symmetric_extension, is_reversible);
    int half[2] = {0, 0}, sup_min[2] = {0, 0}, sup_max[2] = {0, 0};
    const float* resp[2] = {k.get_impulse_response(2, half[0], &sup_min[0], &sup_max[0]),
                            k.get_impulse_response(3, half[1], &sup_min[1], &sup_max[1])};
    // Ranges of positions per level, finest first.
    std::vector<int> starts, ends;
    int s = dwt_canvas_origin, e = dwt_canvas_origin + num_outputs;
    for (int lev = 0; lev < num_dwt_levels && e > s; lev++) {
        starts.push_back(s);
        ends.push_back(e);
        s = (s + 1) / 2;
        e = (e + 1) / 2;
    }
    const int levels = int(starts.size());
    // One synthesis level: interleaved coefficients over [s, e) to samples over [s, e).
    auto synthesize = [&](const std::vector<double>& v, int ls, int le) {
        std::vector<double> x(size_t(le - ls), 0.0);
        for (int q = ls; q < le; q++) {
            double c = v[size_t(q - ls)];
            if (c == 0.0)
                continue;
            const int par = q & 1;
            const int reach = std::max(-sup_min[par], sup_max[par]) + 1;
            if (le - ls <= 4 * reach) { // short range: reflections may repeat
                for (int p = ls; p < le; p++)
                    for (int t = sup_min[par]; t <= sup_max[par]; t++) {
                        int src = p - t; // extended position feeding p through tap t
                        if ((src & 1) == par && reflect(src, ls, le) == q)
                            x[size_t(p - ls)] += c * resp[par][t];
                    }
                continue;
            }
            // Long range: q appears at itself and at its two mirror images only.
            const int images[3] = {q, 2 * ls - q, 2 * le - q - 2};
            for (int n = 0; n < 3; n++) {
                const int src = images[n];
                if ((n == 1 && src == q) || (n == 2 && (src == q || src == images[1])))
                    continue;
                for (int t = sup_min[par]; t <= sup_max[par]; t++) {
                    int p = src + t;
                    if (p >= ls && p < le)
                        x[size_t(p - ls)] += c * resp[par][t];
                }
            }
        }
        return x;
    };
    // Block input order: final low-pass positions, then high-pass positions from the
    // coarsest level to the finest.
    int input = 0;
    auto emit = [&](int lev, int q) {
        std::vector<double> v(size_t(ends[size_t(lev)] - starts[size_t(lev)]), 0.0);
        v[size_t(q - starts[size_t(lev)])] = 1.0;
        for (int l = lev;; l--) {
            std::vector<double> x = synthesize(v, starts[size_t(l)], ends[size_t(l)]);
            if (l == 0) {
                v.swap(x);
                break;
            }
            // Samples at this level are the low-pass positions of the finer one.
            int fs = starts[size_t(l - 1)], fe = ends[size_t(l - 1)];
            std::vector<double> fine(size_t(fe - fs), 0.0);
            for (int i = starts[size_t(l)]; i < ends[size_t(l)]; i++)
                if (2 * i >= fs && 2 * i < fe)
                    fine[size_t(2 * i - fs)] = x[size_t(i - starts[size_t(l)])];
            v.swap(fine);
        }
        if (input < num_inputs) {
            sensitivity_row& row = rows[size_t(input)];
            row.first_output = 0;
            assign_clipped(row.coeffs, v);
        }
        input++;
    };
    if (levels == 0)
        return;
    const int last = levels - 1;
    for (int q = starts[size_t(last)]; q < ends[size_t(last)]; q++)
        if ((q & 1) == 0)
            emit(last, q);
    for (int lev = last; lev >= 0; lev--)
        for (int q = starts[size_t(lev)]; q < ends[size_t(lev)]; q++)
            if ((q & 1) != 0)
                emit(lev, q);
}

void rv_mct_block::analyze_sensitivity(int input_idx, float weight, int& min_out, int& max_out,
                                       bool restrict_to_required)
{
    if (input_idx < 0 || input_idx >= num_inputs)
        return;
    if (!rows_built)
        build_sensitivity_rows();
    auto add = [&](int j, float coeff) {
        rv_mct_output& out = stage->output_comps[size_t(outputs[size_t(j)])];
        if (restrict_to_required && !out.is_required)
            return;
        int o = outputs[size_t(j)];
        if (min_out > max_out) {
            min_out = max_out = o;
            out.weight = 0.0f;
        } else {
            for (; o < min_out; min_out--)
                stage->output_comps[size_t(min_out - 1)].weight = 0.0f;
            for (; o > max_out; max_out++)
                stage->output_comps[size_t(max_out + 1)].weight = 0.0f;
        }
        out.weight += weight * coeff;
    };
    const sensitivity_row& row = rows[size_t(input_idx)];
    if (row.coeffs.empty()) {
        if (input_idx < num_outputs)
            add(input_idx, 1.0f);
        return;
    }
    for (size_t i = 0; i < row.coeffs.size(); i++)
        if (row.first_output + int(i) < num_outputs)
            add(row.first_output + int(i), row.coeffs[i]);
}

double rv_mct_component_gain(rv_mct_stage* first_stage, int comp_idx, int comp_precision,
                             int num_comps, int colour_xform,
                             const rv_output_comp_info* output_comp_info, int num_output_comps,
                             bool restrict_to_apparent)
{
    double result = 0.0;
    auto scaled = [](double w, int p) { return w / std::ldexp(1.0, p); };
    if (first_stage == nullptr) {
        static const double ict[3][3] = {{1.0, 1.0, 1.0},
                                         {0.0, 0.11842978348023186, 3.139984},
                                         {1.9656040000000004, 0.5099906352689884, 0.0}};
        static const double rct[3][3] = {
            {1.0, 1.0, 1.0}, {0.0625, 0.0625, 0.5625}, {0.5625, 0.0625, 0.0625}};
        auto visible = [&](int o) {
            return !restrict_to_apparent || output_comp_info[o].apparent_idx >= 0;
        };
        if (colour_xform == 0 || comp_idx >= 3 || num_comps < 3 || num_output_comps < 3) {
            if (comp_idx < num_output_comps && visible(comp_idx)) {
                double g = scaled(1.0, output_comp_info[comp_idx].precision);
                result = g * g;
            }
        } else {
            const double(*w)[3] = (colour_xform == 2) ? rct : ict;
            for (int o = 0; o < 3; o++)
                if (visible(o))
                    result += w[comp_idx][o] /
                              std::ldexp(1.0, 2 * output_comp_info[o].precision);
        }
    } else {
        int lo = comp_idx, hi = comp_idx;
        const rv_mct_stage* prev = nullptr;
        rv_mct_stage* stg = first_stage;
        for (; stg != nullptr; prev = stg, stg = stg->next_stage) {
            int nlo = 0, nhi = -1;
            for (rv_mct_block& blk : stg->blocks)
                for (int i = 0; i < blk.num_inputs; i++) {
                    int c = blk.inputs[size_t(i)];
                    if (c < lo || c > hi)
                        continue;
                    if (restrict_to_apparent && !blk.input_required[size_t(i)])
                        continue;
                    float w = 1.0f;
                    if (prev != nullptr)
                        w = (c < prev->num_outputs) ? prev->output_comps[size_t(c)].weight : 0.0f;
                    blk.analyze_sensitivity(i, w, nlo, nhi, restrict_to_apparent);
                }
            lo = nlo;
            hi = nhi;
            if (stg->next_stage == nullptr)
                break;
        }
        for (int o = lo; o <= hi; o++) {
            const rv_mct_output& out = stg->output_comps[size_t(o)];
            if (restrict_to_apparent && !out.is_required)
                continue;
            double w = scaled(out.weight, out.precision);
            result += w * w;
        }
    }
    double q = std::ldexp(1.0, comp_precision);
    return result * q * q;
}
