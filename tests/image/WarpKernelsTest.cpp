#include "WarpTestSupport.h"

#include <gtest/gtest.h>

using namespace warptest;

namespace {

// Runs one kernel for a single destination pixel (column 0 of row 0) at source position
// (x, y): the inverse coefficients are the position itself.
template <typename T>
T KernelAt(int format, int interp, const std::vector<T>& src, int width, int height, double x, double y)
{
    const int32_t span[2] = {0, 0};
    const double inv[6] = {0, 0, x, 0, 0, y};
    T out[4] = {};
    const int slot = (Layout(format) + 6 * (format >> 3)) * 3 + interp;
    warp_kernel_at(warp_generic_kernels, slot)(src.data(), out, static_cast<int>(width * sizeof(T)),
                                               static_cast<int>(4 * sizeof(T)), 0, 0, span, inv, width - 1,
                                               height - 1, nullptr);
    return out[0];
}

} // namespace

TEST(WarpKernelValues, NearestRoundsHalfUp)
{
    const std::vector<uint8_t> row = {10, 20, 30, 40, 50, 60, 70, 80, 10, 20, 30, 40, 50, 60, 70, 80};
    EXPECT_EQ(40, KernelAt<uint8_t>(0, 0, row, 8, 2, 2.5, 0.0));
    EXPECT_EQ(30, KernelAt<uint8_t>(0, 0, row, 8, 2, 2.4999, 0.0));
    EXPECT_EQ(10, KernelAt<uint8_t>(0, 0, row, 8, 2, -0.4, 0.0));
}

TEST(WarpKernelValues, LinearBiasLimitsAndRounding)
{
    // Float samples show the fraction itself: x = -1e-8 stays on column 0 and extrapolates.
    const std::vector<float> ramp = {100, 200, 300, 400, 100, 200, 300, 400};
    EXPECT_FLOAT_EQ(100.0f - 1e-6f, KernelAt<float>(8, 1, ramp, 4, 2, -1e-8, 0.0));
    // At x = xmax the last column's value, not a read past it.
    EXPECT_FLOAT_EQ(400.0f, KernelAt<float>(8, 1, ramp, 4, 2, 3.0, 0.0));
    EXPECT_FLOAT_EQ(400.0f, KernelAt<float>(8, 1, ramp, 4, 2, 3.0, 1.0));
    EXPECT_FLOAT_EQ(250.0f, KernelAt<float>(8, 1, ramp, 4, 2, 1.5, 0.5));
    // 16-bit truncates, 8-bit rounds.
    const std::vector<uint16_t> pair16 = {0, 1, 0, 1};
    const std::vector<uint8_t> pair8 = {0, 1, 0, 1};
    EXPECT_EQ(0, KernelAt<uint16_t>(16, 1, pair16, 2, 2, 0.5, 0.0));
    EXPECT_EQ(1, KernelAt<uint8_t>(0, 1, pair8, 2, 2, 0.5, 0.0));
}

TEST(WarpKernelValues, CubicExactOnSamplesAndClampsOvershoot)
{
    std::mt19937 rng(9);
    std::vector<uint8_t> s8(7 * 6);
    std::vector<uint16_t> s16(7 * 6);
    for (auto& v : s8)
        v = static_cast<uint8_t>(rng());
    for (auto& v : s16)
        v = static_cast<uint16_t>(rng());
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 7; ++x) {
            EXPECT_EQ(s8[y * 7 + x], KernelAt<uint8_t>(0, 2, s8, 7, 6, x, y)) << x << "," << y;
            EXPECT_EQ(s16[y * 7 + x], KernelAt<uint16_t>(16, 2, s16, 7, 6, x, y)) << x << "," << y;
        }
    // Rows 0, 255, 255, 0 at tx = 0.5: 286.875 before clamping.
    const std::vector<uint8_t> bump = {0, 255, 255, 0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255, 255, 0};
    EXPECT_EQ(255, KernelAt<uint8_t>(0, 2, bump, 4, 4, 1.5, 1.0));
    const std::vector<float> bumpf(bump.begin(), bump.end());
    EXPECT_DOUBLE_EQ(286.875, KernelAt<float>(8, 2, bumpf, 4, 4, 1.5, 1.0));
    const std::vector<uint8_t> dip = {255, 0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255};
    EXPECT_EQ(0, KernelAt<uint8_t>(0, 2, dip, 4, 4, 1.5, 1.0));
}

namespace {

double Poly(double x, double y, const double* k)
{
    double v = 0, px = 1;
    for (int i = 0; i < 4; ++i, px *= x) {
        double py = 1;
        for (int j = 0; j < 4; ++j, py *= y)
            v += k[i * 4 + j] * px * py;
    }
    return v;
}

} // namespace

