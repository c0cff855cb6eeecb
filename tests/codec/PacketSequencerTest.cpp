// Packet sequencing against the independent packet-order model: random geometries built as
// hand-made main headers (SIZ, COD, COC, QCD, POC), progression records in the main header
// and in the tile's first and second tile-part headers.
#include "codec/core/rv_codestream.h"
#include "codec/core/rv_packet_sequencer.h"
#include "codec/core/rv_tile.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_params.h"
#include "codec/core/rvd_tile.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/codestream_bytes.h"
#include "tests/codec/support/packet_order.h"
#include "tests/codec/support/test_sources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

using namespace codec_test;

namespace {

using poc_record = progression_record;
using packet = packet_id;

struct geometry {
    siz_geometry siz;
    int layers = 1, order = 0;
    std::vector<int> levels;            // per component
    std::vector<std::vector<int>> ppx;  // per component, per resolution (lowest first)
    std::vector<std::vector<int>> ppy;
    std::vector<poc_record> main_poc;   // main header
    std::vector<poc_record> tile_poc0;  // first tile-part header of tile 0
    std::vector<poc_record> tile_poc1;  // second tile-part header of tile 0
    int cblk_exp = 0;                   // code-block size exponents less 2 (0: 4x4)
};

std::vector<uint8_t> coding_body(const geometry& g, int c)
{
    std::vector<uint8_t> b = {uint8_t(g.levels[size_t(c)]), uint8_t(g.cblk_exp), uint8_t(g.cblk_exp), 0, 0};
    for (int r = 0; r <= g.levels[size_t(c)]; r++)
        b.push_back(uint8_t(g.ppx[size_t(c)][size_t(r)] | (g.ppy[size_t(c)][size_t(r)] << 4)));
    return b;
}

std::vector<uint8_t> poc_segment(const std::vector<poc_record>& recs)
{
    std::vector<uint8_t> b;
    for (const auto& p : recs) {
        b.push_back(uint8_t(p.rs));
        b.push_back(uint8_t(p.cs));
        put16(b, uint32_t(p.lye));
        b.push_back(uint8_t(p.re));
        b.push_back(uint8_t(p.ce));
        b.push_back(uint8_t(p.order));
    }
    return segment(0xFF5F, b);
}

std::vector<uint8_t> main_header(const geometry& g)
{
    std::vector<std::vector<uint8_t>> extra;
    std::vector<uint8_t> cod = {1, uint8_t(g.order)};
    put16(cod, uint32_t(g.layers));
    cod.push_back(0);
    const auto body0 = coding_body(g, 0);
    cod.insert(cod.end(), body0.begin(), body0.end());
    extra.push_back(segment(0xFF52, cod));
    for (int c = 1; c < int(g.levels.size()); c++) {
        std::vector<uint8_t> coc = {uint8_t(c), 1};
        const auto body = coding_body(g, c);
        coc.insert(coc.end(), body.begin(), body.end());
        extra.push_back(segment(0xFF53, coc));
    }
    extra.push_back(segment(0xFF5C, {0x21, 0x40, 0x00})); // derived quantisation
    if (!g.main_poc.empty())
        extra.push_back(poc_segment(g.main_poc));
    return build_stream(g.siz, extra);
}

// The model of the tile's packet order, from the geometry's SIZ and coding values.
packet_order_model model_of(const geometry& g, int64_t x0, int64_t y0, int64_t x1, int64_t y1)
{
    std::vector<order_component> comps;
    for (size_t c = 0; c < g.levels.size(); c++) {
        order_component oc;
        oc.levels = g.levels[c];
        oc.xr = g.siz.comps[c].xr;
        oc.yr = g.siz.comps[c].yr;
        oc.ppx = g.ppx[c];
        oc.ppy = g.ppy[c];
        comps.push_back(oc);
    }
    return packet_order_model(comps, g.layers, x0, y0, x1, y1);
}

// ---------------------------------------------------------------------------------------

std::string describe(const geometry& g)
{
    std::ostringstream s;
    s << "canvas " << g.siz.xosiz << "," << g.siz.yosiz << " " << g.siz.xsiz << "x" << g.siz.ysiz
      << " tiles " << g.siz.xtosiz << "," << g.siz.ytosiz << " " << g.siz.xtsiz << "x"
      << g.siz.ytsiz << " layers " << g.layers << " order " << g.order;
    for (size_t c = 0; c < g.levels.size(); c++) {
        s << " | c" << c << " sub " << g.siz.comps[c].yr << "x" << g.siz.comps[c].xr << " NL "
          << g.levels[c] << " pp";
        for (size_t r = 0; r < g.ppx[c].size(); r++)
            s << " " << g.ppy[c][r] << "/" << g.ppx[c][r];
    }
    for (const auto* v : {&g.main_poc, &g.tile_poc0, &g.tile_poc1}) {
        s << " | poc";
        for (const auto& p : *v)
            s << " [" << p.rs << "," << p.cs << "," << p.lye << "," << p.re << "," << p.ce << ","
              << p.order << "]";
    }
    return s.str();
}

// Opens tile 0, puts the tile-part POC segments into the parameter tree as the tile-part
// headers would, and runs a sequencer over it.
struct opened {
    memory_source mem;
    rvd_codestream cs;
    rvd_tile tile;
    std::unique_ptr<rv_packet_sequencer> seq;

