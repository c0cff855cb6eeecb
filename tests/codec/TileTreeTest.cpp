// The tile tree: geometry of every tile, component, resolution and band against a
// computation made here from the header bytes (streams from opj_compress and the
// conformance set), the apparent-geometry mapping, precinct ids and areas, the view
// restrictions, the error texts, and open/close/teardown cycles.
#include "codec/core/rv_codestream.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_tile.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/codestream_bytes.h"
#include "tests/codec/support/test_sources.h"
#include "tests/codec/support/tile_cache_split.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

using namespace codec_test;

namespace {

// ---------------------------------------------------------------------------------------
// Independent header reading: SIZ, COD/COC, QCD/QCC of the main header, byte by byte.

struct coding {
    int levels = 0, xcb = 6, ycb = 6, transform = 0;
    bool use_precincts = false;
    std::vector<int> ppx, ppy; // per resolution, lowest first
};
struct quant {
    int style = 0, guard = 0;
    std::vector<int> eps; // per band (one for derived)
};
struct header {
    int64_t xsiz = 0, ysiz = 0, x0 = 0, y0 = 0, xt = 0, yt = 0, xt0 = 0, yt0 = 0;
    std::vector<int> xr, yr;
    coding cod;
    quant qcd;
    std::map<int, coding> coc;
    std::map<int, quant> qcc;
    bool tile_coding_segments = false; // COD/COC/QCD/QCC in a tile-part header
    bool ppt = false;
    // Tile-header segments; a tile COC beats a tile COD, which beats the main header.
    std::map<int, coding> tile_cod;
    std::map<std::pair<int, int>, coding> tile_coc;
    std::map<int, quant> tile_qcd;
    std::map<std::pair<int, int>, quant> tile_qcc;

