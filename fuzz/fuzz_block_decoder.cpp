// Arbitrary code-block records through the block decoder in fast, resilient and fussy
// mode. The input's first bytes choose the size, modes, orientation, plane counts, pass
// count and pass lengths; the rest are the coded bytes.
#include "codec/coding/rvd_block.h"
#include "codec/coding/rvd_block_decoder.h"
#include "codec/core/rvd_message.h"

#include <algorithm>
#include <cstring>

namespace {

struct fuzz_codec_error {};

class throwing_handler : public rvd_message {
public:
    void flush(bool end_of_message) override
    {
        if (end_of_message)
            throw fuzz_codec_error{};
    }
};

throwing_handler error_handler;
rvd_message quiet_handler;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool installed = [] {
        rvd_customize_errors(&error_handler);
        rvd_customize_warnings(&quiet_handler);
        return true;
    }();
    (void)installed;
    if (size < 8)
        return 0;
    int height, width;
    switch (data[0] % 3) {
    case 0:
        height = 1 + data[1] % 64;
        width = 1 + data[2] % 64;
        break;
    case 1:
        height = 1 + data[1] % 1024;
        width = 1 + data[2] % 4;
        break;
    default:
        height = 1 + data[1] % 4;
        width = 1 + (data[2] | (data[1] << 8)) % 1024;
        break;
    }
    const int modes = data[3] & 0x3F, orientation = data[3] >> 6;
    const int missing = int(int8_t(data[4])) % 40, planes = int(data[5] % 48) - 4;
    const int passes = 1 + data[6] % 100;
    const int num_lengths = std::min<int>(passes, data[7] % 32);
    size_t pos = 8;
    rvd_block blk;
    blk.set_max_passes(passes);
    for (int i = 0; i < passes; i++) {
        int len = 0;
        if (i < num_lengths && pos + 2 <= size) {
            len = (data[pos] << 8 | data[pos + 1]) % 3000;
            pos += 2;
        }
        blk.pass_lengths[i] = len;
    }
    int nbytes = int(size - pos);
    blk.set_max_bytes(std::max(nbytes, 1));
    if (nbytes > 0)
        std::memcpy(blk.byte_buffer, data + pos, size_t(nbytes));
    rvd_block_decoder dec;
    for (int m = 0; m < 3; m++) {
        blk.size = rvd_coords(height, width);
        blk.modes = modes;
        blk.orientation = orientation;
        blk.missing_msbs = missing;
        blk.magnitude_planes = planes;
        blk.num_passes = passes;
        blk.resilient = (m == 1);
        blk.fussy = (m == 2);
        try {
            dec.decode(&blk);
        } catch (const fuzz_codec_error&) {
        }
    }
    return 0;
}
