// Test-side packet locator: packet lengths of a codestream without PLT, found by parsing
// every packet header with its own tag trees, pass-count and length codes, independently
// of the codec's reader. The lengths go into the layout's per-tile-part lists, so the
// data-bin splitter cuts such streams unchanged. Packed headers (PPM/PPT) are not handled.
#pragma once

#include "tests/codec/support/databin_split.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace codec_test {

namespace locator_detail {

// Code-block size exponents and style of one component.
struct block_coding {
    int xcb = 6, ycb = 6, style = 0;
};

// Reads the code-block fields of COD/COC segments (tile COC, tile COD, main COC, main COD
// take precedence in that order, as for the layout's coding values).
struct block_styles {
    bool has_cod = false;
    block_coding cod;
    std::map<int, block_coding> coc;

    void segment(const std::vector<uint8_t>& b, uint16_t code, size_t p, int ncomps)
    {
        using layout_detail::be;
        const size_t cbytes = ncomps < 257 ? 1 : 2;
        if (code == 0xFF52) {
            has_cod = true;
            cod = values(b, p + 5);
        } else if (code == 0xFF53) {
            coc[int(be(b, p, int(cbytes)))] = values(b, p + cbytes + 1);
        }
    }
    static block_coding values(const std::vector<uint8_t>& b, size_t p) // at the level count
    {
        block_coding c;
        c.xcb = int(layout_detail::be(b, p + 1, 1)) + 2;
        c.ycb = int(layout_detail::be(b, p + 2, 1)) + 2;
        c.style = int(layout_detail::be(b, p + 3, 1));
        return c;
    }
};

// Header bits with the stuffing rule: after an FF byte only 7 bits are used.
class bit_reader {
public:
    bit_reader(const std::vector<uint8_t>& b, size_t from, size_t end) : b_(b), at_(from), end_(end) {}
    int bit()
    {
        if (left_ == 0) {
            if (at_ >= end_)
                throw std::runtime_error("packet header runs past its tile-part");
            last_ff_ = cur_ == 0xFF;
            cur_ = b_[at_++];
            left_ = last_ff_ ? 7 : 8;
        }
        return (cur_ >> --left_) & 1;
    }
    int bits(int n)
    {
        int v = 0;
        while (n-- > 0)
            v = (v << 1) | bit();
        return v;
    }
    // First byte after the header: a header ending on FF is followed by a stuffed byte.
    size_t finish()
    {
        if (cur_ == 0xFF && at_ > 0) {
            if (at_ >= end_)
                throw std::runtime_error("packet header runs past its tile-part");
            at_++;
        }
        return at_;
    }

private:
    const std::vector<uint8_t>& b_;
    size_t at_, end_;
    int cur_ = 0, left_ = 0;
    bool last_ff_ = false;
};

class tag_tree {
public:
    tag_tree() = default;
    tag_tree(int w, int h)
    {
        for (;;) {
            widths_.push_back(w);
            heights_.push_back(h);
            if (w * h <= 1)
                break;
            w = (w + 1) / 2;
            h = (h + 1) / 2;
        }
        for (size_t l = 0; l < widths_.size(); l++) {
            first_.push_back(value_.size());
            value_.resize(value_.size() + size_t(widths_[l] * heights_[l]), INT_MAX);
        }
        low_.assign(value_.size(), 0);
    }
    // Decodes until the leaf's value is known or shown to be at least threshold.
    int decode(bit_reader& in, int x, int y, int threshold)
    {
        std::vector<size_t> path;
        for (size_t l = 0; l < widths_.size(); l++, x /= 2, y /= 2)
            path.push_back(first_[l] + size_t(y * widths_[l] + x));
        int low = 0;
        for (auto it = path.rbegin(); it != path.rend(); ++it) {
            if (low > low_[*it])
                low_[*it] = low;
            else
                low = low_[*it];
            while (low < threshold && low < value_[*it]) {
                if (in.bit())
                    value_[*it] = low;
                else
                    low++;
            }
            low_[*it] = low;
        }
        return value_[path.front()];
    }

private:
    std::vector<int> widths_, heights_;
    std::vector<size_t> first_;
    std::vector<int> value_, low_;
};

struct block_state {
    bool included = false;
    int lblock = 3, passes = 0;
};

struct band_precinct {
    int cols = 0, rows = 0;
    tag_tree inclusion, zero_planes;
    std::vector<block_state> blocks;
};

inline int64_t cdiv(int64_t a, int64_t b) { return (a + b - 1) / b; }

inline int floor_log2(int v)
{
    int n = 0;
    while (v > 1) {
        v >>= 1;
        n++;
    }
    return n;
}

// Number of passes, from the variable-length code.
inline int pass_count(bit_reader& in)
{
    if (!in.bit())
        return 1;
    if (!in.bit())
        return 2;
    const int two = in.bits(2);
    if (two != 3)
        return 3 + two;
    const int five = in.bits(5);
    if (five != 31)
        return 6 + five;
    return 37 + in.bits(7);
}

// Passes in each codeword segment of a contribution of n passes after `done` earlier ones:
// every pass its own segment when each pass is terminated; with arithmetic-coding bypass
// the first ten passes form one segment, then two raw passes and one cleanup pass
// alternate; otherwise a single segment.
inline std::vector<int> segments(int style, int done, int n)
{
    std::vector<int> out;
    if (style & 4)
        return std::vector<int>(size_t(n), 1);
    if (!(style & 1))
        return {n};
    int p = done;
    const int end = done + n;
    while (p < end) {
        int seg_end;
        if (p < 10)
            seg_end = 10;
        else if ((p - 10) % 3 < 2)
            seg_end = p - (p - 10) % 3 + 2;
        else
            seg_end = p + 1;
        const int take = std::min(seg_end, end) - p;
        out.push_back(take);
        p += take;
    }
    return out;
}

} // namespace locator_detail

