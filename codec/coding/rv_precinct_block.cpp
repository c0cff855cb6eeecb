#include "codec/core/rv_precinct_block.h"

#include "codec/coding/rvd_block_decoder.h"

#include <cstring>

namespace {

// Deep enough for any precinct: 2^15 blocks a side need 16 levels.
const int kMaxTreeDepth = 32;

// Walks the tag tree from the root to `leaf`, resolving every node on the path up to
// `threshold`. Value and bound are the node's fields selected by the member pointers.
// Returns false when some node's value went above `max_value` (a corrupt tree).
template <typename T>
bool decode_tag_tree(rv_precinct_block* leaf, int threshold, T rv_precinct_block::*value,
                     T rv_precinct_block::*bound, int max_value, rv_header_in& header)
{
    rv_precinct_block* path[kMaxTreeDepth];
    int depth = 0;
    for (rv_precinct_block* n = leaf; n != nullptr; n = n->parent) {
        if (depth == kMaxTreeDepth)
            throw uint16_t(RV_PACKET_OVERSIZED);
        path[depth++] = n;
    }
    int parent_value = 0;
    while (depth > 0) {
        rv_precinct_block* n = path[--depth];
        if (n->*bound < parent_value) {
            n->*value = T(parent_value);
            n->*bound = T(parent_value);
        }
        // Open while bound == value: the value is only known to be at least that.
        while (n->*bound <= n->*value && n->*bound < threshold) {
            n->*bound = T(n->*bound + 1);
            if (header.get_bit() == 0) {
                if (n->*value >= max_value)
                    return false;
                n->*value = T(n->*value + 1);
            }
        }
        parent_value = n->*value;
    }
    return true;
}

int floor_log2(int n)
{
    int k = 0;
    while (n > 1) {
        n >>= 1;
        k++;
    }
    return k;
}

int pointer_position(int pos)
{
    pos = (pos + 3) & ~3;
    return (pos + int(sizeof(const uint8_t*)) > RV_BUFFER_PAYLOAD) ? -1 : pos;
}

} // namespace

template <class Source>
void rv_precinct_block::new_buffer(Source* server)
{
    rv_buffer* nb = server->get();
    nb->next = nullptr;
    if (current_buf == nullptr)
        first_buf = nb;
    else
        current_buf->next = nb;
    current_buf = nb;
    buf_pos = 0;
}

template <class Source>
void rv_precinct_block::put_word(uint16_t value, Source* server)
{
    int pos = buf_pos + (buf_pos & 1);
    if (current_buf == nullptr || pos > RV_BUFFER_PAYLOAD - 2) {
        new_buffer(server);
        pos = 0;
    }
    current_buf->data()[pos] = uint8_t(value >> 8);
    current_buf->data()[pos + 1] = uint8_t(value);
    buf_pos = uint8_t(pos + 2);
}

void rv_precinct_block::put_byte(uint8_t value, rv_buffer_server* server)
{
    if (current_buf == nullptr || buf_pos >= RV_BUFFER_PAYLOAD)
        new_buffer(server);
    current_buf->data()[buf_pos++] = value;
}

template <class Source>
void rv_precinct_block::put_bytes(const uint8_t* bytes, int n, Source* server)
{
    while (n > 0) {
        if (current_buf == nullptr || buf_pos >= RV_BUFFER_PAYLOAD)
            new_buffer(server);
        int room = RV_BUFFER_PAYLOAD - buf_pos;
        int k = n < room ? n : room;
        std::memcpy(current_buf->data() + buf_pos, bytes, size_t(k));
        buf_pos = uint8_t(buf_pos + k);
        bytes += k;
        n -= k;
    }
}

void rv_precinct_block::put_pointer(const uint8_t* body, rv_buffer_server* server)
{
    int pos = current_buf == nullptr ? -1 : pointer_position(buf_pos);
    if (pos < 0) {
        new_buffer(server);
        pos = 0;
    }
    // The position is only 4-aligned: copy, never store through a pointer type.
    std::memcpy(current_buf->data() + pos, &body, sizeof(body));
    buf_pos = uint8_t(pos + int(sizeof(body)));
}

// Buffers come from the shared server, or from a thread's local store without a lock.
template void rv_precinct_block::new_buffer(rv_buffer_server*);
template void rv_precinct_block::new_buffer(rv_thread_buffer_store*);
template void rv_precinct_block::put_word(uint16_t, rv_buffer_server*);
template void rv_precinct_block::put_word(uint16_t, rv_thread_buffer_store*);
template void rv_precinct_block::put_bytes(const uint8_t*, int, rv_buffer_server*);
template void rv_precinct_block::put_bytes(const uint8_t*, int, rv_thread_buffer_store*);

