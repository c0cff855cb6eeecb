// The subband encoder: quantisation, region-of-interest shift and weights, job shares,
// and whole codestreams equal to the block feeder's, also under a changed appearance.
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_resolution.h"
#include "codec/core/rvd_thread_env.h"
#include "codec/core/rvd_tile.h"
#include "codec/core/rvd_tile_comp.h"
#include "codec/core/siz_params.h"
#include "codec/encode/rvd_encoder.h"
#include "tests/codec/support/block_feeder.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/databin_blocks.h"
#include "tests/codec/support/memory_target.h"

#include <boost/thread/mutex.hpp>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <sstream>

using namespace codec_test;

namespace {

// What the encoder handed over for one block.
struct coded_block {
    std::vector<uint32_t> words;
    int missing = 0, passes = 0;
    double weight = 0.0;
    int job = -1;
};

thread_local int current_job = -1;

// Blocks of a nominal partition from (0, 0), recorded instead of coded.
class recorder : public rv_block_sink {
public:
    recorder(const rv_band_shape& s, int K_prime) : shape(s), K_prime(K_prime) {}
    rvd_block* open_block(rvd_coords idx, rvd_thread_env*) override
    {
        auto* b = new rvd_block;
        const rvd_dims& d = shape.dims;
        const int y0 = idx.y * shape.block_size.y, x0 = idx.x * shape.block_size.x;
        b->size = rvd_coords(std::min(shape.block_size.y, d.size.y - y0),
                             std::min(shape.block_size.x, d.size.x - x0));
        b->region = rvd_dims(rvd_coords(0, 0), b->size);
        b->magnitude_planes = K_prime;
        boost::mutex::scoped_lock l(mutex);
        keys[b] = idx;
        return b;
    }
    void close_block(rvd_block* b, rvd_thread_env*) override
    {
        boost::mutex::scoped_lock l(mutex);
        keys.erase(b);
        delete b;
    }
    void encode(rvd_block_encoder&, rvd_block* b, bool, double weight, int) override
    {
        coded_block c;
        const uint32_t* w = reinterpret_cast<const uint32_t*>(b->sample_buffer);
        c.words.assign(w, w + b->size.y * b->size.x);
        c.missing = b->missing_msbs;
        c.passes = b->num_passes;
        c.weight = weight;
        c.job = current_job;
        boost::mutex::scoped_lock l(mutex);
        const rvd_coords idx = keys[b];
        blocks[{idx.y, idx.x}] = c;
    }
    rv_band_shape shape;
    int K_prime;
    boost::mutex mutex;
    std::map<rvd_block*, rvd_coords> keys;
    std::map<std::pair<int, int>, coded_block> blocks;
};

// Notes which job codes each block.
class job_noting_encoder : public rv_encoder {
public:
    using rv_encoder::rv_encoder;
    void do_job(rvd_thread_env* env, int job_idx) override
    {
        current_job = job_idx;
        rv_encoder::do_job(env, job_idx);
        current_job = -1;
    }
};

// A mask of constant rows: `set` decides each sample from its column.
class column_mask : public rvd_roi_node {
public:
    explicit column_mask(std::function<bool(int)> set, int* released = nullptr)
        : set(set), released(released) {}
    void pull(std::uint8_t* buf, int width) override
    {
        for (int x = 0; x < width; x++)
            buf[x] = set(x) ? 1 : 0;
    }
    void release() override
    {
        if (released != nullptr)
            ++*released;
    }
    std::function<bool(int)> set;
    int* released;
};

rv_encoder_shape shape_of(int h, int w, int bh, int bw, int K, int K_prime, bool reversible,
                          float delta = 0.0f)
{
    rv_encoder_shape s;
    s.band.dims = rvd_dims(rvd_coords(0, 0), rvd_coords(h, w));
    s.band.valid_blocks =
        rvd_dims(rvd_coords(0, 0), rvd_coords((h + bh - 1) / bh, (w + bw - 1) / bw));
    s.band.block_size = rvd_coords(bh, bw);
    s.band.first_block_size = rvd_coords(std::min(bh, h), std::min(bw, w));
    s.band.K_max = K;
    s.band.K_max_prime = K_prime;
    s.band.reversible = reversible;
    s.band.delta = delta;
    s.msb_wmse = 2.0;
    return s;
}

// Pushes every row (samples from `sample`) through a new encoder of the shape and returns
// a copy of what it coded; 32-bit lines hold integers when reversible, floats otherwise.
recorder* run(const rv_encoder_shape& s, bool shorts, std::function<double(int, int)> sample,
              rvd_roi_node* roi = nullptr, rvd_thread_env* env = nullptr,
              rv_encoder** keep = nullptr)
{
    static std::vector<std::unique_ptr<recorder>> alive; // outlives the encoder's sink
    auto* rec = new recorder(s.band, s.band.K_max_prime);
    rvd_sample_allocator alloc;
    rvd_line_buf line;
    std::unique_ptr<job_noting_encoder> enc(
        new job_noting_encoder(s, rec, &alloc, shorts, 1.0f, roi, env, nullptr));
    line.pre_create(&alloc, s.band.dims.size.x, s.band.reversible, shorts, 0, 0);
    alloc.finalize();
    line.create();
    for (int y = 0; y < s.band.dims.size.y; y++) {
        for (int x = 0; x < s.band.dims.size.x; x++) {
            const double v = sample(y, x);
            if (shorts)
                line.get_buf16()[x] = int16_t(v);
            else if (s.band.reversible)
                line.get_buf32()[x].ival = int32_t(v);
            else
                line.get_buf32()[x].fval = float(v);
        }
        enc->push(line, env);
    }
    if (env != nullptr)
        env->terminate(nullptr, true);
    if (keep != nullptr)
        *keep = enc.get();
    // The recorder belongs to the encoder; keep a copy of its findings alive.
    auto* copy = new recorder(s.band, s.band.K_max_prime);
    copy->blocks = rec->blocks;
    alive.emplace_back(copy);
    if (keep == nullptr)
        enc.reset();
    else
        enc.release();
    return copy;
}

const std::string clip_warning = "Sample values exceed the range of the subband's magnitude "
                                 "bit-planes and have been clipped";
const std::string shift_warning = "The ROI shift (`Rshift' attribute) which you are using is too "
                                  "large";

} // namespace

