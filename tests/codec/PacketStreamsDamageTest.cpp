// Damaged and unusual packet streams: random byte flips and truncations read in resilient
// mode, SOP numbers across the 16-bit wrap, inconsistent tile-part headers, lengths and
// counts, and memory bounds when a large tiled stream is read tile by tile.
#include "codec/core/rvd_codestream.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/codestream_bytes.h"
#include "tests/codec/support/databin_blocks.h"
#include "tests/codec/support/databin_split.h"
#include "tests/codec/support/databin_streams.h"
#include "tests/codec/support/packet_read.h"
#include "tests/codec/support/test_sources.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <memory>
#include <random>

using namespace codec_test;

namespace {

struct opened {
    std::unique_ptr<rvd_compressed_source> src;
    rvd_codestream cs;
    explicit opened(rvd_compressed_source* s) : src(s) { cs.create(src.get()); }
    explicit opened(const std::vector<uint8_t>& bytes) : opened(new memory_source(bytes)) {}
    ~opened()
    {
        if (cs.exists())
            cs.destroy();
    }
};

// Packets of a single-tile SOP stream found by their SOP markers (bodies cannot hold
// 0xFF91), each with the resolution and component the model puts at its number.
struct sop_packet {
    size_t start = 0, end = 0;
    int comp = 0, res = 0;
};

std::vector<sop_packet> sop_packets(const stream_layout& L)
{
    const packet_order_model m = tile_model(L, 0);
    std::vector<sop_packet> out;
    for (const auto& tp : L.parts)
        for (size_t p = tp.body; p + 6 <= tp.end; p++)
            if (L.bytes[p] == 0xFF && L.bytes[p + 1] == 0x91) {
                const int n = int(layout_detail::be(L.bytes, p + 4, 2));
                sop_packet s;
                s.start = p;
                s.res = std::get<1>(m.out.at(size_t(n)));
                s.comp = std::get<2>(m.out.at(size_t(n)));
                if (!out.empty() && out.back().end == 0)
                    out.back().end = p;
                out.push_back(s);
            }
    for (auto& s : out)
        if (s.end == 0)
            s.end = L.parts.back().end;
    return out;
}

// Decoded samples of every block, and where each block lies; reading stops at a codec
// error, keeping what was decoded before it.
struct decoded {
    std::vector<std::vector<int32_t>> samples;
    std::vector<block_place> places;
    bool failed = false;
};

decoded decode_all(rvd_compressed_source* src, int mode)
{
    decoded d;
    opened o(src);
    if (mode == 1)
        o.cs.set_resilient(false);
    else if (mode == 2)
        o.cs.set_resilient(true);
    try {
        d.samples = all_block_samples(o.cs, &d.places);
    } catch (const codec_error&) {
        d.failed = true;
    }
    return d;
}

TEST(PacketStreamsDamage, RandomFlipsAndTruncationsAreSurvivedAndSpareUndamagedPrecincts)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    std::vector<matrix_stream> streams;
    for (const auto& s : matrix_streams())
        if (s.has("-SOP") && !s.has("-PLT") && !s.has("-t"))
            streams.push_back(s);
    ASSERT_GE(streams.size(), 6u);
    std::mt19937 rng(1207);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    int exact_blocks = 0, exact_after = 0, cases = 0;
    for (const auto& s : streams) {
        const auto bytes = read_file(s.path);
        const stream_layout L = parse_layout(bytes);
        ASSERT_EQ(L.num_tiles(), 1);
        const auto packets = sop_packets(L);
        ASSERT_FALSE(packets.empty());
        const decoded clean = decode_all(new memory_source(bytes), 0);
        ASSERT_FALSE(clean.failed);
        for (int trial = 0; trial < 16; trial++, cases++) {
            auto damaged = bytes;
            const size_t first_body = L.parts.front().body;
            size_t damage = 0;
            std::vector<size_t> flipped;
            const bool truncate = trial % 3 == 2;
            if (truncate) {
                damage = size_t(pick(int(first_body), int(bytes.size()) - 1));
                damaged.resize(damage);
            } else {
                damage = damaged.size();
                for (int k = pick(1, 3); k > 0; k--) {
                    const size_t at = size_t(pick(int(first_body), int(bytes.size()) - 3));
                    damaged[at] ^= uint8_t(pick(1, 255));
                    damage = std::min(damage, at);
                    flipped.push_back(at);
                }
            }
            const int mode = 1 + trial % 2;
            SCOPED_TRACE(s.name + " trial " + std::to_string(trial) + " damage at " +
                         std::to_string(damage) + " mode " + std::to_string(mode));
            const decoded got = decode_all(new sequential_source(damaged, 17), mode);
            // The fast reader may stop with an error, never crash; it gets the same input.
            decode_all(new sequential_source(damaged), 0);
            // (component, resolution) precincts none of whose packets holds a damaged byte:
            // all before a truncation, none holding a flipped byte.
            std::map<std::pair<int, int>, bool> spared;
            std::map<std::pair<int, int>, bool> after;
            for (const auto& p : packets) {
                auto key = std::make_pair(p.comp, p.res);
                bool ok = p.end <= damage;
                if (!truncate) {
                    ok = true;
                    for (size_t f : flipped)
                        ok = ok && (f < p.start || f >= p.end);
                }
                spared[key] = spared.count(key) ? spared[key] && ok : ok;
                after[key] = after[key] || p.start > damage;
            }
            for (size_t i = 0; i < got.samples.size() && i < clean.samples.size(); i++) {
                const auto& at = got.places[i];
                const auto key = std::make_pair(at.comp, at.res);
                if (!spared[key])
                    continue;
                EXPECT_EQ(got.samples[i], clean.samples[i])
                    << "c" << at.comp << " r" << at.res << " b" << at.band
                    << (after[key] ? " after the damage" : " before the damage");
                exact_blocks++;
                exact_after += after[key];
            }
        }
    }
    EXPECT_GT(cases, 150);
    EXPECT_GT(exact_blocks, 50);
    EXPECT_GT(exact_after, 20);
}

