// Packet reading on fuzzed data: tile-parts behind a fixed valid main header, or whole
// fuzzed codestreams, read from memory or sequentially in fast, resilient or fussy mode;
// every code-block of every tile is opened, decoded and closed.
// Input: a flags byte (bits 0-1 mode: fast, resilient, resilient expecting SOP
// everywhere, fussy; bit 2 sequential source; bit 3 whole codestream; bit 4 persistent),
// a coding byte for the fixed header (order = (value & 7) % 5; 0x08 SOP, 0x10 EPH, 0x20 two
// layers, 0x40 bypass and restart), then the tile-parts or the codestream.
#include "codec/core/rvd_block.h"
#include "codec/coding/rvd_block_decoder.h"
#include "codec/coding/rv_context_tables.h"
#include "codec/coding/rv_mq_decoder.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_compressed_source.h"
#include "codec/core/rvd_message.h"
#include "codec/core/rvd_subband.h"
#include "codec/core/rvd_tile.h"
#include "fuzz/fuzz_support.h"

#include <vector>

namespace {

// Two components (the second sub-sampled by 2 across), 32x24, one tile, two DWT levels,
// 8x8 blocks, reversible, no colour transform.
std::vector<uint8_t> main_header(int coding)
{
    std::vector<uint8_t> v = {0xFF, 0x4F, 0xFF, 0x51};
    put16(v, 38 + 2 * 3);
    put16(v, 0);
    put32(v, 32), put32(v, 24), put32(v, 0), put32(v, 0);
    put32(v, 32), put32(v, 24), put32(v, 0), put32(v, 0);
    put16(v, 2);
    for (int c = 0; c < 2; c++) {
        v.push_back(7);
        v.push_back(uint8_t(c + 1));
        v.push_back(1);
    }
    put16(v, 0xFF52);
    put16(v, 12);
    v.push_back(uint8_t(((coding & 0x08) ? 2 : 0) | ((coding & 0x10) ? 4 : 0)));
    v.push_back(uint8_t((coding & 7) % 5));
    put16(v, (coding & 0x20) ? 2 : 1);
    v.push_back(0);
    v.push_back(2);                                // levels
    v.push_back(1), v.push_back(1);                // 8x8 blocks
    v.push_back((coding & 0x40) ? 0x05 : 0);       // bypass, restart
    v.push_back(1);                                // 5/3
    put16(v, 0xFF5C);
    put16(v, 3 + 7);
    v.push_back(0x40);
    for (int b = 0; b < 7; b++)
        v.push_back(uint8_t((8 + (b > 0) + (b > 0 && b % 3 == 0)) << 3));
    return v;
}

void read_tile(rvd_tile t, rvd_block_decoder& dec)
{
    for (int c = 0; c < t.get_num_components(); c++) {
        rvd_tile_comp tc = t.access_component(c);
        if (!tc)
            continue;
        for (int r = 0; r < tc.get_num_resolutions(); r++) {
            rvd_resolution res = tc.access_resolution(r);
            int min_b = 0;
            const int nb = res.get_valid_band_indices(min_b);
            for (int b = min_b; b < min_b + nb; b++) {
                rvd_subband band = res.access_subband(b);
                rvd_dims blocks;
                band.get_valid_blocks(blocks);
                for (int y = blocks.pos.y; y < blocks.pos.y + blocks.size.y; y++)
                    for (int x = blocks.pos.x; x < blocks.pos.x + blocks.size.x; x++) {
                        rvd_block* blk = band.open_block(rvd_coords(y, x));
                        try {
                            dec.decode(blk);
                        } catch (...) {
                            band.close_block(blk);
                            throw;
                        }
                        band.close_block(blk);
                    }
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    install_quiet_sinks();
    static bool tables = [] {
        rv_init_mq_tables();
        rv_init_context_tables();
        return true;
    }();
    (void)tables;
    if (size < 2)
        return 0;
    const int flags = data[0], coding = data[1];
    std::vector<uint8_t> stream;
    if (flags & 8) {
        stream.assign(data + 2, data + size);
    } else {
        stream = main_header(coding);
        stream.insert(stream.end(), data + 2, data + size);
    }
    fuzz_memory_source src(stream.data(), stream.size(), (flags & 4) != 0);
    rvd_codestream cs;
    try {
        cs.create(&src);
    } catch (const fuzz_codec_error&) {
        return 0;
    }
    rvd_block_decoder dec;
    try {
        const int mode = flags & 3;
        if (mode == 1)
            cs.set_resilient(false);
        else if (mode == 2)
            cs.set_resilient(true);
        else if (mode == 3)
            cs.set_fussy();
        if (flags & 16)
            cs.set_persistent();
        // Whole fuzzed streams may claim huge canvases; reading them is slow, not wrong.
        int64_t samples = 0;
        for (int c = 0; c < cs.get_num_components(); c++) {
            rvd_dims d;
            cs.get_dims(c, d);
            samples += int64_t(d.size.y) * d.size.x;
        }
        rvd_dims tiles;
        cs.get_valid_tiles(tiles);
        if (samples <= (1 << 20) && int64_t(tiles.size.y) * tiles.size.x <= 64)
            for (int ty = 0; ty < tiles.size.y; ty++)
                for (int tx = 0; tx < tiles.size.x; tx++) {
                    rvd_tile t = cs.open_tile(rvd_coords(tiles.pos.y + ty, tiles.pos.x + tx));
                    try {
                        read_tile(t, dec);
                    } catch (...) {
                        t.close();
                        throw;
                    }
                    t.close();
                }
    } catch (const fuzz_codec_error&) {
    }
    cs.destroy();
    return 0;
}
