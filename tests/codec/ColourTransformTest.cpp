// The 16-bit fixed-point colour transform against values worked out by hand from its
// 14-bit factors: whole decodes allow the irreversible transform a tolerance that a lost
// rounding term stays within.
#include "codec/coding/rvd_colour.h"

#include <gtest/gtest.h>

#include <vector>

TEST(ColourTransforms, FixedPointIctKnownValues)
{
    // Worked out from the 14-bit factors with floor shifts; the last column shows the
    // saturation of results beyond 16 bits.
    int16_t y[4] = {1000, -4096, -1, 32767}, cb[4] = {-500, 4095, 1, 0}, cr[4] = {300, -4096, -1, 32767};
    rv_ict_inverse16(y, cb, cr, 4);
    EXPECT_EQ((std::vector<int>{y[0], cb[0], cr[0]}), (std::vector<int>{1421, 958, 114}));
    EXPECT_EQ((std::vector<int>{y[1], cb[1], cr[1]}), (std::vector<int>{-9838, -2580, 3160}));
    EXPECT_EQ((std::vector<int>{y[2], cb[2], cr[2]}), (std::vector<int>{-2, -1, 1}));
    EXPECT_EQ(y[3], 32767);
    int16_t r[3] = {1000, -4096, -1}, g[3] = {-500, 4095, 1}, b[3] = {300, -4096, -1};
    rv_ict_forward16(r, g, b, 3);
    EXPECT_EQ((std::vector<int>{r[0], g[0], b[0]}), (std::vector<int>{40, 147, 685}));
    EXPECT_EQ((std::vector<int>{r[1], g[1], b[1]}), (std::vector<int>{712, -2713, -3429}));
    EXPECT_EQ((std::vector<int>{r[2], g[2], b[2]}), (std::vector<int>{0, -1, -1}));
}
