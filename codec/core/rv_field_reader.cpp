#include "codec/core/rv_field_reader.h"

#include <cstring>

uint32_t rv_read_big(const uint8_t*& bp, const uint8_t* end, int num_bytes)
{
    if (num_bytes < 1 || num_bytes > 4 || end - bp < num_bytes)
        throw rv_short_body{bp};
    uint32_t val = 0;
    for (int n = 0; n < num_bytes; n++)
        val = (val << 8) | *(bp++);
    return val;
}

float rv_read_float(const uint8_t*& bp, const uint8_t* end)
{
    uint32_t bits = rv_read_big(bp, end, 4);
    float val;
    std::memcpy(&val, &bits, sizeof(val));
    return val;
}

double rv_read_double(const uint8_t*& bp, const uint8_t* end)
{
    if (end - bp < 8)
        throw rv_short_body{bp};
    uint64_t bits = 0;
    for (int n = 0; n < 8; n++)
        bits = (bits << 8) | *(bp++);
    double val;
    std::memcpy(&val, &bits, sizeof(val));
    return val;
}

int rv_int_log2(int v)
{
    if (v <= 0 || (v & (v - 1)) != 0)
        return 0;
    int k = 0;
    while (v > 1) {
        v >>= 1;
        k++;
    }
    return k;
}
