// Views and geometry queries: the documented cases, properties of the appearance mapping
// over the conformance set, opj_decompress sizes, tile lookup and unloading.
#include "codec/core/rv_codestream.h"
#include "codec/core/rvd_codestream.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/codestream_bytes.h"
#include "tests/codec/support/stream_facts.h"
#include "tests/codec/support/test_sources.h"

#include <gtest/gtest.h>

#include <boost/random/mersenne_twister.hpp>
#include <boost/random/uniform_int_distribution.hpp>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

using namespace codec_test;

namespace {

struct opened {
    explicit opened(std::vector<uint8_t> bytes) : src(std::move(bytes)) { cs.create(&src); }
    ~opened() { cs.destroy(); }
    memory_source src;
    rvd_codestream cs;
};

int64_t area(const rvd_dims& d)
{
    return int64_t(d.size.y) * d.size.x;
}

bool contains(const rvd_dims& outer, const rvd_dims& inner)
{
    return inner.pos.y >= outer.pos.y && inner.pos.x >= outer.pos.x &&
           int64_t(inner.pos.y) + inner.size.y <= int64_t(outer.pos.y) + outer.size.y &&
           int64_t(inner.pos.x) + inner.size.x <= int64_t(outer.pos.x) + outer.size.x;
}

} // namespace

TEST(CodestreamViews, AppearanceMappingProperties)
{
    boost::random::mt19937 rng(11);
    for (const char* n : {"p1_01", "p1_05", "p0_06"}) {
        std::vector<uint8_t> bytes = read_file(conformance_dir() + "/" + n + ".j2k");
        opened o(bytes);
        o.cs.set_persistent();
        rvd_dims canvas;
        o.cs.get_dims(-1, canvas);
        boost::random::uniform_int_distribution<int> py(0, canvas.size.y - 1),
            px(0, canvas.size.x - 1);
        for (int trial = 0; trial < 6; trial++) {
            rvd_dims roi = canvas;
            if (trial > 0) {
                int y0 = py(rng), y1 = py(rng), x0 = px(rng), x1 = px(rng);
                roi = rvd_dims(rvd_coords(canvas.pos.y + std::min(y0, y1), canvas.pos.x + std::min(x0, x1)),
                               rvd_coords(std::abs(y1 - y0) + 1, std::abs(x1 - x0) + 1));
            }
            for (int r = 0; r <= 2; r++)
                for (int app = 0; app < 8; app++) {
                    const bool tr = app & 1, vf = app & 2, hf = app & 4;
                    o.cs.apply_input_restrictions(0, 0, r, 0, &roi,
                                                  RVD_WANT_CODESTREAM_COMPONENTS);
                    o.cs.change_appearance(false, false, false);
                    rvd_dims real_tiles;
                    o.cs.get_valid_tiles(real_tiles);
                    o.cs.change_appearance(tr, vf, hf);
                    rvd_dims tiles;
                    o.cs.get_valid_tiles(tiles);
                    rvd_dims back = tiles;
                    back.from_apparent(tr, vf, hf);
                    ASSERT_EQ(back, real_tiles) << n << " app " << app;
                    for (int c = 0; c < o.cs.get_num_components(); c++) {
                        rvd_dims dims;
                        o.cs.get_dims(c, dims);
                        int64_t covered = 0;
                        for (int ty = 0; ty < tiles.size.y; ty++)
                            for (int tx = 0; tx < tiles.size.x; tx++) {
                                rvd_coords idx(tiles.pos.y + ty, tiles.pos.x + tx);
                                rvd_dims td;
                                o.cs.get_tile_dims(idx, c, td);
                                ASSERT_TRUE(contains(dims, td)) << n << " c" << c;
                                covered += area(td);
                                if (td.is_empty())
                                    continue;
                                // A sample of the tile's rectangle names this tile.
                                rvd_coords loc(td.pos.y + td.size.y / 2, td.pos.x + td.size.x - 1);
                                rvd_coords found;
                                ASSERT_TRUE(o.cs.find_tile(c, loc, found)) << n;
                                ASSERT_EQ(found, idx) << n << " app " << app;
                            }
                        // Disjoint rectangles inside dims with the same total area cover it.
                        ASSERT_EQ(covered, area(dims)) << n << " c" << c << " app " << app;
                        // The mapped (real) region lies in the canvas and selects the same samples.
                        rvd_dims hires;
                        o.cs.map_region(c, dims, hires);
                        ASSERT_TRUE(contains(canvas, hires)) << n << " c" << c;
                        o.cs.change_appearance(false, false, false);
                        o.cs.apply_input_restrictions(0, 0, r, 0, &hires,
                                                      RVD_WANT_CODESTREAM_COMPONENTS);
                        o.cs.change_appearance(tr, vf, hf);
                        rvd_dims again;
                        o.cs.get_dims(c, again);
                        ASSERT_EQ(again, dims) << n << " c" << c << " app " << app;
                        o.cs.change_appearance(false, false, false);
                        o.cs.apply_input_restrictions(0, 0, r, 0, &roi,
                                                      RVD_WANT_CODESTREAM_COMPONENTS);
                        o.cs.change_appearance(tr, vf, hf);
                        rvd_coords sub;
                        o.cs.get_subsampling(c, sub);
                        ASSERT_GT(sub.y, 0);
                        ASSERT_GT(sub.x, 0);
                        o.cs.change_appearance(false, false, false);
                        rvd_coords plain;
                        o.cs.get_subsampling(c, plain);
                        o.cs.change_appearance(tr, vf, hf);
                        if (tr)
                            plain.transpose();
                        ASSERT_EQ(sub, plain);
                    }
                }
        }
    }
}

TEST(CodestreamViews, DimensionsEqualOpjDecompressOutput)
{
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
