// The compressing side of rv_precinct_block: stored passes, tag trees and packet
// contributions.
#include "codec/core/rv_precinct_block.h"

#include "codec/coding/rvd_block_decoder.h"

#include <cstring>

namespace {

int floor_log2(int n)
{
    int k = 0;
    while (n > 1) {
        n >>= 1;
        k++;
    }
    return k;
}

int tree_nodes(int width, int height)
{
    if (width < 1 || height < 1)
        return 0;
    int n = 0;
    for (;;) {
        n += width * height;
        if (width == 1 && height == 1)
            return n;
        width = (width + 1) / 2;
        height = (height + 1) / 2;
    }
}

// Word w of the pass records (two per pass), 29 words to a buffer.
uint8_t* record_word(rv_buffer* first, int w)
{
    rv_buffer* b = first;
    for (int n = w / 29; n > 0; n--)
        b = b->next;
    return b->data() + 2 * (w % 29);
}

uint16_t get_word(const uint8_t* p)
{
    return uint16_t((p[0] << 8) | p[1]);
}

// Codes a tag-tree leaf's value against `threshold`, root first: for each node on the
// path, a 0 for every step of its lower bound below the value and a 1 when the value is
// reached. Bound and value are the fields named by the member pointers.
template <typename T>
void code_tag_tree(rv_precinct_block* leaf, int threshold, T rv_precinct_block::*value,
                   T rv_precinct_block::*bound, rv_header_out& out)
{
    rv_precinct_block* path[32];
    int depth = 0;
    for (rv_precinct_block* n = leaf; n != nullptr && depth < 32; n = n->parent)
        path[depth++] = n;
    int parent_known = 0; // what the reader knows of the parent's value
    while (depth > 0) {
        rv_precinct_block* n = path[--depth];
        int b = n->*bound;
        int v = n->*value;
        if (b < parent_known)
            b = parent_known;
        while (b <= v && b < threshold) {
            out.put_bit(b == v ? 1 : 0);
            b++;
        }
        n->*bound = T(b);
        parent_known = v < b ? v : b;
    }
}

} // namespace

rv_precinct_block* rv_precinct_block::build_tree(int width, int height, rv_precinct_block*& cursor)
{
    if (width < 1 || height < 1)
        return nullptr;
    rv_precinct_block* first = cursor;
    rv_precinct_block* level = cursor;
    for (;;) {
        const int n = width * height;
        for (int k = 0; k < n; k++)
            level[k].reset();
        if (width == 1 && height == 1) {
            cursor = level + 1;
            return first;
        }
        const int pw = (width + 1) / 2, ph = (height + 1) / 2;
        rv_precinct_block* up = level + n;
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++)
                level[y * width + x].parent = up + (y / 2) * pw + (x / 2);
        level = up;
        width = pw;
        height = ph;
    }
}

void rv_precinct_block::store_data(const rvd_block* block, rv_buffer_server* server)
{
    store_passes(block, server);
}

void rv_precinct_block::store_data_threaded(const rvd_block* block, rv_thread_buffer_store* store)
{
    store_passes(block, store);
}

template <class Source>
void rv_precinct_block::store_passes(const rvd_block* block, Source* server)
{
    msbs_value = uint8_t(block->missing_msbs);
    first_buf = current_buf = nullptr;
    buf_pos = 0;
    new_buffer(server);
    int passes = block->num_passes;
    passes_kept = uint8_t(passes);
    int total = 0;
    for (int z = 0; z < passes; z++) {
        put_word(block->pass_slopes[z], server);
        put_word(uint16_t(block->pass_lengths[z]), server);
        total += block->pass_lengths[z];
    }
    put_bytes(block->byte_buffer, total, server);
    current_buf = first_buf;
    buf_pos = 0;
}

void rv_precinct_block::reset_output_tree(rv_precinct_block* nodes, int width, int height)
{
    int total = tree_nodes(width, height);
    for (int k = width * height; k < total; k++) {
        rv_precinct_block& n = nodes[k];
        n.msbs_value = 255;
        n.inclusion_value = 0xFFFF;
        n.inclusion_bound = 0;
        n.msbs_bound = 0;
        n.saved_inclusion_bound = 0;
        n.saved_msbs_bound = 0;
    }
}