    const coding& coding_for(int t, int c) const
    {
        if (tile_coc.count({t, c}))
            return tile_coc.at({t, c});
        if (tile_cod.count(t))
            return tile_cod.at(t);
        return coc.count(c) ? coc.at(c) : cod;
    }
    const quant& quant_for(int t, int c) const
    {
        if (tile_qcc.count({t, c}))
            return tile_qcc.at({t, c});
        if (tile_qcd.count(t))
            return tile_qcd.at(t);
        return qcc.count(c) ? qcc.at(c) : qcd;
    }
    bool ok = false;
};

int be(const std::vector<uint8_t>& b, size_t p, int n)
{
    int v = 0;
    for (int i = 0; i < n; i++)
        v = (v << 8) | b.at(p + size_t(i));
    return v;
}

void read_spcod(const std::vector<uint8_t>& b, size_t p, bool precincts, coding& c)
{
    c.use_precincts = precincts;
    c.levels = b.at(p);
    c.xcb = (b.at(p + 1) & 15) + 2;
    c.ycb = (b.at(p + 2) & 15) + 2;
    c.transform = b.at(p + 4);
    for (int r = 0; r <= c.levels; r++) {
        int v = precincts ? b.at(p + 5 + size_t(r)) : 0xFF;
        c.ppx.push_back(v & 15);
        c.ppy.push_back(v >> 4);
    }
}

void read_quant(const std::vector<uint8_t>& b, size_t p, size_t end, quant& q)
{
    q.guard = b.at(p) >> 5;
    q.style = b.at(p) & 31;
    for (p++; p < end;) {
        if (q.style == 0) {
            q.eps.push_back(b.at(p) >> 3);
            p++;
        } else {
            q.eps.push_back(be(b, p, 2) >> 11);
            p += 2;
        }
    }
}

header read_header(const std::vector<uint8_t>& b)
{
    header h;
    size_t p = 2;
    bool main = true;
    const size_t n = b.size();
    while (p + 4 <= n) {
        const int code = be(b, p, 2);
        if (code == 0xFF93) { // SOD: skip to the next SOT by its Psot
            break;
        }
        const size_t len = size_t(be(b, p + 2, 2));
        const size_t body = p + 4, end = p + 2 + len;
        if (end > n)
            break;
        const int csiz = int(h.xr.size());
        const int cb = csiz < 257 ? 1 : 2;
        if (code == 0xFF51) {
            h.xsiz = uint32_t(be(b, body + 2, 4));
            h.ysiz = uint32_t(be(b, body + 6, 4));
            h.x0 = uint32_t(be(b, body + 10, 4));
            h.y0 = uint32_t(be(b, body + 14, 4));
            h.xt = uint32_t(be(b, body + 18, 4));
            h.yt = uint32_t(be(b, body + 22, 4));
            h.xt0 = uint32_t(be(b, body + 26, 4));
            h.yt0 = uint32_t(be(b, body + 30, 4));
            const int nc = be(b, body + 34, 2);
            for (int c = 0; c < nc; c++) {
                h.xr.push_back(b.at(body + 37 + 3 * size_t(c)));
                h.yr.push_back(b.at(body + 38 + 3 * size_t(c)));
            }
        } else if (code == 0xFF90) {
            // A tile-part: its header runs to SOD; scan it for coding segments.
            const int tile = be(b, body, 2);
            const size_t psot = size_t(uint32_t(be(b, body + 2, 4)));
            size_t q = end;
            while (q + 4 <= n && be(b, q, 2) != 0xFF93) {
                const int c2 = be(b, q, 2);
                const size_t qb = q + 4, qe = q + 2 + size_t(be(b, q + 2, 2));
                if (c2 == 0xFF52 || c2 == 0xFF53 || c2 == 0xFF5C || c2 == 0xFF5D)
                    h.tile_coding_segments = true;
                if (c2 == 0xFF61)
                    h.ppt = true;
                if (c2 == 0xFF52) {
                    read_spcod(b, qb + 5, (b.at(qb) & 1) != 0, h.tile_cod[tile]);
                } else if (c2 == 0xFF53) {
                    coding c;
                    read_spcod(b, qb + size_t(cb) + 1, (b.at(qb + size_t(cb)) & 1) != 0, c);
                    h.tile_coc[{tile, be(b, qb, cb)}] = c;
                } else if (c2 == 0xFF5C) {
                    quant qd;
                    read_quant(b, qb, qe, qd);
                    h.tile_qcd[tile] = qd;
                } else if (c2 == 0xFF5D) {
                    quant qd;
                    read_quant(b, qb + size_t(cb), qe, qd);
                    h.tile_qcc[{tile, be(b, qb, cb)}] = qd;
                }
                q = qe;
            }
            main = false;
            if (psot == 0)
                break;
            p += psot;
            continue;
        } else if (main && code == 0xFF52) {
            read_spcod(b, body + 5, (b.at(body) & 1) != 0, h.cod);
        } else if (main && code == 0xFF53) {
            coding c;
            read_spcod(b, body + size_t(cb) + 1, (b.at(body + size_t(cb)) & 1) != 0, c);
            h.coc[be(b, body, cb)] = c;
        } else if (main && code == 0xFF5C) {
            read_quant(b, body, end, h.qcd);
        } else if (main && code == 0xFF5D) {
            quant q;
            read_quant(b, body + size_t(cb), end, q);
            h.qcc[be(b, body, cb)] = q;
        }
        p = end;
    }
    h.ok = !h.xr.empty();
    return h;
}

int64_t ceil_div(int64_t v, int64_t d) { return v >= 0 ? (v + d - 1) / d : -((-v) / d); }
int64_t floor_div(int64_t v, int64_t d) { return v >= 0 ? v / d : -((-v + d - 1) / d); }

// Index range of cells of size 2^e meeting [a, b), or an empty range.
void cells(int64_t a, int64_t b, int e, int& first, int& count)
{
    first = int(floor_div(a, int64_t(1) << e));
    count = a == b ? 0 : int(ceil_div(b, int64_t(1) << e) - first);
}

// Walks every tile with the identity view and compares every handle with the formulas.
// On a cached source the tile headers are read; on a memory source (until packets are
// read) tiles use the main header.
void check_geometry(const std::string& what, const std::vector<uint8_t>& bytes,
                    bool cached = false)
{
    SCOPED_TRACE(what);
    const header h = read_header(bytes);
    ASSERT_TRUE(h.ok);
    ASSERT_TRUE(cached || !h.tile_coding_segments);
    memory_source mem(bytes);
    fake_cache_source cache;
    split_into_cache(bytes, cache);
    rvd_codestream cs;
    if (cached)
        cs.create(&cache);
    else
        cs.create(&mem);
    const int tx = int(ceil_div(h.xsiz - h.xt0, h.xt)), ty = int(ceil_div(h.ysiz - h.yt0, h.yt));
    int checked_bands = 0;
    for (int p = 0; p < ty; p++)
        for (int q = 0; q < tx; q++) {
            SCOPED_TRACE("tile " + std::to_string(p * tx + q));
            const int64_t t_x0 = std::max(h.xt0 + q * h.xt, h.x0);
            const int64_t t_x1 = std::min(h.xt0 + (q + 1) * h.xt, h.xsiz);
            const int64_t t_y0 = std::max(h.yt0 + p * h.yt, h.y0);
            const int64_t t_y1 = std::min(h.yt0 + (p + 1) * h.yt, h.ysiz);
            rvd_tile t = cs.open_tile(rvd_coords(p, q));
            ASSERT_TRUE(t.exists());
            EXPECT_EQ(t.get_tnum(), p * tx + q);
            for (int c = 0; c < int(h.xr.size()); c++) {
                const int tnum = p * tx + q;
                const coding& cd = cached ? h.coding_for(tnum, c) : h.coding_for(-1, c);
                const quant& qd = cached ? h.quant_for(tnum, c) : h.quant_for(-1, c);
                const int64_t cx0 = ceil_div(t_x0, h.xr[size_t(c)]);
                const int64_t cx1 = ceil_div(t_x1, h.xr[size_t(c)]);
                const int64_t cy0 = ceil_div(t_y0, h.yr[size_t(c)]);
                const int64_t cy1 = ceil_div(t_y1, h.yr[size_t(c)]);
                rvd_tile_comp tc = t.access_component(c);
                ASSERT_TRUE(tc.exists());
                const int L = cd.levels;
                ASSERT_EQ(tc.get_num_resolutions(), L + 1);
                EXPECT_EQ(tc.get_reversible(), cd.transform == 1);
                int band_counter = 0;
                for (int r = 0; r <= L; r++) {
                    const int64_t s = int64_t(1) << (L - r);
                    const int64_t rx0 = ceil_div(cx0, s), rx1 = ceil_div(cx1, s);
                    const int64_t ry0 = ceil_div(cy0, s), ry1 = ceil_div(cy1, s);
                    rvd_resolution res = tc.access_resolution(r);
                    rvd_dims d;
                    res.get_dims(d);
                    EXPECT_EQ(d, rvd_dims(rvd_coords(int(ry0), int(rx0)),
                                          rvd_coords(int(ry1 - ry0), int(rx1 - rx0))))
                        << "res " << r;
                    const int ppx = cd.ppx[size_t(r)], ppy = cd.ppy[size_t(r)];
                    rvd_dims want;
                    cells(ry0, ry1, ppy, want.pos.y, want.size.y);
                    cells(rx0, rx1, ppx, want.pos.x, want.size.x);
                    if (want.size.y == 0 || want.size.x == 0)
                        want.size = rvd_coords();
                    res.get_valid_precincts(d);
                    if (want.size.x > 0) {
                        EXPECT_EQ(d, want) << "precincts of res " << r;
                    } else {
                        EXPECT_TRUE(d.is_empty());
                    }
                    int min_b = 0;
                    const int nb = res.get_valid_band_indices(min_b);
                    ASSERT_EQ(nb, r == 0 ? 1 : 3);
                    for (int b = min_b; b < min_b + nb; b++, band_counter++) {
                        const int xo = r == 0 ? 0 : (b & 1), yo = r == 0 ? 0 : (b >> 1);
                        const int n = r == 0 ? L : L - r + 1;
                        int64_t bx0, bx1, by0, by1;
                        if (r == 0) {
                            bx0 = rx0, bx1 = rx1, by0 = ry0, by1 = ry1;
                        } else {
                            const int64_t sh = int64_t(1) << (n - 1), sn = int64_t(1) << n;
                            bx0 = ceil_div(cx0 - sh * xo, sn);
                            bx1 = ceil_div(cx1 - sh * xo, sn);
                            by0 = ceil_div(cy0 - sh * yo, sn);
                            by1 = ceil_div(cy1 - sh * yo, sn);
                        }
                        rvd_subband band = res.access_subband(b);
                        ASSERT_TRUE(band.exists());
                        EXPECT_EQ(band.get_band_idx(), b);
                        band.get_dims(d);
                        const rvd_dims want_band(rvd_coords(int(by0), int(bx0)),
                                                 rvd_coords(int(by1 - by0), int(bx1 - bx0)));
                        if (want_band.is_empty()) // any empty region will do
                            EXPECT_TRUE(d.is_empty()) << "res " << r << " band " << b;
                        else
                            EXPECT_EQ(d, want_band) << "res " << r << " band " << b;
                        const int ex = std::min(cd.xcb, r == 0 ? ppx : ppx - 1);
                        const int ey = std::min(cd.ycb, r == 0 ? ppy : ppy - 1);
                        rvd_dims blocks;
                        cells(by0, by1, ey, blocks.pos.y, blocks.size.y);
                        cells(bx0, bx1, ex, blocks.pos.x, blocks.size.x);
                        band.get_valid_blocks(d);
                        if (blocks.size.x > 0 && blocks.size.y > 0)
                            EXPECT_EQ(d, blocks) << "blocks of res " << r << " band " << b;
                        else
                            EXPECT_TRUE(d.is_empty());
                        int eps;
                        if (qd.style == 1)
                            eps = qd.eps.at(0) - L + n;
                        else
                            eps = qd.eps.at(size_t(band_counter));
                        EXPECT_EQ(band.get_K_max(), qd.guard + eps - 1)
                            << "res " << r << " band " << b;
                        checked_bands++;
                    }
                }
            }
            t.close();
        }
    EXPECT_GT(checked_bands, 0);
    cs.destroy();
}

// A temporary folder of this process, removed at the end.
struct temp_dir {
    std::string path;
    temp_dir()
    {
        char tmpl[] = "/tmp/tiletree_XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~temp_dir() { std::system(("rm -rf " + path).c_str()); }
};

// An 8-bit grey PGM of smooth content, encoded by opj_compress with the given options.
std::vector<uint8_t> opj_stream(const temp_dir& dir, int w, int h, const std::string& opts)
{
    const std::string pgm = dir.path + "/in.pgm", out = dir.path + "/out.j2k";
    std::ofstream f(pgm, std::ios::binary);
    f << "P5\n" << w << " " << h << "\n255\n";
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            f.put(char((x * 7 + y * 3) & 255));
    f.close();
    std::remove(out.c_str());
    const std::string cmd =
        "opj_compress -i " + pgm + " -o " + out + " " + opts + " >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0)
        return {};
    return read_file(out);
}

// Raw 8-bit unsigned components with their sub-sampling (dx, dy), each component's
// samples one after another, encoded by opj_compress.
std::vector<uint8_t> opj_raw_stream(const temp_dir& dir, int w, int h,
                                    const std::vector<std::pair<int, int>>& sampling,
                                    const std::string& opts)
{
    const std::string raw = dir.path + "/in.raw", out = dir.path + "/out.j2k";
    std::ofstream f(raw, std::ios::binary);
    std::string format = "-F " + std::to_string(w) + "," + std::to_string(h) + "," +
                         std::to_string(sampling.size()) + ",8,u";
    for (size_t c = 0; c < sampling.size(); c++) {
        const int dx = sampling[c].first, dy = sampling[c].second;
        format += (c == 0 ? "@" : ":") + std::to_string(dx) + "x" + std::to_string(dy);
        for (int y = 0; y < (h + dy - 1) / dy; y++)
            for (int x = 0; x < (w + dx - 1) / dx; x++)
                f.put(char((x * 5 + y * 11 + int(c) * 40) & 255));
    }
    f.close();
    std::remove(out.c_str());
    const std::string cmd =
        "opj_compress -i " + raw + " -o " + out + " " + format + " " + opts + " >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0)
        return {};
    return read_file(out);
}

} // namespace

TEST(TileTreeGeometry, SubSampledComponentsMatchTheFormulas)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    temp_dir dir;
    const std::vector<uint8_t> four =
        opj_raw_stream(dir, 64, 48, {{1, 1}, {2, 2}, {2, 2}, {1, 1}}, "-n 3");
    ASSERT_FALSE(four.empty());
    check_geometry("64x48 four components 1x1:2x2:2x2:1x1", four);
    const std::vector<uint8_t> two =
        opj_raw_stream(dir, 61, 47, {{1, 1}, {4, 1}}, "-n 4 -c [32,32],[16,16]");
    ASSERT_FALSE(two.empty());
    check_geometry("61x47 two components 1x1:4x1", two);
}

