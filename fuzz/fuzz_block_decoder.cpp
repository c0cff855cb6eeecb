// Decodes one code-block chosen entirely by the input, in fast, resilient and fussy mode,
// with the hand-written and with the portable passes (and the hand-written walks without
// LZCNT where the processor has it); any difference between them is a finding.
//
// Input: shape, width, height, modes, orientation, missing MSBs, magnitude planes,
// pass count, flags, number of pass lengths n; then n 16-bit big-endian pass lengths;
// the rest is the coded bytes. Flag bit 0 leaves no room for the fence bytes behind the
// data, so lengths that reach the end must be treated as absent.
#include "codec/coding/rv_context_tables.h"
#include "codec/coding/rv_mq_decoder.h"
#include "codec/coding/rvd_block_decoder.h"
#include "codec/core/rvd_message.h"
#include "codec/core/rvd_processor.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

struct fuzz_error {};

class throwing_sink : public rvd_message {
public:
    void flush(bool end) override
    {
        if (end)
            throw fuzz_error();
    }
};

class silent_sink : public rvd_message {};

bool prepared()
{
    static throwing_sink errors;
    static silent_sink warnings;
    rv_init_processor_words();
    rv_init_mq_tables();
    rv_init_context_tables();
    rvd_customize_errors(&errors);
    rvd_customize_warnings(&warnings);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool ready = prepared();
    (void)ready;
    if (size < 10)
        return 0;
    int width, height;
    switch (data[0] % 3) {
    case 0:
        width = 1 + data[1] % 64;
        height = 1 + data[2] % 64;
        break;
    case 1:
        width = 1024;
        height = 1 + data[2] % 4;
        break;
    default:
        width = 1 + data[1] % 4;
        height = 1024;
        break;
    }
    int modes = data[3] & 0x3F;
    int orientation = data[4] & 3;
    int missing_msbs = static_cast<int>(data[5] % 40) - 2;
    int magnitude_planes = data[6] % 40;
    int num_passes = data[7];
    bool no_fence_room = (data[8] & 1) != 0;
    size_t n = data[9];
    size_t pos = 10;
    if (pos + 2 * n > size)
        n = (size - pos) / 2;
    rvd_block blocks[3];
    int bytes = static_cast<int>(size - pos - 2 * n);
    for (rvd_block& block : blocks) {
        block.set_max_passes(static_cast<int>(std::max<size_t>(n, 1)));
        for (size_t i = 0; i < n; i++)
            block.pass_lengths[i] = (data[pos + 2 * i] << 8) | data[pos + 2 * i + 1];
        block.set_max_bytes(no_fence_room ? std::max(bytes, 1) : bytes + 2);
        if (bytes > 0)
            std::memcpy(block.byte_buffer, data + pos + 2 * n, static_cast<size_t>(bytes));
        block.size = rvd_coords(height, width);
        block.modes = modes;
        block.orientation = orientation;
        block.missing_msbs = missing_msbs;
        block.magnitude_planes = magnitude_planes;
    }

    // The processor words choose the passes when a decoder is made: level 0 forces the
    // portable ones.
    rvd_block_decoder hand;
    int level = rvd_mmx_level;
    rvd_mmx_level = 0;
    rvd_block_decoder portable;
    rvd_mmx_level = level;
    rvd_block_decoder* decoders[3] = {&hand, &portable, &hand};
    const bool lzcnt = rvd_lzcnt_shlx_exists;
    const int forms = lzcnt ? 3 : 2;
    for (int mode = 0; mode < 3; mode++) {
        bool failed[3] = {false, false, false};
        for (int k = 0; k < forms; k++) {
            rvd_block& block = blocks[k];
            rvd_lzcnt_shlx_exists = lzcnt && k < 2;
            block.num_passes = num_passes;
            block.resilient = mode == 1;
            block.fussy = mode == 2;
            try {
                decoders[k]->decode(&block);
            } catch (const fuzz_error&) {
                failed[k] = true;
            }
            // Decoding only ever lowers the pass count.
            if (block.num_passes > num_passes)
                __builtin_trap();
        }
        rvd_lzcnt_shlx_exists = lzcnt;
        for (int k = 1; k < forms; k++) {
            if (failed[0] != failed[k] || blocks[0].num_passes != blocks[k].num_passes)
                __builtin_trap();
            if (!failed[0] && width * height <= 4096) {
                size_t words = static_cast<size_t>(4 * ((height + 3) / 4) * width);
                if (std::memcmp(blocks[0].sample_buffer, blocks[k].sample_buffer, words * sizeof(int32_t)) != 0)
                    __builtin_trap();
            }
        }
    }
    return 0;
}
