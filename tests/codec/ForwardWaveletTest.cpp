// The forward wavelet engine, judged by what undoes it and by a textbook transform: its
// bands, fed back through the inverse engine, rebuild the image exactly (reversible
// kernels) or within a sample step (9/7 at 8 bits); 5/3 bands equal those of
// reference_dwt.h and 9/7 bands equal them up to one factor per band. Row buffers, row
// order and the empty queues at the end are checked on the way.
#include "codec/core/rvd_kernels.h"
#include "codec/encode/rv_analysis_lifting_sse2.h"
#include "codec/encode/rvd_analysis.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/processor_form.h"
#include "tests/codec/support/reference_dwt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace reference_dwt;

struct kernel_case {
    const char* name;
    int kernel_id; // 0 W9X7, 1 W5X3, -1 explicit steps
    bool reversible;
    std::vector<rvd_kernel_step_info> steps;
    std::vector<float> taps; // step after step
    bool symmetric_extension = true;
};

rv_synthesis_direction direction_of(const kernel_case& k)
{
    rvd_kernels kern;
    if (k.kernel_id >= 0)
        kern.init(k.kernel_id, k.reversible);
    else
        kern.init(int(k.steps.size()), k.steps.data(), k.taps.data(), false,
                  k.symmetric_extension, k.reversible);
    rv_synthesis_direction d;
    d.num_steps = kern.get_num_steps();
    for (int s = 0; s < d.num_steps; s++) {
        d.steps.push_back(kern.get_steps()[s]);
        for (int t = 0; t < kern.get_steps()[s].support_length; t++)
            d.coefficients.push_back(kern.get_coefficients()[t * d.num_steps + s]);
    }
    d.low_gain = kern.get_low_scale();
    d.high_gain = kern.get_high_scale();
    d.symmetric_extension = kern.is_symmetric_extension();
    if (!k.reversible) {
        double lo = 0, hi = 0;
        const double* g = kern.get_bibo_gains(0, 0, nullptr, lo, hi);
        d.bibo_gains.push_back(1.0);
        for (int s = 0; s < d.num_steps; s++)
            d.bibo_gains.push_back(g[s]);
    }
    return d;
}

rvd_kernel_step_info step(int length, int min, int downshift = 0, int offset = 0)
{
    rvd_kernel_step_info s;
    s.support_length = length;
    s.support_min = min;
    s.downshift = downshift;
    s.rounding_offset = offset;
    return s;
}

const kernel_case w53{"5/3", 1, true, {}, {}};
const kernel_case w97{"9/7", 0, false, {}, {}};
// Integer Haar: one-sided supports.
const kernel_case haar{"ATK Haar", -1, true, {step(1, 0, 0, 0), step(1, 0, 1, 1)}, {-1.0f, 0.5f}};
// Six reversible steps of uneven reach, the last ones reaching far below the target.
const kernel_case six{"ATK 6 steps",
                      -1,
                      true,
                      {step(2, 0, 1, 1), step(2, -1, 2, 2), step(3, -1, 3, 4), step(1, 0, 1, 1),
                       step(2, -1, 2, 2), step(4, -1, 3, 4)},
                      {-0.5f, -0.5f, 0.25f, 0.25f, -0.125f, 0.25f, -0.125f, 0.5f, 0.25f, -0.5f,
                       0.125f, 0.25f, 0.375f, -0.125f}};
const kernel_case six_const{"ATK 6 steps, constant extension", -1, true, six.steps, six.taps,
                            false};
// Taps of +1 and -1 with shifts from 0 to 14 and offsets of either sign and beyond 16
// bits, as the vector forms take them.
const kernel_case unit{"ATK unit taps",
                       -1,
                       true,
                       {step(2, 0, 3, -5), step(2, -1, 0, 7), step(2, 0, 14, 40000), step(2, -1, 2, -3)},
                       {-0.125f, -0.125f, 1.0f, 1.0f, 1.0f / 16384, 1.0f / 16384, -0.25f, -0.25f}};
const kernel_case irr{"ATK irreversible",
                      -1,
                      false,
                      {step(2, 0), step(2, -1), step(1, 0), step(3, -1)},
                      {-1.5f, -0.1f, -0.05f, -0.06f, 0.8f, 0.1f, 0.3f, 0.05f}};

