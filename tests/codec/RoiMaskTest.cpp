// Region-of-interest masks split level by level: for nodes of real tile trees (5/3, 9/7,
// Mallat and one-direction splits, odd origins) one foreground sample must mark, in each
// band, exactly the samples whose synthesis support (from the node's kernel
// description) reaches it, worked out here from the sample's side; the source is
// released once and deleted, however the bands' nodes end.
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_tile.h"
#include "codec/core/siz_params.h"
#include "codec/coding/rv_lifting_step.h"
#include "codec/encode/rv_roi_level.h"
#include "codec/encode/rvd_analysis.h"
#include "codec/encode/rvd_roi_rectangles.h"
#include "tests/codec/support/codec_messages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct mask_plane {
    rvd_dims dims;
    std::vector<std::uint8_t> v;
    std::uint8_t at(int y, int x) const
    {
        return v[size_t((y - dims.pos.y) * dims.size.x + (x - dims.pos.x))];
    }
};

// A mask source over a plane that counts its releases and deletions.
class plane_source : public rvd_roi_node {
public:
    plane_source(const mask_plane& p, int* releases, int* deletions)
        : p(p), releases(releases), deletions(deletions)
    {
    }
    ~plane_source() override { ++*deletions; }
    void release() override { ++*releases; }
    void pull(std::uint8_t* buf, int width) override
    {
        ASSERT_LT(next, p.dims.size.y);
        ASSERT_EQ(width, p.dims.size.x);
        if (width > 0)
            std::memcpy(buf, p.v.data() + size_t(next) * size_t(width), size_t(width));
        next++;
    }

private:
    mask_plane p;
    int next = 0;
    int* releases;
    int* deletions;
};

mask_plane pull_all(rvd_roi_node* n, rvd_dims dims)
{
    mask_plane m{dims, std::vector<std::uint8_t>(size_t(std::max(0, dims.size.y * dims.size.x)))};
    for (int y = 0; y < dims.size.y; y++)
        n->pull(m.v.data() + size_t(y) * size_t(dims.size.x), dims.size.x);
    return m;
}

int extend(int i, int first, int last, bool symmetric)
{
    return rv_extend_index(i, first, last, symmetric);
}

// Band `c` of the node's mask, worked out from each foreground sample: it marks band
// sample k when the sample lies in the (extended) support of k's synthesis filter.
mask_plane expected_band(const rv_roi_shape& s, const mask_plane& src, int c, rvd_dims band)
{
    mask_plane m{band, std::vector<std::uint8_t>(size_t(std::max(0, band.size.y * band.size.x)))};
    const rvd_dims& r = s.region;
    const int y0 = r.pos.y, y1 = y0 + r.size.y - 1, x0 = r.pos.x, x1 = x0 + r.size.x - 1;
    const int bv = c >> 1, bh = c & 1;
    for (int y = y0; y <= y1; y++)
        for (int x = x0; x <= x1; x++) {
            if (!src.at(y, x))
                continue;
            for (int ky = 0; ky < band.size.y; ky++)
                for (int kx = 0; kx < band.size.x; kx++) {
                    const int cy = s.vert_split ? 2 * (band.pos.y + ky) + bv : band.pos.y + ky;
                    const int cx = s.hor_split ? 2 * (band.pos.x + kx) + bh : band.pos.x + kx;
                    bool hit_y = !s.vert_split && cy == y, hit_x = !s.hor_split && cx == x;
                    for (int d = s.vert_min[bv]; s.vert_split && d <= s.vert_max[bv]; d++)
                        hit_y |= extend(cy + d, y0, y1, s.symmetric_extension) == y;
                    for (int d = s.hor_min[bh]; s.hor_split && d <= s.hor_max[bh]; d++)
                        hit_x |= extend(cx + d, x0, x1, s.symmetric_extension) == x;
                    if (hit_y && hit_x)
                        m.v[size_t(ky * band.size.x + kx)] = 1;
                }
        }
    return m;
}

// Splits the node's mask through its levels down to every band, checking each band.
void check_node(rvd_node node, const mask_plane& src, int& bands_checked, int& marked)
{
    int releases = 0, deletions = 0;
    {
        rv_roi_level level;
        level.init(node, new plane_source(src, &releases, &deletions));
        const rv_roi_shape shape = rv_roi_shape_of(node);
        for (int c = 0; c < 4; c++) {
            rvd_node child = node.access_child(c);
            rvd_roi_node* cn = level.get_child(c);
            ASSERT_EQ(cn != nullptr, child.exists()) << "child " << c;
            if (cn == nullptr)
                continue;
            rvd_dims cd;
            child.get_dims(cd);
            mask_plane got = pull_all(cn, cd);
            cn->release();
            delete cn;
            const mask_plane want = expected_band(shape, src, c, cd);
            ASSERT_EQ(got.v, want.v) << "child " << c << " of the node at " << src.dims.pos.y
                                     << "," << src.dims.pos.x;
            for (std::uint8_t b : got.v)
                marked += b;
            if (child.access_subband().exists())
                bands_checked++;
            else
                check_node(child, got, bands_checked, marked);
        }
        EXPECT_EQ(releases, 1);
        EXPECT_EQ(deletions, 1);
    }
    EXPECT_EQ(releases, 1);
}

