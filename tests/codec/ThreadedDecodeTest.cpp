// Decoding with a thread environment gives exactly the samples of decoding without one,
// whatever the thread count, double buffering and stripe height: the generated decode
// cases, the "multi" and "views" groups (views rotating through transposition and flips),
// every fifth packet-matrix stream, the conformance codestreams, and tall streams whose
// subband decoders work a block row ahead. A stream that fails unthreaded fails threaded
// with the same text.
#include "codec/coding/rv_strip_synthesis.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/decode_cases.h"
#include "tests/codec/support/grey_streams.h"
#include "tests/codec/support/test_sources.h"
#include "tests/support/TestTools.h"
#include "tools/decode/decode_error.h"
#include "tools/decode/decode_sources.h"
#include "tools/decode/image_decoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <fstream>
#include <sstream>

namespace {

using namespace codec_test;

struct outcome {
    std::vector<pgx_image> images;
    std::string error;
};

outcome decode(const std::string& path, const decode_settings& s)
{
    outcome o;
    try {
        o.images = decode_file(path, s);
    } catch (const std::exception& e) {
        o.error = e.what();
    }
    return o;
}

struct threaded_case {
    std::string name, path;
    decode_settings settings;
};

std::vector<std::string> manifest_column(const std::string& file, int column)
{
    std::vector<std::string> names;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string v;
        for (int i = 0; i <= column && (f >> v); i++) {
        }
        if (!v.empty() && line[0] != '#')
            names.push_back(v);
    }
    return names;
}

std::vector<threaded_case> all_cases()
{
    std::vector<threaded_case> cases;
    auto add = [&](const std::string& name, const std::string& path, decode_settings s) {
        cases.push_back(threaded_case{name, path, s});
    };
    for (const decode_case& c : load_decode_cases())
        add(c.name(), c.stream, settings_for(c, false));
    const std::string dir = stream_dir("multi");
    std::set<std::string> multi;
    for (const std::string& s : manifest_column(dir + "/multi_cases.txt", 1))
        if (multi.insert(s).second)
            add(s, dir + "/" + s + ".j2k", decode_settings());
    stream_dir("views");
    std::set<std::string> views;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        const std::string f = e.path().filename().string();
        if (f.rfind("pv_", 0) == 0 && e.path().extension() == ".j2k")
            views.insert(e.path().stem().string());
    }
    int view = 0;
    for (const std::string& s : views) {
        decode_settings v;
        v.transpose = view & 1;
        v.vflip = view & 2;
        v.hflip = view & 4;
        view++;
        add(s, dir + "/" + s + ".j2k", v);
    }
    stream_dir("packet_matrix");
    const std::vector<std::string> matrix = manifest_column(dir + "/packets.list", 0);
    for (size_t i = 0; i < matrix.size(); i += 5)
        add(matrix[i], dir + "/" + matrix[i] + ".j2k", decode_settings());
    for (const std::string& c : conformance_names()) {
        decode_settings s;
        s.reduce = c == "p0_08" ? 1 : 0;
        add(c, conformance_dir() + "/" + c + ".j2k", s);
    }
    // Tall bands of many block rows: their decoders work a block row ahead.
    auto texture = [](int x, int y) { return x * 7 + y * 3 + (x * y) % 29; };
    add("tall 64x4096", grey_stream("tall_64x4096", 64, 4096, texture, "-b 64,64 -n 3"),
        decode_settings());
    add("tall 512x1024 irreversible",
        grey_stream("tall_512x1024", 512, 1024, texture, "-b 64,64 -I -n 2"), decode_settings());
    return cases;
}

