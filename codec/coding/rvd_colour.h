// Decorrelating colour transforms: the reversible (RCT) and irreversible (ICT) forms,
// forward and inverse, in place over three lines at a time.
//
// The sample kernels below work on plain sample arrays so that every caller (the
// multi-component network, the region decompressor, the analysis side) shares one
// arithmetic; the rvd_line_buf entry points choose a kernel from the first line's kind.
// Sample forms: absolute samples are plain integers; 16-bit real samples are fixed point
// with 13 fraction bits (1.0 = 8192); 32-bit real samples are floats in normalised units.
#pragma once

#include "codec/core/rvd_line_buf.h"

#include <cstdint>

// Forward transform in place over the first line's width: RCT when the first line is
// absolute, ICT otherwise; 16-bit or 32-bit kernels by its sample size.
void rvd_convert_rgb_to_ycc(rvd_line_buf& line1, rvd_line_buf& line2, rvd_line_buf& line3);
// Inverse transform in place over `width` samples, or the first line's width when
// `width` is negative. The count never runs past any of the three lines; lines of
// another kind than the first, or without storage, raise a codec error.
void rvd_convert_ycc_to_rgb(rvd_line_buf& line1, rvd_line_buf& line2, rvd_line_buf& line3,
                            int width);

// RCT, 32-bit integers. Intermediate sums are formed in 64 bits, so no input overflows
// while computing; results outside 32 bits wrap.
void rv_rct_forward32(int32_t* x, int32_t* y, int32_t* z, int n);
void rv_rct_inverse32(int32_t* x, int32_t* y, int32_t* z, int n);
// RCT, 16-bit integers: sums are formed in int, results stored as 16-bit words.
void rv_rct_forward16(int16_t* x, int16_t* y, int16_t* z, int n);
void rv_rct_inverse16(int16_t* x, int16_t* y, int16_t* z, int n);
// ICT, floats.
void rv_ict_forward_float(float* x, float* y, float* z, int n);
void rv_ict_inverse_float(float* x, float* y, float* z, int n);
// Its wide forms (the same operations per pixel, 8 or 16 pixels at a time), which it
// chooses from the processor words; false when this build has no such form.
bool rv_ict_inverse_float_avx2(float* x, float* y, float* z, int n);
bool rv_ict_inverse_float_avx512(float* x, float* y, float* z, int n);
// The inverse ICT's factors and its arithmetic for pixels i..n-1, which every vector form
// repeats operation for operation.
namespace rv_ict {
constexpr float red_cr = 1.402f, green_cr = 0.7141362862010222f, green_cb = 0.3441362862010222f,
                blue_cb = 1.772f;
inline void inverse_float_pixels(float* __restrict x, float* __restrict y, float* __restrict z, int i, int n)
{
    for (; i < n; ++i) {
        const float lum = x[i], cb = y[i], cr = z[i];
        x[i] = lum + red_cr * cr;
        y[i] = lum - green_cr * cr - green_cb * cb;
        z[i] = lum + blue_cb * cb;
    }
}
} // namespace rv_ict
// ICT, 16-bit fixed point with 14-bit integer factors. Results that leave the 16-bit
// range saturate instead of wrapping into the opposite colour.
void rv_ict_forward16(int16_t* x, int16_t* y, int16_t* z, int n);
void rv_ict_inverse16(int16_t* x, int16_t* y, int16_t* z, int n);

// The colour coefficient block: eight vectors of eight equal 16-bit lanes, 16-byte
// aligned, written once at start-up (slot 10) and only read afterwards.
enum rv_colour_vector {
    rv_colour_alpha_r = 0,     // 0.299
    rv_colour_alpha_b = 1,     // 0.114
    rv_colour_cb_fact = 2,     // 1 - 0.5643
    rv_colour_cr_fact = 3,     // 1 - 0.7133
    rv_colour_cr_fact_r = 4,   // 1.402 - 1
    rv_colour_cb_fact_b = 5,   // 1.772 - 2 (signed)
    rv_colour_cr_fact_g = 6,   // 1 - 0.71414
    rv_colour_cb_fact_g = 7,   // -0.34414 (signed)
    rv_colour_vector_count = 8
};
// Writes every lane and returns the block's address; idempotent.
const int16_t* rv_init_colour_transform_vectors();
// The address of each vector, recorded by its own start-up initialiser; null before.
extern const int16_t* rv_colour_vectors[rv_colour_vector_count];
