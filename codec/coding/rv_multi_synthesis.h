// The decompression side of the multi-component network: builds the network of one tile
// and hands out output lines row by row.
#pragma once

#include "codec/coding/rv_multi_synthesis_base.h"
#include "codec/coding/rv_multi_transform.h"

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

    std::vector<int> next_row; // per output component
    rvd_thread_env* creator_env = nullptr;
    bool queues_live = false;  // component queues exist and were not terminated
};
