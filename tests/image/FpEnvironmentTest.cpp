#include "image/FpEnvironment.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <xmmintrin.h>

namespace {

class FpEnvironment : public ::testing::Test {
protected:
    void TearDown() override
    {
        fp_set_mxcsr(mxcsr_, 0xFFFF);
        fp_set_x87_control(control_, 0xFFFF);
        fp_get_clear_x87_status();
    }
    uint32_t mxcsr_ = fp_get_mxcsr();
    uint16_t control_ = fp_get_x87_control();
};

// Divided on the x87 unit, in a call the compiler cannot fold. The quotient goes through a
// volatile too: a caller that drops it (the zero-divide check) would otherwise let an
// optimising build clone the call without the division, and no flag would be raised.
__attribute__((noinline)) long double Divide(long double a, long double b)
{
    volatile long double x = a, y = b;
    volatile long double q = x / y;
    return q;
}

} // namespace

TEST_F(FpEnvironment, PortableControlRoundTrips)
{
    const uint32_t values[] = {0x10, 0x80000, 0x08, 0x04, 0x02, 0x01, 0x1F | 0x80000, 0x000, 0x100, 0x200, 0x300,
                               0x20000, 0x10000, 0x0, 0x40000};
    const uint32_t masks[] = {0x10, 0x80000, 0x08, 0x04, 0x02, 0x01, 0x8001F, 0x300, 0x300, 0x300, 0x300,
                              0x30000, 0x30000, 0x30000, 0x40000};
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(values[i], fp_control(values[i], masks[i]) & masks[i]) << i;
        EXPECT_EQ(values[i], fp_control(0, 0) & masks[i]) << i;
    }
    // The x87 word itself: precision 53 bits is 10 in bits 8-9, toward zero 11 in bits 10-11.
    fp_control(0x10000 | 0x300, 0x30300);
    EXPECT_EQ(0x0E00, fp_get_x87_control() & 0x0F00);
    EXPECT_EQ(0x0E00, fp_set_x87_control(0x0300, 0x0F00) & 0x0F00);
    EXPECT_EQ(0x0300, fp_get_x87_control() & 0x0F00);
}

TEST_F(FpEnvironment, EffectsOnArithmetic)
{
    fp_set_mxcsr(0x1234 & 0xFFBF, 0xFFFF);
    EXPECT_EQ(0x1234u & 0xFFBF, fp_reset_mxcsr());
    EXPECT_EQ(0x1F80u, fp_get_mxcsr());
    fp_set_mxcsr(0x6000, 0x6000);
    EXPECT_EQ(2, _mm_cvtss_si32(_mm_set_ss(2.7f)));
    fp_reset_mxcsr();
    if (fp_daz_supported()) {
        fp_set_mxcsr(0x40, 0x40);
        volatile float tiny = 1e-40f, one = 1.0f;
        EXPECT_EQ(0.0f, tiny * one);
        fp_reset_mxcsr();
    }
    // Double arithmetic is SSE on x86-64: the x87 settings reach only long double.
    fp_control(0x300, 0x300);
    EXPECT_EQ(FE_TOWARDZERO, fegetround());
    EXPECT_EQ(2.0L, rintl(2.7L));
    fp_control(0x000, 0x300);
    fp_control(0x10000, 0x30000);
    EXPECT_EQ(static_cast<long double>(1.0 / 3.0), Divide(1.0L, 3.0L));
    fp_control(0, 0x30000);
    EXPECT_NE(static_cast<long double>(1.0 / 3.0), Divide(1.0L, 3.0L));
    fp_clear_status();
    Divide(1.0L, 0.0L);
    EXPECT_EQ(0x08u, fp_status() & 0x08);
    EXPECT_NE(0, fp_get_clear_x87_status() & 0x04); // zero-divide, x87 bit 2
    EXPECT_EQ(0u, fp_status() & 0x08);
}

TEST_F(FpEnvironment, NanAndFiniteTests)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double specials[] = {0.0, -0.0, inf, -inf, std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::signaling_NaN(), std::numeric_limits<double>::denorm_min(),
                               std::numeric_limits<double>::max(), -std::numeric_limits<double>::max()};
    for (double v : specials) {
        EXPECT_EQ(std::isnan(v), fp_is_nan(v)) << v;
        EXPECT_EQ(std::isfinite(v), fp_is_finite(v)) << v;
    }
    std::mt19937_64 rng(10);
    for (int i = 0; i < 1000000; ++i) {
        const uint64_t bits = rng();
        double v;
        std::memcpy(&v, &bits, 8);
        ASSERT_EQ(std::isnan(v), fp_is_nan(v)) << bits;
        ASSERT_EQ(std::isfinite(v), fp_is_finite(v)) << bits;
    }
}
