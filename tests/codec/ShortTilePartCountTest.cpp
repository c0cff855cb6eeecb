// Tile-parts beyond the count their SOTs announce, as some encoders in the field write
// them (TNsot one or two short): read with one warning, and decoded exactly as the same
// stream with true counts, whatever the source, resolution, region or thread count.
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/databin_split.h"
#include "tests/codec/support/test_sources.h"
#include "tests/support/TestTools.h"
#include "tools/decode/decode_input.h"
#include "tools/decode/image_decoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace codec_test;

namespace {

// A 150 x 100 three-component 8-bit image coded by opj_compress with the options given.
std::vector<uint8_t> coded(const std::string& name, const std::string& options)
{
    const std::string own = stream_dir("input") + "/shortcount_" + name + "." + std::to_string(::getpid());
    {
        std::ofstream raw(own + ".raw", std::ios::binary);
        for (int c = 0; c < 3; c++)
            for (int y = 0; y < 100; y++)
                for (int x = 0; x < 150; x++)
                    raw.put(char((x * (c + 2) + y * (3 - c) + (x * y) / 11) & 0xFF));
    }
    const std::string cmd = "opj_compress -F 150,100,3,8,u " + options + " -i '" + own +
                            ".raw' -o '" + own + ".j2k' > /dev/null 2>&1";
    const bool made = std::system(cmd.c_str()) == 0;
    std::vector<uint8_t> bytes = made ? read_file(own + ".j2k") : std::vector<uint8_t>();
    std::remove((own + ".raw").c_str());
    std::remove((own + ".j2k").c_str());
    if (!made)
        throw std::runtime_error("opj_compress failed: " + cmd);
    return bytes;
}

// Every SOT's TNsot lowered by `short_by`, never below 1.
std::vector<uint8_t> with_short_counts(std::vector<uint8_t> b, int short_by)
{
    for (const layout_tile_part& tp : parse_layout(b).parts)
        b[tp.sot + 11] = uint8_t(std::max(1, int(b[tp.sot + 11]) - short_by));
    return b;
}

// A single-tile stream of one tile-part per layer (LRCP) given a POC segment in each
// tile-part header, so that tile-part k's packets are reached only once its header is
// read: 0 .. levels, every component, layers up to k + 1.
std::vector<uint8_t> with_tpart_pocs(const std::vector<uint8_t>& b, int levels, int comps)
{
    const std::vector<layout_tile_part> parts = parse_layout(b).parts;
    std::vector<uint8_t> out(b.begin(), b.begin() + long(parts[0].sot));
    for (size_t k = 0; k < parts.size(); ++k) {
        const size_t p = parts[k].sot, end = parts[k].end;
        const std::vector<uint8_t> poc = {0xFF, 0x5F, 0, 9, 0, 0, 0, uint8_t(k + 1),
                                          uint8_t(levels + 1), uint8_t(comps), 0 /* LRCP */};
        std::vector<uint8_t> sot(b.begin() + long(p), b.begin() + long(p) + 12);
        const size_t psot = end - p + poc.size();
        sot[6] = uint8_t(psot >> 24), sot[7] = uint8_t(psot >> 16), sot[8] = uint8_t(psot >> 8),
        sot[9] = uint8_t(psot);
        out.insert(out.end(), sot.begin(), sot.end());
        out.insert(out.end(), poc.begin(), poc.end());
        out.insert(out.end(), b.begin() + long(p) + 12, b.begin() + long(end));
    }
    out.insert(out.end(), {0xFF, 0xD9});
    return out;
}

std::string written(const std::string& name, const std::vector<uint8_t>& bytes)
{
    const std::string path = stream_dir("input") + "/shortcount_" + name + "." +
                             std::to_string(::getpid()) + ".j2k";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 std::streamsize(bytes.size()));
    return path;
}

std::vector<pgx_image> decoded(const std::string& path, decode_source_kind kind,
                               const decode_settings& s)
{
    decode_input in(path, kind);
    std::unique_ptr<rvd_compressed_source> src = in.open_source();
    return decode_components(src.get(), s);
}

struct route {
    const char* name;
    decode_source_kind kind;
    decode_settings settings;
};

std::vector<route> routes()
{
    decode_settings full, r1, r2, region, threads, layer;
    r1.reduce = 1;
    r2.reduce = 2;
    region.has_region = true;
    region.region = rvd_dims(rvd_coords(17, 30), rvd_coords(60, 101)); // rows 17-76, columns 30-130
    threads.threads = 3;
    layer.layers = 1;
    return {{"memory, whole", decode_source_kind::memory, full},
            {"seekable, whole", decode_source_kind::seekable, full},
            {"sequential, whole", decode_source_kind::sequential, full},
            {"memory, reduce 1", decode_source_kind::memory, r1},
            {"sequential, reduce 2", decode_source_kind::sequential, r2},
            {"seekable, region", decode_source_kind::seekable, region},
            {"memory, 3 threads", decode_source_kind::memory, threads},
            {"seekable, first layer", decode_source_kind::seekable, layer}};
}

} // namespace

