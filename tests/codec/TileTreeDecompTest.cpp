// Tile trees of Part-2 decompositions: DFS and ADS segments written here into a stream,
// then every level's nodes and bands (regions, indices, partners, block ranges,
// quantisation) compared with a computation made here from the intended structure.
#include "codec/core/rv_codestream.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_tile.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/codestream_bytes.h"
#include "tests/codec/support/decomp_streams.h"
#include "tests/codec/support/test_sources.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

using namespace codec_test;

namespace {

// One band as the test sees it: the splits applied after the level's own, in order.
struct band {
    std::vector<int> hbits, vbits; // branch per split in that direction, first first
    int depth = 0;                 // nodes above the band within the level
};

// The level's bands in codestream order (LL excluded).
std::vector<band> level_bands(const decomp_level& l)
{
    std::vector<band> out;
    auto split = [](const band& parent, int code, int child) {
        band b = parent;
        b.depth++;
        // Child index: bit 0 horizontal, bit 1 vertical; a one-direction split uses 0/1.
        int h = 0, v = 0;
        if (code == 3) {
            h = child & 1;
            v = child >> 1;
        } else if (code == 1) {
            h = child;
        } else {
            v = child;
        }
        if (code & 1)
            b.hbits.push_back(h);
        if (code & 2)
            b.vbits.push_back(v);
        return b;
    };
    band root;
    root.depth = -1;
    for (int k = 0; k < int(l.groups.size()); k++) {
        const band p = split(root, l.primary, k + 1);
        const decomp_group& g = l.groups[size_t(k)];
        if (g.split == 0) {
            out.push_back(p);
            continue;
        }
        for (int j = 0; j < decomp_children(g.split); j++) {
            const band c = split(p, g.split, j);
            const int code = j < int(g.children.size()) ? g.children[size_t(j)] : 0;
            if (code == 0) {
                out.push_back(c);
                continue;
            }
            for (int m = 0; m < decomp_children(code); m++)
                out.push_back(split(c, code, m));
        }
    }
    return out;
}

// The same structure seen transposed: H and V exchanged, and with them the HL and LH
// bands of a split in both directions.
decomp_level transposed(const decomp_level& l)
{
    auto swap_code = [](int c) { return c == 1 ? 2 : (c == 2 ? 1 : c); };
    auto swap_children = [](std::vector<int> v) {
        if (v.size() == 4)
            std::swap(v[1], v[2]);
        return v;
    };
    decomp_level t;
    t.primary = swap_code(l.primary);
    for (const decomp_group& g : l.groups) {
        decomp_group n;
        n.split = swap_code(g.split);
        for (int c : (g.split == 3 ? swap_children(g.children) : g.children))
            n.children.push_back(swap_code(c));
        t.groups.push_back(n);
    }
    if (t.groups.size() == 3)
        std::swap(t.groups[0], t.groups[1]);
    return t;
}

int64_t ceil_div(int64_t v, int64_t d) { return v >= 0 ? (v + d - 1) / d : -((-v) / d); }
int64_t floor_div(int64_t v, int64_t d) { return v >= 0 ? v / d : -((-v + d - 1) / d); }

// [a, b) after the splits `bits` (branch per split).
void apply(int64_t& a, int64_t& b, const std::vector<int>& bits)
{
    for (int beta : bits) {
        a = ceil_div(a - beta, 2);
        b = ceil_div(b - beta, 2);
    }
}

struct rect {
    int64_t y0, x0, y1, x1;
    rvd_dims dims() const
    {
        return rvd_dims(rvd_coords(int(y0), int(x0)), rvd_coords(int(y1 - y0), int(x1 - x0)));
    }
};

void walk(rvd_node n, bool top, std::vector<int>& seen)
{
    rvd_subband b = n.access_subband();
    if (b.exists()) {
        seen.push_back(b.get_band_idx());
        return;
    }
    bool split_h = false, split_v = false;
    for (int c = top ? 1 : 0; c < 4; c++) {
        rvd_node ch = n.access_child(c);
        if (!ch.exists())
            continue;
        split_h = split_h || (c & 1);
        split_v = split_v || (c & 2);
        walk(ch, false, seen);
    }
    int nh = -1, nv = -1;
    n.get_bibo_gains(nh, false);
    n.get_bibo_gains(nv, true);
    EXPECT_EQ(nh, split_h ? 3 : 0);
    EXPECT_EQ(nv, split_v ? 3 : 0);
}

} // namespace

