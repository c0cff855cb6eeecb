// The region decompressor on opj_compress codestreams, against opj_decompress's own
// decodes: grey at every discard level and over regions, colour in the packed form, deep
// colour at precision 8, increments and expansion.
#include "codec/core/rvd_codestream.h"
#include "codec/jp2/rvd_channel_mapping.h"
#include "codec/jp2/rvd_region_decompressor.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/multi_decode.h"
#include "tests/codec/support/region_line_source.h"
#include "tests/codec/support/test_sources.h"
#include "platform/ModuleStartup.h"
#include "tools/decode/pgx_image.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

using namespace codec_test;

namespace {

struct opened {
    explicit opened(const std::string& path) : src(read_file(path))
    {
        // Decoding needs the constant tables that module load builds.
        static const bool tables = StartupRegistry::global().load();
        EXPECT_TRUE(tables);
        cs.create(&src);
        cs.set_persistent();
    }
    ~opened() { cs.destroy(); }
    memory_source src;
    rvd_codestream cs;
};

struct reference_case {
    std::string kind, stream, ref;
    int depth = 0, reduce = 0;
    bool whole = true;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

std::vector<reference_case> decode_cases(const std::string& dir,
                                         const std::string& list = "decode_cases.txt")
{
    std::vector<reference_case> cases;
    std::ifstream in(dir + "/" + list);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        reference_case c;
        std::string x0;
        ls >> c.kind >> c.stream >> c.depth >> c.reduce >> x0;
        if (x0 == "-") {
            std::string skip;
            ls >> skip >> skip >> skip >> c.ref;
        } else {
            c.whole = false;
            c.x0 = std::stoi(x0);
            ls >> c.y0 >> c.x1 >> c.y1 >> c.ref;
        }
        if (ls)
            cases.push_back(c);
    }
    return cases;
}

struct render_result {
    std::vector<int32_t> samples; // row by row, as the caller's buffer held them
    std::vector<rvd_dims> bands;
    int calls = 0;
    bool ended = false;
    bool finished = false;
};

// One region rendered with the decode step's call pattern: the mapping (or component 0
// alone), the 8-bit form up to 8 bits, else the 16-bit form, packed for colour.
render_result render(rvd_codestream cs, rvd_channel_mapping* mapping, int discard, rvd_dims region,
                     int increment = 1000000, rvd_coords expand = rvd_coords(1, 1),
                     int max_calls = 1000000)
{
    rvd_region_decompressor d;
    render_result r;
    if (!d.start(cs, mapping, 0, discard, 0, region, expand))
        return r;
    const size_t n = size_t(region.size.y) * size_t(region.size.x);
    const int depth = cs.get_bit_depth(0, true);
    const bool is_signed = cs.get_signed(0, true);
    const bool packed = mapping != nullptr && mapping->num_channels > 1;
    std::vector<uint8_t> b8;
    std::vector<uint16_t> b16;
    std::vector<uint32_t> b32;
    const int offsets[1] = {0};
    rvd_dims incomplete = region, fresh;
    while (r.calls < max_calls) {
        r.calls++;
        bool more;
        if (packed) {
            b32.resize(n);
            more = d.process(b32.data(), region.pos, region.size.x, increment, int(n), incomplete, fresh);
        } else if (depth <= 8) {
            b8.resize(n);
            more = d.process(b8.data(), offsets, 1, region.pos, region.size.x, increment, int(n),
                             incomplete, fresh, 0, true);
        } else {
            b16.resize(n);
            more = d.process(b16.data(), offsets, 1, region.pos, region.size.x, increment, int(n),
                             incomplete, fresh, 0, true);
        }
        if (!fresh.is_empty())
            r.bands.push_back(fresh);
        if (!more && incomplete.is_empty()) {
            r.ended = true;
            break;
        }
    }
    r.finished = d.finish();
    r.samples.resize(n);
    for (size_t i = 0; i < n; ++i) {
        if (packed)
            r.samples[i] = int32_t(b32[i]);
        else if (depth <= 8)
            r.samples[i] = is_signed ? int32_t(int8_t(b8[i])) : int32_t(b8[i]);
        else
            r.samples[i] = is_signed ? int32_t(int16_t(b16[i])) : int32_t(b16[i]);
    }
    return r;
}

rvd_dims dims_at(rvd_codestream cs, int discard)
{
    cs.apply_input_restrictions(0, 0, discard, 0, nullptr, RVD_WANT_OUTPUT_COMPONENTS);
    rvd_dims d;
    cs.get_dims(0, d, true);
    return d;
}

// The samples of `part` cut from an image covering `whole`.
std::vector<int32_t> crop(const pgx_image& img, const rvd_dims& whole, const rvd_dims& part)
{
    std::vector<int32_t> out;
    for (int y = 0; y < part.size.y; ++y)
        for (int x = 0; x < part.size.x; ++x)
            out.push_back(img.samples[size_t(part.pos.y - whole.pos.y + y) * size_t(img.width) +
                                      size_t(part.pos.x - whole.pos.x + x)]);
    return out;
}

int32_t ceil_shift(int32_t v, int r) { return int32_t(-((-int64_t(v)) >> r)); }

// The area the grey references decode as a region (x0 52, y0 44, x1 212, y1 164 on the
// full-resolution canvas), as opj_decompress maps it to level r.
rvd_dims reduced_area(int r)
{
    const int x0 = ceil_shift(52, r), y0 = ceil_shift(44, r);
    return rvd_dims(rvd_coords(y0, x0), rvd_coords(ceil_shift(164, r) - y0, ceil_shift(212, r) - x0));
}

::testing::AssertionResult same_samples(const std::vector<int32_t>& got,
                                        const std::vector<int32_t>& want, int width)
{
    if (got.size() != want.size())
        return ::testing::AssertionFailure() << got.size() << " samples, expected " << want.size();
    for (size_t i = 0; i < got.size(); ++i)
        if (got[i] != want[i])
            return ::testing::AssertionFailure()
                   << "first difference at row " << i / size_t(width) << ", column "
                   << i % size_t(width) << ": " << got[i] << " instead of " << want[i];
    return ::testing::AssertionSuccess();
}

} // namespace

