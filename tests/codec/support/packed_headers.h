// Moves the packet headers of a codestream with EPH and PLT into packed headers, on the
// test side: each packet's header (up to and including its EPH; the packet's end from PLT)
// leaves the tile-part body and goes into PPT segments of its tile-part header, or into
// PPM segments of the main header. SOP segments stay in the bodies; PLT and TLM are
// dropped, since the lengths they give no longer hold. Psot is recomputed.
#pragma once

#include "tests/codec/support/codestream_bytes.h"
#include "tests/codec/support/databin_split.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <vector>

namespace codec_test {

enum class packed_kind { ppt, ppm };

namespace packed_detail {

// Header bytes and body bytes of one tile-part's packets.
inline void split_packets(const stream_layout& L, const layout_tile_part& tp,
                          std::vector<uint8_t>& headers, std::vector<uint8_t>& body)
{
    const auto& b = L.bytes;
    size_t at = tp.body;
    for (uint32_t len : tp.plt) {
        const size_t end = at + len;
        size_t h = at;
        if (len >= 6 && b[at] == 0xFF && b[at + 1] == 0x91) {
            body.insert(body.end(), b.begin() + long(at), b.begin() + long(at + 6));
            h += 6;
        }
        size_t eph = h;
        while (eph + 1 < end && !(b[eph] == 0xFF && b[eph + 1] == 0x92))
            eph++;
        if (eph + 1 >= end)
            throw std::runtime_error("packet without EPH");
        headers.insert(headers.end(), b.begin() + long(h), b.begin() + long(eph + 2));
        body.insert(body.end(), b.begin() + long(eph + 2), b.begin() + long(end));
        at = end;
    }
    if (at != tp.end)
        throw std::runtime_error("PLT lengths do not fill the tile-part");
}

// Marker segments `code` carrying `data` after a one-byte index that counts on from `z`,
// split at the length limit.
inline void indexed_segments(uint16_t code, const std::vector<uint8_t>& data,
                             std::vector<uint8_t>& out, int& z)
{
    const size_t room = 65535 - 3;
    size_t at = 0;
    do {
        const size_t n = std::min(room, data.size() - at);
        if (z > 255)
            throw std::runtime_error("packed headers need more than 256 segments");
        std::vector<uint8_t> bodyv = {uint8_t(z++)};
        bodyv.insert(bodyv.end(), data.begin() + long(at), data.begin() + long(at + n));
        const auto seg = segment(code, bodyv);
        out.insert(out.end(), seg.begin(), seg.end());
        at += n;
    } while (at < data.size());
}

} // namespace packed_detail

inline std::vector<uint8_t> pack_headers(const stream_layout& L, packed_kind kind)
{
    using layout_detail::be;
    const auto& b = L.bytes;
    std::vector<uint8_t> out(b.begin(), b.begin() + 2); // SOC
    // Main header without TLM.
    for (size_t p = 2; p < L.main_end;) {
        const size_t len = be(b, p + 2, 2);
        if (be(b, p, 2) != 0xFF55)
            out.insert(out.end(), b.begin() + long(p), b.begin() + long(p + 2 + len));
        p += 2 + len;
    }
    std::vector<std::vector<uint8_t>> bodies, headers;
    for (const auto& tp : L.parts) {
        headers.emplace_back();
        bodies.emplace_back();
        packed_detail::split_packets(L, tp, headers.back(), bodies.back());
    }
    if (kind == packed_kind::ppm) {
        std::vector<uint8_t> all;
        for (const auto& h : headers) {
            put32(all, uint32_t(h.size()));
            all.insert(all.end(), h.begin(), h.end());
        }
        int z = 0;
        packed_detail::indexed_segments(0xFF60, all, out, z);
    }
    std::map<int, int> ppt_index;
    for (size_t i = 0; i < L.parts.size(); i++) {
        const auto& tp = L.parts[i];
        std::vector<uint8_t> head;
        for (size_t q = tp.sot + 12; q + 2 < tp.body;) {
            const size_t len = be(b, q + 2, 2);
            if (be(b, q, 2) != 0xFF58)
                head.insert(head.end(), b.begin() + long(q), b.begin() + long(q + 2 + len));
            q += 2 + len;
        }
        // PPT indices count on over the tile-parts of a tile.
        if (kind == packed_kind::ppt)
            packed_detail::indexed_segments(0xFF61, headers[i], head, ppt_index[tp.tile]);
        const bool to_end = be(b, tp.sot + 6, 4) == 0;
        const size_t psot = 12 + head.size() + 2 + bodies[i].size();
        out.insert(out.end(), b.begin() + long(tp.sot), b.begin() + long(tp.sot + 6));
        put32(out, to_end ? 0 : uint32_t(psot));
        out.insert(out.end(), b.begin() + long(tp.sot + 10), b.begin() + long(tp.sot + 12));
        out.insert(out.end(), head.begin(), head.end());
        out.push_back(0xFF);
        out.push_back(0x93);
        out.insert(out.end(), bodies[i].begin(), bodies[i].end());
    }
    out.push_back(0xFF);
    out.push_back(0xD9);
    return out;
}

} // namespace codec_test
