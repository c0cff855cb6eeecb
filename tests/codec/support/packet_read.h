// Whole-stream block access for packet-reading tests: every block of every tile opened
// through the tile tree, decoded, and handed to a visitor; and the single-level check
// that rebuilds component planes from LL blocks.
#pragma once

#include "codec/core/rvd_block.h"
#include "codec/coding/rvd_block_decoder.h"
#include "codec/coding/rv_context_tables.h"
#include "codec/coding/rv_mq_decoder.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_resolution.h"
#include "codec/core/rvd_subband.h"
#include "codec/core/rvd_tile.h"
#include "tests/codec/support/block_extract.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace packet_test {

// What a visitor sees of one opened block.
struct block_view {
    int tile = 0, comp = 0, res = 0, band = 0;
    rvd_coords idx;     // apparent block index
    rvd_coords pos;     // apparent position of the block's cell in the band
    int kmax = 0;
    rvd_block* block = nullptr;
};

// The cell position of block b of a band, from the handle geometry.
inline rvd_coords block_position(rvd_subband band, rvd_coords b)
{
    rvd_dims dims, valid;
    band.get_dims(dims);
    band.get_valid_blocks(valid);
    rvd_coords nominal, first;
    band.get_block_size(nominal, first);
    rvd_coords p;
    p.y = b.y == valid.pos.y ? dims.pos.y
                             : dims.pos.y + first.y + (b.y - valid.pos.y - 1) * nominal.y;
    p.x = b.x == valid.pos.x ? dims.pos.x
                             : dims.pos.x + first.x + (b.x - valid.pos.x - 1) * nominal.x;
    return p;
}

// Opens every tile, and in it every valid block of every band, decoding blocks with
// passes when `decode` is set. The visitor runs between open_block and close_block.
inline void visit_blocks(rvd_codestream& cs, bool decode,
                         const std::function<void(const block_view&)>& visit,
                         const std::function<void(rvd_tile)>& tile_done = nullptr)
{
    if (decode) {
        // Start-up tables, as module start-up builds them.
        rv_init_mq_tables();
        rv_init_context_tables();
    }
    rvd_block_decoder decoder;
    rvd_dims tiles;
    cs.get_valid_tiles(tiles);
    for (int ty = tiles.pos.y; ty < tiles.pos.y + tiles.size.y; ty++)
        for (int tx = tiles.pos.x; tx < tiles.pos.x + tiles.size.x; tx++) {
            rvd_tile t = cs.open_tile(rvd_coords(ty, tx));
            for (int c = 0; c < t.get_num_components(); c++) {
                rvd_tile_comp tc = t.access_component(c);
                for (int r = 0; r < tc.get_num_resolutions(); r++) {
                    rvd_resolution res = tc.access_resolution(r);
                    int min_band = 0;
                    const int nb = res.get_valid_band_indices(min_band);
                    for (int b = min_band; b < min_band + nb; b++) {
                        rvd_subband band = res.access_subband(b);
                        rvd_dims valid;
                        band.get_valid_blocks(valid);
                        for (int y = valid.pos.y; y < valid.pos.y + valid.size.y; y++)
                            for (int x = valid.pos.x; x < valid.pos.x + valid.size.x; x++) {
                                block_view v;
                                v.tile = t.get_tnum();
                                v.comp = c;
                                v.res = r;
                                v.band = b;
                                v.idx = rvd_coords(y, x);
                                v.pos = block_position(band, v.idx);
                                v.kmax = band.get_K_max();
                                v.block = band.open_block(v.idx);
                                if (decode && v.block->num_passes > 0)
                                    decoder.decode(v.block);
                                visit(v);
                                band.close_block(v.block);
                            }
                    }
                }
            }
            if (tile_done)
                tile_done(t);
            t.close();
        }
}

