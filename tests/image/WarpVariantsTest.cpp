#include "WarpSimdModel.h"
#include "WarpTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

using namespace warptest;

namespace {

const int kFormats[18] = {warp_gray8,     warp_rgb8,       warp_rgbx8,       warp_planar3_8,   warp_rgba8,
                          warp_planar4_8, warp_gray32f,    warp_rgb32f,      warp_rgbx32f,     warp_planar3_32f,
                          warp_rgba32f,   warp_planar4_32f, warp_gray16,     warp_rgb16,       warp_rgbx16,
                          warp_planar3_16, warp_rgba16,    warp_planar4_16};
// Variant index - 1.
const warp_kernel_table* const kTables[4] = {&warp_sse_kernels, &warp_sse2_kernels, &warp_sse3_kernels,
                                             &warp_ssse3_kernels};

bool Kept(int format, int c) { return Layout(format) == warp_layout_rgbx && c == 3; }

// 8-bit and 16-bit samples over their whole range; floats signed.
void FillSource(Image& img, std::mt19937& rng)
{
    std::uniform_real_distribution<double> d(-1000.0, 1000.0);
    if ((img.format >> 3) != warp_sample_32f)
        return img.fillRandom(rng, (img.format >> 3) == warp_sample_8u ? 256 : 65536);
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x)
            for (int c = 0; c < img.channelsStored(); ++c)
                img.set(x, y, c, d(rng));
}

void FillCanary(Image& img)
{
    for (auto& p : img.planes)
        for (size_t i = 0; i < p.size(); ++i)
            p[i] = static_cast<uint8_t>(0x3C ^ (i * 7));
}

// Any rotation, scales 0.05 to 20, shear, mirrors; the source centre lands somewhere on the
// destination, so maps cross every border.
void RandomMap(std::mt19937& rng, int sw, int sh, int dw, int dh, double m[6])
{
    std::uniform_real_distribution<double> u(0.0, 1.0);
    MakeMap(u(rng) * 6.283185307179586, 0.05 * std::pow(400.0, u(rng)), 0.05 * std::pow(400.0, u(rng)),
            u(rng) - 0.5, u(rng) < 0.5, u(rng) < 0.5, 0, 0, m);
    m[2] = u(rng) * dw - (m[0] * sw + m[1] * sh) * 0.5;
    m[5] = u(rng) * dh - (m[3] * sw + m[4] * sh) * 0.5;
}

// One kernel over rows 0..lastRow of dst with the given spans and inverse coefficients.
void RunKernel(const warp_kernel_table& table, int interp, Image& src, Image& dst, int lastRow, const int32_t* spans,
               const double* inv)
{
    warp_kernel_at(table, warp_kernel_slot(src.format, interp))(src.arg(), dst.arg(), src.step, dst.step, 0, lastRow,
                                                                spans, inv, src.width - 1, src.height - 1, nullptr);
}

// Four destination pixels all sampling source position (x, y).
Image FourAt(const warp_kernel_table& table, int interp, Image& src, double x, double y)
{
    Image out(src.format, 4, 1);
    const int32_t span[2] = {0, 3};
    const double inv[6] = {0, 0, x, 0, 0, y};
    RunKernel(table, interp, src, out, 0, span, inv);
    return out;
}

} // namespace

TEST(WarpVariantSwitch, IndexFollowsTheEnvironment)
{
    // The first use of the index reads the switch; a bad value says so on one line.
    testing::internal::CaptureStderr();
    const int index = warp_variant_index();
    const std::string said = testing::internal::GetCapturedStderr();
    if (std::getenv("ORBEL_EXPECT_WARP_WARNING")) {
        EXPECT_EQ(1, std::count(said.begin(), said.end(), '\n')) << said;
        EXPECT_NE(std::string::npos, said.find("ssse3")) << said;
    }
    const char* expected = std::getenv("ORBEL_EXPECT_WARP_VARIANT");
    const char* given = std::getenv("ORBEL_WARP_VARIANT");
    if (expected || !given || !*given) {
        EXPECT_EQ(expected ? std::atoi(expected) : 0, index);
    }

    const std::pair<const char*, int> texts[] = {{"generic", 0}, {"sse", 1}, {"sse2", 2}, {"sse3", 3}, {"ssse3", 4},
                                                 {"0", 0},       {"4", 4},   {"5", -1},   {"avx", -1}, {"", -1},
                                                 {"sse22", -1},  {"-1", -1}};
    for (const auto& t : texts)
        EXPECT_EQ(t.second, warp_variant_from_text(t.first)) << t.first;
}