struct split {
    bool h, v;
};

struct mode {
    const kernel_case* k;
    bool shorts;
    bool transposed = false;
};

rv_synthesis_shape shape_for(const rvd_dims& d, split s, const mode& m,
                             const rv_synthesis_direction& dir)
{
    rv_synthesis_shape shape;
    shape.region = d;
    shape.reversible = m.k->reversible;
    shape.kernel_id = m.k->kernel_id;
    shape.horz = shape.vert = dir;
    shape.vertical_first = m.transposed;
    for (int c = 0; c < 4; c++) {
        const bool hx = (c & 1) != 0, hy = (c & 2) != 0;
        shape.child_exists[c] = !(hx && !s.h) && !(hy && !s.v);
        if (!shape.child_exists[c])
            continue;
        rvd_dims& cd = shape.child_dims[c];
        cd = d;
        if (s.v)
            child_range(d.pos.y, d.size.y, hy, cd.pos.y, cd.size.y);
        if (s.h)
            child_range(d.pos.x, d.size.x, hx, cd.pos.x, cd.size.x);
    }
    return shape;
}

// A band's rows as pushed, and the normalisation they were pushed at.
struct band_record {
    rvd_dims dims;
    float norm = 1.0f;
    std::vector<double> v; // raw line values, row after row
    int rows = 0;
};

class recorder : public rvd_push_ifc_base {
public:
    recorder(band_record& rec, std::vector<int>* log, int idx) : rec(rec), log(log), idx(idx) {}
    void push(rvd_line_buf& line, rvd_thread_env*) override
    {
        ASSERT_LT(rec.rows, rec.dims.size.y);
        ASSERT_EQ(line.get_width(), rec.dims.size.x);
        for (int j = 0; j < rec.dims.size.x; j++)
            rec.v.push_back(line.is_shorts() ? line.get_buf16()[j]
                            : reversible()   ? line.get_buf32()[j].ival
                                             : line.get_buf32()[j].fval);
        rec.rows++;
        if (log != nullptr)
            log->push_back(idx);
    }
    bool is_reversible = false;

private:
    bool reversible() const { return is_reversible; }
    band_record& rec;
    std::vector<int>* log;
    int idx;
};

// Plays a recorded band back to the inverse engine at the normalisation it asks for.
class replay : public rvd_pull_ifc_base {
public:
    replay(const band_record& rec, double ratio, bool reversible)
        : rec(rec), ratio(ratio), reversible(reversible)
    {
    }
    void start(rvd_thread_env*) override {}
    void pull(rvd_line_buf& line, rvd_thread_env*) override
    {
        ASSERT_LT(next, rec.rows);
        const double* row = rec.v.data() + size_t(next++) * size_t(rec.dims.size.x);
        for (int j = 0; j < rec.dims.size.x; j++) {
            if (line.is_shorts())
                line.get_buf16()[j] = std::int16_t(reversible ? row[j] : std::lround(row[j] * ratio));
            else if (reversible)
                line.get_buf32()[j].ival = std::int32_t(row[j]);
            else
                line.get_buf32()[j].fval = float(row[j] * ratio);
        }
    }

private:
    const band_record& rec;
    double ratio;
    bool reversible;
    int next = 0;
};

// Leaf bands keyed by level and band index.
typedef std::map<std::pair<int, int>, band_record> band_map;

struct analysis_tree {
    mode m;
    rv_synthesis_direction dir;
    std::vector<split> splits;
    rvd_sample_allocator* alloc = nullptr;
    band_map bands;
    std::vector<rv_analysis*> nodes;
    std::vector<int>* log = nullptr;

    rvd_push_ifc_base* build(const rvd_dims& region, size_t level, float norm)
    {
        rv_synthesis_shape shape = shape_for(region, splits[level], m, dir);
        auto maker = [this, shape, level](int c, float n, rvd_roi_node*) -> rvd_push_ifc_base* {
            if (c == 0 && level + 1 < splits.size())
                return build(shape.child_dims[0], level + 1, n);
            band_record& rec = bands[{int(level), c}];
            rec.dims = shape.child_dims[c];
            rec.norm = n;
            auto* r = new recorder(rec, log, c);
            r->is_reversible = m.k->reversible;
            return r;
        };
        auto* node = new rv_analysis(shape, maker, alloc, m.shorts, norm, nullptr);
        nodes.push_back(node);
        return node;
    }
};

