// The multi-component analysis: rows held for the colour transform, rows past the end,
// whole codestreams through the analysis equal, byte for byte, to the block feeder's
// (reference wavelet and colour transform) for reversible geometries, and the inversions
// of the irreversible blocks.
#include "codec/coding/rv_multi_block_arith.h"
#include "codec/coding/rvd_multi_analysis.h"
#include "codec/core/rvd_tile.h"
#include "tests/codec/support/block_feeder.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/memory_target.h"
#include "tools/encode/image_encoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace codec_test;

namespace {

std::vector<encode_component> random_image(std::mt19937& rng, int comps, int h, int w, int depth,
                                           bool is_signed, std::vector<std::pair<int, int>> sampling = {})
{
    std::vector<encode_component> img(static_cast<size_t>(comps));
    for (int c = 0; c < comps; c++) {
        encode_component& ec = img[size_t(c)];
        ec.dy = sampling.empty() ? 1 : sampling[size_t(c)].first;
        ec.dx = sampling.empty() ? 1 : sampling[size_t(c)].second;
        ec.height = (h + ec.dy - 1) / ec.dy;
        ec.width = (w + ec.dx - 1) / ec.dx;
        ec.depth = depth;
        ec.is_signed = is_signed;
        const int64_t lo = is_signed ? -(int64_t(1) << (depth - 1)) : 0;
        const uint64_t span = uint64_t(1) << depth;
        // Smooth with noise, so that every plane and band carries something.
        ec.samples.resize(size_t(ec.height) * size_t(ec.width));
        for (int y = 0; y < ec.height; y++)
            for (int x = 0; x < ec.width; x++) {
                const uint64_t v = (uint64_t(y * 37 + x * 11 + c * 101) * (span / 256 + 1) + rng() % 64) % span;
                ec.samples[size_t(y) * size_t(ec.width) + size_t(x)] = int32_t(lo + int64_t(v));
            }
    }
    return img;
}

std::vector<uint8_t> through_feeder(const std::vector<encode_component>& img, const encode_settings& s)
{
    memory_target t;
    siz_params siz;
    rvd_codestream cs;
    open_codestream(cs, siz, img, encode_attributes(img, s), &t);
    std::vector<std::vector<int32_t>> samples;
    for (const encode_component& c : img)
        samples.push_back(c.samples);
    feed_blocks(cs, samples);
    int64_t bytes[1] = {0};
    cs.flush(bytes, 1, nullptr, true, false); // as the driver: no layer comment
    cs.destroy();
    return t.bytes;
}

std::vector<uint8_t> through_analysis(const std::vector<encode_component>& img, const encode_settings& s)
{
    memory_target t;
    encode_components(img, s, &t);
    return t.bytes;
}

} // namespace

TEST(MultiAnalysis, WritesTheFeedersStreamForReversibleGeometries)
{
    encode_library_startup();
    struct {
        const char* name;
        int comps, h, w, depth;
        bool is_signed;
        const char* attributes;
        std::vector<std::pair<int, int>> sampling;
    } cases[] = {
        {"grey, no levels", 1, 37, 53, 8, false, "Clevels=0 Cblk={16,16}", {}},
        {"grey, one level", 1, 37, 53, 8, false, "Clevels=1 Cblk={16,16}", {}},
        {"grey, five levels", 1, 61, 47, 8, false, "Clevels=5 Cblk={8,16}", {}},
        {"1 x 33", 1, 1, 33, 8, false, "Clevels=3", {}},
        {"33 x 1", 1, 33, 1, 8, false, "Clevels=3", {}},
        {"signed 10 bits", 1, 40, 40, 10, true, "Clevels=2 Cblk={32,32}", {}},
        {"16 bits", 1, 40, 36, 16, false, "Clevels=3 Cblk={16,16}", {}},
        {"RGB", 3, 61, 47, 8, false, "Clevels=2 Cblk={16,16}", {}},
        {"RGB 12 bits, tiles", 3, 70, 90, 12, false, "Clevels=3 Stiles={32,40} Cblk={16,16}", {}},
        {"origins", 3, 50, 45, 8, false,
         "Clevels=4 Sorigin={3,5} Stiles={20,24} Stile_origin={1,2} Cblk={8,8}", {}},
        {"4 components, no colour", 4, 30, 30, 8, false, "Clevels=2 Cycc=no Cblk={16,16}", {}},
        {"sub-sampled", 3, 41, 39, 8, false, "Clevels=2 Cblk={16,16}", {{1, 1}, {2, 2}, {1, 2}}},
        {"layers and modes", 1, 64, 64, 8, false, "Clevels=3 Clayers=3 Cmodes=BYPASS|RESET|CAUSAL Cblk={16,16}", {}},
    };
    std::mt19937 rng(52);
    for (const auto& c : cases) {
        const auto img = random_image(rng, c.comps, c.h, c.w, c.depth, c.is_signed, c.sampling);
        for (int precise = 0; precise < 2; precise++) {
            SCOPED_TRACE(testing::Message() << c.name << (precise ? ", 32-bit lines" : ", 16-bit lines"));
            encode_settings s;
            std::istringstream in(c.attributes);
            for (std::string a; in >> a;)
                s.attributes.push_back(a);
            s.precise = precise != 0;
            const auto expected = through_feeder(img, s);
            const auto got = through_analysis(img, s);
            EXPECT_GT(expected.size(), 40u);
            EXPECT_TRUE(expected == got) << expected.size() << " bytes expected, " << got.size() << " written";
        }
    }
}

