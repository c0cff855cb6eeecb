// Colour transforms: round trips, fixed points, agreement of the fixed-point ICT with
// the float ICT, values worked out by hand from the 14-bit factors, and the coefficient
// block written at start-up.
#include "codec/coding/rvd_colour.h"

#include "platform/ModuleStartup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

template <class T>
struct Lines3 {
    std::vector<T> a, b, c;
    explicit Lines3(size_t n) : a(n), b(n), c(n) {}
};

// Random samples of a signed B-bit range, with the range's corners mixed in.
template <class T>
Lines3<T> rgb_samples(int bits, size_t n, unsigned seed)
{
    const int64_t lo = -(int64_t(1) << (bits - 1)), hi = (int64_t(1) << (bits - 1)) - 1;
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int64_t> dist(lo, hi);
    Lines3<T> l(n);
    const int64_t corners[3] = {lo, hi, 0};
    size_t i = 0;
    for (int r = 0; r < 3; ++r)
        for (int g = 0; g < 3; ++g)
            for (int b = 0; b < 3; ++b, ++i) {
                l.a[i] = T(corners[r]);
                l.b[i] = T(corners[g]);
                l.c[i] = T(corners[b]);
            }
    for (; i < n; ++i) {
        l.a[i] = T(dist(gen));
        l.b[i] = T(dist(gen));
        l.c[i] = T(dist(gen));
    }
    return l;
}

TEST(ColourTransforms, RctRoundTripIsExactOnBothLineWidths)
{
    for (int bits = 8; bits <= 16; ++bits) {
        const auto orig = rgb_samples<int32_t>(bits, 1000, unsigned(bits));
        auto l = orig;
        rv_rct_forward32(l.a.data(), l.b.data(), l.c.data(), 1000);
        rv_rct_inverse32(l.a.data(), l.b.data(), l.c.data(), 1000);
        EXPECT_EQ(l.a, orig.a) << bits;
        EXPECT_EQ(l.b, orig.b) << bits;
        EXPECT_EQ(l.c, orig.c) << bits;
    }
    // Colour differences take one bit more, so 16-bit lines hold up to 15-bit samples.
    for (int bits = 8; bits <= 15; ++bits) {
        const auto orig = rgb_samples<int16_t>(bits, 1000, unsigned(100 + bits));
        auto l = orig;
        rv_rct_forward16(l.a.data(), l.b.data(), l.c.data(), 1000);
        rv_rct_inverse16(l.a.data(), l.b.data(), l.c.data(), 1000);
        EXPECT_EQ(l.a, orig.a) << bits;
        EXPECT_EQ(l.b, orig.b) << bits;
        EXPECT_EQ(l.c, orig.c) << bits;
    }
    // Wide 32-bit samples: the sums are formed without overflow.
    int32_t r[1] = {2000000000}, g[1] = {1000000000}, b[1] = {2000000000};
    rv_rct_forward32(r, g, b, 1);
    EXPECT_EQ(r[0], 1500000000);
    EXPECT_EQ(g[0], 1000000000);
    rv_rct_inverse32(r, g, b, 1);
    EXPECT_EQ(r[0], 2000000000);
    EXPECT_EQ(g[0], 1000000000);
    EXPECT_EQ(b[0], 2000000000);
}

TEST(ColourTransforms, RctKnownValues)
{
    // Y = (10 + 40 + 30) >> 2 = 20, Cb = 30 - 20, Cr = 10 - 20; floor shifts for negatives.
    int32_t x[2] = {10, -3}, y[2] = {20, 0}, z[2] = {30, 0};
    rv_rct_forward32(x, y, z, 2);
    EXPECT_EQ(x[0], 20);
    EXPECT_EQ(y[0], 10);
    EXPECT_EQ(z[0], -10);
    EXPECT_EQ(x[1], -1); // -3 >> 2
    int16_t p[1] = {5}, q[1] = {-7}, s[1] = {2};
    rv_rct_inverse16(p, q, s, 1); // G = 5 - (-5 >> 2) = 7
    EXPECT_EQ(q[0], 7);
    EXPECT_EQ(p[0], 9);
    EXPECT_EQ(s[0], 0);
}