// Per block: passes, pass lengths and the coded bytes, as a comparable record.
struct block_data {
    int tile, comp, res, band, y, x, missing_msbs, num_passes;
    std::vector<int32_t> lengths;
    std::vector<uint8_t> bytes;
    bool operator==(const block_data& o) const
    {
        return tile == o.tile && comp == o.comp && res == o.res && band == o.band && y == o.y &&
               x == o.x && missing_msbs == o.missing_msbs && num_passes == o.num_passes &&
               lengths == o.lengths && bytes == o.bytes;
    }
};

inline std::vector<block_data> collect_blocks(rvd_codestream& cs,
                                              const std::function<void(rvd_tile)>& tile_done = nullptr)
{
    std::vector<block_data> out;
    visit_blocks(cs, false, [&](const block_view& v) {
        block_data d{v.tile, v.comp, v.res, v.band, v.idx.y, v.idx.x,
                     v.block->missing_msbs, v.block->num_passes, {}, {}};
        int total = 0;
        for (int p = 0; p < v.block->num_passes; p++) {
            d.lengths.push_back(v.block->pass_lengths[p]);
            total += v.block->pass_lengths[p];
        }
        d.bytes.assign(v.block->byte_buffer, v.block->byte_buffer + total);
        out.push_back(std::move(d));
    }, tile_done);
    return out;
}

// Component planes rebuilt from the LL blocks of a codestream without wavelet levels:
// sign x (magnitude >> (31 - K_max)) plus the level shift. Indexed [comp][row][col] over
// each component's region (cs.get_dims).
inline std::vector<std::vector<int>> rebuild_planes(rvd_codestream& cs)
{
    const int nc = cs.get_num_components();
    std::vector<std::vector<int>> planes(static_cast<size_t>(nc));
    std::vector<rvd_dims> dims(static_cast<size_t>(nc));
    for (int c = 0; c < nc; c++) {
        cs.get_dims(c, dims[size_t(c)]);
        planes[size_t(c)].assign(size_t(dims[size_t(c)].size.y) * size_t(dims[size_t(c)].size.x),
                                 -1000000);
    }
    visit_blocks(cs, true, [&](const block_view& v) {
        const rvd_dims& d = dims[size_t(v.comp)];
        const int shift = cs.get_signed(v.comp) ? 0 : 1 << (cs.get_bit_depth(v.comp) - 1);
        rvd_block* b = v.block;
        for (int y = 0; y < b->size.y; y++)
            for (int x = 0; x < b->size.x; x++) {
                const int value = b->num_passes == 0
                                      ? 0
                                      : block_test::word_value(b->sample_buffer[y * b->size.x + x],
                                                               v.kmax);
                const int py = v.pos.y + y - d.pos.y, px = v.pos.x + x - d.pos.x;
                if (py >= 0 && px >= 0 && py < d.size.y && px < d.size.x)
                    planes[size_t(v.comp)][size_t(py) * size_t(d.size.x) + size_t(px)] =
                        value + shift;
            }
    });
    return planes;
}

// Planar raw samples (one or two bytes, big-endian) cut into the component regions.
inline std::vector<std::vector<int>> raw_planes(const std::vector<uint8_t>& raw,
                                               rvd_codestream& cs)
{
    std::vector<std::vector<int>> planes;
    size_t at = 0;
    for (int c = 0; c < cs.get_num_components(); c++) {
        rvd_dims d;
        cs.get_dims(c, d);
        const int depth = cs.get_bit_depth(c);
        const bool sgn = cs.get_signed(c);
        const size_t n = size_t(d.size.y) * size_t(d.size.x);
        std::vector<int> p(n);
        for (size_t i = 0; i < n; i++) {
            int v;
            if (depth <= 8) {
                v = raw.at(at++);
                if (sgn && v >= 128)
                    v -= 256;
            } else {
                v = (raw.at(at) << 8) | raw.at(at + 1);
                at += 2;
                if (sgn && v >= 32768)
                    v -= 65536;
            }
            p[i] = v;
        }
        planes.push_back(std::move(p));
    }
    return planes;
}

} // namespace packet_test
