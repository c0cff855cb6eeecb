// Codestream creation: the conformance set from every source kind against the independent
// scanner's facts and opj_dump, and hand-built malformed starts and geometries refused.
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

#include <fstream>
#include <memory>
#include <string>

using namespace codec_test;

namespace {

// Creates on a memory source; the source outlives the codestream.

std::string create_error(const std::vector<uint8_t>& bytes)
{
    memory_source src(bytes);
    rvd_codestream cs;
    std::string text = error_text([&] { cs.create(&src); });
    EXPECT_FALSE(cs.exists());
    return text;
}

size_t first_sot(const stream_facts& f)
{
    return f.sots.empty() ? 0 : size_t(f.sots.front().offset);
}

// Everything the viewer asks after opening, as one comparable text.
std::string answers(rvd_codestream& cs)
{
    std::string s;
    auto add = [&](const rvd_dims& d) {
        s += std::to_string(d.pos.y) + "," + std::to_string(d.pos.x) + "," +
             std::to_string(d.size.y) + "," + std::to_string(d.size.x) + ";";
    };
    rvd_dims d;
    cs.get_dims(-1, d);
    add(d);
    cs.get_tile_partition(d);
    add(d);
    cs.get_valid_tiles(d);
    add(d);
    const int n = cs.get_num_components();
    s += std::to_string(n) + ":";
    for (int c = 0; c < n; c++) {
        rvd_coords sub;
        cs.get_subsampling(c, sub);
        s += std::to_string(cs.get_bit_depth(c)) + (cs.get_signed(c) ? "s" : "u") +
             std::to_string(sub.y) + "x" + std::to_string(sub.x) + ";";
        cs.get_dims(c, d);
        add(d);
    }
    return s;
}

// The facts' values in the same form.
std::string expected_answers(const param_facts& f)
{
    const int64_t x0 = f.siz[3], y0 = f.siz[4], x1 = f.siz[1], y1 = f.siz[2];
    const int64_t tx = f.siz[5], ty = f.siz[6], tx0 = f.siz[7], ty0 = f.siz[8];
    auto cdiv = [](int64_t a, int64_t b) { return (a + b - 1) / b; };
    std::string s;
    auto add = [&](int64_t a, int64_t b, int64_t c, int64_t d) {
        s += std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(c) + "," +
             std::to_string(d) + ";";
    };
    add(y0, x0, y1 - y0, x1 - x0);
    const int64_t nty = cdiv(y1 - ty0, ty), ntx = cdiv(x1 - tx0, tx);
    add(ty0, tx0, ty, tx);
    const int64_t fy = (y0 - ty0) / ty, fx = (x0 - tx0) / tx;
    add(fy, fx, nty - fy, ntx - fx);
    s += std::to_string(f.siz[9]) + ":";
    for (const auto& c : f.sizc) {
        s += std::to_string((c[0] & 0x7F) + 1) + ((c[0] & 0x80) ? "s" : "u") +
             std::to_string(c[2]) + "x" + std::to_string(c[1]) + ";";
        add(cdiv(y0, c[2]), cdiv(x0, c[1]), cdiv(y1, c[2]) - cdiv(y0, c[2]),
            cdiv(x1, c[1]) - cdiv(x0, c[1]));
    }
    return s;
}

} // namespace

