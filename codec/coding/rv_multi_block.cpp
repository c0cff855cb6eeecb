#include "codec/coding/rv_multi_block.h"

#include "codec/coding/rv_multi_collection.h"
#include "codec/coding/rv_multi_source.h"
#include "codec/coding/rv_multi_transform.h"
#include "codec/core/rvd_message.h"

#include <algorithm>
#include <stdexcept>

namespace {

[[noreturn]] void malformed_block()
{
    {
        rvd_error e("Ravade Core Error:\n");
        e << "Multi-component transform block refers to components outside its stage, or "
             "two blocks produce the same component.";
    }
    throw std::logic_error("codec error handler returned");
}

} // namespace

void rv_multi_block::bind(int stage_idx, int block_idx, rv_multi_source& source, int bind_inputs,
                          int num_block_outputs, int num_lines, const int* line_of_output,
                          rv_multi_collection* input_collection,
                          rv_multi_collection* output_collection, rv_multi_transform* owner)
{
    int n_si = 0, n_so = 0, n_bi = 0, n_bo = 0;
    source.get_mct_block_info(stage_idx, block_idx, n_si, n_so, n_bi, n_bo);
    if (n_bi < 0 || n_bo < 0 || n_bo != num_block_outputs || num_lines < 0 ||
        bind_inputs > n_bi || num_block_outputs > num_lines)
        malformed_block();
    int* in_idx = owner->get_scratch_ints(n_bi + 2 * n_bo + 1);
    int* out_idx = in_idx + n_bi;
    int* rev_off = out_idx + n_bo;
    float* irrev_off = owner->get_scratch_floats(n_bo + 1);
    std::fill_n(in_idx, n_bi + 2 * n_bo, -1);
    std::fill_n(rev_off, n_bo, 0);
    std::fill_n(irrev_off, n_bo, 0.0f);
    source.get_mct_block_info(stage_idx, block_idx, n_si, n_so, n_bi, n_bo, in_idx, out_idx,
                              irrev_off, rev_off);
    rev_offsets.assign(rev_off, rev_off + n_bo);
    irrev_offsets.assign(irrev_off, irrev_off + n_bo);

    num_outputs = num_lines;
    outputs.reset(new rv_multi_line[std::size_t(num_lines)]);
    for (int j = 0; j < num_lines; ++j)
        outputs[j].block = this;
    for (int i = 0; i < n_bo; ++i) {
        const int o = out_idx[i];
        const int l = line_of_output != nullptr ? line_of_output[i] : i;
        if (o < 0 || o >= output_collection->num_components || l < 0 || l >= num_lines ||
            output_collection->components[std::size_t(o)] != nullptr)
            malformed_block();
        output_collection->components[std::size_t(o)] = &outputs[l];
    }

    num_inputs = std::max(0, bind_inputs);
    inputs.assign(std::size_t(num_inputs), nullptr);
    for (int i = 0; i < num_inputs; ++i) {
        const int k = in_idx[i];
        if (k < 0 || k >= input_collection->num_components)
            malformed_block();
        rv_multi_line* in = input_collection->components[std::size_t(k)];
        inputs[std::size_t(i)] = in;
        if (in != nullptr)
            in->num_consumers++;
    }
}

void rv_multi_block::drop_input(int i)
{
    rv_multi_line*& in = inputs[std::size_t(i)];
    if (in != nullptr)
        in->num_consumers--;
    in = nullptr;
}

void rv_multi_block::gather_samples()
{
    in_samples.resize(std::size_t(num_inputs));
    in_ptrs.resize(std::size_t(num_inputs));
    for (int i = 0; i < num_inputs; ++i) {
        const rv_multi_line* in = inputs[std::size_t(i)];
        if (in == nullptr) {
            in_ptrs[std::size_t(i)] = nullptr;
            continue;
        }
        in_samples[std::size_t(i)] = in->samples();
        in_ptrs[std::size_t(i)] = &in_samples[std::size_t(i)];
    }
    out_samples.resize(std::size_t(num_outputs));
    for (int j = 0; j < num_outputs; ++j)
        out_samples[std::size_t(j)] = outputs[j].samples();
}

