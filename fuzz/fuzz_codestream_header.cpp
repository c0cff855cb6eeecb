// Arbitrary bytes as a memory-resident codestream: create, restrict the view with
// fuzzer-chosen arguments, ask every geometry question, open a tile, destroy.
// Input: six argument bytes, then the codestream bytes.
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_compressed_source.h"
#include "codec/core/rvd_message.h"
#include "fuzz/fuzz_support.h"

#include <algorithm>

namespace {

void query_everything(rvd_codestream& cs)
{
    rvd_dims d, tiles;
    cs.get_dims(-1, d);
    cs.get_valid_tiles(tiles);
    cs.get_tile_partition(d);
    const int n = cs.get_num_components(false) + 1;
    for (int c = -1; c < n; c++) {
        rvd_coords sub, crg, t;
        cs.get_dims(c, d);
        cs.get_subsampling(c, sub);
        cs.get_registration(c, rvd_coords(3, 5), crg);
        cs.map_region(c, d, d);
        cs.get_bit_depth(c, true);
        cs.get_signed(c, true);
        cs.find_tile(c, rvd_coords(d.pos.y + d.size.y / 2, d.pos.x + d.size.x / 2), t);
        // A bounded sample of tiles: hostile tile counts reach 65535.
        for (int k = 0; k < 4 && k < tiles.size.y * tiles.size.x; k++)
            cs.get_tile_dims(rvd_coords(tiles.pos.y + k % std::max(1, tiles.size.y),
                                        tiles.pos.x + k % std::max(1, tiles.size.x)),
                             c, d);
    }
    cs.get_min_dwt_levels();
    cs.get_max_tile_layers();
    cs.can_flip(false);
    cs.get_total_bytes();
    for (auto com = cs.get_comment(rvd_codestream_comment()); com.exists();
         com = cs.get_comment(com))
        com.get_text();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    install_quiet_sinks();
    if (size < 6)
        return 0;
    const int discard = int(data[0] % 43) - 2; // -2..40, outside the legal range included
    const int first = int(data[1] & 0x0F) - 1;
    const int max_comps = data[2] & 0x07;
    const int flags = data[3];
    const int roi_a = data[4], roi_b = data[5];
    fuzz_memory_source src(data + 6, size - 6);
    rvd_codestream cs;
    try {
        cs.create(&src);
    } catch (const fuzz_codec_error&) {
        return 0; // refused; nothing is left to destroy
    }
    try {
        if (flags & 1)
            cs.set_persistent();
        const rvd_dims roi(rvd_coords(roi_a * 3, roi_b * 5), rvd_coords(roi_b * 7 + 1, roi_a * 11 + 1));
        const int list[3] = {first, first + 1, 0};
        if (flags & 2)
            cs.apply_input_restrictions(3, list, discard, flags >> 4, (flags & 4) ? &roi : nullptr,
                                        (flags & 8) ? RVD_WANT_CODESTREAM_COMPONENTS
                                                    : RVD_WANT_OUTPUT_COMPONENTS);
        else
            cs.apply_input_restrictions(first, max_comps, discard, flags >> 4,
                                        (flags & 4) ? &roi : nullptr,
                                        (flags & 8) ? RVD_WANT_CODESTREAM_COMPONENTS
                                                    : RVD_WANT_OUTPUT_COMPONENTS);
        cs.change_appearance((flags & 16) != 0, (flags & 32) != 0, (flags & 64) != 0);
    } catch (const fuzz_codec_error&) {
    }
    query_everything(cs);
    try {
        rvd_dims tiles;
        cs.get_valid_tiles(tiles);
        if (!tiles.is_empty()) {
            rvd_tile t = cs.open_tile(tiles.pos);
            t.close();
            cs.set_tile_unloading_threshold(flags & 0x80 ? 0 : 5);
        }
    } catch (const fuzz_codec_error&) {
    }
    cs.destroy();
    return 0;
}
