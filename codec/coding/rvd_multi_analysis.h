// Handle of one tile's multi-component analysis engine: a single pointer, copied by value,
// empty when null. The application writes rows of the tile's output (image) components
// into the lines the engine hands out; the engine removes their offsets, works back
// through the tile's multi-component network and colour transform to the codestream
// components, and pushes those into their forward wavelet transforms or subband encoders.
#pragma once

#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_coords.h"
#include "codec/core/rvd_tile.h"
#include "codec/core/rvd_line_buf.h"

#include <cstdint>

class rv_multi_analysis_base;
class rvd_roi_image;
class rvd_thread_env;
class rvd_thread_queue;

class rvd_multi_analysis {
public:
    rvd_multi_analysis() = default;
    bool exists() const { return state != nullptr; }
    bool operator!() const { return state == nullptr; }
    // Builds the engine for a tile open for writing and returns the bytes of line storage
    // it holds. `roi` (may be null) gives each codestream component its mask; a stripe
    // height below 1 acts as 1. With an environment, block coding runs on its threads.
    std::int64_t create(rvd_codestream codestream, rvd_tile tile, bool force_precise = false,
                        rvd_roi_image* roi = nullptr, bool want_fastest = false,
                        int processing_stripe_height = 1, rvd_thread_env* env = nullptr,
                        rvd_thread_queue* env_queue = nullptr, bool double_buffering = false);
    // Waits for the block coding still queued (re-raising a failure) and frees the engine;
    // the handle becomes empty. Call before closing the tile.
    void destroy(rvd_thread_env* env = nullptr);
    rvd_coords get_size(int comp_idx) const;
    // With `give_back`, first accepts the row the caller wrote into the line last handed
    // out for comp_idx. Returns the line for the component's next row, or null when every
    // row was given or the line is still held (its row waits for rows of the other
    // components it is transformed with).
    rvd_line_buf* exchange_line(int comp_idx, bool give_back, rvd_thread_env* env = nullptr);
    bool is_line_precise(int comp_idx) const;
    bool is_line_absolute(int comp_idx) const;
    rv_multi_analysis_base* get_state() const { return state; }

private:
    rv_multi_analysis_base* state = nullptr;
};
