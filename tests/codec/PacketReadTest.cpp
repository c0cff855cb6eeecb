// Packet reading on whole streams: single-level streams decode to their source samples
// block by block, and every source kind delivers the same block data.
#include "codec/core/rv_codestream.h"
#include "codec/core/rvd_codestream.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/packet_read.h"
#include "tests/codec/support/test_sources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

using namespace codec_test;
using namespace packet_test;

namespace {

const char* const single_level_streams[] = {
    "lrcp", "rlcp", "rpcl", "pcrl", "cprl", "prec", "b16", "b8x16", "tiles", "offset",
    "tpr", "tpl", "tpc", "sop_eph", "plt_tlm", "layers", "modes", "poc", "sub", "s12"};

std::string packet_stream(const std::string& name, const char* ext)
{
    return stream_dir("packets") + "/pk_" + name + ext;
}

enum source_kind { MEMORY, FILE_SEEK, SEQUENTIAL, SEQUENTIAL_CHUNKED };

std::vector<block_data> blocks_from(const std::string& name, source_kind kind)
{
    const std::string path = packet_stream(name, ".j2k");
    memory_source mem(read_file(path));
    file_source file(path);
    sequential_source seq(read_file(path));
    sequential_source chunked(read_file(path), 7);
    rvd_compressed_source* src = kind == MEMORY      ? static_cast<rvd_compressed_source*>(&mem)
                                 : kind == FILE_SEEK ? static_cast<rvd_compressed_source*>(&file)
                                 : kind == SEQUENTIAL ? static_cast<rvd_compressed_source*>(&seq)
                                                      : static_cast<rvd_compressed_source*>(&chunked);
    rvd_codestream cs;
    cs.create(src);
    std::vector<block_data> out = collect_blocks(cs);
    cs.destroy();
    return out;
}

} // namespace

TEST(PacketRead, SingleLevelStreamsDecodeToTheirSource)
{
    for (const char* name : single_level_streams) {
        SCOPED_TRACE(name);
        sequential_source src(read_file(packet_stream(name, ".j2k")));
        rvd_codestream cs;
        cs.create(&src);
        const std::vector<std::vector<int>> expected =
            raw_planes(read_file(packet_stream(name, ".raw")), cs);
        const std::vector<std::vector<int>> got = rebuild_planes(cs);
        ASSERT_EQ(got.size(), expected.size());
        for (size_t c = 0; c < got.size(); c++) {
            size_t bad = 0;
            while (bad < got[c].size() && got[c][bad] == expected[c][bad])
                bad++;
            EXPECT_EQ(bad, got[c].size()) << "component " << c << " first difference "
                                           << (bad < got[c].size() ? got[c][bad] : 0) << " vs "
                                           << (bad < got[c].size() ? expected[c][bad] : 0);
        }
        cs.destroy();
        EXPECT_TRUE(no_warnings());
    }
}

TEST(PacketRead, SourcesDeliverIdenticalBlocks)
{
    for (const char* name :
         {"lrcp", "tiles", "sop_eph", "plt_tlm", "tpl", "poc", "sub", "n3_plt_tpr"}) {
        SCOPED_TRACE(name);
        const std::vector<block_data> seq = blocks_from(name, SEQUENTIAL);
        ASSERT_FALSE(seq.empty());
        size_t with_passes = 0;
        for (const block_data& b : seq)
            with_passes += b.num_passes > 0;
        EXPECT_EQ(with_passes, seq.size());
        EXPECT_TRUE(blocks_from(name, MEMORY) == seq);
        EXPECT_TRUE(blocks_from(name, FILE_SEEK) == seq);
        EXPECT_TRUE(blocks_from(name, SEQUENTIAL_CHUNKED) == seq);
    }
}

TEST(PacketRead, ConformanceCodestreamsReadWholeOnEverySource)
{
    for (const std::string& name : conformance_names()) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> bytes = read_file(conformance_dir() + "/" + name + ".j2k");
        std::vector<block_data> reference;
        for (source_kind kind : {SEQUENTIAL, MEMORY}) {
            memory_source mem(bytes);
            sequential_source seq(bytes);
            rvd_codestream cs;
            cs.create(kind == MEMORY ? static_cast<rvd_compressed_source*>(&mem)
                                     : static_cast<rvd_compressed_source*>(&seq));
            // Once the rest of its tile-part is read, every tile has ended with its data.
            int unfinished = 0;
            std::vector<block_data> blocks = collect_blocks(cs, [&](rvd_tile t) {
                rv_packet_reader::finish_current_tpart(cs.get_state());
                unfinished += !t.get_state()->rd.finished;
            });
            EXPECT_EQ(unfinished, 0);
            cs.destroy();
            if (kind == SEQUENTIAL)
                reference = std::move(blocks);
            else
                EXPECT_TRUE(blocks == reference);
        }
        // The blocks hold the tile-part bodies less SOP and EPH markers and the packet
        // headers, which take well under two thirds of any of these streams.
        const stream_facts f = load_facts(stream_dir("conformance") + "/conf_" + name + ".facts");
        int64_t body = 0, markers = 0, blocks = 0;
        for (size_t i = 0; i < f.sots.size() && i < f.sods.size(); i++) {
            const int64_t start = f.sods[i] + 2;
            const int64_t end = f.sots[i].psot ? f.sots[i].offset + f.sots[i].psot : f.eoc;
            body += end - start;
            for (int64_t k = start; k + 1 < end; k++)
                if (bytes[size_t(k)] == 0xFF && bytes[size_t(k) + 1] == 0x91)
                    markers += 6;
                else if (bytes[size_t(k)] == 0xFF && bytes[size_t(k) + 1] == 0x92)
                    markers += 2;
        }
        for (const block_data& b : reference)
            blocks += int64_t(b.bytes.size());
        EXPECT_LE(blocks, body - markers);
        EXPECT_GT(blocks, (body - markers) * 3 / 10);
    }
}

