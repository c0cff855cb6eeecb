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

} // namespace

// Step descriptions that cannot be applied raise the codec's error; the nearest usable
// ones build, so a bound moved by one shows.
TEST(LiftingStep, UnusableStepsAreRefusedAtTheirBounds)
{
    const std::string unusable = "Ravade Core Error:\nUnusable lifting step in wavelet kernel description.";
    const float taps[2] = {0.5f, 0.5f};
    const float huge[2] = {1.0e4f, 0.5f};
    const float large[2] = {9.0e3f, 0.5f};
    const struct {
        const char* what;
        int length, min, downshift;
        const float* taps;
        bool reversible, usable;
    } cases[] = {
        {"downshift 31", 2, 0, 31, taps, true, true},
        {"downshift 32", 2, 0, 32, taps, true, false},
        {"downshift -1", 2, 0, -1, taps, true, false},
        {"no taps", 0, 0, 1, taps, true, false},
        {"reach 255", 2, -255, 1, taps, true, true},
        {"reach 256", 2, -256, 1, taps, true, false},
        {"tap below 1e4", 2, 0, 0, large, false, true},
        {"tap of 1e4", 2, 0, 0, huge, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        rvd_kernel_step_info info;
        info.support_length = c.length;
        info.support_min = c.min;
        info.downshift = c.downshift;
        info.rounding_offset = 1;
        rv_lifting_step step;
        if (!c.usable) {
            EXPECT_EQ(unusable, codec_test::error_text([&] { step.init(0, info, c.taps, c.reversible, 2); }));
            continue;
        }
        step.init(0, info, c.taps, c.reversible, 2);
        if (c.reversible) {
            EXPECT_EQ(c.downshift, step.downshift);
        }
    }
}
