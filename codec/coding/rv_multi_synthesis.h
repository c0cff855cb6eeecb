// The decompression side of the multi-component network: builds the network of one tile
// and hands out output lines row by row.
#pragma once

#include "codec/coding/rv_multi_synthesis_base.h"
#include "codec/coding/rv_multi_transform.h"
#include "codec/core/rvd_worker.h"

#include <cstdint>
#include <vector>

class rv_multi_source;

class rv_multi_synthesis : public rv_multi_synthesis_base, public rv_multi_transform {
public:
    rv_multi_synthesis() = default;
    ~rv_multi_synthesis() override;

    // Builds the network from `source` (kept only while building) and returns the bytes
    // of line storage held. With a thread environment each codestream component gets a
    // "component processor" queue under `queue`.
    std::int64_t create(rv_multi_source& source, bool force_precise, bool skip_ycc,
                        bool want_fastest, int stripe_height, rvd_thread_env* env,
                        rvd_thread_queue* queue, bool double_buffering);

    void terminate_queues(rvd_thread_env* env) override;
    rvd_coords get_size(int comp_idx) const override;
    rvd_line_buf* get_line(int comp_idx, rvd_thread_env* env) override;
    bool is_line_precise(int comp_idx) const override;
    bool is_line_absolute(int comp_idx) const override;

private:
    // The line holding row r of `line`, or null when it cannot be produced yet.
    rv_multi_line* get_row(rv_multi_line* line, int r, rvd_thread_env* env);
    void advance_components(rv_multi_line* line, int r, rvd_thread_env* env);
    void create_resources(rv_multi_source& source, rvd_thread_env* env);
    // With threads, the colour transform and offsets of a stripe that the three colour
    // components hold at once run as pool jobs, row k on job k % parts.
    struct colour_stripe : rvd_worker {
        rv_multi_synthesis* owner = nullptr;
        rvd_thread_queue* queue = nullptr;
        int first_buffer = 0, rows = 0, parts = 1, first_job = 0, jobs_added = 0;
        void do_job(rvd_thread_env* env, int job_idx) override;
    };
    bool colour_whole_stripe(rvd_thread_env* env);
    void colour_rows(int first_buffer, int rows, int part, int parts);
    colour_stripe colour;
    int colour_rows_done = 0; // rows of the colour components' stripe already transformed

    std::vector<int> next_row; // per output component
    rvd_thread_env* creator_env = nullptr;
    bool queues_live = false;  // component queues exist and were not terminated
};
