// How a resolution holds its precinct words: a plain array where the source's bytes could
// fill it (within the codestream's allowance), the reached words only otherwise. Either
// holding must decode the same, give its allowance back, and keep word addresses and
// indices; a source of unknown length never buys an array above the small count.
#include "codec/core/rv_codestream.h"
#include "codec/core/rv_sparse_words.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_tile.h"
#include "tests/codec/support/codestream_bytes.h"
#include "tests/codec/support/test_sources.h"
#include "tests/support/TestTools.h"
#include "tools/decode/decode_sources.h"
#include "tools/decode/image_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace codec_test;

namespace {

TEST(PrecinctWords, ArraysComeOnlyFromTheAllowanceAndGoBackToIt)
{
    struct row {
        const char* name;
        uint64_t count;
        int64_t limit; // allowance bytes; -1: no allowance given
        bool whole;
        int64_t charged;
    };
    const uint64_t small = rv_sparse_words<uint64_t>::dense_limit;
    const std::vector<row> rows = {
        {"the small count, no allowance", small, -1, true, 0},
        {"the small count never draws on it", small, 0, true, 0},
        {"above it, no allowance", small + 1, -1, false, 0},
        {"above it, exactly enough", 1000, 8000, true, 8000},
        {"above it, a word short", 1000, 7999, false, 0},
        {"a count whose bytes overflow 64 bits", uint64_t(1) << 62, INT64_MAX, false, 0},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        rv_dense_allowance a;
        a.set_limit(r.limit < 0 ? 0 : r.limit);
        {
            rv_sparse_words<uint64_t> w;
            w.assign(r.count, r.limit < 0 ? nullptr : &a);
            EXPECT_EQ(w.array() != nullptr, r.whole);
            EXPECT_EQ(a.bytes_used(), r.charged);
            // Words read zero until set; addresses and indices hold either way.
            const uint64_t last = r.count - 1;
            EXPECT_EQ(w.get(last), 0u);
            uint64_t* p = &w[last];
            *p = 7;
            EXPECT_EQ(w.index_of(p), last);
            EXPECT_EQ(&w[last], p);
            // Moved, it still holds the same words at the same addresses, charged once.
            rv_sparse_words<uint64_t> moved(std::move(w));
            EXPECT_EQ(&moved[last], p);
            EXPECT_EQ(moved.get(last), 7u);
            EXPECT_EQ(a.bytes_used(), r.charged);
            // Reassigned to a small count: the array's bytes go back at once.
            moved.assign(1, &a);
            EXPECT_EQ(a.bytes_used(), 0);
            moved.assign(r.count, r.limit < 0 ? nullptr : &a);
            EXPECT_EQ(a.bytes_used(), r.charged);
        }
        EXPECT_EQ(a.bytes_used(), 0) << "destroyed, every byte is given back";
    }
}

TEST(PrecinctWords, CopiesCarryTheWordsAcrossHoldings)
{
    const uint64_t n = 500;
    rv_dense_allowance a;
    a.set_limit(int64_t(n * sizeof(int)));
    rv_sparse_words<int> whole, sparse;
    whole.assign(n, &a);
    sparse.assign(n, &a); // the allowance is spent: held sparsely
    ASSERT_NE(whole.array(), nullptr);
    ASSERT_EQ(sparse.array(), nullptr);
    const std::vector<uint64_t> set = {0, 1, 63, 64, 250, n - 1};
    for (uint64_t i : set)
        whole[i] = int(i) + 1;
    sparse[17] = 99; // overwritten by the copy
    sparse.copy_words(whole);
    EXPECT_EQ(sparse.words_held(), set.size());
    whole.zero();
    EXPECT_EQ(whole.get(250), 0);
    whole.copy_words(sparse);
    for (uint64_t i = 0; i < n; i++) {
        SCOPED_TRACE(i);
        const bool is_set = std::find(set.begin(), set.end(), i) != set.end();
        EXPECT_EQ(whole.get(i), is_set ? int(i) + 1 : 0);
        EXPECT_EQ(sparse.get(i), is_set ? int(i) + 1 : 0);
    }
}

struct holding {
    int levels_whole = 0, levels_sparse = 0; // of the levels above the small count
    int64_t bytes_used = 0;
};

// Opens the tile and the last block of component 0's top level (an LRCP stream is read
// through to it), then looks at how every level above the small count holds its words.
holding holding_after_reading(rvd_compressed_source* src)
{
    rvd_codestream cs;
    cs.create(src);
    holding h;
    {
        rvd_tile t = cs.open_tile(rvd_coords(0, 0));
        rvd_tile_comp tc = t.access_component(0);
        const int top = tc.get_num_resolutions() - 1;
        rvd_subband band = tc.access_resolution(top).access_subband(top == 0 ? 0 : 3);
        rvd_dims blocks;
        band.get_valid_blocks(blocks);
        rvd_block* b = band.open_block(rvd_coords(blocks.pos.y + blocks.size.y - 1,
                                                  blocks.pos.x + blocks.size.x - 1));
        band.close_block(b);
        for (rv_tile_comp& c : t.get_state()->comps)
            for (rv_resolution& res : c.resolutions)
                if (res.precinct_refs.size() > rv_sparse_words<uint64_t>::dense_limit)
                    (res.precinct_refs.array() != nullptr ? h.levels_whole : h.levels_sparse)++;
        h.bytes_used = cs.get_state()->dense_words.bytes_used();
        t.close();
    }
    cs.destroy();
    return h;
}

// The samples of every component, each decode from a fresh source.
std::vector<pgx_image> decoded(rvd_compressed_source* src, int reduce, bool region)
{
    decode_settings s;
    s.reduce = reduce;
    if (region) {
        s.has_region = true;
        s.region = rvd_dims(rvd_coords(37, 21), rvd_coords(70, 90));
    }
    return decode_components(src, s);
}

TEST(PrecinctWords, ArraysFollowTheSourceLengthAndDecodeTheSame)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    // 128x128 grey, three layers, 256 precincts at each of the four top levels.
    for (const char* name : {"many_precincts_lrcp", "many_precincts_rlcp"}) {
        const std::string path = stream_dir("input") + "/" + name + ".j2k";
        const std::vector<uint8_t> bytes = read_file(path);
        struct kind {
            const char* name;
            bool length_known;
            std::function<std::unique_ptr<rvd_compressed_source>()> make;
        };
        const std::vector<kind> kinds = {
            {"in memory", true, [&] { return std::make_unique<memory_source>(bytes); }},
            {"a file of known length", true,
             [&] {
                 return std::make_unique<decode_file_source>(path, 0, int64_t(bytes.size()), true);
             }},
            {"a seekable file of unknown length", false,
             [&] { return std::make_unique<file_source>(path); }},
            {"read in order", false, [&] { return std::make_unique<sequential_source>(bytes); }},
        };
        std::vector<std::vector<pgx_image>> reference;
        for (const kind& k : kinds) {
            SCOPED_TRACE(std::string(name) + ", " + k.name);
            std::unique_ptr<rvd_compressed_source> src = k.make();
            const holding h = holding_after_reading(src.get());
            EXPECT_EQ(h.levels_whole, k.length_known ? 4 : 0);
            EXPECT_EQ(h.levels_sparse, k.length_known ? 0 : 4);
            EXPECT_LE(h.bytes_used, 16 * int64_t(bytes.size()));
            int step = 0;
            for (int reduce : {0, 2})
                for (bool region : {false, true}) {
                    SCOPED_TRACE("reduce " + std::to_string(reduce) + (region ? ", region" : ""));
                    src = k.make();
                    std::vector<pgx_image> got = decoded(src.get(), reduce, region);
                    if (&k == &kinds.front()) {
                        reference.push_back(std::move(got));
                        continue;
                    }
                    const std::vector<pgx_image>& want = reference[size_t(step++)];
                    ASSERT_EQ(got.size(), want.size());
                    for (size_t c = 0; c < got.size(); c++) {
                        EXPECT_EQ(got[c].width, want[c].width);
                        EXPECT_EQ(got[c].height, want[c].height);
                        EXPECT_TRUE(got[c].samples == want[c].samples) << "component " << c;
                    }
                }
        }
    }
}

