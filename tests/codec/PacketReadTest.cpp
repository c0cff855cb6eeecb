// Packet reading on whole streams: single-level streams decode to their source samples
// block by block, and every source kind delivers the same block data.
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
