// Colour conversion into sRGB: known values, and patches computed here in double
// precision from the colour spaces' own definitions (not from the conversion's tables).
#include "codec/jp2/jp2_colour_conversion.h"

#include "support/codec_messages.h"
#include "support/jp2_box_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using namespace jp2_test;

// Lines of 16-bit samples with 13 fraction bits.
struct Lines {
    rvd_sample_allocator alloc;
    std::vector<rvd_line_buf> l;
    Lines(int count, int width) : l(size_t(count))
    {
        for (auto& b : l)
            b.pre_create(&alloc, width, false, true, 0, 0);
        alloc.finalize();
        for (auto& b : l)
            b.create();
    }
    int16_t* operator[](int i) { return l[size_t(i)].get_buf16(); }
};

j2_colour enumerated(int space, int colours)
{
    j2_colour c;
    c.initialized = true;
    c.space = space;
    c.num_colours = colours;
    return c;
}

// Nominal value in 0..1 to a centred line sample, and back.
int16_t to_line(double x)
{
    return int16_t(std::lround(std::min(4095.0, std::max(-4096.0, (x - 0.5) * 8192.0))));
}
double from_line(int s)
{
    return s / 8192.0 + 0.5;
}

double srgb_encode(double l)
{
    return l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055;
}
double rec_linear(double v)
{
    return v < 0.081 ? v / 4.5 : std::pow((v + 0.099) / 1.099, 1 / 0.45);
}

struct Rgb {
    double r, g, b;
};

// Converts one triple per entry through a three-colour description.
std::vector<Rgb> convert3(const j2_colour& desc, const std::vector<Rgb>& in, bool four = false,
                          const std::vector<double>& k = {})
{
    jp2_colour_conversion conv;
    EXPECT_TRUE(conv.init(jp2_colour(&desc), false, false));
    EXPECT_TRUE(conv.is_non_trivial());
    const int n = int(in.size());
    Lines l(4, n);
    for (int i = 0; i < n; ++i) {
        l[0][i] = to_line(in[size_t(i)].r);
        l[1][i] = to_line(in[size_t(i)].g);
        l[2][i] = to_line(in[size_t(i)].b);
        l[3][i] = to_line(k.empty() ? 0.0 : k[size_t(i)]);
    }
    if (four)
        EXPECT_TRUE(conv.convert_rgb4(l.l[0], l.l[1], l.l[2], l.l[3]));
    else
        EXPECT_TRUE(conv.convert_rgb(l.l[0], l.l[1], l.l[2]));
    std::vector<Rgb> out;
    for (int i = 0; i < n; ++i)
        out.push_back({from_line(l[0][i]), from_line(l[1][i]), from_line(l[2][i])});
    return out;
}

// Samples differ by at most `units` steps of 1/8192.
void expect_near(const std::vector<Rgb>& got, const std::vector<Rgb>& want, double units, const char* what)
{
    ASSERT_EQ(got.size(), want.size());
    const double tol = units / 8192.0;
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_NEAR(got[i].r, want[i].r, tol) << what << " red, patch " << i;
        EXPECT_NEAR(got[i].g, want[i].g, tol) << what << " green, patch " << i;
        EXPECT_NEAR(got[i].b, want[i].b, tol) << what << " blue, patch " << i;
    }
}

// Luminance and colour differences of the patches: greys, primaries and a skin tone.
const std::vector<Rgb> patches = {{0.0, 0.0, 0.0}, {0.2, 0.2, 0.2}, {0.5, 0.5, 0.5}, {0.8, 0.8, 0.8},
                                  {1.0, 1.0, 1.0}, {0.9, 0.1, 0.1}, {0.1, 0.9, 0.1}, {0.1, 0.1, 0.9},
                                  {0.8, 0.6, 0.5}};

Rgb to_ycc(const Rgb& p, const double* k)
{
    // Solves R = Y + k0 Cr, G = Y - k2 Cb - k3 Cr, B = Y + k1 Cb by Cramer's rule.
    const double m[3][3] = {{1, 0, k[0]}, {1, -k[2], -k[3]}, {1, k[1], 0}};
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    auto solve = [&](int col) {
        double a[3][3];
        const double rhs[3] = {p.r, p.g, p.b};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                a[i][j] = j == col ? rhs[i] : m[i][j];
        return (a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0])) /
               det;
    };
    return {solve(0), solve(1), solve(2)};
}

