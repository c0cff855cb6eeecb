#include "codec/core/rv_input.h"

#include "codec/core/rv_buffer_server.h"

#include <algorithm>
#include <cstring>

void rv_input::process_unexpected_marker(uint8_t b)
{
    throw_markers = false;
    if (exhausted)
        have_FF = false;
    uint16_t code = uint16_t(0xFF00 | b);
    if (!reject_all) {
        if (code != 0xFF91 && code != 0xFF90) {
            throw_markers = true;
            return; // ordinary packet data
        }
        uint8_t l1, l2;
        if (!get(l1)) {
            exhausted = false;
            throw_markers = true;
            return;
        }
        if (!get(l2)) {
            putback_byte(l1);
            exhausted = false;
            throw_markers = true;
            return;
        }
        uint16_t len = uint16_t((l1 << 8) | l2);
        putback(len);
        if ((code == 0xFF91 && len != 4) || (code == 0xFF90 && len != 10)) {
            throw_markers = true;
            return;
        }
    }
    putback(code);
    throw rv_marker_exception{code};
}

int rv_input::read(uint8_t* buf, int count)
{
    int done = 0;
    if (throw_markers) {
        uint8_t byte;
        while (done < count && get(byte))
            buf[done++] = byte;
        return done;
    }
    while (done < count && !exhausted) {
        if (first_unread == first_unwritten && !refill())
            break;
        int n = int(std::min<int64_t>(count - done, first_unwritten - first_unread));
        std::memcpy(buf + done, first_unread, size_t(n));
        first_unread += n;
        done += n;
    }
    return done;
}

int64_t rv_input::ignore(int64_t count)
{
    int64_t done = 0;
    if (throw_markers) {
        uint8_t byte;
        while (done < count && get(byte))
            done++;
        return done;
    }
    while (done < count && !exhausted) {
        if (first_unread == first_unwritten && !refill())
            break;
        int64_t n = std::min<int64_t>(count - done, first_unwritten - first_unread);
        first_unread += n;
        done += n;
    }
    return done;
}

int rv_input::read_to_chain(rv_buffer*& buf, int& pos, rv_buffer_server* server, int count)
{
    int done = 0;
    while (done < count && !exhausted) {
        // No new buffer is chained unless a byte is there to go into it.
        if (first_unread == first_unwritten && !refill())
            break;
        if (buf == nullptr || pos >= RV_BUFFER_PAYLOAD) {
            rv_buffer* nb = server->get();
            if (buf != nullptr)
                buf->next = nb;
            buf = nb;
            pos = 0;
        }
        int room = std::min(count - done, RV_BUFFER_PAYLOAD - pos);
        int n = read(buf->data() + pos, room);
        pos += n;
        done += n;
        if (n < room)
            break;
    }
    return done;
}

int rv_input::access_in_place(const uint8_t*& ptr, int count, uint8_t* scratch)
{
    ptr = first_unread;
    if (count < 1 || exhausted)
        return 0;
    if (throw_markers) {
        ptr = scratch;
        return read(scratch, count);
    }
    if (first_unread == first_unwritten) {
        if (!refill())
            return 0;
        ptr = first_unread;
    }
    int64_t avail = first_unwritten - first_unread;
    if (count > avail) {
        count = int(avail);
        exhausted = true;
    }
    first_unread += count;
    return count;
}
