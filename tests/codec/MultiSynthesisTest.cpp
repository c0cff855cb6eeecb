// The multi-component synthesis network on hand-described tiles: engines deliver known
// samples and the test checks what the network hands out, against values worked out
// independently (inverse colour transforms, forward transforms that the network must
// undo exactly, hand-computed matrices).
#include "codec/coding/rv_multi_synthesis.h"
#include "codec/core/rv_kernel_description.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/multi_fake_source.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

using namespace multi_test;

namespace {

fake_source three_comps(bool reversible, int depth, rvd_coords size = rvd_coords(4, 6))
{
    fake_source src;
    for (int c = 0; c < 3; ++c) {
        fake_comp fc;
        fc.reversible = reversible;
        fc.depth = fc.internal_depth = depth;
        fc.size = size;
        src.comps.push_back(fc);
        fake_output fo;
        fo.size = size;
        fo.depth = depth;
        src.outputs.push_back(fo);
    }
    return src;
}

struct network {
    std::unique_ptr<rv_multi_synthesis> engine{new rv_multi_synthesis};
    std::int64_t bytes = 0;
    network(fake_source& src, bool force_precise = false, bool skip_ycc = false,
            bool want_fastest = false, int stripe = 1)
    {
        bytes = engine->create(src, force_precise, skip_ycc, want_fastest, stripe, nullptr,
                               nullptr, false);
    }
    rvd_line_buf* line(int c) { return engine->get_line(c, nullptr); }
};

// Bytes an allocator holds for `count` lines of `width` 16-bit samples with extensions
// of 2, the shape every network line takes.
std::int64_t short_lines_bytes(int count, int width)
{
    rvd_sample_allocator alloc;
    std::vector<rvd_line_buf> lines(static_cast<std::size_t>(count));
    for (rvd_line_buf& l : lines)
        l.pre_create(&alloc, width, true, true, 2, 2);
    alloc.finalize();
    return std::int64_t(alloc.get_size());
}

} // namespace

TEST(MultiSynthesisNetwork, WithoutATransformOutputsAreTheCentredCodestreamLines)
{
    for (bool reversible : {true, false})
        for (bool precise : {false, true}) {
            fake_source src = three_comps(reversible, 8);
            src.outputs[1].is_signed = true; // no offset at all on this one
            src.add_default_stage();
            network net(src, precise);
            for (int y = 0; y < 4; ++y)
                for (int c = 0; c < 3; ++c) {
                    rvd_line_buf* l = net.line(c);
                    ASSERT_NE(l, nullptr);
                    EXPECT_EQ(l->is_absolute(), reversible);
                    EXPECT_EQ(!l->is_shorts(), precise);
                    std::vector<double> v = line_values(*l, 8);
                    for (int x = 0; x < 6; ++x)
                        ASSERT_NEAR(v[std::size_t(x)], src.samples(c, y, x), 1e-4)
                            << "row " << y << " comp " << c << " x " << x;
                }
            EXPECT_EQ(net.line(0), nullptr); // past the last row
            if (!precise) {
                // The null block stepped aside: only each component's line and its one
                // stripe buffer hold storage.
                EXPECT_EQ(net.bytes, short_lines_bytes(6, 6));
            }
        }
}

TEST(MultiSynthesisNetwork, SampleWidthDecisions)
{
    struct row {
        bool reversible;
        int internal;
        bool force, fastest;
        bool precise;
    } rows[] = {
        {true, 16, false, false, false}, {true, 16, true, false, true},
        {true, 17, false, true, true},   {false, 16, false, false, false},
        {false, 17, false, false, true}, {false, 17, false, true, false},
        {false, 12, true, true, true},
    };
    for (const row& r : rows) {
        fake_source src = three_comps(r.reversible, 8);
        for (fake_comp& c : src.comps)
            c.internal_depth = r.internal;
        src.add_default_stage();
        network net(src, r.force, false, r.fastest);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(net.engine->is_line_precise(c), r.precise)
                << r.reversible << " " << r.internal << " " << r.force << " " << r.fastest;
            EXPECT_EQ(net.engine->is_line_absolute(c), r.reversible);
        }
        for (int c : {-1, 3, 1000}) {
            EXPECT_FALSE(net.engine->is_line_precise(c));
            EXPECT_FALSE(net.engine->is_line_absolute(c));
        }
        EXPECT_EQ(net.engine->get_size(2), rvd_coords(4, 6));
    }
}

TEST(MultiSynthesisNetwork, StripeHeights)
{
    for (int stripe : {0, -5, 1}) {
        fake_source src = three_comps(true, 8);
        src.add_default_stage();
        network net(src, false, false, false, stripe);
        ASSERT_NE(net.line(0), nullptr);
        EXPECT_EQ(src.pulls[0], 1) << stripe;
        EXPECT_EQ(src.pulls[1], 0);
        EXPECT_EQ(net.bytes, short_lines_bytes(6, 6));
    }
    // A 3-row component and a stripe of 8: exactly 3 buffers, filled at once.
    fake_source src = three_comps(true, 8, rvd_coords(3, 5));
    src.add_default_stage();
    network net(src, false, false, false, 8);
    EXPECT_EQ(net.bytes, short_lines_bytes(12, 5));
    ASSERT_NE(net.line(1), nullptr);
    EXPECT_EQ(src.pulls[1], 3);
    ASSERT_NE(net.line(1), nullptr);
    ASSERT_NE(net.line(1), nullptr);
    EXPECT_EQ(src.pulls[1], 3);
    EXPECT_EQ(net.line(1), nullptr);
}

