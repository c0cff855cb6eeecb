// Big-endian field readers shared by the marker classes. A read that needs more bytes
// than remain throws rv_short_body without consuming anything; each class turns that
// into its own "too small" error.
#pragma once

#include <cstdint>

struct rv_short_body {
    const uint8_t* pos; // where the short read started
};

// Unsigned integer of 1 to 4 bytes, most significant byte first.
uint32_t rv_read_big(const uint8_t*& bp, const uint8_t* end, int num_bytes);
// IEEE 754 single and double precision, big-endian bit patterns.
float rv_read_float(const uint8_t*& bp, const uint8_t* end);
double rv_read_double(const uint8_t*& bp, const uint8_t* end);
// The k with 2^k = v; 0 when v is not a positive power of two (callers compare).
int rv_int_log2(int v);
