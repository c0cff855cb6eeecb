// Regions rendered the way the viewer does: files streamed by the loopback server's
// offline mode, parsed into the image's cache, opened as the streamed image opens them
// (a raw codestream on the main-header bin, a JP2 file through its source), made
// persistent, mapped and rendered with the decode step's call pattern; compared with
// opj_decompress's decodes.
#include "tests/codec/support/jp2_errors.h"
#include "tests/R2IVuzi/RegionRender.h"
#include "R2IVuzi/J2KCache.h"
#include "R2IVuzi/JpipParser.h"
#include "codec/core/rvd_codestream.h"
#include "codec/jp2/jp2_family_src.h"
#include "codec/jp2/jp2_source.h"
#include "codec/jp2/rvd_channel_mapping.h"
#include "codec/jp2/rvd_region_decompressor.h"
#include "platform/ModuleStartup.h"
#include "tools/decode/pgx_image.h"

#include "tests/support/TestTools.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// One image as the viewer holds it: its cache, the JP2 source when it has one, the
// persistent codestream and the channel mapping.
struct cached_image {
    CJ2KCache cache;
    CJpipParser parser;
    jp2_family_src family;
    jp2_source source;
    rvd_codestream cs;
    rvd_channel_mapping mapping;
    bool jp2 = false;
    bool is_open = false;

    ~cached_image()
    {
        if (cs.exists())
            cs.destroy();
    }
    void feed(const fs::path& reply)
    {
        std::ifstream in(reply, std::ios::binary);
        const std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        processChunkBody(parser, &cache, reinterpret_cast<const uint8_t*>(body.data()), body.size());
    }
    // Opens the codestream once its headers have arrived; false until then.
    bool try_open()
    {
        if (is_open)
            return true;
        if (jp2) {
            if (!family.exists())
                family.open(&cache);
            if (!source.is_open() && !source.open(&family, jp2_locator()))
                return false;
            if (!source.read_header())
                return false;
            cs.create(&source);
            cs.set_persistent();
            mapping.configure(&source, false);
        } else {
            bool complete = false;
            cache.get_databin_length(RVD_MAIN_HEADER_DATABIN, 0, 0, &complete);
            if (!complete)
                return false;
            cache.set_read_scope(RVD_MAIN_HEADER_DATABIN, 0, 0);
            cs.create(&cache);
            cs.set_persistent();
            mapping.configure(cs);
        }
        is_open = true;
        return true;
    }
};

// The decode step: the whole image at level 0.
rendering render(cached_image& img, int max_calls = 1000)
{
    rvd_region_decompressor d;
    return render_level(img.cs, img.mapping, d, 0, max_calls);
}

class RegionDecompressorCache : public ::testing::Test {
public:
    static void SetUpTestSuite()
    {
        if (!OrbelTest::programOnPath("opj_compress"))
            return; // each test skips, or fails under CI, in SetUp
        std::string pattern = (fs::temp_directory_path() / "orbel-region-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        const std::string cmd = OrbelTest::pythonCommand(std::string(ORBEL_SOURCE_DIR) +
                                                          "/tests/R2IVuzi/region_fixture.py") + " '" + dir + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << "needs python3 and libopenjp2-tools (scripts/install-deps)";
        // Decoding needs the constant tables that module load builds.
        ASSERT_TRUE(StartupRegistry::global().load());
    }
    static void TearDownTestSuite()
    {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    void SetUp() override
    {
        ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
        old = rvd_customize_errors(&sink);
        customized = true;
    }
    void TearDown() override
    {
        if (customized)
            rvd_customize_errors(old);
    }
    bool customized = false;

    static std::vector<fs::path> replies(const std::string& folder)
    {
        std::vector<fs::path> out;
        for (auto& e : fs::directory_iterator(fs::path(dir) / folder))
            out.push_back(e.path());
        std::sort(out.begin(), out.end());
        return out;
    }
    // Every reply of the folder parsed, then the image opened.
    static void load(cached_image& img, const std::string& folder, bool jp2)
    {
        img.jp2 = jp2;
        for (const fs::path& p : replies(folder))
            img.feed(p);
        ASSERT_TRUE(img.parser.getStatus().imageDone);
        ASSERT_TRUE(img.try_open());
    }
    static pgx_image ref(const std::string& name, int c)
    {
        return read_pgx(dir + "/" + name + "_" + std::to_string(c) + ".pgx");
    }

    static std::string dir;
    static jp2_test::ThrowingSink sink;
    rvd_message* old = nullptr;
};

std::string RegionDecompressorCache::dir;
jp2_test::ThrowingSink RegionDecompressorCache::sink;

} // namespace

