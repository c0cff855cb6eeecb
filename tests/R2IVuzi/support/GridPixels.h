// Reading back what a grid painted, and the status bitmaps as files.
#pragma once

#include "platform/Win32.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace gridtest {

inline COLORREF pixelAt(HWND hwnd, int x, int y)
{
    const platform::SurfaceView s = platform::SurfaceOf(hwnd);
    if (!s.pixels || x < 0 || y < 0 || x >= s.width || y >= s.height)
        return COLORREF(-1);
    const uint8_t* p = s.pixels + size_t(y) * s.stride + size_t(x) * 4;
    return RGB(p[2], p[1], p[0]);
}

// A 24-bit bottom-up BMP of the resources folder, top row first.
struct Bitmap {
    int width = 0, height = 0;
    std::vector<COLORREF> pixels;
};

inline Bitmap readBitmap(int id)
{
    Bitmap b;
    std::ifstream in(std::string(ORBEL_SOURCE_DIR) + "/resources/bitmaps/" + std::to_string(id) + ".bmp",
                     std::ios::binary);
    std::vector<uint8_t> d((std::istreambuf_iterator<char>(in)), {});
    if (d.size() < 54)
        return b;
    auto word = [&](size_t at) { return int32_t(d[at] | d[at + 1] << 8 | d[at + 2] << 16 | uint32_t(d[at + 3]) << 24); };
    b.width = word(18);
    b.height = word(22);
    const size_t offset = size_t(word(10)), row = (size_t(b.width) * 3 + 3) / 4 * 4;
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x) {
            const uint8_t* p = &d[offset + size_t(b.height - 1 - y) * row + size_t(x) * 3];
            b.pixels.push_back(RGB(p[2], p[1], p[0]));
        }
    return b;
}

// Whether bitmap id shows at (left, top) over a black cell, black being transparent; over
// an image only its other pixels are compared.
inline bool showsBitmap(HWND hwnd, int id, int left, int top, bool overImage = false)
{
    const Bitmap b = readBitmap(id);
    if (b.pixels.empty())
        return false;
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x) {
            const COLORREF want = b.pixels[size_t(y) * b.width + x];
            if ((want != 0 || !overImage) && pixelAt(hwnd, left + x, top + y) != want)
                return false;
        }
    return true;
}

} // namespace gridtest