TEST(TileTreeDecomp, PacketDecompositionsMatchAnIndependentSplit)
{
    const std::vector<decomp_level> levels = decomp_test_levels();
    int num_bands = 1;
    for (const decomp_level& l : levels)
        num_bands += int(level_bands(l).size());
    ASSERT_EQ(num_bands, 15);

    for (const rvd_coords origin : {rvd_coords(0, 0), rvd_coords(3, 5)}) {
        SCOPED_TRACE(std::to_string(origin.y) + "," + std::to_string(origin.x));
        siz_geometry g;
        g.rsiz = 0x8000 | 32;
        g.xsiz = 61 + uint32_t(origin.x);
        g.ysiz = 47 + uint32_t(origin.y);
        g.xosiz = uint32_t(origin.x);
        g.yosiz = uint32_t(origin.y);
        g.xtsiz = 61 + uint32_t(origin.x);
        g.ytsiz = 47 + uint32_t(origin.y);
        fake_cache_source src;
        src.main_header.bytes = decomp_main_header(levels, g);
        src.main_header.complete = true;
        src.tile_headers[0].bytes = decomp_tile_header(levels, num_bands);
        src.tile_headers[0].complete = true;
        rvd_codestream cs;
        cs.create(&src);
        cs.set_persistent();
        rvd_tile t = cs.open_tile(rvd_coords(0, 0));
        rvd_tile_comp tc = t.access_component(0);
        ASSERT_EQ(tc.get_num_resolutions(), 4);

        // Resolution regions: each level's primary split, low-pass side.
        rect r{origin.y, origin.x, g.ysiz, g.xsiz};
        int band_counter = 0;
        std::vector<std::pair<int, std::vector<band>>> per_res;
        std::vector<rect> res_rect(4);
        for (int lev = 0; lev < 3; lev++) {
            res_rect[size_t(3 - lev)] = r;
            const int p = levels[size_t(lev)].primary;
            if (p & 1)
                apply(r.x0, r.x1, {0});
            if (p & 2)
                apply(r.y0, r.y1, {0});
        }
        res_rect[0] = r;
        // Band order: resolution 0 first, then upward.
        {
            rvd_resolution res0 = tc.access_resolution(0);
            rvd_dims d;
            res0.get_dims(d);
            EXPECT_EQ(d, res_rect[0].dims());
            rvd_subband ll = res0.access_subband(0);
            ll.get_dims(d);
            EXPECT_EQ(d, res_rect[0].dims());
            EXPECT_EQ(ll.get_K_max(), 2 + 4 - 1);
            band_counter = 1;
        }
        for (int rl = 1; rl <= 3; rl++) {
            SCOPED_TRACE("res " + std::to_string(rl));
            const decomp_level& l = levels[size_t(3 - rl)];
            rvd_resolution res = tc.access_resolution(rl);
            rvd_dims d;
            res.get_dims(d);
            EXPECT_EQ(d, res_rect[size_t(rl)].dims());
            const std::vector<band> want = level_bands(l);
            int min_idx = -1;
            ASSERT_EQ(res.get_valid_band_indices(min_idx), int(want.size()));
            EXPECT_EQ(min_idx, 1);
            int inner = 0;
            for (const decomp_group& gr : l.groups)
                if (gr.split != 0) {
                    inner++;
                    for (int c : gr.children)
                        inner += c != 0;
                }
            int nn = 0, ns = 0;
            res.access_node().get_num_descendants(nn, ns);
            EXPECT_EQ(nn, inner);
            EXPECT_EQ(ns, int(want.size()));
            for (size_t b = 0; b < want.size(); b++, band_counter++) {
                SCOPED_TRACE("band " + std::to_string(b + 1));
                rect br = res_rect[size_t(rl)];
                std::vector<int> hb = want[b].hbits, vb = want[b].vbits;
                apply(br.x0, br.x1, hb);
                apply(br.y0, br.y1, vb);
                rvd_subband sb = res.access_subband(int(b) + 1);
                ASSERT_TRUE(sb.exists());
                EXPECT_EQ(sb.get_band_idx(), int(b) + 1);
                sb.get_dims(d);
                EXPECT_EQ(d, br.dims());
                EXPECT_EQ(sb.get_K_max(), 2 + 4 + band_counter - 1);
                // Blocks: 64 nominal, limited by the 16x16 precinct seen in the band.
                const int ex = std::min(6, 4 - int(hb.size()));
                const int ey = std::min(6, 4 - int(vb.size()));
                rvd_coords nominal, first;
                sb.get_block_size(nominal, first);
                EXPECT_EQ(nominal, rvd_coords(1 << ey, 1 << ex));
                rvd_dims blocks;
                sb.get_valid_blocks(blocks);
                const int64_t bx0 = floor_div(br.x0, int64_t(1) << ex);
                const int64_t by0 = floor_div(br.y0, int64_t(1) << ey);
                if (!d.is_empty()) {
                    EXPECT_EQ(blocks, rvd_dims(rvd_coords(int(by0), int(bx0)),
                                               rvd_coords(int(ceil_div(br.y1, 1 << ey) - by0),
                                                          int(ceil_div(br.x1, 1 << ex) - bx0))));
                }
            }
        }
        EXPECT_EQ(band_counter, num_bands);
        // Walking the nodes meets the bands in band order; inner nodes carry gains for
        // the directions they split (two 5/3 steps and the input).
        for (int rl = 1; rl <= 3; rl++) {
            std::vector<int> seen;
            walk(tc.access_resolution(rl).access_node(), true, seen);
            std::vector<int> want;
            for (int b = 1; b <= int(seen.size()); b++)
                want.push_back(b);
            EXPECT_EQ(seen, want) << "res " << rl;
        }
        // HL of the highest level is split horizontally again: that level has no
        // flipped view; the lower ones have.
        EXPECT_TRUE(cs.can_flip(false));
        t.close();
        cs.change_appearance(false, false, true);
        EXPECT_FALSE(cs.can_flip(false));
        t = cs.open_tile(rvd_coords(0, 0));
        tc = t.access_component(0);
        EXPECT_TRUE(tc.access_resolution(2).exists());
        EXPECT_NE(error_text([&] { tc.access_resolution(3); })
                      .find("incompatible with flipping.  This condition can be identified by "
                            "calling `rvd_codestream::can_flip' first."),
                  std::string::npos);
        t.close();

        // Transposed: every band as the transposed structure has it; the horizontal-only
        // split of resolution 2 appears as a vertical one.
        cs.change_appearance(true, false, false);
        t = cs.open_tile(rvd_coords(0, 0));
        tc = t.access_component(0);
        {
            rvd_node n2 = tc.access_resolution(2).access_node();
            EXPECT_FALSE(n2.access_child(1).exists());
            ASSERT_TRUE(n2.access_child(2).exists());
            int nh = 0, nv = 0;
            n2.get_bibo_gains(nh, false);
            n2.get_bibo_gains(nv, true);
            EXPECT_EQ(nh, 0);
            EXPECT_EQ(nv, 3);
            // Its detail band splits again, now horizontally: children 0 and 1.
            rvd_node detail = n2.access_child(2);
            EXPECT_TRUE(detail.access_child(1).exists());
            EXPECT_FALSE(detail.access_child(2).exists());
        }
        for (int rl = 1; rl <= 3; rl++) {
            const decomp_level l = transposed(levels[size_t(3 - rl)]);
            const rect& rr = res_rect[size_t(rl)];
            const std::vector<band> want = level_bands(l);
            rvd_resolution res = tc.access_resolution(rl);
            for (size_t b = 0; b < want.size(); b++) {
                rect br{rr.x0, rr.y0, rr.x1, rr.y1};
                apply(br.x0, br.x1, want[b].hbits);
                apply(br.y0, br.y1, want[b].vbits);
                rvd_dims d;
                res.access_subband(int(b) + 1).get_dims(d);
                EXPECT_EQ(d, br.dims()) << "transposed res " << rl << " band " << b + 1;
            }
        }
        t.close();
        cs.destroy();
    }
}

