// The subband decoder: delivers one subband as dequantised sample lines, decoding one
// row of code-blocks at a time.
#pragma once

#include "codec/coding/rvd_pull_ifc.h"
#include "codec/core/rvd_subband.h"

class rvd_decoder : public rvd_pull_ifc {
public:
    rvd_decoder() = default;
    // Reserves the band's line buffer in `allocator` (which must still be pre-creating).
    // `use_shorts` selects 16-bit fixed-point lines (13 fraction bits when irreversible),
    // else 32-bit lines (floats when irreversible, integers when reversible).
    // `normalization` scales the irreversible step size; each pulled line receives the
    // band's samples from sample `pull_offset` onward. With a non-null `env` the blocks
    // are decoded by the environment's threads, queued under `env_queue`.
    rvd_decoder(rvd_subband band, rvd_sample_allocator* allocator, bool use_shorts,
                float normalization, int pull_offset, rvd_thread_env* env,
                rvd_thread_queue* env_queue);
};
