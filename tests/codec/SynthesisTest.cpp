// The inverse wavelet engine against a textbook forward transform written here in double
// precision: subbands go in through fake leaves, the image must come back exactly (5/3)
// or within a small tolerance (9/7), whole or over a region, for odd sizes and offsets,
// one-direction splits and 1 to 7 levels.
#include "codec/coding/rv_synthesis.h"
#include "codec/core/rvd_kernels.h"
#include "codec/core/rvd_processor.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/processor_form.h"
#include "tests/codec/support/reference_dwt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace reference_dwt;

struct kernel_info {
    rv_synthesis_direction dir;
    int low_min = 0, low_max = 0, high_min = 0, high_max = 0;
};

kernel_info kernel_of(bool reversible)
{
    rvd_kernels k;
    k.init(reversible ? 1 : 0, reversible);
    kernel_info ki;
    ki.dir.num_steps = k.get_num_steps();
    for (int s = 0; s < k.get_num_steps(); s++) {
        ki.dir.steps.push_back(k.get_steps()[s]);
        for (int t = 0; t < k.get_steps()[s].support_length; t++)
            ki.dir.coefficients.push_back(k.get_coefficients()[t * k.get_num_steps() + s]);
    }
    ki.dir.low_gain = k.get_low_scale();
    ki.dir.high_gain = k.get_high_scale();
    ki.dir.symmetric_extension = true;
    if (!reversible) {
        double lo = 0, hi = 0;
        const double* g = k.get_bibo_gains(0, 0, nullptr, lo, hi);
        ki.dir.bibo_gains.push_back(1.0);
        for (int s = 0; s < k.get_num_steps(); s++)
            ki.dir.bibo_gains.push_back(g[s]);
    }
    int half = 0;
    k.get_impulse_response(2, half, &ki.low_min, &ki.low_max);
    k.get_impulse_response(3, half, &ki.high_min, &ki.high_max);
    return ki;
}

struct mode {
    bool reversible;
    bool shorts;
    bool columns_first = false; // the synthesis's order
};

// A subband as a leaf engine: rows of the band from the child region's first row, each
// coefficient times the gains the codec's normalised bands carry and the normalisation
// the parent asks for.
class fake_leaf : public rvd_pull_ifc_base {
public:
    fake_leaf(const plane& band, rvd_dims region, double multiplier, mode m)
        : band(band), region(region), multiplier(multiplier), m(m)
    {
    }
    void start(rvd_thread_env*) override {}
    void pull(rvd_line_buf& line, rvd_thread_env*) override
    {
        ASSERT_LT(next, region.size.y);
        ASSERT_GE(line.get_width(), region.size.x);
        int y = region.pos.y + next++;
        for (int j = 0; j < region.size.x; j++) {
            double v = band.at(y, region.pos.x + j);
            if (m.reversible && m.shorts)
                line.get_buf16()[j] = std::int16_t(v);
            else if (m.reversible)
                line.get_buf32()[j].ival = std::int32_t(v);
            else if (m.shorts)
                line.get_buf16()[j] = std::int16_t(std::lround(std::max(-32768.0, std::min(32767.0, v * multiplier * 8192.0))));
            else
                line.get_buf32()[j].fval = float(v * multiplier);
        }
    }

private:
    plane band;
    rvd_dims region;
    double multiplier;
    mode m;
    int next = 0;
};

struct level_split {
    bool h, v;
};

struct tree_builder {
    mode m;
    kernel_info k;
    std::vector<level_split> splits;
    bool crop_children = false;
    rvd_sample_allocator* alloc = nullptr;
    std::vector<rv_synthesis*> nodes;

    // Child region needed for the node region `r` (grown by the synthesis supports),
    // within the band's full extent.
    rvd_dims grown(const rvd_dims& r, const rvd_dims& full, int c, const level_split& s) const
    {
        if (!crop_children)
            return full;
        rvd_dims g = full;
        auto grow = [&](int start, int size, bool high, int& pos, int& count) {
            int smin = high ? k.high_min : k.low_min, smax = high ? k.high_max : k.low_max;
            int b = high ? 1 : 0;
            int first = ceil_half(start - b - smax), last = floor_half(start + size - 1 - b - smin);
            pos = first;
            count = std::max(0, last - first + 1);
        };
        if (s.v)
            grow(r.pos.y, r.size.y, (c & 2) != 0, g.pos.y, g.size.y);
        else {
            g.pos.y = r.pos.y;
            g.size.y = r.size.y;
        }
        if (s.h)
            grow(r.pos.x, r.size.x, (c & 1) != 0, g.pos.x, g.size.x);
        else {
            g.pos.x = r.pos.x;
            g.size.x = r.size.x;
        }
        return g & full;
    }

