// Vector forms against the portable forms they stand in for, value for value, for every
// form the processor runs (SSE2, AVX2, AVX-512). Dequantisation: a whole 32- or 64-wide block
// row goes through the vector form, the same words as two narrower regions through the
// per-sample one - rounding ties, saturation at both ends, infinite products; on 32-bit float
// lines, rows of several lengths against the portable form. Floating-point lifting: the
// symmetric two-tap step on lines of every length against the portable loop; the wide
// interleaving of 32-bit halves. Inverse
// irreversible colour transform: whole lines against the same pixels one at a time. Output
// conversion of float lines: worked values, then random lines of every length.
#include "codec/coding/rv_decoder.h"
#include "codec/coding/rv_lifting_sse2.h"
#include "codec/coding/rv_lifting_step.h"
#include "codec/coding/rvd_colour.h"
#include "tests/codec/support/processor_form.h"
#include "tools/decode/float_line_conversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

std::vector<std::int16_t> convert(const rv_dequantizer& dq, const std::vector<std::uint32_t>& words, int width,
                                  bool halves)
{
    rvd_block b;
    b.set_max_samples(width);
    b.size = rvd_coords(1, width);
    b.transpose = b.vflip = b.hflip = false;
    for (int j = 0; j < width; j++)
        b.sample_buffer[j] = std::int32_t(words[size_t(j)]);
    std::vector<std::int16_t> line(size_t(width), 7);
    std::int16_t* lines[1] = {line.data()};
    rv_line_ptrs ptrs;
    ptrs.s16 = lines;
    for (int part = 0; part < (halves ? 2 : 1); part++) {
        // A region narrower than the block takes the per-sample form.
        int x0 = halves ? part * (width / 2) : 0;
        b.region = rvd_dims(rvd_coords(0, x0), rvd_coords(1, halves ? width / 2 : width));
        dq.convert(b, ptrs, x0);
    }
    return line;
}

// 32-bit float lines: a row of `width` in the given form.
std::vector<float> convert_floats(const rv_dequantizer& dq, const std::vector<std::uint32_t>& words, int width,
                                  const codec_test::vector_form& f)
{
    codec_test::processor_form_guard form(f.mmx_level, rvd_pentium_cmov_exists, f.avx_level);
    rvd_block b;
    b.set_max_samples(width);
    b.size = rvd_coords(1, width);
    b.transpose = b.vflip = b.hflip = false;
    for (int j = 0; j < width; j++)
        b.sample_buffer[j] = std::int32_t(words[size_t(j)]);
    b.region = rvd_dims(rvd_coords(0, 0), rvd_coords(1, width));
    std::vector<float> line(size_t(width) + 1, 7.0f);
    float* lines[1] = {line.data()};
    rv_line_ptrs ptrs;
    ptrs.f32 = lines;
    dq.convert(b, ptrs, 0);
    return line;
}

TEST(VectorForms, DequantisedRowsEqualThePerSampleForm)
{
    codec_test::processor_form_guard sse2(std::max(rvd_mmx_level, 2));
    std::mt19937 rng(49);
    std::vector<std::uint32_t> words(64);
    for (int trial = 0; trial < 400; trial++) {
        for (size_t j = 0; j < words.size(); j++) {
            std::uint32_t mag = rng() & 0x7FFFFFFF;
            switch (rng() % 4) {
            case 0: mag >>= rng() % 31; break;                   // every magnitude range
            case 1: mag = (mag >> (rng() % 31)) & ~0xFFFu; break; // round values: ties
            case 2: mag = rng() % 3 == 0 ? 0x7FFFFFFF : 0; break; // the extremes
            default: break;
            }
            words[j] = mag | (rng() & 0x80000000u);
        }
        rv_dequantizer dq;
        dq.K_max = dq.K_max_prime = int(rng() % 32);
        dq.reversible = trial % 2 == 0;
        dq.use_shorts = true;
        // Step sizes from tiny to ones that overflow the float product.
        dq.delta = std::ldexp(1.0f + float(rng() % 1000) / 1000.0f, int(rng() % 80) - 40 - dq.K_max);
        if (trial % 50 == 1)
            dq.delta = 1.0e30f;
        for (int width : {32, 64})
            ASSERT_EQ(convert(dq, words, width, false), convert(dq, words, width, true))
                << "trial " << trial << " width " << width << " K_max " << dq.K_max;
        if (!dq.reversible) {
            // Floats compared as bytes: the sign of a zero and NaNs count.
            rv_dequantizer dq32 = dq;
            dq32.use_shorts = false;
            const std::vector<codec_test::vector_form> forms = codec_test::vector_forms();
            for (int width : {1, 15, 33, 63})
                for (const codec_test::vector_form& f : forms) {
                    std::vector<float> vec = convert_floats(dq32, words, width, f);
                    std::vector<float> portable = convert_floats(dq32, words, width, forms[0]);
                    ASSERT_EQ(0, std::memcmp(vec.data(), portable.data(), vec.size() * sizeof(float)))
                        << "trial " << trial << " width " << width << " " << f.name;
                }
        }
    }
}

