// Codestreams whose headers claim vast images, tiles, precincts or component counts while
// holding next to no packet data. Opening every tile, decoding a 64x64 region as
// j2k_decode does, the region decompressor's first increment and a whole-image decode
// must each end quickly and cost memory in proportion to the request and the bytes
// present, whether they decode or refuse. Each step runs in a child process so its peak resident memory can be
// read alone; limits the standard sets are refused naming the field.
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_tile.h"
#include "codec/jp2/rvd_region_decompressor.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/codestream_bytes.h"
#include "tests/codec/support/test_sources.h"
#include "tools/decode/image_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <utility>
#include <unistd.h>
#include <vector>

using namespace codec_test;

namespace {

#if defined(__SANITIZE_ADDRESS__)
#define HOSTILE_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define HOSTILE_UNDER_SANITIZER 1
#endif
#endif
#ifndef HOSTILE_UNDER_SANITIZER
#define HOSTILE_UNDER_SANITIZER 0
#endif

const uint32_t near_limit = 0x7FFFFFFF; // the largest canvas coordinate the codec takes

struct hostile_case {
    hostile_case(const char* name, uint32_t xsiz, uint32_t ysiz, uint32_t xtsiz, uint32_t ytsiz,
                 uint32_t xosiz = 0, uint32_t yosiz = 0, int comps = 1, int levels = 5,
                 int block_exp = 4, std::vector<uint8_t> precincts = {},
                 std::vector<uint8_t> packets = {}, int layers = 1, bool request_sized = false)
        : name(name), xsiz(xsiz), ysiz(ysiz), xtsiz(xtsiz), ytsiz(ytsiz), xosiz(xosiz),
          yosiz(yosiz), comps(comps), levels(levels), block_exp(block_exp),
          precincts(std::move(precincts)), packets(std::move(packets)), layers(layers),
          request_sized(request_sized)
    {
    }
    const char* name;
    uint32_t xsiz, ysiz, xtsiz, ytsiz, xosiz, yosiz;
    int comps;
    int levels;
    int block_exp;                  // code-block width and height exponents less 2
    std::vector<uint8_t> precincts; // one byte per level from the lowest; none: the default
    std::vector<uint8_t> packets;   // the bytes after SOD
    int layers;
    // The region decode writes every component's 64x64 samples, each through its own
    // levels: what it holds and takes grows with that output, not with the header.
    bool request_sized;
};

// SOC, SIZ, COD, QCD, one tile-part of tile 0 (to the end), the packet bytes, EOC.
std::vector<uint8_t> hostile_stream(const hostile_case& c)
{
    siz_geometry g;
    g.xsiz = c.xsiz;
    g.ysiz = c.ysiz;
    g.xtsiz = c.xtsiz;
    g.ytsiz = c.ytsiz;
    g.xosiz = c.xosiz;
    g.yosiz = c.yosiz;
    g.comps.assign(size_t(c.comps), siz_geometry::comp());
    std::vector<uint8_t> cod = {uint8_t(c.precincts.empty() ? 0 : 1), 0, uint8_t(c.layers >> 8),
                                uint8_t(c.layers), 0, uint8_t(c.levels),
                                uint8_t(c.block_exp), uint8_t(c.block_exp), 0, 1};
    cod.insert(cod.end(), c.precincts.begin(), c.precincts.end());
    std::vector<uint8_t> v = build_stream(g, {segment(0xFF52, cod), qcd_segment(c.levels)});
    v.insert(v.end(), c.packets.begin(), c.packets.end());
    v.push_back(0xFF);
    v.push_back(0xD9);
    return v;
}

std::vector<uint8_t> every_level(int levels, uint8_t pp)
{
    return std::vector<uint8_t>(size_t(levels + 1), pp);
}

struct bounded_run {
    bool ended = false;      // the child reported back
    double seconds = 0;
    double added_mb = 0;     // peak resident memory over the child's start
    char outcome[200] = {};  // "decoded" or the refusal
};

long status_kb(const char* field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(in, line))
        if (line.compare(0, n, field) == 0)
            return std::stol(line.substr(n + 1));
    return -1;
}

