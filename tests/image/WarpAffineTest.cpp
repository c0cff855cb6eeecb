#include "WarpTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <limits>
#include <map>
#include <set>

using namespace warptest;

namespace {

const double kIdentity[6] = {1, 0, 0, 0, 1, 0};
const int kAllFormats[18] = {0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, 16, 17, 18, 19, 20, 21};

typedef int (*EntryFn)(const void*, int, int, int, int, int, int, int, void*, int, int, int, int, int,
                       const double*, int);

struct EntryCase {
    const char* name;
    EntryFn fn;
    int format;
};

// The generic driver with a fixed format, so it can be tested like an entry point.
template <int Format>
int GenericAs(const void* s, int sw0, int sh0, int ss, int x, int y, int w, int h, void* d, int ds, int dx, int dy,
              int dw, int dh, const double* c, int i)
{
    return warp_affine_generic(s, sw0, sh0, ss, x, y, w, h, d, ds, dx, dy, dw, dh, Format, c, i);
}

const EntryCase kEntries[] = {
    {"gray8", warp_affine_gray8, 0},
    {"rgb8", warp_affine_rgb8, 1},
    {"rgbx8", warp_affine_rgbx8, 2},
    {"gray16", warp_affine_gray16, 16},
    {"generic", GenericAs<16>, 16},
};

} // namespace