uint8_t* rv_precinct_block::read_bytes(rv_buffer*& buf, int& pos, uint8_t* dest, int n)
{
    while (n > 0) {
        if (pos >= RV_BUFFER_PAYLOAD) {
            buf = buf->next;
            pos = 0;
        }
        int room = RV_BUFFER_PAYLOAD - pos;
        int k = n < room ? n : room;
        std::memcpy(dest, buf->data() + pos, size_t(k));
        dest += k;
        pos += k;
        n -= k;
    }
    return dest;
}

void rv_precinct_block::release_chain(rv_buffer_server* server)
{
    if (first_buf != nullptr)
        server->release_chain(first_buf);
    first_buf = current_buf = nullptr;
    buf_pos = 0;
}

uint16_t rv_precinct_block::parse_packet_header(rv_header_in& header, rv_buffer_server* server, int layer)
{
    packet_bytes = 0;
    // Layer indices are 16-bit, and the inclusion threshold layer + 1 must be too.
    if (layer < 0 || layer > 0xFFFE)
        throw uint16_t(RV_PACKET_OVERSIZED);

    // Inclusion.
    bool first_inclusion = !is_included();
    if (!first_inclusion) {
        if (header.get_bit() == 0)
            return 0;
    } else {
        decode_tag_tree(this, layer + 1, &rv_precinct_block::inclusion_value,
                        &rv_precinct_block::inclusion_bound, 0xFFFF, header);
        if (inclusion_bound <= inclusion_value)
            return 0; // still open: first included in a later layer
        if (inclusion_value != layer)
            throw uint16_t(RV_PACKET_BAD_INCLUSION);
    }
    bool discard = is_discarded();

    // Missing MSBs, resolved completely on first inclusion.
    if (first_inclusion && msbs_value == 0) {
        while (msbs_bound <= msbs_value) {
            if (!decode_tag_tree(this, msbs_bound + 1, &rv_precinct_block::msbs_value,
                                 &rv_precinct_block::msbs_bound, 74, header)) {
                msbs_bound = 0;
                passes_kept = 0;
                throw uint16_t(RV_PACKET_BAD_MSBS);
            }
        }
    }
    // Everything below is read before the block's state changes, so that a header
    // that raises leaves the chain and counters consistent.
    int lblock = first_inclusion ? 3 : msbs_bound;

    int new_passes = 1 + header.get_bit();
    if (new_passes == 2) {
        new_passes += header.get_bit();
        if (new_passes == 3) {
            new_passes += int(header.get_bits(2));
            if (new_passes == 6) {
                new_passes += int(header.get_bits(5));
                if (new_passes == 37)
                    new_passes += int(header.get_bits(7));
            }
        }
    }
    if (passes_parsed + new_passes > 254)
        throw uint16_t(RV_PACKET_OVERSIZED);

    while (header.get_bit()) {
        if (++lblock >= 255)
            throw uint16_t(RV_PACKET_OVERSIZED);
    }

    // Codeword segments.
    uint16_t seg_lengths[164];
    uint8_t seg_passes[164];
    int num_segs = 0;
    int total = 0;
    int done = passes_parsed;
    int end = passes_parsed + new_passes;
    while (done < end) {
        int n;
        if (modes & rvd_block_restart)
            n = 1;
        else if (modes & rvd_block_bypass)
            n = done < 10 ? 10 - done : ((done - 10) % 3 == 0 ? 2 : 1);
        else
            n = end - done;
        if (n > end - done)
            n = end - done;
        int bits = lblock + floor_log2(n);
        uint32_t length = 0;
        for (int b = 0; b < bits; b++) {
            length = (length << 1) | uint32_t(header.get_bit());
            if (length >= 32768)
                throw uint16_t(RV_PACKET_OVERSIZED);
        }
        total += int(length);
        if (total >= 65536)
            throw uint16_t(RV_PACKET_OVERSIZED);
        seg_lengths[num_segs] = uint16_t(length);
        seg_passes[num_segs] = uint8_t(n);
        num_segs++;
        done += n;
    }
    int stored_before = first_inclusion ? 0 : inclusion_bound;
    if (stored_before + total > 65535)
        throw uint16_t(RV_PACKET_OVERSIZED);

    // Commit.
    if (first_inclusion) {
        inclusion_bound = 0;
        if (!discard) {
            first_buf = current_buf = nullptr;
            buf_pos = 0;
        }
    }
    msbs_bound = uint8_t(lblock);
    if (!discard) {
        put_word(uint16_t(layer), server);
        for (int s = 0; s < num_segs; s++) {
            put_word(uint16_t(seg_lengths[s] | (s + 1 < num_segs ? 0x8000 : 0)), server);
            put_byte(seg_passes[s], server);
        }
    }
    packet_bytes = uint16_t(total);
    passes_parsed = uint8_t(end);
    if (!discard)
        passes_kept = passes_parsed;
    return packet_bytes;
}