TEST(CodestreamCreate, ConformanceSetFromEverySourceKind)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    std::vector<std::string> names = conformance_names();
    ASSERT_EQ(names.size(), 22u);
    const std::string facts_dir = stream_dir("conformance");
    for (const std::string& n : names) {
        param_facts pf;
        ASSERT_TRUE(load_param_facts("conf_" + n, pf)) << n;
        const std::string expected = expected_answers(pf);
        // opj_dump agrees with the scanner on the tile grid.
        ASSERT_EQ(pf.dump_tiles.size(), 6u) << n;
        EXPECT_EQ(pf.dump_tiles[2], pf.siz[5]) << n;
        EXPECT_EQ(pf.dump_tiles[3], pf.siz[6]) << n;
        const std::string path = conformance_dir() + "/" + n + ".j2k";
        std::vector<uint8_t> bytes = read_file(path);
        {
            opened o(bytes);
            EXPECT_EQ(answers(o.cs), expected) << n << " memory";
            EXPECT_EQ(o.cs.get_num_components(), int(pf.dump_image[4])) << n;
            // The viewer's own restriction: codestream component 0 only.
            o.cs.apply_input_restrictions(0, 1, 0, 0, nullptr, RVD_WANT_CODESTREAM_COMPONENTS);
            EXPECT_EQ(o.cs.get_num_components(), 1) << n;
            EXPECT_EQ(o.cs.get_bit_depth(0), (pf.sizc[0][0] & 0x7F) + 1) << n;
            EXPECT_EQ(o.cs.get_bit_depth(1), 0) << n;
        }
        {
            file_source src(path);
            rvd_codestream cs;
            cs.create(&src);
            EXPECT_EQ(answers(cs), expected) << n << " file";
            cs.destroy();
        }
        {
            sequential_source src(bytes, 7);
            rvd_codestream cs;
            cs.create(&src);
            EXPECT_EQ(answers(cs), expected) << n << " sequential";
            cs.destroy();
        }
        {
            stream_facts sf = load_facts(facts_dir + "/conf_" + n + ".facts");
            fake_cache_source src;
            src.main_header.bytes.assign(bytes.begin(), bytes.begin() + long(first_sot(sf)));
            src.main_header.complete = true;
            rvd_codestream cs;
            if (n == "p1_03" || n == "p1_05") {
                EXPECT_NE(error_text([&] { cs.create(&src); })
                              .find("You cannot use PPM or PPT marker segments (packed packet "
                                    "headers) with cached compressed data sources."),
                          std::string::npos)
                    << n;
                EXPECT_FALSE(cs.exists());
            } else {
                cs.create(&src);
                EXPECT_EQ(answers(cs), expected) << n << " cache";
                cs.destroy();
            }
        }
    }
}

TEST(CodestreamCreate, MalformedStartsAndGeometryAreRefused)
{
    siz_geometry g;
    EXPECT_NE(create_error({0xFF, 0x51, 0, 0}).find("Code-stream must start with an SOC marker!"),
              std::string::npos);
    EXPECT_NE(create_error({}).find("Code-stream must start with an SOC marker!"),
              std::string::npos);
    std::vector<uint8_t> soc_cod = {0xFF, 0x4F};
    auto cod = cod_segment(3);
    soc_cod.insert(soc_cod.end(), cod.begin(), cod.end());
    EXPECT_NE(create_error(soc_cod).find("Code-stream must contain a valid SIZ marker segment, "
                                         "immediately after the SOC marker!"),
              std::string::npos);

    // 65536 tiles fail, 65535 pass; the counts are not allowed to overflow.
    siz_geometry big;
    big.xsiz = big.ysiz = 65536;
    big.xtsiz = big.ytsiz = 256;
    EXPECT_NE(create_error(build_stream(big, {}))
                  .find("Maximum number of allowable tiles is 65535 for any JPEG2000 "
                        "code-stream.  You have managed to exceed this number!!"),
              std::string::npos);
    big.ysiz = 65535 * 256 / 65536 * 256; // 255 rows of tiles
    big.xsiz = 257 * 256;                 // 257 x 255 = 65535 tiles
    {
        opened o(build_stream(big, {}));
        rvd_dims t;
        o.cs.get_valid_tiles(t);
        EXPECT_EQ(int64_t(t.size.x) * t.size.y, 65535);
    }
    siz_geometry hostile;
    hostile.xsiz = hostile.ysiz = 0x7FFFFFFF;
    hostile.xtsiz = hostile.ytsiz = 1;
    EXPECT_NE(create_error(build_stream(hostile, {})).find("Maximum number of allowable tiles"),
              std::string::npos);

    siz_geometry off;
    off.xtsiz = off.ytsiz = 100;
    off.xsiz = 300;
    off.ysiz = 200;
    off.xosiz = 100; // the first tile ends where the image starts
    const std::string off_text = create_error(build_stream(off, {}));
    EXPECT_NE(off_text
                  .find("Illegal canvas coordinates: the first tile is required to have a "
                        "non-empty intersection with the image on the high resolution grid."),
              std::string::npos)
        << off_text;
}