// Runs `work` in a child process: its time, the growth of its peak resident set (the
// peak is reset first), and what it said. A child stuck for a minute is killed.
bounded_run run_bounded(const std::function<std::string()>& work)
{
    bounded_run r;
    int fds[2];
    if (pipe(fds) != 0)
        return r;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        alarm(60);
        std::ofstream("/proc/self/clear_refs") << "5";
        const long start_kb = status_kb("VmRSS:");
        bounded_run out;
        const auto t0 = std::chrono::steady_clock::now();
        std::string said;
        try {
            said = work();
        } catch (const std::exception& e) {
            said = std::string("refused: ") + e.what();
        }
        out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        out.added_mb = double(status_kb("VmHWM:") - start_kb) / 1024.0;
        std::replace(said.begin(), said.end(), '\n', ' ');
        std::snprintf(out.outcome, sizeof out.outcome, "%s", said.c_str());
        out.ended = true;
        const ssize_t w = write(fds[1], &out, sizeof out);
        _exit(w == ssize_t(sizeof out) ? 0 : 1);
    }
    close(fds[1]);
    const ssize_t got = pid > 0 ? read(fds[0], &r, sizeof r) : 0;
    close(fds[0]);
    if (pid > 0)
        waitpid(pid, nullptr, 0);
    if (got != ssize_t(sizeof r))
        r.ended = false;
    return r;
}

// Destroys the codestream also when a step refuses.
struct codestream_guard {
    rvd_codestream cs;
    ~codestream_guard() { cs.destroy(); }
};

std::string open_every_tile(const std::vector<uint8_t>& bytes)
{
    memory_source src(bytes);
    codestream_guard guard;
    rvd_codestream& cs = guard.cs;
    cs.create(&src);
    rvd_dims tiles;
    cs.get_valid_tiles(tiles);
    for (int y = 0; y < tiles.size.y; y++)
        for (int x = 0; x < tiles.size.x; x++) {
            rvd_tile t = cs.open_tile(rvd_coords(tiles.pos.y + y, tiles.pos.x + x));
            t.close();
        }
    return "decoded";
}

class kept_nothing : public decoded_rows {
public:
    void start(const std::vector<pgx_image>&) override {}
    void put(int, int64_t, const int32_t*) override {}
};

std::string decode_region(const std::vector<uint8_t>& bytes)
{
    memory_source src(bytes);
    decode_settings s;
    s.has_region = true;
    s.region = rvd_dims(rvd_coords(0, 0), rvd_coords(64, 64));
    kept_nothing rows;
    decode_components(&src, s, rows);
    return "decoded";
}

// A whole-image decode either refuses up front or stays bounded like the others.
std::string decode_whole(const std::vector<uint8_t>& bytes)
{
    memory_source src(bytes);
    kept_nothing rows;
    decode_components(&src, decode_settings(), rows);
    return "decoded";
}

// The viewer's first increment: one process call over the 64x64 corner of the image.
std::string first_increment(const std::vector<uint8_t>& bytes)
{
    memory_source src(bytes);
    codestream_guard guard;
    rvd_codestream& cs = guard.cs;
    cs.create(&src);
    rvd_dims image;
    cs.get_dims(0, image);
    const rvd_dims region(image.pos, rvd_coords(std::min(64, image.size.y), std::min(64, image.size.x)));
    rvd_region_decompressor d;
    std::string said = "decoded";
    if (d.start(cs, nullptr, 0, 0, 0, region, rvd_coords(1, 1))) {
        std::vector<uint16_t> buf(size_t(region.size.y) * size_t(region.size.x));
        const int offsets[1] = {0};
        rvd_dims incomplete = region, fresh;
        d.process(buf.data(), offsets, 1, region.pos, region.size.x, 1000000,
                  int(buf.size()), incomplete, fresh, 0, true);
        if (!d.finish())
            said = "refused: the region failed";
    } else {
        said = "refused: the region did not start";
    }
    return said;
}

