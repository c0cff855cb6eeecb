// Byte input, header bits and buffer handling beside their plain counterparts, measured
// in the same run.
#include "bench/BenchScratch.h"
#include "codec/core/rv_buffer_server.h"
#include "codec/core/rv_compressed_input.h"
#include "codec/core/rv_header_in.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const size_t big = 16u << 20;

const std::vector<uint8_t>& bytes()
{
    static std::vector<uint8_t> v = [] {
        std::vector<uint8_t> b(big);
        uint32_t x = 12345;
        for (auto& c : b) {
            x = x * 1103515245u + 12345u;
            c = uint8_t(x >> 24);
        }
        return b;
    }();
    return v;
}

class mem_source : public rvd_compressed_source {
public:
    int get_capabilities() override { return RVD_SOURCE_CAP_SEEKABLE | RVD_SOURCE_CAP_IN_MEMORY; }
    int read(uint8_t*, int) override { return 0; }
    const uint8_t* access_memory(int64_t& p, const uint8_t*& lim) override
    {
        p = 0;
        lim = bytes().data() + bytes().size();
        return bytes().data();
    }
};

class stdio_source : public rvd_compressed_source {
public:
    explicit stdio_source(const std::string& path) : fp(std::fopen(path.c_str(), "rb")) {}
    ~stdio_source() override
    {
        if (fp != nullptr)
            std::fclose(fp);
    }
    int get_capabilities() override { return RVD_SOURCE_CAP_SEEKABLE; }
    int read(uint8_t* b, int n) override { return fp ? int(std::fread(b, 1, size_t(n), fp)) : 0; }
    bool seek(int64_t o) override { return fp && fseeko(fp, o, SEEK_SET) == 0; }

private:
    std::FILE* fp;
};

std::string file_path()
{
    static std::string path = [] {
        std::string p = benchscratch::path("codec_input.bin");
        std::FILE* f = std::fopen(p.c_str(), "wb");
        std::fwrite(bytes().data(), 1, bytes().size(), f);
        std::fclose(f);
        return p;
    }();
    return path;
}

void BM_PlainPointerLoop(benchmark::State& state)
{
    const uint8_t* d = bytes().data();
    for (auto _ : state) {
        uint32_t sum = 0;
        const uint8_t* p = d;
        const uint8_t* end = d + big;
        while (p != end)
            sum += *p++;
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(big));
}

void BM_GetMemorySource(benchmark::State& state)
{
    for (auto _ : state) {
        mem_source src;
        rv_compressed_input in(&src);
        uint32_t sum = 0;
        uint8_t b;
        while (in.get(b))
            sum += b;
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(big));
}

void BM_GetFileSource(benchmark::State& state)
{
    std::string path = file_path();
    for (auto _ : state) {
        stdio_source src(path);
        rv_compressed_input in(&src);
        uint32_t sum = 0;
        uint8_t b;
        while (in.get(b))
            sum += b;
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(big));
}

void BM_GetBit(benchmark::State& state)
{
    const int64_t n = 1 << 20;
    for (auto _ : state) {
        mem_source src;
        rv_compressed_input in(&src);
        in.set_max_bytes(n);
        rv_header_in h(&in);
        uint32_t sum = 0;
        try {
            for (;;)
                sum += uint32_t(h.get_bit());
        } catch (rv_header_in*) {
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * n);
}

void BM_BufferGetRelease(benchmark::State& state)
{
    rv_buffer_server srv;
    std::vector<rv_buffer*> held(1024);
    for (auto _ : state) {
        for (auto& b : held)
            b = srv.get();
        for (auto* b : held)
            srv.release(b);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(held.size()));
}

void BM_MallocFree64(benchmark::State& state)
{
    std::vector<void*> held(1024);
    for (auto _ : state) {
        for (auto& b : held)
            b = std::malloc(64);
        // The pointers escape through the vector as a whole: with a DoNotOptimize per
        // element, the address sanitizer's build reported every block of a pass leaked.
        benchmark::DoNotOptimize(held.data());
        benchmark::ClobberMemory();
        for (void* b : held)
            std::free(b);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(held.size()));
}

BENCHMARK(BM_PlainPointerLoop);
BENCHMARK(BM_GetMemorySource);
BENCHMARK(BM_GetFileSource);
BENCHMARK(BM_GetBit);
BENCHMARK(BM_BufferGetRelease);
BENCHMARK(BM_MallocFree64);

} // namespace
