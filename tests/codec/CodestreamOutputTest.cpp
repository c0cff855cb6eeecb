// Whole codestreams written through the output codestream (creation, blocks, tile-parts,
// flushing) and read back by outside decoders and our own.
#include "codec/core/rvd_block.h"
#include "codec/core/rv_tile_writing.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_precinct.h"
#include "codec/core/rvd_resolution.h"
#include "codec/core/rvd_subband.h"
#include "codec/core/rvd_tile.h"
#include "codec/core/rvd_tile_comp.h"
#include "codec/encode/rvd_block_encoder.h"
#include "codec/core/siz_params.h"
#include "tests/codec/support/block_feeder.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/databin_blocks.h"
#include "tests/codec/support/databin_split.h"
#include "tests/codec/support/decode_cases.h"
#include "tests/codec/support/memory_target.h"
#include "tests/codec/support/packet_locator.h"
#include "tests/codec/support/test_sources.h"
#include "tests/codec/support/transcoder.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>

using namespace codec_test;

namespace {

uint32_t be(const std::vector<uint8_t>& b, size_t p, int n)
{
    uint32_t v = 0;
    for (int k = 0; k < n; k++)
        v = (v << 8) | b[p + size_t(k)];
    return v;
}

std::vector<std::string> tokens(const std::string& text)
{
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string t; in >> t;)
        out.push_back(t);
    return out;
}

// Parses each attribute of `text` into `p`; one it does not take fails the test.
void parse_into(siz_params& p, const std::string& text)
{
    for (const std::string& a : tokens(text))
        if (!p.parse_string(a.c_str()))
            throw std::runtime_error("not taken: " + a);
}

// Coding attributes go to the codestream's own tree, which is then finalized.
void apply_coding(rvd_codestream& cs, const std::string& coding)
{
    parse_into(*cs.access_siz(), coding);
    cs.access_siz()->finalize_all();
}

// An output codestream on `t` (nullptr: the interchange form, no target) set up from
// the SIZ and coding attributes; a fragment region and what came before pass through.
void create_output(rvd_codestream& cs, const std::string& siz_text, const std::string& coding,
                   rvd_compressed_target* t, rvd_dims* region = nullptr, int tiles_before = 0,
                   int64_t bytes_before = 0)
{
    siz_params siz;
    parse_into(siz, siz_text);
    if (t != nullptr)
        cs.create(&siz, t, region, tiles_before, bytes_before);
    else
        cs.create(&siz);
    try {
        apply_coding(cs, coding);
    } catch (...) {
        cs.destroy();
        throw;
    }
}

struct written_stream {
    std::vector<uint8_t> bytes;
    std::vector<int64_t> layer_bytes;
    std::vector<uint16_t> thresholds;
    int num_tparts = 0;
    int64_t total_bytes = 0;
    int64_t peak = 0; // compressed-data buffer peak
};

// SIZ attributes go to the object handed to create, the others to the codestream's tree.
// `thresholds` non-empty selects threshold flushing, else `targets` are byte targets.
written_stream write_stream(const std::string& siz_text, const std::string& coding,
                            const std::vector<std::vector<int32_t>>& samples,
                            std::vector<int64_t> targets, std::vector<uint16_t> thresholds = {},
                            memory_target* target = nullptr, int64_t max_bytes = 0,
                            rvd_thread_env* env = nullptr, bool trim_to_rate = true)
{
    memory_target own;
    memory_target& t = target != nullptr ? *target : own;
    rvd_codestream cs;
    create_output(cs, siz_text, coding, &t);
    written_stream w;
    try {
        if (max_bytes > 0)
            cs.set_max_bytes(max_bytes);
        feed_options fo;
        fo.env = env;
        feed_blocks(cs, samples, fo);
        const int n = int(std::max(targets.size(), thresholds.size()));
        targets.resize(size_t(n), 0);
        thresholds.resize(size_t(n), 0);
        cs.flush(targets.data(), n, thresholds.data(), trim_to_rate, true, 0.0, env);
        w.layer_bytes = targets;
        w.thresholds = thresholds;
        w.num_tparts = cs.get_num_tparts();
        w.total_bytes = cs.get_total_bytes();
        w.peak = cs.get_compressed_data_memory(true);
    } catch (...) {
        cs.destroy();
        throw;
    }
    cs.destroy();
    w.bytes = t.bytes;
    return w;
}

std::vector<std::vector<int32_t>> random_image(std::mt19937& rng, int comps, int h, int w,
                                               int precision, bool is_signed, int smooth)
{
    std::vector<std::vector<int32_t>> src(static_cast<size_t>(comps));
    const int64_t lo = is_signed ? -(int64_t(1) << (precision - 1)) : 0;
    const int64_t span = int64_t(1) << precision;
    for (auto& v : src) {
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                // Partly smooth, partly noise: many passes with varied slopes.
                const int64_t base = (int64_t(x + y) * span) / int64_t(h + w + 1);
                const int64_t noise = smooth > 0 ? int64_t(rng() % uint32_t(smooth)) : int64_t(rng() % span);
                v.push_back(int32_t(lo + (base + noise) % span));
            }
    }
    return src;
}

// One unsigned 8-bit plane of `h` x `w` random samples and the SIZ text describing it.
struct gray_plane {
    std::vector<std::vector<int32_t>> src;
    std::string siz;
};

gray_plane gray_plane_of(uint32_t seed, int h, int w, int smooth)
{
    std::mt19937 rng(seed);
    return {random_image(rng, 1, h, w, 8, false, smooth),
            "Ssize={" + std::to_string(h) + "," + std::to_string(w) +
                "} Ssampling={1,1} Scomponents=1 Sprecision=8 Ssigned=no"};
}

// Runs a decoder on the file; its components as PGX sample lists.
std::vector<std::vector<int32_t>> outside_decode(const std::string& tool, const std::string& path,
                                                 const std::string& stem, int comps,
                                                 const std::string& extra = "")
{
    std::system(("rm -f " + stem + "*.pgx").c_str());
    const int rc = std::system((tool + " -i " + path + " -o " + stem + ".pgx " + extra +
                                " > /dev/null 2>&1")
                                   .c_str());
    std::vector<std::vector<int32_t>> out;
    if (rc != 0)
        return out;
    for (int k = 0; k < comps; k++) {
        std::string f = stem + "_" + std::to_string(k) + ".pgx";
        if (comps == 1 && !std::ifstream(f))
            f = stem + ".pgx";
        out.push_back(read_pgx(f).samples);
    }
    return out;
}

std::string out_dir()
{
    const std::string dir = std::string(ORBEL_BINARY_DIR) + "/codestream_output";
    std::system(("mkdir -p " + dir).c_str());
    return dir;
}

void save(const std::string& path, const std::vector<uint8_t>& b)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), long(b.size()));
}

// Psot of every tile-part, walking from the first SOT; the TLM entries of the main header.
struct tpart_walk {
    std::vector<uint32_t> psot, tlm;
    std::vector<int> isot, tpsot, tnsot;
    bool reaches_eoc = false;
};

tpart_walk walk_tparts(const std::vector<uint8_t>& b)
{
    tpart_walk w;
    size_t p = 2;
    while (p + 4 <= b.size() && be(b, p, 2) != 0xFF90) {
        const uint32_t code = be(b, p, 2), len = be(b, p + 2, 2);
        if (code == 0xFF55)
            for (size_t e = p + 6; e < p + 2 + len; e += 6)
                w.tlm.push_back(be(b, e + 2, 4));
        p += 2 + len;
    }
    while (p + 12 <= b.size() && be(b, p, 2) == 0xFF90) {
        w.isot.push_back(int(be(b, p + 4, 2)));
        w.psot.push_back(be(b, p + 6, 4));
        w.tpsot.push_back(b[p + 10]);
        w.tnsot.push_back(b[p + 11]);
        if (w.psot.back() == 0)
            break;
        p += w.psot.back();
    }
    w.reaches_eoc = p + 2 == b.size() && be(b, p, 2) == 0xFFD9;
    return w;
}

} // namespace