struct synthesis_tree {
    mode m;
    rv_synthesis_direction dir;
    std::vector<split> splits;
    rvd_sample_allocator* alloc = nullptr;
    const band_map* bands = nullptr;

    rvd_pull_ifc_base* build(const rvd_dims& region, size_t level, float norm)
    {
        rv_synthesis_shape shape = shape_for(region, splits[level], m, dir);
        auto maker = [this, shape, level](int c, float n) -> rvd_pull_ifc_base* {
            if (c == 0 && level + 1 < splits.size())
                return build(shape.child_dims[0], level + 1, n);
            const band_record& rec = bands->at({int(level), c});
            return new replay(rec, double(n) / double(rec.norm), m.k->reversible);
        };
        return new rv_synthesis(shape, maker, alloc, m.shorts, norm, 0);
    }
};

struct outcome {
    double peak = 0.0; // largest error in sample steps
    band_map bands;
};

// Pushes a random image of `bits` bits through the analysis, checks the engines' row
// buffers and queues, and rebuilds the image through the synthesis.
outcome round_trip(mode m, const rvd_dims& image, const std::vector<split>& splits, int bits,
                   unsigned seed, plane* source = nullptr)
{
    rv_init_w97_consts();
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dist(-(1 << (bits - 1)), (1 << (bits - 1)) - 1);
    plane img(image);
    const double unit = m.k->reversible ? 1.0 : std::ldexp(1.0, -bits);
    for (double& v : img.v)
        v = dist(rng) * unit;
    if (source != nullptr)
        *source = img;
    const rv_synthesis_direction dir = direction_of(*m.k);
    rvd_sample_allocator alloc;
    analysis_tree at{m, dir, splits, &alloc, {}, {}, nullptr};
    synthesis_tree st{m, dir, splits, &alloc, nullptr};
    rvd_push_ifc top(at.build(image, 0, 1.0f));
    rvd_line_buf line;
    line.pre_create(&alloc, image.size.x, m.k->reversible, m.shorts, 0, 0);
    alloc.finalize();
    line.create();
    for (int y = image.pos.y; y < image.pos.y + image.size.y; y++) {
        for (int j = 0; j < image.size.x; j++) {
            const double v = img.at(y, image.pos.x + j);
            if (m.shorts)
                line.get_buf16()[j] = std::int16_t(m.k->reversible ? v : std::lround(v * 8192.0));
            else if (m.k->reversible)
                line.get_buf32()[j].ival = std::int32_t(v);
            else
                line.get_buf32()[j].fval = float(v);
        }
        top.push(line, nullptr);
    }
    for (rv_analysis* n : at.nodes) {
        EXPECT_TRUE(n->is_drained());
        EXPECT_EQ(n->get_num_row_buffers(), n->get_peak_rows_in_use());
    }
    outcome out;
    out.bands = at.bands;

    rvd_sample_allocator salloc;
    st.alloc = &salloc;
    st.bands = &out.bands;
    rvd_pull_ifc back(st.build(image, 0, 1.0f));
    rvd_line_buf got;
    got.pre_create(&salloc, image.size.x, m.k->reversible, m.shorts, 0, 0);
    salloc.finalize();
    got.create();
    back.start(nullptr);
    for (int y = image.pos.y; y < image.pos.y + image.size.y; y++) {
        back.pull(got, nullptr);
        for (int j = 0; j < image.size.x; j++) {
            const double want = img.at(y, image.pos.x + j);
            double v;
            if (m.k->reversible)
                v = m.shorts ? got.get_buf16()[j] : got.get_buf32()[j].ival;
            else
                v = m.shorts ? got.get_buf16()[j] / 8192.0 : got.get_buf32()[j].fval;
            out.peak = std::max(out.peak, std::fabs(v - want) / unit);
        }
    }
    return out;
}