TEST(ColourTransforms, IctFixedPointsInEveryRepresentation)
{
    float fy[2] = {0, 1}, fcb[2] = {0, 0}, fcr[2] = {0, 0};
    rv_ict_inverse_float(fy, fcb, fcr, 2);
    for (float* v : {fy, fcb, fcr}) {
        EXPECT_EQ(v[0], 0.0f);
        EXPECT_EQ(v[1], 1.0f);
    }
    int16_t y[2] = {0, 8192}, cb[2] = {0, 0}, cr[2] = {0, 0};
    rv_ict_inverse16(y, cb, cr, 2);
    for (int16_t* v : {y, cb, cr}) {
        EXPECT_EQ(v[0], 0);
        EXPECT_EQ(v[1], 8192);
    }
}

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

TEST(ColourTransforms, FixedPointIctTracksFloatIct)
{
    const size_t n = 4096;
    std::mt19937 gen(7);
    std::uniform_int_distribution<int> dist(-4096, 4095);
    std::vector<int16_t> a(n), b(n), c(n);
    std::vector<float> fa(n), fb(n), fc(n);
    for (size_t i = 0; i < n; ++i) {
        a[i] = int16_t(dist(gen));
        b[i] = int16_t(dist(gen));
        c[i] = int16_t(dist(gen));
        fa[i] = a[i] / 8192.0f;
        fb[i] = b[i] / 8192.0f;
        fc[i] = c[i] / 8192.0f;
    }
    auto worst = [&] {
        double w = 0;
        for (size_t i = 0; i < n; ++i) {
            w = std::max(w, std::fabs(a[i] - fa[i] * 8192.0));
            w = std::max(w, std::fabs(b[i] - fb[i] * 8192.0));
            w = std::max(w, std::fabs(c[i] - fc[i] * 8192.0));
        }
        return w;
    };
    rv_ict_inverse16(a.data(), b.data(), c.data(), int(n));
    rv_ict_inverse_float(fa.data(), fb.data(), fc.data(), int(n));
    EXPECT_LE(worst(), 2.0);
    for (size_t i = 0; i < n; ++i) {
        fa[i] = a[i] / 8192.0f;
        fb[i] = b[i] / 8192.0f;
        fc[i] = c[i] / 8192.0f;
    }
    rv_ict_forward16(a.data(), b.data(), c.data(), int(n));
    rv_ict_forward_float(fa.data(), fb.data(), fc.data(), int(n));
    EXPECT_LE(worst(), 2.0);
}

TEST(ColourTransforms, FloatIctRoundTrip)
{
    float r[3] = {0.5f, -0.5f, 0.1f}, g[3] = {-0.5f, 0.25f, 0.1f}, b[3] = {0.0f, 0.5f, 0.1f};
    const float r0[3] = {0.5f, -0.5f, 0.1f}, g0[3] = {-0.5f, 0.25f, 0.1f}, b0[3] = {0.0f, 0.5f, 0.1f};
    rv_ict_forward_float(r, g, b, 3);
    EXPECT_NEAR(r[2], 0.1f, 1e-6); // grey has no colour difference
    EXPECT_NEAR(g[2], 0.0f, 1e-6);
    rv_ict_inverse_float(r, g, b, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(r[i], r0[i], 1e-4);
        EXPECT_NEAR(g[i], g0[i], 1e-4);
        EXPECT_NEAR(b[i], b0[i], 1e-4);
    }
}

TEST(ColourTransforms, CoefficientBlockAtStartUp)
{
    ASSERT_TRUE(ModuleLoad());
    const int16_t* block = rv_init_colour_transform_vectors();
    ASSERT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u);
    // The fractions times 65536, as 16-bit words.
    const double fractions[8] = {0.299, 0.114, 1 - 0.5643, 1 - 0.7133, 0.402, 1.772 - 2, 1 - 0.71414, -0.34414};
    for (int v = 0; v < rv_colour_vector_count; ++v) {
        ASSERT_EQ(rv_colour_vectors[v], block + 8 * v) << v;
        EXPECT_NEAR(block[8 * v], fractions[v] * 65536.0, 4.0) << v;
        for (int lane = 1; lane < 8; ++lane)
            EXPECT_EQ(block[8 * v + lane], block[8 * v]) << v;
    }
    EXPECT_EQ(uint16_t(block[8 * rv_colour_cb_fact_b]), 50594u);
    EXPECT_EQ(uint16_t(block[8 * rv_colour_cb_fact_g]), 42983u);
    const std::vector<std::string> names = StartupRegistry::global().names();
    EXPECT_NE(std::find(names.begin(), names.end(), "colour transform constants"), names.end());
}

} // namespace

