// TGA (24-bit raw and run-length, 32-bit) and PCX (8- and 24-bit) at 2048 x 2048: decoding
// from memory and encoding. ORBEL_BENCH_IMAGES names a folder with tga24.tga, tga24_rle.tga,
// tga32.tga, pcx8.pcx and pcx24.pcx (written by bench/compare_imagelib.py); without it the
// files are made here by the library's own encoders, and the run-length TGA is skipped.
#include "imagelib/RxImage.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

Bytes Made(DWORD bpp, bool alpha, DWORD type)
{
    RxImage image(2048, 2048, bpp);
    for (DWORD y = 0; y < 2048; ++y) {
        BYTE* row = image.GetBits(y);
        for (DWORD i = 0; i < image.GetEffWidth(); ++i)
            row[i] = BYTE((i / 16 + y / 16) * 9 + (i * y) % 3);
    }
    if (alpha)
        image.AlphaCreate();
    BYTE* buffer = nullptr;
    long size = 0;
    image.Encode(buffer, size, type);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

const Bytes& File(const std::string& name)
{
    static std::map<std::string, Bytes> cache;
    auto it = cache.find(name);
    if (it != cache.end())
        return it->second;
    Bytes bytes;
    if (const char* dir = std::getenv("ORBEL_BENCH_IMAGES")) {
        std::ifstream f(std::string(dir) + "/" + name, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    } else if (name == "tga24.tga") {
        bytes = Made(24, false, RXIMAGE_FORMAT_TGA);
    } else if (name == "tga32.tga") {
        bytes = Made(24, true, RXIMAGE_FORMAT_TGA);
    } else if (name == "pcx8.pcx") {
        bytes = Made(8, false, RXIMAGE_FORMAT_PCX);
    } else if (name == "pcx24.pcx") {
        bytes = Made(24, false, RXIMAGE_FORMAT_PCX);
    }
    return cache.emplace(name, std::move(bytes)).first->second;
}

DWORD TypeOf(const std::string& name)
{
    return name.find(".tga") != std::string::npos ? RXIMAGE_FORMAT_TGA : RXIMAGE_FORMAT_PCX;
}

void Decode(benchmark::State& state, const std::string& name)
{
    Bytes bytes = File(name);
    if (bytes.empty()) {
        state.SkipWithError("no file (set ORBEL_BENCH_IMAGES)");
        return;
    }
    for (auto _ : state) {
        RxImage image;
        if (!image.Decode(bytes.data(), DWORD(bytes.size()), TypeOf(name))) {
            state.SkipWithError(image.GetLastError());
            return;
        }
        benchmark::DoNotOptimize(image.GetBits());
    }
    state.SetItemsProcessed(state.iterations() * 2048 * 2048);
}

void Encode(benchmark::State& state, const std::string& name)
{
    Bytes bytes = File(name);
    RxImage image;
    if (bytes.empty() || !image.Decode(bytes.data(), DWORD(bytes.size()), TypeOf(name))) {
        state.SkipWithError("no file (set ORBEL_BENCH_IMAGES)");
        return;
    }
    for (auto _ : state) {
        BYTE* buffer = nullptr;
        long size = 0;
        image.Encode(buffer, size, TypeOf(name));
        benchmark::DoNotOptimize(buffer);
        std::free(buffer);
    }
    state.SetItemsProcessed(state.iterations() * 2048 * 2048);
}

void BM_DecodeTga24(benchmark::State& s) { Decode(s, "tga24.tga"); }
void BM_DecodeTga24Rle(benchmark::State& s) { Decode(s, "tga24_rle.tga"); }
void BM_DecodeTga32(benchmark::State& s) { Decode(s, "tga32.tga"); }
void BM_DecodePcx8(benchmark::State& s) { Decode(s, "pcx8.pcx"); }
void BM_DecodePcx24(benchmark::State& s) { Decode(s, "pcx24.pcx"); }
void BM_EncodeTga24(benchmark::State& s) { Encode(s, "tga24.tga"); }
void BM_EncodeTga32(benchmark::State& s) { Encode(s, "tga32.tga"); }
void BM_EncodePcx8(benchmark::State& s) { Encode(s, "pcx8.pcx"); }
void BM_EncodePcx24(benchmark::State& s) { Encode(s, "pcx24.pcx"); }

} // namespace

BENCHMARK(BM_DecodeTga24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeTga24Rle)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeTga32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodePcx8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodePcx24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeTga24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeTga32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodePcx8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodePcx24)->Unit(benchmark::kMillisecond);
