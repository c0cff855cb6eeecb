#include "codec/coding/rv_lifting_step.h"
#include "codec/coding/rvd_kernels.h"
#include "codec/core/rvd_processor.h"
#include "platform/ModuleStartup.h"
#include "tests/codec/support/codec_messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

// Analysis factors of the 9/7 lifting network, written out independently of the codec.
const double w97[4] = {-1.586134342059924, -0.052980118572961, 0.882911075530934,
                       0.443506852043971};

std::vector<rv_lifting_step> steps_of(int kernel_id, bool reversible)
{
    rvd_kernels k;
    k.init(kernel_id, reversible);
    std::vector<rv_lifting_step> out(std::size_t(k.get_num_steps()));
    for (int s = 0; s < k.get_num_steps(); s++) {
        std::vector<float> taps;
        for (int t = 0; t < k.get_steps()[s].support_length; t++)
            taps.push_back(k.get_coefficients()[t * k.get_num_steps() + s]);
        out[std::size_t(s)].init(s, k.get_steps()[s], taps.data(), reversible, kernel_id);
    }
    return out;
}

// Whole-sample mirror into [first, last], by repeated reflection.
int mirror(int i, int first, int last)
{
    if (first == last)
        return first;
    while (i < first || i > last)
        i = (i < first) ? 2 * first - i : 2 * last - i;
    return i;
}

// Textbook 5/3 analysis of x (absolute columns first..last): odd columns become high,
// even ones low.
std::vector<std::int64_t> analyse53(std::vector<std::int64_t> x, int first, int last)
{
    auto at = [&](int p) { return x[std::size_t(mirror(p, first, last) - first)]; };
    for (int p = first; p <= last; p++)
        if (p & 1)
            x[std::size_t(p - first)] -= int64_t(std::floor((at(p - 1) + at(p + 1)) / 2.0));
    for (int p = first; p <= last; p++)
        if (!(p & 1))
            x[std::size_t(p - first)] += int64_t(std::floor((at(p - 1) + at(p + 1) + 2) / 4.0));
    return x;
}

std::vector<double> analyse97(std::vector<double> x, int first, int last)
{
    auto at = [&](int p) { return x[std::size_t(mirror(p, first, last) - first)]; };
    for (int k = 0; k < 4; k++)
        for (int p = first; p <= last; p++)
            if ((p & 1) == ((k & 1) == 0 ? 1 : 0))
                x[std::size_t(p - first)] += w97[k] * (at(p - 1) + at(p + 1));
    return x;
}

// Two halves and an output line with room for the steps' extensions.
struct line_set {
    rvd_sample_allocator alloc;
    rvd_line_buf low, high, out;
    line_set(int first, int last, bool absolute, bool shorts)
    {
        int width = last - first + 1;
        int n_low = (last / 2 - (first + 1) / 2) + 1; // even columns
        int n_high = width - n_low;
        low.pre_create(&alloc, n_low, absolute, shorts, 4, 4);
        high.pre_create(&alloc, n_high, absolute, shorts, 4, 4);
        out.pre_create(&alloc, width, absolute, shorts, 0, 0);
        alloc.finalize();
        low.create();
        high.create();
        out.create();
    }
};

template <class T, class V>
void split(const std::vector<V>& x, int first, line_set& ls, T* (*get)(rvd_line_buf&))
{
    T* lo = get(ls.low);
    T* hi = get(ls.high);
    for (std::size_t i = 0; i < x.size(); i++) {
        int p = first + int(i);
        if (p & 1)
            *hi++ = T(x[i]);
        else
            *lo++ = T(x[i]);
    }
}

std::int16_t* s16(rvd_line_buf& l) { return l.get_buf16(); }
std::int32_t* s32(rvd_line_buf& l) { return &l.get_buf32()->ival; }
float* f32(rvd_line_buf& l) { return &l.get_buf32()->fval; }

struct mmx_level_guard {
    int saved = rvd_mmx_level;
    ~mmx_level_guard() { rvd_mmx_level = saved; }
};