TEST(WarpStatus, ArgumentChecksAtEveryEntryPoint)
{
    for (const EntryCase& e : kEntries) {
        SCOPED_TRACE(e.name);
        Image src(e.format, 8, 8), dst(e.format, 8, 8);
        auto run = [&](const void* s, int w0, int h0, int ss, int x, int y, int w, int h, void* d, int ds, int dx,
                       int dy, int dw, int dh, const double* c, int interp) {
            return e.fn(s, w0, h0, ss, x, y, w, h, d, ds, dx, dy, dw, dh, c, interp);
        };
        void* s = src.arg();
        void* d = dst.arg();
        const int ss = src.step, ds = dst.step;
        EXPECT_EQ(0, run(s, 8, 8, ss, 0, 0, 8, 8, d, ds, 0, 0, 8, 8, kIdentity, 1));
        EXPECT_EQ(-8, run(nullptr, 8, 8, ss, 0, 0, 8, 8, d, ds, 0, 0, 8, 8, kIdentity, 1));
        EXPECT_EQ(-8, run(s, 8, 8, ss, 0, 0, 8, 8, nullptr, ds, 0, 0, 8, 8, kIdentity, 1));
        // Each size and origin field.
        EXPECT_EQ(-6, run(s, 0, 8, ss, 0, 0, 8, 8, d, ds, 0, 0, 8, 8, kIdentity, 1));
        EXPECT_EQ(-6, run(s, 8, 0, ss, 0, 0, 8, 8, d, ds, 0, 0, 8, 8, kIdentity, 1));
        EXPECT_EQ(-6, run(s, 8, 8, ss, -1, 0, 8, 8, d, ds, 0, 0, 8, 8, kIdentity, 1));
        EXPECT_EQ(-6, run(s, 8, 8, ss, 0, -1, 8, 8, d, ds, 0, 0, 8, 8, kIdentity, 1));
        EXPECT_EQ(-6, run(s, 8, 8, ss, 0, 0, 0, 8, d, ds, 0, 0, 8, 8, kIdentity, 1));
        EXPECT_EQ(-6, run(s, 8, 8, ss, 0, 0, 8, 0, d, ds, 0, 0, 8, 8, kIdentity, 1));
        EXPECT_EQ(-6, run(s, 8, 8, ss, 0, 0, 8, 8, d, ds, -1, 0, 8, 8, kIdentity, 1));
        EXPECT_EQ(-6, run(s, 8, 8, ss, 0, 0, 8, 8, d, ds, 0, -1, 8, 8, kIdentity, 1));
        EXPECT_EQ(-6, run(s, 8, 8, ss, 0, 0, 8, 8, d, ds, 0, 0, 0, 8, kIdentity, 1));
        EXPECT_EQ(-6, run(s, 8, 8, ss, 0, 0, 8, 8, d, ds, 0, 0, 8, 0, kIdentity, 1));
        // Rectangle ends past INT_MAX.
        EXPECT_EQ(-6, run(s, 8, 8, ss, 0, 0, 8, 8, d, ds, INT_MAX - 5, 0, 10, 8, kIdentity, 1));
        EXPECT_EQ(-6, run(s, 8, 8, ss, 0, 0, 8, 8, d, ds, 0, INT_MAX - 5, 8, 10, kIdentity, 1));
        EXPECT_EQ(-6, run(s, 8, 8, ss, 5, 0, INT_MAX, 8, d, ds, 0, 0, 8, 8, kIdentity, 1));
        EXPECT_EQ(-14, run(s, 8, 8, 0, 0, 0, 8, 8, d, ds, 0, 0, 8, 8, kIdentity, 1));
        EXPECT_EQ(-14, run(s, 8, 8, ss, 0, 0, 8, 8, d, -3, 0, 0, 8, 8, kIdentity, 1));
        EXPECT_EQ(-22, run(s, 8, 8, ss, 0, 0, 8, 8, d, ds, 0, 0, 8, 8, kIdentity, 3));
        EXPECT_EQ(-22, run(s, 8, 8, ss, 0, 0, 8, 8, d, ds, 0, 0, 8, 8, kIdentity, 0));
        EXPECT_EQ(-22, run(s, 8, 8, ss, 0, 0, 8, 8, d, ds, 0, 0, 8, 8, kIdentity, warp_smooth_edges_bit | 8));
        const double singular[6] = {1, 1, 0, 1, 1, 0};
        EXPECT_EQ(-56, run(s, 8, 8, ss, 0, 0, 8, 8, d, ds, 0, 0, 8, 8, singular, 1));
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        for (int i = 0; i < 6; ++i) {
            double c[6] = {1, 0, 0, 0, 1, 0};
            c[i] = nan;
            EXPECT_EQ(-56, run(s, 8, 8, ss, 0, 0, 8, 8, d, ds, 0, 0, 8, 8, c, 2)) << "NaN at " << i;
            c[i] = -inf;
            EXPECT_EQ(-56, run(s, 8, 8, ss, 0, 0, 8, 8, d, ds, 0, 0, 8, 8, c, 2)) << "inf at " << i;
        }
        // Finite, non-singular, but the corners land beyond 2^30.
        const double huge[6] = {1e154, 1e151, 0, 1e150, 1e154, 0};
        EXPECT_EQ(-56, run(s, 8, 8, ss, 0, 0, 8, 8, d, ds, 0, 0, 8, 8, huge, 4));
        // Coefficient test: relative, and the |c1 c3| branch for a swap of the axes.
        const double thin[6] = {1, 0, 0, 0, 1e-13, 0};
        const double swap[6] = {0, 1, 0, 1, 0, 0};
        EXPECT_NE(-56, run(s, 8, 8, ss, 0, 0, 8, 8, d, ds, 0, 0, 8, 8, thin, 1));
        EXPECT_EQ(0, run(s, 8, 8, ss, 0, 0, 8, 8, d, ds, 0, 0, 8, 8, swap, 1));
        for (int interp : {1, 2, 4}) {
            EXPECT_EQ(-57, run(s, 1, 8, ss, 0, 0, 1, 8, d, ds, 0, 0, 8, 8, kIdentity, interp));
            EXPECT_EQ(-57, run(s, 8, 1, ss, 0, 0, 8, 1, d, ds, 0, 0, 8, 8, kIdentity, interp));
            EXPECT_EQ(-57, run(s, 8, 8, ss, 0, 0, 1, 8, d, ds, 0, 0, 8, 8, kIdentity, interp));
            EXPECT_EQ(-57, run(s, 8, 8, ss, 7, 0, 5, 8, d, ds, 0, 0, 8, 8, kIdentity, interp));
        }
        EXPECT_EQ(29, run(s, 8, 8, ss, 8, 0, 2, 8, d, ds, 0, 0, 8, 8, kIdentity, 1));
        EXPECT_EQ(29, run(s, 8, 8, ss, 0, 8, 8, 2, d, ds, 0, 0, 8, 8, kIdentity, 1));
        // Wholly left of the destination rectangle: 30 and the destination untouched.
        for (auto& p : dst.planes)
            std::fill(p.begin(), p.end(), 0xA5);
        const std::vector<std::vector<uint8_t>> before = dst.planes;
        const double left[6] = {1, 0, -20, 0, 1, 0};
        EXPECT_EQ(30, run(s, 8, 8, ss, 0, 0, 8, 8, d, ds, 0, 0, 8, 8, left, 4 | warp_smooth_edges_bit));
        EXPECT_EQ(before, dst.planes);
    }
}

