// The code-block encoder: the quantised sign-magnitude samples of one code-block become
// coding passes, each with its byte count and, on request, a rate-distortion slope.
#pragma once

#include "codec/core/rvd_block.h"

#include <cstdint>

class rvd_block_encoder_base {
public:
    virtual ~rvd_block_encoder_base() {}
    virtual void encode(rvd_block* block, bool reversible, double msb_wmse, uint16_t estimated_slope_threshold) = 0;
};

// Keeps no state between calls: one object may code any number of blocks in turn; a
// block record belongs to one thread at a time.
class rv_block_encoder : public rvd_block_encoder_base {
public:
    void encode(rvd_block* block, bool reversible, double msb_wmse, uint16_t estimated_slope_threshold) override;
};

class rvd_block_encoder {
public:
    rvd_block_encoder();
    ~rvd_block_encoder();
    rvd_block_encoder(const rvd_block_encoder&) = delete;
    rvd_block_encoder& operator=(const rvd_block_encoder&) = delete;

    // Reads size, modes, orientation, missing_msbs, magnitude_planes, num_passes (the
    // passes wanted), sample_buffer (height rows of width words, bit 31 the sign, the
    // band's most significant magnitude bit at bit 30) and timing_repeats. Writes
    // num_passes, byte_buffer, pass_lengths (one byte count per pass), pass_slopes (only
    // when msb_wmse is positive) and the timing fields. msb_wmse is the weighted squared
    // error of one unit at bit 30; a non-zero estimated threshold lets coding stop once
    // later passes could not survive it.
    void encode(rvd_block* block, bool reversible, double msb_wmse = 0.0, uint16_t estimated_slope_threshold = 0);

private:
    rvd_block_encoder_base* state;
};