// Grey streams of every depth and sign the raw input takes, with odd size, image offset,
// tiles, a tile-grid offset, precincts and 0 to 5 levels: the whole image at each level
// equals opj_decompress -r R; regions whose corners are multiples of 2^R, one sample wide
// and one sample tall, equal the same part of that decode (opj's own region output is
// wrong under a tile-grid offset), and opj's region decode where it is right.
TEST(RegionDecompressorStreams, GreyMatchesReferenceAtEveryLevel)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    const std::string dir = stream_dir("region");
    std::ifstream list(dir + "/region_grey.txt");
    std::string name;
    int depth = 0, is_signed = 0, levels = 0, streams = 0;
    while (list >> name >> depth >> is_signed >> levels) {
        SCOPED_TRACE(name);
        streams++;
        opened o(dir + "/" + name + ".j2k");
        EXPECT_EQ(o.cs.get_bit_depth(0, true), depth);
        EXPECT_EQ(o.cs.get_signed(0, true), is_signed != 0);
        for (int r = 0; r <= levels; ++r) {
            SCOPED_TRACE("-r " + std::to_string(r));
            const rvd_dims full = dims_at(o.cs, r);
            const pgx_image want = read_pgx(dir + "/" + name + "_r" + std::to_string(r) + ".pgx");
            ASSERT_EQ(want.width, full.size.x);
            ASSERT_EQ(want.height, full.size.y);
            const int cx = full.pos.x + full.size.x / 3, cy = full.pos.y + full.size.y / 2;
            const std::vector<rvd_dims> regions = {
                full,
                reduced_area(r),
                rvd_dims(rvd_coords(full.pos.y, cx), rvd_coords(full.size.y, 1)),
                rvd_dims(rvd_coords(cy, full.pos.x), rvd_coords(1, full.size.x)),
            };
            for (const rvd_dims& region : regions) {
                const render_result got = render(o.cs, nullptr, r, region);
                EXPECT_TRUE(got.ended);
                EXPECT_TRUE(got.finished);
                EXPECT_TRUE(same_samples(got.samples, crop(want, full, region), region.size.x))
                    << "region " << region.pos.x << "," << region.pos.y << " size " << region.size.x
                    << "x" << region.size.y;
            }
        }
        const std::string own = dir + "/" + name + "_region.pgx";
        if (std::ifstream(own)) {
            const int r = std::min(1, levels);
            const rvd_dims region = reduced_area(r);
            const pgx_image want = read_pgx(own);
            ASSERT_EQ(want.width, region.size.x);
            ASSERT_EQ(want.height, region.size.y);
            EXPECT_TRUE(same_samples(render(o.cs, nullptr, r, region).samples, want.samples,
                                     region.size.x));
        }
    }
    EXPECT_EQ(streams, 12);
}