// Lossless streams of the output path decode exactly with both outside decoders and ours.
TEST(CodestreamOutput, LosslessStreamsDecodeExactly)
{
    ORBEL_REQUIRE_TOOL("opj_decompress", "libopenjp2-tools");
    ORBEL_REQUIRE_TOOL("grk_decompress", "grokj2k-tools");
    struct {
        const char* name;
        int h, w, comps, precision; // h, w: image size, from the origin on
        int oy, ox;
        bool is_signed;
        const char* siz_extra;
        const char* coding;
        std::vector<uint16_t> thresholds; // empty: one open layer target per layer
        int layers;
    } cases[] = {
        {"one", 61, 47, 1, 12, 0, 0, false, "", "Clevels=0 Clayers=1 Cblk={32,32} Creversible=yes", {}, 1},
        {"rgb3", 64, 64, 3, 8, 0, 0, false, "", "Clevels=0 Clayers=3 Cblk={16,16} Creversible=yes Cycc=no",
         {50000, 40000, 1}, 3},
        {"tiles", 70, 90, 2, 16, 0, 0, true, "Stiles={32,32}",
         "Clevels=0 Clayers=2 Cblk={16,32} Creversible=yes Corder=RLCP Cuse_sop=yes Cuse_eph=yes",
         {45000, 1}, 2},
        {"tlm", 40, 40, 1, 8, 0, 0, false, "Stiles={16,16}",
         "Clevels=0 Clayers=2 Cblk={8,8} Creversible=yes ORGgen_tlm=3 ORGgen_plt=yes", {}, 2},
        {"origins", 47, 55, 1, 10, 3, 5, false, "Stile_origin={1,2} Stiles={20,25}",
         "Clevels=0 Clayers=4 Cblk={8,16} Creversible=yes Cmodes=BYPASS|RESTART Corder=PCRL", {}, 4},
        {"modes", 33, 33, 1, 9, 0, 0, true, "",
         "Clevels=0 Clayers=3 Cblk={16,16} Creversible=yes Cmodes=RESET|CAUSAL|ERTERM|SEGMARK Corder=CPRL",
         {}, 3},
        {"levels5", 97, 83, 1, 12, 0, 0, false, "",
         "Clevels=5 Clayers=3 Cblk={16,16} Creversible=yes Cprecincts={32,32},{16,16} Corder=RPCL",
         {}, 3},
        {"levels_tiles", 100, 120, 2, 8, 7, 3, false, "Stiles={48,40} Stile_origin={5,1}",
         "Clevels=3 Clayers=2 Cblk={8,8} Creversible=yes Corder=LRCP Cuse_sop=yes Cuse_eph=yes "
         "ORGgen_plt=yes ORGgen_tlm=8 ORGtparts=R",
         {}, 2},
        {"subsampled", 64, 72, 3, 10, 1, 2, true, "Ssampling={1,1},{2,2},{1,2}",
         "Clevels=2 Clayers=8 Cblk={8,16} Creversible=yes Corder=PCRL Cmodes=BYPASS", {}, 8},
        {"poc", 56, 60, 2, 8, 0, 0, false, "",
         "Clevels=2 Clayers=3 Cblk={8,8} Creversible=yes Porder={0,0,2,2,256,LRCP},{0,0,3,3,256,RPCL}",
         {}, 3},
        {"ycc", 48, 40, 3, 8, 0, 0, false, "",
         "Clevels=4 Clayers=1 Cblk={32,32} Creversible=yes Corder=CPRL Cprecincts={8,8}", {}, 1},
    };
    const std::string dir = out_dir();
    std::mt19937 rng(5050);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Each component's samples over its own grid.
        std::vector<std::pair<int, int>> sampling(size_t(c.comps), {1, 1});
        const std::string extra = c.siz_extra;
        if (extra.find("Ssampling=") != std::string::npos) {
            std::istringstream in(extra.substr(extra.find("Ssampling=") + 10));
            for (auto& sv : sampling) {
                char ch;
                in >> ch >> sv.first >> ch >> sv.second >> ch;
                in >> ch; // the comma between records
            }
        }
        std::vector<std::vector<int32_t>> src;
        for (int k = 0; k < c.comps; k++) {
            const auto [sy, sx] = sampling[size_t(k)];
            auto ceil_div = [](int a, int b) { return (a + b - 1) / b; };
            const int ch = ceil_div(c.oy + c.h, sy) - ceil_div(c.oy, sy);
            const int cw = ceil_div(c.ox + c.w, sx) - ceil_div(c.ox, sx);
            src.push_back(random_image(rng, 1, ch, cw, c.precision, c.is_signed, 40)[0]);
        }
        std::ostringstream siz;
        siz << "Ssize={" << c.h + c.oy << "," << c.w + c.ox << "} Sorigin={" << c.oy << ","
            << c.ox << "}" << (extra.find("Ssampling=") == std::string::npos ? " Ssampling={1,1}" : "")
            << " Scomponents=" << c.comps
            << " Sprecision=" << c.precision << " Ssigned=" << (c.is_signed ? "yes" : "no") << " "
            << c.siz_extra;
        std::string siz_text = siz.str();
        written_stream w;
        std::vector<int64_t> targets(size_t(c.layers), 0);
        ASSERT_NO_THROW(w = write_stream(siz_text, c.coding, src, targets, c.thresholds));
        const tpart_walk walk = walk_tparts(w.bytes);
        EXPECT_TRUE(walk.reaches_eoc);
        EXPECT_EQ(int(walk.psot.size()), w.num_tparts);
        EXPECT_EQ(int64_t(w.bytes.size()), w.total_bytes);
        if (!walk.tlm.empty()) {
            EXPECT_EQ(walk.psot, walk.tlm);
        }
        EXPECT_EQ(int64_t(w.bytes.size()) - 2, w.layer_bytes.back());
        const std::string path = dir + "/" + c.name + ".j2k";
        save(path, w.bytes);
        // Two of three decoders decide; a lone dissenting outside decoder is reported.
        int outside_exact = 0;
        for (const std::string tool : {"opj_decompress", "grk_decompress"}) {
            const auto got = outside_decode(tool, path, dir + "/" + c.name + "_" + tool, c.comps);
            if (got.size() != size_t(c.comps)) {
                std::cout << "[ reported ] " << c.name << ": " << tool << " refuses the stream\n";
                continue;
            }
            bool exact = true;
            for (int k = 0; k < c.comps; k++)
                if (src[size_t(k)] != got[size_t(k)]) {
                    exact = false;
                    std::cout << "[ reported ] " << c.name << ": " << tool << " differs from the "
                              << "source in component " << k << "\n";
                }
            outside_exact += exact ? 1 : 0;
        }
        decode_settings ds;
        std::vector<pgx_image> ours = decode_file(path, ds);
        ASSERT_EQ(size_t(c.comps), ours.size());
        for (int k = 0; k < c.comps; k++) {
            EXPECT_EQ(src[size_t(k)], ours[size_t(k)].samples) << "ours component " << k;
        }
        // Fewer layers: opj_decompress -l k against ours with k layers.
        if (c.layers > 1 && std::string(c.coding).find("Porder") == std::string::npos) {
            for (int k : {1, c.layers - 1}) {
                const auto theirs = outside_decode("opj_decompress", path,
                                                   dir + "/" + c.name + "_l" + std::to_string(k), c.comps,
                                                   "-l " + std::to_string(k));
                decode_settings dk;
                dk.layers = k;
                std::vector<pgx_image> mine = decode_file(path, dk);
                ASSERT_EQ(size_t(c.comps), theirs.size());
                ASSERT_EQ(size_t(c.comps), mine.size());
                for (int q = 0; q < c.comps; q++) {
                    EXPECT_EQ(theirs[size_t(q)], mine[size_t(q)].samples) << k << " layers, component " << q;
                }
            }
        }
        // A POC record reaching the last component is written with CEpoc 0 (meaning 256):
        // the outside decoders here take 0 as no component, so ours alone decides.
        if (std::string(c.coding).find("Porder") == std::string::npos) {
            EXPECT_GE(outside_exact, 1);
        }
    }
}

// Byte targets: every reported cumulative size within its target, and close to it; the
// file ends at the last reported size.
TEST(CodestreamOutput, ByteTargetsAreMet)
{
    ORBEL_REQUIRE_TOOL("opj_decompress", "libopenjp2-tools");
    struct {
        const char* name;
        const char* coding;
        std::vector<double> fractions; // of the raw bytes; 0 = chosen by rate control
    } cases[] = {
        {"three", "Clayers=4 Corder=LRCP", {0.01, 0.05, 0.20, 0}},
        {"gaps", "Clayers=4 Corder=RPCL", {0, 0.05, 0, 0.20}},
        {"sop_plt", "Clayers=3 Cuse_sop=yes Cuse_eph=yes ORGgen_plt=yes", {0.02, 0.10, 0}},
        {"tiles_tlm", "Clayers=3 ORGgen_tlm=3 ORGtparts=L", {0.03, 0.08, 0.25}},
    };
    const int h = 192, w = 160, precision = 12;
    std::mt19937 rng(77);
    const auto src = random_image(rng, 1, h, w, precision, false, 300);
    const double raw = double(h) * w * precision / 8.0;
    const std::string dir = out_dir();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int64_t> targets;
        for (double f : c.fractions)
            targets.push_back(int64_t(f * raw));
        std::ostringstream siz;
        siz << "Ssize={" << h << "," << w << "} Ssampling={1,1} Scomponents=1 Sprecision=" << precision
            << " Ssigned=no" << (std::string(c.name) == "tiles_tlm" ? " Stiles={64,64}" : "");
        const std::string coding =
            std::string("Clevels=0 Cblk={16,16} Creversible=yes ") + c.coding;
        written_stream ws;
        ASSERT_NO_THROW(ws = write_stream(siz.str(), coding, src, targets));
        ASSERT_EQ(targets.size(), ws.layer_bytes.size());
        for (size_t l = 0; l < targets.size(); l++) {
            SCOPED_TRACE(l);
            if (targets[l] == 0)
                continue;
            EXPECT_LE(ws.layer_bytes[l], targets[l]);
            if (targets[l] >= 4096) {
                EXPECT_GE(double(ws.layer_bytes[l]), 0.97 * double(targets[l]));
            }
        }
        for (size_t l = 1; l < targets.size(); l++) {
            EXPECT_LE(ws.layer_bytes[l - 1], ws.layer_bytes[l]);
        }
        EXPECT_EQ(int64_t(ws.bytes.size()), ws.layer_bytes.back() + 2);
        const tpart_walk walk = walk_tparts(ws.bytes);
        EXPECT_TRUE(walk.reaches_eoc);
        if (!walk.tlm.empty()) {
            EXPECT_EQ(walk.psot, walk.tlm);
        }
        const std::string path = dir + "/rate_" + c.name + ".j2k";
        save(path, ws.bytes);
        const auto got = outside_decode("opj_decompress", path, dir + "/rate_" + c.name, 1);
        ASSERT_EQ(1u, got.size());
        if (c.fractions.back() == 0) {
            EXPECT_EQ(src[0], got[0]); // the open last layer holds every pass
        }
    }
}