int rv_multi_block::square_size(int num_block_inputs, int num_block_outputs)
{
    const int n = std::max(0, num_block_inputs);
    if (num_block_outputs < 0 || num_block_outputs > n)
        malformed_block();
    return n;
}

void rv_multi_block::mark_square_lines(bool rev, bool precise)
{
    for (rv_multi_line* in : inputs)
        if (in != nullptr && rev) {
            in->reversible = true;
            in->need_precise |= precise;
        }
    for (int t = 0; t < num_outputs; ++t) {
        outputs[t].reversible = rev;
        outputs[t].need_irreversible = !rev;
        outputs[t].need_precise = precise;
    }
}

void rv_multi_null_block::initialize(int stage_idx, int block_idx, rv_multi_source& source,
                                     int num_block_inputs, int num_block_outputs,
                                     rv_multi_collection* input_collection,
                                     rv_multi_collection* output_collection,
                                     rv_multi_transform* owner)
{
    const int n = std::max(0, std::min(num_block_inputs, num_block_outputs));
    bind(stage_idx, block_idx, source, n, num_block_outputs, std::max(0, num_block_outputs),
         nullptr, input_collection, output_collection, owner);
    for (int j = 0; j < num_outputs; ++j) {
        rv_multi_line& out = outputs[j];
        rv_multi_line* in = j < n ? inputs[std::size_t(j)] : nullptr;
        if (in != nullptr && !in->is_constant) {
            out.reversible = in->reversible;
            out.need_irreversible = in->need_irreversible;
        } else {
            // Nothing feeds it (beyond the inputs, an absent input, or a constant one): it
            // holds its offsets only.
            out.is_constant = true;
            if (in != nullptr) {
                out.reversible = in->reversible;
                out.need_irreversible = in->need_irreversible;
                out.rev_offset = in->rev_offset;
                out.irrev_offset = in->irrev_offset;
            }
            if (out.reversible == out.need_irreversible) {
                out.reversible = false;
                out.need_irreversible = true;
            }
            if (j < n)
                drop_input(j);
        }
        out.rev_offset += rev_offsets[std::size_t(j)];
        out.irrev_offset += irrev_offsets[std::size_t(j)];
    }
}

void rv_multi_matrix_block::initialize(int stage_idx, int block_idx, rv_multi_source& source,
                                       int num_block_inputs, int num_block_outputs,
                                       rv_multi_collection* input_collection,
                                       rv_multi_collection* output_collection,
                                       rv_multi_transform* owner)
{
    bind(stage_idx, block_idx, source, num_block_inputs, num_block_outputs, num_block_outputs,
         nullptr, input_collection, output_collection, owner);
    arith.num_inputs = num_inputs;
    arith.num_outputs = num_outputs;
    const std::size_t count = std::size_t(num_inputs) * std::size_t(num_outputs);
    arith.coefficients.assign(count, 0.0f);
    source.get_mct_matrix_info(stage_idx, block_idx, arith.coefficients.data());
    offsets.assign(std::size_t(num_outputs), 0.0f);
    for (int j = 0; j < num_outputs; ++j) {
        outputs[j].need_irreversible = true;
        outputs[j].irrev_offset = irrev_offsets[std::size_t(j)];
    }
    // Constant inputs cost nothing per row: their weighted values join the offsets.
    for (int i = 0; i < num_inputs; ++i) {
        rv_multi_line* in = inputs[std::size_t(i)];
        if (in == nullptr || !in->is_constant)
            continue;
        const float v = in->reversible ? float(in->rev_offset) : in->irrev_offset;
        for (int j = 0; j < num_outputs; ++j)
            offsets[std::size_t(j)] = 0.0f;
        arith.fold_constant_input(i, v, offsets.data());
        for (int j = 0; j < num_outputs; ++j)
            outputs[j].irrev_offset += offsets[std::size_t(j)];
        drop_input(i);
    }
}

void rv_multi_matrix_block::normalize()
{
    gather_samples();
    if (arith.normalize(in_ptrs.data(), out_samples.data())) {
        for (rv_multi_line* in : inputs)
            if (in != nullptr)
                in->need_precise = true;
        for (int j = 0; j < num_outputs; ++j)
            outputs[j].need_precise = true;
    }
}

