// Handle of a precinct of an interchange codestream; copied by value, owns nothing.
#pragma once

#include "codec/core/rvd_coords.h"
#include "codec/core/rvd_dims.h"

#include <cstdint>

class rv_precinct;
class rvd_block;
class rvd_output;
class rvd_thread_env;

class rvd_precinct {
public:
    rvd_precinct() = default;
    explicit rvd_precinct(rv_precinct* s) : state(s) {}
    bool exists() const { return state != nullptr; }
    bool operator!() const { return state == nullptr; }

    int64_t get_unique_id() const;
    // True when no code-block of the precinct is outstanding.
    bool check_loaded() const;
    // Apparent code-block range of a band; false for a band outside the level or none.
    bool get_valid_blocks(int band_idx, rvd_dims& indices) const;
    rvd_block* open_block(int band_idx, rvd_coords block_idx, rvd_thread_env* env = nullptr);
    void close_block(rvd_block* block, rvd_thread_env* env = nullptr);
    // Sizes packets (layer l at slope threshold 65534 - l) until at least the requested
    // cumulative packets and bytes are reached; both receive what was reached. False
    // while a code-block is open.
    bool size_packets(int& cumulative_packets, int& cumulative_bytes, bool& is_significant);
    // Generates packets up to the requested cumulative counts; those before the leading
    // packet and byte counts are discarded, the others go to `out`.
    bool get_packets(int leading_skip_packets, int leading_skip_bytes, int& cumulative_packets,
                     int& cumulative_bytes, rvd_output* out);
    // Sizing starts again from the first packet.
    void restart();
    // Releases the precinct; the handle becomes empty.
    void close();

private:
    rv_precinct* state = nullptr;
};
