// A fixed main header (two components, 128x96 in four tiles, 3 levels; component 0 with
// a downsampling style of its own, so that tile headers may bring arbitrary
// decompositions) on a cached source, with fuzzed tile-header bins: open a tile, walk
// every handle, close, re-open.
// Input: one flags byte (persistent, view, which tiles have a bin), then the bin bytes.
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_compressed_source.h"
#include "codec/core/rvd_message.h"
#include "codec/core/rvd_tile.h"
#include "fuzz/fuzz_support.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> main_header()
{
    std::vector<uint8_t> v = {0xFF, 0x4F, 0xFF, 0x51};
    put16(v, 38 + 2 * 3);
    put16(v, 0x8000 | 32); // Part 2, decomposition styles
    put32(v, 128), put32(v, 96), put32(v, 0), put32(v, 0);
    put32(v, 64), put32(v, 48), put32(v, 0), put32(v, 0);
    put16(v, 2);
    for (int c = 0; c < 2; c++) {
        v.push_back(7);
        v.push_back(uint8_t(c + 1));
        v.push_back(1);
    }
    const uint8_t cod[] = {0xFF, 0x52, 0, 12, 0, 0, 0, 1, 0, 3, 4, 4, 0, 1};
    v.insert(v.end(), cod, cod + sizeof(cod));
    // Component 0 follows downsampling style 1: levels split B, H, V from the highest.
    const uint8_t coc[] = {0xFF, 0x53, 0, 9, 0, 0, 0x81, 4, 4, 0, 1};
    v.insert(v.end(), coc, coc + sizeof(coc));
    const uint8_t dfs[] = {0xFF, 0x72, 0, 6, 0, 1, 3, 0x6C};
    v.insert(v.end(), dfs, dfs + sizeof(dfs));
    v.push_back(0xFF), v.push_back(0x5C);
    put16(v, 3 + 10);
    v.push_back(0x20);
    for (int b = 0; b < 10; b++)
        v.push_back(9 << 3);
    return v;
}

// The level's node and everything below it; child 0 of the level's node is the next
// level, walked on its own.
void walk_node(rvd_node node, bool top)
{
    rvd_dims d;
    node.get_dims(d);
    (void)node.get_kernel_id();
    int n = 0;
    (void)node.get_bibo_gains(n, false);
    (void)node.get_bibo_gains(n, true);
    int nodes = 0, bands = 0;
    node.get_num_descendants(nodes, bands);
    rvd_subband band = node.access_subband();
    if (band.exists()) {
        (void)band.get_msb_wmse();
        (void)band.get_band_idx();
        return;
    }
    for (int k = top ? 1 : 0; k < 4; k++) {
        rvd_node child = node.access_child(k);
        if (child.exists())
            walk_node(child, false);
    }
}

void walk(rvd_tile t)
{
    for (int c = 0; c < t.get_num_components(); c++) {
        rvd_tile_comp tc = t.access_component(c);
        if (!tc)
            continue;
        rvd_dims d;
        tc.get_dims(d);
        for (int r = 0; r < tc.get_num_resolutions(); r++) {
            rvd_resolution res = tc.access_resolution(r);
            res.get_dims(d);
            rvd_dims p;
            res.get_valid_precincts(p);
            for (int y = 0; y < std::min(p.size.y, 4); y++)
                for (int x = 0; x < std::min(p.size.x, 4); x++) {
                    const rvd_coords idx(p.pos.y + y, p.pos.x + x);
                    (void)res.get_precinct_id(idx);
                    (void)res.get_precinct_relevance(idx);
                    (void)res.get_precinct_samples(idx);
                }
            int min_b = 0;
            const int nb = res.get_valid_band_indices(min_b);
            for (int b = min_b; b < min_b + nb; b++) {
                rvd_subband band = res.access_subband(b);
                band.get_dims(d);
                band.get_valid_blocks(d);
                rvd_coords nominal, first;
                band.get_block_size(nominal, first);
                (void)band.get_K_max_prime();
                (void)band.get_delta();
            }
            walk_node(res.access_node(), true);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    install_quiet_sinks();
    if (size < 1)
        return 0;
    const int flags = data[0];
    fuzz_cache_source src(4);
    src.header = main_header();
    // Bins split at 0xFF 0x93 pairs; tile t has a bin when flag bit t+4 says so.
    size_t start = 1;
    for (int t = 0; t < 4; t++) {
        size_t end = start;
        while (end + 1 < size && !(data[end] == 0xFF && data[end + 1] == 0x93))
            end++;
        if (end + 1 >= size)
            end = size;
        src.bins[t].assign(data + start, data + end);
        src.present[t] = (flags >> (4 + t)) & 1;
        start = std::min(size, end + 2);
    }
    rvd_codestream cs;
    try {
        cs.create(&src);
    } catch (const fuzz_codec_error&) {
        return 0;
    }
    try {
        if (flags & 1)
            cs.set_persistent();
        cs.change_appearance((flags & 2) != 0, (flags & 4) != 0, (flags & 8) != 0);
    } catch (const fuzz_codec_error&) {
    }
    for (int round = 0; round < 2; round++)
        for (int t = 0; t < 4; t++) {
            try {
                rvd_dims tiles;
                cs.get_valid_tiles(tiles);
                rvd_tile tile = cs.open_tile(
                    rvd_coords(tiles.pos.y + t / 2 % std::max(tiles.size.y, 1),
                               tiles.pos.x + t % 2 % std::max(tiles.size.x, 1)));
                walk(tile);
                tile.close();
            } catch (const fuzz_codec_error&) {
            }
        }
    cs.destroy();
    return 0;
}