    rvd_pull_ifc_base* build(const plane& img, rvd_dims region, size_t level, float norm)
    {
        const level_split& s = splits[level];
        bands b = analyse2d(img, s.h, s.v, m.reversible, m.columns_first);
        rv_synthesis_shape shape;
        shape.region = region;
        shape.reversible = m.reversible;
        shape.kernel_id = m.reversible ? 1 : 0;
        shape.horz = shape.vert = k.dir;
        shape.vertical_first = m.columns_first;
        for (int c = 0; c < 4; c++) {
            shape.child_exists[c] = !((c & 1) && !s.h) && !((c & 2) && !s.v);
            if (shape.child_exists[c])
                shape.child_dims[c] = grown(region, b.b[c].dims, c, s);
        }
        const bool many_rows = s.v && img.dims.size.y > 1;
        const bool many_cols = s.h && img.dims.size.x > 1;
        // Bands carry the kernel's normalising gains; the next level analyses the
        // normalised LL band.
        auto gain = [&](int c) {
            double g = 1.0;
            if (!m.reversible) {
                if (many_rows)
                    g *= (c & 2) ? k.dir.high_gain : k.dir.low_gain;
                if (many_cols)
                    g *= (c & 1) ? k.dir.high_gain : k.dir.low_gain;
            }
            return g;
        };
        auto maker = [&](int c, float n) -> rvd_pull_ifc_base* {
            if (c == 0 && level + 1 < splits.size()) {
                plane ll = b.b[0];
                for (double& v : ll.v)
                    v *= gain(0);
                return build(ll, shape.child_dims[0], level + 1, n);
            }
            return new fake_leaf(b.b[c], shape.child_dims[c], n * gain(c), m);
        };
        auto* node = new rv_synthesis(shape, maker, alloc, m.shorts, norm, 0);
        nodes.push_back(node);
        return node;
    }
};

struct run_result {
    double peak = 0.0;      // largest error in units of the image's sample step
    int upshift_sum = 0;
    int max_records = 0;    // line records of the top node
};

// Decomposes an image of `image` dims (samples of `bits` bits, random), rebuilds the
// `region` through the engine and returns the peak error.
run_result round_trip(mode m, rvd_dims image, rvd_dims region, std::vector<level_split> splits,
                      bool crop_children, int bits, unsigned seed)
{
    rv_init_w97_consts(); // normally a start-up step of the module
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dist(-(1 << (bits - 1)), (1 << (bits - 1)) - 1);
    plane img(image);
    double step = m.reversible ? 1.0 : std::ldexp(1.0, -bits);
    for (double& v : img.v)
        v = dist(rng) * step;
    rvd_sample_allocator alloc;
    tree_builder tb;
    tb.m = m;
    tb.k = kernel_of(m.reversible);
    tb.splits = splits;
    tb.crop_children = crop_children;
    tb.alloc = &alloc;
    rvd_pull_ifc top(tb.build(img, region, 0, 1.0f));
    rvd_line_buf out;
    out.pre_create(&alloc, region.size.x, m.reversible, m.shorts, 0, 0);
    alloc.finalize();
    out.create();
    top.start(nullptr);
    run_result r;
    for (rv_synthesis* n : tb.nodes)
        r.upshift_sum += n->get_upshift();
    r.max_records = tb.nodes.back()->get_num_line_records();
    for (int y = region.pos.y; y < region.pos.y + region.size.y; y++) {
        top.pull(out, nullptr);
        for (int j = 0; j < region.size.x; j++) {
            double want = img.at(y, region.pos.x + j);
            double got;
            if (m.reversible)
                got = m.shorts ? out.get_buf16()[j] : out.get_buf32()[j].ival;
            else
                got = m.shorts ? out.get_buf16()[j] / 8192.0 : out.get_buf32()[j].fval;
            r.peak = std::max(r.peak, std::fabs(got - want) / step);
            if (m.reversible && got != want) {
                ADD_FAILURE() << "row " << y << " col " << region.pos.x + j << ": " << got
                              << " != " << want;
                return r;
            }
        }
    }
    EXPECT_LE(alloc.get_bytes_used(), alloc.get_size());
    return r;
}

std::vector<level_split> mallat(int levels) { return std::vector<level_split>(size_t(levels), {true, true}); }

// Restores the processor level however the test ends.
struct mmx_level_guard : codec_test::processor_form_guard {
    mmx_level_guard() : processor_form_guard(rvd_mmx_level) {}
};

const rvd_dims sizes[] = {
    rvd_dims(rvd_coords(0, 0), rvd_coords(47, 61)),  rvd_dims(rvd_coords(3, 5), rvd_coords(29, 37)),
    rvd_dims(rvd_coords(1, 0), rvd_coords(1, 33)),   rvd_dims(rvd_coords(0, 7), rvd_coords(33, 1)),
    rvd_dims(rvd_coords(5, 3), rvd_coords(1, 1)),    rvd_dims(rvd_coords(0, 0), rvd_coords(64, 64)),
    rvd_dims(rvd_coords(7, 9), rvd_coords(2, 3)),    rvd_dims(rvd_coords(11, 2), rvd_coords(126, 17)),
};

