#include "tests/imagelib/support/ExternalTools.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace rxtest {

bool InCi()
{
    const char* ci = std::getenv("CI");
    return ci && std::string(ci) == "true";
}

const std::string& Python()
{
    static const std::string python = ORBEL_PYTHON;
    return python;
}

int Run(const std::string& command, std::string* out)
{
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    std::string text;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
        text.append(buf, n);
    const int status = pclose(pipe);
    if (out)
        *out = std::move(text);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveTool(const std::string& name)
{
    return Run("command -v " + name + " >/dev/null 2>&1") == 0;
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
    static const bool present = Run(Quote(Python()) + " -c 'import PIL' 2>/dev/null") == 0;
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
    size_t pos = 0;
    auto skipSpace = [&] {
        while (pos < bytes.size()) {
            if (bytes[pos] == '#')
                while (pos < bytes.size() && bytes[pos] != '\n')
                    ++pos;
            else if (isspace(static_cast<unsigned char>(bytes[pos])))
                ++pos;
            else
                break;
        }
    };
    auto number = [&] {
        skipSpace();
        long v = 0;
        while (pos < bytes.size() && isdigit(static_cast<unsigned char>(bytes[pos])))
            v = v * 10 + (bytes[pos++] - '0');
        return v;
    };
    if (bytes.compare(0, 2, "P6") != 0)
        return false;
    pos = 2;
    const long w = number(), h = number(), maxval = number();
    ++pos; // the single white space before the samples
    if (w <= 0 || h <= 0 || maxval != 255 || bytes.size() < pos + size_t(w * h * 3))
        return false;
    out.width = int(w);
    out.height = int(h);
    out.rgb.assign(bytes.begin() + long(pos), bytes.begin() + long(pos + size_t(w * h * 3)));
    return true;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>& out)
{
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return false;
    out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return true;
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
        std::string d = std::string(ORBEL_BINARY_DIR) + "/tests/imagelib/scratch-" + std::to_string(getpid());
        mkdir((std::string(ORBEL_BINARY_DIR) + "/tests/imagelib").c_str(), 0755);
        mkdir(d.c_str(), 0755);
        return d;
    }();
    return dir;
}

} // namespace rxtest