TEST(WarpStatus, NullPlanePointers)
{
    for (int format : {3, 5, 11, 13, 19, 21}) {
        SCOPED_TRACE(format);
        const int planes = PlaneCount(format);
        for (int which = 0; which < planes; ++which) {
            for (bool inSource : {true, false}) {
                Image src(format, 8, 8), dst(format, 8, 8);
                (inSource ? src : dst).pointers[which] = nullptr;
                EXPECT_EQ(-8, Warp(src, 0, 0, 8, 8, dst, 0, 0, 8, 8, kIdentity, 1));
            }
        }
    }
}

TEST(WarpQuadrangle, CheckAndOrientation)
{
    const double degenerate[8] = {0, 0, 4, 0, 8, 0, 2, 0};
    EXPECT_EQ(-5, warp_check_quadrangle(degenerate));
    const double repeated[8] = {0, 0, 0, 0, 4, 4, 0, 4};
    EXPECT_EQ(-5, warp_check_quadrangle(repeated));
    const double dart[8] = {0, 0, 10, 0, 2, 2, 0, 10}; // reflex corner at (2, 2)
    EXPECT_EQ(-4, warp_check_quadrangle(dart));
    const double bowtie[8] = {0, 0, 10, 10, 10, 0, 0, 10};
    EXPECT_EQ(-4, warp_check_quadrangle(bowtie));

    double q[8], inv[6];
    warp_map_rect_corners(kIdentity, 2, 3, 9, 7, q);
    EXPECT_EQ(1, warp_check_quadrangle(q));
    EXPECT_EQ(1, warp_inverse_from_quadrangle(q, 2, 3, 9, 7, 0, inv));
    const double mirror[6] = {-1, 0, 20, 0, 1, 0};
    warp_map_rect_corners(mirror, 2, 3, 9, 7, q);
    EXPECT_EQ(0, warp_check_quadrangle(q));
    EXPECT_EQ(0, warp_inverse_from_quadrangle(q, 2, 3, 9, 7, 0, inv));
    // The inverse undoes a general map; direction 1 gives the map back.
    double m[6];
    MakeMap(0.7, 1.8, 0.6, 0.3, false, true, 13.0, -4.0, m);
    warp_map_rect_corners(m, 1, 2, 11, 9, q);
    warp_inverse_from_quadrangle(q, 1, 2, 11, 9, 0, inv);
    const double X = m[0] * 5 + m[1] * 6 + m[2], Y = m[3] * 5 + m[4] * 6 + m[5];
    EXPECT_NEAR(5.0, inv[0] * X + inv[1] * Y + inv[2], 1e-12);
    EXPECT_NEAR(6.0, inv[3] * X + inv[4] * Y + inv[5], 1e-12);
    double fwd[6];
    warp_inverse_from_quadrangle(q, 1, 2, 11, 9, 1, fwd);
    for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(m[i], fwd[i], 1e-12) << i;
}

