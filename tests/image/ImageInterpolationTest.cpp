#include "image/ImageInterpolation.h"
#include "image/WarpAffine.h"
#include "platform/ModuleStartup.h"
#include "WarpTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<uint8_t>(rng());
    return v;
}

} // namespace

TEST(ImageInterpolation, DestinationRectangleIsClippedToTheBuffer)
{
    const auto src = RandomBytes(12 * 9 * 4, 3);
    double m[6] = {1.9, 0.4, -3, -0.4, 1.9, 2};
    for (int channels : {1, 4}) {
        const int bpp = channels == 4 ? 4 : 2;
        const int W = 20, H = 16;
        // Exact-size buffer; the rectangle reaches 5 pixels past it on the right and bottom.
        std::vector<uint8_t> exact(static_cast<size_t>(W) * H * bpp, 0x33);
        CImageInterpolation interp;
        EXPECT_EQ(0, interp.Warp(m, 2, src.data(), 12, 9, bpp, channels, 0, 0, 12, 9, exact.data(), W, H, 0, 0,
                                 W + 5, H + 5));
        // The same warp into a larger buffer, compared inside.
        const int BW = W + 5, BH = H + 5;
        std::vector<uint8_t> big(static_cast<size_t>(BW) * BH * bpp, 0x33);
        EXPECT_EQ(0, interp.Warp(m, 2, src.data(), 12, 9, bpp, channels, 0, 0, 12, 9, big.data(), BW, BH, 0, 0,
                                 W + 5, H + 5));
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W * bpp; ++x)
                ASSERT_EQ(big[static_cast<size_t>(y) * BW * bpp + x], exact[static_cast<size_t>(y) * W * bpp + x])
                    << channels << ": " << x << "," << y;
    }
}

// A whole-pixel shift is copied without the warp: same pixels written, same samples, same
// status as the warp itself gives, for every layout, overlap, clipping and refusal.
TEST(ImageInterpolation, WholePixelShiftsMatchTheWarp)
{
    struct Layout {
        int channels, bytes, format;
    };
    const Layout layouts[] = {{1, 1, warp_gray8}, {1, 2, warp_gray16}, {3, 3, warp_rgb8}, {4, 4, warp_rgbx8}};
    std::mt19937 rng(58);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    int copied = 0;
    for (const Layout& l : layouts)
        for (int run = 0; run < 400; ++run) {
            const int sw = pick(1, 24), sh = pick(1, 24), dw = pick(1, 30), dh = pick(1, 30);
            const bool edge = run % 5 == 0; // rectangles from the far edge, often refused
            const int sl = pick(0, edge ? sw + 1 : sw / 2), st = pick(0, edge ? sh + 1 : sh / 2);
            const int sr = sl + pick(-1, 26), sb = st + pick(-1, 26);
            const int dl = pick(-3, edge ? dw : dw / 2), dt = pick(-3, edge ? dh : dh / 2), dr = dl + pick(-1, 34), db = dt + pick(-1, 34);
            // Mostly shifts that land the source on the destination rectangle, some far off.
            const int far = run % 8 == 0 ? 40 : 6;
            const double m[6] = {1, 0, double(dl - sl + pick(-far, far)), 0, 1, double(dt - st + pick(-far, far))};
            SCOPED_TRACE(::testing::Message() << "format " << l.format << " run " << run << " shift " << m[2] << ","
                                              << m[5]);
            const auto src = RandomBytes(size_t(sw) * sh * l.bytes, unsigned(run));
            const auto canary = RandomBytes(size_t(dw) * dh * l.bytes, unsigned(run) + 7u);
            std::vector<uint8_t> ours = canary, theirs = canary;
            CImageInterpolation interp;
            const int status = interp.Warp(m, pick(0, 2), src.data(), sw, sh, l.bytes, l.channels, sl, st, sr, sb,
                                           ours.data(), dw, dh, dl, dt, dr, db);
            // The warp on the rectangles the resampler hands it.
            const int cl = std::max(dl, 0), ct = std::max(dt, 0), cw = std::min(dr, dw) - cl,
                      ch = std::min(db, dh) - ct;
            int expected = warp_nothing_to_do;
            if (cw >= 1 && ch >= 1)
                expected = warp_affine_generic(src.data(), sw, sh, sw * l.bytes, sl, st, sr - sl, sb - st,
                                               theirs.data(), dw * l.bytes, cl, ct, cw, ch, l.format, m, warp_nearest);
            ASSERT_EQ(expected, status);
            ASSERT_EQ(theirs, ours);
            copied += status == warp_ok && theirs != canary;
        }
    EXPECT_GT(copied, 400); // a quarter of the cases or more write something
}

