// Streams with Part-2 decompositions: DFS and ADS segments written from an intended
// structure, for the tile-tree tests.
#pragma once

#include "tests/codec/support/codestream_bytes.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace codec_test {

// ---------------------------------------------------------------------------------------
// The intended structure, level by level from the highest: a primary split and, per
// primary detail band, a sub-split with one code per child. Codes: 0 none, 1 H, 2 V, 3 B.

struct decomp_group {
    int split = 0;
    std::vector<int> children; // one per child of `split`, in child order
};
struct decomp_level {
    int primary = 3;
    std::vector<decomp_group> groups; // one per primary detail band
};

inline int decomp_children(int split) { return split == 3 ? 4 : (split == 0 ? 1 : 2); }

// Segment codes of the split lists: X 0, B 1, H 2, V 3.
inline int decomp_seg_code(int split)
{
    static const int codes[4] = {0, 2, 3, 1};
    return codes[split];
}

inline std::vector<uint8_t> decomp_pack2(const std::vector<int>& v)
{
    std::vector<uint8_t> out((v.size() + 3) / 4, 0);
    for (size_t i = 0; i < v.size(); i++)
        out[i / 4] |= uint8_t(v[i] << (6 - 2 * (i % 4)));
    return out;
}

inline std::vector<uint8_t> dfs_segment(const std::vector<decomp_level>& levels)
{
    std::vector<int> codes;
    for (const decomp_level& l : levels)
        codes.push_back(decomp_seg_code(l.primary));
    std::vector<uint8_t> b = {0, 1, uint8_t(codes.size())};
    for (uint8_t x : decomp_pack2(codes))
        b.push_back(x);
    return segment(0xFF72, b);
}

// ADS: per level the sub-level count, then the splits of the detail bands from the last
// to the first, each followed (count 3) by its children's splits from the last child.
inline std::vector<uint8_t> ads_segment(const std::vector<decomp_level>& levels)
{
    std::vector<int> counts, splits;
    for (const decomp_level& l : levels) {
        int count = 1;
        for (const decomp_group& g : l.groups) {
            if (g.split != 0)
                count = std::max(count, 2);
            for (int c : g.children)
                if (c != 0)
                    count = 3;
        }
        counts.push_back(count);
        if (count == 1)
            continue;
        for (size_t k = l.groups.size(); k-- > 0;) {
            const decomp_group& g = l.groups[k];
            splits.push_back(decomp_seg_code(g.split));
            if (count == 3 && g.split != 0)
                for (size_t j = size_t(decomp_children(g.split)); j-- > 0;)
                    splits.push_back(decomp_seg_code(j < g.children.size() ? g.children[j] : 0));
        }
    }
    std::vector<uint8_t> b = {1, uint8_t(counts.size())};
    for (uint8_t x : decomp_pack2(counts))
        b.push_back(x);
    b.push_back(uint8_t(splits.size()));
    for (uint8_t x : decomp_pack2(splits))
        b.push_back(x);
    return segment(0xFF73, b);
}

// The structure used below: three levels, primaries B, H, V from the highest.
inline std::vector<decomp_level> decomp_test_levels()
{
    decomp_level l0; // B(H-V:-:BB---)
    l0.primary = 3;
    l0.groups = {{1, {0, 2}}, {0, {}}, {3, {3, 0, 0, 0}}};
    decomp_level l1; // H(V--)
    l1.primary = 1;
    l1.groups = {{2, {0, 0}}};
    decomp_level l2; // V(-)
    l2.primary = 2;
    l2.groups = {{0, {}}};
    return {l0, l1, l2};
}

// Main header: SIZ, COD (3 levels, 5/3, 64x64 blocks; 16x16 precincts above the lowest),
// COC of component 0 naming DFS 1, the DFS, a QCD for the plain structure.
inline std::vector<uint8_t> decomp_main_header(const std::vector<decomp_level>& levels, const siz_geometry& g)
{
    std::vector<uint8_t> cod = {1, 0, 0, 1, 0, 3, 4, 4, 0, 1, 0x55, 0x44, 0x44, 0x44};
    std::vector<uint8_t> coc = {0, 0, 0x81, 4, 4, 0, 1};
    std::vector<uint8_t> qcd = {0x40};
    for (int i = 0; i < 10; i++)
        qcd.push_back(9 << 3);
    return build_stream(g, {segment(0xFF52, cod), segment(0xFF53, coc), dfs_segment(levels),
                            segment(0xFF5C, qcd)},
                        false);
}

// Tile header: COC of component 0 naming ADS 1, the ADS, and a QCC with one range per
// band (each different, to catch a band counted in the wrong order).
inline std::vector<uint8_t> decomp_tile_header(const std::vector<decomp_level>& levels, int num_bands)
{
    std::vector<uint8_t> coc = {0, 1, 0x81, 4, 4, 0, 1, 0x55, 0x44, 0x44, 0x44};
    std::vector<uint8_t> qcc = {0, 0x40};
    for (int i = 0; i < num_bands; i++)
        qcc.push_back(uint8_t((4 + i) << 3));
    std::vector<uint8_t> v;
    for (const auto& s : {segment(0xFF53, coc), ads_segment(levels), segment(0xFF5D, qcc)})
        v.insert(v.end(), s.begin(), s.end());
    return v;
}

} // namespace codec_test
