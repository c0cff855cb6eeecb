// The conformance codestreams carry no packet lengths: the test-side packet locator finds
// them by parsing the packet headers, is checked against the encoder's PLT lengths, and
// then cuts the conformance streams into precinct data-bins whose decode through the fake
// cache must equal the memory-source decode.
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/databin_split.h"
#include "tests/codec/support/databin_streams.h"
#include "tests/codec/support/multi_decode.h"
#include "tests/codec/support/packet_locator.h"
#include "tests/codec/support/test_sources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace codec_test;

namespace {

std::vector<multi_test::plane> decode_from(rvd_compressed_source& src)
{
    multi_test::codestream_guard g;
    g.cs.create(&src);
    return multi_test::decode_through_network(g.cs, multi_test::network_options());
}

bool same(const std::vector<multi_test::plane>& a, const std::vector<multi_test::plane>& b)
{
    if (a.size() != b.size() || a.empty())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].width != b[i].width || a[i].height != b[i].height || a[i].samples != b[i].samples)
            return false;
    return true;
}

const char* const packed_streams[] = {"p1_02", "p1_03", "p1_05", "p1_06"};
const char* const plain_streams[] = {"p0_01", "p0_02", "p0_03", "p0_04", "p0_05", "p0_06",
                                     "p0_08", "p0_09", "p0_10", "p0_11", "p0_12", "p0_13",
                                     "p0_14", "p0_15", "p0_16", "p1_01", "p1_04", "p1_07"};

} // namespace

// Every stream with PLT lengths: the located lengths equal them, packet for packet. The
// matrix streams without PLT (bypass and per-pass termination among them, SOP, EPH,
// layers, tile-parts) must be tiled exactly by the located packets.
TEST(ConformanceCache, LocatedPacketLengthsEqualTheEncodersPacketLengths)
{
    int with_plt = 0, without = 0;
    for (const auto& s : matrix_streams()) {
        SCOPED_TRACE(s.name);
        stream_layout L = parse_layout(read_file(s.path));
        std::vector<std::vector<uint32_t>> given;
        for (const auto& tp : L.parts)
            given.push_back(tp.plt);
        ASSERT_NO_THROW(locate_packets(L));
        if (s.has("-PLT")) {
            for (size_t i = 0; i < L.parts.size(); i++)
                EXPECT_EQ(L.parts[i].plt, given[i]) << "tile-part " << i;
            with_plt++;
        } else {
            without++;
        }
    }
    EXPECT_GE(with_plt, 10);
    EXPECT_GE(without, 40);
}

// Bypass without per-pass termination: segments of ten passes, then two raw passes and
// one cleanup pass in turn. The located lengths equal the encoder's, and the bins decode
// as the whole stream does.
TEST(ConformanceCache, BypassSegmentsAreLocatedAndDecodeThroughTheCache)
{
    const std::string dir = stream_dir("bypass");
    for (const char* name : {"cc_bypass", "cc_bypass_prec", "cc_bypass_sop"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> bytes = read_file(dir + "/" + name + ".j2k");
        stream_layout L = parse_layout(bytes);
        std::vector<std::vector<uint32_t>> given;
        for (const auto& tp : L.parts)
            given.push_back(tp.plt);
        ASSERT_NO_THROW(locate_packets(L));
        for (size_t i = 0; i < L.parts.size(); i++)
            EXPECT_EQ(L.parts[i].plt, given[i]) << "tile-part " << i;
        fake_cache_source cache;
        split_into_databins(L, cache);
        memory_source mem(bytes);
        std::vector<multi_test::plane> want, got;
        EXPECT_NO_THROW(want = decode_from(mem));
        EXPECT_NO_THROW(got = decode_from(cache));
        EXPECT_TRUE(same(got, want));
    }
}

TEST(ConformanceCache, CachedDecodesEqualMemoryDecodes)
{
    for (const char* name : plain_streams) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> bytes = read_file(conformance_dir() + "/" + name + ".j2k");
        fake_cache_source cache;
        std::vector<layout_packet> packets;
        try {
            stream_layout L = parse_layout(bytes);
            locate_packets(L);
            packets = split_into_databins(L, cache);
        } catch (const std::exception& e) {
            ADD_FAILURE() << "splitting: " << e.what();
            continue;
        }
        EXPECT_FALSE(packets.empty());
        memory_source mem(bytes);
        std::vector<multi_test::plane> want, got;
        EXPECT_NO_THROW(want = decode_from(mem));
        EXPECT_NO_THROW(got = decode_from(cache));
        EXPECT_TRUE(same(got, want));
    }
}

TEST(ConformanceCache, PackedHeaderStreamsAreRefusedOnTheCache)
{
    for (const char* name : packed_streams) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> bytes = read_file(conformance_dir() + "/" + name + ".j2k");
        stream_layout L = parse_layout(bytes);
        EXPECT_THROW(locate_packets(L), std::runtime_error);
        const std::string text = error_text([&] {
            fake_cache_source cache;
            split_into_cache(bytes, cache);
            decode_from(cache);
        });
        EXPECT_NE(text.find("You cannot use PPM or PPT marker segments (packed packet headers) with "
                            "cached compressed data sources."),
                  std::string::npos)
            << text;
    }
}