std::string describe(const mode& m, const rvd_dims& d, const std::vector<split>& s)
{
    std::string t = std::string(m.k->name) + (m.shorts ? " 16-bit" : " 32-bit") +
                    (m.transposed ? " transposed " : " ") + std::to_string(d.size.y) + "x" +
                    std::to_string(d.size.x) + " at " + std::to_string(d.pos.y) + "," +
                    std::to_string(d.pos.x) + " splits ";
    for (const split& x : s)
        t += x.h && x.v ? "B" : x.h ? "H" : "V";
    return t;
}

TEST(ForwardWavelet, InverseEngineRebuildsTheImage)
{
    codec_test::processor_form_guard guard(rvd_mmx_level);
    struct row {
        mode m;
        int bits;
        double tolerance; // sample steps; 0: exact
    };
    // Kernels of uneven reach also go through the vertical stage, where rows mirrored
    // back at the bottom edge are read by rows below those already delivered.
    const row table[] = {
        {{&w53, false}, 20, 0.0},       {{&w53, true}, 12, 0.0},  {{&w53, false, true}, 16, 0.0},
        {{&w53, true, true}, 12, 0.0},  {{&w97, false}, 8, 1.0},  {{&w97, true}, 8, 1.0},
        {{&w97, true, true}, 8, 1.0},   {{&six, false}, 12, 0.0}, {{&six_const, false}, 12, 0.0},
        {{&haar, false}, 16, 0.0},      {{&irr, false}, 8, 0.01},
    };
    std::mt19937 rng(2026);
    for (const row& r : table)
        for (int level : {0, 2}) {
            rvd_mmx_level = level;
            for (int trial = 0; trial < 14; trial++) {
                std::uniform_int_distribution<int> size(1, 67);
                rvd_dims d(rvd_coords(trial & 1, (trial >> 1) & 1), rvd_coords(size(rng), size(rng)));
                if (trial == 0)
                    d.size = rvd_coords(1, 1);
                std::vector<split> s;
                const int levels = 1 + int(rng() % 5);
                for (int l = 0; l < levels; l++) {
                    const int kind = int(rng() % 3);
                    s.push_back({kind != 2, kind != 1});
                }
                SCOPED_TRACE(describe(r.m, d, s) + " processor level " + std::to_string(level));
                outcome o = round_trip(r.m, d, s, r.bits, unsigned(trial * 7 + level));
                if (r.tolerance == 0.0)
                    EXPECT_EQ(o.peak, 0.0);
                else
                    EXPECT_LE(o.peak, r.tolerance);
            }
        }
}

// The reference's bands of one level: the textbook 5/3 and 9/7, or the kernel's own
// lifting steps.
bands reference_level(const kernel_case& k, const plane& img, split s, bool rows_first)
{
    if (k.kernel_id >= 0)
        return analyse2d(img, s.h, s.v, k.reversible, rows_first);
    std::vector<lifting_step> steps;
    size_t at = 0;
    for (const rvd_kernel_step_info& i : k.steps) {
        steps.push_back({i.support_length, i.support_min, i.downshift, i.rounding_offset,
                         std::vector<double>(k.taps.begin() + long(at),
                                             k.taps.begin() + long(at) + i.support_length)});
        at += size_t(i.support_length);
    }
    return analyse2d_with(img, s.h, s.v, rows_first, [&](std::vector<double>& x, int a, int b) {
        analyse_steps(x, a, b, k.reversible, steps, k.symmetric_extension);
    });
}

