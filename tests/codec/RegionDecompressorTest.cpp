// The region decompressor over hand-built codestreams whose tiles serve known sample
// patterns: regions at every discard level and tiling, the three output forms, increments,
// expansion, sub-sampled channels, failure paths and the set-up errors.
#include "codec/core/rvd_codestream.h"
#include "codec/jp2/rvd_channel_mapping.h"
#include "codec/jp2/rvd_region_decompressor.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/codestream_bytes.h"
#include "tests/codec/support/region_line_source.h"
#include "tests/codec/support/test_sources.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

using namespace codec_test;

namespace {

struct opened {
    explicit opened(std::vector<uint8_t> bytes) : src(std::move(bytes))
    {
        cs.create(&src);
        cs.set_persistent();
    }
    ~opened() { cs.destroy(); }
    memory_source src;
    rvd_codestream cs;
};

siz_geometry image(uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1, uint32_t tile_w,
                   uint32_t tile_h, int precision, bool is_signed, int num_comps = 1)
{
    siz_geometry g;
    g.xosiz = x0;
    g.yosiz = y0;
    g.xsiz = x1;
    g.ysiz = y1;
    g.xtsiz = tile_w;
    g.ytsiz = tile_h;
    g.xtosiz = 0;
    g.ytosiz = 0;
    g.comps.assign(size_t(num_comps), siz_geometry::comp());
    for (auto& c : g.comps) {
        c.precision = precision;
        c.is_signed = is_signed;
    }
    return g;
}

std::vector<uint8_t> stream(const siz_geometry& g, int levels = 5)
{
    return build_stream(g, {cod_segment(levels), qcd_segment(levels)});
}

struct outcome {
    std::vector<rvd_dims> bands;
    int calls = 0;
    bool ended = false;       // a call returned false with an empty incomplete region
    bool finish_result = false;
};

// The decode step's loop: call until a call returns false with an empty incomplete
// region, at most max_calls times; then finish.
outcome drive(rvd_region_decompressor& d, rvd_dims region,
              const std::function<bool(rvd_dims&, rvd_dims&)>& call, int max_calls = 200000)
{
    outcome o;
    rvd_dims incomplete = region, fresh;
    while (o.calls < max_calls) {
        o.calls++;
        const bool more = call(incomplete, fresh);
        if (!fresh.is_empty())
            o.bands.push_back(fresh);
        if (!more && incomplete.is_empty()) {
            o.ended = true;
            break;
        }
    }
    o.finish_result = d.finish();
    return o;
}

int64_t pattern_at(const region_pattern& p, int k, int64_t y, int64_t x, int depth, bool is_signed)
{
    return p.value(k, y, x, depth) + (is_signed ? 0 : int64_t(1) << (depth - 1));
}

rvd_dims full_dims(opened& o, int discard)
{
    o.cs.apply_input_restrictions(0, 0, discard, 0, nullptr, RVD_WANT_OUTPUT_COMPONENTS);
    rvd_dims d;
    o.cs.get_dims(0, d, true);
    return d;
}

const std::string kLead = "Error in Ravade Region Decompressor:\n";

// Whitespace runs read as one blank (line wrapping belongs to the formatter).
std::string norm(const std::string& t)
{
    std::string out;
    for (char ch : t) {
        const bool space = ch == ' ' || ch == '\n' || ch == '\t';
        if (!space)
            out += ch;
        else if (!out.empty() && out.back() != ' ')
            out += ' ';
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

// The error text without its lead-in.
std::string region_error(const std::function<void()>& f)
{
    std::string t = error_text(f);
    EXPECT_EQ(t.compare(0, kLead.size(), kLead), 0) << t;
    return norm(t.substr(std::min(t.size(), kLead.size())));
}

} // namespace

// Expansion 2/1 repeats every sample twice across and every line twice down; a channel
// from a component sub-sampled by 2 is expanded to the reference grid the same way;
// 3/2 keeps constants constant and ramps monotonic.
TEST(RegionDecompressor, ExpansionAndSubsampling)
{
    {
        opened o(stream(image(0, 0, 21, 13, 8, 8, 8, false)));
        pattern_region_decompressor d;
        const rvd_dims region(rvd_coords(0, 0), rvd_coords(26, 42));
        ASSERT_TRUE(d.start(o.cs, nullptr, 0, 0, 0, region, rvd_coords(2, 2)));
        std::vector<uint8_t> buf(size_t(26) * 42, 0);
        const int offsets[1] = {0};
        outcome out = drive(d, region, [&](rvd_dims& inc, rvd_dims& fresh) {
            return d.process(buf.data(), offsets, 1, region.pos, 42, 100, int(buf.size()), inc, fresh, 0, true);
        });
        EXPECT_TRUE(out.finish_result);
        EXPECT_TRUE(covers_once(region, out.bands));
        for (int y = 0; y < 26; ++y)
            for (int x = 0; x < 42; ++x)
                ASSERT_EQ(buf[size_t(y) * 42 + size_t(x)], pattern_at(d.pattern, 0, y / 2, x / 2, 8, false))
                    << y << "," << x;
    }
    {
        siz_geometry g = image(0, 0, 30, 22, 16, 16, 8, false, 2);
        g.comps[1].xr = 2;
        g.comps[1].yr = 2;
        opened o(stream(g));
        rvd_channel_mapping m;
        m.set_num_channels(2);
        m.num_colour_channels = 2;
        m.source_components[0] = 0;
        m.source_components[1] = 1;
        pattern_region_decompressor d;
        d.pattern.lock_first_three = false; // components of different sizes share no transform
        const rvd_dims region(rvd_coords(3, 1), rvd_coords(17, 28));
        ASSERT_TRUE(d.start(o.cs, &m, -1, 0, 0, region, rvd_coords(1, 1)));
        std::vector<uint8_t> buf(size_t(17) * 28 * 2, 0);
        const int offsets[2] = {0, 1};
        outcome out = drive(d, region, [&](rvd_dims& inc, rvd_dims& fresh) {
            return d.process(buf.data(), offsets, 2, region.pos, 28, 200, int(buf.size()), inc, fresh, 0, true);
        });
        EXPECT_TRUE(out.finish_result);
        for (int y = 0; y < 17; ++y)
            for (int x = 0; x < 28; ++x) {
                const int cy = region.pos.y + y, cx = region.pos.x + x;
                const size_t i = (size_t(y) * 28 + size_t(x)) * 2;
                ASSERT_EQ(buf[i], pattern_at(d.pattern, 0, cy, cx, 8, false)) << y << "," << x;
                ASSERT_EQ(buf[i + 1], pattern_at(d.pattern, 1, cy / 2, cx / 2, 8, false)) << y << "," << x;
            }
    }
    for (int flat = 0; flat < 2; ++flat) {
        opened o(stream(image(0, 0, 20, 12, 8, 8, 8, false)));
        pattern_region_decompressor d;
        d.pattern.value = [flat](int, int64_t y, int64_t x, int) { return flat ? -37 : 3 * x - 60 + y; };
        // 3/2 over 20x12 samples: canvas 0..ceil((20 * 3 - 1) / 2) = 30 by 18.
        const rvd_dims region(rvd_coords(0, 0), rvd_coords(18, 30));
        ASSERT_TRUE(d.start(o.cs, nullptr, 0, 0, 0, region, rvd_coords(3, 3), rvd_coords(2, 2)));
        std::vector<uint8_t> buf(size_t(18) * 30, 0);
        const int offsets[1] = {0};
        outcome out = drive(d, region, [&](rvd_dims& inc, rvd_dims& fresh) {
            return d.process(buf.data(), offsets, 1, region.pos, 30, 1000000, int(buf.size()), inc, fresh, 0, true);
        });
        EXPECT_TRUE(out.finish_result);
        EXPECT_TRUE(covers_once(region, out.bands));
        for (int y = 0; y < 18; ++y)
            for (int x = 0; x < 30; ++x) {
                const uint8_t v = buf[size_t(y) * 30 + size_t(x)];
                if (flat) {
                    ASSERT_EQ(v, 128 - 37);
                    continue;
                }
                if (x > 0) {
                    ASSERT_LE(buf[size_t(y) * 30 + size_t(x - 1)], v) << y << "," << x;
                }
                if (y > 0) {
                    ASSERT_LE(buf[size_t(y - 1) * 30 + size_t(x)], v) << y << "," << x;
                }
            }
    }
}

// Refused banks, engines without lines and buffers too small for one row each end the
// region: process returns false with an empty incomplete region within a few calls,
// finish returns false, and the next start works.
TEST(RegionDecompressor, FailuresEndTheRegion)
{
    opened o(stream(image(0, 0, 40, 30, 16, 16, 8, false), 2));
    const rvd_dims whole = full_dims(o, 0);
    const int offsets[1] = {0};
    std::vector<uint8_t> buf(size_t(40) * 30, 0);
    auto run = [&](pattern_region_decompressor& d, int discard, int max_pixels, int row_gap) {
        const rvd_dims region = full_dims(o, discard);
        EXPECT_TRUE(d.start(o.cs, nullptr, 0, discard, 0, region, rvd_coords(1, 1)));
        return drive(d, region, [&](rvd_dims& inc, rvd_dims& fresh) {
            return d.process(buf.data(), offsets, 1, region.pos, row_gap, 1000, max_pixels, inc, fresh, 0, true);
        }, 50);
    };
    {
        pattern_region_decompressor d;
        outcome out = run(d, 3, int(buf.size()), whole.size.x); // 2 levels only
        EXPECT_TRUE(out.ended);
        EXPECT_LE(out.calls, 2);
        EXPECT_FALSE(out.finish_result);
        out = run(d, 2, int(buf.size()), whole.size.x);
        EXPECT_TRUE(out.ended);
        EXPECT_TRUE(out.finish_result);
    }
    {
        pattern_region_decompressor d;
        d.pattern.fail_after_rows = 5;
        outcome out = run(d, 0, int(buf.size()), whole.size.x);
        EXPECT_TRUE(out.ended);
        EXPECT_FALSE(out.finish_result);
        d.pattern.fail_after_rows = -1;
        out = run(d, 0, int(buf.size()), whole.size.x);
        EXPECT_TRUE(out.finish_result);
        EXPECT_TRUE(covers_once(whole, out.bands));
    }
    {
        // Packed rows (row gap 0) with room for less than one row.
        pattern_region_decompressor d;
        outcome out = run(d, 0, whole.size.x - 1, 0);
        EXPECT_TRUE(out.ended);
        EXPECT_EQ(out.calls, 1);
        EXPECT_TRUE(out.bands.empty());
        EXPECT_FALSE(out.finish_result);
        out = run(d, 0, whole.size.x, 0);
        EXPECT_TRUE(out.finish_result);
        // Room for one row: every band is one row, packed at the buffer's start, so the
        // last image row is what remains there.
        for (const rvd_dims& b : out.bands)
            EXPECT_EQ(b.size.y, 1);
        for (int x = 0; x < whole.size.x; ++x)
            EXPECT_EQ(buf[size_t(x)], pattern_at(d.pattern, 0, whole.size.y - 1, x, 8, false));
    }
}

// The ratio reduction and the rendering rule on hand-computed cases, and start's full
// image under a 3/2 expansion.
TEST(RegionDecompressor, RatiosAndRenderingRule)
{
    int64_t n = 6, d = 3;
    EXPECT_TRUE(rv_region_reduce_ratio(n, d));
    EXPECT_EQ(n, 2);
    EXPECT_EQ(d, 1);
    n = 6, d = 4; // small terms are kept as given
    EXPECT_TRUE(rv_region_reduce_ratio(n, d));
    EXPECT_EQ(n, 6);
    EXPECT_EQ(d, 4);
    n = int64_t(3) << 32, d = int64_t(2) << 32;
    EXPECT_TRUE(rv_region_reduce_ratio(n, d));
    EXPECT_EQ(n, 3);
    EXPECT_EQ(d, 2);
    n = int64_t(2147483647) * 3, d = 2;
    EXPECT_FALSE(rv_region_reduce_ratio(n, d));
    n = 0, d = 1;
    EXPECT_FALSE(rv_region_reduce_ratio(n, d));
    n = 1, d = 0;
    EXPECT_FALSE(rv_region_reduce_ratio(n, d));

    int32_t s, e;
    rv_region_render_axis(1, 5, 3, 2, s, e);
    EXPECT_EQ(s, 1);
    EXPECT_EQ(e, 7);
    rv_region_render_axis(-5, -1, 3, 2, s, e); // floor and ceiling below zero
    EXPECT_EQ(s, -8);
    EXPECT_EQ(e, -2);
    rv_region_render_axis(3, 9, 1, 1, s, e);
    EXPECT_EQ(s, 3);
    EXPECT_EQ(e, 9);

    // A component from 1 to 5 on both axes renders to 1..7 at 3/2.
    opened o(stream(image(1, 1, 5, 5, 5, 5, 8, false)));
    pattern_region_decompressor dec;
    const rvd_dims canvas(rvd_coords(1, 1), rvd_coords(6, 6));
    EXPECT_TRUE(dec.start(o.cs, nullptr, 0, 0, 0, canvas, rvd_coords(3, 3), rvd_coords(2, 2)));
    EXPECT_TRUE(dec.finish());
    rvd_dims bigger = canvas;
    bigger.size.x++;
    EXPECT_NE(region_error([&] { dec.start(o.cs, nullptr, 0, 0, 0, bigger, rvd_coords(3, 3), rvd_coords(2, 2)); })
                  .find("does not lie fully within"),
              std::string::npos);
}

// What start refuses, each with its own text; the request beside each refusal that only
// just stays legal is accepted, so a bound moved by one shows.
TEST(RegionDecompressor, StartRefusesWhatItCannotRender)
{
    opened o(stream(image(0, 0, 20, 12, 8, 8, 8, false)));
    const rvd_dims whole = full_dims(o, 0);
    rvd_channel_mapping one_colour, two_colours;
    for (rvd_channel_mapping* m : {&one_colour, &two_colours}) {
        m->set_num_channels(1);
        m->source_components[0] = 0;
    }
    one_colour.num_colour_channels = 1;
    two_colours.num_colour_channels = 2;
    rvd_dims flat = whole;
    flat.size.y = -1;
    rvd_dims empty = whole;
    empty.size.y = 0;
    struct request {
        const char* what;
        rvd_channel_mapping* mapping;
        int single;
        rvd_dims region;
        rvd_coords num, den;
        const char* error; // a fragment of the text, or nullptr when accepted
    } requests[] = {
        {"the only component", nullptr, 0, whole, {1, 1}, {1, 1}, nullptr},
        {"a component past the last", nullptr, 1, whole, {1, 1}, {1, 1}, "`single_component' argument"},
        {"one colour channel of one", &one_colour, -1, whole, {1, 1}, {1, 1}, nullptr},
        {"two colour channels of one", &two_colours, -1, whole, {1, 1}, {1, 1}, "more colour channels"},
        {"no rows", nullptr, 0, empty, {1, 1}, {1, 1}, nullptr},
        {"negative height", nullptr, 0, flat, {1, 1}, {1, 1}, "does not lie fully within"},
        {"reduced horizontally", nullptr, 0, whole, {2, 1}, {2, 2}, "must be no less than 1"},
        {"reduced vertically", nullptr, 0, whole, {1, 2}, {2, 2}, "must be no less than 1"},
    };
    for (const request& r : requests) {
        SCOPED_TRACE(r.what);
        pattern_region_decompressor d;
        if (r.error == nullptr) {
            EXPECT_TRUE(d.start(o.cs, r.mapping, r.single, 0, 0, r.region, r.num, r.den));
            EXPECT_TRUE(d.finish());
            continue;
        }
        EXPECT_NE(region_error([&] { d.start(o.cs, r.mapping, r.single, 0, 0, r.region, r.num, r.den); })
                      .find(r.error),
                  std::string::npos);
    }
}
