// Splits a codestream into the fake cache's bins, as a cache of a streaming client would
// hold them.
#pragma once

#include "tests/codec/support/test_sources.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace codec_test {

inline int split_be(const std::vector<uint8_t>& b, size_t p, int n)
{
    int v = 0;
    for (int i = 0; i < n; i++)
        v = (v << 8) | b.at(p + size_t(i));
    return v;
}

// Splits a codestream into a fake cache: the main header (SOC up to the first SOT) and,
// per tile, the marker segments between SOT and SOD of all its tile-parts.
inline void split_into_cache(const std::vector<uint8_t>& b, fake_cache_source& src)
{
    size_t p = 2;
    // Markers 0xFF30..0xFF3F stand alone, without a length field.
    auto lone = [&](size_t at) { return (split_be(b, at, 2) & 0xFFF0) == 0xFF30; };
    while (p + 4 <= b.size() && split_be(b, p, 2) != 0xFF90)
        p += lone(p) ? 2 : 2 + size_t(split_be(b, p + 2, 2));
    p = std::min(p, b.size());
    src.main_header.bytes.assign(b.begin(), b.begin() + long(p));
    src.main_header.complete = true;
    while (p + 12 <= b.size() && split_be(b, p, 2) == 0xFF90) {
        const int tile = split_be(b, p + 4, 2);
        const size_t psot = size_t(uint32_t(split_be(b, p + 6, 4)));
        size_t q = p + 12;
        while (q + 4 <= b.size() && split_be(b, q, 2) != 0xFF93)
            q += lone(q) ? 2 : 2 + size_t(split_be(b, q + 2, 2));
        q = std::min(q, b.size());
        auto& bin = src.tile_headers[tile];
        bin.bytes.insert(bin.bytes.end(), b.begin() + long(p + 12), b.begin() + long(q));
        bin.complete = true;
        if (psot == 0)
            break;
        p += psot;
    }
}

} // namespace codec_test