TEST(ForwardWavelet, BandsMatchTheTextbookTransform)
{
    // Reversible bands equal; irreversible ones (32-bit floats) equal up to one factor
    // per band, the kernel's normalising gains.
    const mode modes[] = {{&w53, false}, {&w53, true},  {&w53, false, true}, {&w97, false},
                          {&haar, false}, {&six, false}, {&six_const, false}, {&six, false, true},
                          {&haar, false, true}, {&irr, false}, {&irr, false, true}};
    const rvd_dims sizes[] = {rvd_dims(rvd_coords(0, 0), rvd_coords(47, 61)),
                              rvd_dims(rvd_coords(1, 1), rvd_coords(29, 38)),
                              rvd_dims(rvd_coords(1, 0), rvd_coords(1, 33)),
                              rvd_dims(rvd_coords(0, 1), rvd_coords(33, 1)),
                              rvd_dims(rvd_coords(1, 1), rvd_coords(2, 3)),
                              rvd_dims(rvd_coords(1, 0), rvd_coords(6, 5))};
    const std::vector<split> patterns[] = {
        {{true, true}, {true, true}, {true, true}},
        {{true, false}, {false, true}, {true, true}, {true, false}}};
    for (const mode& m : modes)
        for (const rvd_dims& d : sizes)
            for (const std::vector<split>& s : patterns) {
                SCOPED_TRACE(describe(m, d, s));
                plane img;
                outcome o = round_trip(m, d, s, 10, 5, &img);
                plane ll = img;
                int compared = 0;
                for (size_t level = 0; level < s.size(); level++) {
                    bands ref = reference_level(*m.k, ll, s[level], m.transposed);
                    for (int c = 0; c < 4; c++) {
                        auto it = o.bands.find({int(level), c});
                        if (it == o.bands.end())
                            continue;
                        const band_record& b = it->second;
                        ASSERT_EQ(b.dims, ref.b[c].dims) << "band " << c;
                        double num = 0, den = 0, big = 0;
                        for (size_t i = 0; i < b.v.size(); i++) {
                            num += b.v[i] * ref.b[c].v[i];
                            den += ref.b[c].v[i] * ref.b[c].v[i];
                            big = std::max(big, std::fabs(b.v[i]));
                        }
                        const double f = m.k->reversible || den == 0 ? 1.0 : num / den;
                        for (size_t i = 0; i < b.v.size(); i++, compared++) {
                            if (m.k->reversible)
                                ASSERT_EQ(b.v[i], ref.b[c].v[i]) << "level " << level << " band " << c << " at " << i;
                            else
                                ASSERT_NEAR(b.v[i], f * ref.b[c].v[i], 1e-4 * big + 1e-9)
                                    << "level " << level << " band " << c << " at " << i;
                        }
                    }
                    ll = ref.b[0];
                }
                EXPECT_EQ(compared, d.size.x * d.size.y);
            }
}

TEST(ForwardWavelet, VectorFormsGiveThePlainBands)
{
    // Every band at processor level 2 (vector lifting and line splits) equals the plain
    // routines' band bit for bit. 16-bit 9/7 takes its own fixed-point form from level 1
    // on, whose plain loop is the reference there. Full-range samples make the integer
    // steps wrap.
    struct row {
        mode m;
        int bits;
        int plain_level;
    };
    const row table[] = {
        {{&w53, true}, 16, 0},  {{&w53, false}, 31, 0},  {{&w53, true, true}, 16, 0},
        {{&w97, true}, 12, 1},  {{&w97, false}, 12, 0},  {{&w97, true, true}, 12, 1},
        {{&irr, false}, 12, 0}, {{&unit, true}, 16, 0},  {{&unit, false}, 31, 0},
        {{&haar, true}, 16, 0}, {{&six, true}, 16, 0},
    };
    const std::vector<split> patterns[] = {{{true, true}, {true, true}},
                                           {{true, false}, {false, true}, {true, true}}};
    codec_test::processor_form_guard guard(rvd_mmx_level);
    for (const row& r : table)
        for (int width = 1; width <= 67; width++)
            for (int offset = 0; offset < 2; offset++) {
                const rvd_dims d(rvd_coords(offset ^ (width & 1), offset),
                                 rvd_coords(1 + (width * 7) % 13, width));
                const std::vector<split>& s = patterns[(width + offset) & 1];
                SCOPED_TRACE(describe(r.m, d, s));
                rvd_mmx_level = r.plain_level;
                const outcome plain = round_trip(r.m, d, s, r.bits, unsigned(width));
                rvd_mmx_level = 2;
                const outcome vec = round_trip(r.m, d, s, r.bits, unsigned(width));
                ASSERT_EQ(plain.bands.size(), vec.bands.size());
                for (const auto& b : plain.bands)
                    ASSERT_EQ(b.second.v, vec.bands.at(b.first).v)
                        << "level " << b.first.first << " band " << b.first.second;
            }
}

