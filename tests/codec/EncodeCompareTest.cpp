// Streams written through the encode library, judged by decoders other than ours:
// opj_decompress, grk_decompress and our decode library (two of three decide a
// disagreement, which is reported). Geometries beside those tools/encode's script covers;
// a region of interest on the CT phantom at a low rate; and every conformance codestream,
// decoded by us and re-encoded losslessly with its own geometry, given back exactly by
// opj_decompress.
#include "tests/codec/support/decode_cases.h"
#include "tests/codec/support/memory_target.h"
#include "tests/support/TestTools.h"
#include "tools/encode/image_encoder.h"
#include "tools/encode/image_readers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace {

using namespace codec_test;
namespace fs = std::filesystem;

// One folder per test: CTest runs the tests of this suite side by side.
fs::path work_dir()
{
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    fs::path d = fs::path(ORBEL_BINARY_DIR) / "encode_compare" / (info != nullptr ? info->name() : "any");
    fs::create_directories(d);
    return d;
}

void write_file(const fs::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<std::string> words(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

// The components an outside program decodes `stream` to, or empty when it fails.
std::vector<pgx_image> outside_decode(const std::string& program, const fs::path& stream, int comps)
{
    const fs::path stem = work_dir() / (program + "_out");
    for (int c = 0; c < comps; c++)
        fs::remove(stem.string() + "_" + std::to_string(c) + ".pgx");
    fs::remove(stem.string() + ".pgx");
    const std::string cmd = program + " -i '" + stream.string() + "' -o '" + stem.string() +
                            ".pgx' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0)
        return {};
    std::vector<pgx_image> out;
    try {
        if (comps == 1 && fs::exists(stem.string() + ".pgx"))
            return {read_pgx(stem.string() + ".pgx")};
        for (int c = 0; c < comps; c++)
            out.push_back(read_pgx(stem.string() + "_" + std::to_string(c) + ".pgx"));
    } catch (const std::exception&) {
        return {};
    }
    return out;
}

bool same_samples(const std::vector<encode_component>& image, const std::vector<pgx_image>& got)
{
    if (got.size() != image.size())
        return false;
    for (size_t c = 0; c < image.size(); c++)
        if (got[c].width != image[c].width || got[c].height != image[c].height ||
            got[c].samples != image[c].samples)
            return false;
    return true;
}

// Writes `image` to a file and returns which decoders give it back exactly.
std::vector<std::string> exact_decoders(const std::vector<encode_component>& image,
                                        const encode_settings& s, const fs::path& stream,
                                        bool with_grk = true)
{
    memory_target t;
    encode_components(image, s, &t);
    write_file(stream, t.bytes);
    std::vector<std::string> exact;
    std::vector<pgx_image> ours;
    try {
        ours = decode_file(stream.string(), decode_settings());
    } catch (const std::exception& e) {
        ADD_FAILURE() << "our decoder: " << e.what();
    }
    if (same_samples(image, ours))
        exact.push_back("ours");
    for (const char* program : {"opj_decompress", "grk_decompress"}) {
        if (!with_grk && std::string(program) == "grk_decompress")
            continue;
        if (same_samples(image, outside_decode(program, stream, int(image.size()))))
            exact.push_back(program);
    }
    return exact;
}

std::vector<encode_component> make_image(int w, int h, int comps, int depth, bool is_signed,
                                         unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<encode_component> image(static_cast<size_t>(comps));
    const int64_t lo = is_signed ? -(int64_t(1) << (depth - 1)) : 0;
    const int64_t span = int64_t(1) << depth;
    for (int c = 0; c < comps; c++) {
        encode_component& ec = image[size_t(c)];
        ec.width = w;
        ec.height = h;
        ec.depth = depth;
        ec.is_signed = is_signed;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                // Smooth ramps with some noise, so every bit-plane has something to code.
                const int64_t v = (x * 11 + y * 5 + c * 37) * std::max<int64_t>(1, span / 211) +
                                  int64_t(rng() % 5);
                ec.samples.push_back(int32_t(lo + v % span));
            }
    }
    return image;
}

struct geometry_case {
    const char* name;
    int w, h, comps, depth;
    bool is_signed;
    const char* attributes;
    // Progression changes: each decoder must give the samples back, ours and both outside
    // ones, since their readings of a progression's component end have differed.
    bool all_three = false;
};

// The geometries tools/encode/check_j2k_encode.py leaves out: the full-size image, the
// remaining depths, levels 1 and 6, progression changes, more mode sets, layer counts
// and block shapes.
const geometry_case geometries[] = {
    {"512 x 512 12-bit", 512, 512, 1, 12, false, ""},
    {"grey 2", 40, 30, 1, 2, false, "Clevels=1"},
    {"grey 3 signed", 40, 30, 1, 3, true, "Clevels=2"},
    {"grey 6", 45, 33, 1, 6, false, "Clevels=6"},
    {"grey 7 signed", 45, 33, 1, 7, true, ""},
    {"grey 10", 50, 41, 1, 10, false, "Clayers=4"},
    {"grey 11 signed", 50, 41, 1, 11, true, "Clayers=5 Corder=RPCL"},
    {"grey 14", 36, 52, 1, 14, false, "Clayers=7 Corder=PCRL Cprecincts={16,16}"},
    {"grey 15 signed", 36, 52, 1, 15, true, "Clevels=3"},
    {"POC", 64, 64, 3, 8, false,
     "Clevels=3 Clayers=2 Porder={0,0,1,4,3,LRCP},{0,0,2,4,3,RPCL}", true},
    {"POC component ranges", 60, 44, 4, 8, false,
     "Clevels=3 Clayers=3 Porder={0,0,1,4,2,CPRL},{0,2,2,4,4,LRCP},{0,0,3,4,4,RLCP}", true},
    // One tile's own: both outside decoders add a tile's records to the main header's
    // rather than putting them in their place, so the two are not combined here.
    {"POC in one tile", 72, 64, 3, 10, false,
     "Stiles={32,40} Clevels=2 Clayers=2 Porder:T1={0,0,1,3,3,CPRL},{0,0,2,3,3,LRCP}", true},
    {"POC one component", 50, 40, 1, 8, false,
     "Clevels=2 Clayers=2 Porder={0,0,1,3,1,RLCP},{0,0,2,3,1,LRCP}", true},
    {"modes 1", 48, 40, 1, 8, false, "Cmodes=BYPASS Clayers=2"},
    {"modes 6", 48, 40, 1, 8, false, "Cmodes=RESET|RESTART"},
    {"modes 20", 48, 40, 1, 8, false, "Cmodes=RESTART|ERTERM"},
    {"modes 34", 48, 40, 1, 8, false, "Cmodes=RESET|SEGMARK Clayers=3"},
    {"modes 41", 48, 40, 1, 8, false, "Cmodes=BYPASS|CAUSAL|SEGMARK"},
    {"modes 56", 48, 40, 1, 8, false, "Cmodes=CAUSAL|ERTERM|SEGMARK"},
    {"blocks 4 x 128", 70, 90, 1, 8, false, "Cblk={4,128} Clevels=2"},
    {"blocks 128 x 8", 140, 30, 1, 8, false, "Cblk={128,8} Clevels=3"},
    {"tiles, precincts, 6 layers", 100, 80, 3, 8, false,
     "Stiles={40,48} Cprecincts={32,32},{16,16} Clayers=6 Corder=RLCP"},
};

TEST(EncodeCompare, GeometriesDecodeExactlyInTwoOfThreeDecoders)
{
    ORBEL_REQUIRE_TOOL("opj_decompress", "libopenjp2-tools");
    ORBEL_REQUIRE_TOOL("grk_decompress", "grokj2k-tools");
    unsigned seed = 1;
    for (const geometry_case& g : geometries) {
        SCOPED_TRACE(g.name);
        encode_settings s;
        s.attributes = words(g.attributes);
        const std::vector<encode_component> image = make_image(g.w, g.h, g.comps, g.depth, g.is_signed, seed++);
        const std::vector<std::string> exact = exact_decoders(image, s, work_dir() / "geometry.j2k");
        if (g.all_three) {
            EXPECT_EQ(exact, (std::vector<std::string>{"ours", "opj_decompress", "grk_decompress"}));
            continue;
        }
        EXPECT_GE(exact.size(), 2u) << "exact only in: " << testing::PrintToString(exact);
        if (exact.size() == 2)
            std::printf("note: %s decodes exactly only in %s and %s\n", g.name, exact[0].c_str(),
                        exact[1].c_str());
    }
}

// The 512 x 512 12-bit CT phantom from the benchmark's generator.
std::vector<encode_component> ct_phantom()
{
    const fs::path pgm = work_dir() / "ct512.pgm";
    if (!fs::exists(pgm)) {
        const std::string cmd = "'" + OrbelTest::python() + "' -c \"import sys; sys.path.insert(0, '" +
                                std::string(ORBEL_SOURCE_DIR) + "/bench'); import compare_decode as c; "
                                "open('" + pgm.string() + "', 'wb').write(c.pgm16(512, 512, c.ct_phantom(512)))\"";
        if (std::system(cmd.c_str()) != 0)
            return {};
    }
    return read_image(pgm.string(), nullptr);
}

double psnr_over(const encode_component& ref, const pgx_image& got, const rvd_dims& box, bool inside)
{
    double sum = 0;
    int64_t count = 0;
    for (int y = 0; y < ref.height; y++)
        for (int x = 0; x < ref.width; x++) {
            const bool in = y >= box.pos.y && y < box.pos.y + box.size.y && x >= box.pos.x &&
                            x < box.pos.x + box.size.x;
            if (in != inside)
                continue;
            const double e = double(ref.samples[size_t(y) * size_t(ref.width) + size_t(x)]) -
                             got.samples[size_t(y) * size_t(got.width) + size_t(x)];
            sum += e * e;
            count++;
        }
    const double top = std::ldexp(1.0, ref.depth) - 1;
    return sum == 0 ? 99.0 : 10 * std::log10(top * top * double(count) / sum);
}

TEST(EncodeCompare, RegionOfInterestOnThePhantomBeatsTheBackground)
{
    ORBEL_REQUIRE_TOOL("opj_decompress", "libopenjp2-tools");
    const std::vector<encode_component> image = ct_phantom();
    ASSERT_EQ(image.size(), 1u) << "the phantom could not be made";
    const rvd_dims box(rvd_coords(192, 192), rvd_coords(128, 128)); // a sixteenth, centred
    struct {
        const char* attributes;
    } cases[] = {
        // The shift must reach the largest band's planes, while the shifted planes stay
        // within the 30 opj_decompress codes: a coarser step keeps the 9/7 bands short.
        {"Creversible=no Qstep=0.00390625 Rshift=14"},
        {"Creversible=yes Rshift=15"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.attributes);
        encode_settings s;
        s.attributes = words(c.attributes);
        s.layer_bytes = {512 * 512 / 4 / 8}; // 0.25 bits per sample
        s.rois.push_back({0, box});
        memory_target t;
        encode_components(image, s, &t);
        EXPECT_LE(int64_t(t.bytes.size()), s.layer_bytes[0]);
        const fs::path stream = work_dir() / "roi.j2k";
        write_file(stream, t.bytes);
        const std::vector<pgx_image> got = outside_decode("opj_decompress", stream, 1);
        ASSERT_EQ(got.size(), 1u);
        const double inside = psnr_over(image[0], got[0], box, true);
        const double outside = psnr_over(image[0], got[0], box, false);
        std::printf("ROI %s: %.2f dB inside, %.2f dB outside\n", c.attributes, inside, outside);
        EXPECT_GE(inside - outside, 10.0);
    }
}

// The canvas geometry of a codestream's SIZ segment.
struct siz_facts {
    int64_t xsiz = 0, ysiz = 0, xo = 0, yo = 0, xt = 0, yt = 0, xto = 0, yto = 0;
    std::vector<int> dx, dy;
};

bool read_siz(const std::vector<uint8_t>& b, siz_facts& f)
{
    auto u16 = [&](size_t p) { return int64_t(b[p]) << 8 | b[p + 1]; };
    auto u32 = [&](size_t p) { return u16(p) << 16 | u16(p + 2); };
    if (b.size() < 42 || b[2] != 0xFF || b[3] != 0x51)
        return false;
    f.xsiz = u32(8), f.ysiz = u32(12), f.xo = u32(16), f.yo = u32(20);
    f.xt = u32(24), f.yt = u32(28), f.xto = u32(32), f.yto = u32(36);
    const int64_t comps = u16(40);
    if (b.size() < size_t(42 + 3 * comps))
        return false;
    for (int64_t c = 0; c < comps; c++) {
        f.dx.push_back(b[size_t(43 + 3 * c)]);
        f.dy.push_back(b[size_t(44 + 3 * c)]);
    }
    return true;
}

std::vector<uint8_t> read_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(EncodeCompare, ConformanceImagesReencodeLosslessly)
{
    ORBEL_REQUIRE_TOOL("opj_decompress", "libopenjp2-tools");
    const fs::path dir = fs::path(ORBEL_CONFORMANCE_DIR) / "codestreams";
    std::vector<fs::path> streams;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".j2k")
            streams.push_back(e.path());
    std::sort(streams.begin(), streams.end());
    ASSERT_GE(streams.size(), 20u);
    for (const fs::path& path : streams) {
        SCOPED_TRACE(path.filename().string());
        siz_facts f;
        ASSERT_TRUE(read_siz(read_file(path), f));
        const std::vector<pgx_image> decoded = decode_file(path.string(), decode_settings());
        ASSERT_EQ(decoded.size(), f.dx.size());
        std::vector<encode_component> image;
        for (size_t c = 0; c < decoded.size(); c++) {
            encode_component ec;
            ec.width = decoded[c].width;
            ec.height = decoded[c].height;
            ec.depth = decoded[c].depth;
            ec.is_signed = decoded[c].is_signed;
            ec.dx = f.dx[c];
            ec.dy = f.dy[c];
            ec.samples = decoded[c].samples;
            image.push_back(ec);
        }
        encode_settings s;
        s.attributes = {"Sorigin={" + std::to_string(f.yo) + "," + std::to_string(f.xo) + "}",
                        "Ssize={" + std::to_string(f.ysiz) + "," + std::to_string(f.xsiz) + "}",
                        "Stiles={" + std::to_string(f.yt) + "," + std::to_string(f.xt) + "}",
                        "Stile_origin={" + std::to_string(f.yto) + "," + std::to_string(f.xto) + "}"};
        const fs::path stream = work_dir() / "conformance.j2k";
        memory_target t;
        try {
            encode_components(image, s, &t);
        } catch (const std::exception& e) {
            ADD_FAILURE() << "encoding: " << e.what();
            continue;
        }
        write_file(stream, t.bytes);
        EXPECT_TRUE(same_samples(image, outside_decode("opj_decompress", stream, int(image.size()))))
            << image.size() << " components of depth " << image[0].depth;
    }
}

} // namespace