void rv_multi_matrix_block::perform_synthesis()
{
    gather_samples();
    for (int j = 0; j < num_outputs; ++j)
        offsets[std::size_t(j)] = outputs[j].irrev_offset;
    arith.synthesize(in_ptrs.data(), out_samples.data(), offsets.data());
}

void rv_multi_rxform_block::initialize(int stage_idx, int block_idx, rv_multi_source& source,
                                       int num_block_inputs, int num_block_outputs,
                                       rv_multi_collection* input_collection,
                                       rv_multi_collection* output_collection,
                                       rv_multi_transform* owner)
{
    const int n = square_size(num_block_inputs, num_block_outputs);
    arith.n = n;
    arith.coefficients.assign(std::size_t(n) * std::size_t(n + 1), 0);
    std::vector<int> active(std::size_t(num_block_outputs) + 1, -1);
    source.get_mct_rxform_info(stage_idx, block_idx, arith.coefficients.data(), active.data());
    bind(stage_idx, block_idx, source, n, num_block_outputs, n, active.data(), input_collection,
         output_collection, owner);
    mark_square_lines(true, arith.needs_precise());
    for (int i = 0; i < num_block_outputs; ++i)
        outputs[active[std::size_t(i)]].rev_offset = rev_offsets[std::size_t(i)];
    offsets.assign(std::size_t(n), 0);
}

void rv_multi_rxform_block::perform_synthesis()
{
    gather_samples();
    for (int t = 0; t < num_outputs; ++t)
        offsets[std::size_t(t)] = outputs[t].rev_offset;
    arith.synthesize(in_ptrs.data(), out_samples.data(), offsets.data());
}

void rv_multi_dependency_block::initialize(int stage_idx, int block_idx, rv_multi_source& source,
                                           int num_block_inputs, int num_block_outputs,
                                           rv_multi_collection* input_collection,
                                           rv_multi_collection* output_collection,
                                           rv_multi_transform* owner)
{
    const int n = square_size(num_block_inputs, num_block_outputs);
    arith.n = n;
    const std::size_t packed = std::size_t(n) * std::size_t(n + 1) / 2;
    std::vector<float> rc(packed + 1, 0.0f), ro(std::size_t(n) + 1, 0.0f);
    std::vector<int> ic(packed + 1, 0), io(std::size_t(n) + 1, 0);
    std::vector<int> active(std::size_t(num_block_outputs) + 1, -1);
    bool rev = false;
    source.get_mct_dependency_info(stage_idx, block_idx, rev, rc.data(), ro.data(), ic.data(),
                                   io.data(), active.data());
    arith.reversible = rev;
    const std::size_t nn = std::size_t(n) * std::size_t(n);
    std::size_t k = 0;
    if (rev) {
        arith.int_coefficients.assign(nn, 0);
        arith.int_offsets.assign(io.begin(), io.begin() + n);
        if (n > 0)
            arith.int_coefficients[0] = 1;
        for (int r = 1; r < n; ++r)
            for (int c = 0; c <= r; ++c)
                arith.int_coefficients[std::size_t(r) * n + c] = ic[k++];
    } else {
        arith.real_coefficients.assign(nn, 0.0f);
        arith.real_offsets.assign(ro.begin(), ro.begin() + n);
        for (int r = 1; r < n; ++r)
            for (int c = 0; c < r; ++c)
                arith.real_coefficients[std::size_t(r) * n + c] = rc[k++];
    }
    bind(stage_idx, block_idx, source, n, num_block_outputs, n, active.data(), input_collection,
         output_collection, owner);
    mark_square_lines(rev, rev && arith.normalize(nullptr, nullptr));
}

void rv_multi_dependency_block::normalize()
{
    if (arith.reversible)
        return;
    gather_samples();
    const bool precise = arith.normalize(in_ptrs.data(), out_samples.data());
    for (int t = 0; t < num_outputs; ++t)
        outputs[t].bit_depth = out_samples[std::size_t(t)].bit_depth;
    if (precise) {
        for (rv_multi_line* in : inputs)
            if (in != nullptr)
                in->need_precise = true;
        for (int t = 0; t < num_outputs; ++t)
            outputs[t].need_precise = true;
    }
}

void rv_multi_dependency_block::perform_synthesis()
{
    gather_samples();
    arith.synthesize(in_ptrs.data(), out_samples.data());
    for (int t = 0; t < num_outputs; ++t)
        rv_line_add_offset(out_samples[std::size_t(t)], outputs[t].rev_offset,
                           outputs[t].irrev_offset);
}