void rv_precinct_block::retrieve_data(rvd_block* block, int max_layers, int passes_left_out, bool in_memory)
{
    block->num_passes = 0;
    block->missing_msbs = msbs_value;
    if (!is_included() || is_discarded() || first_buf == nullptr)
        return;
    int to_fill = passes_kept - passes_left_out;
    if (to_fill < 1)
        return;
    int bytes_stored = inclusion_bound;
    if (bytes_stored + 2 > block->max_bytes)
        block->set_max_bytes(bytes_stored + 4096);
    if (to_fill > block->max_passes)
        block->set_max_passes(to_fill + 32);

    // A cursor that never passes the chain's end (current_buf at buf_pos): records are
    // only as trustworthy as the byte counts packet reading gave us.
    rv_buffer* buf = first_buf;
    int pos = 0;
    auto fits = [&](int n) {
        if (pos + n > RV_BUFFER_PAYLOAD) {
            if (buf == current_buf || buf->next == nullptr)
                return false;
            buf = buf->next;
            pos = 0;
        }
        return buf != current_buf || pos + n <= buf_pos;
    };
    auto read_word = [&](uint16_t& v) {
        pos += pos & 1;
        if (!fits(2))
            return false;
        v = uint16_t((buf->data()[pos] << 8) | buf->data()[pos + 1]);
        pos += 2;
        return true;
    };
    auto read_byte = [&](int& v) {
        if (!fits(1))
            return false;
        v = buf->data()[pos++];
        return true;
    };
    int filled = 0; // pass entries written
    int remaining = bytes_stored;
    uint8_t* dest = block->byte_buffer;
    while (filled < to_fill) {
        uint16_t layer;
        if (!read_word(layer) || layer >= max_layers)
            break;
        int layer_first = filled;
        int layer_passes = 0;
        uint16_t word = 0;
        bool intact = true;
        int layer_bytes = 0; // a layer without body bytes has no body pointer either
        do {
            int n = 0;
            if (!read_word(word) || !read_byte(n)) {
                intact = false;
                break;
            }
            layer_bytes += word & 0x7FFF;
            for (int k = 0; k < n; k++, layer_passes++) {
                if (layer_first + layer_passes >= to_fill)
                    continue;
                block->pass_lengths[layer_first + layer_passes] = k == 0 ? (word & 0x7FFF) : 0;
                block->pass_slopes[layer_first + layer_passes] = 0;
            }
        } while (word & 0x8000);
        if (!intact)
            break;
        int recorded = layer_first + layer_passes > to_fill ? to_fill - layer_first : layer_passes;
        if (recorded == layer_passes && recorded > 0)
            block->pass_slopes[layer_first + recorded - 1] = uint16_t(0xFFFF - layer);

        int copy = 0;
        int counted = 0;
        while (counted < recorded) {
            int len = block->pass_lengths[layer_first + counted];
            if (remaining - len < 0)
                break;
            remaining -= len;
            copy += len;
            counted++;
        }
        if (in_memory && layer_bytes > 0) {
            int p = pointer_position(pos);
            pos = p < 0 ? RV_BUFFER_PAYLOAD : p;
            const uint8_t* body;
            if (!fits(int(sizeof(body))))
                break;
            std::memcpy(&body, buf->data() + pos, sizeof(body));
            pos += int(sizeof(body));
            std::memcpy(dest, body, size_t(copy));
            dest += copy;
        } else if (!in_memory) {
            int left = copy;
            while (left > 0) {
                if (!fits(1)) {
                    left = -1;
                    break;
                }
                int room = (buf == current_buf ? int(buf_pos) : int(RV_BUFFER_PAYLOAD)) - pos;
                int k = left < room ? left : room;
                std::memcpy(dest, buf->data() + pos, size_t(k));
                dest += k;
                pos += k;
                left -= k;
            }
            if (left < 0)
                break; // the chain ended early: keep only the layers before
        }
        block->num_passes += counted;
        filled += counted;
        if (counted < layer_passes)
            break; // a pass missing bytes, or the passes left out
    }
}
