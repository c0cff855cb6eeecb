// The inverse wavelet transform of one decomposition node: a tree of synthesis engines
// mirroring the node tree, with subband decoders at the leaves, delivering the node's
// lines on demand.
#pragma once

#include "codec/coding/rvd_pull_ifc.h"
#include "codec/core/rvd_node.h"
#include "codec/core/rvd_resolution.h"

class rvd_synthesis : public rvd_pull_ifc {
public:
    rvd_synthesis() = default;
    // Builds the engines of the node and everything below it, reserving their lines in
    // `allocator` (which must still be pre-creating). Lines are 16-bit fixed point with
    // `use_shorts`, else 32-bit; each pulled line receives the node's row from sample
    // `pull_offset` onward. With an environment of two threads or more, a node wide
    // enough is synthesised in column strips on the pool (rv_strip_synthesis.h); the
    // subband decoders' jobs run under `env_queue` either way.
    rvd_synthesis(rvd_node node, rvd_sample_allocator* allocator, bool use_shorts,
                  float normalization, int pull_offset, rvd_thread_env* env,
                  rvd_thread_queue* env_queue);
    // The resolution's node, pull offset 0.
    rvd_synthesis(rvd_resolution resolution, rvd_sample_allocator* allocator, bool use_shorts,
                  float normalization, rvd_thread_env* env, rvd_thread_queue* env_queue);
};
