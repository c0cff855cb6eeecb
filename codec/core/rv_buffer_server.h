// Pool of small fixed-size buffers holding every compressed byte the codestream keeps in
// memory (code-block passes, packed packet headers, packet lengths), chained through
// their links. Buffers come in groups of four; a whole group is the unit handed to
// thread stores and counted in memory reports (4 x 58 = 232 payload bytes).
#pragma once

#include <cstddef>
#include <cstdint>

enum : int {
    RV_BUFFER_PAYLOAD = 58,      // payload bytes of one buffer
    RV_GROUP_PAYLOAD = 232,      // payload bytes of one group: the memory reporting unit
    RV_GROUPS_PER_BLOCK = 64
};

struct rv_buffer {
    rv_buffer* next;
    // Bits 0-6: index within the group; bit 15: handed out.
    uint16_t tag;
    uint8_t payload[RV_BUFFER_PAYLOAD];

    uint8_t* data() { return payload; }
    const uint8_t* data() const { return payload; }
    int index() const { return tag & 0x7F; }
    bool in_use() const { return (tag & 0x8000) != 0; }
    // The group's first buffer; groups are four consecutive buffers.
    rv_buffer* group() { return this - index(); }
};

class rv_thread_buffer_store;

struct rv_buffer_block {
    rv_buffer_block* next;
    rv_buffer bufs[4 * RV_GROUPS_PER_BLOCK];
};

class rv_buffer_server {
public:
    rv_buffer_server() = default;
    ~rv_buffer_server();
    rv_buffer_server(const rv_buffer_server&) = delete;
    rv_buffer_server& operator=(const rv_buffer_server&) = delete;

    void alloc_block();
    rv_buffer* get();
    void release(rv_buffer* buf);
    // Releases every buffer of a chain.
    void release_chain(rv_buffer* head);
    // A chain of 4 x n buffers made of n wholly unused groups; tail gets the last.
    rv_buffer* get_groups(int num_groups, rv_buffer*& tail);

    int64_t get_total_groups() const { return total_groups; }
    int64_t get_full_groups() const { return full_groups; }
    int64_t get_peak_full_groups() const { return peak_full_groups; }
    int64_t get_num_blocks() const;

    void augment_structure_bytes(int64_t delta)
    {
        structure_bytes += delta;
        if (structure_bytes > peak_structure_bytes)
            peak_structure_bytes = structure_bytes;
    }
    int64_t get_structure_bytes() const { return structure_bytes; }
    int64_t get_peak_structure_bytes() const { return peak_structure_bytes; }
    int64_t augment_cache_threshold(int64_t delta)
    {
        cache_threshold += delta;
        return cache_threshold;
    }

private:
    friend class rv_thread_buffer_store;
    friend class rv_codestream;
    rv_buffer_block* blocks = nullptr;
    rv_buffer* free_list = nullptr;
    int64_t total_groups = 0;
    int64_t full_groups = 0;
    int64_t peak_full_groups = 0;
    int64_t structure_bytes = 0;
    int64_t peak_structure_bytes = 0;
    int64_t cache_threshold = 0;
    rv_thread_buffer_store* stores = nullptr; // attached thread stores
};
