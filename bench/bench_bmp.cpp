// BMP decoding and encoding in memory at 2048 x 2048: 24-bit, 8-bit and RLE8 files.
// ORBEL_BENCH_IMAGES names a folder holding bmp24.bmp, bmp8.bmp and bmp_rle8.bmp (written
// by bench/compare_imagelib.py); without it the plain files are made here and RLE8 is skipped.
#include "imagelib/RxImage.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

Bytes Made(DWORD bpp)
{
    RxImage image(2048, 2048, bpp);
    for (DWORD y = 0; y < 2048; ++y) {
        BYTE* row = image.GetBits(y);
        for (DWORD i = 0; i < image.GetEffWidth(); ++i)
            row[i] = BYTE((i / 8 + y / 8) * 7 + (i * y) % 5);
    }
    BYTE* buffer = nullptr;
    long size = 0;
    image.Encode(buffer, size, RXIMAGE_FORMAT_BMP);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

// The named file of the bench folder, or for plain depths one made here.
const Bytes& File(const std::string& name, DWORD bpp)
{
    static std::vector<std::pair<std::string, Bytes>> cache;
    for (const auto& [n, b] : cache)
        if (n == name)
            return b;
    Bytes bytes;
    if (const char* dir = std::getenv("ORBEL_BENCH_IMAGES")) {
        std::ifstream f(std::string(dir) + "/" + name, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    } else if (bpp) {
        bytes = Made(bpp);
    }
    cache.emplace_back(name, std::move(bytes));
    return cache.back().second;
}

void Decode(benchmark::State& state, const std::string& name, DWORD bpp)
{
    Bytes bytes = File(name, bpp);
    if (bytes.empty()) {
        state.SkipWithError("no file (set ORBEL_BENCH_IMAGES)");
        return;
    }
    for (auto _ : state) {
        RxImage image;
        if (!image.Decode(bytes.data(), DWORD(bytes.size()), RXIMAGE_FORMAT_BMP)) {
            state.SkipWithError(image.GetLastError());
            return;
        }
        benchmark::DoNotOptimize(image.GetBits());
    }
    state.SetItemsProcessed(state.iterations() * 2048 * 2048);
}

void Encode(benchmark::State& state, const std::string& name, DWORD bpp)
{
    Bytes bytes = File(name, bpp);
    RxImage image;
    if (!image.Decode(bytes.data(), DWORD(bytes.size()), RXIMAGE_FORMAT_BMP)) {
        state.SkipWithError("no file (set ORBEL_BENCH_IMAGES)");
        return;
    }
    for (auto _ : state) {
        BYTE* buffer = nullptr;
        long size = 0;
        image.Encode(buffer, size, RXIMAGE_FORMAT_BMP);
        benchmark::DoNotOptimize(buffer);
        std::free(buffer);
    }
    state.SetItemsProcessed(state.iterations() * 2048 * 2048);
}

void BM_DecodeBmp24(benchmark::State& s) { Decode(s, "bmp24.bmp", 24); }
void BM_DecodeBmp8(benchmark::State& s) { Decode(s, "bmp8.bmp", 8); }
void BM_DecodeBmpRle8(benchmark::State& s) { Decode(s, "bmp_rle8.bmp", 0); }
void BM_EncodeBmp24(benchmark::State& s) { Encode(s, "bmp24.bmp", 24); }
void BM_EncodeBmp8(benchmark::State& s) { Encode(s, "bmp8.bmp", 8); }

} // namespace

BENCHMARK(BM_DecodeBmp24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBmp8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBmpRle8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeBmp24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeBmp8)->Unit(benchmark::kMillisecond);