TEST(LiftingStep, BoundaryExtensionOfIndices)
{
    EXPECT_EQ(rv_extend_index(-1, 0, 9, true), 1);
    EXPECT_EQ(rv_extend_index(10, 0, 9, true), 8);
    EXPECT_EQ(rv_extend_index(5, 0, 9, true), 5);
    EXPECT_EQ(rv_extend_index(-3, 0, 1, true), 1); // mirrored repeatedly
    EXPECT_EQ(rv_extend_index(4, 3, 3, true), 3);
    EXPECT_EQ(rv_extend_index(1, 3, 8, true), 5);
    // Without symmetric extension: nearest inside with the same parity.
    EXPECT_EQ(rv_extend_index(-1, 0, 9, false), 1);
    EXPECT_EQ(rv_extend_index(-2, 0, 9, false), 0);
    EXPECT_EQ(rv_extend_index(11, 0, 9, false), 9);
    EXPECT_EQ(rv_extend_index(12, 0, 9, false), 8);
}

// Random lines over every start parity and short widths: analysis by the plain textbook
// forms above, synthesis by the codec, which must give the input back.
TEST(LiftingStep, HorizontalRoundTripsOverRandomLines)
{
    mmx_level_guard guard;
    rv_init_w97_consts();
    std::mt19937 rng(1234);
    auto r53 = steps_of(1, true);
    auto i97 = steps_of(0, false);
    double worst16[2] = {0, 0};
    for (int trial = 0; trial < 300; trial++) {
        int first = int(rng() % 7);
        int last = first + 1 + int(rng() % 40);
        int width = last - first + 1;
        {
            std::vector<std::int64_t> x(std::size_t(width), 0);
            for (auto& v : x)
                v = std::int64_t(rng() % 60001) - 30000;
            auto c = analyse53(x, first, last);
            line_set a(first, last, true, false);
            split<std::int32_t>(c, first, a, s32);
            rv_horizontal_synthesis(r53.data(), 2, true, a.low, a.high, first, last);
            rv_interleave(a.low, a.high, first, last, a.out, 0, 0, true);
            for (int n = 0; n < width; n++)
                ASSERT_EQ(a.out.get_buf32()[n].ival, x[std::size_t(n)]) << first << ".." << last;

            // 16-bit lines with data that fits them.
            for (auto& v : x)
                v /= 8;
            c = analyse53(x, first, last);
            line_set b(first, last, true, true);
            split<std::int16_t>(c, first, b, s16);
            rv_horizontal_synthesis(r53.data(), 2, true, b.low, b.high, first, last);
            rv_interleave(b.low, b.high, first, last, b.out, 0, 0, true);
            for (int n = 0; n < width; n++)
                ASSERT_EQ(b.out.get_buf16()[n], x[std::size_t(n)]) << first << ".." << last;
        }
        {
            std::vector<double> x(static_cast<std::size_t>(width));
            for (auto& v : x)
                v = (double(rng() % 8001) - 4000.0) / 8192.0; // nominal range -0.5..0.5
            auto c = analyse97(x, first, last);
            line_set f(first, last, false, false);
            split<float>(c, first, f, f32);
            rv_horizontal_synthesis(i97.data(), 4, true, f.low, f.high, first, last);
            rv_interleave(f.low, f.high, first, last, f.out, 0, 0, false);
            for (int n = 0; n < width; n++)
                ASSERT_NEAR(f.out.get_buf32()[n].fval, x[std::size_t(n)], 2e-6);

            for (int level = 0; level < 2; level++) {
                rvd_mmx_level = level; // 0: general integer steps, 1: exact 16-bit form
                std::vector<double> q(c.size());
                for (std::size_t i = 0; i < c.size(); i++)
                    q[i] = std::floor(c[i] * 8192.0 + 0.5);
                line_set s(first, last, false, true);
                split<std::int16_t>(q, first, s, s16);
                rv_horizontal_synthesis(i97.data(), 4, true, s.low, s.high, first, last);
                rv_interleave(s.low, s.high, first, last, s.out, 0, 0, false);
                for (int n = 0; n < width; n++)
                    worst16[level] = std::max(
                        worst16[level], std::fabs(s.out.get_buf16()[n] - x[std::size_t(n)] * 8192.0));
            }
        }
    }
    EXPECT_LE(worst16[0], 3.0);
    EXPECT_LE(worst16[1], 3.0);
}

