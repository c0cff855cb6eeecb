// Region decodes of streams with precinct partitions (tools/make_test_streams.py, group
// "precincts"): the kernel supports grow each band's region past its level's region, so
// blocks near a region's edge lie in precincts the level's region alone does not meet.
// Every region must decode, bit-exact with the crop of the whole decode, in every view.
#include "tests/codec/support/decode_cases.h"
#include "tests/codec/support/test_sources.h"
#include "tools/decode/image_decoder.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <random>
#include <sstream>

namespace {

using namespace codec_test;

struct precinct_stream {
    std::string path;
    int x0 = 0, y0 = 0, width = 0, height = 0; // the image on the canvas
    int levels = 0;
};

std::vector<precinct_stream> load_streams()
{
    const std::string dir = stream_dir("precincts");
    std::ifstream in(dir + "/precinct_streams.txt");
    std::vector<precinct_stream> out;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        precinct_stream s;
        std::string name;
        if (ls >> name >> s.x0 >> s.y0 >> s.width >> s.height >> s.levels) {
            s.path = dir + "/" + name + ".j2k";
            out.push_back(s);
        }
    }
    return out;
}

decode_settings region_settings(int reduce, int x0, int y0, int x1, int y1)
{
    decode_settings s;
    s.reduce = reduce;
    s.has_region = true;
    s.region = rvd_dims(rvd_coords(y0, x0), rvd_coords(y1 - y0, x1 - x0));
    return s;
}

std::string describe_case(const precinct_stream& st, const decode_settings& s)
{
    std::ostringstream out;
    out << st.path.substr(st.path.find_last_of('/') + 1) << " reduce " << s.reduce;
    if (s.has_region)
        out << " region x" << s.region.pos.x << " y" << s.region.pos.y << " w"
            << s.region.size.x << " h" << s.region.size.y;
    out << (s.precise ? " 32-bit" : " 16-bit") << " view " << s.transpose << s.vflip << s.hflip;
    return out.str();
}

// Whole identity decodes by stream, reduction and line width.
class whole_decodes {
public:
    const pgx_image& get(const precinct_stream& st, int reduce, bool precise)
    {
        const std::string key = st.path + " " + std::to_string(reduce) + (precise ? "p" : "");
        auto f = decodes.find(key);
        if (f == decodes.end()) {
            decode_settings s;
            s.reduce = reduce;
            s.precise = precise;
            f = decodes.emplace(key, decode_file(st.path, s).at(0)).first;
        }
        return f->second;
    }

private:
    std::map<std::string, pgx_image> decodes;
};

// Compares each sample of `part` (decoded in the view of `s`) with the identity sample
// it shows; returns the number that differ or fall outside the whole decode.
int64_t count_wrong(const pgx_image& whole, const pgx_image& part, const decode_settings& s)
{
    int64_t wrong = 0;
    for (int y = 0; y < part.height; y++)
        for (int x = 0; x < part.width; x++) {
            rvd_coords p(part.y0 + y, part.x0 + x);
            p.from_apparent(s.transpose, s.vflip, s.hflip);
            const int iy = p.y - whole.y0, ix = p.x - whole.x0;
            wrong += iy < 0 || iy >= whole.height || ix < 0 || ix >= whole.width ||
                     whole.samples[size_t(iy) * whole.width + ix] !=
                         part.samples[size_t(y) * part.width + x];
        }
    return wrong;
}

void expect_matches_whole(const precinct_stream& st, const decode_settings& s,
                          whole_decodes& wholes, int64_t expected_samples)
{
    const std::string what = describe_case(st, s);
    try {
        const pgx_image part = decode_file(st.path, s).at(0);
        EXPECT_GT(part.width, 0) << what;
        if (expected_samples > 0) {
            EXPECT_EQ(int64_t(part.width) * part.height, expected_samples) << what;
        }
        EXPECT_EQ(count_wrong(wholes.get(st, s.reduce, s.precise), part, s), 0) << what;
    } catch (const std::exception& e) {
        ADD_FAILURE() << what << ": " << e.what();
    }
}

TEST(PrecinctRegion, RegionBesidePrecinctEdgeDecodes)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    // Right half of a 64x64 image, 16x16 precincts, one level: at the lower level the
    // high bands need a block column in a precinct left of the region's own precincts.
    whole_decodes wholes;
    int checked = 0;
    for (const precinct_stream& st : load_streams()) {
        if (st.width != 64 || st.height != 64)
            continue;
        for (bool precise : {false, true}) {
            decode_settings s = region_settings(0, 33, 0, 64, 64);
            s.precise = precise;
            expect_matches_whole(st, s, wholes, 31 * 64);
            checked++;
        }
    }
    EXPECT_EQ(checked, 4);
}

TEST(PrecinctRegion, RandomRegionsAndViewsAreCropsOfTheWholeDecode)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    // Regions at random (mostly odd) offsets, at every reduction, in both line widths;
    // a third of them in a random transposed or flipped view.
    std::mt19937 rng(31);
    whole_decodes wholes;
    int checked = 0, viewed = 0;
    for (const precinct_stream& st : load_streams()) {
        for (int k = 0; k < 20; k++) {
            const int w = 1 + int(rng() % unsigned(st.width));
            const int h = 1 + int(rng() % unsigned(st.height));
            const int x0 = (st.x0 + int(rng() % unsigned(st.width - w + 1))) | 1;
            const int y0 = (st.y0 + int(rng() % unsigned(st.height - h + 1))) | (k & 1);
            const int x1 = std::min(x0 + w, st.x0 + st.width);
            const int y1 = std::min(y0 + h, st.y0 + st.height);
            if (x1 <= x0 || y1 <= y0)
                continue;
            decode_settings s = region_settings(k % (st.levels + 1), x0, y0, x1, y1);
            s.precise = (k & 2) != 0;
            if (k % 3 == 2) {
                const unsigned combo = 1 + rng() % 7;
                s.transpose = (combo & 1) != 0;
                s.vflip = (combo & 2) != 0;
                s.hflip = (combo & 4) != 0;
                viewed++;
            }
            try {
                // A region can vanish at a reduced size; the tool refuses it then.
                decode_settings id = s;
                id.transpose = id.vflip = id.hflip = false;
                const pgx_image part = decode_file(st.path, id).at(0);
                expect_matches_whole(st, id, wholes, 0);
                if (s.transpose || s.vflip || s.hflip)
                    expect_matches_whole(st, s, wholes, int64_t(part.width) * part.height);
                checked++;
            } catch (const std::exception& e) {
                if (std::string(e.what()).find("does not meet the image") == std::string::npos)
                    ADD_FAILURE() << describe_case(st, s) << ": " << e.what();
            }
        }
    }
    EXPECT_GT(checked, 140);
    EXPECT_GT(viewed, 40);
}

} // namespace
