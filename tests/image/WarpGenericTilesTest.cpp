// The generic kernels walk the destination in tiles and fill each row's positions in runs;
// every output bit must stay that of the plain pixel-by-pixel walk (WarpGenericReference).
#include "WarpGenericReference.h"
#include "WarpTestSupport.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <string>

using namespace warptest;

namespace {

const int kFormats[18] = {warp_gray8,      warp_rgb8,        warp_rgbx8,   warp_planar3_8,  warp_rgba8,
                          warp_planar4_8,  warp_gray32f,     warp_rgb32f,  warp_rgbx32f,    warp_planar3_32f,
                          warp_rgba32f,    warp_planar4_32f, warp_gray16,  warp_rgb16,      warp_rgbx16,
                          warp_planar3_16, warp_rgba16,      warp_planar4_16};
const int kInterpolations[3] = {warp_nearest, warp_linear, warp_cubic};

void FillSource(Image& img, std::mt19937& rng)
{
    const int type = img.format >> 3;
    img.fillRandom(rng, type == warp_sample_8u ? 256 : type == warp_sample_16u ? 65536 : 1000);
}

// Destination of a warp, pre-filled so unwritten pixels and kept samples show.
Image Canvas(int format, int w, int h)
{
    Image img(format, w, h);
    for (auto& p : img.planes)
        for (size_t i = 0; i < p.size(); ++i)
            p[i] = static_cast<uint8_t>(0xA5 ^ (i * 13));
    return img;
}

void ExpectSame(const Image& a, const Image& b, const std::string& what)
{
    for (size_t p = 0; p < a.planes.size(); ++p)
        ASSERT_TRUE(a.planes[p] == b.planes[p]) << what << ", plane " << p;
}

struct MapCase {
    const char* name;
    double angle, scaleX, scaleY, shear;
    bool mirrorX;
    int srcW, srcH, dstW, dstH;
};

// Destinations wider than a tile and taller than a band; the quarter turns carry cos(pi/2),
// a step of 6e-17 that meets tiny binades near zero; the zooms cross binades many times.
const MapCase kMaps[] = {
    {"rot17 zoom 1.37", 0.29670597283903605, 1.37, 1.37, 0.0, false, 97, 61, 300, 37},
    {"quarter turn zoom 1.5", 1.5707963267948966, 1.5, 1.5, 0.0, false, 61, 97, 290, 30},
    {"three-quarter turn mirrored", 4.71238898038469, 0.8, 1.2, 0.0, true, 70, 50, 140, 90},
    {"shrink sheared", 0.7, 0.3, 0.45, 0.4, false, 400, 300, 150, 120},
    {"zoom 7", -0.2, 7.0, 7.0, 0.0, true, 23, 19, 170, 140},
    {"nearly identity", 1e-9, 1.0, 1.0, 0.0, false, 150, 20, 151, 21},
    // Unrotated: rows stand, nearest samples mostly side by side, a repeat now and then.
    {"unrotated zoom 1.001", 0.0, 1.0009784735812133, 1.0009784735812133, 0.0, false, 300, 40, 301, 41},
    {"unrotated, same size", 0.0, 1.0, 1.0, 0.0, false, 290, 20, 300, 23},
    // Near a quarter turn 4-byte pixels walk in taller bands of shorter tiles.
    {"quarter turn, tall", 1.5707963267948966, 1.3, 1.3, 0.0, false, 120, 60, 150, 100},
};

// Any map through both kernel tables over every format and interpolation.
void CompareWarps(const MapCase& m, std::mt19937& rng, const std::string& label)
{
    double c[6];
    MakeMap(m.angle, m.scaleX, m.scaleY, m.shear, m.mirrorX, false, 0, 0, c);
    c[2] = m.dstW * 0.5 - (c[0] * m.srcW + c[1] * m.srcH) * 0.5;
    c[5] = m.dstH * 0.5 - (c[3] * m.srcW + c[4] * m.srcH) * 0.5;
    for (int format : kFormats) {
        Image src(format, m.srcW, m.srcH);
        FillSource(src, rng);
        for (int interp : kInterpolations) {
            SCOPED_TRACE(label + " format " + std::to_string(format) + " interpolation " + std::to_string(interp));
            Image ours = Canvas(format, m.dstW, m.dstH), ref = Canvas(format, m.dstW, m.dstH);
            const int flags = interp | (format % 3 == 0 ? warp_smooth_edges_bit : 0);
            ASSERT_EQ(warp_ok, warp_affine_generic(src.arg(), src.width, src.height, src.step, 0, 0, src.width,
                                                   src.height, ours.arg(), ours.step, 0, 0, ours.width,
                                                   ours.height, format, c, flags));
            ASSERT_EQ(warp_ok, warp_affine_with_kernels(warpref::kernels, false, src.arg(), src.width, src.height,
                                                        src.step, 0, 0, src.width, src.height, ref.arg(), ref.step,
                                                        0, 0, ref.width, ref.height, format, c, flags));
            ExpectSame(ours, ref, "warp");
            // Each build the processor runs below the one the entry point picks.
            for (int level = 0; level <= 2; ++level) {
                const warp_kernel_table* table = warp_generic_kernels_at(level);
                if (!table || table == &warp_generic_kernels_native())
                    continue;
                Image lower = Canvas(format, m.dstW, m.dstH);
                ASSERT_EQ(warp_ok, warp_affine_with_kernels(*table, false, src.arg(), src.width, src.height,
                                                            src.step, 0, 0, src.width, src.height, lower.arg(),
                                                            lower.step, 0, 0, lower.width, lower.height, format, c,
                                                            flags));
                ExpectSame(lower, ref, "warp, processor level " + std::to_string(level));
            }
        }
    }
}

// One row of 300 pixels straight through both kernels, positions x0 + k ax, y0 + k ay as
// running sums.
void CompareRow(int format, int interp, double x0, double ax, double y0, double ay, std::mt19937& rng)
{
    Image src(format, 40, 30);
    FillSource(src, rng);
    const int32_t span[2] = {0, 299}; // from column 0, the first position is exactly (x0, y0)
    const double inv[6] = {ax, 0.0, x0, ay, 0.0, y0};
    const int slot = warp_kernel_slot(format, interp);
    Image ref = Canvas(format, 310, 1);
    warp_kernel_at(warpref::kernels, slot)(src.arg(), ref.arg(), src.step, ref.step, 0, 0, span, inv,
                                           src.width - 1, src.height - 1, nullptr);
    // The portable build and every build this processor runs (the warp entry points use the last).
    for (int level = 0; level <= 2; ++level) {
        const warp_kernel_table* table = warp_generic_kernels_at(level);
        if (!table)
            continue;
        Image ours = Canvas(format, 310, 1);
        warp_kernel_at(*table, slot)(src.arg(), ours.arg(), src.step, ours.step, 0, 0, span, inv, src.width - 1,
                                     src.height - 1, nullptr);
        ExpectSame(ours, ref, "row, processor level " + std::to_string(level));
    }
}

struct RowCase {
    const char* name;
    double x0, ax, y0, ay;
};

// Walks whose running sums end runs early or cannot run at all.
const RowCase kRows[] = {
    {"steps of one and a half ulps (ties)", 1.0, 0x1.8p-52, 5.0, 0x1.8p-50},
    // Ties from an odd last bit alternate steps of 1 and 2 ulps; x + 0.5 reaches 3 at step 6.
    {"ties through a rounding point", 2.5 - 9 * 0x1p-51, 0x1.8p-51, 5.0, 0.0},
    // Two ulps short of 2 the exact sum falls below it, where the grid is finer.
    {"down onto a power of two", 2.0 + 0x1p-51, -1.3 * 0x1p-51, 5.0, 0.0},
    {"crossing zero in small steps", -0.0123, 1e-4, 0.03, -1.3e-4},
    {"from exact zero by 6e-17", 0.0, 6.123233995736766e-17, 0.0, -6.123233995736766e-17},
    {"across powers of two", 15.9999999, 0.0731, 31.99999, -0.1003},
    {"steps wider than a binade", 0.3, 0.77, 29.0, -0.41},
    {"outside the source both ways", -7.5, 0.21, 44.0, -0.05},
    {"subnormal start", 4.9e-324, 1e-310, 1.0, 1e-300},
    // A coordinate standing on a power of two, where a run's sums meet its binade's start.
    {"standing on a power of two", 0.3, 0.13, 4.0, 0.0},
    {"moving down a standing column", 16.0, 0.0, 0.7, 0.09},
};

class ScopedRounding {
public:
    explicit ScopedRounding(int mode) : saved_(std::fegetround()) { std::fesetround(mode); }
    ~ScopedRounding() { std::fesetround(saved_); }
    ScopedRounding(const ScopedRounding&) = delete;
    ScopedRounding& operator=(const ScopedRounding&) = delete;

private:
    int saved_;
};

} // namespace

