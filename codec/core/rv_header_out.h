// Writes packet-header bits, most significant first; after a 0xFF byte the next byte
// carries only 7 bits so that no marker code can appear. Without an output the bytes
// are only counted (sizing a packet).
#pragma once

#include "codec/core/rvd_output.h"

#include <cstdint>

class rv_header_out {
public:
    explicit rv_header_out(rvd_output* output = nullptr) : out(output) {}

    void put_bit(int bit)
    {
        if (bits_left == 0)
            emit();
        bits_left--;
        byte = (byte << 1) + (bit & 1);
    }
    // The low num_bits bits of value (at most 32).
    void put_bits(uint32_t value, int num_bits)
    {
        while (num_bits > 0) {
            num_bits--;
            put_bit(int((value >> num_bits) & 1));
        }
    }
    // Pads the last byte with zeros and emits it; a header ending on 0xFF gets the
    // stuffed zero byte the reader expects. Returns the header's length in bytes.
    int finish()
    {
        if (bits_left < (last_ff ? 7 : 8)) {
            byte <<= bits_left;
            emit();
        }
        if (last_ff)
            emit(); // the stuffed zero byte
        return completed_bytes;
    }
    int get_completed_bytes() const { return completed_bytes; }

private:
    // Emits the gathered byte and starts the next.
    void emit()
    {
        uint8_t b = uint8_t(byte);
        if (out != nullptr)
            out->put(b);
        completed_bytes++;
        last_ff = b == 0xFF;
        bits_left = last_ff ? 7 : 8;
        byte = 0;
    }

    int byte = 0;
    int bits_left = 8;
    int completed_bytes = 0;
    bool last_ff = false;
    rvd_output* out;
};
