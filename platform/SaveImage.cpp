#include "platform/Gdi.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <zlib.h>

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

void chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data)
{
    put32be(out, uint32_t(data.size()));
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put32be(out, uint32_t(crc32_z(0, &out[start], out.size() - start)));
}

// Sum of a filtered row's bytes read as signed: the usual guess for which filter
// compresses best.
uint64_t cost(const std::vector<uint8_t>& row)
{
    uint64_t sum = 0;
    for (size_t i = 1; i < row.size(); ++i)
        sum += row[i] < 128 ? row[i] : 256 - row[i];
    return sum;
}

uint8_t paeth(int a, int b, int c)
{
    int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return uint8_t(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Each row filtered with the one of the five PNG filters that scores lowest, then
// deflated row by row, so a large frame is never held twice.
bool savePng(const Pixels& p, const std::string& path)
{
    if (p.width <= 0 || p.height <= 0)
        return false;
    const size_t stride = size_t(p.width) * 3u;
    z_stream z{};
    if (deflateInit(&z, Z_DEFAULT_COMPRESSION) != Z_OK)
        return false;
    std::vector<uint8_t> idat, prior(stride, 0), row(stride);
    std::vector<uint8_t> chunkOut(1 << 16);
    std::vector<std::vector<uint8_t>> filtered(5, std::vector<uint8_t>(stride + 1));
    bool ok = true;
    for (int y = 0; y < p.height && ok; ++y) {
        const uint8_t* src = &p.bgr0[size_t(y) * size_t(p.width) * 4u];
        for (int x = 0; x < p.width; ++x) {
            row[size_t(x) * 3] = src[x * 4 + 2];
            row[size_t(x) * 3 + 1] = src[x * 4 + 1];
            row[size_t(x) * 3 + 2] = src[x * 4];
        }
        size_t best = 0;
        for (int f = 0; f < 5; ++f) {
            std::vector<uint8_t>& out = filtered[size_t(f)];
            out[0] = uint8_t(f);
            for (size_t i = 0; i < stride; ++i) {
                const int a = i >= 3 ? row[i - 3] : 0, b = prior[i], c = i >= 3 ? prior[i - 3] : 0;
                const int predicted = f == 0 ? 0 : f == 1 ? a : f == 2 ? b : f == 3 ? (a + b) / 2 : paeth(a, b, c);
                out[i + 1] = uint8_t(row[i] - predicted);
            }
            if (cost(out) < cost(filtered[best]))
                best = size_t(f);
        }
        z.next_in = filtered[best].data();
        z.avail_in = uInt(filtered[best].size());
        const int flush = y + 1 == p.height ? Z_FINISH : Z_NO_FLUSH;
        int r;
        do {
            z.next_out = chunkOut.data();
            z.avail_out = uInt(chunkOut.size());
            r = deflate(&z, flush);
            idat.insert(idat.end(), chunkOut.data(), chunkOut.data() + (chunkOut.size() - z.avail_out));
        } while (r == Z_OK && (z.avail_in > 0 || z.avail_out == 0 || flush == Z_FINISH));
        ok = flush == Z_FINISH ? r == Z_STREAM_END : r == Z_OK || r == Z_BUF_ERROR;
        prior.swap(row);
    }
    deflateEnd(&z);
    if (!ok)
        return false;

    std::vector<uint8_t> out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    put32be(ihdr, uint32_t(p.width));
    put32be(ihdr, uint32_t(p.height));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0}); // 8-bit RGB
    chunk(out, "IHDR", ihdr);
    chunk(out, "IDAT", idat);
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