std::vector<uint8_t> matrix_bytes(const std::string& name)
{
    for (const auto& s : matrix_streams())
        if (s.name == name)
            return read_file(s.path);
    throw std::runtime_error("no matrix stream " + name);
}

bool contains(const std::string& text, const std::string& fragment)
{
    return text.find(fragment) != std::string::npos;
}

// One component, 2x2, one level, `layers` layers of empty packets, each behind its SOP,
// numbered by `number` (packet index in, 16-bit number out).
template <class F>
std::vector<uint8_t> empty_packets_stream(int layers, F&& number)
{
    siz_geometry g;
    g.xsiz = g.ysiz = g.xtsiz = g.ytsiz = 2;
    std::vector<uint8_t> cod_body = {2, 0};
    put16(cod_body, uint32_t(layers));
    for (uint8_t v : {0, 1, 0, 0, 0, 1})
        cod_body.push_back(v);
    auto b = build_stream(g, {segment(0xFF52, cod_body), qcd_segment(1)});
    const int packets = 2 * layers;
    for (int i = 0; i < packets; i++) {
        put16(b, 0xFF91);
        put16(b, 4);
        put16(b, uint32_t(number(i)) & 0xFFFF);
        b.push_back(0);
    }
    put16(b, 0xFFD9);
    return b;
}