TEST(WarpVariantSwitch, EntryPointsFollowTheIndex)
{
    // 16-bit samples 1 and 2 halfway: the variants round to even (2), the generic body truncates (1).
    Image src(warp_gray16, 2, 2), dst(warp_gray16, 1, 1);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            src.set(x, y, 0, 1 + x);
    const double half[6] = {1, 0, -0.5, 0, 1, 0}; // destination 0 takes source x = 0.5
    for (int index : {0, 1, 2, 3, 4, 7, -1}) {
        ScopedWarpVariant variant(index);
        ASSERT_EQ(0, warp_affine_gray16(src.arg(), 2, 2, src.step, 0, 0, 2, 2, dst.arg(), dst.step, 0, 0, 1, 1, half,
                                        warp_linear));
        EXPECT_EQ(index >= 1 && index <= 4 ? 2 : 1, dst.get(0, 0, 0)) << "index " << index;
    }
}

TEST(WarpVariantModel, EverySlotMatchesTheScalarModelBitForBit)
{
    std::mt19937 rng(52);
    std::uniform_int_distribution<int> size(2, 40);
    for (int t = 0; t < 4; ++t)
        for (int format : kFormats)
            for (int interp : {warp_nearest, warp_linear, warp_cubic})
                for (int iter = 0; iter < 8; ++iter) {
                    SCOPED_TRACE(::testing::Message() << "table " << t << " format " << format << " interp "
                                                      << interp << " iteration " << iter);
                    Image src(format, size(rng), size(rng));
                    FillSource(src, rng);
                    // Every fourth run writes rows of up to 4096 pixels.
                    const bool wide = iter % 4 == 0;
                    const int dw = wide ? 4096 : 64, dh = wide ? 3 : 48;
                    Image ours(format, dw, dh), model(format, dw, dh);
                    FillCanary(ours);
                    FillCanary(model);
                    double m[6];
                    RandomMap(rng, src.width, src.height, dw, dh, m);
                    if (wide)
                        m[0] *= 4096.0 / (src.width * std::fabs(m[0]) + 1.0);
                    if (iter == 1) // fractions creeping up to 1 and down to 0
                        MakeMap(0, 1 / (1 - 0x1p-17), 1 / (1 + 0x1p-17), 0, false, false, 0.5, -0.25, m);
                    const int status = kWarpDrivers[t + 1](src.arg(), src.width, src.height, src.step, 0, 0,
                                                           src.width, src.height, ours.arg(), ours.step, 0, 0, dw,
                                                           dh, format, m, interp);
                    const int expected =
                        warpmodel::Warp(t == 0, src.arg(), src.width, src.height, src.step, 0, 0, src.width,
                                        src.height, model.arg(), model.step, 0, 0, dw, dh, format, m, interp);
                    ASSERT_EQ(expected, status);
                    ASSERT_EQ(model.planes, ours.planes);
                }
}

