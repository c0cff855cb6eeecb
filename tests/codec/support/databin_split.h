// Test-side data-bin splitter, independent of the codec: a codestream taken apart by its
// own small marker parser, header bins as tile_cache_split.h makes them (less PLT), and
// precinct bins cut from streams with packet lengths (PLT) in the packet order of the
// independent model (packet_order.h), keyed by the precinct's unique id. Bins can keep or
// drop the packets' SOP segments, hold only the first packets of each precinct, or be cut
// short.
#pragma once

#include "tests/codec/support/packet_order.h"
#include "tests/codec/support/test_sources.h"
#include "tests/codec/support/tile_cache_split.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace codec_test {

// Coding values of one component as COD or COC give them.
struct layout_coding {
    int levels = 0;
    std::vector<int> ppx, ppy; // per resolution, lowest first (15 without precincts)
};

struct layout_tile_part {
    size_t sot = 0, body = 0, end = 0; // SOT position, first body byte, end of the tile-part
    int tile = 0, tpsot = 0, tnsot = 0;
    std::vector<uint32_t> plt;         // packet lengths in this tile-part, in order
};

// One packet of a tile as the model and the PLT lengths place it.
struct layout_packet {
    int layer = 0, res = 0, comp = 0, prec = 0; // prec: raster index in the resolution
    int64_t id = 0;                             // the precinct's unique id
    size_t offset = 0, length = 0;              // in the codestream, SOP included
    int seq = 0;                                // sequence number within the tile
};

struct stream_layout {
    std::vector<uint8_t> bytes;
    int64_t xsiz = 0, ysiz = 0, xosiz = 0, yosiz = 0, xtsiz = 0, ytsiz = 0, xtosiz = 0, ytosiz = 0;
    std::vector<std::pair<int, int>> subs; // XRsiz, YRsiz per component
    size_t main_end = 0;                   // first SOT
    // Coding style of the main header and, per tile, of its first tile-part header.
    struct style {
        bool has_cod = false;
        int order = 0, layers = 1;
        bool sop = false, eph = false;
        layout_coding cod;
        std::map<int, layout_coding> coc;
        std::vector<progression_record> poc;
    };
    style main;
    std::map<int, style> tile_styles;
    std::vector<layout_tile_part> parts;

    int num_components() const { return int(subs.size()); }
    int tiles_across() const { return int(order_cdiv(xsiz - xtosiz, xtsiz)); }
    int tiles_down() const { return int(order_cdiv(ysiz - ytosiz, ytsiz)); }
    int num_tiles() const { return tiles_across() * tiles_down(); }
    void tile_region(int t, int64_t& x0, int64_t& y0, int64_t& x1, int64_t& y1) const
    {
        const int64_t p = t % tiles_across(), q = t / tiles_across();
        x0 = std::max(xtosiz + p * xtsiz, xosiz);
        y0 = std::max(ytosiz + q * ytsiz, yosiz);
        x1 = std::min(xtosiz + (p + 1) * xtsiz, xsiz);
        y1 = std::min(ytosiz + (q + 1) * ytsiz, ysiz);
    }
    const style& tile_style(int t) const
    {
        auto it = tile_styles.find(t);
        return it == tile_styles.end() ? main : it->second;
    }
    bool uses_sop(int t) const { return tile_has_cod(t) ? tile_style(t).sop : main.sop; }
    bool uses_eph(int t) const { return tile_has_cod(t) ? tile_style(t).eph : main.eph; }
    int layers(int t) const { return tile_has_cod(t) ? tile_style(t).layers : main.layers; }
    bool tile_has_cod(int t) const { return tile_styles.count(t) && tile_styles.at(t).has_cod; }
    // Tile COC, tile COD, main COC, main COD, in that order of precedence.
    layout_coding coding(int t, int c) const
    {
        auto it = tile_styles.find(t);
        if (it != tile_styles.end()) {
            if (it->second.coc.count(c))
                return it->second.coc.at(c);
            if (it->second.has_cod)
                return it->second.cod;
        }
        if (main.coc.count(c))
            return main.coc.at(c);
        return main.cod;
    }
};