TEST(PacketStreamsDamage, SopNumbersWrapAt65536)
{
    const int layers = 32800; // 65600 packets: the numbers pass 65535 and start again at 0
    const auto good = empty_packets_stream(layers, [](int i) { return i; });
    {
        opened o(good);
        o.cs.set_fussy();
        rvd_tile t = o.cs.open_tile(rvd_coords(0, 0));
        rvd_tile_comp tc = t.access_component(0);
        for (int r = 0; r < 2; r++)
            EXPECT_EQ(tc.access_resolution(r).get_precinct_packets(rvd_coords(0, 0), true),
                      layers);
        t.close();
    }
    // Numbering on past 65535 without the wrap is out of sequence there.
    const auto bad = empty_packets_stream(layers, [](int i) { return i < 65536 ? i : i + 1; });
    const std::string text = error_text([&] {
        opened o(bad);
        o.cs.set_fussy();
        rvd_tile t = o.cs.open_tile(rvd_coords(0, 0));
        t.access_component(0).access_resolution(1).get_precinct_packets(rvd_coords(0, 0), true);
    });
    EXPECT_TRUE(contains(text, "Found sequence number 1, but expected 0.")) << text;
    // One wrong number just before the wrap: fussy reading names it; resilient reading
    // skips that packet and finds the numbers after the wrap in sequence, so the other
    // precinct gets every packet. (The damaged precinct's packets are skipped from then on;
    // when every packet carries SOP, its very last one finds no later SOP to count it.)
    auto one_off = good;
    const size_t first_sop = one_off.size() - 2 - 7 * size_t(2 * layers);
    const size_t at = first_sop + 7 * 65535;
    ASSERT_EQ(layout_detail::be(one_off, at, 4), 0xFF910004u);
    ASSERT_EQ(layout_detail::be(one_off, at + 4, 2), 0xFFFFu);
    one_off[at + 4] = 0x12;
    one_off[at + 5] = 0x34;
    const std::string fussy = error_text([&] {
        opened o(one_off);
        o.cs.set_fussy();
        rvd_tile t = o.cs.open_tile(rvd_coords(0, 0));
        t.access_component(0).access_resolution(1).get_precinct_packets(rvd_coords(0, 0), true);
    });
    EXPECT_TRUE(contains(fussy, "Found sequence number 4660, but expected 65535.")) << fussy;
    for (bool ubiquitous : {false, true}) {
        opened o(new sequential_source(one_off));
        o.cs.set_resilient(ubiquitous);
        rvd_tile t = o.cs.open_tile(rvd_coords(0, 0));
        rvd_tile_comp tc = t.access_component(0);
        EXPECT_EQ(tc.access_resolution(0).get_precinct_packets(rvd_coords(0, 0), true), layers);
        EXPECT_GE(tc.access_resolution(1).get_precinct_packets(rvd_coords(0, 0), true),
                  layers - 1);
        t.close();
    }
}

// The stream without PLT, and with the last `drop` packets of tile 0's tile-part cut out
// (Psot shortened to match).
std::vector<uint8_t> cut_tile_part(const stream_layout& L, size_t drop)
{
    using layout_detail::be;
    const auto& b = L.bytes;
    std::vector<uint8_t> out(b.begin(), b.begin() + long(L.main_end));
    for (const auto& tp : L.parts) {
        std::vector<uint8_t> head;
        for (size_t q = tp.sot + 12; q + 2 < tp.body;) {
            const size_t len = be(b, q + 2, 2);
            if (be(b, q, 2) != 0xFF58)
                head.insert(head.end(), b.begin() + long(q), b.begin() + long(q + 2 + len));
            q += 2 + len;
        }
        size_t end = tp.end;
        if (tp.tile == 0)
            for (size_t i = 0; i < drop; i++)
                end -= tp.plt[tp.plt.size() - 1 - i];
        out.insert(out.end(), b.begin() + long(tp.sot), b.begin() + long(tp.sot + 6));
        put32(out, uint32_t(12 + head.size() + 2 + (end - tp.body)));
        out.insert(out.end(), b.begin() + long(tp.sot + 10), b.begin() + long(tp.sot + 12));
        out.insert(out.end(), head.begin(), head.end());
        out.insert(out.end(), b.begin() + long(tp.body - 2), b.begin() + long(end));
    }
    put16(out, 0xFFD9);
    return out;
}