TEST(ShortTilePartCount, ReadWithOneWarningAndDecodedAsTheTrueCount)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    struct coding {
        const char* name;
        const char* options;
    };
    const coding codings[] = {
        {"tp_r_3_levels", "-TP R -n 4 -t 64,64 -r 20,5,1"},
        {"tp_l_5_levels", "-TP L -n 6 -t 96,64 -r 20,5,1"},
        {"tp_r_rpcl_plt_sop_eph", "-TP R -n 4 -t 64,48 -r 10,1 -p RPCL -PLT -SOP -EPH"},
        {"tp_l_single_tile", "-TP L -n 6 -r 40,20,10,1"},
    };
    for (const coding& c : codings) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> whole = coded(c.name, c.options);
        const std::vector<layout_tile_part> parts = parse_layout(whole).parts;
        ASSERT_GT(parts.size(), 2u);
        ASSERT_NE(parts[0].tnsot, 0) << "opj_compress announces its tile-part counts";
        const std::string truth = written(std::string(c.name) + "_true", whole);
        for (int short_by : {1, 2}) {
            SCOPED_TRACE("TNsot " + std::to_string(short_by) + " short");
            const std::string shorter =
                written(std::string(c.name) + "_short" + std::to_string(short_by),
                        with_short_counts(whole, short_by));
            for (const route& r : routes()) {
                SCOPED_TRACE(r.name);
                clear_captured_warnings();
                const std::vector<pgx_image> want = decoded(truth, r.kind, r.settings);
                EXPECT_TRUE(no_warnings());
                std::vector<pgx_image> got;
                ASSERT_NO_THROW(got = decoded(shorter, r.kind, r.settings));
                ASSERT_EQ(got.size(), want.size());
                for (size_t k = 0; k < want.size(); ++k) {
                    EXPECT_EQ(got[k].width, want[k].width);
                    EXPECT_TRUE(got[k].samples == want[k].samples) << "component " << k;
                }
                // One warning at most for the whole codestream, naming both fields; a
                // whole decode reaches the extra tile-parts and so always gives it.
                const int warned = warning_count("is not below the tile-part count (TNsot)");
                EXPECT_EQ(warned, int(captured_warnings().size()));
                EXPECT_LE(warned, 1);
                if (r.settings.reduce == 0 && !r.settings.has_region && r.settings.layers == 0) {
                    EXPECT_EQ(warned, 1);
                }
            }
            std::remove(shorter.c_str());
        }
        std::remove(truth.c_str());
    }
}

// The checks that protect memory and order stay: a tile-part out of sequence, and
// different non-zero counts in one tile's SOTs, whether or not a count was short.
TEST(ShortTilePartCount, OrderAndConsistencyAreStillChecked)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    const std::vector<uint8_t> whole = coded("order", "-TP R -n 4 -r 10,1 -p RLCP");
    const std::vector<layout_tile_part> parts = parse_layout(whole).parts;
    ASSERT_EQ(parts.size(), 4u);
    struct bad {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* message;
    };
    std::vector<bad> cases;
    std::vector<uint8_t> b = with_short_counts(whole, 1);
    b[parts[3].sot + 10] = 4; // TPsot 4 where 3 belongs
    cases.push_back({"index skipped after a short count", b,
                     "Missing or out-of-sequence tile-parts for tile number 0 in code-stream!"});
    b = with_short_counts(whole, 1);
    b[parts[3].sot + 11] = 2; // 3 in the other SOTs
    cases.push_back({"counts differ after a short count", b,
                     "is identified by different non-zero values in different SOT markers"});
    b = whole;
    b[parts[1].sot + 11] = 0; // an unknown count beside the true one is accepted...
    b[parts[2].sot + 11] = 5; // ... a different one is not
    cases.push_back({"counts differ", b,
                     "is identified by different non-zero values in different SOT markers"});
    for (const bad& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = written("order_bad", c.bytes);
        const std::string said = error_text([&] {
            decoded(path, decode_source_kind::memory, decode_settings());
        });
        EXPECT_NE(said.find(c.message), std::string::npos) << said;
        std::remove(path.c_str());
    }
}

// Packets that only a later tile-part's progression records reach: the tile is not
// closed when the announced count is read, so the extra tile-part's layer arrives.
TEST(ShortTilePartCount, LaterProgressionRecordsAreWaitedFor)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    const std::vector<uint8_t> plain = coded("pocs", "-TP L -n 4 -r 30,10,1 -p LRCP");
    ASSERT_EQ(parse_layout(plain).parts.size(), 3u);
    const std::vector<uint8_t> pocs = with_tpart_pocs(plain, 3, 3);
    const std::string truth = written("pocs_plain", plain);
    const std::string counted = written("pocs_true", pocs);
    const std::string shorter = written("pocs_short", with_short_counts(pocs, 1));
    for (const route& r : routes()) {
        SCOPED_TRACE(r.name);
        const std::vector<pgx_image> want = decoded(truth, r.kind, r.settings);
        for (const std::string& path : {counted, shorter}) {
            SCOPED_TRACE(path);
            std::vector<pgx_image> got;
            ASSERT_NO_THROW(got = decoded(path, r.kind, r.settings));
            ASSERT_EQ(got.size(), want.size());
            for (size_t k = 0; k < want.size(); ++k)
                EXPECT_TRUE(got[k].samples == want[k].samples) << "component " << k;
        }
    }
    for (const std::string& path : {truth, counted, shorter})
        std::remove(path.c_str());
}
