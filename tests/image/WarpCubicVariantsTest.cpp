#include "WarpTestSupport.h"
#include "image/WarpCubicWeights.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

using namespace warptest;

namespace {

// One cubic kernel of the SSE2 table over row 0 of dst: `count` pixels from (x, y) in steps
// (ax, 0), with its own coordinate buffer.
void CubicRow(Image& src, Image& dst, double x, double y, double ax, int count)
{
    const int32_t span[2] = {0, count - 1};
    const double inv[6] = {ax, 0, x, 0, 0, y};
    std::vector<float> coords(2 * static_cast<size_t>(count));
    warp_kernel_at(warp_sse2_kernels, warp_kernel_slot(src.format, warp_cubic))(
        src.arg(), dst.arg(), src.step, dst.step, 0, 0, span, inv, src.width - 1, src.height - 1, coords.data());
}

} // namespace

TEST(WarpCubicWeights, TableMatchesExactFractions)
{
    const char* script = "from fractions import Fraction as F\n"
                         "for k in range(1537):\n"
                         "    t = F(k, 512)\n"
                         "    l0 = -(t - 1) * (t - 2) * (t - 3) / 6\n"
                         "    l1 = t * (t - 2) * (t - 3) / 2\n"
                         "    print(round(16384 * l0), round(16384 * l1))\n";
    const std::string command = OrbelTest::python() + " -c '" + script + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> out(popen(command.c_str(), "r"), pclose);
    ASSERT_TRUE(out);
    for (int k = 0; k <= 1536; ++k) {
        int low = 0, high = 0;
        ASSERT_EQ(2, std::fscanf(out.get(), "%d %d", &low, &high)) << "entry " << k;
        ASSERT_EQ(low, cubic_weight_block.pairs[k][0]) << k;
        ASSERT_EQ(high, cubic_weight_block.pairs[k][1]) << k;
    }
    // The low half comes first in memory; the block is 16-byte aligned.
    uint8_t bytes[4];
    std::memcpy(bytes, cubic_weight_block.pairs[256], 4);
    EXPECT_EQ(5120, bytes[0] | bytes[1] << 8);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(&cubic_weight_block) % 16);
    // The polynomials are the Lagrange weights on nodes -1, 0, 1, 2: tap j is 1 at node j - 1.
    for (int tap = 0; tap < 4; ++tap)
        for (int node = 0; node < 4; ++node) {
            const float f = static_cast<float>(node - 1);
            const float(*c)[4] = cubic_weight_block.poly;
            const float w = c[3][3 - tap] * f * f * f + c[2][3 - tap] * f * f + c[1][3 - tap] * f + c[0][3 - tap];
            EXPECT_NEAR(tap == node ? 1.0 : 0.0, w, 1e-6) << tap << " at " << node;
        }
}

TEST(WarpCubicVariants, ValuesOfTheRules)
{
    std::mt19937 rng(31);
    // Whole positions reproduce 8-bit and 16-bit sources, edges included; float sources too,
    // except on the last two columns and rows.
    for (int format : {int{warp_gray8}, int{warp_rgbx16}, int{warp_planar3_8}, int{warp_gray32f}}) {
        Image src(format, 7, 6), dst(format, 7, 1);
        src.fillRandom(rng, (format >> 3) == warp_sample_8u ? 256 : 60000);
        const bool inexactEdges = (format >> 3) == warp_sample_32f;
        for (int y = 0; y < (inexactEdges ? 4 : 6); ++y) {
            CubicRow(src, dst, 0, y, 1, 7);
            for (int x = 0; x < (inexactEdges ? 5 : 7); ++x)
                for (int c = 0; c < dst.channelsStored(); ++c)
                    if (!(Layout(format) == warp_layout_rgbx && c == 3)) {
                        ASSERT_EQ(src.get(x, y, c), dst.get(x, 0, c)) << format << " " << x << "," << y;
                    }
        }
    }
    // Rows 0, 255, 255, 0 halfway between columns 1 and 2, weights (-1024, 9216, 9216, -1024):
    // 287 before clamping, 255 stored; the fourth sample of rgbx is kept.
    Image bump(warp_rgbx8, 4, 4), out(warp_rgbx8, 1, 1);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            for (int c = 0; c < 4; ++c)
                bump.set(x, y, c, x == 1 || x == 2 ? 255 : 0);
    out.fill(7);
    CubicRow(bump, out, 1.5, 2, 0, 1);
    EXPECT_EQ(255, out.get(0, 0, 0));
    EXPECT_EQ(7, out.get(0, 0, 3));
    // Points beyond the width or height, or below -1, leave the destination alone; an
    // empty span writes nothing.
    const double outside[4][2] = {{4.01, 1}, {1, 4.01}, {-1.01, 1}, {1, -1.01}};
    for (const auto& p : outside) {
        out.fill(7);
        CubicRow(bump, out, p[0], p[1], 0, 1);
        EXPECT_EQ(7, out.get(0, 0, 0)) << p[0] << "," << p[1];
    }
    out.fill(7);
    CubicRow(bump, out, 1, 1, 0, 0);
    EXPECT_EQ(7, out.get(0, 0, 0));
}

