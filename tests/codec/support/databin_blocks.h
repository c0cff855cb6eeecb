// Whole-stream block access for packet-reading tests: every code-block of every tile,
// component, resolution and band opened through the tile-tree handles, optionally
// decoded, and recorded as plain data (passes, lengths, bytes) so that streams read
// through different sources or rewritten on the test side can be compared block by block.
#pragma once

#include "codec/core/rvd_block.h"
#include "codec/coding/rvd_block_decoder.h"
#include "codec/coding/rv_context_tables.h"
#include "codec/coding/rv_mq_decoder.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_subband.h"
#include "codec/core/rvd_tile.h"
#include "codec/encode/rv_distortion_tables.h"

#include <cstdint>
#include <ostream>
#include <vector>

namespace codec_test {

// Where a block lies: tile, component, resolution, band, block index, and its region in
// the band's coordinates.
struct block_place {
    int tile = 0, comp = 0, res = 0, band = 0;
    rvd_coords idx;
    rvd_dims cell;
};

struct block_data {
    block_place at;
    int missing_msbs = 0, num_passes = 0;
    std::vector<int32_t> lengths;
    std::vector<uint8_t> bytes;
    bool operator==(const block_data& o) const
    {
        return at.tile == o.at.tile && at.comp == o.at.comp && at.res == o.at.res &&
               at.band == o.at.band && at.idx == o.at.idx && missing_msbs == o.missing_msbs &&
               num_passes == o.num_passes && lengths == o.lengths && bytes == o.bytes;
    }
    bool operator!=(const block_data& o) const { return !(*this == o); }
};

inline std::ostream& operator<<(std::ostream& s, const block_data& b)
{
    return s << "block t" << b.at.tile << " c" << b.at.comp << " r" << b.at.res << " b"
             << b.at.band << " (" << b.at.idx.y << "," << b.at.idx.x << ") msbs "
             << b.missing_msbs << " passes " << b.num_passes << " bytes " << b.bytes.size();
}

// The block coders' tables, which module start-up builds in the viewer.
inline void init_block_coding_tables()
{
    static const bool done = [] {
        rv_init_mq_tables();
        rv_init_context_tables();
        rv_init_significance_distortion_luts();
        rv_init_refinement_distortion_luts();
        return true;
    }();
    (void)done;
}

inline block_data record_block(const block_place& at, const rvd_block* blk)
{
    block_data d;
    d.at = at;
    d.missing_msbs = blk->missing_msbs;
    d.num_passes = blk->num_passes;
    int64_t total = 0;
    for (int p = 0; p < blk->num_passes; p++) {
        d.lengths.push_back(blk->pass_lengths[p]);
        total += blk->pass_lengths[p];
    }
    d.bytes.assign(blk->byte_buffer, blk->byte_buffer + total);
    return d;
}

// Block region: the first valid block is clipped to the band's start; later ones follow at
// the nominal size, clipped to the band's end.
inline rvd_dims block_cell(const rvd_subband& sb, rvd_coords idx)
{
    rvd_dims band, valid;
    rvd_coords nominal, first;
    sb.get_dims(band);
    sb.get_valid_blocks(valid);
    sb.get_block_size(nominal, first);
    auto axis = [](int32_t pos, int32_t size, int32_t i0, int32_t i, int32_t nom, int32_t f,
                   int32_t& p, int32_t& s) {
        p = i == i0 ? pos : pos + f + (i - i0 - 1) * nom;
        s = i == i0 ? f : nom;
        if (p + s > pos + size)
            s = pos + size - p;
    };
    rvd_dims cell;
    axis(band.pos.y, band.size.y, valid.pos.y, idx.y, nominal.y, first.y, cell.pos.y, cell.size.y);
    axis(band.pos.x, band.size.x, valid.pos.x, idx.x, nominal.x, first.x, cell.pos.x, cell.size.x);
    return cell;
}

// Calls f(place, subband, rvd_block*) for every block of an open tile; each block is opened
// before and closed after the call.
template <class F>
void visit_tile_blocks(rvd_tile tile, F&& f)
{
    for (int c = 0; c < tile.get_num_components(); c++) {
        rvd_tile_comp tc = tile.access_component(c);
        if (!tc.exists())
            continue;
        for (int r = 0; r < tc.get_num_resolutions(); r++) {
            rvd_resolution res = tc.access_resolution(r);
            int min_band = 0;
            const int bands = res.get_valid_band_indices(min_band);
            for (int b = min_band; b < min_band + bands; b++) {
                rvd_subband sb = res.access_subband(b);
                rvd_dims valid;
                sb.get_valid_blocks(valid);
                for (int y = valid.pos.y; y < valid.pos.y + valid.size.y; y++)
                    for (int x = valid.pos.x; x < valid.pos.x + valid.size.x; x++) {
                        block_place at;
                        at.tile = tile.get_tnum();
                        at.comp = c;
                        at.res = r;
                        at.band = b;
                        at.idx = rvd_coords(y, x);
                        at.cell = block_cell(sb, at.idx);
                        rvd_block* blk = sb.open_block(at.idx);
                        f(at, sb, blk);
                        sb.close_block(blk);
                    }
            }
        }
    }
}

// Opens every valid tile in raster order, visits its blocks and closes it.
template <class F>
void visit_blocks(rvd_codestream& cs, F&& f)
{
    rvd_dims tiles;
    cs.get_valid_tiles(tiles);
    for (int ty = tiles.pos.y; ty < tiles.pos.y + tiles.size.y; ty++)
        for (int tx = tiles.pos.x; tx < tiles.pos.x + tiles.size.x; tx++) {
            rvd_tile t = cs.open_tile(rvd_coords(ty, tx));
            visit_tile_blocks(t, f);
            t.close();
        }
}

// Every block's data, in visiting order.
inline std::vector<block_data> all_block_data(rvd_codestream& cs)
{
    std::vector<block_data> out;
    visit_blocks(cs, [&](const block_place& at, const rvd_subband&, rvd_block* blk) {
        out.push_back(record_block(at, blk));
    });
    return out;
}

// Every block decoded: sample words of the cell, row by row, as the decoder left them.
inline std::vector<std::vector<int32_t>> all_block_samples(rvd_codestream& cs,
                                                           std::vector<block_place>* places = nullptr)
{
    init_block_coding_tables();
    rvd_block_decoder dec;
    std::vector<std::vector<int32_t>> out;
    visit_blocks(cs, [&](const block_place& at, const rvd_subband&, rvd_block* blk) {
        dec.decode(blk);
        std::vector<int32_t> v;
        for (int y = 0; y < blk->size.y; y++)
            v.insert(v.end(), blk->sample_buffer + y * blk->size.x,
                     blk->sample_buffer + (y + 1) * blk->size.x);
        out.push_back(std::move(v));
        if (places != nullptr)
            places->push_back(at);
    });
    return out;
}

} // namespace codec_test
