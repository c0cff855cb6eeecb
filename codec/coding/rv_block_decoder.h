#pragma once

#include "codec/coding/rv_mq_decoder.h"
#include "codec/coding/rvd_block_decoder.h"

class rv_block_decoder : public rvd_block_decoder_base {
public:
    rv_block_decoder();
    void decode(rvd_block* block) override;

    // Set where hand-written passes would pay; the portable passes give identical
    // results and are the only ones built, so it selects nothing.
    bool use_hand_passes;

private:
    // One decode of the block with its current num_passes. Returns the lowered pass
    // count when a corrupt segment was found, or -1.
    int decode_once(rvd_block* block, int num_stripes);
};