TEST(WarpVariantModel, SourcesWiderThanFixedPointPositions)
{
    // 2^17 columns and more: the 8-bit kernels take their fractions in double precision.
    std::mt19937 rng(17);
    for (int format : {warp_gray8, warp_rgb8, warp_rgbx8, warp_planar3_8, warp_rgba8, warp_planar4_8}) {
        Image src(format, (1 << 17) + 3, 3);
        FillSource(src, rng);
        const double m[6] = {1024.0 / src.width, 0.01, 0.3, 0.001, 1.3, 0.2}; // the width onto 1024 columns
        for (int t = 0; t < 4; ++t) {
            Image ours(format, 1024, 4), model(format, 1024, 4);
            ASSERT_EQ(0, kWarpDrivers[t + 1](src.arg(), src.width, 3, src.step, 0, 0, src.width, 3, ours.arg(),
                                             ours.step, 0, 0, 1024, 4, format, m, warp_linear));
            warpmodel::Warp(t == 0, src.arg(), src.width, 3, src.step, 0, 0, src.width, 3, model.arg(), model.step, 0,
                            0, 1024, 4, format, m, warp_linear);
            ASSERT_EQ(model.planes, ours.planes) << "table " << t << " format " << format;
        }
    }
}

TEST(WarpVariantKernels, ValuesOfTheRules)
{
    const warp_kernel_table& table = warp_sse2_kernels;
    std::mt19937 rng(7);
    for (int format : kFormats)
        for (int interp : {warp_nearest, warp_linear}) {
            SCOPED_TRACE(::testing::Message() << "format " << format << " interp " << interp);
            Image src(format, 6, 5), dst(format, 4, 3), before(format, 4, 3);
            FillSource(src, rng);
            FillCanary(dst);
            FillCanary(before);
            // No rows: nothing written. An empty first row: the second lands one step on.
            const int32_t spans[4] = {1, 0, 0, 3};
            const double inv[6] = {1, 0, 0.25, 0, 1, 0};
            RunKernel(table, interp, src, dst, -1, spans, inv);
            ASSERT_EQ(before.planes, dst.planes);
            RunKernel(table, interp, src, dst, 1, spans, inv);
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < 4; ++x)
                    for (int c = 0; c < dst.channelsStored(); ++c) {
                        if (y != 1 || Kept(format, c)) { // the fourth sample of rgbx is kept
                            ASSERT_EQ(before.get(x, y, c), dst.get(x, y, c)) << x << "," << y << "," << c;
                        } else if (interp == warp_nearest) {
                            ASSERT_EQ(src.get(x, 1, c), dst.get(x, y, c)) << x << "," << c;
                        }
                    }
        }
    // Linear at column xMax gives that column exactly.
    Image ramp(warp_gray8, 4, 2);
    FillSource(ramp, rng);
    EXPECT_EQ(ramp.get(3, 1, 0), FourAt(table, warp_linear, ramp, 3.0, 1.0).get(0, 0, 0));
    // Halfway between two columns: 8-bit 0 and 255 give 128 (top = bottom = 8160), 0 and 1
    // give 1; 16-bit 2 and 3 give 2, 3 and 4 give 4, 1 and 2 give 2 (ties to even).
    const int halfway[5][4] = {{0, 255, 128, warp_gray8}, {0, 1, 1, warp_gray8}, {2, 3, 2, warp_gray16},
                               {3, 4, 4, warp_gray16},    {1, 2, 2, warp_gray16}};
    for (const auto& h : halfway) {
        Image two(h[3], 2, 2);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 2; ++x)
                two.set(x, y, 0, h[x]);
        const Image out = FourAt(table, warp_linear, two, 0.5, 0.0);
        for (int X = 0; X < 4; ++X)
            EXPECT_EQ(h[2], out.get(X, 0, 0)) << h[0] << " and " << h[1];
    }
}