TEST(WarpIdentity, AllFormatsAndInterpolationsCopyExactly)
{
    std::mt19937 rng(11);
    for (int format : kAllFormats) {
        for (int interp : {1, 2, 4}) {
            SCOPED_TRACE(::testing::Message() << "format " << format << " interp " << interp);
            Image src(format, 9, 7), dst(format, 13, 11);
            src.fillRandom(rng, (format >> 3) == 0 ? 256 : (format >> 3) == 2 ? 65536 : 1000.0);
            for (auto& p : dst.planes)
                for (size_t i = 0; i < p.size(); ++i)
                    p[i] = static_cast<uint8_t>(0x5A ^ i);
            const std::vector<std::vector<uint8_t>> canary = dst.planes;
            // Source rectangle (2, 1, 5, 4) onto the same place of the destination.
            ASSERT_EQ(0, Warp(src, 2, 1, 5, 4, dst, 2, 1, 5, 4, kIdentity, interp));
            for (int y = 0; y < dst.height; ++y)
                for (int x = 0; x < dst.width; ++x) {
                    const bool inside = x >= 2 && x < 7 && y >= 1 && y < 5;
                    for (int c = 0; c < dst.channelsStored(); ++c) {
                        const bool kept = Layout(format) == 2 && c == 3;
                        if (inside && !kept) {
                            ASSERT_EQ(src.get(x, y, c), dst.get(x, y, c)) << x << "," << y << "," << c;
                        }
                    }
                }
            // Everything else, the kept fourth samples included, is byte-for-byte the canary.
            Image expected(format, 13, 11);
            expected.planes = canary;
            for (int y = 1; y < 5; ++y)
                for (int x = 2; x < 7; ++x)
                    for (int c = 0; c < dst.channelsStored(); ++c)
                        if (!(Layout(format) == 2 && c == 3))
                            expected.set(x, y, c, src.get(x, y, c));
            ASSERT_EQ(expected.planes, dst.planes);
        }
    }
}

TEST(WarpIdentity, ThreeByThreeCubicRunsAsLinear)
{
    std::mt19937 rng(3);
    for (int format : {0, 16, 8}) {
        Image src(format, 3, 3), a(format, 12, 12), b(format, 12, 12);
        src.fillRandom(rng, format == 0 ? 256 : 60000);
        double m[6];
        MakeMap(0.4, 3.1, 2.7, 0.1, false, false, 4.3, 0.7, m);
        ASSERT_EQ(0, Warp(src, 0, 0, 3, 3, a, 0, 0, 12, 12, m, 4));
        ASSERT_EQ(0, Warp(src, 0, 0, 3, 3, b, 0, 0, 12, 12, m, 2));
        EXPECT_EQ(a.planes, b.planes) << format;
    }
}

namespace {

// Signed distances of an integer point from the four edges of the mapped source rectangle,
// normalised by edge length and oriented so that the inside is positive.
struct Oracle {
    double qx[4], qy[4];
    double sign;
    void init(const double* m, double x0, double y0, double x1, double y1)
    {
        const double xs[4] = {x0, x1, x1, x0}, ys[4] = {y0, y0, y1, y1};
        for (int i = 0; i < 4; ++i) {
            qx[i] = m[0] * xs[i] + m[1] * ys[i] + m[2];
            qy[i] = m[3] * xs[i] + m[4] * ys[i] + m[5];
        }
        const double area = (qx[1] - qx[0]) * (qy[2] - qy[0]) - (qy[1] - qy[0]) * (qx[2] - qx[0]);
        sign = area > 0 ? 1.0 : -1.0;
    }
    // 1 inside, 0 outside, -1 too close to call.
    int classify(double X, double Y, double tol) const
    {
        bool inside = true;
        for (int i = 0; i < 4; ++i) {
            const int j = (i + 1) % 4;
            const double ex = qx[j] - qx[i], ey = qy[j] - qy[i];
            const double len = std::sqrt(ex * ex + ey * ey);
            const double d = sign * (ex * (Y - qy[i]) - ey * (X - qx[i])) / len;
            if (std::fabs(d) < tol)
                return -1;
            if (d < 0)
                inside = false;
        }
        return inside ? 1 : 0;
    }
};

} // namespace

