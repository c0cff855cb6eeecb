// The test-side tools for packet-reading tests, checked on their own: the data-bin
// splitter against the tile-part bodies and the SOP numbers written by the encoder, and the
// packed-header rewriter against opj_decompress, which must decode the rewritten streams
// to the same image as the originals.
#include "tests/codec/support/databin_split.h"
#include "tests/codec/support/databin_streams.h"
#include "tests/codec/support/packed_headers.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>

using namespace codec_test;

namespace {

// Matrix streams with packet lengths, plus the input group's.
std::vector<std::string> plt_stream_paths()
{
    std::vector<std::string> out;
    for (const auto& s : matrix_streams())
        if (s.has("-PLT"))
            out.push_back(s.path);
    const std::string dir = stream_dir("input");
    for (const char* n : {"plt_rpcl", "plt_cprl", "plt_lrcp1", "plt_lrcp", "small_tiles"})
        out.push_back(dir + "/" + n + ".j2k");
    return out;
}

size_t body_bytes(const stream_layout& L, int tile)
{
    size_t n = 0;
    for (const auto& tp : L.parts)
        if (tp.tile == tile)
            n += tp.end - tp.body;
    return n;
}

TEST(PacketStreamsSplit, PrecinctBinsHoldEveryBodyByteOnceInLayerOrder)
{
    const auto paths = plt_stream_paths();
    ASSERT_GE(paths.size(), 20u);
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        const stream_layout L = parse_layout(read_file(path));
        fake_cache_source src;
        const auto packets = split_into_databins(L, src);
        size_t bodies = 0, bins = 0;
        for (int t = 0; t < L.num_tiles(); t++)
            bodies += body_bytes(L, t);
        for (const auto& kv : src.precincts)
            bins += kv.second.bytes.size();
        EXPECT_EQ(bins, bodies);
        // Packets tile the bodies without gaps; each precinct's come in layer order, and
        // ids are distinct per (tile, component, resolution, precinct) and below the total.
        std::map<int64_t, std::tuple<int, int, int, int>> owner; // id -> t, c, r, k
        std::map<int64_t, int> next_layer;
        int64_t precincts = 0;
        for (int t = 0; t < L.num_tiles(); t++) {
            const auto m = tile_model(L, t);
            for (int c = 0; c < m.nc(); c++)
                for (int r = 0; r <= m.nl(c); r++)
                    precincts += m.cols(c, r) * m.rows(c, r);
        }
        int tile = -1;
        for (const auto& pk : packets) {
            if (pk.seq == 0)
                tile++;
            const auto key = std::make_tuple(tile, pk.comp, pk.res, pk.prec);
            auto it = owner.emplace(pk.id, key).first;
            EXPECT_EQ(it->second, key) << "id " << pk.id;
            EXPECT_EQ(next_layer[pk.id]++, pk.layer) << "id " << pk.id;
            EXPECT_GE(pk.id, 0);
        }
        EXPECT_EQ(int64_t(owner.size()), precincts);
        for (const auto& kv : next_layer)
            EXPECT_EQ(kv.second, L.layers(std::get<0>(owner[kv.first])));
    }
}

TEST(PacketStreamsSplit, SopNumbersFollowThePacketOrderAndCanBeDropped)
{
    int checked = 0;
    for (const auto& s : matrix_streams()) {
        if (!s.has("-SOP") || !s.has("-PLT"))
            continue;
        SCOPED_TRACE(s.name);
        const stream_layout L = parse_layout(read_file(s.path));
        fake_cache_source with, without;
        const auto packets = split_into_databins(L, with);
        split_options opt;
        opt.keep_sop = false;
        split_into_databins(L, without, opt);
        std::map<int64_t, int> first_seq, count;
        for (const auto& pk : packets) {
            ASSERT_GE(pk.length, 6u);
            EXPECT_EQ(layout_detail::be(L.bytes, pk.offset, 4), 0xFF910004u);
            EXPECT_EQ(int(layout_detail::be(L.bytes, pk.offset + 4, 2)), pk.seq & 0xFFFF);
            first_seq.emplace(pk.id, pk.seq);
            count[pk.id]++;
        }
        for (const auto& kv : with.precincts) {
            const auto& bin = kv.second.bytes;
            ASSERT_GE(bin.size(), 6u);
            EXPECT_EQ(int(layout_detail::be(bin, 4, 2)), first_seq.at(kv.first) & 0xFFFF);
            const auto& bare = without.precincts.at(kv.first).bytes;
            EXPECT_EQ(bare.size() + 6 * size_t(count.at(kv.first)), bin.size());
            EXPECT_FALSE(bare.size() >= 2 && bare[0] == 0xFF && bare[1] == 0x91);
        }
        checked++;
    }
    EXPECT_GE(checked, 3);
}

