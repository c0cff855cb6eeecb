// A compressed-data target keeping its bytes in memory; rewrites may be refused.
#pragma once

#include "codec/core/rvd_compressed_target.h"

#include <cstdint>
#include <vector>

namespace codec_test {

class memory_target : public rvd_compressed_target {
public:
    explicit memory_target(bool allow_rewrite = true) : rewritable(allow_rewrite) {}
    bool write(const uint8_t* buf, int num_bytes) override;
    bool start_rewrite(int64_t backtrack) override;
    bool end_rewrite() override;

    std::vector<uint8_t> bytes;
    int num_rewrites = 0;

private:
    bool rewritable;
    int64_t pos = -1; // write position while rewriting
};

} // namespace codec_test
