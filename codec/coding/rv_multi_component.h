// One codestream component of a tile as the multi-component network sees it: its line,
// the stripe of rows pulled from its spatial engine at a time, and the engine.
#pragma once

#include "codec/coding/rv_multi_line.h"
#include "codec/coding/rvd_pull_ifc.h"
#include "codec/core/rvd_worker.h"

#include <cstdint>
#include <memory>

class rvd_thread_queue;

// Secondary sequence of a component's stripe jobs: ahead of every block row, since a
// stripe job's pulls are what schedule further block rows.
const std::uint32_t rv_stripe_job_rank = 1;

class rv_multi_component : public rvd_worker {
public:
    rv_multi_component() = default;
    // Fills the job's rows of buffers from the engine.
    void do_job(rvd_thread_env* env, int job_idx) override;

    // Sets the stripe and buffer count for a component of `height` rows.
    void set_buffering(int stripe, int height);
    // Pulls min(stripe, rows_left) rows into buffers from 0.
    void fill_stripe(int rows_left, rvd_thread_env* env);
    // Double buffering: waits for the running job, makes its rows available and queues
    // the next stripe into the other half.
    void take_stripe(rvd_thread_env* env);

    int comp_idx = 0;
    rvd_thread_queue* queue = nullptr;
    rv_multi_line line;
    bool double_buffering = false;
    int next_buffer = 0;
    int num_available = 0;
    int first_job_buffer = 0;
    int num_job_rows = 0;
    int rows_queued = 0; // rows of all jobs queued so far
    int stripe_height = 1;
    int num_buffers = 0;
    std::unique_ptr<rvd_line_buf[]> buffers;
    rvd_pull_ifc engine;
};