void rv_precinct_block::save_output_tree(rv_precinct_block* nodes, int width, int height)
{
    int total = tree_nodes(width, height);
    for (int k = 0; k < total; k++) {
        nodes[k].saved_inclusion_bound = nodes[k].inclusion_bound;
        nodes[k].saved_msbs_bound = nodes[k].msbs_bound;
    }
}

void rv_precinct_block::restore_output_tree(rv_precinct_block* nodes, int width, int height)
{
    int total = tree_nodes(width, height);
    for (int k = 0; k < total; k++) {
        nodes[k].inclusion_bound = nodes[k].saved_inclusion_bound;
        nodes[k].msbs_bound = nodes[k].saved_msbs_bound;
    }
}

uint32_t rv_precinct_block::start_packet(int layer, uint16_t slope_threshold)
{
    if (layer == 0) {
        current_buf = first_buf;
        buf_pos = 0;
        passes_parsed = 0;
        inclusion_value = 0xFFFF;
        inclusion_bound = 0;
        msbs_bound = 0;
        if (passes_kept == 0 || first_buf == nullptr) {
            passes_kept = 0;
            msbs_value = 255;
        }
        for (rv_precinct_block* n = parent; n != nullptr && msbs_value < n->msbs_value; n = n->parent)
            n->msbs_value = msbs_value;
    }
    layer_passes = 0;
    layer_bytes = 0;
    uint32_t bytes = 0;
    for (int z = passes_parsed; z < passes_kept; z++) {
        const uint8_t* rec = record_word(first_buf, 2 * z);
        uint16_t slope = get_word(rec);
        if (slope != 0 && slope <= slope_threshold)
            break;
        bytes += get_word(record_word(first_buf, 2 * z + 1));
        if (slope != 0) {
            layer_passes = uint16_t(z + 1 - passes_parsed);
            layer_bytes = bytes;
        }
    }
    if (passes_parsed == 0 && layer_passes > 0 && inclusion_value == 0xFFFF) {
        inclusion_value = uint16_t(layer);
        for (rv_precinct_block* n = parent; n != nullptr && layer < n->inclusion_value; n = n->parent)
            n->inclusion_value = uint16_t(layer);
    }
    return layer_bytes;
}

uint16_t rv_precinct_block::next_truncation(uint16_t slope_threshold, uint32_t& added_bytes) const
{
    added_bytes = 0;
    bool below = false; // past the passes the threshold already takes
    for (int z = passes_parsed; first_buf != nullptr && passes_kept != 255 && z < passes_kept; z++) {
        const uint16_t slope = get_word(record_word(first_buf, 2 * z));
        below = below || (slope != 0 && slope <= slope_threshold);
        if (!below)
            continue;
        added_bytes += get_word(record_word(first_buf, 2 * z + 1));
        if (slope != 0)
            return slope;
    }
    return 0;
}

