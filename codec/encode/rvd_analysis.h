// The forward wavelet transform of one decomposition node: a tree of analysis engines
// mirroring the node tree, with subband encoders at the leaves, taking the node's lines
// from the top row down.
#pragma once

#include "codec/coding/rvd_push_ifc.h"
#include "codec/core/rvd_node.h"
#include "codec/core/rvd_resolution.h"
#include "codec/core/rvd_subband.h"
#include "codec/encode/rvd_roi_node.h"

#include <functional>

// Builds the engine that codes one leaf band. `roi` (may be null) passes to the new
// engine, which owns it from then on, also when it throws.
typedef std::function<rvd_push_ifc_base*(rvd_subband band, rvd_sample_allocator* allocator,
                                         bool use_shorts, float normalization,
                                         rvd_roi_node* roi, rvd_thread_env* env,
                                         rvd_thread_queue* env_queue)>
    rv_band_encoder_maker;

// The subband encoder of a leaf band; defined with the subband encoder.
rvd_push_ifc_base* rv_create_subband_encoder(rvd_subband band, rvd_sample_allocator* allocator,
                                             bool use_shorts, float normalization,
                                             rvd_roi_node* roi, rvd_thread_env* env,
                                             rvd_thread_queue* env_queue);

class rvd_analysis : public rvd_push_ifc {
public:
    rvd_analysis() = default;
    // Builds the engines of the node and everything below it, reserving their lines in
    // `allocator` (which must still be pre-creating; their storage is taken at the first
    // push, after the owner finalised it). Lines are 16-bit fixed point with
    // `use_shorts`, else 32-bit. `roi` (may be null) becomes the engine's: it is split
    // level by level for the band encoders, or released at once when the resolution
    // needs no masks below it. Leaf bands get rv_create_subband_encoder unless
    // `make_band` is given.
    rvd_analysis(rvd_node node, rvd_sample_allocator* allocator, bool use_shorts,
                 float normalization, rvd_roi_node* roi, rvd_thread_env* env,
                 rvd_thread_queue* env_queue, const rv_band_encoder_maker& make_band = {});
    // The resolution's node.
    rvd_analysis(rvd_resolution resolution, rvd_sample_allocator* allocator, bool use_shorts,
                 float normalization, rvd_roi_node* roi, rvd_thread_env* env,
                 rvd_thread_queue* env_queue, const rv_band_encoder_maker& make_band = {});
};

// ---------------------------------------------------------------------------------------
// The engine behind the handle, built from a node's shape so that tests can run it with
// their own children.

#include "codec/coding/rv_lifting_step.h"
#include "codec/coding/rv_synthesis.h"
#include "codec/encode/rv_analysis_queue.h"
#include "codec/encode/rv_roi_level.h"

#include <memory>
#include <vector>

// One forward lifting step over `count` samples from index `first`:
// out = in + update(src[0..L-1]); `out` may be `in`. 32-bit samples are integers when the
// step is reversible, floats otherwise.
void perform_analysis_lifting_step_32(const rv_lifting_step& step, const rvd_sample32* const* src,
                                      const rvd_sample32* in, rvd_sample32* out, int count,
                                      int first);
void perform_analysis_lifting_step_16(const rv_lifting_step& step, const std::int16_t* const* src,
                                      const std::int16_t* in, std::int16_t* out, int count,
                                      int first);
// A vertical step on whole lines of the same width and sample size.
void rv_analysis_vertical_step(const rv_lifting_step& step, const rvd_line_buf* const* src,
                               const rvd_line_buf& in, rvd_line_buf& out);
// The steps in analysis order over the two halves of one line covering columns
// first..last, each extending its source half first.
void rv_horizontal_analysis(const rv_lifting_step* steps, int num_steps, bool symmetric,
                            rvd_line_buf& low, rvd_line_buf& high, int first, int last);

// Builds the engine of child `idx` (0-3: LL, HL, LH, HH) with the normalisation of its
// samples and its mask node (may be null; the child owns it).
typedef std::function<rvd_push_ifc_base*(int idx, float normalization, rvd_roi_node* roi)>
    rv_analysis_child_maker;

class rv_analysis : public rvd_push_ifc_base {
public:
    // `roi_level` (may be null) splits the node's mask for the children; the engine owns
    // it. The node's lines and row buffers are reserved in `allocator`.
    rv_analysis(const rv_synthesis_shape& shape, const rv_analysis_child_maker& make_child,
                rvd_sample_allocator* allocator, bool use_shorts, float normalization,
                std::unique_ptr<rv_roi_level> roi_level);
    ~rv_analysis() override;
    void push(rvd_line_buf& line, rvd_thread_env* env) override;

    int get_num_row_buffers() const { return int(rows.size()); }
    // Most row buffers in use at once so far.
    int get_peak_rows_in_use() const { return pool.get_peak(); }
    int get_extra_shift() const { return extra_shift; }
    // True when no row is held in any queue.
    bool is_drained() const;

private:
    void set_up_vertical();
    void set_up_horizontal(rvd_sample_allocator* allocator, int num_buffers);
    // Runs the schedule without samples over every row: the peak of row buffers in use.
    int plan_vertical();
    void load_row(const rvd_line_buf& line, rv_analysis_row& row);
    void run_schedule(rv_analysis_pool& p, bool planning, rvd_thread_env* env);
    bool fire(int s, rv_analysis_pool& p, bool planning, rvd_thread_env* env);
    bool emit(rv_analysis_pool& p, bool planning, rvd_thread_env* env);
    void enter_row(rv_analysis_row* row, int y, rv_analysis_pool& p, bool planning,
                   rvd_thread_env* env);
    void horizontal(rv_analysis_row& row);
    void to_children(rv_analysis_row& row, int y, rvd_thread_env* env);

    bool empty = true;
    bool reversible = false;
    bool use_shorts = false;
    bool started = false;
    bool vert_split = false, hor_split = false;
    bool many_rows = false, many_cols = false;
    bool horizontal_first = false; // transposed views: the codestream's rows are columns
    int y0 = 0, y1 = -1, x0 = 0, x1 = -1;
    int widths[2] = {0, 0};
    int extra_shift = 0;
    int next_row = 0;
    float child_norm[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    std::vector<rv_lifting_step> hsteps, vsteps;
    bool hsymmetric = true, vsymmetric = true;
    // Vertical schedule: queue 0 the pushed odd rows, queue 1 the pushed even rows,
    // queue s + 2 the results of step s; t[s] the next target of step s, t[V] the next
    // row to emit from queue V.
    std::vector<rv_analysis_queue> queues;
    std::vector<int> next_target;
    int limit = 0;
    std::vector<rv_analysis_row> rows;
    rv_analysis_pool pool;
    std::unique_ptr<rv_roi_level> roi;
    rvd_push_ifc children[4];
};