namespace {

// Lossless cases of a comparison list: whole images at each level and regions cut from
// the same decode.
void expect_comparison_set(const std::string& group, const std::string& list, int min_checked)
{
    const std::string dir = stream_dir(group);
    const std::vector<reference_case> cases = decode_cases(dir, list);
    ASSERT_FALSE(cases.empty());
    int checked = 0;
    for (const reference_case& c : cases) {
        if (c.kind != "rev")
            continue;
        SCOPED_TRACE(c.stream + " -r " + std::to_string(c.reduce) +
                     (c.whole ? std::string(" whole") : " region " + std::to_string(c.x0) + "," +
                                                            std::to_string(c.y0) + "," +
                                                            std::to_string(c.x1) + "," +
                                                            std::to_string(c.y1)));
        opened o(dir + "/" + c.stream + ".j2k");
        const rvd_dims full = dims_at(o.cs, c.reduce);
        rvd_dims region = full;
        std::string ref = c.ref;
        if (!c.whole) {
            const int y0 = ceil_shift(c.y0, c.reduce), x0 = ceil_shift(c.x0, c.reduce);
            region = rvd_dims(rvd_coords(y0, x0), rvd_coords(ceil_shift(c.y1, c.reduce) - y0,
                                                             ceil_shift(c.x1, c.reduce) - x0));
            if (region.is_empty())
                continue;
            ref = c.stream + "_r" + std::to_string(c.reduce) + ".pgx";
            if (!std::ifstream(dir + "/" + ref))
                continue;
        }
        const pgx_image want = read_pgx(dir + "/" + ref);
        ASSERT_EQ(want.width, full.size.x);
        ASSERT_EQ(want.height, full.size.y);
        const render_result got = render(o.cs, nullptr, c.reduce, region);
        EXPECT_TRUE(got.ended);
        EXPECT_TRUE(got.finished);
        EXPECT_TRUE(same_samples(got.samples, crop(want, full, region), region.size.x));
        checked++;
    }
    EXPECT_GT(checked, min_checked);
}

} // namespace

// The broader lossless set of the decode comparisons (odd depths, block sizes, layers,
// modes, progression orders, tiny images).
TEST(RegionDecompressorStreams, GreyMatchesDecodeComparisonSet)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    expect_comparison_set("decode", "decode_cases.txt", 100);
}

// Images one sample wide or tall and short last tiles under many levels.
TEST(RegionDecompressorStreams, GreyMatchesEdgeGeometries)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    expect_comparison_set("edges", "edge_cases.txt", 40);
}

// RGB into the packed form: bits 16-23, 8-15, 0-7 are opj's R, G and B and bits 24-31 are
// 255 for 8-bit samples; deeper samples at precision 8 are
// min(255, (v + 2^(B-9)) >> (B-8)) of opj's full-precision values.
TEST(RegionDecompressorStreams, ColourPackedForm)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    const std::string dir = stream_dir("region");
    for (const char* name : {"rgb8", "rgb8_tiles", "rgb12", "rgb16", "rgb8_layers"}) {
        SCOPED_TRACE(name);
        opened o(dir + "/" + name + ".j2k");
        rvd_channel_mapping m;
        ASSERT_TRUE(m.configure(o.cs));
        ASSERT_EQ(m.num_channels, 3);
        const rvd_dims full = dims_at(o.cs, 0);
        pgx_image ref[3];
        for (int c = 0; c < 3; ++c)
            ref[c] = read_pgx(dir + "/" + name + "_c" + std::to_string(c) + ".pgx");
        const int depth = ref[0].depth;
        auto byte_of = [depth](int32_t v) {
            return uint32_t(depth <= 8 ? v : std::min(255, (v + (1 << (depth - 9))) >> (depth - 8)));
        };
        // The whole image and a region across tiles.
        const rvd_dims part(rvd_coords(full.pos.y + full.size.y / 4, full.pos.x + full.size.x / 3),
                            rvd_coords(full.size.y / 2, full.size.x / 2));
        for (const rvd_dims& region : {full, part}) {
            const render_result got = render(o.cs, &m, 0, region, 50000);
            EXPECT_TRUE(got.ended);
            EXPECT_TRUE(got.finished);
            std::vector<int32_t> want;
            const std::vector<int32_t> r = crop(ref[0], full, region), g = crop(ref[1], full, region),
                                       b = crop(ref[2], full, region);
            for (size_t i = 0; i < r.size(); ++i)
                want.push_back(int32_t(0xFF000000u | byte_of(r[i]) << 16 | byte_of(g[i]) << 8 | byte_of(b[i])));
            EXPECT_TRUE(same_samples(got.samples, want, region.size.x));
        }
    }
}