TEST(ForwardWavelet, VectorStepsMatchThePlainSteps)
{
    // Single steps over every run length up to 67, from index 0 and 1, in place and into
    // another line, on samples that reach the ends of their range; the synthesis's step
    // takes integer results back to the input.
    rv_init_w97_consts();
    struct row {
        const char* name;
        int kernel_id;
        bool reversible;
        int step_idx;
        float tap; // both taps; the second is `tap2` when set
        int shift, offset;
        float tap2 = 0.0f;
    };
    const row table[] = {
        {"W9X7 step 0", 0, false, 0, -1.586134342f, 0, 0},
        {"W9X7 step 1", 0, false, 1, -0.052980118f, 0, 0},
        {"W9X7 step 2", 0, false, 2, 0.882911075f, 0, 0},
        {"W9X7 step 3", 0, false, 3, 0.443506852f, 0, 0},
        {"+1, shift 0", -1, true, 0, 1.0f, 0, 0},
        {"-1/2 as 5/3", 1, true, 0, -0.5f, 1, 1},
        {"+1/4 as 5/3", 1, true, 1, 0.25f, 2, 2},
        {"-1, shift 5, negative offset", -1, true, 1, -1.0f / 32, 5, -70000},
        {"+1, shift 14, large offset", -1, true, 0, 1.0f / 16384, 14, INT_MAX},
        {"-1, shift 15 (plain only on 16 bits)", -1, true, 0, -1.0f / 32768, 15, 3},
        {"+1, shift 30", -1, true, 0, 1.0f / (1 << 30), 30, INT_MIN},
        {"-1, shift 31 (plain only)", -1, true, 0, -1.0f / 2147483648.0f, 31, 0},
        {"+2 (plain only)", -1, true, 0, 2.0f, 0, 0},
        {"irreversible, unequal taps", -1, false, 0, 0.3f, 0, 0, -0.45f},
        {"irreversible, tiny taps", -1, false, 1, 1e-30f, 0, 0},
    };
    std::mt19937 rng(51);
    codec_test::processor_form_guard guard(rvd_mmx_level);
    for (const row& r : table) {
        rv_lifting_step st;
        const float taps[2] = {r.tap, r.tap2 != 0.0f ? r.tap2 : r.tap};
        st.init(r.step_idx, step(2, 0, r.shift, r.offset), taps, r.reversible, r.kernel_id);
        for (int count = 0; count <= 67; count++)
            for (int first = 0; first < 2; first++)
                for (bool in_place : {false, true}) {
                    SCOPED_TRACE(std::string(r.name) + " count " + std::to_string(count) +
                                 " first " + std::to_string(first) + (in_place ? " in place" : ""));
                    const int n = first + count;
                    // 16-bit lines
                    std::vector<std::int16_t> a(size_t(n) + 1), b(a), in(a), out[2];
                    for (auto* v : {&a, &b, &in})
                        for (auto& x : *v)
                            x = std::int16_t(rng() % 4 == 0 ? (rng() & 1 ? 32767 : -32768) : int(rng()));
                    const std::int16_t* src16[2] = {a.data(), b.data()};
                    for (int k = 0; k < 2; k++) {
                        rvd_mmx_level = k == 0 ? (r.kernel_id == 0 ? 1 : 0) : 2;
                        out[k] = in;
                        perform_analysis_lifting_step_16(st, src16, in_place ? out[k].data() : in.data(),
                                                         out[k].data(), count, first);
                    }
                    EXPECT_EQ(out[0], out[1]) << "16-bit";
                    // The synthesis's step undoes it exactly: the same form, W9X7 step 1
                    // included, at the same level.
                    const std::int16_t* back16[2] = {a.data() + first, b.data() + first};
                    rv_lift_shorts(st, out[1].data() + first, back16, count);
                    EXPECT_EQ(out[1], in) << "16-bit, undone";
                    // 32-bit lines: integers, or floats of every magnitude
                    std::vector<rvd_sample32> a32(size_t(n) + 1), b32(a32), in32(a32), out32[2];
                    for (auto* v : {&a32, &b32, &in32})
                        for (rvd_sample32& x : *v) {
                            if (r.reversible)
                                x.ival = rng() % 4 == 0 ? (rng() & 1 ? INT_MAX : INT_MIN) : std::int32_t(rng());
                            else
                                x.fval = std::ldexp(float(std::int32_t(rng())), int(rng() % 40) - 50);
                        }
                    const rvd_sample32* src32[2] = {a32.data(), b32.data()};
                    for (int k = 0; k < 2; k++) {
                        rvd_mmx_level = k == 0 ? 0 : 2;
                        out32[k] = in32;
                        perform_analysis_lifting_step_32(st, src32, in_place ? out32[k].data() : in32.data(),
                                                         out32[k].data(), count, first);
                    }
                    EXPECT_EQ(std::memcmp(out32[0].data(), out32[1].data(), out32[0].size() * 4), 0)
                        << "32-bit";
                    if (r.reversible) {
                        const std::int32_t* back32[2] = {&a32[size_t(first)].ival, &b32[size_t(first)].ival};
                        rv_lift_ints(st, &out32[1][size_t(first)].ival, back32, count);
                        EXPECT_EQ(std::memcmp(out32[1].data(), in32.data(), in32.size() * 4), 0)
                            << "32-bit, undone";
                    }
                }
    }
}