const double bt601[4] = {1.402, 1.772, 0.344136, 0.714136};

} // namespace

TEST(ColourConversion, BilevelGreyAndSrgb)
{
    for (int space : {0, 15}) {
        j2_colour desc = enumerated(space, 1);
        jp2_colour_conversion conv;
        ASSERT_TRUE(conv.init(jp2_colour(&desc), false, false));
        EXPECT_TRUE(conv.is_non_trivial());
        Lines l(1, 4);
        const int16_t in[4] = {-4096, 0, -1, 4095};
        std::copy(in, in + 4, l[0]);
        EXPECT_TRUE(conv.convert_lum(l.l[0]));
        const int16_t black = space == 0 ? -4096 : 4095, white = space == 0 ? 4095 : -4096;
        EXPECT_EQ(l[0][0], white) << space;
        EXPECT_EQ(l[0][1], black) << space;
        EXPECT_EQ(l[0][2], white) << space;
        EXPECT_EQ(l[0][3], black) << space;
        EXPECT_FALSE(conv.convert_rgb(l.l[0], l.l[0], l.l[0])) << "one colour only";
    }
    // Greyscale and sRGB are identities: trivial and leave every sample as it is.
    j2_colour grey = enumerated(17, 1), srgb = enumerated(16, 3);
    jp2_colour_conversion g, s;
    ASSERT_TRUE(g.init(jp2_colour(&grey), false, false));
    ASSERT_TRUE(s.init(jp2_colour(&srgb), false, false));
    EXPECT_FALSE(g.is_non_trivial());
    EXPECT_FALSE(s.is_non_trivial());
    Lines l(3, 3);
    const int16_t v[3] = {-32768, 17, 32767};
    for (int c = 0; c < 3; ++c)
        std::copy(v, v + 3, l[c]);
    EXPECT_TRUE(g.convert_lum(l.l[0]));
    EXPECT_TRUE(s.convert_rgb(l.l[0], l.l[1], l.l[2]));
    for (int c = 0; c < 3; ++c)
        EXPECT_TRUE(std::equal(v, v + 3, l[c]));
    EXPECT_FALSE(s.convert_lum(l.l[0]));
}

TEST(ColourConversion, VideoYccSpacesLineariseAndReencodeAsSrgb)
{
    // Digital YCbCr(1): Y = 16/256 + 219/256 Y', C = 1/2 + 224/256 C'; the RGB' carry the
    // recommendation transfer with sRGB primaries, so the output is sRGB(linear(RGB')).
    std::vector<Rgb> in, want;
    for (const Rgb& p : patches) {
        const Rgb y = to_ycc(p, bt601);
        in.push_back({0.0625 + 0.85546875 * y.r, 0.5 + 0.875 * y.g, 0.5 + 0.875 * y.b});
        want.push_back({srgb_encode(rec_linear(p.r)), srgb_encode(rec_linear(p.g)), srgb_encode(rec_linear(p.b))});
    }
    expect_near(convert3(enumerated(1, 3), in), want, 8, "YCbCr(1)");
    // Other primaries: neutral greys stay neutral and keep their lightness.
    for (int space : {3, 4, 22, 23}) {
        const double* k = space >= 22 ? nullptr : bt601;
        const double kp[4] = {1.5756, 1.827, 0.225346, 0.476746};
        std::vector<Rgb> gin, gwant;
        for (double v : {0.1, 0.5, 0.9}) {
            const Rgb y = to_ycc({v, v, v}, k ? k : kp);
            if (space == 3)
                gin.push_back({y.r, y.g + 0.5, y.b + 0.5});
            else
                gin.push_back({0.0625 + 0.85546875 * y.r, 0.5 + 0.875 * y.g, 0.5 + 0.875 * y.b});
            const double e = srgb_encode(rec_linear(v));
            gwant.push_back({e, e, e});
        }
        expect_near(convert3(enumerated(space, 3), gin), gwant, 24, "grey");
    }
    // PhotoYCC white: Y' = 1 stored at 0.7133, differences at their offsets.
    expect_near(convert3(enumerated(9, 3), {{0.7133, 0.5 + 0.1094, 0.5 + 0.0352}}), {{1.0, 1.0, 1.0}}, 16, "PhotoYCC");
}