namespace layout_detail {

inline uint32_t be(const std::vector<uint8_t>& b, size_t p, int n)
{
    if (p + size_t(n) > b.size())
        throw std::runtime_error("codestream ends inside a field");
    uint32_t v = 0;
    for (int i = 0; i < n; i++)
        v = (v << 8) | b[p + size_t(i)];
    return v;
}

inline layout_coding coding_values(const std::vector<uint8_t>& b, size_t p, bool precincts)
{
    layout_coding c;
    c.levels = int(be(b, p, 1));
    for (int r = 0; r <= c.levels; r++) {
        const int v = precincts ? int(be(b, p + 5 + size_t(r), 1)) : 0xFF;
        c.ppx.push_back(v & 15);
        c.ppy.push_back(v >> 4);
    }
    return c;
}

// Reads one header segment (body at p, Lxxx - 2 bytes) into the style.
inline void header_segment(const std::vector<uint8_t>& b, uint16_t code, size_t p, size_t len,
                           int ncomps, stream_layout::style& st)
{
    const int cbytes = ncomps < 257 ? 1 : 2;
    if (code == 0xFF52) {
        const int scod = int(be(b, p, 1));
        st.has_cod = true;
        st.order = int(be(b, p + 1, 1));
        st.layers = int(be(b, p + 2, 2));
        st.sop = (scod & 2) != 0;
        st.eph = (scod & 4) != 0;
        st.cod = coding_values(b, p + 5, (scod & 1) != 0);
    } else if (code == 0xFF53) {
        const int c = int(be(b, p, cbytes));
        const int scoc = int(be(b, p + size_t(cbytes), 1));
        st.coc[c] = coding_values(b, p + size_t(cbytes) + 1, (scoc & 1) != 0);
    } else if (code == 0xFF5F) {
        const size_t rec = size_t(5 + 2 * cbytes);
        for (size_t q = p; q + rec <= p + len; q += rec) {
            progression_record r;
            r.rs = int(be(b, q, 1));
            r.cs = int(be(b, q + 1, cbytes));
            r.lye = int(be(b, q + 1 + size_t(cbytes), 2));
            r.re = int(be(b, q + 3 + size_t(cbytes), 1));
            r.ce = int(be(b, q + 4 + size_t(cbytes), cbytes));
            if (r.ce == 0)
                r.ce = cbytes == 1 ? 256 : 16384;
            r.order = int(be(b, q + 4 + size_t(2 * cbytes), 1));
            st.poc.push_back(r);
        }
    }
}

// Markers 0xFF30..0xFF3F stand alone, without a length field.
inline bool lone_marker(const std::vector<uint8_t>& b, size_t p)
{
    return (be(b, p, 2) & 0xFFF0) == 0xFF30;
}

// PLT lengths: 7 bits per byte, most significant first, the top bit set while more follow.
inline void plt_lengths(const std::vector<uint8_t>& b, size_t p, size_t len,
                        std::vector<uint32_t>& out)
{
    uint32_t v = 0;
    for (size_t q = p + 1; q < p + len; q++) {
        v = (v << 7) | (b[q] & 0x7F);
        if ((b[q] & 0x80) == 0) {
            out.push_back(v);
            v = 0;
        }
    }
}

} // namespace layout_detail