TEST(ForwardWavelet, VectorSplitSeparatesColumnsWithRounding)
{
    // Even columns to the low half, odd ones to the high half, 16-bit samples shifted down
    // by 0 to 15 with rounding in 32 bits (so 32767 rounds up without wrapping).
    codec_test::processor_form_guard guard(2);
    std::mt19937 rng(7);
    for (int shift = 0; shift <= 15; shift++)
        for (int n = 1; n <= 40; n++)
            for (int x0 = 0; x0 < 2; x0++) {
                SCOPED_TRACE("shift " + std::to_string(shift) + " samples " + std::to_string(n) +
                             " from column " + std::to_string(x0));
                std::vector<std::int16_t> in(static_cast<size_t>(n));
                std::vector<std::int32_t> in32(static_cast<size_t>(n));
                for (int k = 0; k < n; k++) {
                    in[size_t(k)] = std::int16_t(k % 5 == 0 ? 32767 : k % 7 == 0 ? -32768 : int(rng()));
                    in32[size_t(k)] = std::int32_t(rng());
                }
                std::vector<std::int16_t> want[2], got[2];
                std::vector<std::int32_t> want32[2], got32[2];
                for (int k = 0; k < n; k++) {
                    const int parity = (x0 + k) & 1;
                    const std::int32_t v = in[size_t(k)];
                    want[parity].push_back(std::int16_t(shift ? (v + (1 << (shift - 1))) >> shift : v));
                    want32[parity].push_back(in32[size_t(k)]);
                }
                for (int h = 0; h < 2; h++) {
                    got[h].assign(want[h].size() + 1, 0);
                    got32[h].assign(want32[h].size() + 1, 0);
                }
                ASSERT_TRUE(rv_split_line16_sse2(in.data(), n, x0, got[0].data(), got[1].data(), shift));
                ASSERT_TRUE(rv_split_line32_sse2(in32.data(), n, x0, got32[0].data(), got32[1].data()));
                for (int h = 0; h < 2; h++) {
                    got[h].pop_back();
                    got32[h].pop_back();
                    EXPECT_EQ(got[h], want[h]) << "half " << h;
                    EXPECT_EQ(got32[h], want32[h]) << "half " << h;
                }
            }
    // Below SSE2 the caller's plain loop runs.
    codec_test::processor_form_guard mmx(1);
    std::int16_t s[2] = {1, 2}, lo = 0, hi = 0;
    EXPECT_FALSE(rv_split_line16_sse2(s, 2, 0, &lo, &hi, 0));
}