TEST(WarpCubicVariants, EdgePointsReadInsideTheSource)
{
    std::mt19937 rng(5);
    for (int format : {int{warp_gray8}, int{warp_rgb8}, int{warp_planar4_16}, int{warp_rgba32f}}) {
        Image src(format, 6, 5), dst(format, 4, 1); // exact size: a read outside is a sanitizer report
        src.fillRandom(rng, (format >> 3) == warp_sample_8u ? 256 : 1000);
        for (double x : {-1.0, -0.5, 5.5, 6.0}) {
            CubicRow(src, dst, x, 2, 0, 4);
            CubicRow(src, dst, 2, x - 1, 0, 4);
        }
    }
    // 8-bit points half a pixel outside take the edge column.
    Image src(warp_gray8, 6, 5), dst(warp_gray8, 1, 1);
    src.fillRandom(rng, 256);
    CubicRow(src, dst, -0.5, 2, 0, 1);
    EXPECT_EQ(src.get(0, 2, 0), dst.get(0, 0, 0));
    CubicRow(src, dst, 5.5, 2, 0, 1);
    EXPECT_EQ(src.get(5, 2, 0), dst.get(0, 0, 0));
}

TEST(WarpCubicVariants, CloseToTheGenericKernelsOnSmoothImages)
{
    std::mt19937 rng(8);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    double worst[3] = {0, 0, 0};
    for (int format : {int{warp_gray8}, int{warp_rgb8}, int{warp_gray32f}, int{warp_gray16}, int{warp_planar3_16}})
        for (int iter = 0; iter < 6; ++iter) {
            const int type = format >> 3;
            const double range = type == warp_sample_8u ? 255 : type == warp_sample_16u ? 65535 : 2000;
            Image src(format, 64, 48);
            const double a = 6.283185307179586 / (32 + 64 * u(rng)), b = 6.283185307179586 / (32 + 64 * u(rng));
            for (int y = 0; y < 48; ++y)
                for (int x = 0; x < 64; ++x)
                    for (int c = 0; c < src.channelsStored(); ++c) {
                        const double v = 0.5 + 0.25 * std::sin(a * x + c) + 0.25 * std::cos(b * y - c);
                        src.set(x, y, c, type == warp_sample_32f ? v * range - 1000 : std::floor(v * range));
                    }
            double m[6];
            MakeMap(u(rng) * 6.3, 0.5 + u(rng), 0.5 + u(rng), u(rng) - 0.5, u(rng) < 0.5, false, 0, 0, m);
            m[2] = 40 - (m[0] * 32 + m[1] * 24);
            m[5] = 40 - (m[3] * 32 + m[4] * 24);
            Image generic(format, 80, 80), ours(format, 80, 80);
            ASSERT_EQ(0, warp_affine_generic(src.arg(), 64, 48, src.step, 0, 0, 64, 48, generic.arg(), generic.step,
                                             0, 0, 80, 80, format, m, warp_cubic));
            ASSERT_EQ(0, warp_affine_sse2(src.arg(), 64, 48, src.step, 0, 0, 64, 48, ours.arg(), ours.step, 0, 0, 80,
                                          80, format, m, warp_cubic));
            for (int y = 0; y < 80; ++y)
                for (int x = 0; x < 80; ++x)
                    for (int c = 0; c < ours.channelsStored(); ++c) {
                        const double d = std::fabs(generic.get(x, y, c) - ours.get(x, y, c));
                        worst[type] = std::max(worst[type], type == warp_sample_32f ? d / range : d);
                    }
        }
    std::printf("largest cubic difference from the generic kernels: 8-bit %g, 16-bit %g, float %g of the range\n",
                worst[warp_sample_8u], worst[warp_sample_16u], worst[warp_sample_32f]);
    EXPECT_LE(worst[warp_sample_8u], 2.0);
    EXPECT_LE(worst[warp_sample_16u], 2.0);
    EXPECT_LE(worst[warp_sample_32f], 1e-5);
}
