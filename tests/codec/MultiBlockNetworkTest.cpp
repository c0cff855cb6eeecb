// Part-2 style transform blocks inside the network, on hand-described stages: forward
// transforms written here (the exact inverses of the blocks' synthesis rules, or the
// textbook lifting of the wavelet kernels) produce the codestream components, and the
// network must give the original components back.
#include "codec/coding/rv_multi_synthesis.h"
#include "codec/core/rv_kernel_description.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/multi_fake_source.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <vector>

using namespace multi_test;

namespace {

const int H = 3, W = 5;

// n components of H x W samples: value of component c at (y, x).
struct planes {
    int n;
    std::vector<double> v;
    explicit planes(int n) : n(n), v(std::size_t(n * H * W), 0.0) {}
    double& at(int c, int y, int x) { return v[std::size_t((c * H + y) * W + x)]; }
};

void add_comps(fake_source& src, int n, bool reversible, int depth)
{
    for (int c = 0; c < n; ++c) {
        fake_comp fc;
        fc.reversible = reversible;
        fc.depth = fc.internal_depth = depth;
        fc.size = rvd_coords(H, W);
        src.comps.push_back(fc);
    }
}

void add_outputs(fake_source& src, int n, int depth, bool is_signed = true)
{
    for (int c = 0; c < n; ++c) {
        fake_output fo;
        fo.size = rvd_coords(H, W);
        fo.depth = depth;
        fo.is_signed = is_signed;
        src.outputs.push_back(fo);
    }
}

fake_stage one_block_stage(int n_in, int n_out, const fake_block& b)
{
    fake_stage st;
    st.num_inputs = n_in;
    st.num_outputs = n_out;
    for (int i = 0; i < n_in; ++i)
        st.stage_inputs.push_back(i);
    st.blocks.push_back(b);
    return st;
}

// Pulls every row of every output in turn; values in integer units of each output's depth.
planes decode(fake_source& src, bool force_precise)
{
    std::unique_ptr<rv_multi_synthesis> e(new rv_multi_synthesis);
    e->create(src, force_precise, false, false, 1, nullptr, nullptr, false);
    const int n = int(src.outputs.size());
    planes out(n);
    for (int y = 0; y < H; ++y)
        for (int c = 0; c < n; ++c) {
            rvd_line_buf* l = e->get_line(c, nullptr);
            EXPECT_NE(l, nullptr) << "row " << y << " output " << c;
            if (l == nullptr)
                return out;
            EXPECT_EQ(l->is_shorts(), !force_precise && !e->is_line_precise(c));
            std::vector<double> v = line_values(*l, src.outputs[std::size_t(c)].depth);
            for (int x = 0; x < W; ++x)
                out.at(c, y, x) = v[std::size_t(x)];
        }
    return out;
}

void use_planes(fake_source& src, const planes& p)
{
    src.samples = [p](int c, int y, int x) mutable { return int(std::lround(p.v[std::size_t((c * H + y) * W + x)])); };
}

planes random_planes(int n, int lo, int hi, unsigned seed)
{
    std::mt19937 rng(seed);
    planes p(n);
    for (double& v : p.v)
        v = lo + int(rng() % unsigned(hi - lo + 1));
    return p;
}

int64_t floor_shift(int64_t v, int k)
{
    return v >> k; // arithmetic: floor division by 2^k
}

} // namespace

