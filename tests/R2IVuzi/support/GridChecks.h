// Judging what a streamed image ended with against references made by others: the pixel
// buffer against opj_decompress's decode (grid_fixture.py's files), the cache against the
// loopback server's `index`; and the log file a test reads its records from.
#pragma once

#include "codec/jp2/rvd_cache.h"
#include "diagnostics/Logging.h"
#include "image/ImageBase.h"
#include "tools/decode/pgx_image.h"

#include <boost/regex.hpp>
#include <algorithm>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace gridtest {

// The level image opj_decompress wrote: grey samples, or 0x00RRGGBB for colour.
struct Reference {
    int width = 0, height = 0;
    std::vector<int64_t> samples;
};

inline Reference readReference(const std::string& base, bool colour)
{
    Reference r;
    if (!colour) {
        const pgx_image p = read_pgx(base + ".pgx");
        r.width = p.width;
        r.height = p.height;
        r.samples.assign(p.samples.begin(), p.samples.end());
        return r;
    }
    std::ifstream in(base + ".ppm", std::ios::binary);
    std::string magic;
    int maxval = 0;
    in >> magic;
    while ((in >> std::ws).peek() == '#')
        in.ignore(1 << 20, '\n');
    in >> r.width >> r.height >> maxval;
    in.get();
    std::vector<unsigned char> rgb(size_t(r.width) * r.height * 3);
    in.read(reinterpret_cast<char*>(rgb.data()), std::streamsize(rgb.size()));
    for (size_t i = 0; i < rgb.size(); i += 3)
        r.samples.push_back((int64_t(rgb[i]) << 16) | (rgb[i + 1] << 8) | rgb[i + 2]);
    return r;
}

// How the pixel buffer over the decoded region C differs from the reference `base`
// (a path without extension): samples that differ, the first of them, and the mean
// absolute difference per channel.
struct SampleDiff {
    size_t differing = 0, compared = 0;
    int firstX = -1, firstY = -1;
    double meanAbs = 0;
};

inline SampleDiff compareSamples(CImageBase& image, const std::string& base, const int32_t c[7])
{
    SampleDiff d;
    const bool colour = image.GetPixelFormat().bytesPerPixel == 4;
    const Reference ref = readReference(base, colour);
    size_t bytes = 0;
    const uint8_t* buffer = image.GetPixelBuffer(bytes);
    const int bpp = image.GetPixelFormat().bytesPerPixel, w = image.LevelWidth();
    if (!buffer || w > ref.width || c[3] > ref.height) {
        d.differing = 1;
        return d;
    }
    double sum = 0;
    for (int y = c[1]; y < c[3]; ++y)
        for (int x = c[0]; x < c[2]; ++x) {
            const uint8_t* p = buffer + (size_t(y) * w + x) * bpp;
            const int64_t got = bpp == 1 ? (image.IsSigned() ? int8_t(*p) : *p)
                                : bpp == 2 ? (image.IsSigned() ? int64_t(int16_t(p[0] | p[1] << 8)) : p[0] | p[1] << 8)
                                           : (int64_t(p[2]) << 16) | (p[1] << 8) | p[0];
            const int64_t want = ref.samples[size_t(y) * ref.width + x];
            ++d.compared;
            if (got != want && d.differing++ == 0) {
                d.firstX = x;
                d.firstY = y;
            }
            for (int shift = 0; shift < (colour ? 24 : 1); shift += 8)
                sum += double(std::llabs(colour ? ((got >> shift) & 255) - ((want >> shift) & 255) : got - want));
        }
    d.meanAbs = d.compared ? sum / double(d.compared * (colour ? 3 : 1)) : 0;
    return d;
}

// The pixel buffer equals opj's decode of image `name` over the decoded region C.
inline void expectSamples(CImageBase& image, const std::string& corpus, const std::string& name, const int32_t c[7])
{
    const SampleDiff d = compareSamples(image, corpus + "/" + name + "_r" + std::to_string(c[6]), c);
    EXPECT_GT(d.compared, 0u) << name;
    EXPECT_EQ(d.differing, 0u) << name << ", first at " << d.firstX << "," << d.firstY;
}

// The cache holds exactly the data-bins of the server's `index` output, each complete and
// byte for byte; returns how many it lists.
inline size_t expectCacheHoldsIndex(rvd_cache& cache, const std::string& indexJson)
{
    static const boost::regex entry(
        "\\{\"class\": (\\d+), \"codestream\": (\\d+), \"id\": (\\d+), \"length\": (\\d+), \"data\": \"([0-9a-f]*)\"\\}");
    size_t listed = 0;
    for (boost::sregex_iterator it(indexJson.begin(), indexJson.end(), entry), end; it != end; ++it, ++listed) {
        const int cls = std::stoi((*it)[1]) / 2;
        const int64_t cs = std::stoll((*it)[2]), id = std::stoll((*it)[3]);
        const std::string hex = (*it)[5];
        std::vector<uint8_t> want;
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            want.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
        bool complete = false;
        const int length = cache.get_databin_length(cls, cs, id, &complete);
        std::vector<uint8_t> got(want.size() + 1);
        got.resize(size_t(std::max(0, cache.get_databin_prefix(cls, cs, id, got.data(), int(got.size())))));
        if (length != int(want.size()) || !complete || got != want) {
            ADD_FAILURE() << "bin class " << cls << " id " << id << ": " << length << " bytes of " << want.size()
                          << (complete ? ", complete" : ", incomplete") << (got == want ? "" : ", bytes differ");
            return listed;
        }
    }
    size_t held = 0;
    for (int cls = 0; cls < 5; ++cls)
        for (int64_t id = cache.get_next_databin_oldest_first(cls, 0, -1, false); id >= 0;
             id = cache.get_next_databin_oldest_first(cls, 0, id, false))
            ++held;
    EXPECT_EQ(held, listed);
    EXPECT_EQ(cache.get_next_codestream(0), -1);
    return listed;
}

inline std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The log file "C:\Quillon.Log" in a folder of its own for the test's lifetime.
class ScopedLog {
public:
    ScopedLog()
    {
        std::string dir = (std::filesystem::temp_directory_path() / "orbel-log-XXXXXX").string();
        if (mkdtemp(dir.data()))
            m_dir = dir;
        setenv("ORBEL_DRIVE_C", m_dir.c_str(), 1);
        setMinLogLevel(0);
        initLogFile(u"C:\\Quillon.Log", 1, 1, 0);
    }
    ~ScopedLog()
    {
        initLogFile(nullptr, 0, 1, 1);
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    ScopedLog(const ScopedLog&) = delete;
    ScopedLog& operator=(const ScopedLog&) = delete;
    // Everything written so far; logging goes on after.
    std::string text()
    {
        closeLogFile();
        const std::string out = slurp(m_dir + "/Quillon.Log");
        initLogFile(u"C:\\Quillon.Log", 1, 1, 1);
        return out;
    }
    // Records "<source>(<line>)] <text>" in the log, in order; line 0 matches any line.
    static size_t count(const std::string& log, const std::string& source, int line, const std::string& text)
    {
        const std::string head = source + "(";
        size_t n = 0;
        for (size_t at = log.find(head); at != std::string::npos; at = log.find(head, at + 1)) {
            const size_t close = log.find(")] ", at);
            if (close == std::string::npos)
                break;
            if ((line == 0 || log.compare(at + head.size(), close - at - head.size(), std::to_string(line)) == 0) &&
                log.compare(close + 3, text.size(), text) == 0)
                ++n;
        }
        return n;
    }

private:
    std::string m_dir;
};

} // namespace gridtest
