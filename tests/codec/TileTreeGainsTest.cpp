// Lifting gains on the tile tree: each inner node's bounded-input bounded-output gains
// and each band's energy gain, for 5/3 and 9/7, against a textbook lifting run here in
// double precision on impulses.
#include "codec/coding/rvd_kernels.h"
#include "codec/core/rv_codestream.h"
#include "codec/core/rv_node_tree.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_tile.h"
#include "tests/codec/support/codestream_bytes.h"
#include "tests/codec/support/decomp_streams.h"
#include "tests/codec/support/test_sources.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

using namespace codec_test;

namespace {

// One textbook lifting kernel: step i adds a_i times the two neighbours, updating the
// odd samples on even steps and the even samples on odd steps.
struct lifting {
    std::vector<double> a;
    double low_scale = 1.0, high_scale = 1.0;
};

using seq = std::vector<double>;

double at(const seq& v, long i) { return (i < 0 || i >= long(v.size())) ? 0.0 : v[size_t(i)]; }

// Analysis of one split with zero extension; `steps` lifting steps are applied.
void analyse(const seq& x, const lifting& k, size_t steps, seq& s, seq& d)
{
    const size_t n = x.size() / 2;
    s.assign(n, 0.0);
    d.assign(n, 0.0);
    for (size_t i = 0; i < n; i++) {
        s[i] = x[2 * i];
        d[i] = x[2 * i + 1];
    }
    for (size_t st = 0; st < steps; st++) {
        if (st % 2 == 0) {
            for (size_t i = 0; i < n; i++)
                d[i] += k.a[st] * (s[i] + at(s, long(i) + 1));
        } else {
            for (size_t i = n; i-- > 0;)
                s[i] += k.a[st] * (at(d, long(i) - 1) + d[i]);
        }
    }
}

lifting make_lifting(bool w97)
{
    lifting k;
    if (!w97) {
        k.a = {-0.5, 0.25};
        return k; // reversible: bands are not scaled
    }
    k.a = {-1.586134342059924, -0.052980118572961, 0.882911075530934, 0.443506852043971};
    // Scales making the low band's DC gain and the high band's Nyquist gain 1.
    seq ones(64, 1.0), alt(64);
    for (size_t i = 0; i < alt.size(); i++)
        alt[i] = (i % 2) ? 1.0 : -1.0;
    seq s, d;
    analyse(ones, k, k.a.size(), s, d);
    k.low_scale = 1.0 / s[16];
    analyse(alt, k, k.a.size(), s, d);
    k.high_scale = 1.0 / d[16];
    return k;
}

// Gains of the split after `path` (branches of the splits before it, first first):
// entry 0 the split's input samples, entry i + 1 lifting step i's output. Each gain is
// the sum of the magnitudes of one sample's responses to unit impulses of the input.
std::vector<double> bibo(const lifting& k, const std::vector<int>& path)
{
    const size_t depth = path.size() + 1;
    const size_t n = size_t(32) << depth;
    std::vector<double> gains(k.a.size() + 1, 0.0);
    for (size_t pos = 0; pos < n; pos++) {
        seq cur(n, 0.0), s, d;
        cur[pos] = 1.0;
        for (int b : path) {
            analyse(cur, k, k.a.size(), s, d);
            for (double& v : s)
                v *= k.low_scale;
            for (double& v : d)
                v *= k.high_scale;
            cur = b ? d : s;
        }
        const size_t mid = cur.size() / 2;
        gains[0] += std::fabs(cur[mid]);
        for (size_t st = 1; st <= k.a.size(); st++) {
            analyse(cur, k, st, s, d);
            gains[st] += std::fabs(((st - 1) % 2 == 0 ? d : s)[mid / 2]);
        }
    }
    return gains;
}

// Energy of the synthesis of a unit sample of the band reached by `path`.
double energy(const lifting& k, const std::vector<int>& path)
{
    seq cur(16, 0.0);
    cur[8] = 1.0;
    for (size_t p = path.size(); p-- > 0;) {
        const size_t n = cur.size();
        seq s(n, 0.0), d(n, 0.0);
        for (size_t i = 0; i < n; i++)
            (path[p] ? d : s)[i] = cur[i] / (path[p] ? k.high_scale : k.low_scale);
        for (size_t st = k.a.size(); st-- > 0;) {
            if (st % 2 == 0) {
                for (size_t i = 0; i < n; i++)
                    d[i] -= k.a[st] * (s[i] + at(s, long(i) + 1));
            } else {
                for (size_t i = 0; i < n; i++)
                    s[i] -= k.a[st] * (at(d, long(i) - 1) + d[i]);
            }
        }
        cur.assign(2 * n, 0.0);
        for (size_t i = 0; i < n; i++) {
            cur[2 * i] = s[i];
            cur[2 * i + 1] = d[i];
        }
    }
    double e = 0.0;
    for (double v : cur)
        e += v * v;
    return e;
}

void expect_gains(const float* got, int count, const std::vector<double>& want,
                  const std::string& what)
{
    ASSERT_EQ(count, int(want.size())) << what;
    for (int i = 0; i < count; i++)
        EXPECT_NEAR(got[i], want[size_t(i)], 2e-5 * want[size_t(i)] + 1e-6)
            << what << " entry " << i;
}

// A single-tile stream of `levels` Mallat levels with the 5/3 or 9/7 kernel.
std::vector<uint8_t> stream(int levels, bool w97)
{
    siz_geometry g;
    g.xsiz = g.xtsiz = 97;
    g.ysiz = g.ytsiz = 75;
    std::vector<uint8_t> cod = {0, 0, 0, 1, 0, uint8_t(levels), 4, 4, 0, uint8_t(w97 ? 0 : 1)};
    std::vector<uint8_t> qcd = {uint8_t(w97 ? 0x42 : 0x40)};
    for (int i = 0; i < 3 * levels + 1; i++) {
        if (w97) {
            qcd.push_back(0x48);
            qcd.push_back(0x00);
        } else {
            qcd.push_back(9 << 3);
        }
    }
    return build_stream(g, {segment(0xFF52, cod), segment(0xFF5C, qcd)});
}

} // namespace