TEST(TileTreeGeometry, OpjCompressStreamsMatchTheFormulas)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    temp_dir dir;
    struct c {
        int w, h;
        const char* opts;
    };
    const c cases[] = {
        {61, 47, "-n 1"},
        {61, 47, "-n 3 -c [64,64],[32,32],[16,16]"},
        {127, 126, "-n 7 -b 32,16"},
        {127, 126, "-n 5"},
        {127, 126, "-n 6 -c [64,64],[32,32],[16,16]"},
        {127, 126, "-n 4 -b 4,1024"},
        {127, 126, "-n 2 -d 11,13 -t 37,29 -T 11,13"},
        {127, 126, "-n 3 -I -c [32,32],[16,16] -b 16,16"},
        {1, 33, "-n 1"},
        {61, 47, "-n 3 -d 11,13 -s 2,2"},
    };
    for (const c& k : cases) {
        std::vector<uint8_t> bytes = opj_stream(dir, k.w, k.h, k.opts);
        ASSERT_FALSE(bytes.empty()) << k.opts;
        check_geometry(std::string(k.opts) + " " + std::to_string(k.w) + "x" +
                           std::to_string(k.h),
                       bytes);
    }
}

TEST(TileTreeGeometry, ConformanceSetMatchesTheFormulas)
{
    int checked = 0, checked_cached = 0;
    for (const std::string& name : conformance_names()) {
        std::vector<uint8_t> bytes = read_file(conformance_dir() + "/" + name + ".j2k");
        const header h = read_header(bytes);
        // Tile-part headers are read with the packets on other sources; until then they
        // are read through the cache.
        if (!h.tile_coding_segments) {
            check_geometry(name, bytes);
            checked++;
        } else if (!h.ppt) {
            check_geometry(name + " cached", bytes, true);
            checked_cached++;
        }
        if (h.ppt) {
            fake_cache_source cache;
            split_into_cache(bytes, cache);
            rvd_codestream cs;
            cs.create(&cache);
            EXPECT_NE(error_text([&] { cs.open_tile(rvd_coords(0, 0)); })
                          .find("You cannot use PPM or PPT marker segments (packed packet "
                                "headers) with cached compressed data sources."),
                      std::string::npos)
                << name;
            cs.destroy();
        }
    }
    EXPECT_GE(checked, 10);
    EXPECT_GE(checked_cached, 1);
}