// The quantiser's words, missing planes, pass counts and weights; two 4 x 4 blocks each,
// so that a warning shows once per encoder.
TEST(SubbandEncoder, QuantisesShiftsAndWeighs)
{
    init_block_coding_tables();
    struct {
        const char* name;
        int K, K_prime;
        bool reversible, shorts;
        float delta, weight; // weight 0: none
        double value;        // every sample
        int mask;            // -1 no mask, 0 all background, 1 all foreground
        uint32_t word;
        int missing, passes;
        double wmse;
        const char* warning;
    } cases[] = {
        {"all zero", 8, 8, true, false, 0, 0, 0, -1, 0, 8, 0, 2.0, nullptr},
        {"one", 8, 8, true, true, 0, 0, 1, -1, 1u << 23, 7, 1, 2.0, nullptr},
        {"negative at 31 planes", 31, 31, true, false, 0, 0, -5, -1, 0x80000005u, 28, 7, 2.0, nullptr},
        {"clipped", 4, 4, true, false, 0, 0, 100, -1, 0x7FFFFFFFu, 0, 10, 2.0, clip_warning.c_str()},
        {"float", 9, 9, false, false, 1.0f / 256, 0, 0.5, -1, 1u << 29, 1, 22, 2.0, nullptr},
        {"fixed point", 9, 9, false, true, 1.0f / 256, 0, 4096, -1, 1u << 29, 1, 22, 2.0, nullptr},
        {"float overflow", 9, 9, false, false, 1.0f / 256, 0, 1e30, -1, 0x7FFFFFFFu, 0, 25, 2.0, clip_warning.c_str()},
        {"weight, background", 8, 8, true, false, 0, 4, 3, 0, 3u << 23, 6, 4, 2.0, nullptr},
        {"weight, foreground", 8, 8, true, false, 0, 4, 3, 1, 3u << 23, 6, 4, 8.0, nullptr},
        {"weight, no mask", 8, 8, true, false, 0, 4, 3, -1, 3u << 23, 6, 4, 8.0, nullptr},
        {"up-shift, background", 8, 16, true, false, 0, 4, 255, 0, 255u << 15, 8, 22, 8.0, nullptr},
        {"up-shift, foreground", 8, 16, true, false, 0, 4, 255, 1, 255u << 23, 0, 22, 8.0, nullptr},
        {"large shift", 12, 31, true, false, 0, 0, 7, 0, 7u << 0, 28, 7, 2.0, shift_warning.c_str()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        clear_captured_warnings();
        rv_encoder_shape s = shape_of(4, 8, 4, 4, c.K, c.K_prime, c.reversible, c.delta);
        s.has_roi_weight = c.weight > 0;
        s.roi_weight = c.weight > 0 ? c.weight : 1.0f;
        int released = 0;
        rvd_roi_node* roi = c.mask < 0 ? nullptr
                                       : new column_mask([&](int) { return c.mask == 1; }, &released);
        recorder* r = run(s, c.shorts, [&](int, int) { return c.value; }, roi);
        ASSERT_EQ(2u, r->blocks.size());
        const coded_block& b = r->blocks.begin()->second;
        EXPECT_EQ(c.word, b.words[5]);
        EXPECT_EQ(c.missing, b.missing);
        EXPECT_EQ(c.passes, b.passes);
        EXPECT_DOUBLE_EQ(c.wmse, b.weight);
        if (c.mask >= 0) {
            EXPECT_EQ(1, released);
        }
        if (c.warning == nullptr) {
            EXPECT_TRUE(no_warnings());
        } else {
            EXPECT_TRUE(warning_seen(c.warning));
            EXPECT_EQ(1u, captured_warnings().size()); // once per encoder
        }
    }
}

TEST(SubbandEncoder, RefusesWhatItCannotCode)
{
    struct {
        int K, K_prime;
        const char* error;
    } cases[] = {
        {32, 32, "Insufficient implementation precision available for true reversible compression!"},
        {8, 12, "You have selected too small a value for the ROI up-shift parameter."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        int released = 0;
        const std::string text = error_text([&] {
            run(shape_of(4, 8, 4, 4, c.K, c.K_prime, true), false, [](int, int) { return 1.0; },
                new column_mask([](int) { return true; }, &released));
        });
        EXPECT_NE(std::string::npos, text.find(c.error)) << text;
        EXPECT_EQ(1, released); // the node is released by the failed constructor
    }
    // One line too many.
    rvd_sample_allocator alloc;
    rvd_line_buf line;
    rv_encoder enc(shape_of(2, 4, 4, 4, 8, 8, true), new recorder(shape_of(2, 4, 4, 4, 8, 8, true).band, 8),
                   &alloc, false, 1.0f, nullptr);
    line.pre_create(&alloc, 4, true, false, 0, 0);
    alloc.finalize();
    line.create();
    std::memset(line.get_buf32(), 0, 16);
    enc.push(line, nullptr);
    enc.push(line, nullptr);
    EXPECT_NE(std::string::npos, error_text([&] { enc.push(line, nullptr); })
                                     .find("more lines into a subband encoder than its subband has"));
}

// Three jobs share ten block columns as 0-2, 3-5, 6-9; threaded and double-buffered
// coding sees the same samples as coding on the pushing thread.
TEST(SubbandEncoder, JobsShareColumnsAndKeepTheirRows)
{
    init_block_coding_tables();
    rv_encoder_shape s = shape_of(64 * 7 + 5, 400, 64, 40, 12, 12, true);
    s.band.band_idx = 0;
    auto sample = [](int y, int x) { return double((y * 31 + x * 7) % 2001 - 1000); };
    recorder* plain = run(s, false, sample);
    rvd_thread_env env;
    env.create();
    for (int k = 0; k < 3; k++) {
        ASSERT_TRUE(env.add_thread());
    }
    rv_encoder* enc = nullptr;
    recorder* threaded = run(s, false, sample, nullptr, &env, &enc);
    EXPECT_EQ(3, enc->get_jobs_per_row());
    EXPECT_TRUE(enc->is_double_buffered());
    EXPECT_EQ(128, enc->get_buffer_lines());
    delete enc;
    env.destroy();
    ASSERT_EQ(plain->blocks.size(), threaded->blocks.size());
    const int expected_job[10] = {0, 0, 0, 1, 1, 1, 2, 2, 2, 2};
    for (const auto& kv : threaded->blocks) {
        SCOPED_TRACE(testing::Message() << "block " << kv.first.first << "," << kv.first.second);
        EXPECT_EQ(kv.first.first * 3 + expected_job[kv.first.second], kv.second.job);
        EXPECT_EQ(plain->blocks[kv.first].words, kv.second.words);
    }
}

namespace {

// A one-tile codestream without levels, its band pushed line by line (or fed by the
// block feeder), under the given appearance.
std::vector<uint8_t> write_band(const std::string& siz_text, const std::string& coding,
                                const std::vector<int32_t>& img, int h, int w, bool feeder,
                                bool shorts, int view)
{
    siz_params siz;
    std::istringstream in(siz_text);
    for (std::string a; in >> a;)
        EXPECT_TRUE(siz.parse_string(a.c_str())) << a;
    memory_target t;
    rvd_codestream cs;
    cs.create(&siz, &t, nullptr);
    std::istringstream in2(coding);
    for (std::string a; in2 >> a;)
        EXPECT_TRUE(cs.access_siz()->parse_string(a.c_str())) << a;
    cs.access_siz()->finalize_all();
    const bool tr = view & 1, vf = (view >> 1) & 1, hf = (view >> 2) & 1;
    if (feeder) {
        feed_blocks(cs, {img});
    } else {
        cs.change_appearance(tr, vf, hf);
        rvd_tile tile = cs.open_tile(rvd_coords(0, 0));
        rvd_subband band = tile.access_component(0).access_resolution(0).access_subband(0);
        rvd_dims d;
        band.get_dims(d);
        rvd_sample_allocator alloc;
        rvd_encoder enc(band, &alloc, shorts, 1.0f, nullptr, nullptr, nullptr);
        rvd_line_buf line;
        line.pre_create(&alloc, d.size.x, true, shorts, 0, 0);
        alloc.finalize();
        line.create();
        for (int y = d.pos.y; y < d.pos.y + d.size.y; y++) {
            for (int x = d.pos.x; x < d.pos.x + d.size.x; x++) {
                rvd_coords p(y, x);
                p.from_apparent(tr, vf, hf);
                const int32_t v = img[size_t(p.y) * size_t(w) + size_t(p.x)] - 128;
                if (shorts)
                    line.get_buf16()[x - d.pos.x] = int16_t(v);
                else
                    line.get_buf32()[x - d.pos.x].ival = v;
            }
            enc.push(line, nullptr);
        }
        enc.destroy();
        tile.close();
    }
    int64_t layer_bytes[8] = {};
    cs.flush(layer_bytes, 8);
    cs.destroy();
    (void)h;
    return t.bytes;
}

} // namespace

TEST(SubbandEncoder, WritesTheFeedersStreamInEveryAppearance)
{
    struct {
        int h, w;
        const char* coding;
    } cases[] = {
        {1, 1, "Clevels=0 Creversible=yes"},
        {37, 53, "Clevels=0 Creversible=yes Cblk={16,8}"},
        {64, 70, "Clevels=0 Creversible=yes Cblk={32,32} Cmodes=BYPASS|RESET Clayers=2"},
    };
    std::mt19937 rng(51);
    for (const auto& c : cases) {
        std::vector<int32_t> img(size_t(c.h) * size_t(c.w));
        for (int32_t& v : img)
            v = int32_t(rng() % 256);
        std::ostringstream siz;
        siz << "Ssize={" << c.h << "," << c.w << "} Ssampling={1,1} Scomponents=1 Sprecision=8 Ssigned=no";
        const auto expected = write_band(siz.str(), c.coding, img, c.h, c.w, true, false, 0);
        for (int view = 0; view < 8; view++)
            for (int shorts = 0; shorts < 2; shorts++) {
                SCOPED_TRACE(testing::Message() << c.h << "x" << c.w << " view " << view << " shorts " << shorts);
                EXPECT_EQ(expected, write_band(siz.str(), c.coding, img, c.h, c.w, false, shorts, view));
            }
    }
}
