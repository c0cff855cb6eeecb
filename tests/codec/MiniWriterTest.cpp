// Codestreams of the test-side mini writer, whose code-blocks and packets come from the
// block encoder and the precinct blocks' packet operations, decoded by outside decoders.
#include "tests/codec/support/decode_cases.h"
#include "tests/codec/support/mini_writer.h"
#include "tests/codec/support/packet_locator.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

using namespace codec_test;

namespace {

struct mini_case {
    int height, width, comps, precision;
    bool is_signed;
    int block_h, block_w, modes, layers;
    int style; // 0 noise, 1 smooth ramp, 2 mostly zero
};

std::string name_of(const mini_case& c)
{
    std::ostringstream s;
    s << c.height << "x" << c.width << "_c" << c.comps << "_p" << c.precision << (c.is_signed ? "s" : "u")
      << "_b" << c.block_h << "x" << c.block_w << "_m" << c.modes << "_l" << c.layers << "_s" << c.style;
    return s.str();
}

std::vector<std::vector<int32_t>> make_samples(const mini_case& c, std::mt19937& rng)
{
    std::vector<std::vector<int32_t>> comps(static_cast<size_t>(c.comps));
    const int64_t lo = c.is_signed ? -(int64_t(1) << (c.precision - 1)) : 0;
    const int64_t span = int64_t(1) << c.precision;
    for (auto& v : comps)
        for (int y = 0; y < c.height; y++)
            for (int x = 0; x < c.width; x++) {
                int64_t s;
                if (c.style == 1)
                    s = ((x * 7 + y * 3) * (span / 512 + 1)) % span;
                else if (c.style == 2)
                    s = rng() % 13 == 0 ? int64_t(rng() % uint64_t(span)) : -lo;
                else
                    s = int64_t(rng() % uint64_t(span));
                v.push_back(int32_t(lo + s));
            }
    return comps;
}

std::string work_dir()
{
    std::string d = std::string(ORBEL_BINARY_DIR) + "/mini_writer";
    std::system(("mkdir -p " + d).c_str());
    return d;
}

// Components written by an outside decoder as PGX (one file for one component, else
// name_0.pgx, name_1.pgx, ...).
bool run_outside(const std::string& cmd, const std::string& out, int comps, std::vector<pgx_image>& images)
{
    images.clear();
    if (std::system((cmd + " > /dev/null 2>&1").c_str()) != 0)
        return false;
    for (int c = 0; c < comps; c++) {
        std::string path = out + "_" + std::to_string(c) + ".pgx";
        std::ifstream probe(path);
        if (!probe && comps == 1)
            path = out + ".pgx";
        images.push_back(read_pgx(path));
    }
    return true;
}

bool equals_source(const std::vector<pgx_image>& images, const std::vector<std::vector<int32_t>>& src)
{
    if (images.size() != src.size())
        return false;
    for (size_t c = 0; c < src.size(); c++)
        if (images[c].samples != src[c])
            return false;
    return true;
}

std::string capture(const std::string& cmd)
{
    std::string text;
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr)
        return text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        text.append(buf, n);
    pclose(p);
    return text;
}

} // namespace