void rv_precinct_block::write_packet_header(rv_header_out& out, int layer, bool simulate)
{
    const bool first = passes_parsed == 0;
    if (first) {
        code_tag_tree(this, layer + 1, &rv_precinct_block::inclusion_value, &rv_precinct_block::inclusion_bound, out);
        if (layer_passes == 0)
            return;
        code_tag_tree(this, msbs_value + 1, &rv_precinct_block::msbs_value, &rv_precinct_block::msbs_bound, out);
        msbs_bound = 3; // Lblock from here on
    } else {
        out.put_bit(layer_passes > 0 ? 1 : 0);
        if (layer_passes == 0)
            return;
    }

    const int n = layer_passes;
    if (n == 1) {
        out.put_bit(0);
    } else if (n == 2) {
        out.put_bits(2, 2);
    } else if (n <= 5) {
        out.put_bits(3, 2);
        out.put_bits(uint32_t(n - 3), 2);
    } else if (n <= 36) {
        out.put_bits(15, 4);
        out.put_bits(uint32_t(n - 6), 5);
    } else {
        out.put_bits(0x1FF, 9);
        out.put_bits(uint32_t(n - 37), 7);
    }

    // Codeword segments of the new passes, with their byte counts.
    int seg_passes[164];
    uint32_t seg_bytes[164];
    int num_segs = 0;
    const int end = passes_parsed + n;
    for (int z = passes_parsed; z < end;) {
        int k;
        if (modes & rvd_block_restart)
            k = 1;
        else if (modes & rvd_block_bypass)
            k = z < 10 ? 10 - z : ((z - 10) % 3 == 0 ? 2 : 1);
        else
            k = end - z;
        if (k > end - z)
            k = end - z;
        uint32_t b = 0;
        for (int j = z; j < z + k; j++)
            b += get_word(record_word(first_buf, 2 * j + 1));
        seg_passes[num_segs] = k;
        seg_bytes[num_segs] = b;
        num_segs++;
        z += k;
    }
    int lblock = msbs_bound;
    for (int s = 0; s < num_segs; s++)
        while (seg_bytes[s] >= (uint32_t(1) << (lblock + floor_log2(seg_passes[s])))) {
            out.put_bit(1);
            lblock++;
        }
    out.put_bit(0);
    for (int s = 0; s < num_segs; s++)
        out.put_bits(seg_bytes[s], lblock + floor_log2(seg_passes[s]));
    msbs_bound = uint8_t(lblock);

    if (!simulate) {
        if (first) {
            // The body starts behind the pass records.
            int offset = 4 * passes_kept;
            current_buf = first_buf;
            for (int k = offset / RV_BUFFER_PAYLOAD; k > 0; k--)
                current_buf = current_buf->next;
            buf_pos = uint8_t(offset % RV_BUFFER_PAYLOAD);
        }
        passes_parsed = uint8_t(passes_parsed + n);
    }
}

void rv_precinct_block::write_body_bytes(rvd_output* out)
{
    uint32_t left = layer_bytes;
    while (left > 0) {
        if (buf_pos >= RV_BUFFER_PAYLOAD) {
            current_buf = current_buf->next;
            buf_pos = 0;
        }
        uint32_t room = uint32_t(RV_BUFFER_PAYLOAD - buf_pos);
        uint32_t k = left < room ? left : room;
        out->write(current_buf->data() + buf_pos, int(k));
        buf_pos = uint8_t(buf_pos + k);
        left -= k;
    }
    layer_bytes = 0;
}

bool rv_precinct_block::trim_data(uint16_t slope_threshold, rv_buffer_server* server)
{
    if (first_buf == nullptr)
        return false;
    int kept = passes_parsed;
    uint32_t bytes = 0, kept_bytes = 0;
    for (int z = 0; z < passes_kept; z++) {
        uint16_t slope = get_word(record_word(first_buf, 2 * z));
        uint32_t len = get_word(record_word(first_buf, 2 * z + 1));
        if (z < passes_parsed) {
            bytes += len;
            kept_bytes = bytes;
            continue;
        }
        if (slope != 0 && slope <= slope_threshold)
            break;
        bytes += len;
        if (slope != 0) {
            kept = z + 1;
            kept_bytes = bytes;
        }
    }
    // Records zeroed by an earlier trim hold nothing left to drop.
    int live = passes_kept;
    while (live > kept && get_word(record_word(first_buf, 2 * live - 2)) == 0 &&
           get_word(record_word(first_buf, 2 * live - 1)) == 0)
        live--;
    if (kept == live)
        return false;
    for (int z = kept; z < passes_kept; z++) {
        std::memset(record_word(first_buf, 2 * z), 0, 2);
        std::memset(record_word(first_buf, 2 * z + 1), 0, 2);
    }
    // The buffers holding the records always stay: read positions count from them.
    int records_end = 4 * passes_kept;
    int last_byte = records_end + int(kept_bytes) - 1;
    int keep_buffers = (last_byte < records_end ? records_end - 1 : last_byte) / RV_BUFFER_PAYLOAD + 1;
    rv_buffer* b = first_buf;
    for (int k = 1; k < keep_buffers && b->next != nullptr; k++)
        b = b->next;
    rv_buffer* rest = b->next;
    b->next = nullptr;
    while (rest != nullptr) {
        rv_buffer* n = rest->next;
        if (current_buf == rest)
            current_buf = b;
        server->release(rest);
        rest = n;
    }
    return true;
}
