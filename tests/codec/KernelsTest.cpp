// Wavelet kernels: impulse responses, scales, energy and BIBO gains against values
// worked out independently here, and the common kernel descriptions.
#include "codec/coding/rvd_kernels.h"
#include "codec/core/rv_kernel_description.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/test_clusters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace codec_test;

namespace {
std::vector<double> taps_of(rvd_kernels& k, int which)
{
    int half = 0;
    const float* t = k.get_impulse_response(which, half);
    std::vector<double> out;
    for (int i = -half; i <= half; i++)
        out.push_back(t[i]);
    return out;
}

// Upsample g by 2 and convolve with h.
std::vector<double> up_conv(const std::vector<double>& g, const std::vector<double>& h)
{
    std::vector<double> up(2 * g.size() - 1, 0.0);
    for (size_t i = 0; i < g.size(); i++)
        up[2 * i] = g[i];
    std::vector<double> out(up.size() + h.size() - 1, 0.0);
    for (size_t i = 0; i < up.size(); i++)
        for (size_t j = 0; j < h.size(); j++)
            out[i + j] += up[i] * h[j];
    return out;
}

// Convolve g with h upsampled by `factor` (an analysis cascade).
std::vector<double> conv_up(const std::vector<double>& g, const std::vector<double>& h, size_t factor)
{
    std::vector<double> hu((h.size() - 1) * factor + 1, 0.0);
    for (size_t i = 0; i < h.size(); i++)
        hu[i * factor] = h[i];
    std::vector<double> out(g.size() + hu.size() - 1, 0.0);
    for (size_t i = 0; i < g.size(); i++)
        for (size_t j = 0; j < hu.size(); j++)
            out[i + j] += g[i] * hu[j];
    return out;
}

double energy(const std::vector<double>& v)
{
    double e = 0;
    for (double x : v)
        e += x * x;
    return e;
}
double abs_sum(const std::vector<double>& v)
{
    double e = 0;
    for (double x : v)
        e += std::fabs(x);
    return e;
}

// Symmetric taps from the centre outwards into a full filter.
std::vector<double> symmetric(std::vector<double> half)
{
    std::vector<double> out(half.rbegin(), half.rend());
    out.insert(out.end(), half.begin() + 1, half.end());
    return out;
}
} // namespace

TEST(RvdKernels, W5X3ResponsesGainsAndErrors)
{
    rvd_kernels k;
    k.init(1, true);
    EXPECT_EQ((std::vector<double>{0.5, 1, 0.5}), taps_of(k, 2));
    EXPECT_EQ((std::vector<double>{-0.125, -0.25, 0.75, -0.25, -0.125}), taps_of(k, 3));
    EXPECT_EQ((std::vector<double>{-0.125, 0.25, 0.75, 0.25, -0.125}), taps_of(k, 0));
    EXPECT_EQ((std::vector<double>{-0.5, 1, -0.5}), taps_of(k, 1));
    EXPECT_EQ(1.0f, k.get_low_scale());
    EXPECT_EQ(1.0f, k.get_high_scale());
    int half = 0, smin = 0, smax = 0;
    EXPECT_NE(nullptr, k.get_impulse_response(3, half, &smin, &smax));
    EXPECT_EQ(2, half);
    EXPECT_EQ(-2, smin);
    EXPECT_EQ(2, smax);
    EXPECT_EQ(nullptr, k.get_impulse_response(4, half));
    const double expect[4] = {1.5, 2.75, 5.375, 10.6875};
    for (int n = 1; n <= 4; n++)
        EXPECT_DOUBLE_EQ(expect[n - 1], k.get_energy_gain(n, 0, nullptr)) << n;
    bool high = true;
    EXPECT_DOUBLE_EQ(0.71875, k.get_energy_gain(0, 1, &high));
    EXPECT_DOUBLE_EQ(4 * k.get_energy_gain(4, 0, nullptr), k.get_energy_gain(6, 0, nullptr));
    EXPECT_DOUBLE_EQ(expect[1], k.get_energy_gain(2, 0, nullptr)); // cached answer agrees

    // BIBO gains: absolute sums of the analysis cascades, worked out here.
    std::vector<double> lo = {-0.125, 0.25, 0.75, 0.25, -0.125}, hi = {-0.5, 1, -0.5};
    EXPECT_DOUBLE_EQ(1.0, k.get_bibo_gain(0, 0, nullptr));
    EXPECT_NEAR(abs_sum(lo), k.get_bibo_gain(1, 0, nullptr), 1e-12);
    EXPECT_NEAR(abs_sum(hi), k.get_bibo_gain(0, 1, &high), 1e-12);
    EXPECT_NEAR(abs_sum(conv_up(lo, lo, 2)), k.get_bibo_gain(2, 0, nullptr), 1e-12);
    EXPECT_NEAR(abs_sum(conv_up(lo, hi, 2)), k.get_bibo_gain(1, 1, &high), 1e-12);
    EXPECT_NEAR(abs_sum(conv_up(conv_up(lo, lo, 2), lo, 4)), k.get_bibo_gain(3, 0, nullptr), 1e-12);
    double low_gain = 0, high_gain = 0;
    k.get_bibo_gains(0, 0, nullptr, low_gain, high_gain);
    EXPECT_NEAR(1.5, low_gain, 1e-12);
    EXPECT_NEAR(2.0, high_gain, 1e-12);

    EXPECT_EQ("Ravade Core Error:\nIllegal DWT kernel ID used to construct a `rvd_kernels' object.",
              error_text([&] { k.init(2, false); }));
    EXPECT_EQ("Ravade Core Error:\nThe W9X7 kernel may not be used for reversible compression!",
              error_text([&] { k.init(0, true); }));
}