namespace {

// 3 x 4 tiles of a two-level, two-layer, three-component image.
const char* const grid_siz = "Ssize={90,120} Ssampling={1,1} Scomponents=3 Sprecision=8 Ssigned=no Stiles={32,32}";
const char* const grid_coding = "Clevels=2 Clayers=2 Cblk={8,8} Creversible=yes Cycc=no";

std::vector<std::vector<int32_t>> grid_image()
{
    std::mt19937 rng(3412);
    std::vector<std::vector<int32_t>> src;
    for (int k = 0; k < 3; k++)
        src.push_back(random_image(rng, 1, 90, 120, 8, false, 60)[0]);
    return src;
}

} // namespace

// Fixed tile-part counts: every TLM entry is its SOT's Psot, padding tile-parts are 14
// bytes, and our reader finds every tile-part through the TLM.
TEST(CodestreamOutput, FixedTilePartCountsAndTlm)
{
    const auto src = grid_image();
    const std::string dir = out_dir();
    for (int m : {1, 2, 3}) {
        SCOPED_TRACE(m);
        written_stream w = write_stream(grid_siz, std::string(grid_coding) + " ORGgen_tlm=" + std::to_string(m),
                                        src, {}, {60000, 1});
        const tpart_walk walk = walk_tparts(w.bytes);
        EXPECT_TRUE(walk.reaches_eoc);
        EXPECT_EQ(size_t(12 * m), walk.psot.size());
        EXPECT_EQ(walk.psot, walk.tlm);
        std::map<int, std::vector<uint32_t>> per_tile;
        for (size_t k = 0; k < walk.psot.size(); k++) {
            EXPECT_EQ(m, walk.tnsot[k]);
            EXPECT_EQ(int(per_tile[walk.isot[k]].size()), walk.tpsot[k]);
            per_tile[walk.isot[k]].push_back(walk.psot[k]);
        }
        ASSERT_EQ(12u, per_tile.size());
        for (auto& [tile, lengths] : per_tile) {
            EXPECT_GT(lengths[0], 14u);
            for (size_t k = 1; k < lengths.size(); k++) {
                EXPECT_EQ(14u, lengths[k]) << "tile " << tile;
            }
        }
        const std::string path = dir + "/tlm" + std::to_string(m) + ".j2k";
        save(path, w.bytes);
        // The scanner's SOT lines agree: Psot per tile-part, each reaching the next SOT.
        {
            const std::string cmd = OrbelTest::pythonCommand(std::string(ORBEL_SOURCE_DIR) +
                                                             "/tools/make_test_streams.py") +
                                    " --scan " + path;
            FILE* f = popen(cmd.c_str(), "r");
            ASSERT_NE(nullptr, f);
            std::vector<uint32_t> scanned;
            char line[4096];
            while (std::fgets(line, sizeof line, f) != nullptr) {
                unsigned long pos = 0, isot = 0, psot = 0;
                if (std::sscanf(line, "sot %lu %lu %lu", &pos, &isot, &psot) == 3)
                    scanned.push_back(uint32_t(psot));
            }
            EXPECT_EQ(0, pclose(f));
            EXPECT_EQ(walk.tlm, scanned);
        }
        std::vector<pgx_image> ours = decode_file(path, decode_settings());
        ASSERT_EQ(3u, ours.size());
        for (int k = 0; k < 3; k++) {
            EXPECT_EQ(src[size_t(k)], ours[size_t(k)].samples);
        }
        if (std::system("command -v opj_dump > /dev/null") == 0) {
            EXPECT_EQ(0, std::system(("opj_dump -i " + path + " > /dev/null 2>&1").c_str()));
        }
    }
    // A target that cannot go back: a warning and no TLM.
    memory_target refusing(false);
    written_stream w = write_stream(grid_siz, std::string(grid_coding) + " ORGgen_tlm=2", src, {},
                                    {60000, 1}, &refusing);
    EXPECT_TRUE(warning_seen("does not appear to support rewriting"));
    EXPECT_TRUE(walk_tparts(refusing.bytes).tlm.empty());
    EXPECT_TRUE(walk_tparts(refusing.bytes).reaches_eoc);
}

