// The three line operations every multi-component transform block and the network use:
// constant fill, offset add and copy with offsets. They work on a view of one line's
// samples, so block arithmetic can be driven on hand-set lines apart from the network.
#pragma once

#include "codec/core/rvd_line_buf.h"

#include <cstdint>

// One line's samples as the network sees them. Reversible lines hold exact integers;
// real lines of bit depth B hold values normalised to -0.5..0.5, as floats (32-bit) or
// fixed point with 13 fraction bits (16-bit, 1.0 = 8192).
struct rv_line_samples {
    void* buf = nullptr;
    int width = 0;
    bool reversible = false;
    bool precise = false; // 32-bit samples
    int bit_depth = 0;    // 0 while unset

    int16_t* s16() const { return precise ? nullptr : static_cast<int16_t*>(buf); }
    int32_t* i32() const { return (precise && reversible) ? static_cast<int32_t*>(buf) : nullptr; }
    float* f32() const { return (precise && !reversible) ? static_cast<float*>(buf) : nullptr; }
};

// The view of a created line's samples at the given bit depth.
rv_line_samples rv_samples_of(const rvd_line_buf& line, int bit_depth);

// floor(v x 8192 + 0.5), held within 32 bits so hostile offsets stay defined.
int rv_fix16_offset(float v);

// Reversible: every sample = int_off. Real: every sample = real_off (16-bit: its fixed
// point form).
void rv_line_fill(const rv_line_samples& line, int int_off, float real_off);
// Adds int_off to a reversible line, real_off to a real one; zero offsets cost nothing.
void rv_line_add_offset(const rv_line_samples& line, int int_off, float real_off);
// dst = src converted to dst's units, plus the offset of dst's kind. Both lines cover at
// least dst.width samples.
void rv_line_copy(const rv_line_samples& dst, const rv_line_samples& src, int int_off,
                  float real_off);