// Columns of a small image synthesised vertically: every row is rebuilt from the rows
// rv_extend_index names, steps applied last first over whole rows.
TEST(LiftingStep, VerticalRoundTripsThroughExtendedRows)
{
    std::mt19937 rng(99);
    auto r53 = steps_of(1, true);
    auto i97 = steps_of(0, false);
    for (int first : {0, 1, 2, 5}) {
        for (int height : {2, 3, 4, 9, 16}) {
            int last = first + height - 1;
            const int width = 13;
            rvd_sample_allocator alloc;
            std::vector<rvd_line_buf> ri(static_cast<std::size_t>(height)), rf(static_cast<std::size_t>(height));
            for (auto& l : ri)
                l.pre_create(&alloc, width, true, false, 0, 0);
            for (auto& l : rf)
                l.pre_create(&alloc, width, false, false, 0, 0);
            alloc.finalize();
            std::vector<std::vector<std::int64_t>> xi(width);
            std::vector<std::vector<double>> xf(width);
            for (int c = 0; c < width; c++) {
                for (int r = 0; r < height; r++) {
                    xi[c].push_back(std::int64_t(rng() % 2001) - 1000);
                    xf[c].push_back(double(rng() % 2001) / 1000.0 - 1.0);
                }
                auto ai = analyse53(xi[c], first, last);
                auto af = analyse97(xf[c], first, last);
                for (int r = 0; r < height; r++) {
                    ri[std::size_t(r)].create();
                    rf[std::size_t(r)].create();
                    ri[std::size_t(r)].get_buf32()[c].ival = std::int32_t(ai[std::size_t(r)]);
                    rf[std::size_t(r)].get_buf32()[c].fval = float(af[std::size_t(r)]);
                }
            }
            auto run = [&](const std::vector<rv_lifting_step>& steps, std::vector<rvd_line_buf>& rows) {
                for (int s = int(steps.size()) - 1; s >= 0; s--) {
                    const auto& st = steps[std::size_t(s)];
                    for (int t = first; t <= last; t++) {
                        if ((t & 1) != ((st.step_idx & 1) == 0 ? 1 : 0))
                            continue;
                        const rvd_line_buf* src[2];
                        for (int k = 0; k < st.support_length; k++) {
                            int i = (t ^ 1) + 2 * (st.support_min + k);
                            src[k] = &rows[std::size_t(rv_extend_index(i, first, last, true) - first)];
                        }
                        rv_vertical_step(st, rows[std::size_t(t - first)], src, width);
                    }
                }
            };
            run(r53, ri);
            run(i97, rf);
            for (int c = 0; c < width; c++)
                for (int r = 0; r < height; r++) {
                    ASSERT_EQ(ri[std::size_t(r)].get_buf32()[c].ival, xi[c][std::size_t(r)]);
                    ASSERT_NEAR(rf[std::size_t(r)].get_buf32()[c].fval, xf[c][std::size_t(r)], 1e-5);
                }
        }
    }
}