TEST(PacketStreamsDamage, ATilePartEndingBeforeItsLastPacketsEndsTheTileQuietly)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    const auto bytes = matrix_bytes("pm_rgb_n4_sopephplt");
    const stream_layout L = parse_layout(bytes);
    ASSERT_GT(L.num_tiles(), 1);
    const auto packets = tile_packets(L, 0);
    const size_t drop = 5;
    ASSERT_GT(packets.size(), 2 * drop);
    const auto cut = cut_tile_part(L, drop);
    // Precincts of tile 0 that lose a packet, by (component, resolution): one precinct
    // per resolution here.
    std::set<std::pair<int, int>> lost;
    for (size_t i = packets.size() - drop; i < packets.size(); i++) {
        ASSERT_EQ(packets[i].prec, 0);
        lost.insert(std::make_pair(packets[i].comp, packets[i].res));
    }
    const decoded clean = decode_all(new sequential_source(bytes), 0);
    ASSERT_FALSE(clean.failed);
    for (int mode = 0; mode < 3; mode++) {
        SCOPED_TRACE(mode);
        const decoded got = decode_all(new sequential_source(cut, 23), mode);
        EXPECT_FALSE(got.failed);
        ASSERT_EQ(got.samples.size(), clean.samples.size());
        // Only the precincts that lost packets lose anything.
        int kept = 0;
        for (size_t i = 0; i < got.samples.size(); i++) {
            const auto& at = got.places[i];
            if (at.tile == 0 && lost.count(std::make_pair(at.comp, at.res)))
                continue;
            EXPECT_EQ(got.samples[i], clean.samples[i])
                << "tile " << at.tile << " c" << at.comp << " r" << at.res;
            kept += at.tile == 0;
        }
        EXPECT_GT(kept, 0);
    }
}

TEST(PacketStreamsDamage, TilePartCountsMustAgreeWhenGiven)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    const auto bytes = matrix_bytes("pm_rgb_n6_tpr");
    const stream_layout L = parse_layout(bytes);
    ASSERT_GE(L.parts.size(), 3u);
    auto conflicting = bytes;
    conflicting[L.parts[0].sot + 11] = 3;
    conflicting[L.parts[1].sot + 11] = 4;
    const std::string t = error_text([&] {
        opened o(conflicting);
        all_block_data(o.cs);
    });
    EXPECT_TRUE(contains(t, "The number of tile-parts for tile number 0 is identified by "
                            "different non-zero values in different SOT markers for the tile!"))
        << t;
    // A zero count in one tile-part is no conflict.
    auto zero = bytes;
    zero[L.parts[0].sot + 11] = 0;
    opened a(bytes), b(zero);
    EXPECT_EQ(all_block_data(b.cs), all_block_data(a.cs));
}

// Found by fuzz_packets: a 16x16 stream in four tiles with TLM and PLT where one TLM entry
// names another tile (tlm_index_mismatch) or the first SOT names tile 2 (tlm_sot_mismatch).
// Reading ends, with an error or without, instead of following the addresses for ever.
TEST(PacketStreamsDamage, TileLengthsThatDisagreeWithTheTilePartsEndReading)
{
    for (const char* name : {"tlm_index_mismatch", "tlm_sot_mismatch"})
        for (bool resilient : {false, true}) {
            SCOPED_TRACE(std::string(name) + (resilient ? " resilient" : " fast"));
            opened o(read_file(std::string(ORBEL_TEST_DATA_DIR) + "/packet_streams/" + name +
                               ".j2k"));
            o.cs.set_persistent();
            if (resilient)
                o.cs.set_resilient();
            try {
                all_block_samples(o.cs);
            } catch (const codec_error&) {
            }
        }
}