// Parses the main header, every tile-part header and the tile-part extents.
inline stream_layout parse_layout(std::vector<uint8_t> bytes)
{
    using layout_detail::be;
    stream_layout L;
    L.bytes = std::move(bytes);
    const auto& b = L.bytes;
    if (be(b, 0, 2) != 0xFF4F || be(b, 2, 2) != 0xFF51)
        throw std::runtime_error("no SOC and SIZ");
    L.xsiz = be(b, 8, 4);
    L.ysiz = be(b, 12, 4);
    L.xosiz = be(b, 16, 4);
    L.yosiz = be(b, 20, 4);
    L.xtsiz = be(b, 24, 4);
    L.ytsiz = be(b, 28, 4);
    L.xtosiz = be(b, 32, 4);
    L.ytosiz = be(b, 36, 4);
    const int nc = int(be(b, 40, 2));
    for (int c = 0; c < nc; c++)
        L.subs.emplace_back(int(be(b, 43 + 3 * size_t(c), 1)), int(be(b, 44 + 3 * size_t(c), 1)));
    size_t p = 4 + be(b, 4, 2);
    while (be(b, p, 2) != 0xFF90) {
        if (layout_detail::lone_marker(b, p)) {
            p += 2;
            continue;
        }
        const size_t len = be(b, p + 2, 2);
        layout_detail::header_segment(b, uint16_t(be(b, p, 2)), p + 4, len - 2, nc, L.main);
        p += 2 + len;
    }
    L.main_end = p;
    while (p + 12 <= b.size() && be(b, p, 2) == 0xFF90) {
        layout_tile_part tp;
        tp.sot = p;
        tp.tile = int(be(b, p + 4, 2));
        const uint32_t psot = be(b, p + 6, 4);
        tp.tpsot = int(be(b, p + 10, 1));
        tp.tnsot = int(be(b, p + 11, 1));
        size_t q = p + 12;
        auto& st = L.tile_styles[tp.tile];
        while (be(b, q, 2) != 0xFF93) {
            const uint16_t code = uint16_t(be(b, q, 2));
            if (layout_detail::lone_marker(b, q)) {
                q += 2;
                continue;
            }
            const size_t len = be(b, q + 2, 2);
            if (code == 0xFF58)
                layout_detail::plt_lengths(b, q + 4, len - 2, tp.plt);
            else if (tp.tpsot == 0 || code == 0xFF5F)
                layout_detail::header_segment(b, code, q + 4, len - 2, nc, st);
            q += 2 + len;
        }
        tp.body = q + 2;
        tp.end = psot == 0 ? b.size() - 2 : p + psot;
        if (tp.end > b.size() || tp.end < tp.body)
            throw std::runtime_error("tile-part runs past the codestream");
        L.parts.push_back(tp);
        p = tp.end;
    }
    for (auto it = L.tile_styles.begin(); it != L.tile_styles.end();)
        it = (!it->second.has_cod && it->second.coc.empty() && it->second.poc.empty())
                 ? L.tile_styles.erase(it)
                 : std::next(it);
    return L;
}

// Packet order of tile t by the model: the tile's POC records (all tile-parts), else the
// main header's, else the COD order.
inline packet_order_model tile_model(const stream_layout& L, int t)
{
    std::vector<order_component> comps;
    for (int c = 0; c < L.num_components(); c++) {
        const layout_coding cod = L.coding(t, c);
        order_component oc;
        oc.levels = cod.levels;
        oc.xr = L.subs[size_t(c)].first;
        oc.yr = L.subs[size_t(c)].second;
        oc.ppx = cod.ppx;
        oc.ppy = cod.ppy;
        comps.push_back(oc);
    }
    int64_t x0, y0, x1, y1;
    L.tile_region(t, x0, y0, x1, y1);
    packet_order_model m(comps, L.layers(t), x0, y0, x1, y1);
    const auto& tile_poc = L.tile_style(t).poc;
    const auto& recs = !tile_poc.empty() ? tile_poc : L.main.poc;
    if (recs.empty())
        m.run(m.whole(L.tile_has_cod(t) ? L.tile_style(t).order : L.main.order));
    for (const auto& r : recs)
        m.run(r);
    return m;
}

// Unique id of precinct k of resolution r of component c in tile t, from the model's
// precinct counts.
inline int64_t precinct_unique_id(const stream_layout& L, const packet_order_model& m, int t,
                                  int c, int r, int k)
{
    int64_t p = k;
    for (int q = 0; q < r; q++)
        p += m.cols(c, q) * m.rows(c, q);
    return (p * L.num_components() + c) * L.num_tiles() + t;
}

