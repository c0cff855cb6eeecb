// GIF at 2048 x 2048, 8 bits: decoding from memory and encoding with each code writer.
// ORBEL_BENCH_IMAGES names a folder holding gif8.gif (written by bench/compare_imagelib.py);
// without it the picture is made here.
#include "imagelib/RxImageGIF.h"
#include "imagelib/RxMemFile.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

// A smooth field with noise and flat areas.
Bytes Made()
{
    RxImageGIF gif;
    gif.Create(2048, 2048, 8, RXIMAGE_FORMAT_GIF);
    gif.SetGrayPalette();
    unsigned noise = 1;
    for (DWORD y = 0; y < 2048; ++y) {
        BYTE* row = gif.GetBits(y);
        for (DWORD x = 0; x < 2048; ++x) {
            noise = noise * 1103515245u + 12345u;
            row[x] = (x / 256 + y / 256) % 3 == 0 ? 40 : BYTE((x + y) / 16 + ((noise >> 16) & 3));
        }
    }
    RxMemFile file;
    file.Open();
    gif.Encode(&file);
    BYTE* p = file.GetBuffer(false);
    return Bytes(p, p + file.Size());
}

const Bytes& File()
{
    static const Bytes bytes = [] {
        if (const char* dir = std::getenv("ORBEL_BENCH_IMAGES")) {
            std::ifstream f(std::string(dir) + "/gif8.gif", std::ios::binary);
            return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
        }
        return Made();
    }();
    return bytes;
}

void BM_DecodeGif(benchmark::State& state)
{
    Bytes bytes = File();
    for (auto _ : state) {
        RxImage image;
        if (!image.Decode(bytes.data(), DWORD(bytes.size()), RXIMAGE_FORMAT_GIF)) {
            state.SkipWithError("decode failed");
            return;
        }
        benchmark::DoNotOptimize(image.GetBits());
    }
    state.SetItemsProcessed(state.iterations() * 2048 * 2048);
}

void Encode(benchmark::State& state, DWORD option)
{
    Bytes bytes = File();
    RxImage image;
    if (!image.Decode(bytes.data(), DWORD(bytes.size()), RXIMAGE_FORMAT_GIF)) {
        state.SkipWithError("decode failed");
        return;
    }
    image.SetCodecOption(option, RXIMAGE_FORMAT_GIF);
    for (auto _ : state) {
        BYTE* buffer = nullptr;
        long size = 0;
        image.Encode(buffer, size, RXIMAGE_FORMAT_GIF);
        benchmark::DoNotOptimize(buffer);
        std::free(buffer);
    }
    state.SetItemsProcessed(state.iterations() * 2048 * 2048);
}

void BM_EncodeGifLzw(benchmark::State& s) { Encode(s, 0); }
void BM_EncodeGifUncompressed(benchmark::State& s) { Encode(s, 1); }
void BM_EncodeGifRunLength(benchmark::State& s) { Encode(s, 2); }

} // namespace

BENCHMARK(BM_DecodeGif)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeGifLzw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeGifUncompressed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeGifRunLength)->Unit(benchmark::kMillisecond);