TEST(WarpVariantKernels, PositionsBeyondTheEdgesTakeTheEdgeSample)
{
    std::mt19937 rng(11);
    // Positions 0.3 and 1.3 beyond each edge, on a whole row or column inside.
    const double beyond[8][2] = {{-0.3, 1}, {-1.3, 1}, {4.3, 1}, {5.3, 1}, {2, -0.3}, {2, -1.3}, {2, 3.3}, {2, 4.3}};
    for (int t = 0; t < 4; ++t)
        for (int format : kFormats) {
            Image src(format, 5, 4); // exact size: a read outside is a sanitizer report
            FillSource(src, rng);
            // The lerp form p00 + (p01 - p00) at fraction 1 may miss a float sample by its last bit.
            const double slack = (format >> 3) == warp_sample_32f ? 1e-4 : 0.0;
            for (int interp : {warp_nearest, warp_linear})
                for (const auto& p : beyond) {
                    const Image out = FourAt(*kTables[t], interp, src, p[0], p[1]);
                    const int ex = std::min(std::max(static_cast<int>(p[0]), 0), 4);
                    const int ey = std::min(std::max(static_cast<int>(p[1]), 0), 3);
                    for (int X = 0; X < 4; ++X)
                        for (int c = 0; c < src.channelsStored(); ++c)
                            if (!Kept(format, c)) {
                                ASSERT_NEAR(src.get(ex, ey, c), out.get(X, 0, c), slack)
                                    << "table " << t << " format " << format << " interp " << interp << " at "
                                    << p[0] << "," << p[1];
                            }
                }
        }
    // White stays white: 60000 then 65535, read 0.3 past the right edge.
    Image edge(warp_gray16, 2, 2);
    for (int y = 0; y < 2; ++y) {
        edge.set(0, y, 0, 60000);
        edge.set(1, y, 0, 65535);
    }
    for (const warp_kernel_table* table : kTables)
        for (int X = 0; X < 4; ++X)
            EXPECT_EQ(65535, FourAt(*table, warp_linear, edge, 1.3, 0.0).get(X, 0, 0));
}

TEST(WarpVariantKernels, CloseToTheGenericKernels)
{
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> size(4, 30);
    double worst[3] = {0, 0, 0}; // linear: 8-bit, float (of the value range), 16-bit
    for (int format : kFormats)
        for (int interp : {warp_nearest, warp_linear})
            for (int iter = 0; iter < 6; ++iter) {
                SCOPED_TRACE(::testing::Message() << "format " << format << " interp " << interp);
                Image src(format, size(rng), size(rng));
                FillSource(src, rng);
                double m[6];
                RandomMap(rng, src.width, src.height, 48, 40, m);
                std::vector<Image> out; // generic, SSE2, SSE3, SSSE3 (planes move, pointers stay valid)
                out.reserve(4);
                for (int t = 0; t < 4; ++t) {
                    out.emplace_back(format, 48, 40);
                    FillCanary(out[t]);
                    kWarpDrivers[t == 0 ? 0 : t + 1](src.arg(), src.width, src.height, src.step, 0, 0, src.width,
                                                     src.height, out[t].arg(), out[t].step, 0, 0, 48, 40, format, m,
                                                     interp);
                }
                // Pixels whose source position lies within 1e-6 of a rounding boundary are skipped.
                double q[8], inv[6];
                warp_map_source_roi(m, 0, 0, src.width - 1, src.height - 1, q);
                warp_inverse_from_quadrangle(q, 0, 0, src.width - 1, src.height - 1, 0, inv);
                const double shift = interp == warp_nearest ? 0.5 : 0.0;
                for (int Y = 0; Y < 40; ++Y)
                    for (int X = 0; X < 48; ++X) {
                        const double x = inv[0] * X + inv[1] * Y + inv[2] + shift;
                        const double y = inv[3] * X + inv[4] * Y + inv[5] + shift;
                        const double dx = x - std::floor(x), dy = y - std::floor(y);
                        if (std::min(dx, 1 - dx) < 1e-6 || std::min(dy, 1 - dy) < 1e-6)
                            continue;
                        for (int c = 0; c < out[0].channelsStored(); ++c) {
                            const double a = out[0].get(X, Y, c), b = out[1].get(X, Y, c);
                            if (interp == warp_nearest) {
                                ASSERT_EQ(a, b) << X << "," << Y;
                            }
                            const int type = format >> 3;
                            worst[type] = std::max(worst[type], std::fabs(a - b) / (type == warp_sample_32f ? 2000 : 1));
                        }
                    }
            }
    EXPECT_LE(worst[warp_sample_8u], 1.0);
    EXPECT_LE(worst[warp_sample_16u], 1.0);
    EXPECT_LE(worst[warp_sample_32f], 1e-6);
    std::printf("largest linear difference from the generic kernels: 8-bit %g, 16-bit %g, float %g of the range\n",
                worst[warp_sample_8u], worst[warp_sample_16u], worst[warp_sample_32f]);
}