// With the colour transform, a row of component 0 waits for components 1 and 2; a row
// past the component's height is refused without effect.
TEST(MultiAnalysis, ColourRowsWaitAndRowsEnd)
{
    encode_library_startup();
    std::mt19937 rng(53);
    const auto img = random_image(rng, 3, 2, 8, 8, false);
    encode_settings s;
    s.attributes = {"Clevels=0"};
    memory_target t;
    siz_params siz;
    rvd_codestream cs;
    open_codestream(cs, siz, img, encode_attributes(img, s), &t);
    rvd_tile tile = cs.open_tile(rvd_coords(0, 0));
    rvd_multi_analysis a;
    a.create(cs, tile);
    auto fill = [](rvd_line_buf* l) {
        for (int x = 0; x < l->get_width(); x++)
            l->get_buf16()[x] = int16_t(x);
    };
    rvd_line_buf* l0 = a.exchange_line(0, false);
    ASSERT_NE(nullptr, l0);
    fill(l0);
    EXPECT_EQ(nullptr, a.exchange_line(0, true)); // held for the colour transform
    EXPECT_EQ(nullptr, a.exchange_line(0, false));
    for (int c = 1; c < 3; c++) {
        rvd_line_buf* l = a.exchange_line(c, false);
        ASSERT_NE(nullptr, l);
        fill(l);
        // Component 1 waits too; component 2 completes the row, which goes through.
        EXPECT_EQ(c == 2, a.exchange_line(c, true) != nullptr) << c;
    }
    EXPECT_NE(nullptr, a.exchange_line(0, false)); // row 0 went through
    for (int c = 0; c < 3; c++) {
        fill(a.exchange_line(c, false));
        EXPECT_EQ(nullptr, a.exchange_line(c, true)); // component's last row given
        EXPECT_EQ(nullptr, a.exchange_line(c, true)); // nothing beyond it
    }
    EXPECT_EQ(nullptr, a.exchange_line(3, false));
    a.destroy();
    tile.close();
    int64_t bytes[1] = {0};
    cs.flush(bytes, 1);
    cs.destroy();
    EXPECT_GT(t.bytes.size(), 20u);
}

namespace {

// A line of `width` samples of either size, with its view.
struct test_line {
    std::vector<float> f;
    std::vector<int16_t> s;
    rv_line_samples view;
    test_line(int width, bool precise, int depth)
    {
        view.width = width;
        view.precise = precise;
        view.bit_depth = depth;
        if (precise) {
            f.assign(size_t(width), 0.0f);
            view.buf = f.data();
        } else {
            s.assign(size_t(width), 0);
            view.buf = s.data();
        }
    }
    double at(int x) const { return view.precise ? double(f[size_t(x)]) : s[size_t(x)] / 8192.0; }
    void set(int x, double v)
    {
        if (view.precise)
            f[size_t(x)] = float(v);
        else
            s[size_t(x)] = int16_t(std::lround(v * 8192.0));
    }
};

std::vector<const rv_line_samples*> views(const std::vector<test_line>& lines)
{
    std::vector<const rv_line_samples*> out;
    for (const test_line& l : lines)
        out.push_back(&l.view);
    return out;
}

std::vector<rv_line_samples> values(const std::vector<test_line>& lines)
{
    std::vector<rv_line_samples> out;
    for (const test_line& l : lines)
        out.push_back(l.view);
    return out;
}

} // namespace