TEST(WarpCoverage, NearestWritesExactlyTheMappedIntegerPoints)
{
    std::mt19937 rng(20261206);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int judged = 0, written = 0;
    for (int iter = 0; iter < 2000; ++iter) {
        const int sw0 = 2 + static_cast<int>(unit(rng) * 30), sh0 = 2 + static_cast<int>(unit(rng) * 30);
        Image src(16, sw0, sh0);
        src.fillRandom(rng, 0x8000);
        const int sx = static_cast<int>(unit(rng) * (sw0 - 1)), sy = static_cast<int>(unit(rng) * (sh0 - 1));
        const int sw = 2 + static_cast<int>(unit(rng) * sw0), sh = 2 + static_cast<int>(unit(rng) * sh0);
        const double scaleX = 0.05 * std::pow(400.0, unit(rng)), scaleY = 0.05 * std::pow(400.0, unit(rng));
        double m[6];
        MakeMap(unit(rng) * 6.283185307179586, scaleX, scaleY, unit(rng) - 0.5, unit(rng) < 0.5, unit(rng) < 0.5,
                0, 0, m);
        // Place the centre of the mapped rectangle around the destination, often partly out.
        const double cx = sx + (std::min(sw, sw0 - sx) - 1) * 0.5, cy = sy + (std::min(sh, sh0 - sy) - 1) * 0.5;
        m[2] = -20 + unit(rng) * 104 - (m[0] * cx + m[1] * cy);
        m[5] = -20 + unit(rng) * 104 - (m[3] * cx + m[4] * cy);
        Image dst(16, 64, 64);
        dst.fill(0xFFFF);
        const int dx = static_cast<int>(unit(rng) * 20), dy = static_cast<int>(unit(rng) * 20);
        const int dw = 1 + static_cast<int>(unit(rng) * (64 - dx)), dh = 1 + static_cast<int>(unit(rng) * (64 - dy));
        const int status = Warp(src, sx, sy, sw, sh, dst, dx, dy, dw, dh, m, 1);
        ASSERT_TRUE(status == 0 || status == 30) << "iteration " << iter << " status " << status;
        Oracle o;
        o.init(m, sx, sy, sx + std::min(sw, sw0 - sx) - 1, sy + std::min(sh, sh0 - sy) - 1);
        for (int Y = 0; Y < 64; ++Y)
            for (int X = 0; X < 64; ++X) {
                const bool wrote = dst.get(X, Y, 0) != 0xFFFF;
                const bool inRect = X >= dx && X < dx + dw && Y >= dy && Y < dy + dh;
                if (!inRect) {
                    ASSERT_FALSE(wrote) << "iteration " << iter << " wrote outside at " << X << "," << Y;
                    continue;
                }
                const int inside = o.classify(X, Y, 1e-9);
                if (inside < 0)
                    continue;
                ++judged;
                written += wrote;
                ASSERT_EQ(inside == 1, wrote) << "iteration " << iter << " at " << X << "," << Y;
            }
    }
    EXPECT_GT(written, 10000);
    EXPECT_GT(judged, 1000000);
}