// Inversion for compression: every internal line must be obtainable from downstream.
const char* rv_multi_rxform_block::prepare_for_inversion()
{
    for (int t = 0; t < num_outputs; ++t)
        if (outputs[t].num_consumers <= 0)
            return "Reversible decorrelation transform block cannot be inverted unless all of its "
                   "outputs can be computed by downstream transform blocks, or by the application "
                   "supplying them.";
    outstanding = 0;
    return nullptr;
}

void rv_multi_rxform_block::perform_analysis()
{
    gather_samples();
    arith.analyze(out_samples.data(), in_ptrs.data());
}

const char* rv_multi_dependency_block::prepare_for_inversion()
{
    for (int t = 0; t < num_outputs; ++t)
        if (outputs[t].num_consumers <= 0)
            return "Dependency transform block cannot be inverted or partially inverted unless a "
                   "contiguous prefix of the output components can be computed by downstream "
                   "transform blocks, or by the application supplying them.";
    if (!arith.reversible)
        for (const rv_multi_line* in : inputs)
            if (in != nullptr && in->reversible)
                return "Encountered an irreversible dependency transform block which operates "
                       "on reversible codestream sample data.  Such transforms are processed "
                       "during decompression, but cannot be inverted during compression.";
    outstanding = 0;
    return nullptr;
}

const char* rv_multi_matrix_block::prepare_for_inversion()
{
    for (const rv_multi_line* in : inputs)
        if (in != nullptr && in->reversible)
            return "Encountered an irreversible decorrelation transform block which operates on "
                   "reversible codestream sample data.  Such transforms are processed during "
                   "decompression, but cannot be inverted during compression.";
    inv_rows.clear();
    inv_cols.clear();
    for (int j = 0; j < num_outputs; ++j)
        if (outputs[j].num_consumers > 0 && !outputs[j].is_constant)
            inv_rows.push_back(j);
    for (int i = 0; i < num_inputs; ++i)
        if (inputs[std::size_t(i)] != nullptr)
            inv_cols.push_back(i);
    if (inv_rows.size() < inv_cols.size())
        return "Encountered underdetermined system while trying to invert a multi-component "
               "transform block so as to convert MCT output components into codestream "
               "components during compression.";
    if (!arith.least_squares_inverse(inv_rows, inv_cols, inverse))
        return "Near singular irreversible decorrelation transform block encountered in "
               "multi-component transform description.  This may prevent compression if no "
               "other path leads back from the output components to the codestream components.";
    // Inverse coefficients the 16-bit form would clip need 32-bit lines throughout.
    if (rv_coefficients_need_precise(inverse.coefficients.data(), int(inverse.coefficients.size()))) {
        for (int j : inv_rows)
            outputs[j].need_precise = true;
        for (int i : inv_cols)
            inputs[std::size_t(i)]->need_precise = true;
    }
    outstanding = 0;
    return nullptr;
}

void rv_multi_matrix_block::perform_analysis()
{
    gather_samples();
    inv_in.clear();
    inv_out.clear();
    for (int j : inv_rows)
        inv_in.push_back(&out_samples[std::size_t(j)]);
    // An input reached through another path since inversion was prepared takes its
    // result into scratch.
    const rv_line_samples shape = out_samples.empty() ? rv_line_samples() : out_samples[0];
    inv_scratch.assign(std::size_t(std::max(0, shape.width)), 0.0f);
    for (int i : inv_cols) {
        if (inputs[std::size_t(i)] != nullptr) {
            inv_out.push_back(in_samples[std::size_t(i)]);
            continue;
        }
        rv_line_samples scratch = shape;
        scratch.buf = inv_scratch.data(); // floats are as wide as any sample
        inv_out.push_back(scratch);
    }
    // The outputs arrive without their offsets, so the inverse adds none.
    inv_offsets.assign(inv_out.size(), 0.0f);
    inverse.synthesize(inv_in.data(), inv_out.data(), inv_offsets.data());
}

void rv_multi_dependency_block::perform_analysis()
{
    gather_samples();
    arith.analyze(out_samples.data(), in_ptrs.data());
}
