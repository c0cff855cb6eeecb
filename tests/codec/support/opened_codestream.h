// A codestream created on a memory source that outlives it, destroyed with it.
#pragma once

#include "codec/core/rvd_codestream.h"
#include "tests/codec/support/test_sources.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace codec_test {

struct opened {
    explicit opened(std::vector<uint8_t> bytes) : src(std::move(bytes)) { cs.create(&src); }
    ~opened() { cs.destroy(); }
    memory_source src;
    rvd_codestream cs;
};

} // namespace codec_test
