// Code-blocks through the block encoder and back through the block decoder. The encoder
// gives one byte count per pass; the decoder wants each codeword segment's length on its
// first pass and 0 on the others, so the lengths are regrouped by the segment rule of the
// modes (restart: every pass alone; bypass: passes 0 to 9, then 2 and 1 alternately;
// otherwise all passes). Header-only: the fuzz target and the benchmark share it.
#pragma once

#include "codec/core/rvd_block.h"
#include "codec/coding/rvd_block_decoder.h"
#include "codec/encode/rvd_block_encoder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace codec_test {

struct coded_block {
    int num_passes = 0;
    std::vector<int32_t> lengths; // per pass
    std::vector<uint16_t> slopes;
    std::vector<uint8_t> bytes;
};

// Sign-magnitude words with the band's most significant bit at bit 30.
inline int32_t to_word(int value, int kmax)
{
    uint32_t mag = static_cast<uint32_t>(value < 0 ? -value : value) << (31 - kmax);
    return static_cast<int32_t>(mag | (value < 0 ? 0x80000000u : 0u));
}

struct block_shape {
    int height = 0, width = 0, modes = 0, orientation = 0;
    int kmax = 0, missing = 0;
};

inline coded_block encode_block(rvd_block_encoder& enc, rvd_block& b, const block_shape& s,
                                const std::vector<int32_t>& words, int passes, bool reversible = true,
                                double msb_wmse = 0.0, uint16_t threshold = 0)
{
    b.size = rvd_coords(s.height, s.width);
    b.modes = s.modes;
    b.orientation = s.orientation;
    b.magnitude_planes = s.kmax;
    b.missing_msbs = s.missing;
    b.num_passes = passes;
    int n = static_cast<int>(words.size());
    if (b.max_samples < n)
        b.set_max_samples(n);
    std::copy(words.begin(), words.end(), b.sample_buffer);
    enc.encode(&b, reversible, msb_wmse, threshold);
    coded_block out;
    out.num_passes = b.num_passes;
    out.lengths.assign(b.pass_lengths, b.pass_lengths + b.num_passes);
    if (msb_wmse > 0.0)
        out.slopes.assign(b.pass_slopes, b.pass_slopes + b.num_passes);
    int total = 0;
    for (int32_t l : out.lengths)
        total += l;
    out.bytes.assign(b.byte_buffer, b.byte_buffer + total);
    return out;
}

inline std::vector<int32_t> segment_lengths(const std::vector<int32_t>& per_pass, int modes, int count)
{
    std::vector<int32_t> out(static_cast<size_t>(count), 0);
    for (int z = 0; z < count;) {
        int n = (modes & rvd_block_restart) ? 1
                : (modes & rvd_block_bypass) ? (z < 10 ? 10 - z : ((z - 10) % 3 == 0 ? 2 : 1))
                                             : count - z;
        n = std::min(n, count - z);
        int32_t sum = 0;
        for (int k = z; k < z + n; k++)
            sum += per_pass[static_cast<size_t>(k)];
        out[static_cast<size_t>(z)] = sum;
        z += n;
    }
    return out;
}

// Decodes the first `passes` passes (fussy: a badly terminated segment is an error) and
// returns height x width words.
inline std::vector<int32_t> decode_block(rvd_block_decoder& dec, rvd_block& b, const block_shape& s,
                                         const coded_block& c, int passes)
{
    std::vector<int32_t> seg = segment_lengths(c.lengths, s.modes, passes);
    int total = 0;
    for (int z = 0; z < passes; z++)
        total += c.lengths[static_cast<size_t>(z)];
    b.size = rvd_coords(s.height, s.width);
    b.modes = s.modes;
    b.orientation = s.orientation;
    b.fussy = true;
    b.resilient = false;
    b.magnitude_planes = s.kmax;
    b.missing_msbs = s.missing;
    b.num_passes = passes;
    if (b.max_passes < passes + 1)
        b.set_max_passes(passes + 1);
    std::copy(seg.begin(), seg.end(), b.pass_lengths);
    if (b.max_bytes < total + 2)
        b.set_max_bytes(total + 2);
    if (total > 0)
        std::memcpy(b.byte_buffer, c.bytes.data(), static_cast<size_t>(total));
    dec.decode(&b);
    std::vector<int32_t> out;
    for (int y = 0; y < s.height; y++)
        out.insert(out.end(), b.sample_buffer + y * s.width, b.sample_buffer + (y + 1) * s.width);
    return out;
}

} // namespace codec_test
