// The code-block exchange record: filled by the codestream when a block is opened, read
// by the block coders. One per thread, reused from block to block; arrays only grow.
#pragma once

#include "codec/core/rvd_dims.h"

#include <cstdint>

class rvd_block {
public:
    rvd_block();
    ~rvd_block();
    rvd_block(const rvd_block&) = delete;
    rvd_block& operator=(const rvd_block&) = delete;

    // New length and slope arrays of n entries; keep copies the old entries.
    void set_max_passes(int n, bool keep = true);
    // n coded bytes; the byte before the first one may be written as well.
    void set_max_bytes(int n, bool keep = true);
    // n samples, 16-byte aligned; contents are not kept.
    void set_max_samples(int n);
    // n context words; contents are not kept.
    void set_max_contexts(int n);

    rvd_coords size;
    rvd_dims region;
    bool transpose = false, vflip = false, hflip = false;
    int modes = 0;
    int orientation = 0;
    bool resilient = false, fussy = false;
    int magnitude_planes = 0;
    int missing_msbs = 0;
    int num_passes = 0;
    int* pass_lengths = nullptr;
    uint16_t* pass_slopes = nullptr;
    uint8_t* byte_buffer = nullptr;
    int max_passes = 0;
    int max_bytes = 0;
    int32_t* sample_buffer = nullptr;
    int32_t* context_buffer = nullptr;
    int max_samples = 0;
    int max_contexts = 0;
    bool errors_reported = false;
    int timing_repeats = 0;
    int64_t timed_samples = 0;
    // Processor-clock stamp and accumulated milliseconds; 64-bit so the ticks never wrap.
    int64_t timing_start = 0;
    int64_t timing_total = 0;

private:
    uint8_t* byte_alloc = nullptr;
    int32_t* sample_alloc = nullptr;
};

// Code-block style bits.
enum : int {
    RVD_MODE_BYPASS = 0x01,
    RVD_MODE_RESET = 0x02,
    RVD_MODE_RESTART = 0x04,
    RVD_MODE_CAUSAL = 0x08,
    RVD_MODE_ERTERM = 0x10,
    RVD_MODE_SEGMARK = 0x20
};
