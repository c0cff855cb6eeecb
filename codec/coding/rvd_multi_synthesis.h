// Handle of one tile's multi-component synthesis engine: a single pointer, copied by
// value, empty when null. The engine turns the tile's codestream components into its
// output components one line at a time and owns every line it hands out.
#pragma once

#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_coords.h"
#include "codec/core/rvd_tile.h"
#include "codec/core/rvd_line_buf.h"

#include <cstdint>

class rv_multi_synthesis_base;
class rvd_thread_env;
class rvd_thread_queue;

class rvd_multi_synthesis {
public:
    rvd_multi_synthesis() = default;
    bool exists() const { return state != nullptr; }
    bool operator!() const { return state == nullptr; }

    // Builds the engine for an open tile and returns the bytes of line storage it holds.
    // A stripe height below 1 acts as 1. Without the worker pool only a null thread
    // environment is served.
    std::int64_t create(rvd_codestream codestream, rvd_tile tile, bool force_precise,
                        bool skip_ycc = false, bool want_fastest = false,
                        int processing_stripe_height = 1, rvd_thread_env* env = nullptr,
                        rvd_thread_queue* env_queue = nullptr, bool double_buffering = false);
    // Frees the engine and every line it handed out; the handle becomes empty.
    void destroy();
    // Size (height, width) of output component comp_idx.
    rvd_coords get_size(int comp_idx) const;
    // The next row of output component comp_idx, or null when it cannot be produced
    // before rows of outputs sharing a transform with it are taken. The buffer stays
    // valid until the next call for the same component.
    rvd_line_buf* get_line(int comp_idx, rvd_thread_env* env = nullptr);
    // 32-bit samples (false out of range).
    bool is_line_precise(int comp_idx) const;
    // Exact integers of the component's precision (false out of range).
    bool is_line_absolute(int comp_idx) const;

    rv_multi_synthesis_base* get_state() const { return state; }

private:
    rv_multi_synthesis_base* state = nullptr;
};
