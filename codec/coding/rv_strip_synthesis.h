// The inverse wavelet transform of a wide node split into column strips, so that several
// worker threads synthesise one tile-component at once. Each strip is a tree of synthesis
// engines over its own columns plus the few beyond its edges that the lifting steps
// reach at every level (what those columns get wrong at the cut never reaches the
// strip's own columns, so every sample equals the unsplit transform's); the subbands are
// decoded once and read by every strip. A strip synthesises a stripe of rows as one job,
// so a row's work stays on one thread; the caller takes finished stripes in order while
// the strips run up to a few stripes ahead.
#pragma once

#include "codec/coding/rvd_pull_ifc.h"
#include "codec/core/rvd_node.h"

// The strips a node `width` columns wide is split into with `env`; below 2 the node is
// not split.
int rv_synthesis_strips(int width, rvd_thread_env* env);

// The narrowest strip worth its edges (at least 32 columns); tests lower it to reach the
// strips with small images. Returns the previous value.
int rv_set_min_strip_width(int columns);

// The node's engine in `strips` strips (at least 2, with an environment of two threads
// or more); the strips' jobs run under `env_queue`.
rvd_pull_ifc_base* rv_make_strip_synthesis(rvd_node node, int strips,
                                           rvd_sample_allocator* allocator, bool use_shorts,
                                           float normalization, int pull_offset,
                                           rvd_thread_env* env, rvd_thread_queue* env_queue);