// A raw grey codestream, a palette JP2 and an RGBA JP2 with its alpha channel render
// exactly as opj_decompress decodes them.
TEST_F(RegionDecompressorCache, ExactThroughTheCache)
{
    {
        SCOPED_TRACE("raw grey codestream");
        cached_image img;
        load(img, "grey8", false);
        ASSERT_EQ(img.mapping.num_channels, 1);
        const rendering r = render(img);
        EXPECT_TRUE(r.ended);
        EXPECT_TRUE(r.finished);
        const pgx_image want = ref("grey8", 0);
        ASSERT_EQ(r.pixels.size(), want.samples.size());
        for (size_t i = 0; i < want.samples.size(); ++i)
            ASSERT_EQ(int(r.pixels[i]), want.samples[i]) << i;
    }
    for (const char* name : {"palette", "rgba"}) {
        SCOPED_TRACE(name);
        cached_image img;
        load(img, name, true);
        const bool alpha = std::string(name) == "rgba";
        ASSERT_EQ(img.mapping.num_channels, alpha ? 4 : 3);
        ASSERT_EQ(img.mapping.num_colour_channels, 3);
        EXPECT_EQ(img.mapping.palette_bits, alpha ? 0 : 8);
        const rendering r = render(img);
        EXPECT_TRUE(r.ended);
        EXPECT_TRUE(r.finished);
        for (int c = 0; c < (alpha ? 4 : 3); ++c) {
            const pgx_image want = ref(name, c);
            ASSERT_EQ(r.pixels.size(), want.samples.size());
            for (size_t i = 0; i < want.samples.size(); ++i)
                ASSERT_EQ(channel_of(r.pixels[i], c), want.samples[i]) << "channel " << c << " at " << i;
        }
        if (!alpha) {
            for (uint32_t px : r.pixels)
                ASSERT_EQ(px >> 24, 255u);
        }
    }
}

// Converted colour spaces. 4:2:0 sYCC (converted after vertical expansion) within 3 of
// opj_decompress's own conversion and below 1 on average. e-sYCC and CMYK against values
// computed here from the source samples (opj converts e-sYCC without the doubled chroma
// scale, and truncates CMYK): e-sYCC decodes chroma at twice the sYCC scale, CMYK gives
// 255 (1 - C)(1 - K). The measured figures are recorded as test properties.
TEST_F(RegionDecompressorCache, ConvertedSpacesNearReference)
{
    const int w = 97;
    // The fixture's CMYK planes; e-sYCC takes the first three.
    auto plane = [w](int c, size_t i) { return double((int(i) % w * (c + 3) + int(i) / w * (5 - c)) & 255); };
    auto clip = [](double v) { return std::min(255.0, std::max(0.0, v)); };
    for (const char* name : {"sycc", "esycc", "cmyk"}) {
        SCOPED_TRACE(name);
        const std::string space = name;
        cached_image img;
        load(img, name, true);
        ASSERT_GE(img.mapping.num_colour_channels, 3);
        const rendering r = render(img);
        EXPECT_TRUE(r.ended);
        EXPECT_TRUE(r.finished);
        int peak = 0;
        double sum = 0;
        for (int c = 0; c < 3; ++c) {
            const pgx_image want = ref(name, c);
            ASSERT_EQ(r.pixels.size(), want.samples.size());
            for (size_t i = 0; i < want.samples.size(); ++i) {
                double v = want.samples[i];
                if (space == "esycc") {
                    const double y = plane(0, i), cb = 2 * (plane(1, i) - 128), cr = 2 * (plane(2, i) - 128);
                    const double rgb[3] = {y + 1.402 * cr, y - 0.344136 * cb - 0.714136 * cr, y + 1.772 * cb};
                    v = std::lround(clip(rgb[c]));
                } else if (space == "cmyk") {
                    v = std::lround(255 * (1 - plane(c, i) / 255) * (1 - plane(3, i) / 255));
                }
                const int e = std::abs(channel_of(r.pixels[i], c) - int(v));
                peak = std::max(peak, e);
                sum += e;
            }
        }
        const double mean = sum / (3.0 * double(r.pixels.size()));
        RecordProperty(space + "_peak", peak);
        RecordProperty(space + "_mean_x1000", int(mean * 1000));
        EXPECT_LE(peak, 3);
        EXPECT_LT(mean, 1.0);
    }
}