TEST(WarpSmoothEdges, OnlyOutsideEdgePixelsChangeByTheBlend)
{
    std::mt19937 rng(5);
    // Pure scaling: every edge is axis-parallel, so the pass changes nothing.
    {
        Image src(2, 10, 8), a(2, 40, 40), b(2, 40, 40);
        src.fillRandom(rng, 256);
        const double scale[6] = {2.5, 0, 3, 0, 3.5, 2};
        ASSERT_EQ(0, Warp(src, 0, 0, 10, 8, a, 0, 0, 40, 40, scale, 2));
        ASSERT_EQ(0, Warp(src, 0, 0, 10, 8, b, 0, 0, 40, 40, scale, 2 | warp_smooth_edges_bit));
        EXPECT_EQ(a.planes, b.planes);
    }
    for (bool mirrored : {false, true}) {
        SCOPED_TRACE(mirrored);
        Image src(2, 20, 14), plain(2, 60, 60), smooth(2, 60, 60);
        src.fillRandom(rng, 256);
        double m[6];
        MakeMap(30.0 * 3.141592653589793 / 180.0, 1.7, 1.7, 0.0, mirrored, false, 0, 0, m);
        m[2] = 30 - (m[0] * 9.5 + m[1] * 6.5);
        m[5] = 30 - (m[3] * 9.5 + m[4] * 6.5);
        for (Image* d : {&plain, &smooth})
            for (int y = 0; y < 60; ++y)
                for (int x = 0; x < 60; ++x)
                    for (int c = 0; c < 4; ++c)
                        d->set(x, y, c, (x * 7 + y * 3 + c * 50) & 255);
        ASSERT_EQ(0, Warp(src, 0, 0, 20, 14, plain, 0, 0, 60, 60, m, 2));
        ASSERT_EQ(0, Warp(src, 0, 0, 20, 14, smooth, 0, 0, 60, 60, m, 2 | warp_smooth_edges_bit));
        Oracle o;
        o.init(m, 0, 0, 19, 13);
        int changed = 0;
        for (int Y = 0; Y < 60; ++Y)
            for (int X = 0; X < 60; ++X) {
                bool differs = false;
                for (int c = 0; c < 4; ++c)
                    differs |= plain.get(X, Y, c) != smooth.get(X, Y, c);
                if (!differs)
                    continue;
                ++changed;
                bool nearCorner = false;
                for (int i = 0; i < 4; ++i)
                    nearCorner |= std::fabs(X - o.qx[i]) < 2.5 && std::fabs(Y - o.qy[i]) < 2.5;
                if (nearCorner)
                    continue; // two edges may blend the same pixel there
                // The changed pixel lies outside, one step from an edge crossing of its row
                // (steep edge) or column (shallow edge), and is the blend with the other side.
                ASSERT_EQ(0, o.classify(X, Y, 0.0)) << X << "," << Y;
                bool matched = false;
                for (int i = 0; i < 4 && !matched; ++i) {
                    const int j = (i + 1) % 4;
                    const double ex = o.qx[j] - o.qx[i], ey = o.qy[j] - o.qy[i];
                    double pos, own;
                    int nx = X, ny = Y;
                    if (std::fabs(ey) > std::fabs(ex)) {
                        if (Y < std::min(o.qy[i], o.qy[j]) || Y > std::max(o.qy[i], o.qy[j]))
                            continue;
                        pos = o.qx[i] + (Y - o.qy[i]) * ex / ey;
                        own = X;
                        if (std::floor(pos) == X)
                            nx = X + 1;
                        else if (std::ceil(pos) == X)
                            nx = X - 1;
                        else
                            continue;
                    } else {
                        if (X < std::min(o.qx[i], o.qx[j]) || X > std::max(o.qx[i], o.qx[j]))
                            continue;
                        pos = o.qy[i] + (X - o.qx[i]) * ey / ex;
                        own = Y;
                        if (std::floor(pos) == Y)
                            ny = Y + 1;
                        else if (std::ceil(pos) == Y)
                            ny = Y - 1;
                        else
                            continue;
                    }
                    const double other = nx != X ? nx : ny;
                    bool all = true;
                    for (int c = 0; c < 4; ++c) {
                        const double v = plain.get(X, Y, c) * std::fabs(pos - own) +
                                         plain.get(nx, ny, c) * std::fabs(pos - other);
                        all &= static_cast<int>(v + 0.5) == smooth.get(X, Y, c);
                    }
                    matched = all;
                }
                EXPECT_TRUE(matched) << "pixel " << X << "," << Y;
            }
        EXPECT_GT(changed, 60);
        // The fourth sample of layout 2 is blended too.
        bool fourthChanged = false;
        for (int Y = 0; Y < 60; ++Y)
            for (int X = 0; X < 60; ++X)
                fourthChanged |= plain.get(X, Y, 3) != smooth.get(X, Y, 3);
        EXPECT_TRUE(fourthChanged);
    }
}

