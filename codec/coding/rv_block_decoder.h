#pragma once

#include "codec/coding/rv_mq_decoder.h"
#include "codec/coding/rvd_block_decoder.h"

class rv_block_decoder : public rvd_block_decoder_base {
public:
    rv_block_decoder();
    void decode(rvd_block* block) override;

    // Chooses the hand-written MQ passes (identical results) over the portable ones; set
    // at construction from the processor words, so a test lowers rvd_mmx_level to 0
    // before creating a decoder to force the portable forms.
    bool use_hand_passes;

private:
    // One decode of the block with its current num_passes. Returns the lowered pass
    // count when a corrupt segment was found, or -1.
    int decode_once(rvd_block* block, int num_stripes);
};
