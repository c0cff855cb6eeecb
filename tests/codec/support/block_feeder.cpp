#include "tests/codec/support/block_feeder.h"

#include "codec/coding/rvd_block.h"
#include "codec/core/rvd_resolution.h"
#include "codec/core/rvd_subband.h"
#include "codec/core/rvd_tile.h"
#include "codec/core/rvd_tile_comp.h"
#include "codec/encode/rvd_block_encoder.h"
#include "tests/codec/support/databin_blocks.h"
#include "tests/codec/support/reference_dwt.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace codec_test {

namespace {

// Quantised sign-magnitude words of a block, missing MSBs and coding passes as the
// block encoder expects them.
void quantise(rvd_block* blk, const std::vector<int32_t>& values)
{
    const int K = blk->magnitude_planes;
    uint32_t any = 0;
    if (blk->max_samples < int(values.size()))
        blk->set_max_samples(int(values.size()));
    for (size_t k = 0; k < values.size(); k++) {
        const int32_t v = values[k];
        const uint32_t mag = uint32_t(v < 0 ? -int64_t(v) : v) << (31 - K);
        any |= mag;
        blk->sample_buffer[k] = int32_t(mag | (v < 0 ? 0x80000000u : 0u));
    }
    const int missing = any == 0 ? K : __builtin_clz(any) - 1;
    blk->missing_msbs = missing;
    blk->num_passes = any == 0 ? 0 : 3 * (K - missing) - 2;
}

// Codes one band from its plane of (reversible, integer) coefficients.
void feed_band(rvd_block_encoder& encoder, rvd_subband band, bool reversible,
               reference_dwt::plane& p)
{
    rvd_dims bd, blocks;
    band.get_dims(bd);
    if (bd != p.dims && !(bd.is_empty() && p.dims.is_empty()))
        throw std::runtime_error("block feeder: band and analysis disagree");
    band.get_valid_blocks(blocks);
    rvd_coords nominal, first;
    band.get_block_size(nominal, first);
    for (int by = 0; by < blocks.size.y; by++)
        for (int bx = 0; bx < blocks.size.x; bx++) {
            const rvd_coords idx(blocks.pos.y + by, blocks.pos.x + bx);
            rvd_block* blk = band.open_block(idx);
            const int y0 = std::max(bd.pos.y, idx.y * nominal.y);
            const int x0 = std::max(bd.pos.x, idx.x * nominal.x);
            std::vector<int32_t> values;
            for (int y = y0; y < y0 + blk->size.y; y++)
                for (int x = x0; x < x0 + blk->size.x; x++)
                    values.push_back(int32_t(std::lround(p.at(y, x))));
            quantise(blk, values);
            encoder.encode(blk, reversible, band.get_msb_wmse(),
                           uint16_t(band.get_conservative_slope_threshold()));
            band.close_block(blk);
        }
}

} // namespace

void feed_blocks(rvd_codestream& cs, const std::vector<std::vector<int32_t>>& samples,
                 bool reverse_tiles)
{
    init_block_coding_tables();
    rvd_block_encoder encoder;
    rvd_dims tiles;
    cs.get_valid_tiles(tiles);
    const int comps = cs.get_num_components();
    std::vector<rvd_dims> comp_dims(static_cast<size_t>(comps));
    for (int c = 0; c < comps; c++)
        cs.get_dims(c, comp_dims[size_t(c)]);
    const int num = tiles.size.y * tiles.size.x;
    for (int k = 0; k < num; k++) {
        {
            const int n = reverse_tiles ? num - 1 - k : k;
            const int ty = n / tiles.size.x, tx = n % tiles.size.x;
            rvd_tile tile = cs.open_tile(rvd_coords(tiles.pos.y + ty, tiles.pos.x + tx));
            // Level-shifted tile-component samples; the reversible colour transform on
            // the first three when the tile uses it.
            std::vector<reference_dwt::plane> planes;
            for (int c = 0; c < comps; c++) {
                rvd_tile_comp tc = tile.access_component(c);
                if (!tc.get_reversible())
                    throw std::runtime_error("block feeder: reversible tiles only");
                const int32_t shift =
                    cs.get_signed(c) ? 0 : int32_t(1) << (cs.get_bit_depth(c) - 1);
                rvd_dims td;
                tc.get_dims(td);
                const rvd_dims& cd = comp_dims[size_t(c)];
                reference_dwt::plane p(td);
                for (int y = td.pos.y; y < td.pos.y + td.size.y; y++)
                    for (int x = td.pos.x; x < td.pos.x + td.size.x; x++)
                        p.at(y, x) = samples[size_t(c)][size_t(y - cd.pos.y) * size_t(cd.size.x) +
                                                        size_t(x - cd.pos.x)] -
                                     shift;
                planes.push_back(p);
            }
            if (tile.get_ycc())
                for (size_t k = 0; k < planes[0].v.size(); k++) {
                    const double r = planes[0].v[k], g = planes[1].v[k], b = planes[2].v[k];
                    planes[0].v[k] = std::floor((r + 2 * g + b) / 4.0);
                    planes[1].v[k] = b - g;
                    planes[2].v[k] = r - g;
                }
            for (int c = 0; c < comps; c++) {
                rvd_tile_comp tc = tile.access_component(c);
                reference_dwt::plane ll = planes[size_t(c)];
                for (int r = tc.get_num_resolutions() - 1; r >= 1; r--) {
                    reference_dwt::bands bs = reference_dwt::analyse2d(ll, true, true, true, false);
                    rvd_resolution res = tc.access_resolution(r);
                    for (int b = 1; b <= 3; b++)
                        feed_band(encoder, res.access_subband(b), true, bs.b[b]);
                    ll = bs.b[0];
                }
                feed_band(encoder, tc.access_resolution(0).access_subband(0), true, ll);
            }
            tile.close();
        }
    }
}

} // namespace codec_test
