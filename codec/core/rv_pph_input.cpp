#include "codec/core/rv_pph_input.h"

#include <algorithm>
#include <cstring>

rv_pph_input::~rv_pph_input()
{
    server->release_chain(first_buf);
}

void rv_pph_input::add_bytes(const uint8_t* data, int count)
{
    while (count > 0) {
        if (write_buf == nullptr || write_pos == RV_BUFFER_PAYLOAD) {
            rv_buffer* nb = server->get();
            if (write_buf == nullptr)
                first_buf = read_buf = nb;
            else
                write_buf->next = nb;
            write_buf = nb;
            write_pos = 0;
        }
        int n = std::min(count, RV_BUFFER_PAYLOAD - write_pos);
        std::memcpy(write_buf->data() + write_pos, data, size_t(n));
        write_pos += n;
        data += n;
        count -= n;
    }
    // Bytes added after the end was met may be read again.
    exhausted = false;
}

bool rv_pph_input::load_buf()
{
    // Six bytes fewer than the data area: the putback margin stays whole.
    const int max_copy = RV_INPUT_DATA - RV_INPUT_PUTBACK;
    first_unread = first_unwritten = data_start();
    if (read_buf == nullptr) {
        exhausted = true;
        return false;
    }
    int copied = 0;
    while (copied < max_copy) {
        int end = (read_buf == write_buf) ? write_pos : RV_BUFFER_PAYLOAD;
        if (read_pos == end) {
            if (read_buf == write_buf)
                break;
            read_buf = read_buf->next;
            read_pos = 0;
            continue;
        }
        int n = std::min(max_copy - copied, end - read_pos);
        std::memcpy(first_unwritten, read_buf->data() + read_pos, size_t(n));
        first_unwritten += n;
        read_pos += n;
        copied += n;
    }
    if (copied == 0) {
        exhausted = true;
        return false;
    }
    return true;
}
