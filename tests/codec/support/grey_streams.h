// Grey test images encoded by opj_compress into the build tree's stream folder.
#pragma once

#include "tests/codec/support/test_sources.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>

#include <unistd.h>

namespace codec_test {

// NAME.j2k from an 8-bit image of the given size whose samples come from `pixel`. Test
// programs running side by side may make the same stream: each writes its own files and
// renames the stream into place, so nobody reads a half-written one.
inline std::string grey_stream(const std::string& name, int width, int height,
                               const std::function<int(int, int)>& pixel, const std::string& args)
{
    const std::string dir = stream_dir("input");
    const std::string own = dir + "/" + name + "." + std::to_string(::getpid());
    const std::string pgm = own + ".pgm", part = own + ".j2k", j2k = dir + "/" + name + ".j2k";
    std::ofstream out(pgm, std::ios::binary);
    out << "P5\n" << width << " " << height << "\n255\n";
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            out.put(char(pixel(x, y) & 0xFF));
    out.close();
    const std::string cmd = "opj_compress -i '" + pgm + "' -o '" + part + "' " + args + " > /dev/null 2>&1";
    const bool made = std::system(cmd.c_str()) == 0;
    std::remove(pgm.c_str());
    if (!made || std::rename(part.c_str(), j2k.c_str()) != 0) {
        std::remove(part.c_str());
        throw std::runtime_error("opj_compress failed: " + cmd);
    }
    return j2k;
}

} // namespace codec_test