    explicit opened(const geometry& g) : mem(main_header(g))
    {
        cs.create(&mem);
        rv_codestream* state = cs.get_state();
        for (const auto* recs : {&g.tile_poc0, &g.tile_poc1}) {
            if (recs->empty())
                continue;
            const auto seg = poc_segment(*recs);
            state->siz->translate_marker_segment(0xFF5F, int(seg.size()) - 4, seg.data() + 4, 0,
                                                 recs == &g.tile_poc0 ? 0 : 1);
        }
        if (!g.tile_poc0.empty())
            state->siz->finalize_all(0, true);
        tile = cs.open_tile(rvd_coords(0, 0));
        seq.reset(new rv_packet_sequencer(tile.get_state()));
    }
    ~opened()
    {
        seq.reset();
        if (tile.exists())
            tile.close();
        cs.destroy();
    }
    std::vector<packet> drain()
    {
        std::vector<packet> v;
        rv_resolution* res = nullptr;
        rvd_coords idx;
        for (int64_t guard = 0; guard <= seq->get_total_packets(); guard++) {
            uint64_t* ref = seq->next_packet(res, idx);
            if (ref == nullptr)
                break;
            const int c = res->tile_comp->cnum, r = res->res_level;
            v.emplace_back(seq->get_next_layer(c, r, idx) - 1, r, c,
                           idx.y * res->precinct_indices.size.x + idx.x);
        }
        return v;
    }
};

poc_record random_poc(std::mt19937& rng, int nc, int maxnl)
{
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    poc_record p;
    p.rs = pick(0, maxnl);
    p.re = pick(p.rs + 1, maxnl + 2);
    p.cs = pick(0, nc - 1);
    p.ce = pick(p.cs + 1, nc + 1);
    p.lye = pick(0, 5);
    p.order = pick(0, 4);
    return p;
}

geometry random_geometry(std::mt19937& rng)
{
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    geometry g;
    const int nc = pick(1, 3);
    g.siz.comps.assign(size_t(nc), siz_geometry::comp());
    const int subs[3] = {1, 2, 4};
    int maxnl = 0;
    for (int c = 0; c < nc; c++) {
        g.siz.comps[size_t(c)].xr = subs[pick(0, 2)];
        g.siz.comps[size_t(c)].yr = subs[pick(0, 2)];
        const int nl = pick(0, 4);
        maxnl = std::max(maxnl, nl);
        g.levels.push_back(nl);
        g.ppx.emplace_back();
        g.ppy.emplace_back();
        for (int r = 0; r <= nl; r++) {
            g.ppx.back().push_back(pick(r == 0 ? 0 : 1, 4));
            g.ppy.back().push_back(pick(r == 0 ? 0 : 1, 4));
        }
    }
    // Tile 0 starts at the image offset, anywhere inside the tile grid's first cell.
    g.siz.xtosiz = uint32_t(pick(0, 30));
    g.siz.ytosiz = uint32_t(pick(0, 30));
    g.siz.xtsiz = uint32_t(pick(4, 40));
    g.siz.ytsiz = uint32_t(pick(4, 40));
    g.siz.xosiz = g.siz.xtosiz + uint32_t(pick(0, int(g.siz.xtsiz) - 1));
    g.siz.yosiz = g.siz.ytosiz + uint32_t(pick(0, int(g.siz.ytsiz) - 1));
    g.siz.xsiz = g.siz.xosiz + uint32_t(pick(1, 50));
    g.siz.ysiz = g.siz.yosiz + uint32_t(pick(1, 50));
    g.layers = pick(1, 4);
    g.order = pick(0, 4);
    const int kind = pick(0, 3); // none, main header, tile header, tile header over two parts
    std::vector<poc_record>* targets[3] = {&g.main_poc, &g.tile_poc0, &g.tile_poc1};
    for (int t = 0; t < 3; t++) {
        if ((kind == 1 && t == 0) || (kind >= 2 && t == 1) || (kind == 3 && t == 2)) {
            const int n = pick(1, 3);
            for (int i = 0; i < n; i++)
                targets[t]->push_back(random_poc(rng, nc, maxnl));
        }
    }
    if (kind == 3 && pick(0, 1) == 0) // the first tile-part may end with a full record
        g.tile_poc0.push_back({0, 0, g.layers, maxnl + 1, nc, pick(0, 4)});
    return g;
}

// The tile region as the model sees it, from the SIZ values alone.
void tile0_region(const geometry& g, int64_t& x0, int64_t& y0, int64_t& x1, int64_t& y1)
{
    x0 = std::max<int64_t>(g.siz.xtosiz, g.siz.xosiz);
    y0 = std::max<int64_t>(g.siz.ytosiz, g.siz.yosiz);
    x1 = std::min<int64_t>(int64_t(g.siz.xtosiz) + g.siz.xtsiz, g.siz.xsiz);
    y1 = std::min<int64_t>(int64_t(g.siz.ytosiz) + g.siz.ytsiz, g.siz.ysiz);
}

std::vector<poc_record> default_progression(const geometry& g)
{
    int maxnl = 0;
    for (int nl : g.levels)
        maxnl = std::max(maxnl, nl);
    return {{0, 0, g.layers, maxnl + 1, int(g.levels.size()), g.order}};
}

TEST(PacketSequencer, MatchesTheModelOverRandomGeometries)
{
    std::mt19937 rng(20261206);
    int with_poc = 0, across_parts = 0;
    for (int trial = 0; trial < 1000; trial++) {
        const geometry g = random_geometry(rng);
        SCOPED_TRACE("trial " + std::to_string(trial) + ": " + describe(g));
        int64_t x0, y0, x1, y1;
        tile0_region(g, x0, y0, x1, y1);
        packet_order_model m = model_of(g, x0, y0, x1, y1);
        const auto& first = !g.tile_poc0.empty() ? g.tile_poc0
                            : !g.main_poc.empty() ? g.main_poc
                                                  : default_progression(g);
        for (const auto& p : first)
            m.run(p);
        opened o(g);
        ASSERT_TRUE(o.seq->start());
        std::vector<packet> got = o.drain();
        ASSERT_EQ(m.out.size(), got.size());
        ASSERT_EQ(m.out, got);
        if (!g.main_poc.empty() || !g.tile_poc0.empty())
            with_poc++;
        if (!g.tile_poc1.empty()) {
            // The second tile-part's records wait for that tile-part.
            across_parts++;
            o.seq->set_tparts_seen(2);
            for (const auto& p : g.tile_poc1)
                m.run(p);
            auto more = o.drain();
            got.insert(got.end(), more.begin(), more.end());
            ASSERT_EQ(m.out, got);
        }
        // Every packet is sequenced at most once and sequencing stops cleanly.
        EXPECT_LE(int64_t(got.size()), o.seq->get_total_packets());
    }
    EXPECT_GT(with_poc, 300);
    EXPECT_GT(across_parts, 100);
}

} // namespace