TEST(WarpVariantDriver, AllocationsAndPlanePointers)
{
    // Byte-count blocks: null for 0, aligned otherwise, each one released.
    EXPECT_EQ(nullptr, warp_alloc_aligned_bytes(0));
    const warp_alloc_seam start = warp_alloc_counters;
    for (size_t n = 1; n <= 101; ++n) {
        const size_t count = n == 101 ? size_t{1} << 20 : n;
        void* p = warp_alloc_aligned_bytes(count);
        ASSERT_NE(nullptr, p);
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(p) % 32);
        std::memset(p, 0xEE, count);
        warp_free_aligned(p);
    }
    EXPECT_EQ(warp_alloc_counters.allocations - start.allocations, warp_alloc_counters.releases - start.releases);

    std::mt19937 rng(4);
    double m[6];
    MakeMap(0.3, 2.5, 2.5, 0.0, false, false, 3.0, 1.0, m);
    for (int t = 1; t < 5; ++t) {
        SCOPED_TRACE(t);
        auto run = [&](Image& src, Image& dst, const double* c, int interp) {
            return kWarpDrivers[t](src.arg(), src.width, src.height, src.step, 0, 0, src.width, src.height,
                                   dst.arg(), dst.step, 0, 0, dst.width, dst.height, src.format, c, interp);
        };
        // Cubic on a 3-pixel-wide source runs the linear kernel and allocates the span table only.
        Image narrow(warp_gray8, 3, 9), cubic(warp_gray8, 16, 30), linear(warp_gray8, 16, 30);
        FillSource(narrow, rng);
        int before = warp_alloc_counters.allocations;
        ASSERT_EQ(0, run(narrow, cubic, m, warp_cubic));
        EXPECT_EQ(1, warp_alloc_counters.allocations - before);
        ASSERT_EQ(0, run(narrow, linear, m, warp_linear));
        EXPECT_EQ(linear.planes, cubic.planes);
        // A singular map fails before anything is allocated.
        const double singular[6] = {0, 0, 1, 1, 1, 1};
        before = warp_alloc_counters.allocations;
        EXPECT_EQ(warp_bad_coefficients, run(narrow, cubic, singular, warp_cubic | warp_smooth_edges_bit));
        EXPECT_EQ(before, warp_alloc_counters.allocations);
        // No coordinate buffer: nothing done, the span table released; with it, both released.
        Image src(warp_gray8, 12, 12), dst(warp_gray8, 40, 40);
        FillSource(src, rng);
        FillCanary(dst);
        const auto untouched = dst.planes;
        const warp_alloc_seam prior = warp_alloc_counters;
        warp_alloc_counters.failNext = 2;
        EXPECT_EQ(warp_nothing_to_do, run(src, dst, m, warp_cubic));
        EXPECT_EQ(0, warp_alloc_counters.failNext);
        EXPECT_EQ(untouched, dst.planes);
        ASSERT_EQ(0, run(src, dst, m, warp_cubic));
        EXPECT_EQ(3, warp_alloc_counters.allocations - prior.allocations);
        EXPECT_EQ(3, warp_alloc_counters.releases - prior.releases);
        // A planar destination's pointer array is as it was, with or without smoothing.
        for (int interp : {int{warp_linear}, warp_cubic | warp_smooth_edges_bit}) {
            Image psrc(warp_planar4_16, 12, 12), pdst(warp_planar4_16, 40, 40);
            FillSource(psrc, rng);
            const std::vector<void*> given = pdst.pointers;
            ASSERT_EQ(0, run(psrc, pdst, m, interp));
            EXPECT_EQ(given, pdst.pointers);
        }
    }
}