TEST(RvdKernels, W9X7MatchesTheStandardFilters)
{
    rvd_kernels k;
    k.init(0, false);
    std::vector<double> ana_low = symmetric({0.602949018, 0.266864118, -0.078223267, -0.016864118, 0.026748757});
    std::vector<double> ana_high = symmetric({0.557543526, -0.295635882, -0.028771763, 0.045635882});
    std::vector<double> got_low = taps_of(k, 0), got_high = taps_of(k, 1);
    ASSERT_EQ(ana_low.size(), got_low.size());
    ASSERT_EQ(ana_high.size(), got_high.size());
    for (size_t i = 0; i < ana_low.size(); i++)
        EXPECT_NEAR(ana_low[i], got_low[i], 1e-6) << i;
    for (size_t i = 0; i < ana_high.size(); i++)
        EXPECT_NEAR(ana_high[i], got_high[i], 1e-6) << i;
    // Synthesis filters: the other band's analysis taps, modulated and doubled.
    std::vector<double> syn_low(ana_high.size()), syn_high(ana_low.size());
    for (size_t i = 0; i < ana_high.size(); i++)
        syn_low[i] = 2 * ana_high[i] * ((int(i) - 3) % 2 ? -1 : 1);
    for (size_t i = 0; i < ana_low.size(); i++)
        syn_high[i] = 2 * ana_low[i] * ((int(i) - 4) % 2 ? -1 : 1);
    EXPECT_NEAR(1.96591, energy(syn_low), 1e-4);
    EXPECT_NEAR(2.08087, energy(syn_high), 1e-4);
    bool high = true;
    EXPECT_NEAR(1.96591, k.get_energy_gain(1, 0, nullptr), 1e-4);
    EXPECT_NEAR(2.08087, k.get_energy_gain(0, 1, &high), 1e-4);
    std::vector<double> g = syn_low, gh = syn_high;
    for (int n = 1; n <= 4; n++) {
        EXPECT_NEAR(energy(g), k.get_energy_gain(n, 0, nullptr), 1e-4 * energy(g)) << n;
        EXPECT_NEAR(energy(gh), k.get_energy_gain(n - 1, 1, &high), 1e-4 * energy(gh)) << n;
        g = up_conv(g, syn_low);
        gh = up_conv(gh, syn_low);
    }
    EXPECT_NEAR(8 * k.get_energy_gain(4, 0, nullptr), k.get_energy_gain(7, 0, nullptr), 1e-9);
    // The analysis responses come out normalised: DC gain 1 low, Nyquist gain 1 high.
    double dc = 0, nyq = 0;
    for (size_t i = 0; i < got_low.size(); i++)
        dc += got_low[i];
    for (size_t i = 0; i < got_high.size(); i++)
        nyq += got_high[i] * ((int(i) - 3) % 2 ? -1 : 1);
    EXPECT_NEAR(1.0, dc, 1e-6);
    EXPECT_NEAR(1.0, nyq, 1e-6);
}

