// Codes an image's samples through an output codestream the way an application does:
// every tile, component, band and code-block opened, quantised, encoded and closed.
#pragma once

#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_thread_env.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace codec_test {

struct feed_options {
    bool reverse_tiles = false; // tiles coded last first
    // With stripe_rows > 0 a tile's blocks are coded in order of the first image row
    // they describe, and after_stripe runs each time a multiple of stripe_rows is passed
    // (and once at the tile's end), with the tile still open.
    int stripe_rows = 0;
    std::function<void()> after_stripe;
    // With an environment of a thread group, each tile's blocks are coded as jobs of the
    // group's threads (opened and closed through the environments).
    rvd_thread_env* env = nullptr;
};

// `samples`: per component, its rows as the image holds them (unsigned components not
// level-shifted), on the component's grid over the whole canvas. Reversible tiles take
// Mallat 5/3 levels and the reversible colour transform; irreversible tiles have no
// levels and are quantised with their "Qabs_steps" step.
void feed_blocks(rvd_codestream& cs, const std::vector<std::vector<int32_t>>& samples,
                 const feed_options& options = feed_options());

} // namespace codec_test