TEST(Synthesis, ReversibleRoundTripsAreExact)
{
    for (bool shorts : {false, true})
        for (const rvd_dims& d : sizes)
            for (int levels = 1; levels <= 7; levels++) {
                SCOPED_TRACE(std::to_string(d.size.y) + "x" + std::to_string(d.size.x) + " at " +
                             std::to_string(d.pos.y) + "," + std::to_string(d.pos.x) +
                             " levels " + std::to_string(levels) + (shorts ? " 16-bit" : " 32-bit"));
                round_trip({true, shorts}, d, d, mallat(levels), false, shorts ? 12 : 20,
                           unsigned(levels * 131 + d.size.x));
            }
}

TEST(Synthesis, IrreversibleRoundTripsStayWithinTolerance)
{
    mmx_level_guard guard;
    for (int level : {0, 2}) {
        rvd_mmx_level = level;
        for (bool shorts : {false, true})
            for (const rvd_dims& d : sizes)
                for (int levels : {1, 2, 3, 5, 7}) {
                    SCOPED_TRACE(std::to_string(d.size.y) + "x" + std::to_string(d.size.x) +
                                 " at " + std::to_string(d.pos.y) + "," + std::to_string(d.pos.x) +
                                 " levels " + std::to_string(levels) +
                                 (shorts ? " 16-bit" : " 32-bit") + " mmx " + std::to_string(level));
                    run_result r = round_trip({false, shorts}, d, d, mallat(levels), false, 8,
                                              unsigned(levels * 17 + d.size.y));
                    // 8-bit samples: 32-bit floats are near exact; 16-bit lines keep 13
                    // fraction bits less the headroom shifts.
                    EXPECT_LE(r.peak, shorts ? 1.5 : 0.01);
                }
    }
}

TEST(Synthesis, RegionsEqualTheCropOfTheWhole)
{
    // Children grown only by the kernel's supports, as for a region of interest.
    std::mt19937 rng(7);
    const rvd_dims image(rvd_coords(3, 6), rvd_coords(53, 71));
    for (bool reversible : {true, false})
        for (int trial = 0; trial < 24; trial++) {
            std::uniform_int_distribution<int> py(image.pos.y, image.pos.y + image.size.y - 1);
            std::uniform_int_distribution<int> px(image.pos.x, image.pos.x + image.size.x - 1);
            int y0 = py(rng), x0 = px(rng);
            int h = std::uniform_int_distribution<int>(1, image.pos.y + image.size.y - y0)(rng);
            int w = std::uniform_int_distribution<int>(1, image.pos.x + image.size.x - x0)(rng);
            if (trial % 4 == 0)
                h = 1;
            if (trial % 4 == 1)
                w = 1;
            rvd_dims region(rvd_coords(y0, x0), rvd_coords(h, w));
            int levels = 1 + trial % 5;
            SCOPED_TRACE("region " + std::to_string(y0) + "," + std::to_string(x0) + " " +
                         std::to_string(h) + "x" + std::to_string(w) + " levels " +
                         std::to_string(levels));
            run_result r = round_trip({reversible, false}, image, region, mallat(levels), true,
                                      reversible ? 16 : 8, unsigned(trial));
            if (!reversible) {
                EXPECT_LE(r.peak, 0.01);
            }
        }
}

TEST(Synthesis, OneDirectionSplitsRoundTrip)
{
    const rvd_dims image(rvd_coords(1, 2), rvd_coords(19, 23));
    std::vector<std::vector<level_split>> patterns = {
        {{true, false}}, {{false, true}}, {{true, false}, {false, true}, {true, true}},
        {{false, true}, {false, true}, {true, false}}};
    for (const auto& p : patterns)
        for (bool reversible : {true, false})
            for (bool shorts : {false, true}) {
                run_result r = round_trip({reversible, shorts}, image, image, p, false,
                                          reversible ? 10 : 8, 3);
                if (!reversible) {
                    EXPECT_LE(r.peak, shorts ? 1.5 : 0.01);
                }
            }
}

TEST(Synthesis, ColumnsFirstUndoesARowsFirstAnalysisExactly)
{
    // A transposed view: the codestream's rows are the node's columns, so reversible
    // rounding needs the columns synthesised first.
    for (bool shorts : {false, true})
        for (const rvd_dims& d : sizes)
            for (int levels : {1, 3, 6}) {
                SCOPED_TRACE(std::to_string(d.size.y) + "x" + std::to_string(d.size.x) +
                             " levels " + std::to_string(levels));
                round_trip({true, shorts, true}, d, d, mallat(levels), false, 12,
                           unsigned(levels + d.size.x));
            }
    const rvd_dims image(rvd_coords(3, 6), rvd_coords(41, 37));
    round_trip({true, false, true}, image,
               rvd_dims(rvd_coords(10, 9), rvd_coords(17, 1)), mallat(3), true, 12, 5);
    run_result r = round_trip({false, true, true}, image, image, mallat(4), false, 8, 6);
    EXPECT_LE(r.peak, 1.5);
}

} // namespace
