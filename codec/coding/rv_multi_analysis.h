// The compression side of the multi-component network: built like the synthesis network,
// then walked backwards from the output lines the application fills to the codestream
// components, whose rows are queued and pushed into their spatial engines a stripe at a
// time.
#pragma once

#include "codec/coding/rv_multi_analysis_base.h"
#include "codec/coding/rv_multi_transform.h"
#include "codec/coding/rvd_push_ifc.h"
#include "codec/core/rvd_worker.h"

#include <cstdint>
#include <vector>

class rv_multi_source;
class rvd_roi_image;

// Double buffering: a job pushes one half of a component's row buffers into its engine
// while the application fills the other half.
class rv_stripe_pusher : public rvd_worker {
public:
    void do_job(rvd_thread_env* env, int job_idx) override;

    rvd_push_ifc* engine = nullptr;
    rvd_line_buf* buffers = nullptr;
    int first = 0;
    int count = 0;
};

class rv_multi_analysis : public rv_multi_analysis_base, public rv_multi_transform {
public:
    rv_multi_analysis() = default;
    ~rv_multi_analysis() override;
    // Builds the network from `source` (kept only while building) and returns the bytes
    // of line storage held. With an environment each codestream component gets a
    // "component processor" queue under `queue`, parent of its engines' queues; with
    // `double_buffering` (two threads or more, two components or more) its stripes are
    // pushed by jobs on that queue.
    std::int64_t create(rv_multi_source& source, bool force_precise, rvd_roi_image* roi,
                        bool want_fastest, int stripe_height, rvd_thread_env* env,
                        rvd_thread_queue* queue, bool double_buffering = false);
    void terminate_queues(rvd_thread_env* env) override;
    rvd_coords get_size(int comp_idx) const override;
    rvd_line_buf* exchange_line(int comp_idx, bool give_back, rvd_thread_env* env) override;
    bool is_line_precise(int comp_idx) const override;
    bool is_line_absolute(int comp_idx) const override;

private:
    void prepare_for_inversion();
    void create_resources(rv_multi_source& source, rvd_roi_image* roi, rvd_thread_env* env);
    // Row r of `line` is complete: carries it back towards the codestream components.
    void push_row(rv_multi_line* line, int r, rvd_thread_env* env);
    void store_row(int comp, rvd_thread_env* env);
    rv_multi_line* output_line(int comp_idx) const;

    std::vector<rvd_push_ifc> engines; // per codestream component
    std::vector<rv_stripe_pusher> pushers; // per codestream component
    std::vector<int> stripe_start;     // per component: first buffer of the stripe being filled
    std::vector<int> rows_stored;      // per codestream component
    std::vector<int> next_row;         // per output component
    rvd_thread_env* creator_env = nullptr;
    bool queues_live = false;
};