// Tile-part division by resolution, layer and component gives opj_compress's tile-part
// counts for each tile; PLT lengths equal the packet locator's.
TEST(CodestreamOutput, TilePartDivisionAndPlt)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    const auto src = grid_image();
    const std::string dir = out_dir();
    {
        std::ofstream ppm(dir + "/grid.ppm", std::ios::binary);
        ppm << "P6\n120 90\n255\n";
        for (size_t k = 0; k < src[0].size(); k++)
            for (int c = 0; c < 3; c++)
                ppm.put(char(src[size_t(c)][k]));
    }
    for (const char* order : {"LRCP", "RLCP", "RPCL"})
        for (const char* tp : {"R", "L", "C"}) {
            SCOPED_TRACE(std::string(order) + " " + tp);
            written_stream w = write_stream(grid_siz,
                                            std::string(grid_coding) + " ORGgen_plt=yes Corder=" + order +
                                                " ORGtparts=" + tp,
                                            src, {}, {60000, 1});
            const std::string ref = dir + "/grid_" + order + tp + ".j2k";
            ASSERT_EQ(0, std::system(("opj_compress -i " + dir + "/grid.ppm -o " + ref +
                                      " -t 32,32 -n 3 -r 40,1 -b 8,8 -mct 0 -p " + order + " -TP " + tp +
                                      " > /dev/null 2>&1")
                                         .c_str()));
            std::ifstream in(ref, std::ios::binary);
            std::vector<uint8_t> theirs((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            auto counts = [](const tpart_walk& wk) {
                std::map<int, int> n;
                for (int t : wk.isot)
                    n[t]++;
                return n;
            };
            const tpart_walk mine = walk_tparts(w.bytes);
            EXPECT_TRUE(mine.reaches_eoc);
            EXPECT_EQ(counts(walk_tparts(theirs)), counts(mine));
            // Within each tile the tile-parts come in index order.
            std::map<int, int> next;
            for (size_t k = 0; k < mine.isot.size(); k++) {
                EXPECT_EQ(next[mine.isot[k]]++, mine.tpsot[k]);
            }

            stream_layout with_plt = parse_layout(w.bytes);
            stream_layout located = parse_layout(w.bytes);
            locate_packets(located);
            ASSERT_EQ(with_plt.parts.size(), located.parts.size());
            for (size_t k = 0; k < located.parts.size(); k++) {
                EXPECT_EQ(located.parts[k].plt, with_plt.parts[k].plt) << "tile-part " << k;
            }
            const std::string path = dir + "/grid_ours_" + order + tp + ".j2k";
            save(path, w.bytes);
            std::vector<pgx_image> ours = decode_file(path, decode_settings());
            ASSERT_EQ(3u, ours.size());
            for (int k = 0; k < 3; k++) {
                EXPECT_EQ(src[size_t(k)], ours[size_t(k)].samples);
            }
        }
}

// The limits of tile-part generation and the profile-0 order rule.
TEST(CodestreamOutput, TilePartLimitsAndProfileOrder)
{
    // Psot holds 32 bits: the longest tile-part passes, one byte more is refused before
    // anything of it is written.
    EXPECT_NO_THROW(rv_tpart_generator::check_tpart_length(int64_t(0xFFFFFFFF)));
    EXPECT_NE(std::string::npos,
              error_text([] { rv_tpart_generator::check_tpart_length(int64_t(1) << 32); })
                  .find("exceeds the maximum value which can be represented by the 32-bit length "
                        "field in the SOT marker!  You will have to split the code-stream into "
                        "smaller tile-parts -- see the \"ORGtparts\" parameter attribute."));
    const auto src = grid_image();
    // Layer division with a fixed count too small for it.
    EXPECT_NE(std::string::npos,
              error_text([&] {
                  write_stream(grid_siz, std::string(grid_coding) + " ORGgen_tlm=1 ORGtparts=L", src, {},
                               {60000, 1});
              }).find("has been fixed by the `ORGgen_tlm' parameter attribute to 1."));
    // 256 tile-parts of one tile: a layer each.
    {
        std::mt19937 rng(9);
        const auto small = random_image(rng, 1, 8, 8, 8, false, 0);
        EXPECT_NE(std::string::npos,
                  error_text([&] {
                      write_stream("Ssize={8,8} Ssampling={1,1} Scomponents=1 Sprecision=8 Ssigned=no",
                                   "Clevels=0 Clayers=256 Creversible=yes ORGtparts=L", small, {},
                                   std::vector<uint16_t>(256, 1));
                  }).find("No tile may have more than 255 parts."));
        written_stream ok = write_stream("Ssize={8,8} Ssampling={1,1} Scomponents=1 Sprecision=8 Ssigned=no",
                                         "Clevels=0 Clayers=255 Creversible=yes ORGtparts=L", small, {},
                                         std::vector<uint16_t>(255, 1));
        EXPECT_EQ(255, ok.num_tparts);
    }
    // Tiles coded last-first: their first tile-parts come out of order in profile 0.
    {
        std::mt19937 rng(10);
        const auto img = random_image(rng, 1, 256, 256, 8, false, 30);
        memory_target t;
        rvd_codestream cs;
        create_output(cs,
                      "Ssize={256,256} Ssampling={1,1} Scomponents=1 Sprecision=8 Ssigned=no "
                      "Stiles={128,128} Sprofile=PROFILE0",
                      "Clevels=1 Clayers=2 Creversible=yes", &t);
        EXPECT_TRUE(no_warnings());
        // The last tile is coded first: it heads the output list.
        feed_options reversed;
        reversed.reverse_tiles = true;
        feed_blocks(cs, img, reversed);
        std::vector<uint16_t> thr = {60000, 1};
        cs.flush(nullptr, 2, thr.data());
        EXPECT_TRUE(warning_seen("all first tile-parts of all tiles must appear first"));
        EXPECT_TRUE(walk_tparts(t.bytes).reaches_eoc);
        EXPECT_EQ(3, walk_tparts(t.bytes).isot.front());
        cs.destroy();
    }
}

namespace {

// A 12-bit phantom: nested ellipses over a gentle ramp, with a little noise.
std::vector<int32_t> phantom(int size, std::mt19937& rng)
{
    std::vector<int32_t> v;
    const double c = size / 2.0;
    for (int y = 0; y < size; y++)
        for (int x = 0; x < size; x++) {
            const double dy = (y - c) / c, dx = (x - c) / c;
            double val = 200 + 300.0 * x / size;
            if (dx * dx / 0.8 + dy * dy / 0.95 < 0.8)
                val += 1800;
            if ((dx - 0.2) * (dx - 0.2) + dy * dy * 3 < 0.05)
                val += 900;
            if ((dx + 0.3) * (dx + 0.3) * 4 + (dy + 0.2) * (dy + 0.2) < 0.04)
                val -= 700;
            val += double(rng() % 64);
            v.push_back(int32_t(std::min(4095.0, std::max(0.0, val))));
        }
    return v;
}

// A 512 x 512 phantom of one component, with its raw size and SIZ text.
struct phantom_stream {
    std::vector<std::vector<int32_t>> src;
    const int64_t raw = 512 * 512 * 12 / 8;
    const char* siz = "Ssize={512,512} Ssampling={1,1} Scomponents=1 Sprecision=12 Ssigned=no";
};

phantom_stream phantom_of(unsigned seed)
{
    std::mt19937 rng(seed);
    phantom_stream p;
    p.src = {phantom(512, rng)};
    return p;
}

} // namespace

TEST(RateControl, PhantomTargetsWithFiveLevels)
{
    const phantom_stream ph = phantom_of(512);
    const auto& src = ph.src;
    const int64_t raw = ph.raw;
    const char* siz = ph.siz;
    struct {
        const char* name;
        const char* coding;
        std::vector<int64_t> targets;
    } cases[] = {
        {"plain", "Corder=LRCP Cuse_sop=yes", {raw / 100, raw / 20, raw / 5, 0}},
        {"zeros", "Corder=RPCL", {raw / 100, 0, raw / 20, 0, raw / 5, 0}},
        {"plt_tlm_tparts", "Corder=RLCP ORGgen_plt=yes ORGgen_tlm=6 ORGtparts=R Cprecincts={64,64}",
         {raw / 100, raw / 20, raw / 5, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string coding = std::string("Clevels=5 Creversible=yes Clayers=") +
                                   std::to_string(c.targets.size()) + " " + c.coding;
        written_stream w = write_stream(siz, coding, src, c.targets);
        for (size_t l = 0; l < c.targets.size(); l++) {
            SCOPED_TRACE(l);
            if (l > 0) {
                EXPECT_LE(w.layer_bytes[l - 1], w.layer_bytes[l]);
                EXPECT_LE(w.thresholds[l], w.thresholds[l - 1]);
            }
            if (c.targets[l] == 0)
                continue;
            EXPECT_LE(w.layer_bytes[l], c.targets[l]);
            if (c.targets[l] >= 4096) {
                EXPECT_GE(double(w.layer_bytes[l]), 0.97 * double(c.targets[l]));
            }
        }
        EXPECT_EQ(int64_t(w.bytes.size()), w.layer_bytes.back() + 2);
        std::cout << "[ figures  ] " << c.name << ":";
        for (size_t l = 0; l < c.targets.size(); l++)
            std::cout << " " << w.layer_bytes[l] << "/" << c.targets[l];
        std::cout << "\n";
        if (std::string(c.name) == "plain") {
            // One tile, LRCP, SOP: layer l's first packet starts at the previous layer's size.
            const int per_layer = 6; // one precinct in each of the six resolutions
            for (size_t l = 1; l < c.targets.size(); l++) {
                const uint16_t nsop = uint16_t(l * per_layer);
                size_t at = 0;
                for (size_t p = 0; p + 6 <= w.bytes.size(); p++)
                    if (be(w.bytes, p, 2) == 0xFF91 && be(w.bytes, p + 2, 2) == 4 &&
                        be(w.bytes, p + 4, 2) == nsop) {
                        at = p;
                        break;
                    }
                EXPECT_EQ(w.layer_bytes[l - 1], int64_t(at)) << "layer " << l;
            }
            // Thresholds given back to flush: the same sizes, without a search.
            written_stream again = write_stream(siz, coding, src, {}, w.thresholds);
            EXPECT_EQ(w.layer_bytes, again.layer_bytes);
            EXPECT_EQ(w.bytes, again.bytes);
        }
        if (std::system("command -v opj_decompress > /dev/null") == 0) {
            const std::string path = out_dir() + "/phantom_" + c.name + ".j2k";
            save(path, w.bytes);
            const auto got = outside_decode("opj_decompress", path, out_dir() + "/phantom_" + c.name, 1);
            ASSERT_EQ(1u, got.size());
            EXPECT_EQ(src[0], got[0]);
        }
    }
}

// Trimming to rate fills what the last layer's threshold leaves below its target with
// passes below that threshold, block by block, to within a few bytes; the stream stays
// valid for an outside decoder.
TEST(RateControl, TrimToRateFillsTheLastLayer)
{
    const phantom_stream ph = phantom_of(515);
    const auto& src = ph.src;
    const int64_t raw = ph.raw;
    const char* siz = ph.siz;
    struct {
        const char* name;
        const char* coding;
    } cases[] = {
        {"rpcl", "Corder=RPCL Cprecincts={64,64}"},
        {"plt_sop", "Corder=LRCP Cuse_sop=yes Cuse_eph=yes ORGgen_plt=yes Cprecincts={32,32}"},
        // One precinct per resolution: whole precincts are far too coarse to fill with.
        {"lrcp", "Corder=LRCP"},
    };
    const std::vector<int64_t> targets = {raw / 100, raw / 20, raw / 7};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string coding = std::string("Clevels=5 Creversible=yes Clayers=3 ") + c.coding;
        written_stream plain = write_stream(siz, coding, src, targets, {}, nullptr, 0, nullptr, false);
        written_stream filled = write_stream(siz, coding, src, targets, {}, nullptr, 0, nullptr, true);
        const int64_t before = targets.back() - plain.layer_bytes.back();
        const int64_t after = targets.back() - filled.layer_bytes.back();
        std::cout << "[ figures  ] " << c.name << ": last layer " << plain.layer_bytes.back() << " -> "
                  << filled.layer_bytes.back() << " of " << targets.back() << "\n";
        EXPECT_GE(after, 0);
        EXPECT_LT(after, before);
        EXPECT_LE(after, targets.back() / 1000);
        EXPECT_EQ(plain.layer_bytes[0], filled.layer_bytes[0]);
        EXPECT_EQ(int64_t(filled.bytes.size()), filled.layer_bytes.back() + 2);
        const std::string path = out_dir() + "/fill_" + c.name + ".j2k";
        save(path, filled.bytes);
        std::vector<pgx_image> ours = decode_file(path, decode_settings());
        ASSERT_EQ(1u, ours.size());
        if (std::system("command -v opj_decompress > /dev/null") == 0) {
            const auto got = outside_decode("opj_decompress", path, out_dir() + "/fill_" + c.name, 1);
            ASSERT_EQ(1u, got.size());
            EXPECT_EQ(ours[0].samples, got[0]);
        }
    }
}

// A component's weight in the output image scales its subbands' distortion: the squared
// inverse colour-transform coefficients summed over the outputs (1 without a transform).
TEST(CodestreamOutput, ComponentWeightInMsbWmse)
{
    auto wmse = [](const std::string& coding, int c) {
        memory_target t;
        rvd_codestream cs;
        create_output(cs, "Ssize={64,64} Ssampling={1,1} Scomponents=3 Sprecision=8 Ssigned=no", coding, &t);
        rvd_tile tile = cs.open_tile(rvd_coords(0, 0));
        const double v = tile.access_component(c).access_resolution(1).access_subband(1).get_msb_wmse();
        tile.close();
        cs.destroy();
        return v;
    };
    // Inverse transform coefficients: R = Y + 1.402 Cr, G = Y - 0.344136 Cb - 0.714136 Cr,
    // B = Y + 1.772 Cb; reversibly G = Y - (U + V) / 4, R = V + G, B = U + G.
    const double cr = 1.402, cg = 0.344136, crg = 0.714136, cb = 1.772;
    struct {
        const char* coding;
        double gain[3];
    } cases[] = {
        {"Clevels=1 Creversible=no", {3.0, cg * cg + cb * cb, cr * cr + crg * crg}},
        {"Clevels=1 Creversible=yes", {3.0, 0.75 * 0.75 + 2 * 0.0625, 0.75 * 0.75 + 2 * 0.0625}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.coding);
        for (int c = 0; c < 3; c++) {
            SCOPED_TRACE(c);
            const double without = wmse(std::string(k.coding) + " Cycc=no", c);
            ASSERT_GT(without, 0.0);
            EXPECT_NEAR(k.gain[c], wmse(std::string(k.coding) + " Cycc=yes", c) / without, 1e-5 * k.gain[c]);
        }
    }
}

// The layer-information comment: 125 bytes for three layers, its lines the sizes that
// flush reported; the version comment once.
TEST(CodestreamWrite, LayerInformationCommentMatchesFlush)
{
    std::mt19937 rng(125);
    const auto src = random_image(rng, 1, 64, 64, 10, false, 100);
    written_stream w = write_stream("Ssize={64,64} Ssampling={1,1} Scomponents=1 Sprecision=10 Ssigned=no",
                                    "Clevels=2 Clayers=3 Creversible=yes", src, {1500, 3000, 0});
    memory_source ms(w.bytes);
    rvd_codestream cs;
    cs.create(&ms);
    std::vector<std::string> texts;
    for (auto k = cs.get_comment(rvd_codestream_comment()); k.exists(); k = cs.get_comment(k))
        texts.push_back(k.get_text());
    cs.destroy();
    ASSERT_EQ(2u, texts.size());
    EXPECT_EQ("Ravade-v6.0", texts[0]);
    // Segment length: find the COM holding the text.
    size_t p = 2;
    int com_len = 0;
    while (p + 4 <= w.bytes.size() && be(w.bytes, p, 2) != 0xFF90) {
        if (be(w.bytes, p, 2) == 0xFF64 && w.bytes[p + 6] == 'R' && w.bytes[p + 7] == 'v')
            com_len = int(be(w.bytes, p + 2, 2)) + 2;
        p += 2 + be(w.bytes, p + 2, 2);
    }
    EXPECT_EQ(125, com_len);
    std::istringstream lines(texts[1]);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ("Rvd-Layer-Info: log_2{Delta-D(MSE)/[2^16*Delta-L(bytes)]}, L(bytes)", line);
    for (int l = 0; l < 3; l++) {
        ASSERT_TRUE(bool(std::getline(lines, line)));
        char expect[64];
        std::snprintf(expect, sizeof expect, "%6.1f, %8.1e", (double(w.thresholds[size_t(l)]) - 65536.0) / 256.0,
                      double(w.layer_bytes[size_t(l)]));
        EXPECT_EQ(std::string(expect), line.substr(0, std::string(expect).size()));
    }
}

namespace {

struct incremental_result {
    std::vector<uint8_t> bytes;
    int64_t peak = 0;
    int flushes = 0;
    std::vector<std::vector<int64_t>> layer_bytes; // as each flush reported them
};

// Writes the image flushing at the thresholds (or, with `targets`, to the byte targets)
// whenever a stripe of `stripe` rows is done and a flush can write (stripe 0: one flush
// at the end).
incremental_result write_incrementally(const std::string& siz_text, const std::string& coding,
                                       const std::vector<std::vector<int32_t>>& src,
                                       const std::vector<uint16_t>& thresholds, int stripe,
                                       const std::vector<int64_t>& targets = {})
{
    memory_target t;
    rvd_codestream cs;
    create_output(cs, siz_text, coding, &t);
    incremental_result r;
    try {
        auto flush = [&] {
            std::vector<uint16_t> thr = thresholds;
            std::vector<int64_t> sizes = targets;
            if (sizes.empty())
                cs.flush(nullptr, int(thr.size()), thr.data());
            else
                cs.flush(sizes.data(), int(sizes.size()), nullptr);
            r.layer_bytes.push_back(sizes);
            r.flushes++;
        };
        feed_options fo;
        fo.stripe_rows = stripe;
        if (stripe > 0)
            fo.after_stripe = [&] {
                if (cs.ready_for_flush())
                    flush();
            };
        feed_blocks(cs, src, fo);
        flush();
        r.peak = cs.get_compressed_data_memory(true);
    } catch (...) {
        cs.destroy();
        throw;
    }
    cs.destroy();
    r.bytes = t.bytes;
    return r;
}

} // namespace

// A single tile coded precinct row by row and flushed whenever it can: the same image
// with under half the buffer peak; in LRCP the second flush cannot size written precincts.
TEST(IncrementalFlush, PrecinctRowsAtFixedThresholds)
{
    const gray_plane g = gray_plane_of(1024, 1024, 1024, 24);
    const auto& src = g.src;
    const std::string& siz = g.siz;
    const std::string coding = "Clevels=3 Clayers=2 Cblk={32,32} Creversible=yes "
                               "Cprecincts={128,128},{64,64},{32,32},{16,16} Corder=PCRL";
    const std::vector<uint16_t> thr = {50000, 0};
    incremental_result once = write_incrementally(siz, coding, src, thr, 0);
    incremental_result rows = write_incrementally(siz, coding, src, thr, 128);
    EXPECT_GE(rows.flushes, 8);
    EXPECT_LT(2 * rows.peak, once.peak);
    std::cout << "[ figures  ] buffer peak one-shot " << once.peak << ", by rows " << rows.peak
              << " in " << rows.flushes << " flushes\n";
    const std::string dir = out_dir();
    save(dir + "/incr_once.j2k", once.bytes);
    save(dir + "/incr_rows.j2k", rows.bytes);
    std::vector<pgx_image> a = decode_file(dir + "/incr_once.j2k", decode_settings());
    std::vector<pgx_image> b = decode_file(dir + "/incr_rows.j2k", decode_settings());
    ASSERT_EQ(1u, a.size());
    ASSERT_EQ(1u, b.size());
    EXPECT_EQ(src[0], a[0].samples);
    EXPECT_EQ(src[0], b[0].samples);
    if (std::system("command -v opj_decompress > /dev/null") == 0) {
        const auto got = outside_decode("opj_decompress", dir + "/incr_rows.j2k", dir + "/incr_rows", 1);
        ASSERT_EQ(1u, got.size());
        EXPECT_EQ(src[0], got[0]);
    }
    const std::string lrcp = "Clevels=3 Clayers=2 Cblk={32,32} Creversible=yes "
                             "Cprecincts={128,128},{64,64},{32,32},{16,16} Corder=LRCP";
    EXPECT_NE(std::string::npos,
              error_text([&] { write_incrementally(siz, lrcp, src, thr, 128); })
                  .find("incremental code-stream flushing feature with one of the progression "
                        "orders, LRCP or RLCP."));
}

// Byte targets flushed precinct row by row: each flush spends the budget by the area it
// writes, so the rows come out alike and the targets are met as by one flush.
TEST(IncrementalFlush, ByteTargetsScaleByArea)
{
    const gray_plane g = gray_plane_of(2048, 1024, 1024, 24);
    const auto& src = g.src;
    const std::string& siz = g.siz;
    const std::string coding = "Clevels=3 Clayers=2 Cblk={32,32} Creversible=yes "
                               "Cprecincts={128,128},{64,64},{32,32},{16,16} Corder=PCRL";
    const std::vector<int64_t> targets = {20000, 80000};
    incremental_result once = write_incrementally(siz, coding, src, {}, 0, targets);
    incremental_result rows = write_incrementally(siz, coding, src, {}, 128, targets);
    ASSERT_GE(rows.flushes, 8);
    std::cout << "[ figures  ] one flush " << once.layer_bytes.back()[0] << "/"
              << once.layer_bytes.back()[1] << ", " << rows.flushes << " flushes";
    for (const auto& lb : rows.layer_bytes)
        std::cout << " " << lb[0] << "/" << lb[1];
    std::cout << "\n";
    for (size_t l = 0; l < targets.size(); l++) {
        SCOPED_TRACE(l);
        const int64_t got = rows.layer_bytes.back()[l];
        EXPECT_LE(got, targets[l]);
        EXPECT_GE(double(got), 0.9 * double(targets[l]));
        // The first row (an eighth of the image) takes about its share, not the budget.
        EXPECT_LT(double(rows.layer_bytes.front()[l]), 0.25 * double(targets[l]));
    }
    EXPECT_EQ(int64_t(rows.bytes.size()), rows.layer_bytes.back()[1] + 2);
    // Rows alike: the error of the top and bottom halves within a factor 1.5 of each other
    // and of the one-flush stream's.
    const std::string dir = out_dir();
    save(dir + "/incr_targets_once.j2k", once.bytes);
    save(dir + "/incr_targets_rows.j2k", rows.bytes);
    auto half_errors = [&](const std::string& path) {
        std::vector<pgx_image> img = decode_file(path, decode_settings());
        double e[2] = {0, 0};
        if (img.size() != 1 || img[0].samples.size() != src[0].size())
            return std::make_pair(-1.0, -1.0);
        for (size_t k = 0; k < src[0].size(); k++) {
            const double d = double(img[0].samples[k]) - double(src[0][k]);
            e[k < src[0].size() / 2 ? 0 : 1] += d * d;
        }
        return std::make_pair(e[0], e[1]);
    };
    const auto a = half_errors(dir + "/incr_targets_once.j2k");
    const auto b = half_errors(dir + "/incr_targets_rows.j2k");
    std::cout << "[ figures  ] squared error top/bottom: one flush " << a.first << "/" << a.second
              << ", by rows " << b.first << "/" << b.second << "\n";
    ASSERT_GT(b.first, 0.0);
    EXPECT_LT(std::max(b.first, b.second) / std::min(b.first, b.second), 1.5);
    EXPECT_LT(b.first + b.second, 1.5 * (a.first + a.second));
}

// A 4 x 4-tile codestream written in fragments of tile rows equals the one-shot stream
// byte for byte, TLM included.
TEST(IncrementalFlush, FragmentsOfTileRows)
{
    const gray_plane g = gray_plane_of(44, 100, 96, 50);
    const auto& src = g.src;
    const std::string siz_text = g.siz + " Stiles={25,24}";
    const std::string coding = "Clevels=2 Clayers=1 Cblk={8,8} Creversible=yes ORGgen_tlm=1";
    auto write = [&](int fragments) {
        memory_target t;
        int tiles_before = 0;
        int64_t bytes_before = 0;
        const int rows = 4 / fragments;
        std::vector<bool> last;
        for (int f = 0; f < fragments; f++) {
            rvd_dims region(rvd_coords(25 * rows * f, 0), rvd_coords(25 * rows, 96));
            rvd_codestream cs;
            create_output(cs, siz_text, coding, &t, &region, tiles_before, bytes_before);
            feed_blocks(cs, src);
            int64_t target = 0;
            cs.flush(&target, 1, nullptr, true, false);
            last.push_back(cs.is_last_fragment());
            tiles_before += 4 * rows;
            bytes_before += cs.get_total_bytes(true);
            cs.destroy();
        }
        EXPECT_TRUE(last.back());
        for (size_t k = 0; k + 1 < last.size(); k++) {
            EXPECT_FALSE(last[k]);
        }
        return t.bytes;
    };
    const std::vector<uint8_t> whole = write(1);
    const tpart_walk walk = walk_tparts(whole);
    EXPECT_TRUE(walk.reaches_eoc);
    EXPECT_EQ(walk.psot, walk.tlm);
    EXPECT_EQ(16u, walk.psot.size());
    EXPECT_EQ(whole, write(2));
    EXPECT_EQ(whole, write(4));

    siz_params siz;
    parse_into(siz, siz_text);
    memory_target t;
    auto create_text = [&](rvd_dims region, int before) {
        return error_text([&] {
            rvd_codestream cs;
            cs.create(&siz, &t, &region, before, 0);
            cs.destroy();
        });
    };
    EXPECT_NE(std::string::npos, create_text(rvd_dims(rvd_coords(0, 0), rvd_coords(0, 96)), 0).find("is empty."));
    EXPECT_NE(std::string::npos,
              create_text(rvd_dims(rvd_coords(0, 0), rvd_coords(30, 96)), 0).find("whole number of tiles"));
    EXPECT_NE(std::string::npos,
              create_text(rvd_dims(rvd_coords(0, 0), rvd_coords(50, 96)), 12).find("represents too many tiles"));
}

namespace {

// Random coefficients for a block, coded and marked for three layers: the last pass of
// layer l carries slope 0xFFFF - l, the others none (as transcoded blocks are).
void fill_block(rvd_block* blk, uint32_t seed, int layers)
{
    std::mt19937 rng(seed);
    const int K = blk->magnitude_planes;
    const int n = blk->size.y * blk->size.x;
    if (blk->max_samples < n)
        blk->set_max_samples(n);
    uint32_t any = 0;
    const int planes = std::min(K, 6);
    for (int k = 0; k < n; k++) {
        const uint32_t mag = uint32_t(rng() % (1u << planes)) << (31 - K);
        any |= mag;
        blk->sample_buffer[k] = int32_t(mag | ((rng() & 1) ? 0x80000000u : 0u));
    }
    const int missing = any == 0 ? K : __builtin_clz(any) - 1;
    blk->missing_msbs = missing;
    blk->num_passes = any == 0 ? 0 : 3 * (K - missing) - 2;
    static rvd_block_encoder encoder;
    encoder.encode(blk, true, 1.0, 0);
    for (int z = 0; z < blk->num_passes; z++) {
        const int layer = z * layers / blk->num_passes;
        const bool last = (z + 1) * layers / blk->num_passes != layer || z + 1 == blk->num_passes;
        blk->pass_slopes[z] = last ? uint16_t(0xFFFF - layer) : 0;
    }
}

uint32_t block_seed(int res, int band, rvd_coords idx)
{
    return uint32_t(res * 1000003 + band * 10007 + idx.y * 101 + idx.x);
}

} // namespace

// Precincts of an interchange codestream hand out the packets that writing the same
// blocks into a codestream gives; leading packets and bytes can be skipped.
TEST(Interchange, PrecinctPacketsEqualWrittenOnes)
{
    init_block_coding_tables();
    const std::string siz_text = "Ssize={64,64} Ssampling={1,1} Scomponents=1 Sprecision=8 Ssigned=no";
    const std::string coding = "Clevels=2 Clayers=3 Cblk={8,8} Creversible=yes Cprecincts={16,16} Corder=RLCP";
    auto make = [&](rvd_codestream& cs, memory_target* t) { create_output(cs, siz_text, coding, t); };
    // The written codestream, through the subbands.
    memory_target target;
    {
        rvd_codestream cs;
        make(cs, &target);
        rvd_tile tile = cs.open_tile(rvd_coords(0, 0));
        visit_tile_blocks(tile, [](const block_place& at, const rvd_subband&, rvd_block* blk) {
            fill_block(blk, block_seed(at.res, at.band, at.idx), 3);
        });
        tile.close();
        std::vector<uint16_t> thr = {65534, 65533, 65532};
        cs.flush(nullptr, 3, thr.data(), true, false);
        cs.destroy();
    }
    const std::string path = out_dir() + "/interchange_ref.j2k";
    save(path, target.bytes);
    if (std::system("command -v opj_decompress > /dev/null") == 0) {
        EXPECT_EQ(0, std::system(("opj_decompress -i " + path + " -o " + out_dir() +
                                  "/interchange_ref.pgx > /dev/null 2>&1")
                                     .c_str()));
    }
    stream_layout L = parse_layout(target.bytes);
    locate_packets(L);
    const std::vector<layout_packet> written = tile_packets(L, 0);

    // The interchange codestream, through its precincts.
    rvd_codestream ic;
    make(ic, nullptr);
    rvd_tile tile = ic.open_tile(rvd_coords(0, 0));
    rvd_tile_comp tc = tile.access_component(0);
    int compared = 0;
    for (int r = 0; r < tc.get_num_resolutions(); r++) {
        rvd_resolution res = tc.access_resolution(r);
        rvd_dims precincts;
        res.get_valid_precincts(precincts);
        for (int py = 0; py < precincts.size.y; py++)
            for (int px = 0; px < precincts.size.x; px++) {
                rvd_precinct p = res.open_precinct(rvd_coords(precincts.pos.y + py, precincts.pos.x + px));
                ASSERT_TRUE(p.exists());
                int min_b = 0;
                const int nb = res.get_valid_band_indices(min_b);
                for (int b = min_b; b < min_b + nb; b++) {
                    rvd_dims blocks;
                    if (!p.get_valid_blocks(b, blocks))
                        continue;
                    for (int y = 0; y < blocks.size.y; y++)
                        for (int x = 0; x < blocks.size.x; x++) {
                            const rvd_coords idx(blocks.pos.y + y, blocks.pos.x + x);
                            rvd_block* blk = p.open_block(b, idx);
                            fill_block(blk, block_seed(r, b, idx), 3);
                            p.close_block(blk);
                        }
                }
                EXPECT_TRUE(p.check_loaded());
                int packets = 3, bytes = 0;
                bool significant = false;
                ASSERT_TRUE(p.size_packets(packets, bytes, significant));
                EXPECT_EQ(3, packets);
                // The written packets of this precinct, in layer order.
                std::vector<uint8_t> expect;
                std::vector<size_t> lengths;
                const int prec = py * precincts.size.x + px;
                for (const layout_packet& pk : written)
                    if (pk.res == r && pk.prec == prec) {
                        expect.insert(expect.end(), target.bytes.begin() + long(pk.offset),
                                      target.bytes.begin() + long(pk.offset + pk.length));
                        lengths.push_back(pk.length);
                    }
                ASSERT_EQ(3u, lengths.size());
                EXPECT_EQ(int(expect.size()), bytes);
                rv_bytes_output got;
                int gp = 3, gb = 0;
                ASSERT_TRUE(p.get_packets(0, 0, gp, gb, &got));
                EXPECT_EQ(expect, got.finish());
                // Skipping the first packet leaves the tail of the sequence.
                ASSERT_TRUE(p.size_packets(packets, bytes, significant));
                rv_bytes_output tail;
                gp = 3;
                gb = 0;
                ASSERT_TRUE(p.get_packets(1, 0, gp, gb, &tail));
                EXPECT_EQ(std::vector<uint8_t>(expect.begin() + long(lengths[0]), expect.end()),
                          tail.finish());
                EXPECT_EQ(int(expect.size()), gb);
                compared++;
                p.close();
            }
    }
    EXPECT_GT(compared, 10);
    tile.close();
    ic.destroy();

    // Precincts belong to interchange codestreams only.
    rvd_codestream out;
    memory_target t2;
    make(out, &t2);
    rvd_tile t0 = out.open_tile(rvd_coords(0, 0));
    EXPECT_NE(std::string::npos,
              error_text([&] { t0.access_component(0).access_resolution(0).open_precinct(rvd_coords(0, 0)); })
                  .find("permitted only with interchange codestream objects"));
    out.destroy();
}

// A byte budget lets passes go early: a lower buffer peak, the same targets met.
TEST(RateControl, TrimmingUnderMaxBytes)
{
    const phantom_stream ph = phantom_of(513);
    const auto& src = ph.src;
    const int64_t raw = ph.raw;
    const char* siz = ph.siz;
    const std::string coding = "Clevels=5 Creversible=yes Clayers=3 Corder=RPCL";
    const std::vector<int64_t> targets = {raw / 100, raw / 20, raw / 10};
    written_stream plain = write_stream(siz, coding, src, targets);
    written_stream trimmed = write_stream(siz, coding, src, targets, {}, nullptr, raw / 10);
    std::cout << "[ figures  ] buffer peak " << plain.peak << " untrimmed, " << trimmed.peak
              << " under set_max_bytes\n";
    EXPECT_LT(trimmed.peak, plain.peak);
    for (size_t l = 0; l < targets.size(); l++) {
        EXPECT_LE(trimmed.layer_bytes[l], targets[l]);
        EXPECT_GE(double(trimmed.layer_bytes[l]), 0.97 * double(targets[l]));
    }
    // Called twice: refused.
    siz_params sp;
    parse_into(sp, siz);
    memory_target t;
    rvd_codestream cs;
    cs.create(&sp, &t, nullptr);
    cs.set_max_bytes(1000);
    EXPECT_NE(std::string::npos, error_text([&] { cs.set_max_bytes(2000); })
                                     .find("\"rvd_codestream::set_max_bytes\" may not be called multiple times."));
    cs.destroy();
}

// Irreversible streams without levels decode within a step (plus 1) of the source, and
// outside decoders within 1 of ours.
TEST(CodestreamOutput, IrreversibleWithoutLevels)
{
    ORBEL_REQUIRE_TOOL("opj_decompress", "libopenjp2-tools");
    struct {
        int precision;
        bool is_signed;
        const char* step;
        double step_value;
    } cases[] = {{8, false, "0.00390625", 1.0 / 256}, {8, true, "0.015625", 1.0 / 64},
                 {12, false, "0.015625", 1.0 / 64}};
    std::mt19937 rng(256);
    const std::string dir = out_dir();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        const auto src = random_image(rng, 1, 40, 50, c.precision, c.is_signed, 0);
        std::ostringstream siz;
        siz << "Ssize={40,50} Ssampling={1,1} Scomponents=1 Sprecision=" << c.precision
            << " Ssigned=" << (c.is_signed ? "yes" : "no");
        const std::string coding =
            std::string("Clevels=0 Clayers=1 Cblk={16,16} Creversible=no Qstep=") + c.step;
        written_stream w = write_stream(siz.str(), coding, src, {0});
        const std::string path = dir + "/irrev_" + std::to_string(c.precision) + c.step + ".j2k";
        save(path, w.bytes);
        std::vector<pgx_image> ours = decode_file(path, decode_settings());
        ASSERT_EQ(1u, ours.size());
        const double step = c.step_value * double(int64_t(1) << c.precision);
        for (size_t k = 0; k < src[0].size(); k++) {
            ASSERT_LE(std::abs(ours[0].samples[k] - src[0][k]), step + 1) << k;
        }
        for (const std::string tool : {"opj_decompress", "grk_decompress"}) {
            if (std::system(("command -v " + tool + " > /dev/null").c_str()) != 0)
                continue;
            const auto got = outside_decode(tool, path, dir + "/irrev_" + tool, 1);
            ASSERT_EQ(1u, got.size()) << tool;
            for (size_t k = 0; k < src[0].size(); k++) {
                ASSERT_LE(std::abs(got[0][k] - src[0][k]), step + 1) << tool << " " << k;
                ASSERT_LE(std::abs(got[0][k] - ours[0].samples[k]), 1) << tool << " " << k;
            }
        }
    }
}

namespace {

// opj_decompress's components of a file as PGX sample lists; `layers` 0 for all.
std::vector<std::vector<int32_t>> opj_components(const std::string& path, const std::string& stem,
                                                 int layers)
{
    std::system(("rm -f " + stem + "*.pgx").c_str());
    const std::string extra = layers > 0 ? " -l " + std::to_string(layers) : "";
    if (std::system(("opj_decompress -i " + path + " -o " + stem + ".pgx" + extra +
                     " > /dev/null 2>&1")
                        .c_str()) != 0)
        return {};
    std::vector<std::vector<int32_t>> out;
    for (int k = 0;; k++) {
        std::string f = stem + "_" + std::to_string(k) + ".pgx";
        if (!std::ifstream(f)) {
            if (k == 0 && std::ifstream(stem + ".pgx"))
                out.push_back(read_pgx(stem + ".pgx").samples);
            break;
        }
        out.push_back(read_pgx(f).samples);
    }
    return out;
}

} // namespace

// The conformance codestreams written again by trans_out without a budget decode as
// their inputs.
TEST(IncrementalFlush, TransOutOfConformanceStreams)
{
    ORBEL_REQUIRE_TOOL("opj_decompress", "libopenjp2-tools");
    const std::string dir = std::string(ORBEL_CONFORMANCE_DIR) + "/codestreams";
    const std::string out = out_dir();
    int done = 0;
    for (const char* name : {"p0_01", "p0_02", "p0_03", "p0_04", "p0_05", "p0_06", "p0_08", "p0_09",
                             "p0_10", "p0_11", "p0_12", "p0_13", "p0_14", "p0_15", "p0_16", "p1_01",
                             "p1_02", "p1_03", "p1_04", "p1_05", "p1_06", "p1_07"}) {
        SCOPED_TRACE(name);
        const std::string in_path = dir + "/" + name + ".j2k";
        if (!std::ifstream(in_path))
            continue;
        memory_target t;
        transcode_result r;
        ASSERT_NO_THROW(r = transcode(read_file(in_path), &t, 0));
        EXPECT_EQ(int(r.layer_bytes.size()), r.layers);
        EXPECT_EQ(int64_t(t.bytes.size()), r.layer_bytes.back() + 2);
        const std::string out_path = out + "/trans_" + name + ".j2k";
        save(out_path, t.bytes);
        const auto a = opj_components(in_path, out + "/trans_in_" + name, 0);
        const auto b = opj_components(out_path, out + "/trans_out_" + name, 0);
        ASSERT_FALSE(b.empty());
        EXPECT_EQ(a, b);
        done++;
    }
    EXPECT_GE(done, 20);
}

// Budgets between layer sizes keep the most layers that fit.
TEST(IncrementalFlush, TransOutBudgets)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    const std::string dir = out_dir();
    std::mt19937 rng(9);
    const auto img = random_image(rng, 1, 96, 128, 8, false, 80);
    {
        std::ofstream pgm(dir + "/budget.pgm", std::ios::binary);
        pgm << "P5\n128 96\n255\n";
        for (int32_t v : img[0])
            pgm.put(char(v));
    }
    const std::string in_path = dir + "/budget_in.j2k";
    ASSERT_EQ(0, std::system(("opj_compress -i " + dir + "/budget.pgm -o " + in_path +
                              " -r 60,20,8,1 -n 4 -t 64,64 > /dev/null 2>&1")
                                 .c_str()));
    const std::vector<uint8_t> input = read_file(in_path);
    memory_target full;
    const transcode_result all = transcode(input, &full, 0);
    ASSERT_EQ(4, all.layers);
    for (int L = 1; L < 4; L++) {
        SCOPED_TRACE(L);
        const int64_t budget = (all.layer_bytes[size_t(L - 1)] + all.layer_bytes[size_t(L)]) / 2 + 2;
        memory_target t;
        const transcode_result r = transcode(input, &t, budget);
        EXPECT_EQ(L, r.layers);
        EXPECT_LE(int64_t(t.bytes.size()), budget);
        const std::string out_path = dir + "/budget_out" + std::to_string(L) + ".j2k";
        save(out_path, t.bytes);
        EXPECT_EQ(opj_components(in_path, dir + "/budget_in_l", L),
                  opj_components(out_path, dir + "/budget_out_l", 0));
    }
    memory_target tiny;
    EXPECT_NE(std::string::npos, error_text([&] { transcode(input, &tiny, 40); })
                                     .find("You have set the byte limit too low."));
}

