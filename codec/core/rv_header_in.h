// Reads packet-header bits, most significant first, skipping the stuffed bit after 0xFF.
// The end of the data is thrown as a pointer to the reader itself.
#pragma once

#include "codec/core/rv_input.h"

class rv_header_in {
public:
    explicit rv_header_in(rv_input* src) : source(src) {}

    int get_bit()
    {
        if (bits_left == 0) {
            uint8_t b;
            if (!source->get(b))
                throw this;
            bits_left = (byte == 0xFF) ? 7 : 8;
            byte = b;
        }
        bits_left--;
        return (byte >> bits_left) & 1;
    }
    // Up to 32 bits, most significant first.
    uint32_t get_bits(int num_bits)
    {
        uint32_t v = 0;
        while (num_bits-- > 0)
            v = (v << 1) | uint32_t(get_bit());
        return v;
    }
    // A header ending on 0xFF is followed by one stuffed byte, consumed here.
    void finish()
    {
        if (bits_left == 0 && byte == 0xFF) {
            uint8_t b;
            if (!source->get(b))
                throw this;
            byte = b;
            bits_left = 7;
        }
    }

private:
    rv_input* source;
    int byte = 0;
    int bits_left = 0;
};