// Increments of 1000000, 1000 and 1 give identical buffers, each sample written by exactly
// one band; each band of a single-tile image is full width and directly below the previous
// one; 2/1 expansion repeats opj's samples twice across and down.
TEST(RegionDecompressorStreams, IncrementsAndExpansion)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    const std::string dir = stream_dir("region");
    int checked = 0;
    // Single tiles: 8 bits with precincts, 12 bits with an image offset; then 128x128
    // tiles under a tile-grid offset.
    for (const std::string stream : {"grey_s8_4", "grey_u12_7", "grey_u8_3"}) {
        const bool tiled = stream == "grey_u8_3";
        SCOPED_TRACE(stream);
        opened o(dir + "/" + stream + ".j2k");
        const rvd_dims full = dims_at(o.cs, 0);
        const pgx_image want = read_pgx(dir + "/" + stream + "_r0.pgx");
        const render_result big = render(o.cs, nullptr, 0, full, 1000000);
        EXPECT_TRUE(same_samples(big.samples, want.samples, full.size.x));
        for (int increment : {1000, 1}) {
            const render_result small = render(o.cs, nullptr, 0, full, increment);
            EXPECT_TRUE(small.ended);
            EXPECT_TRUE(small.finished);
            EXPECT_EQ(small.samples, big.samples);
            EXPECT_TRUE(covers_once(full, small.bands));
            if (tiled)
                continue;
            int next_row = full.pos.y;
            for (const rvd_dims& b : small.bands) {
                EXPECT_EQ(b.pos.y, next_row);
                EXPECT_EQ(b.size.x, full.size.x);
                next_row += b.size.y;
            }
            EXPECT_EQ(next_row, full.pos.y + full.size.y);
        }
        const rvd_dims twice(rvd_coords(2 * full.pos.y, 2 * full.pos.x),
                             rvd_coords(2 * full.size.y, 2 * full.size.x));
        const render_result expanded = render(o.cs, nullptr, 0, twice, 1000000, rvd_coords(2, 2));
        std::vector<int32_t> repeated;
        for (int y = 0; y < twice.size.y; ++y)
            for (int x = 0; x < twice.size.x; ++x)
                repeated.push_back(want.samples[size_t(y / 2) * size_t(want.width) + size_t(x / 2)]);
        EXPECT_TRUE(same_samples(expanded.samples, repeated, twice.size.x));
        checked++;
    }
    EXPECT_EQ(checked, 3);
}