// A stream cut short holds arrays only as far as its bytes pay for them, and decodes
// what is there the same as with every level held sparsely.
TEST(PrecinctWords, CutStreamsSpendNoMoreThanTheirBytes)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    const std::vector<uint8_t> whole = read_file(stream_dir("input") + "/many_precincts_lrcp.j2k");
    for (size_t keep : {size_t(200), size_t(400), size_t(900), whole.size() / 2}) {
        SCOPED_TRACE("first " + std::to_string(keep) + " bytes");
        const std::vector<uint8_t> cut(whole.begin(), whole.begin() + ptrdiff_t(keep));
        memory_source in_memory(cut);
        const holding h = holding_after_reading(&in_memory);
        EXPECT_LE(h.bytes_used, 16 * int64_t(keep));
        if (keep <= 400) { // four levels' words take 4 x 256 x 12 bytes
            EXPECT_LT(h.levels_whole, 4);
        }
        memory_source again(cut);
        sequential_source in_order(cut);
        const std::vector<pgx_image> a = decoded(&again, 1, false);
        const std::vector<pgx_image> b = decoded(&in_order, 1, false);
        ASSERT_EQ(a.size(), b.size());
        for (size_t c = 0; c < a.size(); c++)
            EXPECT_TRUE(a[c].samples == b[c].samples) << "component " << c;
    }
}

// A SIZ of many components makes a long main header, but no packet lies in it: the
// header alone buys no arrays, however long.
TEST(PrecinctWords, AHeaderAloneBuysNothing)
{
    siz_geometry g;
    g.xsiz = g.ysiz = g.xtsiz = g.ytsiz = 256;
    g.comps.assign(1024, siz_geometry::comp()); // 3 KB of SIZ
    // One level of 16x16 precincts (256 of them), 16x16 blocks, one layer.
    const std::vector<uint8_t> cod = {1, 0, 0, 1, 0, 0, 2, 2, 0, 1, 0x44};
    std::vector<uint8_t> bytes = build_stream(g, {segment(0xFF52, cod), qcd_segment(0)});
    bytes.insert(bytes.end(), 8, 0x00); // eight empty packets
    bytes.push_back(0xFF);
    bytes.push_back(0xD9);
    memory_source src(bytes);
    const holding h = holding_after_reading(&src);
    EXPECT_EQ(h.levels_whole, 0);
    EXPECT_EQ(h.levels_sparse, 1);
    EXPECT_EQ(h.bytes_used, 0);
}

} // namespace
