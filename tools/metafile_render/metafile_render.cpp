// metafile_render IN OUT.ppm: decodes a placeable WMF or an EMF with RxImageWMF (its own
// sizing rules) and writes the picture as binary PPM, top row first. Prints "WIDTH HEIGHT".
// Exit status 1 with the reader's message when the file does not decode.
#include "imagelib/RxImageWMF.h"
#include "imagelib/RxMemFile.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: metafile_render IN OUT.ppm\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<BYTE> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in && !in.eof()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    RxMemFile file(bytes.data(), DWORD(bytes.size()));
    RxImageWMF image;
    if (!image.Decode(&file, 0, 0)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], image.GetLastError());
        return 1;
    }
    const long width = long(image.GetWidth()), height = long(image.GetHeight());
    std::string ppm = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    ppm.reserve(ppm.size() + size_t(width) * size_t(height) * 3);
    for (long y = height - 1; y >= 0; --y) // the image's rows are stored bottom-up
        for (long x = 0; x < width; ++x) {
            const RGBQUAD c = image.GetPixelColor(x, y, false);
            ppm += char(c.rgbRed);
            ppm += char(c.rgbGreen);
            ppm += char(c.rgbBlue);
        }
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(ppm.data(), std::streamsize(ppm.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    std::printf("%ld %ld\n", width, height);
    return 0;
}
