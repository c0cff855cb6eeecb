// Single code-block codestreams (one tile, component, resolution, code-block and layer;
// no SOP, no EPH) taken apart on the test side, so the block decoder can be fed the
// encoder's own segments. Header-only, so the benchmarks share it with the tests.
#pragma once

#include "codec/core/rvd_block.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace block_test {

struct extracted_block {
    int width = 0, height = 0;
    int depth = 0;
    bool is_signed = false;
    int modes = 0;
    int kmax = 0;            // magnitude bit-planes of the band
    int missing_msbs = 0;
    int num_passes = 0;
    std::vector<int32_t> pass_lengths; // segment length on its first pass, 0 on the others
    std::vector<int> segment_first;    // first pass of each segment
    std::vector<uint8_t> body;         // all segments, in order
    int header_bytes = 0;
    int packet_bytes = 0;              // bytes between SOD and the end of the tile-part
};

// Source sample value of a decoded word: sign x (magnitude >> (31 - kmax)).
inline int word_value(int32_t word, int kmax)
{
    uint32_t w = static_cast<uint32_t>(word);
    int mag = static_cast<int>((w & 0x7FFFFFFF) >> (31 - kmax));
    return (w >> 31) ? -mag : mag;
}

namespace detail {

inline uint32_t be(const std::vector<uint8_t>& d, size_t pos, int n)
{
    if (pos + static_cast<size_t>(n) > d.size())
        throw std::runtime_error("stream ends inside a field");
    uint32_t v = 0;
    for (int i = 0; i < n; i++)
        v = (v << 8) | d[pos + static_cast<size_t>(i)];
    return v;
}

// Packet-header bits, most significant first; after 0xFF the next byte has 7 bits.
class header_bits {
public:
    header_bits(const std::vector<uint8_t>& d, size_t start) : data(d), pos(start) {}
    int bit()
    {
        if (left == 0) {
            if (pos >= data.size())
                throw std::runtime_error("packet header runs off the stream");
            current = data[pos++];
            left = last_ff ? 7 : 8;
            last_ff = current == 0xFF;
        }
        left--;
        return (current >> left) & 1;
    }
    int bits(int n)
    {
        int v = 0;
        while (n-- > 0)
            v = (v << 1) | bit();
        return v;
    }
    // First byte after the header: a final 0xFF is followed by a stuffed byte.
    size_t end() const { return last_ff ? pos + 1 : pos; }

private:
    const std::vector<uint8_t>& data;
    size_t pos;
    int left = 0;
    uint8_t current = 0;
    bool last_ff = false;
};

inline int floor_log2(int n)
{
    int k = 0;
    while (n > 1) {
        n >>= 1;
        k++;
    }
    return k;
}

} // namespace detail

// Throws std::runtime_error when the stream does not have the expected shape.
inline extracted_block extract_block(const std::vector<uint8_t>& d)
{
    extracted_block eb;
    if (detail::be(d, 0, 2) != 0xFF4F)
        throw std::runtime_error("no SOC");
    size_t pos = 2;
    int sqcd = -1, spqcd = -1;
    size_t sod = 0, tile_end = 0;
    while (true) {
        uint32_t code = detail::be(d, pos, 2);
        if (code == 0xFF93) {
            sod = pos + 2;
            break;
        }
        uint32_t len = detail::be(d, pos + 2, 2);
        size_t body = pos + 4;
        if (code == 0xFF51) {
            eb.width = static_cast<int>(detail::be(d, body + 2, 4) - detail::be(d, body + 10, 4));
            eb.height = static_cast<int>(detail::be(d, body + 6, 4) - detail::be(d, body + 14, 4));
            uint32_t ssiz = detail::be(d, body + 36, 1);
            eb.is_signed = (ssiz & 0x80) != 0;
            eb.depth = static_cast<int>(ssiz & 0x7F) + 1;
        } else if (code == 0xFF52) {
            eb.modes = static_cast<int>(detail::be(d, body + 8, 1));
        } else if (code == 0xFF5C) {
            sqcd = static_cast<int>(detail::be(d, body, 1));
            spqcd = static_cast<int>(detail::be(d, body + 1, 1));
        } else if (code == 0xFF90) {
            uint32_t psot = detail::be(d, body + 2, 4);
            tile_end = psot == 0 ? d.size() - 2 : pos + psot;
        }
        pos += 2 + len;
    }
    if (sqcd < 0 || tile_end == 0 || tile_end > d.size())
        throw std::runtime_error("no QCD or tile-part");
    eb.kmax = (sqcd >> 5) + (spqcd >> 3) - 1;
    eb.packet_bytes = static_cast<int>(tile_end - sod);

    detail::header_bits h(d, sod);
    if (h.bit() != 1 || h.bit() != 1)
        throw std::runtime_error("empty packet or block not included");
    while (h.bit() == 0)
        eb.missing_msbs++;
    int passes = 1;
    if (h.bit()) {
        passes = 2;
        if (h.bit()) {
            int v = h.bits(2);
            passes = 3 + v;
            if (v == 3) {
                v = h.bits(5);
                passes = 6 + v;
                if (v == 31)
                    passes = 37 + h.bits(7);
            }
        }
    }
    eb.num_passes = passes;
    int lblock = 3;
    while (h.bit())
        lblock++;
    std::vector<int> seg_passes;
    if (eb.modes & 0x04) {
        seg_passes.assign(static_cast<size_t>(passes), 1);
    } else if (eb.modes & 0x01) {
        int left = passes;
        int n = std::min(10, left);
        seg_passes.push_back(n);
        left -= n;
        bool two = true;
        while (left > 0) {
            n = std::min(two ? 2 : 1, left);
            seg_passes.push_back(n);
            left -= n;
            two = !two;
        }
    } else {
        seg_passes.push_back(passes);
    }
    int first = 0, total = 0;
    eb.pass_lengths.assign(static_cast<size_t>(passes), 0);
    for (int n : seg_passes) {
        int len = h.bits(lblock + detail::floor_log2(n));
        eb.pass_lengths[static_cast<size_t>(first)] = len;
        eb.segment_first.push_back(first);
        first += n;
        total += len;
    }
    size_t body = h.end();
    eb.header_bytes = static_cast<int>(body - sod);
    if (body + static_cast<size_t>(total) > d.size())
        throw std::runtime_error("segments run off the stream");
    eb.body.assign(d.begin() + static_cast<long>(body), d.begin() + static_cast<long>(body + total));
    return eb;
}

// Fills a record for decoding the first `passes` passes of the block.
inline void fill_block(rvd_block& block, const extracted_block& eb, int passes, bool resilient = false,
                       bool fussy = false)
{
    block.size = rvd_coords(eb.height, eb.width);
    block.modes = eb.modes;
    block.orientation = 0;
    block.resilient = resilient;
    block.fussy = fussy;
    block.magnitude_planes = eb.kmax;
    block.missing_msbs = eb.missing_msbs;
    block.num_passes = passes;
    block.set_max_passes(std::max(passes, 1));
    block.set_max_bytes(static_cast<int>(eb.body.size()) + 2);
    int bytes = 0;
    for (int z = 0; z < passes; z++) {
        block.pass_lengths[z] = eb.pass_lengths[static_cast<size_t>(z)];
        bytes += eb.pass_lengths[static_cast<size_t>(z)];
    }
    std::copy(eb.body.begin(), eb.body.begin() + bytes, block.byte_buffer);
}

} // namespace block_test