// Asked to zero the rest, the resampler zeroes only what the warp leaves: the buffer must
// end exactly as zeroing it whole and warping does, over the warp and the shifted copy,
// every layout and processor variant, clipping, and warps that refuse before or after
// their spans are known.
TEST(ImageInterpolation, ZeroingTheRestEqualsZeroingFirst)
{
    struct Layout {
        int channels, bytes;
    };
    const Layout layouts[] = {{1, 1}, {1, 2}, {3, 3}, {4, 4}};
    std::mt19937 rng(5858);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto real = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
    int partial = 0, failedLate = 0;
    for (int run = 0; run < 1200; ++run) {
        const Layout& l = layouts[run % 4];
        const int variant = run / 4 % warp_variant_count;
        const int sw = pick(1, 40), sh = pick(1, 40), dw = pick(1, 60), dh = pick(1, 60);
        double m[6];
        switch (run / 20 % 5) {
        case 0: // whole-pixel shift: the copy
            m[0] = m[4] = 1;
            m[1] = m[3] = 0;
            m[2] = pick(-20, 30);
            m[5] = pick(-20, 30);
            break;
        case 1: // quarter turn
            warptest::MakeMap(1.5707963267948966, 1.5, 1.5, 0, false, false, 0, 0, m);
            break;
        case 2: // singular: refused before the spans
            m[0] = m[1] = 1;
            m[3] = m[4] = 2;
            m[2] = m[5] = 0;
            break;
        default:
            warptest::MakeMap(real(0, 6.3), real(0.3, 3), real(0.3, 3), real(-0.3, 0.3), run % 2, false, 0, 0, m);
        }
        if (m[0] != 1 || m[1] != 0) { // the source's centre near the destination's
            m[2] = dw * real(0.2, 0.8) - (m[0] * sw + m[1] * sh) * 0.5;
            m[5] = dh * real(0.2, 0.8) - (m[3] * sw + m[4] * sh) * 0.5;
        }
        const bool odd = run % 9 == 0; // rectangles that are empty, outside or past the edge
        const int sl = pick(0, odd ? sw : 2), st = pick(0, odd ? sh : 2);
        const int sr = odd ? sl + pick(-1, sw) : sw - pick(0, 2), sb = odd ? st + pick(-1, sh) : sh - pick(0, 2);
        const int dl = pick(-3, odd ? dw : 8), dt = pick(-3, odd ? dh : 8);
        const int dr = odd ? dl + pick(-1, dw + 3) : dw - pick(-3, 8), db = odd ? dt + pick(-1, dh + 3) : dh - pick(-3, 8);
        const int mode = run % 50 == 0 ? 3 : pick(0, 2); // 3 is refused
        // The variants' cubic kernels allocate a third block, after the spans are known.
        const int fail = run % 7 == 0 ? pick(1, 3) : 0;
        SCOPED_TRACE(::testing::Message() << "run " << run << " channels " << l.channels << " variant " << variant
                                          << " mode " << mode << " failing allocation " << fail);
        const auto src = RandomBytes(size_t(sw) * sh * l.bytes, unsigned(run));
        std::vector<uint8_t> ours = RandomBytes(size_t(dw) * dh * l.bytes, unsigned(run) + 1u);
        std::vector<uint8_t> theirs(ours.size(), 0);
        warptest::ScopedWarpVariant scoped(variant);
        CImageInterpolation interp;
        warp_alloc_counters.failNext = fail;
        const int status = interp.Warp(m, mode, src.data(), sw, sh, l.bytes, l.channels, sl, st, sr, sb, ours.data(),
                                       dw, dh, dl, dt, dr, db, true);
        warp_alloc_counters.failNext = 0;
        // A warp that refuses writes nothing: all zero. One that runs writes what it writes.
        if (status == warp_ok) {
            ASSERT_EQ(warp_ok, interp.Warp(m, mode, src.data(), sw, sh, l.bytes, l.channels, sl, st, sr, sb,
                                           theirs.data(), dw, dh, dl, dt, dr, db));
        }
        ASSERT_EQ(theirs, ours);
        // Written in part: both the zeroing and the warp had something to do.
        const auto zeros = std::count(ours.begin(), ours.end(), 0);
        partial += status == warp_ok && zeros > 0 && zeros < static_cast<ptrdiff_t>(ours.size()) * 3 / 4;
        failedLate += fail > 0 && status == warp_nothing_to_do;
    }
    EXPECT_GT(partial, 150);
    EXPECT_GT(failedLate, 3);
}

