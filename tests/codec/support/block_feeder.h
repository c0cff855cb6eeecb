// Codes an image's samples through an output codestream the way an application does:
// every tile, component, band and code-block opened, quantised, encoded and closed.
#pragma once

#include "codec/core/rvd_codestream.h"

#include <cstdint>
#include <vector>

namespace codec_test {

// `samples`: per component, its rows as the image holds them (unsigned components not
// level-shifted), on the component's grid over the whole canvas. Reversible tiles without
// Mallat wavelet levels (5/3) are supported.
// With `reverse_tiles` the tiles are coded last first.
void feed_blocks(rvd_codestream& cs, const std::vector<std::vector<int32_t>>& samples,
                 bool reverse_tiles = false);

} // namespace codec_test