TEST(RvdKernels, DescriptionsAgreeBetweenBuiltInAndAtkForms)
{
    bool rev = false, sym = false, sym_ext = false;
    int n = 0;
    rvd_kernel_step_info* steps = nullptr;
    float* coeffs = nullptr;
    rv_create_kernel_description(1, 0, nullptr, -1, rev, sym, sym_ext, n, steps, coeffs);
    std::unique_ptr<rvd_kernel_step_info[]> s1(steps);
    std::unique_ptr<float[]> c1(coeffs);
    ASSERT_EQ(2, n);
    EXPECT_TRUE(rev && sym && sym_ext);
    EXPECT_EQ(0, s1[0].support_min);
    EXPECT_EQ(-1, s1[1].support_min);
    EXPECT_EQ((std::vector<float>{-0.5f, -0.5f, 0.25f, 0.25f}), std::vector<float>(c1.get(), c1.get() + 4));
    EXPECT_EQ(1, s1[0].downshift);
    EXPECT_EQ(2, s1[1].rounding_offset);

    rv_create_kernel_description(0, 0, nullptr, -1, rev, sym, sym_ext, n, steps, coeffs);
    std::unique_ptr<rvd_kernel_step_info[]> s0(steps);
    std::unique_ptr<float[]> c0(coeffs);
    ASSERT_EQ(4, n);
    EXPECT_FALSE(rev);
    EXPECT_EQ(0.44350687f, c0[7]);
    rv_create_kernel_description(7, 0, nullptr, -1, rev, sym, sym_ext, n, steps, coeffs);
    EXPECT_EQ(0, n);
    EXPECT_EQ(nullptr, steps);

    // The 5/3 kernel through an ATK object gives the same filters and gains.
    std::unique_ptr<test_params> root = make_test_tree(2, 1);
    rvd_params* atk = root->access_cluster("ATK")->access_relation(-1, -1, 2, false);
    atk->set("Ksymmetric", 0, 0, true);
    atk->set("Kextension", 0, 0, 1);
    atk->set("Kreversible", 0, 0, true);
    int rows[2][4] = {{2, 0, 1, 1}, {2, -1, 2, 2}};
    for (int r = 0; r < 2; r++)
        for (int f = 0; f < 4; f++)
            atk->set("Ksteps", r, f, rows[r][f]);
    for (int i = 0; i < 4; i++)
        atk->set("Kcoeffs", i, 0, (i < 2) ? -0.5 : 0.25);
    rv_create_kernel_description(-1, 2, root.get(), 1, rev, sym, sym_ext, n, steps, coeffs);
    std::unique_ptr<rvd_kernel_step_info[]> sa(steps);
    std::unique_ptr<float[]> ca(coeffs);
    ASSERT_EQ(2, n);
    EXPECT_TRUE(rev && sym && sym_ext);
    rvd_kernels from_atk, builtin;
    from_atk.init(n, sa.get(), ca.get(), sym, sym_ext, rev);
    builtin.init(1, true);
    for (int w = 0; w < 4; w++)
        EXPECT_EQ(taps_of(builtin, w), taps_of(from_atk, w)) << w;
    bool high = true;
    for (int lv = 0; lv <= 5; lv++) {
        EXPECT_DOUBLE_EQ(builtin.get_energy_gain(lv, 1, &high), from_atk.get_energy_gain(lv, 1, &high));
        EXPECT_DOUBLE_EQ(builtin.get_bibo_gain(lv, 1, &high), from_atk.get_bibo_gain(lv, 1, &high));
    }
    // Tap-major storage: tap t of step s at t * num_steps + s.
    EXPECT_EQ(0.25f, from_atk.get_coefficients()[1 * 2 + 1]);

    // Steps of 2, 3 and 2 taps: 7 coefficients, the second step's from values 2 to 4.
    rvd_params* k3 = root->access_cluster("ATK")->access_relation(-1, -1, 3, false);
    int lens[3] = {2, 3, 2};
    for (int r = 0; r < 3; r++) {
        k3->set("Ksteps", r, 0, lens[r]);
        for (int f = 1; f < 4; f++)
            k3->set("Ksteps", r, f, 0);
    }
    for (int i = 0; i < 7; i++)
        k3->set("Kcoeffs", i, 0, 0.1 * (i + 1));
    rv_create_kernel_description(-1, 3, root.get(), -1, rev, sym, sym_ext, n, steps, coeffs);
    std::unique_ptr<rvd_kernel_step_info[]> s3(steps);
    std::unique_ptr<float[]> c3(coeffs);
    ASSERT_EQ(3, n);
    EXPECT_EQ(3, s3[1].support_length);
    EXPECT_EQ(0.3f, c3[2]);
    EXPECT_EQ(0.5f, c3[4]);
    EXPECT_EQ("Ravade Core Error:\nUnable to find ATK marker segment referenced from within an COD/COC or MCC marker segment.",
              error_text([&] { rv_create_kernel_description(-1, 9, root.get(), -1, rev, sym, sym_ext, n, steps, coeffs); }));
}