TEST(PacketRead, InconsistentTilePartLengthsAreErrorsNotEndlessWalks)
{
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
        const std::string text = error_text([&] { collect_blocks(cs); });
        EXPECT_NE(text.find("tile-part length is smaller"), std::string::npos) << text;
        cs.destroy();
    }
}

TEST(PacketRead, ResilientReadingResynchronisesAtTheNextSop)
{
    // Three packets (one per component); the middle one's SOP names packet 7.
    std::vector<uint8_t> bytes = read_file(packet_stream("sop_eph", ".j2k"));
    std::vector<size_t> sops;
    for (size_t k = 0; k + 3 < bytes.size(); k++)
        if (bytes[k] == 0xFF && bytes[k + 1] == 0x91 && bytes[k + 2] == 0 && bytes[k + 3] == 4)
            sops.push_back(k);
    ASSERT_EQ(sops.size(), 3u);
    ASSERT_EQ(bytes[sops[1] + 5], 1);
    std::vector<block_data> clean;
    {
        sequential_source src(bytes);
        rvd_codestream cs;
        cs.create(&src);
        clean = collect_blocks(cs);
        cs.destroy();
    }
    ASSERT_EQ(clean.size(), 3u);
    bytes[sops[1] + 5] = 7;
    {
        sequential_source src(bytes);
        rvd_codestream cs;
        cs.create(&src);
        cs.set_resilient();
        const std::vector<block_data> got = collect_blocks(cs);
        cs.destroy();
        ASSERT_EQ(got.size(), 3u);
        EXPECT_TRUE(got[0] == clean[0]);
        EXPECT_EQ(got[1].num_passes, 0); // its packet was skipped
        EXPECT_TRUE(got[2] == clean[2]); // read again after the next SOP
    }
    {
        sequential_source src(bytes);
        rvd_codestream cs;
        cs.create(&src);
        cs.set_fussy();
        EXPECT_NE(error_text([&] { collect_blocks(cs); })
                      .find("Found sequence number 7, but expected 1."),
                  std::string::npos);
        cs.destroy();
    }
}

TEST(PacketRead, GeometricViewsOpenTheSameBlocksAtMappedIndices)
{
    // Several tiles, precincts and blocks per band: every view reaches every block once.
    const std::vector<uint8_t> bytes = read_file(stream_dir("input") + "/plt_rpcl.j2k");
    auto key = [](const block_data& b) {
        return std::make_tuple(b.tile, b.comp, b.res, b.band, b.y, b.x);
    };
    std::vector<block_data> plain;
    {
        memory_source src(bytes);
        rvd_codestream cs;
        cs.create(&src);
        plain = collect_blocks(cs);
        cs.destroy();
    }
    std::sort(plain.begin(), plain.end(),
              [&](const block_data& a, const block_data& b) { return key(a) < key(b); });
    for (int view = 1; view < 8; view++) {
        const bool transpose = view & 1, vflip = (view & 2) != 0, hflip = (view & 4) != 0;
        SCOPED_TRACE(view);
        memory_source src(bytes);
        rvd_codestream cs;
        cs.create(&src);
        cs.change_appearance(transpose, vflip, hflip);
        std::vector<block_data> seen = collect_blocks(cs);
        cs.destroy();
        for (block_data& b : seen) {
            rvd_coords idx(b.y, b.x);
            idx.from_apparent(transpose, vflip, hflip);
            b.y = idx.y;
            b.x = idx.x;
            if (transpose && b.band != 3 && b.res > 0)
                b.band = 3 - b.band; // HL and LH swap
        }
        std::sort(seen.begin(), seen.end(),
                  [&](const block_data& a, const block_data& b) { return key(a) < key(b); });
        EXPECT_TRUE(seen == plain);
    }
}