TEST(WarpKernelProperties, FloatCubicReproducesCubicsAndLinearReproducesPlanes)
{
    std::mt19937 rng(17);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (int trial = 0; trial < 20; ++trial) {
        const bool cubic = trial % 2 == 0;
        double k[16] = {};
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                if (cubic || i + j <= 1)
                    if (!(!cubic && i == 1 && j == 1))
                        k[i * 4 + j] = unit(rng);
        const int W = 12, H = 10;
        Image src(8, W, H);
        double lo = 1e300, hi = -1e300;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const double v = Poly(x / double(W - 1), y / double(H - 1), k);
                src.set(x, y, 0, v);
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        // A sub-pixel map: small rotation and scale, the whole source inside the destination.
        double m[6];
        MakeMap(unit(rng) * 0.3, 1.6 + 0.3 * unit(rng), 1.6 + 0.3 * unit(rng), 0.1 * unit(rng), false, false,
                3.3 + unit(rng), 4.7 + unit(rng), m);
        Image dst(8, 40, 40);
        const float marker = -12345.0f;
        dst.fill(marker);
        ASSERT_EQ(0, Warp(src, 0, 0, W, H, dst, 0, 0, 40, 40, m, cubic ? 4 : 2));
        const double det = m[0] * m[4] - m[1] * m[3];
        int checked = 0;
        for (int Y = 0; Y < 40; ++Y)
            for (int X = 0; X < 40; ++X) {
                const double v = dst.get(X, Y, 0);
                if (v == marker)
                    continue;
                const double px = X - m[2], py = Y - m[5];
                const double x = (m[4] * px - m[1] * py) / det, y = (-m[3] * px + m[0] * py) / det;
                EXPECT_NEAR(Poly(x / double(W - 1), y / double(H - 1), k), v, 1e-4 * (hi - lo))
                    << "trial " << trial << " at " << X << "," << Y;
                ++checked;
            }
        EXPECT_GT(checked, 200);
    }
}

TEST(WarpKernelProperties, NearestQuarterTurnIsAnExactRotation)
{
    std::mt19937 rng(4);
    for (int format : {0, 16, 1}) {
        Image src(format, 7, 5), dst(format, 5, 7);
        src.fillRandom(rng, format == 16 ? 65536 : 256);
        // Clockwise: X = (H - 1) - y, Y = x.
        const double m[6] = {0, -1, 4, 1, 0, 0};
        ASSERT_EQ(0, Warp(src, 0, 0, 7, 5, dst, 0, 0, 5, 7, m, 1));
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x)
                for (int c = 0; c < src.channelsStored(); ++c)
                    ASSERT_EQ(src.get(x, y, c), dst.get(4 - y, x, c)) << format;
    }
}

TEST(WarpKernelProperties, ColourLayoutsEqualGreyPerChannel)
{
    std::mt19937 rng(23);
    double m[6];
    MakeMap(0.37, 1.37, 1.21, 0.05, true, false, 0, 0, m);
    m[2] = 14 - (m[0] * 5.5 + m[1] * 4.5);
    m[5] = 12 - (m[3] * 5.5 + m[4] * 4.5);
    for (int type = 0; type < 3; ++type) {
        for (int interp : {1, 2, 4}) {
            const double range = type == 0 ? 256 : type == 2 ? 65536 : 1.0;
            for (int layout = 1; layout <= 5; ++layout) {
                const int format = layout + 8 * type;
                SCOPED_TRACE(::testing::Message() << "format " << format << " interp " << interp);
                Image src(format, 12, 10), dst(format, 28, 24);
                src.fillRandom(rng, range);
                ASSERT_EQ(0, Warp(src, 0, 0, 12, 10, dst, 0, 0, 28, 24, m, interp));
                const int written = layout == 2 ? 3 : src.channelsStored();
                for (int c = 0; c < written; ++c) {
                    Image g(8 * type, 12, 10), gd(8 * type, 28, 24);
                    for (int y = 0; y < 10; ++y)
                        for (int x = 0; x < 12; ++x)
                            g.set(x, y, 0, src.get(x, y, c));
                    ASSERT_EQ(0, Warp(g, 0, 0, 12, 10, gd, 0, 0, 28, 24, m, interp));
                    for (int y = 0; y < 24; ++y)
                        for (int x = 0; x < 28; ++x)
                            ASSERT_EQ(gd.get(x, y, 0), dst.get(x, y, c)) << x << "," << y << " channel " << c;
                }
            }
        }
    }
}
