// The metafile corpus (tests/data/metafiles, made by tools/make_metafiles.py): every file
// decodes at the size its index gives; files the outside renderers draw as the formats mean
// are compared with them (wmf2gd for WMF, emf2svg-conv + rsvg-convert for EMF) pixel by
// pixel; the others carry expectations worked out by hand (expected.tsv), and the index
// names why the outside renderer is not trusted there.
#include "imagelib/RxImageWMF.h"
#include "imagelib/RxMemFile.h"
#include "tests/imagelib/support/ExternalTools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using rxtest::RgbImage;

const std::string kCorpus = std::string(ORBEL_TEST_DATA_DIR) + "/metafiles";
const int kLevels = 48;           // a channel may differ by this much
const double kFileShare = 0.95;   // each compared file, both ways
const double kMedianShare = 0.98; // the median compared file

struct CorpusFile {
    std::string name;
    int width = 0, height = 0;
    std::string reason; // why it is checked by hand; empty when compared
    bool wmf() const { return name.size() > 4 && name.compare(name.size() - 4, 4, ".wmf") == 0; }
};

std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string f; std::getline(in, f, '\t');)
        out.push_back(f);
    return out;
}

std::vector<CorpusFile> ReadIndex()
{
    std::vector<CorpusFile> files;
    std::ifstream in(kCorpus + "/index.tsv");
    for (std::string line; std::getline(in, line);) {
        const std::vector<std::string> f = Fields(line);
        if (line.empty() || line[0] == '#' || f.size() < 4)
            continue;
        CorpusFile c;
        c.name = f[0];
        std::sscanf(f[1].c_str(), "%dx%d", &c.width, &c.height);
        if (f[2].compare(0, 6, "hand: ") == 0)
            c.reason = f[2].substr(6);
        files.push_back(c);
    }
    return files;
}

RgbImage Decode(const std::string& name, std::string& error)
{
    std::vector<uint8_t> bytes;
    if (!rxtest::ReadFile(kCorpus + "/" + name, bytes)) {
        error = "cannot read the file";
        return RgbImage{};
    }
    RxMemFile file(bytes.data(), DWORD(bytes.size()));
    RxImageWMF image;
    if (!image.Decode(&file, 0, 0)) {
        error = image.GetLastError();
        return RgbImage{};
    }
    return rxtest::PixelsOf(image);
}

const uint8_t* At(const RgbImage& im, int x, int y) { return &im.rgb[(size_t(y) * size_t(im.width) + size_t(x)) * 3]; }

bool Near(const uint8_t* a, const uint8_t* b, int levels)
{
    for (int c = 0; c < 3; ++c)
        if (std::abs(int(a[c]) - int(b[c])) > levels)
            return false;
    return true;
}

// The share of a's pixels with a pixel of b within one pixel of it and 48 levels on every channel.
double MatchedShare(const RgbImage& a, const RgbImage& b)
{
    size_t matched = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            bool found = false;
            for (int dy = -1; dy <= 1 && !found; ++dy)
                for (int dx = -1; dx <= 1 && !found; ++dx) {
                    const int nx = std::clamp(x + dx, 0, b.width - 1), ny = std::clamp(y + dy, 0, b.height - 1);
                    found = Near(At(a, x, y), At(b, nx, ny), kLevels);
                }
            matched += found;
        }
    return double(matched) / (double(a.width) * a.height);
}

// --- what every file promises ------------------------------------------------------------

TEST(MetafileCorpus, EveryFileDecodesAtItsSize)
{
    const std::vector<CorpusFile> files = ReadIndex();
    ASSERT_GE(files.size(), 40u) << "no corpus index under " << kCorpus;
    int compared = 0;
    for (const CorpusFile& f : files) {
        SCOPED_TRACE(f.name);
        std::string error;
        const RgbImage ours = Decode(f.name, error);
        EXPECT_TRUE(error.empty()) << error;
        EXPECT_EQ(ours.width, f.width);
        EXPECT_EQ(ours.height, f.height);
        compared += f.reason.empty();
    }
    EXPECT_GE(compared, 30) << "most files are compared with an outside renderer";
}