TEST(PacketStreamsSplit, HeaderBinsAndLimitedBins)
{
    const stream_layout L = parse_layout(read_file(stream_dir("input") + "/plt_lrcp.j2k"));
    ASSERT_EQ(L.layers(0), 3);
    fake_cache_source full, part;
    const auto packets = split_into_databins(L, full);
    split_options opt;
    opt.max_packets = 1;
    split_into_databins(L, part, opt);
    EXPECT_EQ(full.main_header.bytes.size(), L.main_end);
    EXPECT_EQ(int(full.tile_headers.size()), L.num_tiles());
    // One packet per precinct: each limited bin is the full bin's first packet.
    std::map<int64_t, size_t> first_len;
    for (const auto& pk : packets)
        first_len.emplace(pk.id, pk.length);
    for (const auto& kv : part.precincts) {
        const auto& whole = full.precincts.at(kv.first).bytes;
        ASSERT_EQ(kv.second.bytes.size(), first_len.at(kv.first));
        EXPECT_TRUE(std::equal(kv.second.bytes.begin(), kv.second.bytes.end(), whole.begin()));
        EXPECT_FALSE(kv.second.complete);
    }
}

// opj_decompress output for a codestream, as bytes ("" when it fails).
std::string opj_decode(const std::vector<uint8_t>& bytes, const std::string& tag)
{
    const std::string base = std::string(ORBEL_BINARY_DIR) + "/pk_" + std::to_string(::getpid()) +
                             "_" + tag;
    {
        std::ofstream f(base + ".j2k", std::ios::binary);
        f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    const std::string cmd =
        "opj_decompress -i " + base + ".j2k -o " + base + ".raw >/dev/null 2>&1";
    std::string out;
    if (std::system(cmd.c_str()) == 0) {
        const auto v = read_file(base + ".raw");
        out.assign(v.begin(), v.end());
    }
    std::remove((base + ".j2k").c_str());
    std::remove((base + ".raw").c_str());
    return out;
}

bool has_marker(const stream_layout& L, uint16_t code)
{
    using layout_detail::be;
    for (size_t p = 2; p < L.main_end; p += 2 + be(L.bytes, p + 2, 2))
        if (be(L.bytes, p, 2) == code)
            return true;
    for (const auto& tp : L.parts)
        for (size_t q = tp.sot + 12; q + 2 < tp.body; q += 2 + be(L.bytes, q + 2, 2))
            if (be(L.bytes, q, 2) == code)
                return true;
    return false;
}

TEST(PacketStreamsPacked, OpjDecodesTheRewrittenStreamsToTheSameImage)
{
    int checked = 0;
    for (const auto& s : matrix_streams()) {
        if (!s.has("-EPH") || !s.has("-PLT"))
            continue;
        SCOPED_TRACE(s.name);
        const auto bytes = read_file(s.path);
        const stream_layout L = parse_layout(bytes);
        const std::string expected = opj_decode(bytes, "orig");
        ASSERT_FALSE(expected.empty());
        for (packed_kind kind : {packed_kind::ppt, packed_kind::ppm}) {
            const bool ppt = kind == packed_kind::ppt;
            SCOPED_TRACE(ppt ? "PPT" : "PPM");
            const auto packed = pack_headers(L, kind);
            const stream_layout P = parse_layout(packed);
            EXPECT_FALSE(has_marker(P, 0xFF58));
            EXPECT_FALSE(has_marker(P, 0xFF55));
            EXPECT_TRUE(has_marker(P, ppt ? 0xFF61 : 0xFF60));
            ASSERT_EQ(P.parts.size(), L.parts.size());
            // Bodies lose their headers and EPH markers but keep their SOP segments.
            size_t before = 0, after = 0;
            for (size_t i = 0; i < L.parts.size(); i++) {
                before += L.parts[i].end - L.parts[i].body;
                after += P.parts[i].end - P.parts[i].body;
            }
            EXPECT_LT(after, before);
            EXPECT_EQ(opj_decode(packed, ppt ? "ppt" : "ppm"), expected);
        }
        checked++;
    }
    EXPECT_GE(checked, 6);
}

} // namespace