std::vector<std::string> tokens(const std::string& s)
{
    std::istringstream in(s);
    std::vector<std::string> out;
    for (std::string t; in >> t;)
        out.push_back(t);
    return out;
}

TEST(RoiMask, OneForegroundSampleMarksExactlyTheBandsSupports)
{
    struct row {
        const char* coding;
        bool zero_mask;
    };
    const row table[] = {
        {"Clevels=3 Creversible=yes Ckernels=W5X3", false},
        {"Clevels=2 Creversible=no Ckernels=W9X7", false},
        {"Clevels=3 Creversible=yes Ckernels=W5X3 Cdecomp=H(-),V(-),B(-:-:-)", false},
        {"Clevels=2 Creversible=no Ckernels=W9X7 Cdecomp=V(-),H(-)", false},
        {"Clevels=2 Creversible=yes Ckernels=W5X3 Cdecomp=B(H:H:H)", false},
        {"Clevels=1 Creversible=no Ckernels=W9X7 Cdecomp=B(B:B:B)", false},
        {"Clevels=3 Creversible=yes Ckernels=W5X3", true},
    };
    std::mt19937 rng(51);
    for (const row& r : table)
        for (int trial = 0; trial < 6; trial++) {
            const int h = 1 + int(rng() % 40), w = 1 + int(rng() % 40);
            const int oy = int(rng() % 2), ox = int(rng() % 3);
            std::ostringstream siz_text;
            siz_text << "Ssize={" << h + oy << "," << w + ox << "} Sorigin={" << oy << "," << ox
                     << "} Ssampling={1,1} Scomponents=1 Sprecision=8 Ssigned=no";
            SCOPED_TRACE(std::string(r.coding) + " " + siz_text.str());
            siz_params siz;
            for (const std::string& a : tokens(siz_text.str()))
                ASSERT_TRUE(siz.parse_string(a.c_str())) << a;
            rvd_codestream cs;
            cs.create(&siz);
            for (const std::string& a : tokens(r.coding))
                ASSERT_TRUE(cs.access_siz()->parse_string(a.c_str())) << a;
            cs.access_siz()->finalize_all();
            rvd_tile tile = cs.open_tile(rvd_coords(0, 0));
            rvd_resolution top = tile.access_component(0).access_resolution();
            rvd_node node = top.access_node();
            mask_plane src;
            node.get_dims(src.dims);
            src.v.assign(size_t(src.dims.size.y * src.dims.size.x), 0);
            if (!r.zero_mask)
                src.v[rng() % src.v.size()] = 1;
            int bands = 0, marked = 0;
            check_node(node, src, bands, marked);
            EXPECT_GT(bands, 0);
            if (r.zero_mask)
                EXPECT_EQ(marked, 0);
            else
                EXPECT_GT(marked, 0);
            tile.close();
            cs.destroy();
        }
}

TEST(RoiMask, SourceIsReleasedOnceHoweverTheBandsEnd)
{
    // A node split vertically only: bands 1 and 3 are missing and count as released.
    rv_roi_shape shape;
    shape.region = rvd_dims(rvd_coords(1, 2), rvd_coords(9, 5));
    shape.vert_split = true;
    shape.child_exists[0] = shape.child_exists[2] = true;
    shape.vert_min[0] = -1;
    shape.vert_max[0] = 1;
    shape.vert_min[1] = -2;
    shape.vert_max[1] = 2;
    mask_plane src{shape.region, std::vector<std::uint8_t>(45, 0)};
    src.v[22] = 1;
    struct row {
        const char* how;
        bool pull_first, delete_without_release, level_ends_first;
    };
    const row table[] = {{"released after pulling", true, false, false},
                         {"released at once", false, false, false},
                         {"deleted without release", true, true, false},
                         {"level destroyed first", false, false, true}};
    for (const row& r : table) {
        SCOPED_TRACE(r.how);
        int releases = 0, deletions = 0;
        auto level = std::make_unique<rv_roi_level>();
        level->init(shape, new plane_source(src, &releases, &deletions));
        EXPECT_EQ(level->get_child(1), nullptr);
        rvd_roi_node* n0 = level->get_child(0);
        rvd_roi_node* n2 = level->get_child(2);
        ASSERT_NE(n0, nullptr);
        ASSERT_NE(n2, nullptr);
        EXPECT_EQ(level->get_child(0), nullptr); // handed out once
        std::uint8_t row[5];
        if (r.pull_first)
            for (int k = 0; k < 4; k++) {
                n2->pull(row, 5); // band 2 ahead of band 0: rows queue up for band 0
                n0->pull(row, 5);
            }
        if (r.level_ends_first) {
            level.reset();
            EXPECT_EQ(releases, 1);
        }
        for (rvd_roi_node* n : {n0, n2}) {
            EXPECT_EQ(releases, r.level_ends_first ? 1 : 0);
            if (!r.delete_without_release)
                n->release();
            delete n;
        }
        EXPECT_EQ(releases, 1);
        EXPECT_EQ(deletions, 1);
        level.reset();
        EXPECT_EQ(releases, 1);
        EXPECT_EQ(deletions, 1);
    }
}