// The committed files are what the generator writes: a change to one shows in the other.
TEST(MetafileCorpus, GeneratorWritesTheCommittedFiles)
{
    RX_REQUIRE_TOOL(access(rxtest::Python().c_str(), X_OK) == 0, rxtest::Python());
    const std::string out = rxtest::ScratchDir() + "/generated";
    ASSERT_EQ(rxtest::Run(rxtest::Quote(rxtest::Python()) + " " +
                          rxtest::Quote(std::string(ORBEL_SOURCE_DIR) + "/tools/make_metafiles.py") + " " +
                          rxtest::Quote(out)),
              0);
    std::vector<std::string> names = {"index.tsv", "expected.tsv"};
    for (const CorpusFile& f : ReadIndex())
        names.push_back(f.name);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> committed, generated;
        ASSERT_TRUE(rxtest::ReadFile(kCorpus + "/" + name, committed));
        ASSERT_TRUE(rxtest::ReadFile(out + "/" + name, generated));
        EXPECT_TRUE(committed == generated) << "tests/data/metafiles differs from tools/make_metafiles.py's output";
    }
    rxtest::Run("rm -rf " + rxtest::Quote(out));
}

// --- expectations worked out by hand -----------------------------------------------------

// One line of expected.tsv: "pixel x y r g b tolerance" or "share x0 y0 x1 y1 r g b low high".
std::string FailedCheck(const RgbImage& im, const std::vector<std::string>& f)
{
    std::vector<double> v;
    for (size_t i = 2; i < f.size(); ++i)
        v.push_back(std::atof(f[i].c_str()));
    std::ostringstream why;
    if (f[1] == "pixel" && v.size() == 6) {
        const int x = int(v[0]), y = int(v[1]);
        const uint8_t want[3] = {uint8_t(v[2]), uint8_t(v[3]), uint8_t(v[4])};
        if (x < 0 || y < 0 || x >= im.width || y >= im.height)
            return "pixel outside the picture";
        const uint8_t* got = At(im, x, y);
        if (!Near(got, want, int(v[5])))
            why << "pixel (" << x << ", " << y << ") is " << int(got[0]) << " " << int(got[1]) << " " << int(got[2])
                << ", not " << int(want[0]) << " " << int(want[1]) << " " << int(want[2]);
        return why.str();
    }
    if (f[1] == "share" && v.size() == 9) {
        const int x0 = std::max(0, int(v[0])), y0 = std::max(0, int(v[1]));
        const int x1 = std::min(im.width, int(v[2])), y1 = std::min(im.height, int(v[3]));
        const uint8_t colour[3] = {uint8_t(v[4]), uint8_t(v[5]), uint8_t(v[6])};
        size_t n = 0, hits = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x, ++n)
                hits += Near(At(im, x, y), colour, kLevels);
        const double s = n ? double(hits) / double(n) : -1;
        if (s < v[7] - 1e-9 || s > v[8] + 1e-9)
            why << "share of " << int(colour[0]) << " " << int(colour[1]) << " " << int(colour[2]) << " in (" << x0
                << ", " << y0 << ")-(" << x1 << ", " << y1 << ") is " << s << ", not " << v[7] << "-" << v[8];
        return why.str();
    }
    return "unreadable check";
}

TEST(MetafileCorpus, HandCheckedFilesHoldTheirExpectations)
{
    std::vector<std::vector<std::string>> checks;
    std::ifstream in(kCorpus + "/expected.tsv");
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#')
            checks.push_back(Fields(line));
    int files = 0;
    for (const CorpusFile& f : ReadIndex()) {
        if (f.reason.empty())
            continue;
        SCOPED_TRACE(f.name + ", checked by hand: " + f.reason);
        ++files;
        std::string error;
        const RgbImage ours = Decode(f.name, error);
        ASSERT_TRUE(error.empty()) << error;
        int count = 0;
        for (const std::vector<std::string>& c : checks) {
            if (c.size() < 2 || c[0] != f.name)
                continue;
            ++count;
            const std::string failed = FailedCheck(ours, c);
            EXPECT_TRUE(failed.empty()) << failed;
        }
        EXPECT_GE(count, 3) << "a file checked by hand has its expectations";
    }
    EXPECT_GE(files, 10);
}

// --- the outside renderers ---------------------------------------------------------------