// An explicit kernel with longer, asymmetric supports: analysis by the step descriptions
// taken literally over mirrored columns, synthesis by the codec (general-tap paths,
// shifted halves on odd starts).
TEST(LiftingStep, ExplicitLongKernelRoundTrips)
{
    rvd_kernel_step_info info[2];
    info[0].support_length = 4;
    info[0].support_min = -2;
    info[0].downshift = 3;
    info[0].rounding_offset = 4;
    info[1].support_length = 3;
    info[1].support_min = -1;
    info[1].downshift = 2;
    info[1].rounding_offset = 2;
    const float taps0[4] = {0.125f, -0.625f, -0.5f, 0.125f};
    const float taps1[3] = {0.25f, 0.25f, -0.125f};
    for (bool reversible : {true, false}) {
        rv_lifting_step steps[2];
        steps[0].init(0, info[0], taps0, reversible, 2);
        steps[1].init(1, info[1], taps1, reversible, 2);
        std::mt19937 rng(5);
        for (int trial = 0; trial < 100; trial++) {
            int first = int(rng() % 5);
            int last = first + 1 + int(rng() % 30);
            int width = last - first + 1;
            std::vector<double> x(static_cast<std::size_t>(width)), c;
            for (auto& v : x)
                v = double(int(rng() % 2001) - 1000);
            c = x;
            auto at = [&](int p) { return c[std::size_t(mirror(p, first, last) - first)]; };
            for (int k = 0; k < 2; k++)
                for (int p = first; p <= last; p++) {
                    if ((p & 1) != ((k & 1) == 0 ? 1 : 0))
                        continue;
                    const rv_lifting_step& st = steps[k];
                    double sum = 0;
                    std::int64_t isum = st.lift_offset;
                    for (int t = 0; t < st.support_length; t++) {
                        double v = at((p ^ 1) + 2 * (st.support_min + t));
                        sum += double(st.coefficients[std::size_t(t)]) * v;
                        isum += std::int64_t(st.icoeffs[std::size_t(t)]) * std::int64_t(v);
                    }
                    c[std::size_t(p - first)] += reversible ? double(isum >> st.downshift) : sum;
                }
            line_set ls(first, last, reversible, false);
            if (reversible)
                split<std::int32_t>(c, first, ls, s32);
            else
                split<float>(c, first, ls, f32);
            rv_horizontal_synthesis(steps, 2, true, ls.low, ls.high, first, last);
            rv_interleave(ls.low, ls.high, first, last, ls.out, 0, 0, reversible);
            for (int n = 0; n < width; n++) {
                if (reversible)
                    ASSERT_EQ(ls.out.get_buf32()[n].ival, x[std::size_t(n)]) << first << ".." << last;
                else
                    ASSERT_NEAR(ls.out.get_buf32()[n].fval, x[std::size_t(n)], 2e-3);
            }
        }
    }

    // Halves without room for the steps' reach are refused, not overrun.
    rv_lifting_step steps[2];
    steps[0].init(0, info[0], taps0, true, 2);
    steps[1].init(1, info[1], taps1, true, 2);
    rvd_sample_allocator alloc;
    rvd_line_buf low, high;
    low.pre_create(&alloc, 8, true, false, 1, 1);
    high.pre_create(&alloc, 8, true, false, 1, 1);
    alloc.finalize();
    low.create();
    high.create();
    codec_test::error_text([&] { rv_horizontal_synthesis(steps, 2, true, low, high, 0, 15); });
}

TEST(LiftingStep, SingleSamplesHalvingAndUpshift)
{
    line_set odd(7, 7, true, false);
    odd.high.get_buf32()[0].ival = -7;
    rv_interleave(odd.low, odd.high, 7, 7, odd.out, 0, 0, true);
    EXPECT_EQ(odd.out.get_buf32()[0].ival, -4); // reversible single odd column: halved
    line_set even(6, 6, true, false);
    even.low.get_buf32()[0].ival = -7;
    rv_interleave(even.low, even.high, 6, 6, even.out, 0, 0, true);
    EXPECT_EQ(even.out.get_buf32()[0].ival, -7);
    line_set odd_irr(7, 7, false, true);
    odd_irr.high.get_buf16()[0] = 100;
    rv_interleave(odd_irr.low, odd_irr.high, 7, 7, odd_irr.out, 0, 2, false);
    EXPECT_EQ(odd_irr.out.get_buf16()[0], 400); // not halved, shifted up

    line_set row(0, 3, true, true);
    const std::int16_t in[4] = {5, -5, 8, -1};
    for (int n = 0; n < 4; n++)
        row.out.get_buf16()[n] = in[n];
    rv_halve_samples(row.out, 1, 3);
    EXPECT_EQ(row.out.get_buf16()[0], 5);
    EXPECT_EQ(row.out.get_buf16()[1], -3);
    EXPECT_EQ(row.out.get_buf16()[2], 4);
    EXPECT_EQ(row.out.get_buf16()[3], -1);
    rv_halve_samples(row.out, 2, 3); // beyond the line: nothing
    EXPECT_EQ(row.out.get_buf16()[2], 4);

    // Interleaving into a line too narrow for the offset changes nothing.
    row.out.get_buf16()[0] = 9;
    line_set pair(0, 1, true, true);
    rv_interleave(pair.low, pair.high, 0, 1, row.out, 3, 0, true);
    EXPECT_EQ(row.out.get_buf16()[3], -1);
}

} // namespace
