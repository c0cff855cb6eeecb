// Transform blocks of the multi-component network. Each block maps lines of the previous
// collection onto lines of the next; the per-row arithmetic lives in the *_arith forms so
// it can be driven apart from the network, and the blocks here settle what feeds it.
#pragma once

#include "codec/coding/rv_lifting_step.h"
#include "codec/coding/rv_multi_block_arith.h"
#include "codec/coding/rv_multi_line.h"
#include "codec/core/rvd_kernels.h"

#include <memory>
#include <vector>

class rv_multi_source;
class rv_multi_transform;
struct rv_multi_collection;

class rv_multi_block {
public:
    explicit rv_multi_block(bool null_transform) : is_null_transform(null_transform) {}
    rv_multi_block(const rv_multi_block&) = delete;
    rv_multi_block& operator=(const rv_multi_block&) = delete;
    virtual ~rv_multi_block() = default;

    // Reads the block's description, creates its output lines and binds its inputs.
    virtual void initialize(int stage_idx, int block_idx, rv_multi_source& source,
                            int num_block_inputs, int num_block_outputs,
                            rv_multi_collection* input_collection,
                            rv_multi_collection* output_collection, rv_multi_transform* owner) = 0;
    // Rescales coefficients and offsets to normalised line units; settles needs-precise.
    virtual void normalize() {}
    virtual bool propagate_bit_depths(bool need_input_depth, bool need_output_depth)
    {
        (void)need_input_depth;
        (void)need_output_depth;
        return false;
    }
    // All output lines for the current row from the held inputs.
    virtual void perform_synthesis() {}
    // Null when the block can be inverted for compression, else why not.
    virtual const char* prepare_for_inversion()
    {
        return "Unimplemented multi-component transform block inversion procedure.";
    }
    virtual void perform_analysis() {}

    bool is_null_transform;
    int num_outputs = 0;   // lines the block owns (internal lines included)
    std::unique_ptr<rv_multi_line[]> outputs;
    int num_inputs = 0;
    std::vector<rv_multi_line*> inputs; // null: absent or folded away
    int resume_point = 0;
    int outstanding = 0;
    rv_multi_block* next = nullptr;
    rv_multi_block* prev = nullptr;

protected:
    // The common part of initialisation: reads the block's indices and offset vectors,
    // creates `num_lines` lines, stores line line_of_output[i] (i itself when null) at
    // block output i's place in the output collection and binds the first `bind_inputs`
    // inputs, each gaining a consumer. Malformed indices raise a codec error.
    void bind(int stage_idx, int block_idx, rv_multi_source& source, int bind_inputs,
              int num_block_outputs, int num_lines, const int* line_of_output,
              rv_multi_collection* input_collection, rv_multi_collection* output_collection,
              rv_multi_transform* owner);
    // Drops input i, giving back its consumer.
    void drop_input(int i);
    // Views of the inputs (null where absent) and of the owned lines.
    void gather_samples();
    // The size of a square block (as many lines as inputs, at most that many outputs);
    // other counts raise a codec error.
    static int square_size(int num_block_inputs, int num_block_outputs);
    // After binding a square block: its owned lines integer or real as `rev` says, the
    // present inputs integer too when `rev`; all of them 32-bit where `precise`.
    void mark_square_lines(bool rev, bool precise);

    std::vector<int> rev_offsets;     // per block output
    std::vector<float> irrev_offsets; // per block output
    std::vector<rv_line_samples> in_samples, out_samples;
    std::vector<const rv_line_samples*> in_ptrs;
};

class rv_multi_null_block : public rv_multi_block {
public:
    rv_multi_null_block() : rv_multi_block(true) {}
    void initialize(int stage_idx, int block_idx, rv_multi_source& source, int num_block_inputs,
                    int num_block_outputs, rv_multi_collection* input_collection,
                    rv_multi_collection* output_collection, rv_multi_transform* owner) override;
};