namespace {

} // namespace

namespace {

// A display profile with three curves and colorants, PCS XYZ.
bytes icc_profile(int colours, uint16_t gamma_8_8, const double* colorant)
{
    std::vector<std::pair<const char*, bytes>> tags;
    auto curve = [&] {
        bytes b;
        put32(b, fourcc("curv"));
        put32(b, 0);
        put32(b, 1);
        put16(b, gamma_8_8);
        return b;
    };
    if (colours == 1)
        tags.push_back({"kTRC", curve()});
    else {
        const char* trc[3] = {"rTRC", "gTRC", "bTRC"};
        const char* xyz[3] = {"rXYZ", "gXYZ", "bXYZ"};
        for (int c = 0; c < 3; ++c) {
            tags.push_back({trc[c], curve()});
            bytes x;
            put32(x, fourcc("XYZ "));
            put32(x, 0);
            for (int r = 0; r < 3; ++r)
                put32(x, uint32_t(int32_t(std::lround(colorant[3 * r + c] * 65536))));
            tags.push_back({xyz[c], x});
        }
    }
    bytes out(128, 0);
    auto set32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
    };
    set32(12, fourcc("mntr"));
    set32(16, fourcc(colours == 1 ? "GRAY" : "RGB "));
    set32(20, fourcc("XYZ "));
    put32(out, uint32_t(tags.size()));
    bytes body;
    const size_t data = 132 + 12 * tags.size();
    for (auto& t : tags) {
        put32(out, fourcc(t.first));
        put32(out, uint32_t(data + body.size()));
        put32(out, uint32_t(t.second.size()));
        body.insert(body.end(), t.second.begin(), t.second.end());
    }
    out.insert(out.end(), body.begin(), body.end());
    set32(0, uint32_t(out.size()));
    return out;
}

j2_colour icc_colour(int colours, uint16_t gamma_8_8, const double* colorant = nullptr)
{
    j2_colour c = enumerated(colours == 1 ? 100 : 101, colours);
    c.icc.reset(new j2_icc_profile);
    c.icc->parse(icc_profile(colours, gamma_8_8, colorant));
    return c;
}

} // namespace

TEST(ColourConversion, IccCurvesAndColorantsReachSrgb)
{
    // sRGB's colorants as sRGB profiles store them (Bradford-adapted to D50): the profile
    // then describes sRGB primaries with its own tone curve.
    const double colorant[9] = {0.4360747, 0.3850649, 0.1430804, 0.2225045, 0.7168786,
                                0.0606169, 0.0139322, 0.0971045, 0.7141733};
    for (uint16_t gamma : {uint16_t(256), uint16_t(563)}) {
        const double g = gamma / 256.0;
        std::vector<Rgb> want;
        for (const Rgb& p : patches)
            want.push_back({srgb_encode(std::pow(p.r, g)), srgb_encode(std::pow(p.g, g)), srgb_encode(std::pow(p.b, g))});
        expect_near(convert3(icc_colour(3, gamma, colorant), patches), want, 24, "ICC RGB");
    }
    // One colour: the luminance table applies the curve, then the sRGB encoding.
    j2_colour grey = icc_colour(1, 563);
    jp2_colour_conversion conv;
    ASSERT_TRUE(conv.init(jp2_colour(&grey), false, false));
    EXPECT_TRUE(conv.is_non_trivial());
    Lines l(1, 5);
    const double xs[5] = {0.0, 0.1, 0.5, 0.9, 1.0};
    for (int i = 0; i < 5; ++i)
        l[0][i] = to_line(xs[i]);
    EXPECT_TRUE(conv.convert_lum(l.l[0]));
    for (int i = 0; i < 5; ++i)
        EXPECT_NEAR(from_line(l[0][i]), srgb_encode(std::pow(xs[i], 563 / 256.0)), 4 / 8192.0) << xs[i];
    // A three-colour profile without colorants cannot be converted.
    j2_colour bad = icc_colour(1, 256);
    bad.space = 101;
    bad.num_colours = 3;
    EXPECT_FALSE(conv.init(jp2_colour(&bad), false, false));
}