TEST(MultiSynthesisNetwork, ColourTransformOrderAndValues)
{
    std::mt19937 rng(7);
    std::vector<int> vals(3 * 4 * 6);
    for (int& v : vals)
        v = int(rng() % 511) - 255;
    for (bool precise : {false, true}) {
        fake_source src = three_comps(true, 8);
        src.ycc = true;
        src.samples = [&vals](int c, int y, int x) { return vals[std::size_t((c * 4 + y) * 6 + x)]; };
        src.add_default_stage();
        network net(src, precise);
        ASSERT_NE(net.line(0), nullptr);
        // Row 1 of output 0 needs rows 0 of outputs 1 and 2 taken first.
        EXPECT_EQ(net.line(0), nullptr);
        for (int y = 0; y < 4; ++y)
            for (int c = (y == 0 ? 1 : 0); c < 3; ++c) {
                rvd_line_buf* l = net.line(c);
                ASSERT_NE(l, nullptr) << y << " " << c;
                std::vector<double> v = line_values(*l, 8);
                for (int x = 0; x < 6; ++x) {
                    const int yy = vals[std::size_t((0 * 4 + y) * 6 + x)];
                    const int cb = vals[std::size_t((1 * 4 + y) * 6 + x)];
                    const int cr = vals[std::size_t((2 * 4 + y) * 6 + x)];
                    const int g = yy - int(std::floor((cb + cr) / 4.0));
                    const int expect[3] = {cr + g, g, cb + g};
                    ASSERT_EQ(v[std::size_t(x)], expect[c]);
                }
            }
    }
    // Skipping the colour transform leaves the lines as they are, in any order.
    fake_source src = three_comps(true, 8);
    src.ycc = true;
    src.add_default_stage();
    network net(src, false, true);
    ASSERT_NE(net.line(0), nullptr);
    ASSERT_NE(net.line(0), nullptr);
    EXPECT_EQ(line_values(*net.line(0), 8)[3], src.samples(0, 2, 3));
}

TEST(MultiSynthesisNetwork, IrreversibleColourTransform)
{
    for (bool precise : {false, true}) {
        fake_source src = three_comps(false, 8);
        src.ycc = true;
        src.add_default_stage();
        network net(src, precise);
        for (int y = 0; y < 4; ++y)
            for (int c = 0; c < 3; ++c) {
                rvd_line_buf* l = net.line(c);
                ASSERT_NE(l, nullptr);
                std::vector<double> v = line_values(*l, 8);
                for (int x = 0; x < 6; ++x) {
                    const double yy = src.samples(0, y, x), cb = src.samples(1, y, x),
                                 cr = src.samples(2, y, x);
                    const double expect[3] = {yy + 1.402 * cr, yy - 0.344136 * cb - 0.714136 * cr,
                                              yy + 1.772 * cb};
                    // 16-bit lines: within 2 of 8192 in fixed point, i.e. 2/8192 of 256.
                    ASSERT_NEAR(v[std::size_t(x)], expect[c], precise ? 1e-3 : 2 * 256.0 / 8192 + 1e-9);
                }
            }
    }
}

TEST(MultiSynthesisNetwork, RefusedConfigurations)
{
    using codec_test::codec_error;
    {
        fake_source src = three_comps(true, 8);
        src.ycc = true;
        src.comps[2].size = src.outputs[2].size = rvd_coords(2, 3);
        src.add_default_stage();
        try {
            network net(src);
            FAIL();
        } catch (const codec_error& e) {
            EXPECT_NE(std::string(e.what()).find("incompatible dimensions"), std::string::npos);
        }
    }
    {
        fake_source src = three_comps(true, 8);
        src.outputs[1].depth = 10;
        src.add_default_stage();
        try {
            network net(src);
            FAIL();
        } catch (const codec_error& e) {
            EXPECT_NE(std::string(e.what()).find("(Sprecision) to the output component (Mprecision)"),
                      std::string::npos);
        }
    }
    {
        // An irreversibly coded component cannot feed a reversible matrix.
        fake_source src = three_comps(false, 8);
        fake_stage st;
        st.num_inputs = st.num_outputs = 3;
        st.stage_inputs = {0, 1, 2};
        fake_block b;
        b.kind = block_kind::rxform;
        b.in_idx = {0, 1};
        b.out_idx = {0, 1};
        b.active = {0, 1};
        b.rx = {1, 0, 1, 0, 1, 0};
        st.blocks.push_back(b);
        fake_block nb;
        nb.in_idx = {2};
        nb.out_idx = {2};
        st.blocks.push_back(nb);
        src.stages.push_back(st);
        try {
            network net(src);
            FAIL();
        } catch (const codec_error& e) {
            EXPECT_NE(std::string(e.what()).find("treated as reversible, where other steps"),
                      std::string::npos);
        }
    }
}
