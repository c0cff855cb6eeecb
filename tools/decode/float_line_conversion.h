// Output samples from a line of floating-point samples (zero-centred, nominal range one):
// floor(x 2^depth + 0.5), clipped to the output's range and re-centred, every step exact in
// double precision. The portable form, an SSE2 one and, on processors with them, AVX2 and
// AVX-512 ones give the same samples; the processor words choose.
#pragma once

#include <cstdint>

struct float_line_conversion {
    double scale;      // 2^depth
    double flo, fhi;   // the output's range less the offset: whole numbers
    std::int32_t offset;

    void convert(const float* sp, int width, std::int32_t* out) const;
    // Samples i..width-1 one at a time: the arithmetic every vector form repeats.
    void convert_from(int i, const float* sp, int width, std::int32_t* out) const;
};

// The wide forms, each over a whole line; false when this build has no such form.
bool convert_float_line_avx2(const float_line_conversion& c, const float* sp, int width, std::int32_t* out);
bool convert_float_line_avx512(const float_line_conversion& c, const float* sp, int width, std::int32_t* out);