TEST(TileTreeGains, NodeBiboGainsAndBandEnergyOfTheStandardKernels)
{
    for (const bool w97 : {false, true}) {
        SCOPED_TRACE(w97 ? "9/7" : "5/3");
        const lifting k = make_lifting(w97);
        memory_source src(stream(5, w97));
        rvd_codestream cs;
        cs.create(&src);
        rvd_tile t = cs.open_tile(rvd_coords(0, 0));
        rvd_tile_comp tc = t.access_component(0);
        rvd_kernels kernels;
        kernels.init(w97 ? 0 : 1, !w97);
        for (int r = 5; r >= 1; r--) {
            // The level's own split follows 5 - r low-pass splits in each direction.
            const std::vector<int> path(size_t(5 - r), 0);
            const std::vector<double> want = bibo(k, path);
            rvd_node node = tc.access_resolution(r).access_node();
            EXPECT_EQ(node.get_kernel_id(), w97 ? 0 : 1);
            int nh = 0, nv = 0;
            const float* h = node.get_bibo_gains(nh, false);
            const float* v = node.get_bibo_gains(nv, true);
            expect_gains(h, nh, want, "horizontal, res " + std::to_string(r));
            expect_gains(v, nv, want, "vertical, res " + std::to_string(r));

            // Each band's energy gain: horizontal times vertical synthesis energy.
            rv_resolution& rec = t.get_state()->comps[0].resolutions[size_t(r)];
            for (rv_subband& band : rec.subbands) {
                std::vector<int> hp = path, vp = path;
                hp.push_back(band.branch_x);
                vp.push_back(band.branch_y);
                EXPECT_NEAR(rv_band_energy_gain(kernels, band), energy(k, hp) * energy(k, vp),
                            1e-5 * energy(k, hp) * energy(k, vp))
                    << "res " << r << " band " << int(band.band_idx);
            }
        }
        // The LL band: every split low-pass. Paths deeper than four low-pass splits are
        // taken as doubling the energy per further split rather than computed.
        rv_subband& ll = t.get_state()->comps[0].resolutions[0].subbands[0];
        const double e_ll = 2.0 * energy(k, std::vector<int>(4, 0));
        EXPECT_NEAR(e_ll, energy(k, std::vector<int>(5, 0)), 0.01 * e_ll);
        EXPECT_NEAR(rv_band_energy_gain(kernels, ll), e_ll * e_ll, 1e-5 * e_ll * e_ll);
        t.close();
        cs.destroy();
    }
    // A value known by hand: the 5/3 high-pass synthesis taps -1/8, -1/4, 3/4, -1/4,
    // -1/8 square to 0.71875.
    EXPECT_NEAR(energy(make_lifting(false), {1}), 0.71875, 1e-12);
}