// Blocks coded as jobs of four threads give the unthreaded codestream byte for byte, and
// byte targets are met the same way.
TEST(WritingConcurrency, FourThreadsWriteTheUnthreadedStream)
{
    std::mt19937 rng(4);
    const auto src = random_image(rng, 2, 150, 130, 10, false, 90);
    const std::string siz =
        "Ssize={150,130} Ssampling={1,1} Scomponents=2 Sprecision=10 Ssigned=no Stiles={64,64}";
    const std::string coding = "Clevels=3 Clayers=3 Cblk={16,16} Creversible=yes Corder=RPCL";
    auto write = [&](rvd_thread_env* env, std::vector<int64_t> targets) {
        memory_target t;
        rvd_codestream cs;
        create_output(cs, siz, coding, &t);
        feed_options fo;
        fo.env = env;
        feed_blocks(cs, src, fo);
        cs.flush(targets.data(), int(targets.size()), nullptr, true, true, 0.0, env);
        EXPECT_EQ(0, cs.get_compressed_data_memory(false) > 0 ? 1 : 0);
        cs.destroy();
        return std::make_pair(t.bytes, targets);
    };
    const std::vector<int64_t> targets = {2000, 8000, 0};
    const auto plain = write(nullptr, targets);
    rvd_thread_env env;
    env.create();
    for (int k = 0; k < 3; k++) {
        ASSERT_TRUE(env.add_thread());
    }
    const auto threaded = write(&env, targets);
    env.destroy();
    EXPECT_EQ(plain.first, threaded.first);
    EXPECT_EQ(plain.second, threaded.second);
    EXPECT_LE(threaded.second[0], 2000);
    EXPECT_LE(threaded.second[1], 8000);
}