TEST(WarpGenericTiles, WarpsMatchThePixelWalk)
{
    std::mt19937 rng(58);
    for (const MapCase& m : kMaps)
        CompareWarps(m, rng, m.name);
    // Random maps: any angle, scales 0.1 to 10, shear, odd sizes.
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int i = 0; i < 6; ++i) {
        const MapCase m = {"random", u(rng) * 6.283185307179586, 0.1 * std::pow(100.0, u(rng)),
                           0.1 * std::pow(100.0, u(rng)), u(rng) - 0.5, u(rng) < 0.5,
                           2 + static_cast<int>(u(rng) * 120), 2 + static_cast<int>(u(rng) * 120),
                           1 + static_cast<int>(u(rng) * 280), 1 + static_cast<int>(u(rng) * 60)};
        CompareWarps(m, rng, "random " + std::to_string(i));
    }
}

TEST(WarpGenericTiles, AwkwardRowWalksMatch)
{
    std::mt19937 rng(7);
    for (const RowCase& r : kRows)
        for (int format : kFormats)
            for (int interp : kInterpolations) {
                SCOPED_TRACE(std::string(r.name) + " format " + std::to_string(format) + " interpolation " +
                             std::to_string(interp));
                CompareRow(format, interp, r.x0, r.ax, r.y0, r.ay, rng);
            }
}

TEST(WarpGenericTiles, EveryRoundingModeMatches)
{
    // The runs hold only under rounding to nearest; in other modes the walk must still be
    // the plain one.
    const int modes[] = {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO};
    std::mt19937 rng(11);
    for (int mode : modes) {
        ScopedRounding rounding(mode);
        CompareWarps(kMaps[0], rng, "rounding mode " + std::to_string(mode));
        for (const RowCase& r : kRows)
            CompareRow(warp_gray8, warp_linear, r.x0, r.ax, r.y0, r.ay, rng);
    }
}