TEST(WarpRobustness, RandomWarpsStayInsideTheirBuffers)
{
    std::mt19937 rng(777);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const std::set<int> table = {0, -8, -6, -14, -22, -56, -57, 29, 30};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    int done = 0;
    std::map<int, int> seen;
    for (int iter = 0; iter < 10000; ++iter) {
        const int format = kAllFormats[iter % 18];
        const int sw0 = (unit(rng) < 0.05 ? 1 : 4) + static_cast<int>(unit(rng) * 12);
        const int sh0 = (unit(rng) < 0.05 ? 1 : 4) + static_cast<int>(unit(rng) * 12);
        const int dw0 = 1 + static_cast<int>(unit(rng) * 24), dh0 = 1 + static_cast<int>(unit(rng) * 24);
        Image src(format, sw0, sh0), dst(format, dw0, dh0);
        src.fillRandom(rng, (format >> 3) == 0 ? 256 : (format >> 3) == 2 ? 65536 : 1.0);
        const int sx = static_cast<int>(unit(rng) * sw0 * 0.6) - (unit(rng) < 0.03 ? 1 : 0);
        const int sy = static_cast<int>(unit(rng) * sh0 * (unit(rng) < 0.05 ? 1.5 : 0.6));
        const int sw = static_cast<int>(unit(rng) * sw0 * 1.5) + (unit(rng) < 0.95 ? 1 : 0);
        const int sh = static_cast<int>(unit(rng) * sh0 * 1.5) + (unit(rng) < 0.95 ? 1 : 0);
        // Destination rectangles stay inside the buffer: the warp has no destination size.
        const int dx = static_cast<int>(unit(rng) * dw0), dy = static_cast<int>(unit(rng) * dh0);
        const int dw = 1 + static_cast<int>(unit(rng) * (dw0 - dx)), dh = 1 + static_cast<int>(unit(rng) * (dh0 - dy));
        double m[6];
        const int kind = iter % 10;
        if (kind < 6) {
            MakeMap(unit(rng) * 7, 0.2 * std::pow(100.0, unit(rng)), 0.2 * std::pow(100.0, unit(rng)),
                    unit(rng) * 2 - 1, unit(rng) < 0.5, unit(rng) < 0.5, 0, 0, m);
            // Centre the mapped source somewhere around the destination, often partly out.
            m[2] = unit(rng) * dw0 * 1.4 - dw0 * 0.2 - (m[0] * sw0 + m[1] * sh0) * 0.5;
            m[5] = unit(rng) * dh0 * 1.4 - dh0 * 0.2 - (m[3] * sw0 + m[4] * sh0) * 0.5;
        } else if (kind == 6) {
            const double s = std::pow(10.0, unit(rng) * 600 - 300);
            MakeMap(unit(rng) * 7, s, s * (unit(rng) + 0.5), unit(rng), false, false, unit(rng) * 30, 3, m);
        } else if (kind == 7) {
            const double row[6] = {1, 2, 0, 2, 4, 0}; // singular
            std::copy(row, row + 6, m);
            m[2] = unit(rng) * 10;
        } else if (kind == 8) {
            MakeMap(unit(rng) * 7, 1e-7 * unit(rng), 3e5 * unit(rng), 0.0, false, false, unit(rng) * 20, 2, m);
        } else {
            MakeMap(0.3, 1.1, 0.9, 0, false, false, 2, 2, m);
            m[static_cast<int>(unit(rng) * 6)] = unit(rng) < 0.5 ? nan : 1e300;
        }
        const int interp = (1 << static_cast<int>(unit(rng) * 3)) | (unit(rng) < 0.5 ? warp_smooth_edges_bit : 0);
        const int status = Warp(src, sx, sy, sw, sh, dst, dx, dy, dw, dh, m, interp);
        ASSERT_EQ(1u, table.count(status)) << "iteration " << iter << " status " << status;
        done += status == 0;
        ++seen[status];
    }
    EXPECT_GT(done, 1000);
    EXPECT_EQ(6u, seen.size()) << "every status but -8, -14 and -22 is reached";
}

TEST(WarpMemory, AlignedBlocks)
{
    void* p = warp_alloc_aligned(10);
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(p) % 32);
    warp_free_aligned(p);
    warp_free_aligned(nullptr);
    EXPECT_EQ(nullptr, warp_alloc_aligned(0));
    EXPECT_EQ(nullptr, warp_alloc_aligned(-4));
    EXPECT_EQ(nullptr, warp_alloc_aligned(PTRDIFF_MAX));
}
