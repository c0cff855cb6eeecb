#include "codec/core/rv_partition_geometry.h"
#include "codec/core/rvd_dims.h"
#include "tests/codec/support/codec_messages.h"

#include <gtest/gtest.h>

#include <boost/random/mersenne_twister.hpp>
#include <boost/random/uniform_int_distribution.hpp>

#include <cmath>

namespace {

rvd_dims rect(int py, int px, int sy, int sx)
{
    return rvd_dims(rvd_coords(py, px), rvd_coords(sy, sx));
}

TEST(Geometry, CeilAndFloorDivisionMatchExactQuotient)
{
    EXPECT_EQ(rvd_ceil_ratio(-5, 4), -1);
    EXPECT_EQ(rvd_ceil_ratio(5, 4), 2);
    EXPECT_EQ(rvd_floor_ratio(-5, 4), -2);
    EXPECT_EQ(rvd_floor_ratio(5, 4), 1);
    for (int v = -1000; v <= 1000; v++)
        for (int d = 1; d <= 64; d++) {
            double q = double(v) / double(d);
            ASSERT_EQ(rvd_ceil_ratio(v, d), int(std::ceil(q))) << v << "/" << d;
            ASSERT_EQ(rvd_floor_ratio(v, d), int(std::floor(q))) << v << "/" << d;
            ASSERT_EQ(rvd_ceil_ratio64(v, d), int64_t(std::ceil(q)));
            ASSERT_EQ(rvd_floor_ratio64(v, d), int64_t(std::floor(q)));
        }
}

TEST(Geometry, IntersectionAndOverlap)
{
    rvd_dims a = rect(0, 0, 10, 10), b = rect(20, 30, 5, 5);
    EXPECT_FALSE(a.intersects(b));
    rvd_dims c = a & b;
    EXPECT_TRUE(c.is_empty());
    EXPECT_GE(c.size.y, 0);
    EXPECT_GE(c.size.x, 0);
    // Empty rectangles never intersect, even at the same position.
    EXPECT_FALSE(rect(3, 3, 0, 5).intersects(rect(3, 3, 5, 5)));
    EXPECT_FALSE(rect(3, 3, 5, 5).intersects(rect(3, 3, 5, 0)));
    EXPECT_TRUE(rect(3, 3, 1, 1).intersects(rect(3, 3, 1, 1)));
    // Touching edges do not overlap.
    EXPECT_FALSE(rect(0, 0, 4, 4).intersects(rect(4, 0, 4, 4)));
    EXPECT_EQ(rect(0, 0, 10, 10) & rect(5, -3, 10, 5), rect(5, 0, 5, 2));
    EXPECT_NE(rect(0, 0, 1, 1), rect(0, 0, 1, 2));
}

TEST(Geometry, ApparentMappingOfRectanglesAndPoints)
{
    rvd_dims r = rect(0, 7, 10, 3);
    r.transpose_and_flip(false, true, false);
    EXPECT_EQ(r.pos.y, -9);
    r.from_apparent(false, true, false);
    EXPECT_EQ(r, rect(0, 7, 10, 3));

    boost::random::mt19937 rng(4101);
    boost::random::uniform_int_distribution<int> pos(-100000, 100000), size(-3, 5000);
    for (int i = 0; i < 100000; i++) {
        rvd_dims d = rect(pos(rng), pos(rng), size(rng), size(rng));
        rvd_coords p(pos(rng), pos(rng));
        int flags = i & 7;
        bool t = flags & 1, v = flags & 2, h = flags & 4;
        rvd_dims m = d;
        m.transpose_and_flip(t, v, h);
        // Apparent rows cover -(p+s-1)..-p: the far edge mirrors the position.
        if (v && !t) {
            ASSERT_EQ(m.pos.y + m.size.y - 1, -d.pos.y);
        }
        m.from_apparent(t, v, h);
        ASSERT_EQ(m, d);
        rvd_coords q = p;
        q.to_apparent(t, v, h);
        q.from_apparent(t, v, h);
        ASSERT_EQ(q, p);

        rvd_dims e = rect(pos(rng) / 100, pos(rng) / 100, size(rng), size(rng));
        rvd_dims in_place = d;
        rvd_dims returned = (in_place &= e);
        ASSERT_EQ(returned, in_place);
        ASSERT_EQ(d & e, in_place);
        ASSERT_GE(in_place.size.y, 0);
        ASSERT_GE(in_place.size.x, 0);
        ASSERT_EQ(!in_place.is_empty(), d.intersects(e));
    }
}

TEST(PartitionGeometry, ChildDimsFollowTheSplitRule)
{
    rvd_dims p = rect(0, 5, 1, 7); // columns [5, 12)
    rvd_dims hi = rv_get_child_dims(p, 1, 2);
    EXPECT_EQ(hi.pos.x, 2);
    EXPECT_EQ(hi.size.x, 4);
    EXPECT_EQ(hi.pos.y, 0); // branch 2 leaves the direction alone
    EXPECT_EQ(hi.size.y, 1);
    rvd_dims lo = rv_get_child_dims(p, 0, 2);
    EXPECT_EQ(lo.pos.x, 3);
    EXPECT_EQ(lo.size.x, 3);

    // Zero offsets: low band ceil(a/2)..ceil(b/2), high band floor(a/2)..floor(b/2).
    boost::random::mt19937 rng(118);
    boost::random::uniform_int_distribution<int> pos(-5000, 5000), size(0, 300);
    for (int i = 0; i < 20000; i++) {
        int a = pos(rng), n = size(rng), b = a + n;
        rvd_dims r = rect(a, -a, n, n);
        rvd_dims l = rv_get_child_dims(r, 0, 0), h = rv_get_child_dims(r, 1, 1);
        ASSERT_EQ(l.pos.y, int(std::ceil(a / 2.0)));
        ASSERT_EQ(l.pos.y + l.size.y, int(std::ceil(b / 2.0)));
        ASSERT_EQ(h.pos.y, int(std::floor(a / 2.0)));
        ASSERT_EQ(h.pos.y + h.size.y, int(std::floor(b / 2.0)));
        ASSERT_EQ(l.size.y + h.size.y, n);
        ASSERT_EQ(l.pos.x, int(std::ceil(-a / 2.0)));
    }
}

TEST(PartitionGeometry, PartitionIndicesMatchBruteForce)
{
    rvd_dims cells = rv_get_partition_indices(rect(0, 0, 4, 4), rect(-3, -3, 8, 8));
    EXPECT_EQ(cells.pos.y, -1);
    EXPECT_EQ(cells.size.y, 3);

    boost::random::mt19937 rng(1180);
    boost::random::uniform_int_distribution<int> pos(-200, 200), size(0, 60), org(0, 1),
        lg(0, 5);
    for (int i = 0; i < 5000; i++) {
        rvd_dims part = rect(org(rng), org(rng), 1 << lg(rng), 1 << lg(rng));
        rvd_dims reg = rect(pos(rng), pos(rng), size(rng), size(rng));
        rvd_dims got = rv_get_partition_indices(part, reg);
        // Cells met, found by walking every sample of the region.
        int first = 1 << 30, last = -(1 << 30);
        for (int y = reg.pos.y; y < reg.pos.y + reg.size.y; y++) {
            int c = int(std::floor(double(y - part.pos.y) / part.size.y));
            first = std::min(first, c);
            last = std::max(last, c);
        }
        if (reg.size.y == 0)
            ASSERT_EQ(got.size.y, 0);
        else {
            ASSERT_EQ(got.pos.y, first);
            ASSERT_EQ(got.size.y, last - first + 1);
        }
    }
}

} // namespace
