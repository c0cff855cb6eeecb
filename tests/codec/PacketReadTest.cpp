// Packet reading on whole streams: single-level streams decode to their source samples
// block by block, and every source kind delivers the same block data.
#include "codec/core/rv_codestream.h"
#include "codec/core/rvd_codestream.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/packet_read.h"
#include "tests/codec/support/test_sources.h"

#include <gtest/gtest.h>

#include <string>
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
    for (const char* name : {"lrcp", "tiles", "sop_eph", "plt_tlm", "tpl", "poc", "sub"}) {
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