TEST(TileTreeDecomp, DerivedStepsFollowEachBandsDepth)
{
    // 9/7 with derived quantisation: a band d splits deeper than the LL band gets the LL
    // step times 2^((depth(LL) - depth(band)) / 2), half powers included.
    const std::vector<decomp_level> levels = decomp_test_levels();
    siz_geometry g;
    g.rsiz = 0x8000 | 32;
    g.xsiz = g.xtsiz = 61;
    g.ysiz = g.ytsiz = 47;
    fake_cache_source src;
    src.main_header.bytes = decomp_main_header(levels, g);
    src.main_header.complete = true;
    // Tile COC: ADS 1, 9/7; QCC: derived, guard bits 1, LL step 1.5 * 2^-9.
    std::vector<uint8_t> coc = {0, 0, 0x81, 4, 4, 0, 0};
    std::vector<uint8_t> qcc = {0, 0x21, 0x4C, 0x00};
    for (const auto& s : {segment(0xFF53, coc), ads_segment(levels), segment(0xFF5D, qcc)})
        src.tile_headers[0].bytes.insert(src.tile_headers[0].bytes.end(), s.begin(), s.end());
    src.tile_headers[0].complete = true;
    rvd_codestream cs;
    cs.create(&src);
    rvd_tile t = cs.open_tile(rvd_coords(0, 0));
    rvd_tile_comp tc = t.access_component(0);
    ASSERT_FALSE(tc.get_reversible());
    const double ll_step = 1.5 / 512.0;
    int above_h = 0, above_v = 0; // primary splits of the levels above
    for (const decomp_level& l : levels) {
        above_h += l.primary & 1;
        above_v += l.primary >> 1;
    }
    const int ll_depth = above_h + above_v;
    rvd_subband ll = tc.access_resolution(0).access_subband(0);
    EXPECT_FLOAT_EQ(ll.get_delta(), float(ll_step));
    EXPECT_EQ(ll.get_K_max(), 1 + 9 - 1);
    above_h = above_v = 0;
    for (int rl = 3; rl >= 1; rl--) {
        const decomp_level& l = levels[size_t(3 - rl)];
        const std::vector<band> bands = level_bands(l);
        rvd_resolution res = tc.access_resolution(rl);
        for (size_t b = 0; b < bands.size(); b++) {
            const int depth =
                above_h + above_v + int(bands[b].hbits.size() + bands[b].vbits.size());
            const double step = ll_step * std::pow(2.0, (ll_depth - depth) / 2.0);
            int eps = 0;
            for (double s = step; s < 1.0; s *= 2.0)
                eps++;
            rvd_subband sb = res.access_subband(int(b) + 1);
            EXPECT_NEAR(sb.get_delta(), step, 1e-6 * step) << "res " << rl << " band " << b + 1;
            EXPECT_EQ(sb.get_K_max(), 1 + eps - 1) << "res " << rl << " band " << b + 1;
        }
        above_h += l.primary & 1;
        above_v += l.primary >> 1;
    }
    t.close();
    cs.destroy();
}

namespace {

} // namespace