TEST(VectorForms, SymmetricFloatLiftingEqualsThePortableLoop)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    rv_lifting_step step;
    step.support_length = 2;
    for (int count = 0; count < 40; count++) {
        std::vector<float> a(size_t(count) + 1), b(size_t(count) + 1), y(size_t(count) + 1);
        for (size_t i = 0; i < a.size(); i++) {
            a[i] = value(rng);
            b[i] = value(rng) * 1.0e-3f;
            y[i] = value(rng);
        }
        const float k = value(rng) * 1.7f;
        step.coefficients.assign(2, k);
        const float* src[2] = {a.data(), b.data()};
        std::vector<float> portable = y;
        {
            codec_test::processor_form_guard portable_form(0);
            rv_lift_floats(step, portable.data(), src, count);
        }
        for (const codec_test::vector_form& f : codec_test::vector_forms()) {
            std::vector<float> by_vector = y;
            codec_test::processor_form_guard vector_form(f.mmx_level, rvd_pentium_cmov_exists, f.avx_level);
            rv_lift_floats(step, by_vector.data(), src, count);
            ASSERT_EQ(0, std::memcmp(by_vector.data(), portable.data(), portable.size() * sizeof(float)))
                << count << " " << f.name;
            ASSERT_EQ(by_vector[size_t(count)], y[size_t(count)]) << f.name; // nothing beyond the count
        }
    }
}

TEST(VectorForms, InterleavedHalvesAlternateLowAndHigh)
{
    struct form {
        const char* name;
        int avx_level;
        bool (*interleave)(const void*, const void*, int, void*);
    };
    const form forms[] = {{"AVX2", 1, rv_interleave32_avx2}, {"AVX-512", 2, rv_interleave32_avx512}};
    std::vector<std::int32_t> low(50), high(50);
    for (int i = 0; i < 50; i++) {
        low[size_t(i)] = 1000 + i;
        high[size_t(i)] = -1000 - i;
    }
    for (const form& f : forms) {
        if (rvd_avx_level < f.avx_level)
            continue;
        for (int pairs = 0; pairs <= 50; pairs++) {
            std::vector<std::int32_t> out(size_t(2 * pairs) + 1, 7);
            ASSERT_TRUE(f.interleave(low.data(), high.data(), pairs, out.data())) << f.name;
            for (int i = 0; i < pairs; i++) {
                ASSERT_EQ(out[size_t(2 * i)], 1000 + i) << f.name << " " << pairs;
                ASSERT_EQ(out[size_t(2 * i + 1)], -1000 - i) << f.name << " " << pairs;
            }
            ASSERT_EQ(out.back(), 7) << f.name; // nothing beyond the pairs
        }
    }
}

TEST(VectorForms, InverseColourTransformOfLinesEqualsThePixelForm)
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> value(-300.0f, 300.0f);
    for (int count : {1, 3, 4, 7, 9, 17, 64, 67}) {
        std::vector<float> c[3];
        for (auto& v : c) {
            v.resize(size_t(count) + 1);
            for (float& f : v)
                f = value(rng);
        }
        std::vector<float> by_pixel[3] = {c[0], c[1], c[2]};
        for (size_t i = 0; i < size_t(count); i++) {
            codec_test::processor_form_guard portable(0);
            rv_ict_inverse_float(&by_pixel[0][i], &by_pixel[1][i], &by_pixel[2][i], 1);
        }
        for (const codec_test::vector_form& f : codec_test::vector_forms()) {
            std::vector<float> by_line[3] = {c[0], c[1], c[2]};
            codec_test::processor_form_guard form(f.mmx_level, rvd_pentium_cmov_exists, f.avx_level);
            rv_ict_inverse_float(by_line[0].data(), by_line[1].data(), by_line[2].data(), count);
            for (int k = 0; k < 3; k++) {
                ASSERT_EQ(0, std::memcmp(by_line[k].data(), by_pixel[k].data(), by_line[k].size() * sizeof(float)))
                    << count << " " << k << " " << f.name;
                ASSERT_EQ(by_line[k][size_t(count)], c[k][size_t(count)]); // nothing beyond the count
            }
        }
    }
}