TEST(MultiBlockNetwork, MatrixWithOffsetsAndConstantOutputs)
{
    // Outputs 0, 1 from a 2-input matrix; outputs 2 and 3 (unsigned, same width) are
    // produced by nothing and share one line holding -2^(B-1); output 4 (signed) holds 0.
    const float m[2][2] = {{1.0f, 0.5f}, {-0.25f, 2.0f}};
    const float off[2] = {3.0f, -5.0f};
    planes in = random_planes(2, -60, 60, 3);
    for (bool precise : {true, false}) {
        fake_source src;
        add_comps(src, 2, false, 8);
        add_outputs(src, 5, 8);
        src.outputs[2].is_signed = src.outputs[3].is_signed = false;
        use_planes(src, in);
        fake_block b;
        b.kind = block_kind::matrix;
        b.in_idx = {0, 1};
        b.out_idx = {0, 1};
        b.irrev_off = {off[0], off[1]};
        b.matrix = {m[0][0], m[0][1], m[1][0], m[1][1]};
        src.stages.push_back(one_block_stage(2, 5, b));

        std::unique_ptr<rv_multi_synthesis> e(new rv_multi_synthesis);
        e->create(src, precise, false, false, 1, nullptr, nullptr, false);
        for (int y = 0; y < H; ++y) {
            for (int j = 0; j < 2; ++j) {
                rvd_line_buf* l = e->get_line(j, nullptr);
                ASSERT_NE(l, nullptr);
                std::vector<double> v = line_values(*l, 8);
                for (int x = 0; x < W; ++x) {
                    const double expect = m[j][0] * in.at(0, y, x) + m[j][1] * in.at(1, y, x) + off[j];
                    // 16-bit lines: within 1/4096 of the nominal range (256) plus rounding.
                    ASSERT_NEAR(v[std::size_t(x)], expect, precise ? 1e-3 : 256.0 / 4096 + 256.0 / 8192);
                }
            }
            rvd_line_buf* c2 = e->get_line(2, nullptr);
            rvd_line_buf* c3 = e->get_line(3, nullptr);
            rvd_line_buf* c4 = e->get_line(4, nullptr);
            ASSERT_TRUE(c2 != nullptr && c3 != nullptr && c4 != nullptr);
            EXPECT_EQ(c2, c3);
            EXPECT_NE(c2, c4);
            EXPECT_EQ(line_values(*c2, 8)[2], -128.0);
            EXPECT_EQ(line_values(*c4, 8)[4], 0.0);
        }
    }
}

TEST(MultiBlockNetwork, ReversibleMatrixUndoesItsForwardSteps)
{
    const int n = 3;
    // Column s holds step s: the divisor at row t = N-1-(s mod N), weights elsewhere.
    // The last step's divisor is negative: its target is replaced by (acc >> k) - target.
    std::vector<int> c = {
        // s=0 s=1 s=2 s=3
        2, -1, 4, 1,  // row 0
        1, 2, -2, 3,  // row 1
        1, 3, 1, -1}; // row 2
    const int offs[3] = {5, -3, 0};
    planes x = random_planes(n, -100, 100, 11);
    // Forward: the steps backwards, each the exact inverse of its synthesis form.
    planes cs = x;
    for (std::size_t i = 0; i < cs.v.size(); ++i)
        cs.v[i] -= offs[i / (H * W)];
    for (int y = 0; y < H; ++y)
        for (int xx = 0; xx < W; ++xx)
            for (int s = n; s >= 0; --s) {
                const int t = n - 1 - (s % n);
                int v = c[std::size_t(t * (n + 1) + s)];
                const bool neg = s == n && v < 0;
                if (neg)
                    v = -v;
                const int k = int(std::log2(v));
                int64_t acc = v / 2;
                for (int i = 0; i < n; ++i)
                    if (i != t)
                        acc += int64_t(c[std::size_t(i * (n + 1) + s)]) * int64_t(cs.at(i, y, xx));
                const int64_t upd = floor_shift(acc, k);
                double& tv = cs.at(t, y, xx);
                tv = neg ? double(upd - int64_t(tv)) : double(int64_t(tv) + upd);
            }
    for (bool precise : {false, true}) {
        fake_source src;
        add_comps(src, n, true, 12);
        add_outputs(src, n, 8);
        use_planes(src, cs);
        fake_block b;
        b.kind = block_kind::rxform;
        b.in_idx = {0, 1, 2};
        b.out_idx = {0, 1, 2};
        b.active = {0, 1, 2};
        b.rev_off = {offs[0], offs[1], offs[2]};
        b.rx = c;
        src.stages.push_back(one_block_stage(n, n, b));
        planes out = decode(src, precise);
        EXPECT_EQ(out.v, x.v) << precise;
    }
}

TEST(MultiBlockNetwork, ReversibleDependencyUndoesItsPredictions)
{
    const int n = 3;
    // Rows 1, 2: coefficients left of the diagonal, then the diagonal divisor.
    const std::vector<int> packed = {3, 2, -1, 2, 4};
    const int coef[3][3] = {{1, 0, 0}, {3, 2, 0}, {-1, 2, 4}};
    const int offs[3] = {7, -2, 1};
    planes x = random_planes(n, -100, 100, 5);
    planes cs(n);
    for (int y = 0; y < H; ++y)
        for (int xx = 0; xx < W; ++xx)
            for (int r = 0; r < n; ++r) {
                int64_t pred = 0;
                if (r > 0) {
                    int64_t acc = coef[r][r] / 2;
                    for (int cc = 0; cc < r; ++cc)
                        acc += coef[r][cc] * int64_t(x.at(cc, y, xx));
                    pred = floor_shift(acc, int(std::log2(coef[r][r])));
                }
                cs.at(r, y, xx) = x.at(r, y, xx) - offs[r] - double(pred);
            }
    for (bool precise : {false, true}) {
        fake_source src;
        add_comps(src, n, true, 10);
        add_outputs(src, n, 8);
        use_planes(src, cs);
        fake_block b;
        b.kind = block_kind::dependency;
        b.reversible = true;
        b.in_idx = {0, 1, 2};
        b.out_idx = {0, 1, 2};
        b.active = {0, 1, 2};
        b.dep_ic = packed;
        b.dep_io = {offs[0], offs[1], offs[2]};
        src.stages.push_back(one_block_stage(n, n, b));
        planes out = decode(src, precise);
        EXPECT_EQ(out.v, x.v) << precise;
    }
}