TEST(PacketStreamsDamage, MemoryStaysBoundedWhenTilesAreReadOneByOne)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    const std::string path = stream_dir("packet_big") + "/pm_big.j2k";
    const stream_layout L = parse_layout(read_file(path));
    ASSERT_EQ(L.num_tiles(), 16);
    std::map<int, int64_t> tile_bytes;
    for (const auto& tp : L.parts)
        tile_bytes[tp.tile] += int64_t(tp.end - tp.sot);
    int64_t largest = 0;
    for (const auto& kv : tile_bytes)
        largest = std::max(largest, kv.second);
    opened o(new file_source(path));
    o.cs.augment_cache_threshold(int(4096 - o.cs.augment_cache_threshold(0)));
    int64_t blocks = 0;
    visit_blocks(o.cs, [&](const block_place&, const rvd_subband&, rvd_block* blk) {
        blocks += blk->num_passes > 0;
    });
    EXPECT_GT(blocks, 1000);
    const int64_t peak = o.cs.get_compressed_data_memory(true);
    const int64_t structure = o.cs.get_compressed_state_memory(true);
    EXPECT_GT(peak, 0);
    EXPECT_LT(peak, 2 * largest + structure)
        << "largest tile " << largest << ", structure bytes " << structure;
    EXPECT_LT(peak, int64_t(L.bytes.size()) / 4);
    // Every tile is closed: nothing of its data is held any more.
    EXPECT_EQ(o.cs.get_compressed_data_memory(false), 0);
    EXPECT_EQ(o.cs.get_compressed_state_memory(false), 0);
}

} // namespace

TEST(PacketStreamsDamage, InconsistentTilePartHeadersAreErrorsNotEndlessWalks)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    const std::string path = stream_dir("input") + "/tlm_tp_r";
    const stream_facts f = load_facts(path + ".facts");
    const std::vector<uint8_t> bytes = read_file(path + ".j2k");
    int64_t tlm = -1;
    for (const fact_marker& m : f.markers)
        if (m.code == 0xFF55)
            tlm = m.offset;
    ASSERT_GT(tlm, 0);
    ASSERT_EQ(bytes[size_t(tlm) + 5], 0x50); // 8-bit tile numbers, 32-bit lengths
    {
        // The first tile-part, tile 0's, listed as tile 1's.
        std::vector<uint8_t> bad = bytes;
        bad[size_t(tlm) + 6] = 1;
        memory_source src(bad);
        rvd_codestream cs;
        cs.create(&src);
        EXPECT_NE(error_text([&] { cs.open_tile(rvd_coords(0, 1)); })
                      .find("points to a tile-part of another tile"),
                  std::string::npos);
        cs.destroy();
    }
    for (bool seekable : {false, true}) {
        // A tile-part length shorter than its own SOT segment.
        std::vector<uint8_t> bad = bytes;
        const int64_t sot = f.sots.at(1).offset;
        bad[size_t(sot) + 6] = bad[size_t(sot) + 7] = bad[size_t(sot) + 8] = 0;
        bad[size_t(sot) + 9] = 5;
        memory_source mem(bad);
        sequential_source seq(bad);
        rvd_codestream cs;
        cs.create(seekable ? static_cast<rvd_compressed_source*>(&mem)
                           : static_cast<rvd_compressed_source*>(&seq));
        const std::string text = error_text([&] { packet_test::collect_blocks(cs); });
        EXPECT_NE(text.find("tile-part length is smaller"), std::string::npos) << text;
        cs.destroy();
    }
    {
        // A tile number one past the last tile.
        memory_source whole(bytes);
        rvd_codestream probe;
        probe.create(&whole);
        rvd_dims tiles;
        probe.get_valid_tiles(tiles);
        probe.destroy();
        const int count = tiles.size.x * tiles.size.y;
        std::vector<uint8_t> bad = bytes;
        const size_t sot = size_t(f.sots.at(1).offset);
        bad[sot + 4] = uint8_t(count >> 8);
        bad[sot + 5] = uint8_t(count);
        sequential_source seq(bad);
        rvd_codestream cs;
        cs.create(&seq);
        const std::string text = error_text([&] { packet_test::collect_blocks(cs); });
        EXPECT_NE(text.find("tile-number lies outside the range"), std::string::npos) << text;
        cs.destroy();
    }
}
