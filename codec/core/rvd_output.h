// Buffered big-endian byte sink through which every codestream writer emits bytes.
// Subclasses decide where a full buffer goes.
#pragma once

#include <cstdint>

class rvd_output {
public:
    rvd_output() : next_buf(buffer), buf_lim(buffer + RVD_OUTPUT_BUF_SIZE) {}
    // Bytes still buffered are not passed on here: a virtual flush cannot run from
    // the base destructor, so owners flush before they let go.
    virtual ~rvd_output() {}

    int put(uint8_t byte)
    {
        if (next_buf == buf_lim)
            flush_buf();
        *(next_buf++) = byte;
        return 1;
    }
    int put(uint16_t val)
    {
        put(static_cast<uint8_t>(val >> 8));
        put(static_cast<uint8_t>(val));
        return 2;
    }
    int put(uint32_t val)
    {
        put(static_cast<uint8_t>(val >> 24));
        put(static_cast<uint8_t>(val >> 16));
        put(static_cast<uint8_t>(val >> 8));
        put(static_cast<uint8_t>(val));
        return 4;
    }
    // Copies in chunks of what fits, flushing between chunks.
    void write(const uint8_t* buf, int count);

    static constexpr int RVD_OUTPUT_BUF_SIZE = 512;

protected:
    // Empties the buffer (next_buf back to buffer) and returns the number of bytes
    // passed on.
    virtual int flush_buf() = 0;

    uint8_t buffer[RVD_OUTPUT_BUF_SIZE];
    uint8_t* next_buf;
    uint8_t* buf_lim;
};
