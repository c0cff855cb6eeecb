// The code-block decoder behind rvd_block_decoder: segments, the three coding passes in
// MQ and raw forms, error detection and concealment.
#pragma once

#include "codec/coding/rv_mq_decoder.h"
#include "codec/coding/rvd_block_decoder.h"

#include <cstdint>

class rv_block_decoder : public rvd_block_decoder_base {
public:
    rv_block_decoder();
    void decode(rvd_block* block) override;

    // Set as for a processor with the hand-written pass forms; every form here is the
    // portable one, which gives identical results.
    bool use_hand_passes;

private:
    // One decode of the block with at most num_passes passes; -1 when nothing was found
    // wrong, otherwise the lowered pass count.
    int decode_passes(rvd_block* block, int num_passes);

    rv_mq_state states[18];
};