#include "codec/core/rvd_processor.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/processor_form.h"

namespace {

struct LineSet {
    rvd_sample_allocator alloc;
    rvd_line_buf l[3];
    LineSet(int width, bool absolute, bool shorts)
    {
        for (rvd_line_buf& b : l)
            b.pre_create(&alloc, width, absolute, shorts, 0, 0);
        alloc.finalize();
        for (rvd_line_buf& b : l)
            b.create();
    }
};

TEST(ColourLineEntryPoints, KindAndWidthChooseTheWork)
{
    codec_test::processor_form_guard portable(0); // restored however the test ends
    // Absolute 16-bit lines: RCT; a width of 2 leaves samples 2.. untouched.
    LineSet s(5, true, true);
    for (int i = 0; i < 5; ++i) {
        s.l[0].get_buf16()[i] = 20;
        s.l[1].get_buf16()[i] = 10;
        s.l[2].get_buf16()[i] = -10;
    }
    rvd_convert_ycc_to_rgb(s.l[0], s.l[1], s.l[2], 0);
    EXPECT_EQ(s.l[1].get_buf16()[0], 10);
    rvd_convert_ycc_to_rgb(s.l[0], s.l[1], s.l[2], 2);
    EXPECT_EQ(s.l[0].get_buf16()[1], 10); // R = Cr + G, G = 20 - 0
    EXPECT_EQ(s.l[1].get_buf16()[1], 20);
    EXPECT_EQ(s.l[2].get_buf16()[1], 30);
    EXPECT_EQ(s.l[1].get_buf16()[2], 10);
    rvd_convert_ycc_to_rgb(s.l[0], s.l[1], s.l[2], -1);
    EXPECT_EQ(s.l[2].get_buf16()[4], 30);
    // A width beyond the lines converts what they hold, nothing past them.
    rvd_convert_rgb_to_ycc(s.l[0], s.l[1], s.l[2]);
    rvd_convert_ycc_to_rgb(s.l[0], s.l[1], s.l[2], 1000);
    EXPECT_EQ(s.l[2].get_buf16()[4], 30);

    // 16-bit real lines: the fixed-point ICT of the table.
    LineSet f(1, false, true);
    f.l[0].get_buf16()[0] = 1000;
    f.l[1].get_buf16()[0] = -500;
    f.l[2].get_buf16()[0] = 300;
    rvd_convert_ycc_to_rgb(f.l[0], f.l[1], f.l[2], -1);
    EXPECT_EQ(f.l[0].get_buf16()[0], 1421);
    EXPECT_EQ(f.l[1].get_buf16()[0], 958);
    EXPECT_EQ(f.l[2].get_buf16()[0], 114);

    // 32-bit lines: integer RCT and float ICT.
    LineSet i(1, true, false), r(1, false, false);
    i.l[0].get_buf32()[0].ival = 100000;
    i.l[1].get_buf32()[0].ival = 70000;
    i.l[2].get_buf32()[0].ival = -3;
    rvd_convert_rgb_to_ycc(i.l[0], i.l[1], i.l[2]);
    EXPECT_EQ(i.l[0].get_buf32()[0].ival, (100000 + 140000 - 3) >> 2);
    rvd_convert_ycc_to_rgb(i.l[0], i.l[1], i.l[2], -1);
    EXPECT_EQ(i.l[1].get_buf32()[0].ival, 70000);
    r.l[0].get_buf32()[0].fval = 0.25f;
    r.l[1].get_buf32()[0].fval = 0.0f;
    r.l[2].get_buf32()[0].fval = 0.0f;
    rvd_convert_ycc_to_rgb(r.l[0], r.l[1], r.l[2], -1);
    EXPECT_EQ(r.l[2].get_buf32()[0].fval, 0.25f);
}

TEST(ColourLineEntryPoints, MismatchedLinesRaiseACodecError)
{
    LineSet a(4, true, true), b(4, false, true);
    const std::string text = codec_test::error_text([&] { rvd_convert_ycc_to_rgb(a.l[0], b.l[1], a.l[2], -1); });
    EXPECT_NE(text.find("Ravade Core Error:"), std::string::npos);
    rvd_line_buf empty[3];
    codec_test::error_text([&] { rvd_convert_rgb_to_ycc(empty[0], empty[1], empty[2]); });
}

} // namespace
