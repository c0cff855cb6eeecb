// Two-phase storage for sample lines: every owner first reserves what its lines need,
// then one block is taken for all of them and handed out piece by piece, so that
// pulling lines never allocates.
#pragma once

#include <cstddef>
#include <cstdint>

class rvd_sample_allocator {
public:
    rvd_sample_allocator() = default;
    rvd_sample_allocator(const rvd_sample_allocator&) = delete;
    rvd_sample_allocator& operator=(const rvd_sample_allocator&) = delete;
    ~rvd_sample_allocator();

    // Starts a new set of lines: reservations begin again from 0; the block is kept and
    // reused when it is large enough.
    void restart();
    // Adds to the reservation; only while pre-creating. Raises the standard allocation
    // failure when the total no longer fits a 64-bit count.
    void pre_alloc(std::uint64_t num_bytes);
    // Takes the block: a new one only when the reservation exceeds the current block.
    void finalize();
    // Hands out the next `num_bytes` of the block (after finalize). Taking more than the
    // block holds is a codec error, never an overrun.
    void* alloc_bytes(std::uint64_t num_bytes);

    bool is_pre_creating() const { return pre_creating; }
    std::uint64_t get_bytes_reserved() const { return bytes_reserved; }
    std::uint64_t get_bytes_used() const { return bytes_used; }
    // Bytes the allocator holds for its lines.
    std::uint64_t get_size() const { return block_size; }
    const void* get_block() const { return block; }

private:
    bool pre_creating = true;
    std::uint64_t bytes_reserved = 0;
    std::uint64_t bytes_used = 0;
    std::uint64_t block_size = 0;
    std::uint8_t* block = nullptr; // 16-byte aligned
    bool huge = false;             // a large block on huge-page boundaries
};
