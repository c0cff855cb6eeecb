#include "platform/Gdi.h"

#include <cstdio>
#include <fstream>

namespace {

struct Pixels {
    std::vector<uint8_t> bgr0; // top-down, 4 bytes a pixel
    int width = 0;
    int height = 0;
};

bool fromWindow(HWND hwnd, Pixels& p)
{
    platform::SurfaceView v = platform::SurfaceOf(hwnd);
    if (!v.pixels)
        return false;
    p.width = v.width;
    p.height = v.height;
    p.bgr0.assign(v.pixels, v.pixels + size_t(v.stride) * size_t(v.height));
    return true;
}

bool fromBitmap(HBITMAP bitmap, Pixels& p)
{
    p.bgr0 = platform::BitmapPixels(bitmap, &p.width, &p.height);
    BITMAP bm;
    return GetObjectW(bitmap, sizeof bm, &bm) != 0;
}

void put16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}
void put32be(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(uint8_t(v >> 24));
    out.push_back(uint8_t(v >> 16));
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f)
        return false;
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(f);
}

bool saveBmp(const Pixels& p, const std::string& path)
{
    std::vector<uint8_t> out;
    uint32_t imageSize = uint32_t(p.width) * uint32_t(p.height) * 4u;
    out.push_back('B');
    out.push_back('M');
    put32(out, 14 + 40 + imageSize);
    put32(out, 0);
    put32(out, 14 + 40);
    put32(out, 40);
    put32(out, uint32_t(p.width));
    put32(out, uint32_t(p.height)); // bottom-up
    put16(out, 1);
    put16(out, 32);
    put32(out, BI_RGB);
    put32(out, imageSize);
    put32(out, 3780); // 96 dpi
    put32(out, 3780);
    put32(out, 0);
    put32(out, 0);
    for (int y = p.height - 1; y >= 0; --y) {
        const uint8_t* row = &p.bgr0[size_t(y) * size_t(p.width) * 4u];
        for (int x = 0; x < p.width; ++x) {
            out.push_back(row[x * 4]);
            out.push_back(row[x * 4 + 1]);
            out.push_back(row[x * 4 + 2]);
            out.push_back(0);
        }
    }
    return writeFile(path, out);
}

uint32_t crc32(const uint8_t* data, size_t n, uint32_t crc = 0)
{
    static uint32_t table[256];
    static bool ready = [] {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        return true;
    }();
    (void)ready;
    crc = ~crc;
    for (size_t i = 0; i < n; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data)
{
    put32be(out, uint32_t(data.size()));
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put32be(out, crc32(&out[start], out.size() - start));
}

bool savePng(const Pixels& p, const std::string& path)
{
    if (p.width <= 0 || p.height <= 0)
        return false;
    std::vector<uint8_t> raw;
    raw.reserve(size_t(p.height) * (size_t(p.width) * 3u + 1u));
    for (int y = 0; y < p.height; ++y) {
        raw.push_back(0); // no filter
        const uint8_t* row = &p.bgr0[size_t(y) * size_t(p.width) * 4u];
        for (int x = 0; x < p.width; ++x) {
            raw.push_back(row[x * 4 + 2]);
            raw.push_back(row[x * 4 + 1]);
            raw.push_back(row[x * 4]);
        }
    }
    // A zlib stream of stored blocks, with its Adler-32.
    std::vector<uint8_t> z{0x78, 0x01};
    size_t pos = 0;
    do {
        size_t n = std::min<size_t>(65535, raw.size() - pos);
        bool last = pos + n == raw.size();
        z.push_back(last ? 1 : 0);
        put16(z, uint32_t(n));
        put16(z, uint32_t(~n & 0xFFFF));
        z.insert(z.end(), raw.begin() + long(pos), raw.begin() + long(pos + n));
        pos += n;
    } while (pos < raw.size());
    uint32_t a = 1, b = 0;
    for (uint8_t v : raw) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    put32be(z, (b << 16) | a);

    std::vector<uint8_t> out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    put32be(ihdr, uint32_t(p.width));
    put32be(ihdr, uint32_t(p.height));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0}); // 8-bit RGB
    chunk(out, "IHDR", ihdr);
    chunk(out, "IDAT", z);
    chunk(out, "IEND", {});
    return writeFile(path, out);
}

} // namespace

bool platform::SaveBmp(HWND hwnd, const std::string& path)
{
    Pixels p;
    return fromWindow(hwnd, p) && saveBmp(p, path);
}

bool platform::SavePng(HWND hwnd, const std::string& path)
{
    Pixels p;
    return fromWindow(hwnd, p) && savePng(p, path);
}

bool platform::SaveBmp(HBITMAP bitmap, const std::string& path)
{
    Pixels p;
    return fromBitmap(bitmap, p) && saveBmp(p, path);
}

bool platform::SavePng(HBITMAP bitmap, const std::string& path)
{
    Pixels p;
    return fromBitmap(bitmap, p) && savePng(p, path);
}
