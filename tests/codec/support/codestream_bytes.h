// Small hand-built codestreams for codestream tests and the header fuzz seeds: SOC, a
// SIZ made from the given geometry, optional further segments, then SOT.
#pragma once

#include <cstdint>
#include <vector>

namespace codec_test {

struct siz_geometry {
    int rsiz = 2;
    uint32_t xsiz = 64, ysiz = 48, xosiz = 0, yosiz = 0;
    uint32_t xtsiz = 64, ytsiz = 48, xtosiz = 0, ytosiz = 0;
    // Per component: precision, signed, XRsiz, YRsiz.
    struct comp {
        int precision = 8;
        bool is_signed = false;
        int xr = 1, yr = 1;
    };
    std::vector<comp> comps = std::vector<comp>(1);
};

inline void put16(std::vector<uint8_t>& v, uint32_t x)
{
    v.push_back(uint8_t(x >> 8));
    v.push_back(uint8_t(x));
}
inline void put32(std::vector<uint8_t>& v, uint32_t x)
{
    put16(v, x >> 16);
    put16(v, x & 0xFFFF);
}

// A marker segment: code, length, body.
inline std::vector<uint8_t> segment(uint16_t code, const std::vector<uint8_t>& body)
{
    std::vector<uint8_t> v;
    put16(v, code);
    put16(v, uint32_t(body.size() + 2));
    v.insert(v.end(), body.begin(), body.end());
    return v;
}

inline std::vector<uint8_t> siz_segment(const siz_geometry& g)
{
    std::vector<uint8_t> b;
    put16(b, uint32_t(g.rsiz));
    put32(b, g.xsiz);
    put32(b, g.ysiz);
    put32(b, g.xosiz);
    put32(b, g.yosiz);
    put32(b, g.xtsiz);
    put32(b, g.ytsiz);
    put32(b, g.xtosiz);
    put32(b, g.ytosiz);
    put16(b, uint32_t(g.comps.size()));
    for (const auto& c : g.comps) {
        b.push_back(uint8_t((c.precision - 1) | (c.is_signed ? 0x80 : 0)));
        b.push_back(uint8_t(c.xr));
        b.push_back(uint8_t(c.yr));
    }
    return segment(0xFF51, b);
}

// A COD segment: one layer, LRCP, no MCT, `levels` levels, 64x64 blocks, 5/3.
inline std::vector<uint8_t> cod_segment(int levels)
{
    return segment(0xFF52, {0, 0, 0, 1, 0, uint8_t(levels), 4, 4, 0, 1});
}

// A QCD segment without quantisation for `levels` levels: one guard bit, 9 range bits.
inline std::vector<uint8_t> qcd_segment(int levels)
{
    std::vector<uint8_t> b = {0x20};
    for (int i = 0; i < 3 * levels + 1; i++)
        b.push_back(9 << 3);
    return segment(0xFF5C, b);
}

// SOT of tile 0, tile-part 0 of 1, Psot 0 (to the end).
inline std::vector<uint8_t> sot_segment(int tile = 0)
{
    std::vector<uint8_t> b;
    put16(b, uint32_t(tile));
    put32(b, 0);
    b.push_back(0);
    b.push_back(1);
    return segment(0xFF90, b);
}

inline std::vector<uint8_t> build_stream(const siz_geometry& g,
                                         const std::vector<std::vector<uint8_t>>& extra,
                                         bool with_sot = true)
{
    std::vector<uint8_t> v = {0xFF, 0x4F};
    auto siz = siz_segment(g);
    v.insert(v.end(), siz.begin(), siz.end());
    for (const auto& e : extra)
        v.insert(v.end(), e.begin(), e.end());
    if (with_sot) {
        auto sot = sot_segment();
        v.insert(v.end(), sot.begin(), sot.end());
        v.push_back(0xFF);
        v.push_back(0x93);
    }
    return v;
}

} // namespace codec_test
