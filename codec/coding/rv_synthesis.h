// The inverse wavelet engine of one node. What it needs of the node is gathered into a
// shape first, so that the engine itself does not depend on how the node tree is held.
#pragma once

#include "codec/coding/rv_dwt_line_queue.h"
#include "codec/coding/rv_lifting_step.h"
#include "codec/coding/rvd_pull_ifc.h"
#include "codec/core/rvd_dims.h"
#include "codec/core/rvd_node.h"

#include <functional>
#include <vector>

// One direction's kernel as the node hands it over.
struct rv_synthesis_direction {
    int num_steps = 0;
    std::vector<rvd_kernel_step_info> steps; // analysis order
    std::vector<float> coefficients;         // step after step, each step's taps in order
    float low_gain = 1.0f, high_gain = 1.0f;
    bool symmetric_extension = true;
    // Expected peaks relative to the input of the direction: entry 0 the input, entry
    // k + 1 the output of step k. Empty when unknown (then no headroom is kept).
    std::vector<double> bibo_gains;
};

struct rv_synthesis_shape {
    rvd_dims region;            // rows and columns the node delivers
    bool reversible = false;
    int kernel_id = 1;
    // Children 0-3: LL, HL, LH, HH; `child_dims` in each child's own coordinates (low
    // rows and columns map to even node positions, high ones to odd positions).
    bool child_exists[4] = {false, false, false, false};
    rvd_dims child_dims[4];
    rv_synthesis_direction horz, vert;
    // Columns before rows: in a transposed view the codestream's rows are the node's
    // columns, and reversible rounding follows the codestream's order.
    bool vertical_first = false;
};

// Builds the engine of child `idx` with the normalisation it must deliver its samples at.
typedef std::function<rvd_pull_ifc_base*(int idx, float normalization)> rv_child_maker;

rv_synthesis_shape rv_synthesis_shape_of(rvd_node node);

// The steps of one direction in their working form (a codec error for unusable steps).
std::vector<rv_lifting_step> rv_make_lifting_steps(const rv_synthesis_direction& d,
                                                   bool reversible, int kernel_id);
// The normalisation of each child (LL, HL, LH, HH): the node's, divided, for irreversible
// kernels, by the low- or high-pass gain of each direction that splits more than one
// sample.
void rv_child_normalizations(const rv_synthesis_shape& shape, bool many_rows, bool many_cols,
                             float normalization, float child_norm[4]);

class rv_synthesis : public rvd_pull_ifc_base {
public:
    // Children come from `make_child`; their lines and the node's are reserved in
    // `allocator`.
    rv_synthesis(const rv_synthesis_shape& shape, const rv_child_maker& make_child,
                 rvd_sample_allocator* allocator, bool use_shorts, float normalization,
                 int pull_offset);
    ~rv_synthesis() override;
    void start(rvd_thread_env* env) override;
    void pull(rvd_line_buf& line, rvd_thread_env* env) override;

    int get_upshift() const { return upshift; }
    int get_num_line_records() const { return int(records.size()); }

private:
    void load_row(int row, rv_dwt_line& line, rvd_thread_env* env);
    void horizontal_stage(rv_dwt_line& line);
    void deliver(const rv_dwt_line& line, int row, rvd_line_buf& out);

    bool empty = true;
    bool reversible = false;
    bool use_shorts = false;
    bool started = false;
    bool vert_split = false, hor_split = false;
    int pull_offset = 0;
    rvd_dims region;
    // Working rows and columns (the union of the children's sequences, which may reach
    // beyond the region when the children were grown for a region of interest).
    int row_first = 0, row_last = -1, col_first = 0, col_last = -1;
    int low_col0 = 0, high_col0 = 0;   // node column of the first low / high sample
    int low_cols = 0, high_cols = 0;
    int upshift = 0;
    int next_row = 0;
    float child_norm[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    std::vector<rv_lifting_step> hsteps, vsteps;
    bool hsymmetric = true, vsymmetric = true;
    rvd_pull_ifc children[4];
    bool vertical_first = false;
    std::vector<rv_dwt_line> records;
    rv_dwt_line scratch; // a row's horizontal synthesis when columns go first
    rv_dwt_line_queue queue;
};