// Output samples of float lines: floor(x 2^depth + 0.5), clipped, re-centred when unsigned.
float_line_conversion conversion_for(int depth, bool is_signed)
{
    const std::int64_t offset = is_signed ? 0 : std::int64_t(1) << (depth - 1);
    const std::int64_t lo = is_signed ? -(std::int64_t(1) << (depth - 1)) : 0;
    const std::int64_t hi = is_signed ? (std::int64_t(1) << (depth - 1)) - 1 : (std::int64_t(1) << depth) - 1;
    return {std::ldexp(1.0, depth), double(lo - offset), double(hi - offset), std::int32_t(offset)};
}

std::vector<std::int32_t> converted(const float_line_conversion& c, const std::vector<float>& line,
                                    const codec_test::vector_form& f)
{
    codec_test::processor_form_guard form(f.mmx_level, rvd_pentium_cmov_exists, f.avx_level);
    std::vector<std::int32_t> out(line.size() + 1, -7);
    c.convert(line.data(), int(line.size()), out.data());
    return out;
}

TEST(VectorForms, FloatLineConversionGivesTheRoundedClippedSamples)
{
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    struct worked {
        int depth;
        bool is_signed;
        float x;
        std::int32_t sample;
    };
    const worked table[] = {
        {8, false, 0.0f, 128},           {8, false, -0.5f, 0},           {8, false, 0.5f, 255},
        {8, false, 1.5f / 256, 130},     {8, false, -1.5f / 256, 127},   // ties go up
        {8, false, -0.4f / 256, 128},    {8, false, -0.6f / 256, 127},   // negative fractions
        {8, false, nan, 0},              {8, false, inf, 255},           {8, false, -inf, 0},
        {8, false, 1.0e30f, 255},        {8, false, 1.0e-40f, 128},      // denormal
        {12, true, -2.5f / 4096, -2},    {12, true, 2047.49f / 4096, 2047}, {12, true, -0.75f, -2048},
        {16, false, 0.25f, 49152},       {31, false, 0.4999f, 2147268928}, {31, true, -1.0f, -1073741824},
        {31, true, 0.75f, 1073741823},   {31, false, nan, 0},
    };
    for (const codec_test::vector_form& f : codec_test::vector_forms())
        for (const worked& w : table) {
            // Each value alone and in a line long enough for every form's full vectors.
            std::vector<float> line(37, w.x);
            std::vector<std::int32_t> out = converted(conversion_for(w.depth, w.is_signed), line, f);
            for (size_t i = 0; i < line.size(); i++)
                ASSERT_EQ(out[i], w.sample) << f.name << " depth " << w.depth << " x " << w.x << " at " << i;
            ASSERT_EQ(out.back(), -7) << f.name; // nothing beyond the width
        }
}

TEST(VectorForms, FloatLineConversionEqualsThePortableForm)
{
    std::mt19937 rng(53);
    const std::vector<codec_test::vector_form> forms = codec_test::vector_forms();
    for (int trial = 0; trial < 200; trial++) {
        const int depth = 1 + int(rng() % 31);
        const float_line_conversion c = conversion_for(depth, rng() % 2 == 0);
        std::vector<float> line(rng() % 70);
        for (float& x : line) {
            // Values in range, near half steps, far outside, and raw bit patterns (NaNs,
            // infinities, denormals).
            const float step = std::ldexp(1.0f, -depth);
            switch (rng() % 4) {
            case 0: x = std::ldexp(float(int(rng() % 4001) - 2000), -11); break;
            case 1: x = (float(int(rng() % 201) - 100) + 0.5f) * step; break;
            case 2: x = std::ldexp(float(int(rng() % 201) - 100), int(rng() % 60) - 20); break;
            default: {
                std::uint32_t bits = rng();
                std::memcpy(&x, &bits, sizeof x);
            }
            }
        }
        const std::vector<std::int32_t> portable = converted(c, line, forms[0]);
        for (const codec_test::vector_form& f : forms)
            ASSERT_EQ(converted(c, line, f), portable) << f.name << " trial " << trial << " depth " << depth;
    }
}

} // namespace
