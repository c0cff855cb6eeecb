// Vector forms against the portable forms they stand in for, value for value.
// Dequantisation: a whole 32- or 64-wide block row goes through the vector form, the same
// words as two narrower regions through the per-sample one - rounding ties, saturation at
// both ends, infinite products; on 32-bit float lines, rows of odd length against the
// portable form. Floating-point lifting: the symmetric two-tap step on lines
// of every length against the processor level that forces the portable loop. Inverse
// irreversible colour transform: whole lines against the same pixels one at a time.
#include "codec/coding/rv_decoder.h"
#include "codec/coding/rv_lifting_step.h"
#include "codec/coding/rvd_colour.h"
#include "tests/codec/support/processor_form.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
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

// 32-bit float lines: a row of `width` under the given processor level.
std::vector<float> convert_floats(const rv_dequantizer& dq, const std::vector<std::uint32_t>& words, int width,
                                  int level)
{
    codec_test::processor_form_guard form(level);
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
            std::vector<float> vec = convert_floats(dq32, words, 63, std::max(rvd_mmx_level, 2));
            std::vector<float> portable = convert_floats(dq32, words, 63, 0);
            ASSERT_EQ(0, std::memcmp(vec.data(), portable.data(), vec.size() * sizeof(float))) << "trial " << trial;
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
        std::vector<float> by_vector = y, portable = y;
        {
            codec_test::processor_form_guard vector_form(std::max(rvd_mmx_level, 2));
            rv_lift_floats(step, by_vector.data(), src, count);
        }
        {
            codec_test::processor_form_guard portable_form(0);
            rv_lift_floats(step, portable.data(), src, count);
        }
        ASSERT_EQ(0, std::memcmp(by_vector.data(), portable.data(), portable.size() * sizeof(float))) << count;
        ASSERT_EQ(by_vector[size_t(count)], y[size_t(count)]); // nothing beyond the count
    }
}

TEST(VectorForms, InverseColourTransformOfLinesEqualsThePixelForm)
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> value(-300.0f, 300.0f);
    for (int count : {1, 3, 4, 7, 64, 67}) {
        std::vector<float> c[3];
        for (auto& v : c) {
            v.resize(size_t(count) + 1);
            for (float& f : v)
                f = value(rng);
        }
        std::vector<float> by_line[3] = {c[0], c[1], c[2]}, by_pixel[3] = {c[0], c[1], c[2]};
        rv_ict_inverse_float(by_line[0].data(), by_line[1].data(), by_line[2].data(), count);
        for (size_t i = 0; i < size_t(count); i++)
            rv_ict_inverse_float(&by_pixel[0][i], &by_pixel[1][i], &by_pixel[2][i], 1);
        for (int k = 0; k < 3; k++) {
            ASSERT_EQ(0, std::memcmp(by_line[k].data(), by_pixel[k].data(), by_line[k].size() * sizeof(float)))
                << count << " " << k;
            ASSERT_EQ(by_line[k][size_t(count)], c[k][size_t(count)]); // nothing beyond the count
        }
    }
}

} // namespace