// The conformance codestreams that the network decodes on its own, rendered at native
// precision, equal that decode (within one for irreversible ones, whose rounding paths
// differ): components of equal sub-sampling as the channels of one mapping (pixel gap =
// number of components, so colour transforms apply), the others one at a time. Every
// render ends without a failure, so no engine ever lacks a line.
TEST(RegionDecompressorStreams, ConformanceMatchesNetworkDecode)
{
    struct file {
        const char* name;
        int components; // as the class-1 comparisons count them
        bool exact;
    };
    const std::vector<file> files = {
        {"p0_01", 1, true},  {"p0_02", 1, true},  {"p0_03", 1, true},  {"p0_04", 3, false},
        {"p0_05", 4, false}, {"p0_06", 4, false}, {"p0_08", 3, true},  {"p0_09", 1, true},
        {"p0_10", 3, true},  {"p0_11", 1, true},  {"p0_12", 1, true},  {"p0_13", 4, true},
        {"p0_14", 3, true},  {"p0_15", 1, true},  {"p0_16", 1, true},  {"p1_01", 1, true},
        {"p1_02", 3, false}, {"p1_03", 4, false}, {"p1_04", 1, false}, {"p1_05", 3, false},
        {"p1_06", 3, false}, {"p1_07", 2, true},
    };
    int rendered = 0;
    for (const file& f : files) {
        SCOPED_TRACE(f.name);
        const std::string path = conformance_dir() + "/" + f.name + ".j2k";
        const int discard = std::string(f.name) == "p0_08" ? 1 : 0;
        std::vector<multi_test::plane> want;
        {
            memory_source src(read_file(path));
            multi_test::codestream_guard g;
            g.cs.create(&src);
            g.cs.apply_input_restrictions(0, f.components, discard, 0, nullptr);
            try {
                want = multi_test::decode_through_network(g.cs, multi_test::network_options());
            } catch (const codec_error&) {
                continue; // left to the engines' own tests
            }
        }
        ASSERT_EQ(int(want.size()), f.components);
        opened o(path);
        o.cs.apply_input_restrictions(0, f.components, discard, 0, nullptr, RVD_WANT_OUTPUT_COMPONENTS);
        bool same_grid = true;
        int depth = 0;
        rvd_coords sub0, sub;
        o.cs.get_subsampling(0, sub0, true);
        for (int c = 0; c < f.components; ++c) {
            o.cs.get_subsampling(c, sub, true);
            same_grid = same_grid && sub == sub0;
            depth = std::max(depth, o.cs.get_bit_depth(c, true));
        }
        ASSERT_LE(depth, 16);
        // Each pass renders `channels` channels from `first` on, into one interleaved buffer,
        // all through the same persistent codestream.
        auto pass = [&](int first, int channels) {
            rvd_channel_mapping m;
            m.set_num_channels(channels);
            m.num_colour_channels = channels;
            for (int k = 0; k < channels; ++k) {
                m.source_components[size_t(k)] = first + k;
                m.default_rendering_precision[size_t(k)] = 0; // the component's own
            }
            o.cs.apply_input_restrictions(0, 0, discard, 0, nullptr, RVD_WANT_OUTPUT_COMPONENTS);
            rvd_dims full;
            o.cs.get_dims(first, full, true);
            rvd_region_decompressor d;
            ASSERT_TRUE(d.start(o.cs, &m, -1, discard, 0, full, rvd_coords(1, 1)));
            const size_t n = size_t(full.size.y) * size_t(full.size.x) * size_t(channels);
            std::vector<uint8_t> b8(depth <= 8 ? n : 0);
            std::vector<uint16_t> b16(depth <= 8 ? 0 : n);
            std::vector<int> offsets;
            for (int k = 0; k < channels; ++k)
                offsets.push_back(k);
            rvd_dims incomplete = full, fresh;
            int calls = 0;
            bool more = true;
            while ((more || !incomplete.is_empty()) && calls++ < 100000)
                more = depth <= 8 ? d.process(b8.data(), offsets.data(), channels, full.pos, full.size.x,
                                              1000000, int(n), incomplete, fresh, 0, true)
                                  : d.process(b16.data(), offsets.data(), channels, full.pos, full.size.x,
                                              1000000, int(n), incomplete, fresh, 0, true);
            EXPECT_TRUE(d.finish());
            for (int k = 0; k < channels; ++k) {
                const int c = first + k;
                const bool sgn = o.cs.get_signed(c, true);
                const multi_test::plane& p = want[size_t(c)];
                ASSERT_EQ(size_t(p.width) * size_t(p.height) * size_t(channels), n) << "component " << c;
                int peak = 0;
                for (size_t i = 0; i < p.samples.size(); ++i) {
                    const size_t at = i * size_t(channels) + size_t(k);
                    const int32_t v = depth <= 8 ? (sgn ? int8_t(b8[at]) : b8[at]) : (sgn ? int16_t(b16[at]) : b16[at]);
                    peak = std::max(peak, std::abs(v - p.samples[i]));
                }
                EXPECT_LE(peak, f.exact ? 0 : 1) << "component " << c;
                rendered++;
            }
        };
        if (same_grid)
            pass(0, f.components);
        else
            for (int c = 0; c < f.components; ++c)
                pass(c, 1);
    }
    EXPECT_GT(rendered, 20);
}
