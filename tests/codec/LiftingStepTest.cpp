// The lifting steps' fixed-point forms of the standard kernels and the single-sample
// line, which whole-image decodes do not reach.
#include "codec/coding/rv_lifting_step.h"
#include "codec/core/rvd_kernels.h"
#include "codec/core/rvd_processor.h"
#include "platform/ModuleStartup.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/processor_form.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

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

// Restores the processor level however the test ends.
struct mmx_level_guard : codec_test::processor_form_guard {
    mmx_level_guard() : processor_form_guard(rvd_mmx_level) {}
};

TEST(LiftingStep, FixedPointFormsOfTheStandardKernels)
{
    auto w = steps_of(0, false);
    ASSERT_EQ(w.size(), 4u);
    EXPECT_EQ(w[0].downshift, 14);
    EXPECT_EQ(w[0].lift_offset, 1 << 13);
    EXPECT_EQ(w[0].icoeffs[0], int(std::floor(-1.5861343 * 16384 + 0.5)));
    EXPECT_EQ(w[1].downshift, 16);
    EXPECT_EQ(w[1].lift_offset, 0x7FFF);
    EXPECT_EQ(w[2].downshift, 15);
    EXPECT_EQ(w[3].downshift, 16);
    for (const auto& s : w) {
        EXPECT_EQ(s.extend, 1);
        EXPECT_EQ(s.vector_form, rvd_mmx_level > 0 && s.step_idx != 1);
    }

    auto r = steps_of(1, true);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].icoeffs[0], -1);
    EXPECT_EQ(r[0].downshift, 1);
    EXPECT_EQ(r[1].icoeffs[0], 1);
    EXPECT_EQ(r[1].downshift, 2);

    rvd_kernel_step_info bad;
    bad.support_length = 0;
    float tap = 0.5f;
    rv_lifting_step s;
    codec_test::error_text([&] { s.init(0, bad, &tap, false, 2); });
    bad.support_length = 1;
    bad.downshift = 40;
    codec_test::error_text([&] { s.init(0, bad, &tap, true, 2); });
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