class rv_multi_matrix_block : public rv_multi_block {
public:
    rv_multi_matrix_block() : rv_multi_block(false) {}
    void initialize(int stage_idx, int block_idx, rv_multi_source& source, int num_block_inputs,
                    int num_block_outputs, rv_multi_collection* input_collection,
                    rv_multi_collection* output_collection, rv_multi_transform* owner) override;
    void normalize() override;
    void perform_synthesis() override;
    const char* prepare_for_inversion() override;
    void perform_analysis() override;

    rv_matrix_arith arith;

private:
    std::vector<float> offsets;
    // Compression: the least-squares inverse from the outputs with consumers (rows) back
    // to the present inputs (cols).
    rv_matrix_arith inverse;
    std::vector<int> inv_rows, inv_cols;
    std::vector<const rv_line_samples*> inv_in;
    std::vector<rv_line_samples> inv_out;
    std::vector<float> inv_offsets;
    std::vector<float> inv_scratch;
};

class rv_multi_rxform_block : public rv_multi_block {
public:
    rv_multi_rxform_block() : rv_multi_block(false) {}
    void initialize(int stage_idx, int block_idx, rv_multi_source& source, int num_block_inputs,
                    int num_block_outputs, rv_multi_collection* input_collection,
                    rv_multi_collection* output_collection, rv_multi_transform* owner) override;
    void perform_synthesis() override;
    const char* prepare_for_inversion() override;
    void perform_analysis() override;

    rv_rxform_arith arith;

private:
    std::vector<int> offsets;
};

class rv_multi_dependency_block : public rv_multi_block {
public:
    rv_multi_dependency_block() : rv_multi_block(false) {}
    void initialize(int stage_idx, int block_idx, rv_multi_source& source, int num_block_inputs,
                    int num_block_outputs, rv_multi_collection* input_collection,
                    rv_multi_collection* output_collection, rv_multi_transform* owner) override;
    void normalize() override;
    void perform_synthesis() override;
    const char* prepare_for_inversion() override;
    void perform_analysis() override;

    rv_dependency_arith arith;
};

// An inverse wavelet transform across the component index.
class rv_multi_dwt_block : public rv_multi_block {
public:
    rv_multi_dwt_block() : rv_multi_block(false) {}
    void initialize(int stage_idx, int block_idx, rv_multi_source& source, int num_block_inputs,
                    int num_block_outputs, rv_multi_collection* input_collection,
                    rv_multi_collection* output_collection, rv_multi_transform* owner) override;
    void normalize() override;
    bool propagate_bit_depths(bool need_input_depth, bool need_output_depth) override;
    void perform_synthesis() override;
    // Compression (codec/encode/rv_multi_dwt_analysis.cpp): the forward transform from
    // the finest level's lines down to the subbands.
    const char* prepare_for_inversion() override;
    void perform_analysis() override;

    struct level {
        int canvas_min = 0;  // first canvas index of the level
        int num_elements = 0;
        int num_low = 0, num_high = 0;
        int first_line = 0;  // the level's work lines: owned lines from here on
        int num_inputs_before = 0; // block inputs of coarser levels' high bands
        int extra_upshift = 0;
        float low_gain = 1.0f, high_gain = 2.0f;
    };
    int num_levels = 0;
    std::vector<level> levels; // coarsest first
    bool reversible = false;
    bool symmetric = false, symmetric_extension = false;
    int num_steps = 0;
    std::vector<rv_lifting_step> steps;

private:
    // The element of block input i (subbands in order: the coarsest low-pass band, then
    // the high-pass bands from the coarsest level to the finest), -1 when unbound.
    std::vector<int> element_of_input;
    std::vector<rv_multi_line*> element_src; // per element, null when absent
    std::vector<rvd_line_buf*> work_bufs;
    std::vector<const rvd_line_buf*> step_src;
    // The rows step `st` reads for element c of first..last (work buffers, extended at the
    // ends); valid until the next call.
    const rvd_line_buf* const* step_sources(const rv_lifting_step& st, int c, int first, int last);
};