// The irreversible blocks' inversions for compression, on normalised lines: the least-
// squares inverse of a matrix block takes its outputs back to its inputs (refusing near
// singular normal equations), the dependency block's removal of its predictions undoes
// their addition (exactly on 16-bit lines), and unloading a wavelet subband undoes its
// loading.
TEST(MultiAnalysis, IrreversibleBlocksInvertTheirSynthesis)
{
    struct {
        const char* name;
        int outs, ins;
        std::vector<float> m; // outputs x inputs
        bool invertible;
    } matrices[] = {
        {"colour 3 x 3", 3, 3, {1, 0, 1.402f, 1, -0.344136f, -0.714136f, 1, 1.772f, 0}, true},
        {"4 from 3", 4, 3, {1, 0, 0, 0, 1, 0, 0, 0, 1, 0.5f, 0.5f, 0}, true},
        {"6 from 2, scaled", 6, 2, {3, 1, -2, 0.5f, 0.25f, 4, 1, 1, -1, 2, 0.1f, 0.3f}, true},
        {"repeated row", 3, 3, {1, 1, 0, 1, 1, 0, 0, 0, 1}, false},
        {"dependent columns", 4, 2, {1, 2, 2, 4, -1, -2, 0.5f, 1}, false},
    };
    std::mt19937 rng(71);
    std::uniform_real_distribution<double> u(-0.45, 0.45);
    const int width = 37;
    for (const auto& c : matrices)
        for (bool precise : {true, false}) {
            SCOPED_TRACE(testing::Message() << c.name << (precise ? ", 32-bit" : ", 16-bit"));
            rv_matrix_arith a, inv;
            a.num_inputs = c.ins;
            a.num_outputs = c.outs;
            a.coefficients = c.m;
            std::vector<int> rows, cols;
            for (int j = 0; j < c.outs; j++)
                rows.push_back(j);
            for (int i = 0; i < c.ins; i++)
                cols.push_back(i);
            ASSERT_EQ(c.invertible, a.least_squares_inverse(rows, cols, inv));
            if (!c.invertible)
                continue;
            // Inputs small enough that every output stays within the 16-bit range.
            std::vector<test_line> x, y, back;
            for (int i = 0; i < c.ins; i++) {
                x.emplace_back(width, precise, 8);
                back.emplace_back(width, precise, 8);
                for (int k = 0; k < width; k++)
                    x.back().set(k, u(rng) / 8);
            }
            for (int j = 0; j < c.outs; j++)
                y.emplace_back(width, precise, 8);
            std::vector<float> zero(size_t(std::max(c.ins, c.outs)), 0.0f);
            a.synthesize(views(x).data(), values(y).data(), zero.data());
            inv.synthesize(views(y).data(), values(back).data(), zero.data());
            double worst = 0;
            for (int i = 0; i < c.ins; i++)
                for (int k = 0; k < width; k++)
                    worst = std::max(worst, std::fabs(back[size_t(i)].at(k) - x[size_t(i)].at(k)));
            // 16-bit lines: the outputs' rounding grows through the inverse's gain.
            EXPECT_LE(worst, precise ? 1e-5 : 4.0 / 8192) << worst * 8192 << " steps of 1/8192";
        }

    for (bool precise : {true, false}) {
        SCOPED_TRACE(precise ? "dependency, 32-bit" : "dependency, 16-bit");
        rv_dependency_arith d;
        d.n = 4;
        d.reversible = false;
        d.real_coefficients = {0, 0, 0, 0, 0.5f, 0, 0, 0, -0.25f, 0.75f, 0, 0, 0.1f, -0.6f, 0.3f, 0};
        d.real_offsets = {0.01f, -0.02f, 0.03f, 0};
        std::vector<test_line> in, lines;
        for (int r = 0; r < 4; r++) {
            in.emplace_back(width, precise, 8);
            lines.emplace_back(width, precise, 8);
            for (int k = 0; k < width; k++)
                lines.back().set(k, u(rng) / 2);
        }
        const std::vector<test_line> original = lines; // read through at() and s only
        d.analyze(values(lines).data(), views(in).data());
        d.synthesize(views(in).data(), values(lines).data());
        for (int r = 0; r < 4; r++)
            for (int k = 0; k < width; k++) {
                if (precise)
                    EXPECT_NEAR(lines[size_t(r)].at(k), original[size_t(r)].at(k), 1e-6) << r;
                else
                    EXPECT_EQ(lines[size_t(r)].s[size_t(k)], original[size_t(r)].s[size_t(k)]) << r;
            }
    }

    struct {
        float gain;
        int work_depth, src_depth;
    } loads[] = {{1.0f, 8, 8}, {0.5f, 8, 9}, {1.2301741f, 12, 12}, {0.8128931f, 12, 13}, {5.5f, 8, 9}};
    for (const auto& l : loads)
        for (bool precise : {true, false}) {
            SCOPED_TRACE(testing::Message() << "gain " << l.gain << (precise ? ", 32-bit" : ", 16-bit"));
            test_line work(width, precise, l.work_depth), src(width, precise, l.src_depth),
                again(width, precise, l.work_depth);
            for (int k = 0; k < width; k++)
                work.set(k, u(rng) / 8);
            rv_dwt_unload(work.view, src.view, false, l.gain);
            rv_dwt_load(again.view, &src.view, false, l.gain);
            // 16-bit: the subband's rounding, magnified by the load's factor, plus the load's.
            const double factor = l.gain * std::ldexp(1.0, l.src_depth - l.work_depth);
            const double bound = precise ? 1e-6 : (0.5 * factor + 1.0) / 8192;
            for (int k = 0; k < width; k++)
                EXPECT_NEAR(again.at(k), work.at(k), bound) << k;
        }
}