// The renderer's picture of a file at our size, laid on white; empty (and a message) on failure.
RgbImage Theirs(const CorpusFile& f, int width, int height, std::string& error)
{
    const std::string dir = rxtest::ScratchDir();
    const std::string in = rxtest::Quote(kCorpus + "/" + f.name);
    const std::string png = dir + "/theirs.png", ppm = dir + "/theirs.ppm";
    std::string command;
    if (f.wmf()) {
        // wmf2gd loads the standard PostScript faces by name: the Liberation faces stand in.
        std::string folder = "/usr/share/fonts/truetype/liberation";
        if (!std::ifstream(folder + "/LiberationSans-Regular.ttf"))
            folder = "/usr/share/fonts/truetype/liberation2";
        const char* faces[][2] = {{"Times-Roman", "Serif-Regular"}, {"Times-Italic", "Serif-Italic"},
                                  {"Times-Bold", "Serif-Bold"}, {"Times-BoldItalic", "Serif-BoldItalic"},
                                  {"Helvetica", "Sans-Regular"}, {"Helvetica-Oblique", "Sans-Italic"},
                                  {"Helvetica-Bold", "Sans-Bold"}, {"Helvetica-BoldOblique", "Sans-BoldItalic"},
                                  {"Courier", "Mono-Regular"}, {"Courier-Oblique", "Mono-Italic"},
                                  {"Courier-Bold", "Mono-Bold"}, {"Courier-BoldOblique", "Mono-BoldItalic"},
                                  {"Symbol", "Sans-Regular"}};
        std::string map;
        for (const auto& face : faces)
            map += std::string("/") + face[0] + " (" + folder + "/Liberation" + face[1] + ".ttf) ;\n";
        rxtest::WriteFile(dir + "/Fontmap", std::vector<uint8_t>(map.begin(), map.end()));
        command = "wmf2gd --wmf-gs-fontmap=" + rxtest::Quote(dir + "/Fontmap") + " --maxwidth=" + std::to_string(width) +
                  " --maxheight=" + std::to_string(height) + " --maxsize -t png -o " + rxtest::Quote(png) + " " + in;
    } else {
        const std::string svg = rxtest::Quote(dir + "/theirs.svg");
        command = "emf2svg-conv -i " + in + " -o " + svg + " && rsvg-convert -w " + std::to_string(width) + " -h " +
                  std::to_string(height) + " -b white -o " + rxtest::Quote(png) + " " + svg;
    }
    if (rxtest::Run(command + " >/dev/null 2>&1") != 0) {
        error = "the outside renderer failed: " + command;
        return RgbImage{};
    }
    if (rxtest::Run("convert-im6.q16 " + rxtest::Quote(png) + " -background white -flatten ppm:" + rxtest::Quote(ppm)) != 0) {
        error = "no picture from the outside renderer";
        return RgbImage{};
    }
    return rxtest::ReadImage(ppm);
}

TEST(CodecTools, MetafilesAgreeWithOutsideRenderers)
{
    RX_REQUIRE_TOOL(rxtest::HaveTool("wmf2gd"), "wmf2gd");
    RX_REQUIRE_TOOL(rxtest::HaveTool("emf2svg-conv"), "emf2svg-conv");
    RX_REQUIRE_TOOL(rxtest::HaveTool("rsvg-convert"), "rsvg-convert");
    RX_REQUIRE_TOOL(rxtest::HaveImageMagick(), "ImageMagick");
    std::vector<double> figures;
    for (const CorpusFile& f : ReadIndex()) {
        if (!f.reason.empty())
            continue;
        SCOPED_TRACE(f.name);
        std::string error;
        const RgbImage ours = Decode(f.name, error);
        ASSERT_TRUE(error.empty()) << error;
        const RgbImage theirs = Theirs(f, ours.width, ours.height, error);
        ASSERT_TRUE(error.empty()) << error;
        ASSERT_EQ(theirs.width, ours.width);
        ASSERT_EQ(theirs.height, ours.height);
        const double figure = std::min(MatchedShare(ours, theirs), MatchedShare(theirs, ours));
        EXPECT_GE(figure, kFileShare);
        figures.push_back(figure);
    }
    ASSERT_GE(figures.size(), 30u);
    std::sort(figures.begin(), figures.end());
    const size_t n = figures.size();
    EXPECT_GE(n % 2 ? figures[n / 2] : (figures[n / 2 - 1] + figures[n / 2]) / 2, kMedianShare);
}

} // namespace