TEST(TileTreeGains, InnerNodesOfPacketDecompositions)
{
    // Every inner node's gains follow its own path: the low-pass splits above its
    // level, then the branches from the level's node down to it.
    const lifting k = make_lifting(false);
    const std::vector<decomp_level> levels = decomp_test_levels();
    siz_geometry g;
    g.rsiz = 0x8000 | 32;
    fake_cache_source src;
    src.main_header.bytes = decomp_main_header(levels, g);
    src.main_header.complete = true;
    src.tile_headers[0].bytes = decomp_tile_header(levels, 15);
    src.tile_headers[0].complete = true;
    rvd_codestream cs;
    cs.create(&src);
    rvd_tile t = cs.open_tile(rvd_coords(0, 0));
    int checked = 0;
    for (int r = 1; r <= 3; r++) {
        rv_resolution& res = t.get_state()->comps[0].resolutions[size_t(r)];
        std::vector<rv_node*> nodes = {&res.node};
        for (rv_node& n : res.inner_nodes)
            nodes.push_back(&n);
        for (rv_node* n : nodes) {
            std::vector<int> hp(size_t(res.hor_depth), 0), vp(size_t(res.vert_depth), 0);
            std::vector<int> hb, vb;
            for (rv_node* m = n; m != &res.node; m = m->parent) {
                if (m->branch_x != 2)
                    hb.insert(hb.begin(), m->branch_x);
                if (m->branch_y != 2)
                    vb.insert(vb.begin(), m->branch_y);
            }
            hp.insert(hp.end(), hb.begin(), hb.end());
            vp.insert(vp.end(), vb.begin(), vb.end());
            int nh = 0, nv = 0;
            const float* h = rvd_node(n).get_bibo_gains(nh, false);
            const float* v = rvd_node(n).get_bibo_gains(nv, true);
            const std::string what = "res " + std::to_string(r) + " path " +
                                     std::to_string(hb.size()) + "/" + std::to_string(vb.size());
            if (nh > 0) {
                expect_gains(h, nh, bibo(k, hp), what + " horizontal");
                checked++;
            }
            if (nv > 0) {
                expect_gains(v, nv, bibo(k, vp), what + " vertical");
                checked++;
            }
        }
    }
    EXPECT_EQ(checked, 11);
    t.close();
    cs.destroy();
}

TEST(TileTreeGains, ReadingWeighsEveryBandAlikeAndKeepsEveryPass)
{
    memory_source src(stream(2, true));
    rvd_codestream cs;
    cs.create(&src);
    cs.set_persistent();
    rvd_tile t = cs.open_tile(rvd_coords(0, 0));
    rvd_subband b = t.access_component(0).access_resolution(2).access_subband(3);
    EXPECT_EQ(b.get_msb_wmse(), 1.0);
    EXPECT_EQ(b.get_conservative_slope_threshold(), 1);
    t.close();
    cs.set_min_slope_threshold(40000);
    t = cs.open_tile(rvd_coords(0, 0));
    EXPECT_EQ(
        t.access_component(0).access_resolution(0).access_subband(0).get_conservative_slope_threshold(),
        40000);
    t.close();
    cs.destroy();
}
