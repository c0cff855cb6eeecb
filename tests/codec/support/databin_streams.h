// The packet-reading option matrix made by tools/make_test_streams.py (group "packet_matrix"):
// the listed streams and the source samples of their images.
#pragma once

#include "tests/codec/support/test_sources.h"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace codec_test {

struct matrix_stream {
    std::string name, image, options;
    int levels = 0;
    std::string path;
    bool has(const std::string& option) const
    {
        std::istringstream words(options);
        for (std::string w; words >> w;)
            if (w == option)
                return true;
        return false;
    }
};

inline std::vector<matrix_stream> matrix_streams()
{
    const std::string dir = stream_dir("packet_matrix");
    std::ifstream in(dir + "/packets.list");
    if (!in)
        throw std::runtime_error("no packets.list in " + dir);
    std::vector<matrix_stream> out;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        matrix_stream s;
        std::string levels;
        std::getline(fields, s.name, '\t');
        std::getline(fields, s.image, '\t');
        std::getline(fields, levels, '\t');
        std::getline(fields, s.options);
        if (s.name.empty())
            continue;
        s.levels = std::stoi(levels);
        s.path = dir + "/" + s.name + ".j2k";
        out.push_back(s);
    }
    return out;
}

// Source samples of one component of a matrix image.
struct source_plane {
    int dx = 1, dy = 1, width = 0, height = 0, depth = 0;
    bool is_signed = false;
    std::vector<int> samples; // raster order
};

inline std::vector<source_plane> matrix_samples(const std::string& image)
{
    std::ifstream in(stream_dir("packet_matrix") + "/pm_" + image + ".samples");
    if (!in)
        throw std::runtime_error("no samples for " + image);
    std::vector<source_plane> out;
    for (std::string head, body; std::getline(in, head) && std::getline(in, body);) {
        source_plane p;
        int sgn = 0;
        std::istringstream h(head), v(body);
        h >> p.dx >> p.dy >> p.width >> p.height >> p.depth >> sgn;
        p.is_signed = sgn != 0;
        for (int x; v >> x;)
            p.samples.push_back(x);
        if (p.samples.size() != size_t(p.width) * size_t(p.height))
            throw std::runtime_error("short sample plane for " + image);
        out.push_back(std::move(p));
    }
    return out;
}

} // namespace codec_test
