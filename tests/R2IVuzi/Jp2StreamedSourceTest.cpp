// opj_compress JP2 files streamed by the loopback server, parsed into the viewer's cache
// and read back through the JP2 source: prefix arrival, descriptions against an
// independent box walker, and the codestream box against the cached bins.
#include "tests/codec/support/jp2_errors.h"
#include "R2IVuzi/J2KCache.h"
#include "R2IVuzi/JpipParser.h"
#include "codec/core/rvd_message.h"
#include "codec/jp2/jp2_family_src.h"
#include "codec/jp2/jp2_source.h"

#include "tests/support/TestTools.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

using namespace jp2_test;

namespace {

// Counts reads of the signature word (meta-data bin 0, bytes 8 to 11).
class CountingCache : public CJ2KCache {
public:
    void set_read_scope(int cls, int64_t cs, int64_t id) override
    {
        metaZero = cls == 4 && id == 0;
        CJ2KCache::set_read_scope(cls, cs, id);
    }
    int read(uint8_t* buf, int n) override
    {
        if (metaZero && get_pos() == 8)
            ++signatureReads;
        return CJ2KCache::read(buf, n);
    }
    bool metaZero = false;
    int signatureReads = 0;
};

std::map<std::string, std::vector<std::string>> readInfo(const fs::path& p)
{
    std::map<std::string, std::vector<std::string>> out;
    std::ifstream in(p);
    for (std::string line; std::getline(in, line);) {
        std::istringstream s(line);
        std::string key, v;
        s >> key;
        while (s >> v)
            out[key].push_back(v);
    }
    return out;
}

std::vector<uint8_t> binBytes(rvd_cache& c, int cls, int64_t id)
{
    std::vector<uint8_t> out(size_t(c.get_databin_length(cls, 0, id)));
    out.resize(size_t(c.get_databin_prefix(cls, 0, id, out.data(), int(out.size()))));
    return out;
}

class Jp2Streamed : public ::testing::Test {
public:
    static void SetUpTestSuite()
    {
        std::string pattern = (fs::temp_directory_path() / "orbel-jp2-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        std::string cmd = OrbelTest::pythonCommand(std::string(ORBEL_SOURCE_DIR) + "/tests/R2IVuzi/jp2_fixture.py") + " '" + dir + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << "needs python3 and libopenjp2-tools (scripts/install-deps)";
    }
    static void TearDownTestSuite()
    {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    void SetUp() override { old = rvd_customize_errors(&sink); }
    void TearDown() override { rvd_customize_errors(old); }

    static std::string dir;
    static ThrowingSink sink;
    rvd_message* old = nullptr;
};

std::string Jp2Streamed::dir;
ThrowingSink Jp2Streamed::sink;

} // namespace

TEST_F(Jp2Streamed, HeaderArrivesByteByByteAndMatchesTheFile)
{
    for (const char* name : {"grey8", "grey16", "rgb8", "sycc", "rgba"}) {
        SCOPED_TRACE(name);
        // Every bin the server sends, parsed as the viewer would.
        CJ2KCache full;
        CJpipParser parser;
        std::vector<fs::path> replies;
        for (auto& e : fs::directory_iterator(fs::path(dir) / name))
            replies.push_back(e.path());
        std::sort(replies.begin(), replies.end());
        for (auto& r : replies) {
            std::ifstream in(r, std::ios::binary);
            std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            processChunkBody(parser, &full, reinterpret_cast<const uint8_t*>(body.data()), body.size());
        }
        ASSERT_TRUE(parser.getStatus().imageDone);
        const std::vector<uint8_t> meta = binBytes(full, 4, 0), mainHeader = binBytes(full, 3, 0);

        // Meta-data bin 0, then the main header, one byte at a time.
        CountingCache cache;
        jp2_family_src family;
        family.open(&cache);
        jp2_source source;
        bool opened = false;
        const size_t total = meta.size() + mainHeader.size();
        for (size_t n = 0; n < total; ++n) {
            if (n < meta.size())
                cache.add_to_databin(4, 0, 0, &meta[n], int(n), 1, n + 1 == meta.size());
            else
                cache.add_to_databin(3, 0, 0, &mainHeader[n - meta.size()], int(n - meta.size()), 1, n + 1 == total);
            if (!opened)
                opened = source.open(&family, jp2_locator());
            ASSERT_EQ(opened && source.read_header(), n + 1 == total) << n;
        }
        EXPECT_EQ(cache.signatureReads, 1);

        auto info = readInfo(fs::path(dir) / (std::string(name) + ".info"));
        auto d = source.get_dimensions();
        EXPECT_EQ(d.get_height(), std::stoul(info["height"][0]));
        EXPECT_EQ(d.get_width(), std::stoul(info["width"][0]));
        EXPECT_EQ(d.get_width(), std::stoul(info["dump_width"][0]));
        EXPECT_EQ(d.get_height(), std::stoul(info["dump_height"][0]));
        ASSERT_EQ(d.get_num_components(), std::stoi(info["components"][0]));
        for (int c = 0; c < d.get_num_components(); ++c) {
            int depth = std::stoi(info["depths"][size_t(c)]);
            EXPECT_EQ(d.get_bit_depth(c), std::abs(depth));
            EXPECT_EQ(d.get_signed(c), depth < 0);
        }
        auto colour = source.get_colour();
        EXPECT_EQ(colour.get_space(), std::stoi(info["space"][0]));
        auto channels = source.get_channels();
        const int colours = colour.get_num_colours();
        EXPECT_EQ(channels.get_num_colours(), colours);
        for (int c = 0; c < colours; ++c) {
            int comp, lut, cs;
            ASSERT_TRUE(channels.get_colour_mapping(c, comp, lut, cs));
            EXPECT_EQ(std::make_tuple(comp, lut, cs), std::make_tuple(c, -1, 0));
            bool opacity = channels.get_opacity_mapping(c, comp, lut, cs);
            EXPECT_EQ(opacity, info.count("cdef") > 0);
            if (opacity) {
                EXPECT_EQ(comp, 3); // the alpha component, for every colour (Asoc 0)
            }
        }
        EXPECT_FALSE(source.get_palette().get_num_luts());

        // Through the codestream box: the main header, tile headers and precincts.
        std::vector<uint8_t> got(mainHeader.size() + 10);
        got.resize(size_t(source.read(got.data(), int(got.size()))));
        EXPECT_EQ(got, mainHeader);
        for (int64_t t = full.get_next_databin_oldest_first(1, 0, -1, false); t >= 0;
             t = full.get_next_databin_oldest_first(1, 0, t, false)) {
            std::vector<uint8_t> want = binBytes(full, 1, t);
            cache.add_to_databin(1, 0, t, want.data(), 0, int(want.size()), true);
            EXPECT_TRUE(source.set_tileheader_scope(int(t), 0));
            std::vector<uint8_t> tile(want.size() + 5);
            tile.resize(size_t(source.read(tile.data(), int(tile.size()))));
            EXPECT_EQ(tile, want) << t;
        }
        int precincts = 0;
        for (int64_t p = full.get_next_databin_oldest_first(0, 0, -1, false); p >= 0 && precincts < 40;
             p = full.get_next_databin_oldest_first(0, 0, p, false), ++precincts) {
            std::vector<uint8_t> want = binBytes(full, 0, p);
            cache.add_to_databin(0, 0, p, want.data(), 0, int(want.size()), true);
            EXPECT_TRUE(source.set_precinct_scope(p));
            std::vector<uint8_t> bytes(want.size() + 5);
            bytes.resize(size_t(source.read(bytes.data(), int(bytes.size()))));
            EXPECT_EQ(bytes, want) << p;
        }
        EXPECT_GT(precincts, 0);
    }
}