// Early trimming with the statistics of four threads merged as they go: the buffer peak
// falls as unthreaded, and the targets are met.
TEST(WritingConcurrency, ThreadsTrimUnderMaxBytes)
{
    const phantom_stream ph = phantom_of(514);
    const auto& src = ph.src;
    const int64_t raw = ph.raw;
    const char* siz = ph.siz;
    const std::string coding = "Clevels=5 Creversible=yes Clayers=3 Corder=RPCL Cblk={32,32}";
    const std::vector<int64_t> targets = {raw / 100, raw / 20, raw / 10};
    rvd_thread_env env;
    env.create();
    for (int k = 0; k < 3; k++) {
        ASSERT_TRUE(env.add_thread());
    }
    written_stream plain = write_stream(siz, coding, src, targets, {}, nullptr, 0, &env);
    written_stream trimmed = write_stream(siz, coding, src, targets, {}, nullptr, raw / 10, &env);
    env.destroy();
    std::cout << "[ figures  ] threaded buffer peak " << plain.peak << " untrimmed, " << trimmed.peak
              << " under set_max_bytes\n";
    // The threads' buffer reserves count in both peaks.
    EXPECT_LT(3 * trimmed.peak, 2 * plain.peak);
    for (size_t l = 0; l < targets.size(); l++) {
        EXPECT_LE(trimmed.layer_bytes[l], targets[l]);
        EXPECT_GE(double(trimmed.layer_bytes[l]), 0.97 * double(targets[l]));
    }
}

