// The code-block decoder: the coded bytes of a filled rvd_block become sign-magnitude
// samples that already carry the mid-point of their last decoded bit-plane.
#pragma once

#include "codec/core/rvd_block.h"

// Code-block style bits.
const int rvd_block_bypass = 0x01;
const int rvd_block_reset = 0x02;
const int rvd_block_restart = 0x04;
const int rvd_block_causal = 0x08;
const int rvd_block_erterm = 0x10;
const int rvd_block_segmark = 0x20;

class rvd_block_decoder_base {
public:
    virtual ~rvd_block_decoder_base() {}
    virtual void decode(rvd_block* block) = 0;
};

class rv_block_decoder;

// Owns one decoder object; a decoder and the blocks it decodes belong to one thread at a
// time.
class rvd_block_decoder {
public:
    rvd_block_decoder();
    ~rvd_block_decoder();
    rvd_block_decoder(const rvd_block_decoder&) = delete;
    rvd_block_decoder& operator=(const rvd_block_decoder&) = delete;

    // Reads size, modes, orientation, resilient, fussy, magnitude_planes, missing_msbs,
    // num_passes, pass_lengths, byte_buffer and timing_repeats; writes sample_buffer
    // (4 x ceil(height / 4) rows of width words), may lower num_passes, sets
    // errors_reported and the timing fields. A corrupt segment found in fussy mode is a
    // codec error; in resilient mode the block is decoded again with fewer passes.
    void decode(rvd_block* block);

private:
    rv_block_decoder* state;
};