// Every packet of tile t, placed by the model's order and the tile-parts' PLT lengths.
inline std::vector<layout_packet> tile_packets(const stream_layout& L, int t)
{
    const packet_order_model m = tile_model(L, t);
    std::vector<std::pair<size_t, size_t>> extents; // offset, length
    for (const auto& tp : L.parts) {
        if (tp.tile != t)
            continue;
        size_t at = tp.body;
        for (uint32_t len : tp.plt) {
            extents.emplace_back(at, len);
            at += len;
        }
        if (at != tp.end)
            throw std::runtime_error("PLT lengths do not fill tile-part " +
                                     std::to_string(tp.tpsot) + " of tile " + std::to_string(t));
    }
    if (extents.size() != m.out.size() || int64_t(extents.size()) != m.total_packets())
        throw std::runtime_error("tile " + std::to_string(t) + ": " +
                                 std::to_string(extents.size()) + " PLT lengths, model has " +
                                 std::to_string(m.out.size()) + " packets");
    std::vector<layout_packet> out;
    for (size_t i = 0; i < extents.size(); i++) {
        layout_packet pk;
        std::tie(pk.layer, pk.res, pk.comp, pk.prec) = m.out[i];
        pk.id = precinct_unique_id(L, m, t, pk.comp, pk.res, pk.prec);
        pk.offset = extents[i].first;
        pk.length = extents[i].second;
        pk.seq = int(i);
        out.push_back(pk);
    }
    return out;
}

struct split_options {
    bool keep_sop = true;
    int max_packets = -1;      // packets kept per precinct (-1: all)
    int64_t cut_id = -1;       // this precinct's bin is cut ...
    size_t cut_bytes = 0;      // ... to this many bytes
    bool complete = true;      // completeness flag of the precinct bins
};

// Fills the cache: header bins as tile_cache_split.h makes them, precinct bins from the
// packets (all tiles). Returns the packets, tile by tile.
inline std::vector<layout_packet> split_into_databins(const stream_layout& L,
                                                      fake_cache_source& src,
                                                      const split_options& opt = split_options())
{
    split_into_cache(L.bytes, src);
    // Packet lengths say nothing once packets travel in precinct bins: a server leaves
    // them out of the tile-header bins.
    for (auto& kv : src.tile_headers) {
        std::vector<uint8_t> kept;
        const auto& h = kv.second.bytes;
        for (size_t q = 0; q + 4 <= h.size();) {
            if (layout_detail::lone_marker(h, q)) {
                kept.insert(kept.end(), h.begin() + long(q), h.begin() + long(q + 2));
                q += 2;
                continue;
            }
            const size_t len = layout_detail::be(h, q + 2, 2);
            if (layout_detail::be(h, q, 2) != 0xFF58)
                kept.insert(kept.end(), h.begin() + long(q), h.begin() + long(q + 2 + len));
            q += 2 + len;
        }
        kv.second.bytes = kept;
    }
    std::vector<layout_packet> all;
    std::map<int64_t, int> counts;
    for (int t = 0; t < L.num_tiles(); t++) {
        bool present = false;
        for (const auto& tp : L.parts)
            present |= tp.tile == t;
        if (!present)
            continue;
        for (const layout_packet& pk : tile_packets(L, t)) {
            all.push_back(pk);
            auto& bin = src.precincts[pk.id];
            bin.complete = opt.complete;
            if (opt.max_packets >= 0 && counts[pk.id]++ >= opt.max_packets) {
                bin.complete = false;
                continue;
            }
            size_t from = pk.offset;
            if (!opt.keep_sop && pk.length >= 6 && L.bytes[from] == 0xFF &&
                L.bytes[from + 1] == 0x91)
                from += 6;
            bin.bytes.insert(bin.bytes.end(), L.bytes.begin() + long(from),
                             L.bytes.begin() + long(pk.offset + pk.length));
        }
    }
    if (opt.cut_id >= 0 && src.precincts.count(opt.cut_id)) {
        auto& bin = src.precincts[opt.cut_id];
        bin.bytes.resize(std::min(bin.bytes.size(), opt.cut_bytes));
        bin.complete = false;
    }
    return all;
}

} // namespace codec_test
