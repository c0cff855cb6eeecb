// Parsing a 16 MB JPP-stream in 10 KB bodies into the cache and reading every bin back,
// beside a plain memcpy of the same bytes.
#include "R2IVuzi/J2KCache.h"
#include "R2IVuzi/JpipParser.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

void putVbas(std::vector<uint8_t>& out, uint64_t v)
{
    uint8_t tmp[10];
    int n = 0;
    do {
        tmp[n++] = uint8_t(v & 0x7F);
        v >>= 7;
    } while (v);
    for (int i = n - 1; i >= 0; --i)
        out.push_back(uint8_t(tmp[i] | (i ? 0x80 : 0)));
}

struct Stream {
    std::vector<uint8_t> bytes;
    std::vector<std::pair<size_t, size_t>> bodies;
    int bins = 1024;
    int binBytes = 16 << 20 >> 10;
};

const Stream& stream()
{
    static Stream s = [] {
        Stream st;
        const int piece = 1000;
        size_t bodyStart = 0;
        for (int off = 0; off < st.binBytes; off += piece)
            for (int b = 0; b < st.bins; ++b) {
                size_t at = st.bytes.size();
                st.bytes.push_back(uint8_t(0x60 | (off + piece >= st.binBytes ? 0x10 : 0) | (b >> 7 ? 0x80 : 0) |
                                           ((b >> 7) & 0x0F)));
                if (b >> 7)
                    st.bytes.push_back(uint8_t(b & 0x7F));
                putVbas(st.bytes, 0);
                putVbas(st.bytes, 0);
                putVbas(st.bytes, uint64_t(off));
                int n = std::min(piece, st.binBytes - off);
                putVbas(st.bytes, uint64_t(n));
                for (int i = 0; i < n; ++i)
                    st.bytes.push_back(uint8_t(b + i));
                if (st.bytes.size() - bodyStart > 10240) {
                    st.bodies.emplace_back(bodyStart, at);
                    bodyStart = at;
                }
            }
        st.bodies.emplace_back(bodyStart, st.bytes.size());
        return st;
    }();
    return s;
}

void BM_ParseAndReadBack(benchmark::State& state)
{
    const Stream& s = stream();
    std::vector<uint8_t> buf(size_t(s.binBytes));
    for (auto _ : state) {
        CJ2KCache cache;
        CJpipParser parser;
        for (auto& b : s.bodies)
            parser.parse(&cache, s.bytes.data() + b.first, b.second - b.first);
        int64_t total = 0;
        for (int64_t id = cache.get_next_databin_oldest_first(0, 0, -1, false); id >= 0;
             id = cache.get_next_databin_oldest_first(0, 0, id, false)) {
            cache.set_read_scope(0, 0, id);
            total += cache.read(buf.data(), int(buf.size()));
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.bytes.size()));
}
BENCHMARK(BM_ParseAndReadBack)->Unit(benchmark::kMillisecond);

void BM_MemcpySameBytes(benchmark::State& state)
{
    const Stream& s = stream();
    std::vector<uint8_t> dst(s.bytes.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), s.bytes.data(), s.bytes.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.bytes.size()));
}
BENCHMARK(BM_MemcpySameBytes)->Unit(benchmark::kMillisecond);

} // namespace
