// Copies an input codestream's code-blocks unchanged into an output codestream with the
// same parameters, then writes it with trans_out: the layers re-emitted under a budget.
#pragma once

#include "codec/core/rvd_compressed_target.h"

#include <cstdint>
#include <vector>

namespace codec_test {

struct transcode_result {
    int layers = 0;                  // layers written
    std::vector<int64_t> layer_bytes; // cumulative, one per input layer
};

// `budget` 0: no limit.
transcode_result transcode(const std::vector<uint8_t>& input, rvd_compressed_target* target,
                           int64_t budget);

} // namespace codec_test
