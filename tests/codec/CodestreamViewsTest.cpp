// Views: the dimensions every view reports equal the sizes of opj_decompress's output.
#include "codec/core/rv_codestream.h"
#include "codec/core/rvd_codestream.h"
#include "tests/codec/support/opened_codestream.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/codestream_bytes.h"
#include "tests/codec/support/stream_facts.h"
#include "tests/codec/support/test_sources.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <boost/random/mersenne_twister.hpp>
#include <boost/random/uniform_int_distribution.hpp>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

using namespace codec_test;

namespace {


} // namespace

TEST(CodestreamViews, DimensionsEqualOpjDecompressOutput)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    const std::string dir = stream_dir("params");
    const std::string out = std::string(ORBEL_BINARY_DIR) + "/codestream_views";
    ASSERT_EQ(std::system(("mkdir -p " + out).c_str()), 0);
    struct roi_case {
        int y0, x0, y1, x1; // -1: whole image
    };
    for (const char* n : {"tiles32", "res11x13", "tiled_origin", "levels2", "levels5", "grey_s2",
                          "raw2_sub", "raw4_sub"}) {
        param_facts pf;
        ASSERT_TRUE(load_param_facts(n, pf));
        ASSERT_EQ(pf.dump_tiles.size(), 6u);
        opened o(read_file(dir + "/" + n + ".j2k"));
        rvd_dims part;
        o.cs.get_tile_partition(part);
        EXPECT_EQ(part.pos.x, pf.dump_tiles[0]);
        EXPECT_EQ(part.pos.y, pf.dump_tiles[1]);
        EXPECT_EQ(part.size.x, pf.dump_tiles[2]);
        EXPECT_EQ(part.size.y, pf.dump_tiles[3]);
        rvd_dims tiles;
        o.cs.get_valid_tiles(tiles);
        EXPECT_EQ(tiles.size.x, pf.dump_tiles[4]);
        EXPECT_EQ(tiles.size.y, pf.dump_tiles[5]);
        const int levels = pf.dump_tccp[0].numresolutions - 1;
        rvd_dims canvas;
        o.cs.get_dims(-1, canvas);
        const std::vector<roi_case> rois = {
            {canvas.pos.y, canvas.pos.x, canvas.pos.y + canvas.size.y, canvas.pos.x + canvas.size.x},
            {canvas.pos.y + 5, canvas.pos.x + 7, canvas.pos.y + 30, canvas.pos.x + 41},
            {24, 24, 25, 25}}; // one sample; stays one sample down to 3 discarded levels
        for (int r = 0; r <= std::min(levels, 3); r++)
            for (const roi_case& rc : rois) {
                const std::string pgx = out + "/o.pgx";
                const int ncomps = int(pf.siz[9]);
                for (int c = 0; c < std::max(ncomps, 1); c++)
                    std::remove((out + "/o_" + std::to_string(c) + ".pgx").c_str());
                std::remove(pgx.c_str());
                const std::string cmd = "opj_decompress -i " + dir + "/" + n + ".j2k -o " + pgx +
                                        " -r " + std::to_string(r) + " -d " +
                                        std::to_string(rc.x0) + "," + std::to_string(rc.y0) +
                                        "," + std::to_string(rc.x1) + "," +
                                        std::to_string(rc.y1) + " >/dev/null 2>&1";
                const bool decoded = std::system(cmd.c_str()) == 0;
                const rvd_dims roi(rvd_coords(rc.y0, rc.x0),
                                   rvd_coords(rc.y1 - rc.y0, rc.x1 - rc.x0));
                o.cs.apply_input_restrictions(0, 0, r, 0, &roi, RVD_WANT_CODESTREAM_COMPONENTS);
                if (!decoded) {
                    // The decoder refuses a region that leaves some component no samples.
                    bool some_empty = false;
                    for (int c = 0; c < ncomps; c++) {
                        rvd_dims d;
                        o.cs.get_dims(c, d);
                        some_empty |= d.is_empty();
                    }
                    EXPECT_TRUE(some_empty) << cmd;
                    continue;
                }
                for (int c = 0; c < ncomps; c++) {
                    std::ifstream f(out + "/o_" + std::to_string(c) + ".pgx");
                    if (!f && ncomps == 1)
                        f.open(pgx);
                    // "PG ML + 8 64 48": the last two numbers of the first line.
                    std::string header;
                    std::getline(f, header);
                    ASSERT_EQ(header.substr(0, 2), "PG") << cmd << " c" << c;
                    std::istringstream words(header);
                    std::vector<std::string> parts;
                    for (std::string w; words >> w;)
                        parts.push_back(w);
                    ASSERT_GE(parts.size(), 4u);
                    const int w = std::stoi(parts[parts.size() - 2]);
                    const int h = std::stoi(parts.back());
                    rvd_dims d;
                    o.cs.get_dims(c, d);
                    EXPECT_EQ(d.size.x, w) << cmd << " c" << c;
                    EXPECT_EQ(d.size.y, h) << cmd << " c" << c;
                }
            }
    }
}
