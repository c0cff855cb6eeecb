#include "codec/core/rvd_output.h"

#include <cstring>

void rvd_output::write(const uint8_t* buf, int count)
{
    while (count > 0) {
        if (next_buf == buf_lim)
            flush_buf();
        int room = static_cast<int>(buf_lim - next_buf);
        int chunk = (count < room) ? count : room;
        std::memcpy(next_buf, buf, static_cast<size_t>(chunk));
        next_buf += chunk;
        buf += chunk;
        count -= chunk;
        // A chunk that fills the buffer is passed on at once, so a whole number of
        // buffers leaves nothing behind.
        if (next_buf == buf_lim)
            flush_buf();
    }
}