TEST(ThreadedDecode, EqualsTheUnthreadedDecode)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    const std::vector<threaded_case> cases = all_cases();
    ASSERT_GT(cases.size(), 60u);
    const int thread_counts[] = {1, 2, 3, 8};
    int rot = 0, compared = 0;
    for (const threaded_case& c : cases)
        for (bool precise : {false, true}) {
            decode_settings s = c.settings;
            s.precise = precise;
            const outcome ref = decode(c.path, s);
            s.threads = thread_counts[rot % 4];
            s.double_buffer = (rot / 4) % 2 == 0;
            s.stripe = (rot / 2) % 2 ? 8 : 1;
            rot++;
            const outcome got = decode(c.path, s);
            std::ostringstream how;
            how << c.name << (precise ? " 32-bit" : " 16-bit") << ", " << s.threads
                << " threads, stripe " << s.stripe << (s.double_buffer ? ", double buffered" : "");
            EXPECT_EQ(got.error, ref.error) << how.str();
            ASSERT_EQ(got.images.size(), ref.images.size()) << how.str();
            for (size_t k = 0; k < ref.images.size(); k++)
                EXPECT_TRUE(got.images[k].samples == ref.images[k].samples &&
                            got.images[k].width == ref.images[k].width)
                    << how.str() << " component " << k;
            compared++;
        }
    EXPECT_EQ(compared, int(2 * cases.size()));
}

// Narrow strips for the scope, so that small streams are synthesised in column strips.
struct strip_width_guard {
    int saved;
    explicit strip_width_guard(int columns) : saved(rv_set_min_strip_width(columns)) {}
    ~strip_width_guard() { rv_set_min_strip_width(saved); }
};

// Every case again with strips of 32 columns and up: samples cut at a strip's edge must
// never reach the strip's own columns, at any level, kernel, view or region.
TEST(ThreadedDecode, ColumnStripsEqualTheUnthreadedDecode)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    const std::vector<threaded_case> cases = all_cases();
    const strip_width_guard narrow(32);
    const int thread_counts[] = {2, 3, 8};
    int rot = 0;
    for (const threaded_case& c : cases)
        for (bool precise : {false, true}) {
            decode_settings s = c.settings;
            s.precise = precise;
            const outcome ref = decode(c.path, s);
            s.threads = thread_counts[rot++ % 3];
            s.double_buffer = true;
            const outcome got = decode(c.path, s);
            const std::string how = c.name + (precise ? " 32-bit, " : " 16-bit, ") +
                                    std::to_string(s.threads) + " threads";
            EXPECT_EQ(got.error, ref.error) << how;
            ASSERT_EQ(got.images.size(), ref.images.size()) << how;
            for (size_t k = 0; k < ref.images.size(); k++)
                EXPECT_TRUE(got.images[k].samples == ref.images[k].samples &&
                            got.images[k].width == ref.images[k].width)
                    << how << " component " << k;
        }
}

// Rows as the decode hands them over, failing on one row of component 0 when asked.
class recording_rows : public decoded_rows {
public:
    int64_t fail_at = -1;
    std::vector<std::vector<int64_t>> order; // rows of each component, as handed over
    std::vector<pgx_image> images;
    void start(const std::vector<pgx_image>& shapes) override
    {
        images = shapes;
        order.assign(shapes.size(), {});
        for (pgx_image& img : images)
            img.samples.assign(size_t(img.width) * size_t(img.height), 0);
    }
    void put(int c, int64_t row, const int32_t* samples) override
    {
        if (c == 0 && row == fail_at)
            throw decode_error("receiver refused row " + std::to_string(row));
        order[size_t(c)].push_back(row);
        pgx_image& img = images[size_t(c)];
        std::copy(samples, samples + img.width, img.samples.begin() + row * int64_t(img.width));
    }
};

// An RGB image of value waves, encoded reversibly with the colour transform.
std::string colour_stream(const std::string& name, int width, int height)
{
    const std::string dir = stream_dir("input");
    const std::string ppm = dir + "/" + name + ".ppm", j2k = dir + "/" + name + ".j2k";
    std::ofstream out(ppm, std::ios::binary);
    out << "P6\n" << width << " " << height << "\n255\n";
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            for (int c = 0; c < 3; c++)
                out.put(char((x * (3 + c) + y * (5 - c) + (x ^ y) % 37) & 0xFF));
    out.close();
    const std::string cmd = "opj_compress -i '" + ppm + "' -o '" + j2k + "' -b 32,32 > /dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0)
        throw std::runtime_error("opj_compress failed: " + cmd);
    return j2k;
}