// A band engine that takes a mask row with every line, as the subband encoder does.
class mask_taker : public rvd_push_ifc_base {
public:
    mask_taker(rvd_subband band, rvd_roi_node* roi, std::map<int, mask_plane>& out)
        : roi(roi), out(out[band.get_band_idx() + 4 * band.access_resolution().get_dwt_level()])
    {
        band.get_dims(this->out.dims);
    }
    ~mask_taker() override
    {
        if (roi != nullptr) {
            roi->release();
            delete roi;
        }
    }
    void push(rvd_line_buf& line, rvd_thread_env*) override
    {
        EXPECT_EQ(line.get_width(), out.dims.size.x);
        std::vector<std::uint8_t> row(size_t(line.get_width()), 1); // no mask: foreground
        if (roi != nullptr)
            roi->pull(row.data(), line.get_width());
        out.v.insert(out.v.end(), row.begin(), row.end());
    }

private:
    rvd_roi_node* roi;
    mask_plane& out;
};

TEST(RoiMask, ForwardTransformHandsMasksToTheLevelsThatKeepThem)
{
    // Two levels, masks kept through one ("Rlevels=1"): the second level's bands count
    // as foreground entirely, and the source goes once its last band engine is done.
    siz_params siz;
    for (const std::string& a : tokens("Ssize={37,29} Sorigin={1,0} Ssampling={1,1} "
                                       "Scomponents=1 Sprecision=8 Ssigned=no"))
        ASSERT_TRUE(siz.parse_string(a.c_str())) << a;
    rvd_codestream cs;
    cs.create(&siz);
    for (const std::string& a : tokens("Clevels=2 Creversible=yes Rlevels=1"))
        ASSERT_TRUE(cs.access_siz()->parse_string(a.c_str())) << a;
    cs.access_siz()->finalize_all();
    rvd_tile tile = cs.open_tile(rvd_coords(0, 0));
    rvd_resolution top = tile.access_component(0).access_resolution();
    mask_plane src;
    top.get_dims(src.dims);
    src.v.assign(size_t(src.dims.size.y * src.dims.size.x), 0);
    src.v[size_t(20 * src.dims.size.x + 14)] = 1;
    int releases = 0, deletions = 0;
    std::map<int, mask_plane> bands;
    rvd_sample_allocator alloc;
    {
        rvd_analysis engine(top, &alloc, false, 1.0f, new plane_source(src, &releases, &deletions),
                            nullptr, nullptr,
                            [&](rvd_subband band, rvd_sample_allocator*, bool, float,
                                rvd_roi_node* roi, rvd_thread_env*, rvd_thread_queue*) {
                                return new mask_taker(band, roi, bands);
                            });
        rvd_line_buf line;
        line.pre_create(&alloc, src.dims.size.x, true, false, 0, 0);
        alloc.finalize();
        line.create();
        for (int y = 0; y < src.dims.size.y; y++)
            engine.push(line, nullptr);
    }
    EXPECT_EQ(releases, 1); // once the band engines are gone
    EXPECT_EQ(deletions, 1);
    ASSERT_EQ(bands.size(), 7u);
    for (const auto& b : bands) {
        SCOPED_TRACE("band " + std::to_string(b.first % 4) + " of level " + std::to_string(b.first / 4));
        ASSERT_EQ(b.second.v.size(), size_t(b.second.dims.size.y * b.second.dims.size.x));
        int marked = 0;
        for (std::uint8_t m : b.second.v)
            marked += m;
        if (b.first / 4 == 1) {
            EXPECT_GT(marked, 0) << "a mask row per line, the sample's neighbourhood marked";
            EXPECT_LT(marked, int(b.second.v.size()) / 2);
        }
        else
            EXPECT_EQ(marked, int(b.second.v.size())) << "no mask below the kept levels";
    }
    tile.close();
    cs.destroy();
}

TEST(RoiMask, RectanglesMarkTheirSamples)
{
    rvd_roi_rectangles rects;
    rects.add_rectangle(1, rvd_dims(rvd_coords(2, 3), rvd_coords(2, 4)));
    rects.add_rectangle(1, rvd_dims(rvd_coords(5, 0), rvd_coords(9, 1)));
    rects.add_rectangle(1, rvd_dims(rvd_coords(0, 0), rvd_coords(0, 9))); // empty: ignored
    EXPECT_EQ(rects.acquire_node(0, rvd_dims(rvd_coords(1, 1), rvd_coords(6, 6))), nullptr);
    std::unique_ptr<rvd_roi_node> n(rects.acquire_node(1, rvd_dims(rvd_coords(1, 1), rvd_coords(6, 6))));
    ASSERT_NE(n, nullptr);
    const char* want[] = {"000000", "001111", "001111", "000000", "000000", "000000"};
    for (const char* w : want) {
        std::uint8_t row[6];
        n->pull(row, 6);
        std::string got;
        for (std::uint8_t b : row)
            got += char('0' + b);
        EXPECT_EQ(got, w);
    }
    n->release();
}

} // namespace
