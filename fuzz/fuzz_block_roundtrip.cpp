// Encodes one code-block chosen by the input and decodes it again: the samples must come
// back exactly, and an early-stopped block must decode like the same passes of the whole.
//
// Input: shape, height, width, modes, orientation, magnitude planes, missing MSBs, flags
// (bit 0: slopes, bit 1: early stop); the rest gives the samples, four bytes each (big
// endian, bit 31 the sign), repeated when short.
#include "fuzz/fuzz_support.h"
#include "tests/codec/support/block_roundtrip.h"
#include "tests/codec/support/databin_blocks.h"

#include <cstdlib>

namespace {

bool prepared()
{
    static throwing_handler errors;
    static throwing_handler warnings;
    codec_test::init_block_coding_tables();
    rvd_customize_errors(&errors);
    rvd_customize_warnings(&warnings);
    return true;
}

void check(bool ok)
{
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool ready = prepared();
    (void)ready;
    if (size < 9)
        return 0;
    codec_test::block_shape s;
    switch (data[0] % 3) {
    case 0:
        s.height = 1 + data[1] % 64;
        s.width = 1 + data[2] % 64;
        break;
    case 1:
        s.height = 1 + data[1] % 4;
        s.width = 1024;
        break;
    default:
        s.height = 1024;
        s.width = 1 + data[2] % 4;
        break;
    }
    s.modes = data[3] & 63;
    s.orientation = data[4] & 3;
    s.kmax = 1 + data[5] % 30;
    s.missing = data[6] % s.kmax;
    const bool slopes = data[7] & 1, early = (data[7] & 2) && s.orientation != 0;
    const uint8_t* src = data + 8;
    const size_t n = size - 8;
    const int bits = s.kmax - s.missing;
    std::vector<int32_t> words(size_t(s.height) * size_t(s.width));
    for (size_t i = 0; i < words.size(); i++) {
        uint32_t v = 0;
        for (int k = 0; k < 4; k++)
            v = (v << 8) | src[(4 * i + size_t(k)) % n];
        uint32_t mag = (v & 0x7FFFFFFF) & ((1u << bits) - 1);
        words[i] = int32_t((mag << (31 - s.kmax)) | (v & 0x80000000u));
    }
    const int full = 3 * bits - 2;
    static rvd_block_encoder enc;
    static rvd_block_decoder dec;
    static rvd_block eb, db;
    try {
        codec_test::coded_block c = codec_test::encode_block(enc, eb, s, words, full, true, slopes || early ? 1.0 : 0.0);
        check(c.num_passes == full);
        if (full > 0 && s.kmax < 31) {
            std::vector<int32_t> back = codec_test::decode_block(dec, db, s, c, full);
            for (size_t i = 0; i < words.size(); i++) {
                uint32_t a = uint32_t(words[i]), b = uint32_t(back[i]);
                check(((a & 0x7FFFFFFF) >> (31 - s.kmax)) == ((b & 0x7FFFFFFF) >> (31 - s.kmax)));
                check((a & 0x7FFFFFFF) == 0 || (a >> 31) == (b >> 31));
            }
        }
        if (early && !c.slopes.empty()) {
            uint16_t top = 0;
            for (uint16_t v : c.slopes)
                top = std::max(top, v);
            uint16_t threshold = uint16_t(std::min(65535, top + 1 + data[8] * 16));
            codec_test::coded_block cut = codec_test::encode_block(enc, eb, s, words, full, true, 1.0, threshold);
            check(cut.num_passes >= 1 && cut.num_passes <= full);
            check(codec_test::decode_block(dec, db, s, cut, cut.num_passes) ==
                  codec_test::decode_block(dec, db, s, c, cut.num_passes));
        }
    } catch (const fuzz_codec_error&) {
        std::abort(); // our own output must never be refused
    }
    return 0;
}
