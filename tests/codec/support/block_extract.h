// Test-side reader of single-block codestreams (one tile, component, resolution,
// code-block and layer; no SOP or EPH): fills an rvd_block as the packet reader would.
// Header-only so the benchmarks can use it.
#pragma once

#include "codec/coding/rvd_block.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace codec_test {

struct extracted_block {
    int width = 0, height = 0;
    int modes = 0;
    int k_max = 0;
    int missing_msbs = 0;
    int num_passes = 0;
    std::vector<int> pass_lengths;     // segment length on its first pass, 0 on the others
    std::vector<uint8_t> bytes;        // the packet body
    size_t header_bytes = 0;
    size_t packet_bytes = 0;           // from SOD + 2 to the end of the tile-part
};

class header_bits {
public:
    header_bits(const uint8_t* p, const uint8_t* end) : p(p), end(end) {}
    int bit()
    {
        if (left == 0) {
            if (p == end)
                throw std::runtime_error("packet header runs out");
            left = (last == 0xFF) ? 7 : 8;
            last = *p++;
        }
        left--;
        return (last >> left) & 1;
    }
    int bits(int n)
    {
        int v = 0;
        while (n-- > 0)
            v = (v << 1) | bit();
        return v;
    }
    // Bytes used; a header ending on 0xFF is followed by a stuffed byte.
    const uint8_t* finish()
    {
        if (last == 0xFF && left == 0)
            p++;
        return p;
    }

private:
    const uint8_t* p;
    const uint8_t* end;
    int last = 0;
    int left = 0;
};

inline uint32_t be_at(const std::vector<uint8_t>& s, size_t at, int n)
{
    uint32_t v = 0;
    for (int i = 0; i < n; i++)
        v = (v << 8) | s.at(at + size_t(i));
    return v;
}

inline int floor_log2(int v)
{
    int n = 0;
    while (v > 1) {
        v >>= 1;
        n++;
    }
    return n;
}

inline extracted_block extract_single_block(const std::vector<uint8_t>& s)
{
    extracted_block b;
    size_t pos = 2;
    size_t sot = 0;
    while (pos + 4 <= s.size()) {
        uint32_t code = be_at(s, pos, 2), len = be_at(s, pos + 2, 2);
        if (code == 0xFF51) {
            b.width = int(be_at(s, pos + 6, 4) - be_at(s, pos + 14, 4));
            b.height = int(be_at(s, pos + 10, 4) - be_at(s, pos + 18, 4));
        } else if (code == 0xFF52) {
            b.modes = s.at(pos + 4 + 8);
        } else if (code == 0xFF5C) {
            b.k_max = (s.at(pos + 4) >> 5) + (s.at(pos + 5) >> 3) - 1;
        } else if (code == 0xFF90) {
            sot = pos;
        } else if (code == 0xFF93) {
            break;
        }
        pos += (code == 0xFF93) ? 2 : 2 + len;
    }
    if (pos + 2 > s.size() || be_at(s, pos, 2) != 0xFF93 || sot == 0)
        throw std::runtime_error("no SOD");
    size_t start = pos + 2;
    size_t end = sot + be_at(s, sot + 6, 4);
    b.packet_bytes = end - start;
    header_bits h(s.data() + start, s.data() + end);
    if (!h.bit() || !h.bit())
        throw std::runtime_error("empty packet");
    while (h.bit() == 0)
        b.missing_msbs++;
    int n;
    if (!h.bit())
        n = 1;
    else if (!h.bit())
        n = 2;
    else {
        int v = h.bits(2);
        if (v < 3)
            n = 3 + v;
        else {
            v = h.bits(5);
            n = (v < 31) ? 6 + v : 37 + h.bits(7);
        }
    }
    b.num_passes = n;
    int lblock = 3;
    while (h.bit())
        lblock++;
    b.pass_lengths.assign(size_t(n), 0);
    // Segment boundaries by mode.
    for (int z = 0; z < n;) {
        int count;
        if (b.modes & RVD_MODE_RESTART)
            count = 1;
        else if (b.modes & RVD_MODE_BYPASS)
            count = (z < 10) ? 10 - z : ((((z - 1) % 3) == 2) ? 1 : 2);
        else
            count = n;
        if (z + count > n)
            count = n - z;
        b.pass_lengths[size_t(z)] = h.bits(lblock + floor_log2(count));
        z += count;
    }
    const uint8_t* body = h.finish();
    b.header_bytes = size_t(body - (s.data() + start));
    b.bytes.assign(body, s.data() + end);
    return b;
}

// Fills the record for decoding the first num_passes passes (all when negative).
inline void fill_block(rvd_block& blk, const extracted_block& b, int num_passes = -1)
{
    blk.size = rvd_coords(b.height, b.width);
    blk.modes = b.modes;
    blk.orientation = 0;
    blk.magnitude_planes = b.k_max;
    blk.missing_msbs = b.missing_msbs;
    blk.num_passes = (num_passes < 0) ? b.num_passes : num_passes;
    blk.set_max_passes(int(b.pass_lengths.size()) + 1, false);
    for (size_t i = 0; i < b.pass_lengths.size(); i++)
        blk.pass_lengths[i] = b.pass_lengths[i];
    blk.set_max_bytes(int(b.bytes.size()) + 2, false);
    for (size_t i = 0; i < b.bytes.size(); i++)
        blk.byte_buffer[i] = b.bytes[i];
}

} // namespace codec_test