TEST(MiniWriter, OutsideDecodersGiveBackTheSource)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    std::vector<mini_case> cases = {
        {1, 1, 1, 8, false, 64, 64, 0, 1, 0},      {61, 47, 1, 12, false, 64, 64, 0, 1, 0},
        {64, 64, 3, 8, false, 32, 32, 0, 2, 0},    {256, 256, 1, 16, false, 64, 64, 0, 3, 1},
        {61, 47, 4, 1, false, 16, 64, 0, 1, 0},    {61, 47, 2, 16, true, 32, 32, 0, 4, 0},
        {64, 64, 1, 5, true, 16, 64, 0, 5, 2},     {256, 256, 3, 12, true, 32, 32, 0, 2, 0},
        {61, 47, 1, 2, false, 64, 64, 0, 2, 2},    {1, 1, 2, 16, true, 32, 32, 0, 3, 0},
    };
    for (int m = 0; m < 64; m++)
        cases.push_back({61, 47, 1, 12, false, 16, 16, m, 1 + m % 5, m % 3});
    std::mt19937 rng(47);
    const std::string dir = work_dir();
    int disagreements = 0;
    for (const mini_case& c : cases) {
        const std::string name = name_of(c);
        SCOPED_TRACE(name);
        std::vector<std::vector<int32_t>> src = make_samples(c, rng);
        std::ostringstream attrs;
        attrs << "Ssize={" << c.height << "," << c.width << "} Scomponents=" << c.comps
              << " Sprecision=" << c.precision << " Ssigned=" << (c.is_signed ? "yes" : "no")
              << " Clevels=0 Clayers=" << c.layers << " Cblk={" << c.block_h << "," << c.block_w
              << "} Creversible=yes";
        static const char* const mode_names[6] = {"BYPASS", "RESET", "RESTART", "CAUSAL", "ERTERM", "SEGMARK"};
        for (int b = 0, first = 1; b < 6; b++)
            if (c.modes & (1 << b)) {
                attrs << (first ? " Cmodes=" : "|") << mode_names[b];
                first = 0;
            }
        std::vector<uint8_t> stream;
        ASSERT_NO_THROW(stream = write_mini_codestream(attrs.str(), src));
        const std::string path = dir + "/" + name + ".j2k";
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(stream.data()), long(stream.size()));

        // The test-side locator tiles the body with packets.
        stream_layout L = parse_layout(stream);
        ASSERT_NO_THROW(locate_packets(L));
        ASSERT_EQ(1u, L.parts.size());
        uint64_t located = 0;
        for (uint32_t n : L.parts[0].plt)
            located += n;
        EXPECT_EQ(L.parts[0].end - L.parts[0].body, located);

        std::vector<pgx_image> opj, grk, ours;
        ASSERT_TRUE(run_outside("opj_decompress -i " + path + " -o " + dir + "/" + name + "_opj.pgx",
                                dir + "/" + name + "_opj", c.comps, opj));
        ASSERT_TRUE(run_outside("grk_decompress -i " + path + " -o " + dir + "/" + name + "_grk.pgx",
                                dir + "/" + name + "_grk", c.comps, grk));
        bool opj_ok = equals_source(opj, src), grk_ok = equals_source(grk, src);
        if (opj_ok != grk_ok) {
            // The two disagree: our own decoder is the third vote.
            ours = decode_file(path, decode_settings());
            disagreements++;
            ADD_FAILURE() << "outside decoders disagree (opj " << opj_ok << ", grk " << grk_ok << ", ours "
                          << equals_source(ours, src) << ")";
        } else {
            EXPECT_TRUE(opj_ok);
        }

        // Every layer count decodes alike here and there.
        for (int k = 1; k <= c.layers && c.height * c.width * c.comps <= 64 * 64 * 3; k++) {
            std::vector<pgx_image> theirs;
            ASSERT_TRUE(run_outside("opj_decompress -l " + std::to_string(k) + " -i " + path + " -o " + dir + "/" +
                                        name + "_l.pgx",
                                    dir + "/" + name + "_l", c.comps, theirs));
            decode_settings s;
            s.layers = k;
            std::vector<pgx_image> mine = decode_file(path, s);
            ASSERT_EQ(theirs.size(), mine.size());
            for (size_t i = 0; i < mine.size(); i++)
                EXPECT_EQ(theirs[i].samples, mine[i].samples) << "layers " << k << " component " << i;
        }

        // The header as an outside reader sees it.
        std::string dump = capture("opj_dump -i " + path + " 2>&1; echo exit=$?");
        EXPECT_NE(std::string::npos, dump.find("exit=0")) << dump;
        std::ostringstream siz;
        siz << "x1=" << c.width << ", y1=" << c.height;
        EXPECT_NE(std::string::npos, dump.find(siz.str())) << dump;
        EXPECT_NE(std::string::npos, dump.find("numlayers=" + std::to_string(c.layers))) << dump;
        std::ostringstream cod;
        cod << "cblkw=2^" << __builtin_ctz(unsigned(c.block_w)) << "\n\t\t\t cblkh=2^" << __builtin_ctz(unsigned(c.block_h))
            << "\n\t\t\t cblksty=" << std::showbase << std::hex << c.modes << "\n\t\t\t qmfbid=1";
        EXPECT_NE(std::string::npos, dump.find(cod.str())) << dump;
        for (int k = 0; k < c.comps; k++)
            EXPECT_NE(std::string::npos, dump.find("prec=" + std::to_string(c.precision) + "\n\t\t sgnd=" +
                                                   (c.is_signed ? "1" : "0")))
                << dump;
    }
    EXPECT_EQ(0, disagreements);
}