TEST(ForwardWavelet, RowsLeaveTheVerticalStageInScheduleOrder)
{
    // 5/3: two vertical steps, support minima 0 and -1, two taps each, mirrored edges.
    struct row {
        int y0, y1;
        std::vector<int> order;
    };
    const row table[] = {{0, 7, {0, 2, 1, 4, 3, 6, 5, 7}}, {1, 8, {2, 1, 4, 3, 6, 5, 8, 7}}};
    for (const row& r : table) {
        SCOPED_TRACE("rows " + std::to_string(r.y0) + " to " + std::to_string(r.y1));
        rvd_sample_allocator alloc;
        std::vector<int> log;
        const mode m{&w53, false};
        analysis_tree at{m, direction_of(w53), {{false, true}}, &alloc, {}, {}, &log};
        rvd_push_ifc top(at.build(rvd_dims(rvd_coords(r.y0, 0), rvd_coords(r.y1 - r.y0 + 1, 4)), 0, 1.0f));
        rvd_line_buf line;
        line.pre_create(&alloc, 4, true, false, 0, 0);
        alloc.finalize();
        line.create();
        for (int y = r.y0; y <= r.y1; y++)
            top.push(line, nullptr);
        // The k-th row of a band is its parity's k-th row of the node.
        int next[4] = {r.y0 + (r.y0 & 1), 0, r.y0 + 1 - (r.y0 & 1), 0};
        std::vector<int> order;
        for (int c : log) {
            order.push_back(next[c]);
            next[c] += 2;
        }
        EXPECT_EQ(order, r.order);
        EXPECT_TRUE(at.nodes[0]->is_drained());
    }
}

TEST(ForwardWavelet, EdgeCasesAndRefusals)
{
    rvd_sample_allocator alloc;
    const mode m{&w53, false};
    analysis_tree at{m, direction_of(w53), {{true, true}}, &alloc, {}, {}, nullptr};
    // Nodes without rows or columns take pushes and give nothing.
    for (rvd_dims d : {rvd_dims(rvd_coords(3, 3), rvd_coords(0, 9)),
                       rvd_dims(rvd_coords(3, 3), rvd_coords(9, 0))}) {
        at.bands.clear();
        rvd_push_ifc e(at.build(d, 0, 1.0f));
        rvd_line_buf line;
        e.push(line, nullptr);
        for (const auto& b : at.bands)
            EXPECT_EQ(b.second.rows, 0);
    }

    // Small irreversible taps keep the full fixed-point precision.
    rv_lifting_step small;
    const float taps[2] = {0.3f, -0.45f};
    small.init(0, step(2, 0), taps, false, -1);
    EXPECT_EQ(small.downshift, 16);
    EXPECT_EQ(small.lift_offset, 0x7FFF);

    // A step of 256 taps is refused, never truncated.
    kernel_case wide{"256 taps", -1, true, {step(256, -128, 8, 128), step(2, -1, 2, 2)}, {}};
    wide.taps.assign(256, 1.0f / 256);
    wide.taps.push_back(0.25f);
    wide.taps.push_back(0.25f);
    analysis_tree wt{{&wide, false}, direction_of(wide), {{true, true}}, &alloc, {}, {}, nullptr};
    EXPECT_NE(codec_test::error_text([&] {
                  rvd_push_ifc e(wt.build(rvd_dims(rvd_coords(0, 0), rvd_coords(8, 8)), 0, 1.0f));
              }).find("Unusable lifting step"),
              std::string::npos);

    // Too many rows, and lines of the wrong size, are refused.
    rvd_sample_allocator a2;
    analysis_tree t2{m, direction_of(w53), {{true, true}}, &a2, {}, {}, nullptr};
    rvd_push_ifc e(t2.build(rvd_dims(rvd_coords(0, 0), rvd_coords(2, 4)), 0, 1.0f));
    rvd_line_buf l32, l16;
    l32.pre_create(&a2, 4, true, false, 0, 0);
    l16.pre_create(&a2, 4, true, true, 0, 0);
    a2.finalize();
    l32.create();
    l16.create();
    EXPECT_NE(codec_test::error_text([&] { e.push(l16, nullptr); }).find("wrong sample size"),
              std::string::npos);
    e.push(l32, nullptr);
    e.push(l32, nullptr);
    EXPECT_NE(codec_test::error_text([&] { e.push(l32, nullptr); }).find("more lines"),
              std::string::npos);
}

} // namespace