// Parses every packet of every tile and fills each tile-part's `plt` with the lengths
// (SOP and EPH included), replacing any PLT lengths it held.
inline void locate_packets(stream_layout& L)
{
    using namespace locator_detail;
    const auto& b = L.bytes;
    const int nc = L.num_components();
    block_styles main_blocks;
    for (size_t p = 4 + layout_detail::be(b, 4, 2); p < L.main_end;) {
        if (layout_detail::lone_marker(b, p)) {
            p += 2;
            continue;
        }
        const size_t len = layout_detail::be(b, p + 2, 2);
        main_blocks.segment(b, uint16_t(layout_detail::be(b, p, 2)), p + 4, nc);
        p += 2 + len;
    }
    std::map<int, block_styles> tile_blocks;
    for (auto& tp : L.parts) {
        tp.plt.clear();
        for (size_t q = tp.sot + 12; q + 2 < tp.body;) {
            if (layout_detail::lone_marker(b, q)) {
                q += 2;
                continue;
            }
            const size_t len = layout_detail::be(b, q + 2, 2);
            const uint16_t code = uint16_t(layout_detail::be(b, q, 2));
            if (code == 0xFF61)
                throw std::runtime_error("packed packet headers are not located");
            if (tp.tpsot == 0)
                tile_blocks[tp.tile].segment(b, code, q + 4, nc);
            q += 2 + len;
        }
    }
    for (size_t p = 4 + layout_detail::be(b, 4, 2); p < L.main_end;) {
        if (layout_detail::be(b, p, 2) == 0xFF60)
            throw std::runtime_error("packed packet headers are not located");
        p += layout_detail::lone_marker(b, p) ? 2 : 2 + layout_detail::be(b, p + 2, 2);
    }
    auto blocks_of = [&](int t, int c) {
        auto it = tile_blocks.find(t);
        if (it != tile_blocks.end()) {
            if (it->second.coc.count(c))
                return it->second.coc.at(c);
            if (it->second.has_cod)
                return it->second.cod;
        }
        if (main_blocks.coc.count(c))
            return main_blocks.coc.at(c);
        return main_blocks.cod;
    };

    for (int t = 0; t < L.num_tiles(); t++) {
        std::vector<size_t> parts;
        for (size_t i = 0; i < L.parts.size(); i++)
            if (L.parts[i].tile == t)
                parts.push_back(i);
        if (parts.empty())
            continue;
        const packet_order_model m = tile_model(L, t);
        const bool sop = L.uses_sop(t), eph = L.uses_eph(t);
        int64_t x0, y0, x1, y1;
        L.tile_region(t, x0, y0, x1, y1);
        // state[c][r][k][band]
        std::vector<std::vector<std::vector<std::vector<band_precinct>>>> state(static_cast<size_t>(nc));
        std::vector<block_coding> coding;
        for (int c = 0; c < nc; c++) {
            const block_coding bc = blocks_of(t, c);
            coding.push_back(bc);
            const int64_t tcx0 = cdiv(x0, m.xr(c)), tcx1 = cdiv(x1, m.xr(c));
            const int64_t tcy0 = cdiv(y0, m.yr(c)), tcy1 = cdiv(y1, m.yr(c));
            state[size_t(c)].resize(size_t(m.nl(c) + 1));
            for (int r = 0; r <= m.nl(c); r++) {
                const int ppx = m.px(c, r) - (r > 0 ? 1 : 0), ppy = m.py(c, r) - (r > 0 ? 1 : 0);
                const int xcb = std::min(bc.xcb, ppx), ycb = std::min(bc.ycb, ppy);
                const int nb = r == 0 ? m.nl(c) : m.nl(c) - r + 1;
                const int64_t pcols = m.cols(c, r), prows = m.rows(c, r);
                const int64_t first_px = m.trx0(c, r) >> m.px(c, r), first_py = m.try0(c, r) >> m.py(c, r);
                auto& res = state[size_t(c)][size_t(r)];
                res.resize(size_t(pcols * prows));
                for (int64_t k = 0; k < pcols * prows; k++) {
                    const int64_t kx = first_px + k % pcols, ky = first_py + k / pcols;
                    for (int band = (r == 0 ? 0 : 1); band <= (r == 0 ? 0 : 3); band++) {
                        const int64_t xo = band & 1, yo = band >> 1;
                        const int64_t half = nb > 0 ? int64_t(1) << (nb - 1) : 0;
                        const int64_t bx0 = cdiv(tcx0 - half * xo, int64_t(1) << nb);
                        const int64_t bx1 = cdiv(tcx1 - half * xo, int64_t(1) << nb);
                        const int64_t by0 = cdiv(tcy0 - half * yo, int64_t(1) << nb);
                        const int64_t by1 = cdiv(tcy1 - half * yo, int64_t(1) << nb);
                        const int64_t px0 = std::max(bx0, kx << ppx), px1 = std::min(bx1, (kx + 1) << ppx);
                        const int64_t py0 = std::max(by0, ky << ppy), py1 = std::min(by1, (ky + 1) << ppy);
                        band_precinct bp;
                        if (px1 > px0 && py1 > py0) {
                            bp.cols = int(cdiv(px1, int64_t(1) << xcb) - (px0 >> xcb));
                            bp.rows = int(cdiv(py1, int64_t(1) << ycb) - (py0 >> ycb));
                            bp.inclusion = tag_tree(bp.cols, bp.rows);
                            bp.zero_planes = tag_tree(bp.cols, bp.rows);
                            bp.blocks.resize(size_t(bp.cols * bp.rows));
                        }
                        res[size_t(k)].push_back(std::move(bp));
                    }
                }
            }
        }
        size_t part = 0, at = L.parts[parts[0]].body;
        for (const packet_id& id : m.out) {
            // A packet never straddles tile-parts: move on once one is used up.
            while (at >= L.parts[parts[part]].end && part + 1 < parts.size())
                at = L.parts[parts[++part]].body;
            layout_tile_part& tp = L.parts[parts[part]];
            int layer, r, c, k;
            std::tie(layer, r, c, k) = id;
            const size_t start = at;
            if (sop && at + 6 <= tp.end && b[at] == 0xFF && b[at + 1] == 0x91)
                at += 6;
            bit_reader in(b, at, tp.end);
            size_t body = 0;
            if (in.bit()) {
                for (band_precinct& bp : state[size_t(c)][size_t(r)][size_t(k)]) {
                    for (int y = 0; y < bp.rows; y++)
                        for (int x = 0; x < bp.cols; x++) {
                            block_state& blk = bp.blocks[size_t(y * bp.cols + x)];
                            bool now;
                            if (blk.included)
                                now = in.bit() != 0;
                            else
                                now = bp.inclusion.decode(in, x, y, layer + 1) <= layer;
                            if (!now)
                                continue;
                            if (!blk.included) {
                                bp.zero_planes.decode(in, x, y, INT_MAX);
                                blk.included = true;
                            }
                            const int n = pass_count(in);
                            while (in.bit())
                                blk.lblock++;
                            for (int seg : segments(coding[size_t(c)].style, blk.passes, n))
                                body += size_t(in.bits(blk.lblock + floor_log2(seg)));
                            blk.passes += n;
                        }
                }
            }
            at = in.finish();
            if (eph) {
                if (at + 2 > tp.end || b[at] != 0xFF || b[at + 1] != 0x92)
                    throw std::runtime_error("no EPH after a packet header in tile " + std::to_string(t));
                at += 2;
            }
            at += body;
            if (at > tp.end)
                throw std::runtime_error("packet runs past its tile-part in tile " + std::to_string(t));
            tp.plt.push_back(uint32_t(at - start));
        }
        while (at >= L.parts[parts[part]].end && part + 1 < parts.size())
            at = L.parts[parts[++part]].body;
        if (part + 1 != parts.size() || at != L.parts[parts[part]].end)
            throw std::runtime_error("located packets do not fill the tile-parts of tile " +
                                     std::to_string(t));
    }
}

} // namespace codec_test
