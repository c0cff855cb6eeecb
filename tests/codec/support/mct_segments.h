// Byte-level CBD, MCT, MCC and MCO segments, written here field by field so that the
// codestreams they go into check the codec's own readers and writers.
#pragma once

#include "tests/codec/support/codestream_bytes.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace codec_test {

// Output components: precision and signedness of each.
struct cbd_comp {
    int precision = 8;
    bool is_signed = false;
};

inline std::vector<uint8_t> cbd_bytes(const std::vector<cbd_comp>& outs)
{
    std::vector<uint8_t> b;
    put16(b, uint32_t(outs.size()));
    for (const cbd_comp& o : outs)
        b.push_back(uint8_t((o.is_signed ? 0x80 : 0) | (o.precision - 1)));
    return segment(0xFF78, b);
}

enum mct_kind { MCT_TRIANGLE = 0, MCT_MATRIX = 1, MCT_OFFSETS = 2 };
enum mct_element { MCT_INT16 = 0, MCT_INT32 = 1, MCT_FLOAT32 = 2, MCT_FLOAT64 = 3 };

// One MCT segment holding the whole array `index` of the given kind.
inline std::vector<uint8_t> mct_bytes(int index, mct_kind kind, mct_element type,
                                      const std::vector<double>& values)
{
    std::vector<uint8_t> b;
    put16(b, 0); // Zmct
    put16(b, uint32_t(index | (kind << 8) | (type << 10)));
    put16(b, 0); // Ymct: the series has one segment
    for (double v : values) {
        if (type == MCT_INT16) {
            put16(b, uint32_t(uint16_t(int16_t(v))));
        } else if (type == MCT_INT32) {
            put32(b, uint32_t(int32_t(v)));
        } else if (type == MCT_FLOAT32) {
            float f = float(v);
            uint32_t u = 0;
            std::memcpy(&u, &f, 4);
            put32(b, u);
        } else {
            uint64_t u = 0;
            std::memcpy(&u, &v, 8);
            put32(b, uint32_t(u >> 32));
            put32(b, uint32_t(u));
        }
    }
    return segment(0xFF74, b);
}

enum mcc_kind { MCC_DEPENDENCY = 0, MCC_MATRIX = 1, MCC_DWT = 3 };

struct mcc_collection {
    mcc_kind kind = MCC_MATRIX;
    std::vector<int> inputs, outputs;
    int coeff_index = 0;  // MCT array (matrix, triangle) or kernel (wavelet: 0 9/7, 1 5/3)
    int offset_index = 0; // MCT offset vector, 0 for none
    bool reversible = false;
    int levels = 0; // wavelet only
    int origin = 0; // wavelet only
};

inline void put_indices(std::vector<uint8_t>& b, const std::vector<int>& v)
{
    bool wide = false;
    for (int c : v)
        wide = wide || c > 255;
    put16(b, uint32_t(v.size()) | (wide ? 0x8000u : 0u));
    for (int c : v) {
        if (wide)
            put16(b, uint32_t(c));
        else
            b.push_back(uint8_t(c));
    }
}

inline std::vector<uint8_t> mcc_bytes(int index, const std::vector<mcc_collection>& colls)
{
    std::vector<uint8_t> b;
    put16(b, 0); // Zmcc
    b.push_back(uint8_t(index));
    put16(b, 0); // Ymcc
    put16(b, uint32_t(colls.size()));
    for (const mcc_collection& c : colls) {
        b.push_back(uint8_t(c.kind));
        put_indices(b, c.inputs);
        put_indices(b, c.outputs);
        const uint32_t top = (c.kind == MCC_DWT) ? uint32_t(c.levels) : (c.reversible ? 1u : 0u);
        const uint32_t tmcc =
            (top << 16) | (uint32_t(c.offset_index) << 8) | uint32_t(c.coeff_index);
        b.push_back(uint8_t(tmcc >> 16));
        b.push_back(uint8_t(tmcc >> 8));
        b.push_back(uint8_t(tmcc));
        if (c.kind == MCC_DWT)
            put32(b, uint32_t(c.origin));
    }
    return segment(0xFF75, b);
}

inline std::vector<uint8_t> mco_bytes(const std::vector<int>& stages)
{
    std::vector<uint8_t> b;
    b.push_back(uint8_t(stages.size()));
    for (int s : stages)
        b.push_back(uint8_t(s));
    return segment(0xFF77, b);
}

// A COD for hand-built headers: one layer, LRCP, `levels` levels, 64x64 blocks, 5/3
// (or 9/7), with the given multi-component byte (0, 1 colour transform, 2 array, 4 DWT).
inline std::vector<uint8_t> cod_bytes(int mct_byte, int levels = 0, bool reversible = true)
{
    return segment(0xFF52, {0, 0, 0, 1, uint8_t(mct_byte), uint8_t(levels), 4, 4, 0,
                            uint8_t(reversible ? 1 : 0)});
}

} // namespace codec_test