// CIELab (8-bit default ranges, D50) and restricted ICC input profiles (grey with gamma
// 1.8; wide-gamut RGB colorants with gamma and sampled tone curves) within 8 of
// opj_decompress's conversion (its 16-bit Lab samples brought to 8 bits; grey ICC comes
// out as three equal components) and below 3 on average: the two adapt the white point
// differently. The ICC references must differ from the unconverted samples, or the
// reference decoder was built without colour management.
TEST_F(RegionDecompressorCache, CieLabAndIccNearReference)
{
    const int w = 97;
    auto source = [w](const std::string& space, int c, size_t i) {
        const int x = int(i) % w, y = int(i) / w;
        return space == "iccgrey" ? (x * 5 + y * 3 + (x * y) / 7) & 255 : (x * (c + 3) + y * (5 - c)) & 255;
    };
    for (const char* name : {"lab", "iccgrey", "iccrgb"}) {
        SCOPED_TRACE(name);
        const std::string space = name;
        const int colours = space == "iccgrey" ? 1 : 3;
        cached_image img;
        load(img, name, true);
        ASSERT_EQ(img.mapping.num_colour_channels, colours);
        ASSERT_TRUE(img.mapping.colour_converter.is_non_trivial());
        const rendering r = render(img);
        EXPECT_TRUE(r.ended);
        EXPECT_TRUE(r.finished);
        int peak = 0;
        double sum = 0, moved = 0;
        for (int c = 0; c < colours; ++c) {
            const pgx_image want = ref(name, c);
            ASSERT_EQ(r.pixels.size(), want.samples.size());
            const double top = double((int64_t(1) << want.depth) - 1);
            for (size_t i = 0; i < want.samples.size(); ++i) {
                const int v = int(std::lround(want.samples[i] * 255.0 / top));
                const int got = colours == 1 ? int(r.pixels[i]) : channel_of(r.pixels[i], c);
                peak = std::max(peak, std::abs(got - v));
                sum += std::abs(got - v);
                moved += std::abs(v - source(space, c, i));
            }
        }
        const double n = double(colours) * double(r.pixels.size());
        if (space != "lab") {
            ASSERT_GT(moved / n, 4.0) << "opj_decompress ignored the ICC profile";
        }
        const double mean = sum / n;
        RecordProperty(space + "_peak", peak);
        RecordProperty(space + "_mean_x1000", int(mean * 1000));
        EXPECT_LE(peak, 8);
        EXPECT_LT(mean, 3.0);
    }
}

// Replies of 512 and of 10240 bytes fed one at a time: after each, a whole render ends
// without failure within a bounded number of calls; after the last it equals
// opj_decompress exactly.
TEST_F(RegionDecompressorCache, ProgressiveArrival)
{
    pgx_image want[3] = {ref("layers", 0), ref("layers", 1), ref("layers", 2)};
    for (int len : {512, 10240}) {
        SCOPED_TRACE(len);
        cached_image img;
        const std::vector<fs::path> parts = replies("layers_" + std::to_string(len));
        ASSERT_GT(parts.size(), 2u);
        rendering last;
        int rendered = 0;
        for (const fs::path& p : parts) {
            img.feed(p);
            if (!img.try_open())
                continue;
            last = render(img, 200);
            ASSERT_TRUE(last.ended) << p;
            ASSERT_TRUE(last.finished) << p;
            rendered++;
        }
        EXPECT_TRUE(img.parser.getStatus().imageDone);
        EXPECT_GT(rendered, len == 512 ? 10 : 1);
        for (int c = 0; c < 3; ++c) {
            ASSERT_EQ(last.pixels.size(), want[c].samples.size());
            for (size_t i = 0; i < want[c].samples.size(); ++i)
                ASSERT_EQ(channel_of(last.pixels[i], c), want[c].samples[i]) << "channel " << c << " at " << i;
        }
    }
}

// A codestream whose SOTs announce one tile-part fewer than each tile has renders through
// the server and the cache exactly as opj_decompress decodes the stream with true counts.
TEST_F(RegionDecompressorCache, ShortTilePartCountsRenderAsTheTrueCounts)
{
    cached_image img;
    load(img, "shortcount", false);
    const rendering r = render(img);
    EXPECT_TRUE(r.ended);
    EXPECT_TRUE(r.finished);
    for (int c = 0; c < 3; ++c) {
        const pgx_image want = ref("tparts", c);
        ASSERT_EQ(r.pixels.size(), want.samples.size());
        for (size_t i = 0; i < want.samples.size(); ++i)
            ASSERT_EQ(channel_of(r.pixels[i], c), want.samples[i]) << "channel " << c << " at " << i;
    }
}