TEST(MultiBlockNetwork, IrreversibleDependencyPredictsFromEarlierOutputs)
{
    planes in = random_planes(2, -50, 50, 9);
    for (bool precise : {false, true}) {
        fake_source src;
        add_comps(src, 2, false, 8);
        add_outputs(src, 2, 8);
        use_planes(src, in);
        fake_block b;
        b.kind = block_kind::dependency;
        b.reversible = false;
        b.in_idx = {0, 1};
        b.out_idx = {0, 1};
        b.active = {0, 1};
        b.dep_rc = {0.5f};
        b.dep_ro = {1.0f, 2.0f};
        src.stages.push_back(one_block_stage(2, 2, b));
        planes out = decode(src, precise);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const double o0 = in.at(0, y, x) + 1.0;
                EXPECT_NEAR(out.at(0, y, x), o0, precise ? 1e-4 : 0.05);
                EXPECT_NEAR(out.at(1, y, x), in.at(1, y, x) + 2.0 + 0.5 * o0, precise ? 1e-4 : 0.1);
            }
    }
}

namespace {

// Whole-sample symmetric mirror of index i into [a, b].
int mirror(int i, int a, int b)
{
    if (a == b)
        return a;
    while (i < a || i > b)
        i = i < a ? 2 * a - i : 2 * b - i;
    return i;
}

// One level of forward 5/3 lifting over canvas indices [a, b), low-pass at even indices.
void forward53(std::map<int, int64_t>& s, int a, int b)
{
    if (b - a == 1) {
        if (a & 1)
            s[a] *= 2;
        return;
    }
    std::map<int, int64_t> x = s;
    for (int i = a; i < b; ++i)
        if (i & 1)
            s[i] = x[i] - floor_shift(x[mirror(i - 1, a, b - 1)] + x[mirror(i + 1, a, b - 1)], 1);
    for (int i = a; i < b; ++i)
        if (!(i & 1))
            s[i] = x[i] + floor_shift(s[mirror(i - 1, a, b - 1)] + s[mirror(i + 1, a, b - 1)] + 2, 2);
}

// One level of forward 9/7 lifting with the standard band scaling: low-pass by 1/K
// (DC gain 1), high-pass by K (Nyquist gain 2).
void forward97(std::map<int, double>& s, int a, int b)
{
    if (b - a == 1) {
        if (a & 1)
            s[a] *= 2;
        return;
    }
    const double alpha = -1.586134342059924, beta = -0.052980118572961, gamma = 0.882911075530934,
                 delta = 0.443506852043971, K = 1.230174104914001;
    const double coef[4] = {alpha, beta, gamma, delta};
    for (int st = 0; st < 4; ++st) {
        const int parity = (st % 2 == 0) ? 1 : 0;
        std::map<int, double> x = s;
        for (int i = a; i < b; ++i)
            if ((i & 1) == parity)
                s[i] = x[i] + coef[st] * (x[mirror(i - 1, a, b - 1)] + x[mirror(i + 1, a, b - 1)]);
    }
    for (int i = a; i < b; ++i)
        s[i] = (i & 1) ? s[i] * K : s[i] / K;
}

// Codestream components of a DWT across components: the coarsest level's low-pass
// elements, then every level's high-pass elements from the coarsest to the finest.
template <class T, class F>
std::vector<T> analyse(const std::vector<T>& x, int origin, int levels, F fwd)
{
    std::map<int, T> s;
    const int n = int(x.size());
    for (int i = 0; i < n; ++i)
        s[origin + i] = x[std::size_t(i)];
    int a = origin, b = origin + n;
    std::vector<std::vector<T>> highs;
    for (int l = 0; l < levels; ++l) {
        fwd(s, a, b);
        std::vector<T> hi;
        std::map<int, T> lo;
        for (int i = a; i < b; ++i) {
            if (i & 1)
                hi.push_back(s[i]);
            else
                lo[i / 2] = s[i];
        }
        highs.push_back(hi);
        s = lo;
        a = (a + 1) / 2;
        b = (b + 1) / 2;
    }
    std::vector<T> out;
    for (int i = a; i < b; ++i)
        out.push_back(s[i]);
    for (int l = levels - 1; l >= 0; --l)
        out.insert(out.end(), highs[std::size_t(l)].begin(), highs[std::size_t(l)].end());
    return out;
}

fake_block dwt_block(int kernel, int n, int origin, int levels)
{
    fake_block b;
    b.kind = block_kind::dwt;
    bool rev = false, sym = false, sym_ext = false;
    int steps = 0;
    rvd_kernel_step_info* info = nullptr;
    float* taps = nullptr;
    rv_create_kernel_description(kernel, 0, nullptr, -1, rev, sym, sym_ext, steps, info, taps);
    std::unique_ptr<rvd_kernel_step_info[]> own_info(info);
    std::unique_ptr<float[]> own_taps(taps);
    b.reversible = rev;
    int total = 0;
    for (int s = 0; s < steps; ++s) {
        b.steps.push_back(info[s]);
        total += info[s].support_length;
    }
    b.taps.assign(taps, taps + total);
    b.levels = levels;
    b.cmin = origin;
    b.clim = origin + n;
    for (int i = 0; i < n; ++i) {
        b.in_idx.push_back(i);
        b.out_idx.push_back(i);
        b.active.push_back(i);
        b.active_in.push_back(i);
    }
    return b;
}

} // namespace