TEST(ImageInterpolation, ResampleNearestIndicesAndFourthSample)
{
    CImageInterpolation interp;
    // 4 columns to 8 use 0, 0, 1, 1, 2, 2, 2, 2; the last source column is never read.
    const std::vector<uint8_t> grey = {10, 11, 12, 13, 20, 21, 22, 23};
    std::vector<uint8_t> out(8 * 4, 0);
    interp.ResampleNearest(1, grey.data(), 4, 2, 0, 0, 4, 2, out.data(), 8, 4, 0, 0, 8, 4, 1, true);
    const uint8_t row0[8] = {10, 10, 11, 11, 12, 12, 12, 12};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(row0[x], out[y * 8 + x]) << x << "," << y; // rows 0, 0, 0, 0 of a 2-row source

    // Colour: three samples copied and the fourth set to 255, for 16-bit samples too.
    std::vector<uint16_t> c16(4 * 4 * 4);
    for (size_t i = 0; i < c16.size(); ++i)
        c16[i] = static_cast<uint16_t>(1000 + i);
    std::vector<uint16_t> o16(8 * 8 * 4, 7);
    interp.ResampleNearest(2, c16.data(), 4, 4, 0, 0, 4, 4, o16.data(), 8, 8, 0, 0, 8, 8, 4, false);
    const int cols[8] = {0, 0, 1, 1, 2, 2, 2, 2};
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const uint16_t* d = &o16[(y * 8 + x) * 4];
            const uint16_t* s = &c16[(cols[y] * 4 + cols[x]) * 4];
            ASSERT_EQ(s[0], d[0]);
            ASSERT_EQ(s[2], d[2]);
            ASSERT_EQ(255, d[3]);
        }
    std::vector<uint8_t> c8(3 * 2 * 4, 9), o8(6 * 4 * 4, 0);
    interp.ResampleNearest(4, c8.data(), 3, 2, 0, 0, 3, 2, o8.data(), 6, 4, 0, 0, 6, 4, 4, false);
    for (size_t i = 0; i < o8.size(); ++i)
        ASSERT_EQ(i % 4 == 3 ? 255 : 9, o8[i]);

    // A one-row source: only row 0 is read (the buffer holds exactly one row).
    std::vector<uint8_t> one = {5, 6, 7};
    std::vector<uint8_t> o1(6 * 3, 0);
    interp.ResampleNearest(1, one.data(), 3, 1, 0, 0, 3, 1, o1.data(), 6, 3, 0, 0, 6, 3, 1, true);
    for (int y = 0; y < 3; ++y)
        EXPECT_EQ(5, o1[y * 6 + 0]);
    EXPECT_EQ(6, o1[2]);

    // Offsets, empty rectangles, rectangles leaving the buffer and unknown selectors.
    std::vector<uint8_t> o2(6 * 4, 1);
    interp.ResampleNearest(1, grey.data(), 4, 2, 1, 0, 3, 2, o2.data(), 6, 4, 2, 1, 6, 3, 1, true);
    EXPECT_EQ(11, o2[1 * 6 + 2]);
    EXPECT_EQ(1, o2[0]);
    const std::vector<uint8_t> same = o2;
    interp.ResampleNearest(1, grey.data(), 4, 2, 2, 0, 2, 2, o2.data(), 6, 4, 0, 0, 6, 4, 1, true);
    interp.ResampleNearest(1, grey.data(), 4, 2, 0, 0, 5, 2, o2.data(), 6, 4, 0, 0, 6, 4, 1, true);
    interp.ResampleNearest(1, grey.data(), 4, 2, 0, 0, 4, 2, o2.data(), 6, 4, 0, 0, 6, 5, 1, true);
    interp.ResampleNearest(3, grey.data(), 4, 2, 0, 0, 4, 2, o2.data(), 6, 4, 0, 0, 6, 4, 1, true);
    EXPECT_EQ(same, o2);
}
