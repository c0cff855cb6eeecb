#include "tests/codec/support/memory_target.h"

#include <cstddef>

namespace codec_test {

bool memory_target::write(const uint8_t* buf, int num_bytes)
{
    for (int k = 0; k < num_bytes; k++) {
        if (pos < 0)
            bytes.push_back(buf[k]);
        else if (std::size_t(pos) < bytes.size())
            bytes[std::size_t(pos++)] = buf[k];
        else
            return false; // a rewrite may not run past the end
    }
    return true;
}

bool memory_target::start_rewrite(int64_t backtrack)
{
    if (!rewritable || pos >= 0 || backtrack < 0 || backtrack > int64_t(bytes.size()))
        return false;
    pos = int64_t(bytes.size()) - backtrack;
    num_rewrites++;
    return true;
}

bool memory_target::end_rewrite()
{
    if (pos < 0)
        return false;
    pos = -1;
    return true;
}

} // namespace codec_test
