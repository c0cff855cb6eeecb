// Copies an input codestream's code-blocks unchanged into an output codestream with the
// same parameters, then writes it with trans_out: the layers re-emitted under a budget.
// The copying itself is inline so that the transcoding fuzz target shares it.
#pragma once

#include "codec/core/rvd_block.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_compressed_target.h"
#include "codec/core/rvd_resolution.h"
#include "codec/core/rvd_subband.h"
#include "codec/core/rvd_tile.h"
#include "codec/core/rvd_tile_comp.h"
#include "codec/core/siz_params.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace codec_test {

struct transcode_result {
    int layers = 0;                  // layers written
    std::vector<int64_t> layer_bytes; // cumulative, one per input layer
};

// `budget` 0: no limit.
transcode_result transcode(const std::vector<uint8_t>& input, rvd_compressed_target* target,
                           int64_t budget);

// Passes, lengths, slopes and bytes of one block, all layers.
inline void copy_block(const rvd_block* src, rvd_block* dst)
{
    int bytes = 0;
    for (int z = 0; z < src->num_passes; z++)
        bytes += src->pass_lengths[z];
    dst->set_max_passes(src->num_passes + 1, false);
    dst->set_max_bytes(bytes + 1, false);
    dst->missing_msbs = src->missing_msbs;
    dst->num_passes = src->num_passes;
    std::copy(src->pass_lengths, src->pass_lengths + src->num_passes, dst->pass_lengths);
    std::copy(src->pass_slopes, src->pass_slopes + src->num_passes, dst->pass_slopes);
    if (bytes > 0)
        std::memcpy(dst->byte_buffer, src->byte_buffer, size_t(bytes));
}

// Every block of the tile copied into the output tile's block; components missing on
// either side are passed over.
inline void copy_tile(rvd_tile in_tile, rvd_tile out_tile)
{
    for (int c = 0; c < in_tile.get_num_components(); c++) {
        rvd_tile_comp ic = in_tile.access_component(c);
        rvd_tile_comp oc = out_tile.access_component(c);
        if (!ic.exists() || !oc.exists())
            continue;
        for (int r = 0; r < ic.get_num_resolutions(); r++) {
            rvd_resolution ir = ic.access_resolution(r);
            rvd_resolution orr = oc.access_resolution(r);
            int min_b = 0;
            const int nb = ir.get_valid_band_indices(min_b);
            for (int b = min_b; b < min_b + nb; b++) {
                rvd_subband ib = ir.access_subband(b);
                rvd_subband ob = orr.access_subband(b);
                rvd_dims blocks;
                ib.get_valid_blocks(blocks);
                for (int y = 0; y < blocks.size.y; y++)
                    for (int x = 0; x < blocks.size.x; x++) {
                        const rvd_coords idx(blocks.pos.y + y, blocks.pos.x + x);
                        rvd_block* src = ib.open_block(idx);
                        rvd_block* dst = ob.open_block(idx);
                        copy_block(src, dst);
                        ib.close_block(src);
                        ob.close_block(dst);
                    }
            }
        }
    }
}

// The transcoding of an open, persistent input: creates `out` on `target` with the input's
// parameters, copies every tile and writes it with trans_out under `budget` (0: none).
// `layer_bytes` receives the cumulative sizes, one per input layer; returns the layers
// written.
inline int transcode_open(rvd_codestream& in, rvd_codestream& out, rvd_compressed_target* target,
                          int64_t budget, std::vector<int64_t>& layer_bytes)
{
    // Tile headers are read when tiles are first opened: all of them before the
    // parameters are copied.
    rvd_dims tiles;
    in.get_valid_tiles(tiles);
    for (int ty = 0; ty < tiles.size.y; ty++)
        for (int tx = 0; tx < tiles.size.x; tx++)
            in.open_tile(rvd_coords(tiles.pos.y + ty, tiles.pos.x + tx)).close();
    out.create(in.access_siz(), target, nullptr);
    out.access_siz()->finalize_all();
    int layers = 1;
    for (int ty = 0; ty < tiles.size.y; ty++)
        for (int tx = 0; tx < tiles.size.x; tx++) {
            const rvd_coords idx(tiles.pos.y + ty, tiles.pos.x + tx);
            rvd_tile it = in.open_tile(idx);
            rvd_tile ot = out.open_tile(idx);
            layers = std::max(layers, it.get_num_layers());
            copy_tile(it, ot);
            it.close();
            ot.close();
        }
    layer_bytes.assign(size_t(layers), 0);
    return out.trans_out(budget, layer_bytes.data(), layers);
}

} // namespace codec_test