// Main headers of the conformance codestreams, read into the parameters and generated
// again, give back every marker segment byte for byte (comments, TLM and PPM aside). The
// order of segments after SIZ is free and follows the parameter clusters.
TEST(CodestreamWrite, ConformanceMainHeadersRegenerate)
{
    const std::string dir = std::string(ORBEL_CONFORMANCE_DIR) + "/codestreams";
    auto segments = [](const std::vector<uint8_t>& b, size_t p, size_t end, bool skip_free) {
        std::vector<std::vector<uint8_t>> segs;
        while (p + 4 <= end && be(b, p, 2) != 0xFF90) {
            const uint32_t code = be(b, p, 2);
            if (code >= 0xFF30 && code <= 0xFF3F) { // no segment follows these
                p += 2;
                continue;
            }
            const uint32_t len = be(b, p + 2, 2);
            if (!skip_free || (code != 0xFF64 && code != 0xFF55 && code != 0xFF60 && code != 0xFF57))
                segs.emplace_back(b.begin() + long(p), b.begin() + long(p + 2 + len));
            p += 2 + len;
        }
        return segs;
    };
    int same = 0;
    for (const char* name : {"p0_01", "p0_02", "p0_03", "p0_04", "p0_05", "p0_06", "p0_08", "p0_09",
                             "p0_10", "p0_11", "p0_12", "p0_13", "p0_14", "p0_15", "p0_16", "p1_01",
                             "p1_02", "p1_03", "p1_04", "p1_05", "p1_06", "p1_07"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> b = read_file(dir + "/" + name + ".j2k");
        ASSERT_GT(b.size(), 4u);
        auto expect = segments(b, 2, b.size(), true);
        memory_source ms(b);
        rvd_codestream cs;
        cs.create(&ms);
        cs.access_siz()->clear_marks();
        rv_bytes_output o;
        cs.access_siz()->generate_marker_segments(&o, -1, 0);
        cs.destroy();
        const std::vector<uint8_t>& mine = o.finish();
        auto got = segments(mine, 0, mine.size(), false);
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(expect.front(), got.front()); // SIZ first
        std::sort(expect.begin(), expect.end());
        std::sort(got.begin(), got.end());
        EXPECT_EQ(expect, got);
        same += expect == got ? 1 : 0;
    }
    EXPECT_EQ(22, same);
}

namespace {

int count_of(const std::vector<uint8_t>& b, const std::string& text)
{
    int n = 0;
    for (auto it = b.begin(); (it = std::search(it, b.end(), text.begin(), text.end())) != b.end(); ++it)
        n++;
    return n;
}

} // namespace

// The version comment appears once, also after incremental flushes and trans_out; a
// restarted output codestream writes the same stream again to its new target.
TEST(CodestreamWrite, VersionCommentOnceAndRestart)
{
    const gray_plane g = gray_plane_of(60, 256, 128, 30);
    const auto& src = g.src;
    const std::string& siz = g.siz;
    const std::string coding = "Clevels=2 Clayers=2 Cblk={16,16} Creversible=yes "
                               "Cprecincts={32,32},{16,16},{8,8} Corder=PCRL";
    incremental_result rows = write_incrementally(siz, coding, src, {50000, 0}, 32);
    EXPECT_GT(rows.flushes, 2);
    EXPECT_EQ(1, count_of(rows.bytes, "Ravade-v6.0"));
    memory_target t;
    transcode(rows.bytes, &t, 0);
    EXPECT_EQ(1, count_of(t.bytes, "Ravade-v6.0"));

    siz_params sp;
    parse_into(sp, siz);
    memory_target first, second;
    rvd_codestream cs;
    cs.create(&sp, &first, nullptr);
    cs.enable_restart();
    apply_coding(cs, coding);
    for (memory_target* target : {&first, &second}) {
        if (target == &second)
            cs.restart(target);
        feed_blocks(cs, src);
        std::vector<uint16_t> thr = {50000, 0};
        cs.flush(nullptr, 2, thr.data());
    }
    EXPECT_NE(std::string::npos,
              error_text([&] {
                  rvd_tile open = cs.open_tile(rvd_coords(0, 0));
                  (void)open;
              }).find("already been discarded or closed"));
    cs.destroy();
    EXPECT_FALSE(first.bytes.empty());
    EXPECT_EQ(first.bytes, second.bytes);
}

namespace {

// Passes and bytes of every code-block of a codestream read under a byte limit (0: none)
// with at most `layers` layers (0: all).
std::vector<std::pair<int, std::vector<uint8_t>>> read_blocks(const std::vector<uint8_t>& bytes,
                                                              int64_t limit, bool simulate, int layers)
{
    memory_source ms(bytes);
    rvd_codestream cs;
    cs.create(&ms);
    std::vector<std::pair<int, std::vector<uint8_t>>> out;
    try {
        if (layers > 0)
            cs.apply_input_restrictions(0, 0, 0, layers, nullptr);
        if (limit > 0)
            cs.set_max_bytes(limit, simulate);
        // The streams read here have one component.
        visit_blocks(cs, [&](const block_place& at, const rvd_subband&, rvd_block* blk) {
            block_data d = record_block(at, blk);
            out.emplace_back(d.num_passes, std::move(d.bytes));
        });
    } catch (...) {
        cs.destroy();
        throw;
    }
    cs.destroy();
    return out;
}

} // namespace

// A byte limit on input: the blocks of the stream cut there; in simulate-parsing mode only
// wanted packets count, so the wanted layer comes whole within its own size.
TEST(RateControl, InputByteLimits)
{
    const gray_plane g = gray_plane_of(31, 96, 96, 60);
    const auto& src = g.src;
    const std::string& siz = g.siz;
    written_stream w = write_stream(siz, "Clevels=2 Clayers=3 Cblk={16,16} Creversible=yes Corder=RPCL "
                                         "Cprecincts={16,16}",
                                    src, {}, {50000, 40000, 0});
    const int64_t cut = w.layer_bytes[1] / 2;
    const std::vector<uint8_t> head(w.bytes.begin(), w.bytes.begin() + long(cut));
    EXPECT_EQ(read_blocks(head, 0, false, 0), read_blocks(w.bytes, cut, false, 0));
    // Layer 0 alone: its packets and the headers fit in the layer's reported size.
    const auto first_layer = read_blocks(w.bytes, 0, false, 1);
    EXPECT_EQ(first_layer, read_blocks(w.bytes, w.layer_bytes[0], true, 1));
    EXPECT_NE(first_layer, read_blocks(w.bytes, w.layer_bytes[0], false, 1));
    EXPECT_NE(std::string::npos, error_text([&] { read_blocks(w.bytes, 20, false, 0); })
                                     .find("bytes is insufficient to accomodate even the main header!"));
}

// Misuse and corner cases of flushing: a changed number of layer specifications, and a
// target too small to hold even the headers before an unspecified one.
TEST(RateControl, FlushMisuseAndTinyTargets)
{
    const gray_plane g = gray_plane_of(17, 64, 64, 40);
    const auto& src = g.src;
    const std::string& siz = g.siz;
    const std::string coding = "Clevels=2 Clayers=3 Cblk={16,16} Creversible=yes Corder=PCRL "
                               "Cprecincts={16,16}";
    // A first target below the headers: the unspecified one between still gets a finite size.
    written_stream w = write_stream(siz, coding, src, {10, 0, 2000});
    EXPECT_GT(w.layer_bytes[1], w.layer_bytes[0]);
    EXPECT_LE(w.layer_bytes[1], w.layer_bytes[2]);
    EXPECT_LE(w.layer_bytes[2], 2000);

    memory_target t;
    rvd_codestream cs;
    create_output(cs, siz, coding, &t);
    feed_options fo;
    fo.stripe_rows = 16;
    int flushes = 0;
    fo.after_stripe = [&] {
        if (flushes++ == 0) {
            std::vector<uint16_t> thr = {50000, 40000, 0};
            cs.flush(nullptr, 3, thr.data());
        }
    };
    feed_blocks(cs, src, fo);
    std::vector<uint16_t> four = {50000, 40000, 30000, 0};
    EXPECT_NE(std::string::npos, error_text([&] { cs.flush(nullptr, 4, four.data()); })
                                     .find("must provide the same number of quality layer specifications."));
    cs.destroy();
}
