#include "tests/imagelib/support/ExternalTools.h"

#include "tests/support/TestTools.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace rxtest {

bool InCi()
{
    return OrbelTest::runningInCi();
}

const std::string& Python()
{
    static const std::string python = OrbelTest::python();
    return python;
}

int Run(const std::string& command, std::string* out)
{
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    std::string text;
    char buf[65536];
    for (size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;)
        text.append(buf, n);
    const int status = pclose(pipe);
    if (out)
        *out = std::move(text);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveTool(const std::string& name)
{
    return OrbelTest::programOnPath(name);
}

bool HaveImageMagick()
{
    static const bool present = [] {
        std::string out;
        return Run("convert-im6.q16 -version 2>/dev/null", &out) == 0 && out.find("ImageMagick") != std::string::npos;
    }();
    return present;
}

bool HavePillow()
{
    static const bool present = OrbelTest::pythonHasModule("PIL");
    return present;
}

std::string Quote(const std::string& text)
{
    std::string q = "'";
    for (char c : text)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

bool ReadPpm(const std::string& bytes, RgbImage& out)
{
    std::istringstream in(bytes); // the tools used here write no comments
    std::string magic;
    int maxval = 0;
    in >> magic >> out.width >> out.height >> maxval;
    const size_t n = size_t(out.width) * size_t(out.height) * (magic == "P5" ? 1 : 3);
    if ((magic != "P6" && magic != "P5") || maxval != 255 || out.width <= 0 || out.height <= 0 || in.get() == EOF)
        return false;
    out.rgb.resize(n);
    return bool(in.read(reinterpret_cast<char*>(out.rgb.data()), std::streamsize(n)));
}

RgbImage ReadImage(const std::string& path)
{
    std::vector<uint8_t> bytes;
    RgbImage image;
    if (!ReadFile(path, bytes) || !ReadPpm(std::string(bytes.begin(), bytes.end()), image))
        return RgbImage{};
    return image;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>& out)
{
    std::ifstream f(path, std::ios::binary);
    out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return bool(f);
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(f);
}

RgbImage PixelsOf(const RxImage& image)
{
    RgbImage out;
    out.width = int(image.GetWidth());
    out.height = int(image.GetHeight());
    for (int y = out.height - 1; y >= 0; --y) // bottom-up rows to top-down
        for (int x = 0; x < out.width; ++x) {
            const RGBQUAD c = image.GetPixelColor(x, y, false);
            out.rgb.insert(out.rgb.end(), {c.rgbRed, c.rgbGreen, c.rgbBlue});
        }
    return out;
}

std::string Script(const std::string& name)
{
    return std::string(ORBEL_SOURCE_DIR) + "/tests/imagelib/" + name;
}

std::string ScratchDir()
{
    static const std::string dir = [] {
        const std::string d = std::string(ORBEL_BINARY_DIR) + "/tests/imagelib/scratch-" + std::to_string(getpid());
        return Run("mkdir -p " + Quote(d)) == 0 ? d : std::string(".");
    }();
    static const struct Cleanup {
        ~Cleanup() { Run("rm -rf " + Quote(dir)); }
    } cleanup;
    return dir;
}

} // namespace rxtest