// Output stripes run on the pool: the receiver still gets each row once, in order, the
// unthreaded samples, and a receiver that fails ends the decode with its own error after
// exactly the rows before the failing one.
TEST(ThreadedDecode, ReceiverGetsEveryRowOnceInOrderOrItsOwnFailure)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    auto texture = [](int x, int y) { return x * 5 + y * 9 + (x * y) % 31; };
    const std::string streams[] = {
        colour_stream("rgb_waves_300x200", 300, 200),
        grey_stream("rows_512x1024", 512, 1024, texture, "-b 64,64 -I -n 2")};
    struct row_case {
        int threads;
        bool double_buffer;
        int stripe;
        int64_t fail_at;
    } cases[] = {
        {2, false, 1, -1}, {8, true, 16, -1}, {3, true, 8, -1}, {8, false, 1, -1},
        {8, true, 16, 0},  {8, true, 16, 15}, {2, true, 1, 16}, {4, false, 1, 150},
        // Stripes chosen by the width: the narrow tiles' stripes are taller, their
        // colour rows and output rows again split across the pool.
        {8, true, 0, -1},  {3, true, 0, 100},
    };
    for (const std::string& path : streams) {
        const std::vector<uint8_t> bytes = read_file(path);
        decode_memory_source ref_source(bytes.data(), int64_t(bytes.size()));
        recording_rows ref;
        decode_components(&ref_source, decode_settings(), ref);
        ASSERT_FALSE(ref.images.empty()) << path;
        for (const row_case& c : cases) {
            SCOPED_TRACE(path + ", " + std::to_string(c.threads) + " threads, stripe " +
                         std::to_string(c.stripe) + (c.double_buffer ? ", double buffered" : "") +
                         ", failing at row " + std::to_string(c.fail_at));
            decode_settings s;
            s.threads = c.threads;
            s.double_buffer = c.double_buffer;
            s.stripe = c.stripe;
            decode_memory_source source(bytes.data(), int64_t(bytes.size()));
            recording_rows got;
            got.fail_at = c.fail_at;
            std::string error;
            try {
                decode_components(&source, s, got);
            } catch (const decode_error& e) {
                error = e.what();
            }
            const int64_t height = ref.images[0].height;
            if (c.fail_at >= 0) {
                EXPECT_EQ(error, "receiver refused row " + std::to_string(c.fail_at));
            } else {
                EXPECT_EQ(error, "");
                for (size_t k = 0; k < ref.images.size(); k++)
                    EXPECT_TRUE(got.images[k].samples == ref.images[k].samples) << "component " << k;
            }
            const int64_t rows0 = c.fail_at >= 0 ? c.fail_at : height;
            ASSERT_EQ(got.order.size(), ref.images.size());
            for (size_t k = 0; k < got.order.size(); k++) {
                // Component 0 stops at the failing row; the others may have been handed
                // that row before it.
                const int64_t expect = k == 0 ? rows0 : std::min<int64_t>(height, rows0 + 1);
                ASSERT_GE(int64_t(got.order[k].size()), k == 0 ? expect : rows0) << "component " << k;
                ASSERT_LE(int64_t(got.order[k].size()), expect) << "component " << k;
                for (size_t r = 0; r < got.order[k].size(); r++)
                    ASSERT_EQ(got.order[k][r], int64_t(r)) << "component " << k;
            }
        }
    }
}

// Run as the CTest test "conformance_threads".
TEST(ThreadedDecode, ConformanceWithFourThreadsAndDoubleBuffering)
{
    int n = 0;
    for (const std::string& c : conformance_names()) {
        decode_settings s;
        s.reduce = c == "p0_08" ? 1 : 0;
        const outcome ref = decode(conformance_dir() + "/" + c + ".j2k", s);
        s.threads = 4;
        s.double_buffer = true;
        const outcome got = decode(conformance_dir() + "/" + c + ".j2k", s);
        EXPECT_EQ(got.error, ref.error) << c;
        ASSERT_EQ(got.images.size(), ref.images.size()) << c;
        for (size_t k = 0; k < ref.images.size(); k++)
            EXPECT_TRUE(got.images[k].samples == ref.images[k].samples) << c << " component " << k;
        n++;
    }
    EXPECT_EQ(n, 22);
}

} // namespace