TEST(HostileHeaders, StepsStayBoundedInTimeAndMemory)
{
    const uint32_t m = near_limit;
    const std::vector<hostile_case> cases = {
        {"image and tile near the limit", m, m, m, m},
        {"the same with 32 levels", m, m, m, m, 0, 0, 1, 32},
        {"32768 precincts of 4x4 blocks", m, m, m, m, 0, 0, 1, 5, 0, every_level(5, 0xFF)},
        {"2x2 precincts above the lowest level", m, m, m, m, 0, 0, 1, 5, 4, every_level(5, 0x11)},
        {"257 components", m, m, m, m, 0, 0, 257, 5},
        {"64 components, 20 levels, 4x4 blocks", m, m, m, m, 0, 0, 64, 20, 0, every_level(20, 0xFF)},
        {"255 x 255 tiles", m, m, m / 255 + 1, m / 255 + 1},
        {"empty packets", m, m, m, m, 0, 0, 1, 5, 0, every_level(5, 0xFF), std::vector<uint8_t>(64, 0)},
        {"a packet including blocks of 1024 precincts", m, m, m, m, 0, 0, 1, 5, 0, every_level(5, 0xAA),
         {0xFF, 0x7F, 0x00, 0x80, 0x00, 0x12, 0x34}},
        // The first precinct holds 8192 x 8192 blocks; the packet includes one of them.
        {"a packet reaching a precinct of 67 million blocks", m, m, m, m, 0, 0, 1, 5, 0, {},
         {0xFF, 0x7F, 0x00, 0x80, 0x00, 0x12, 0x34}},
        {"origin near the limit", m, m, 1u << 30, 1u << 30, m - 100, m - 100},
        {"a 4096 x 4096 image in a tile near the limit", 4096, 4096, m, m},
        // Packet counts (precincts times layers) beyond 63 bits.
        {"a precinct per sample, 65535 layers", m, m, m, m, 0, 0, 1, 0, 4, {0x00}, {}, 65535},
        // The standard's most components: each component's levels cost memory only once
        // something reaches them.
        {"16384 components", m, m, m, m, 0, 0, 16384, 5, 4, {}, {}, 1, true},
        {"16384 components, 32 levels", m, m, m, m, 0, 0, 16384, 32, 4, {}, {}, 1, true},
    };
    const double seconds = HOSTILE_UNDER_SANITIZER ? 20.0 : 5.0;
    const double megabytes = HOSTILE_UNDER_SANITIZER ? 256.0 : 64.0;
    const std::vector<std::pair<const char*, std::string (*)(const std::vector<uint8_t>&)>> steps = {
        {"open every tile", open_every_tile},
        {"j2k_decode --region 0,0,64,64", decode_region},
        {"first increment", first_increment},
        {"j2k_decode (whole image)", decode_whole},
    };
    for (const hostile_case& c : cases) {
        const std::vector<uint8_t> bytes = hostile_stream(c);
        for (const auto& step : steps) {
            SCOPED_TRACE(std::string(c.name) + ": " + step.first);
            // Output samples times levels: about 1.1 to 1.6 bytes and 8 to 11 ns each here.
            const bool sized = c.request_sized && step.second == decode_region;
            const double sample_levels = double(c.comps) * 64 * 64 * (c.levels + 1);
            if (sized && HOSTILE_UNDER_SANITIZER) {
                std::printf("[ figures  ] %s, %s: skipped under a sanitizer (%.0f sample-levels)\n",
                            c.name, step.first, sample_levels);
                continue;
            }
            const bounded_run r = run_bounded([&] { return step.second(bytes); });
            ASSERT_TRUE(r.ended) << "the child died or was killed";
            EXPECT_LT(r.seconds, seconds + (sized ? 15e-9 * sample_levels : 0.0));
            EXPECT_LT(r.added_mb, megabytes + (sized ? 2.0 * sample_levels / (1 << 20) : 0.0));
            std::printf("[ figures  ] %s, %s: %.2f s, %.1f MB, %s\n", c.name, step.first, r.seconds,
                        r.added_mb, r.outcome);
        }
    }
}

// Bytes in, exact refusal out: limits on what a codestream can address.
TEST(HostileHeaders, LimitsAreRefusedNamingTheField)
{
    const uint32_t m = near_limit;
    struct refusal {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* message;
    };
    hostile_case ids{"", m, m, m, m, 0, 0, 2, 0, 0, {0x00}};
    // TPsot 255: a SOT of its own after the main header.
    siz_geometry g;
    std::vector<uint8_t> sot = {0, 0, 0, 0, 0, 0, 255, 0};
    std::vector<uint8_t> tp255 = build_stream(g, {cod_segment(1), qcd_segment(1), segment(0xFF90, sot)}, false);
    tp255.insert(tp255.end(), {0xFF, 0x93, 0xFF, 0xD9});
    std::vector<uint8_t> beyond = tp255;
    beyond[beyond.size() - 6] = 2; // TPsot 2 ...
    beyond[beyond.size() - 5] = 2; // ... of TNsot 2
    hostile_case tiles{"", m, m, (m >> 8) + 1, (m >> 8) + 1}; // 256 x 256 tiles
    const std::vector<refusal> cases = {
        {"65536 tiles", hostile_stream(tiles), "Maximum number of allowable tiles is 65535"},
        {"precinct identifiers beyond 62 bits", hostile_stream(ids),
         "A tile-component has 4611686014132420609 precincts; with 2 components and 1 tiles, "
         "precinct identifiers can address at most 2305843009213693952 per tile-component."},
        {"tile-part index 255", tp255,
         "Corrupt SOT marker segment found in codestream: tile-part index (TPsot) 255 of tile "
         "number 0 is not below 255."},
        // A short count is read (encoders in the field write one), but not out of order.
        {"tile-part index at its count, out of sequence", beyond,
         "Missing or out-of-sequence tile-parts for tile number 0 in code-stream!"},
    };
    for (const refusal& c : cases) {
        SCOPED_TRACE(c.name);
        std::string said;
        try {
            open_every_tile(c.bytes);
        } catch (const codec_error& e) {
            said = e.what();
        }
        EXPECT_NE(said.find(c.message), std::string::npos) << said;
    }
}

} // namespace