TEST(MultiBlockNetwork, ReversibleWaveletAcrossComponentsIsExact)
{
    // Down to one element, where a lone odd element was doubled and the level below it
    // is empty.
    for (int n : {5, 2, 1})
        for (int levels : {1, 2, 3})
            for (int origin : {0, 1}) {
                planes x = random_planes(n, -100, 100, unsigned(21 + n));
                planes cs(n);
                for (int y = 0; y < H; ++y)
                    for (int xx = 0; xx < W; ++xx) {
                        std::vector<int64_t> v;
                        for (int c = 0; c < n; ++c)
                            v.push_back(int64_t(x.at(c, y, xx)));
                        std::vector<int64_t> sb = analyse(v, origin, levels, forward53);
                        for (int c = 0; c < n; ++c)
                            cs.at(c, y, xx) = double(sb[std::size_t(c)]);
                    }
                for (bool precise : {false, true}) {
                    fake_source src;
                    add_comps(src, n, true, 9);
                    add_outputs(src, n, 8);
                    use_planes(src, cs);
                    src.stages.push_back(one_block_stage(n, n, dwt_block(1, n, origin, levels)));
                    planes out = decode(src, precise);
                    EXPECT_EQ(out.v, x.v) << "n " << n << " levels " << levels << " origin " << origin
                                          << " precise " << precise;
                }
            }
}

TEST(MultiBlockNetwork, IrreversibleWaveletAcrossComponentsWithinTolerance)
{
    const int n = 6;
    planes x = random_planes(n, -100, 100, 23);
    for (int levels : {1, 2})
        for (int origin : {0, 1}) {
            planes cs(n);
            for (int y = 0; y < H; ++y)
                for (int xx = 0; xx < W; ++xx) {
                    std::vector<double> v;
                    for (int c = 0; c < n; ++c)
                        v.push_back(x.at(c, y, xx));
                    std::vector<double> sb = analyse(v, origin, levels, forward97);
                    for (int c = 0; c < n; ++c)
                        cs.at(c, y, xx) = sb[std::size_t(c)];
                }
            for (bool precise : {false, true}) {
                // Subbands rounded to integers of the outputs' scale, on components two
                // bits deeper: the block converts between the depths.
                fake_source src;
                add_comps(src, n, false, 10);
                add_outputs(src, n, 8);
                src.samples = [cs](int c, int y, int xx) mutable {
                    return int(std::lround(cs.v[std::size_t((c * H + y) * W + xx)]));
                };
                src.stages.push_back(one_block_stage(n, n, dwt_block(0, n, origin, levels)));
                planes out = decode(src, precise);
                double peak = 0;
                for (std::size_t i = 0; i < x.v.size(); ++i)
                    peak = std::max(peak, std::fabs(out.v[i] - x.v[i]));
                EXPECT_LT(peak, precise ? 1.5 : 2.5) << "levels " << levels << " origin " << origin;
            }
        }
}
