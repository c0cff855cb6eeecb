#include "codec/coding/rvd_block.h"

#include <cstring>

rvd_block::rvd_block() {}

rvd_block::~rvd_block()
{
    delete[] pass_lengths;
    delete[] pass_slopes;
    delete[] byte_alloc;
    delete[] sample_alloc;
    delete[] context_buffer;
}

void rvd_block::set_max_passes(int n, bool keep)
{
    if (n <= max_passes)
        return;
    int* lengths = new int[size_t(n)]();
    uint16_t* slopes = new uint16_t[size_t(n)]();
    if (keep && pass_lengths != nullptr) {
        std::memcpy(lengths, pass_lengths, sizeof(int) * size_t(max_passes));
        std::memcpy(slopes, pass_slopes, sizeof(uint16_t) * size_t(max_passes));
    }
    delete[] pass_lengths;
    delete[] pass_slopes;
    pass_lengths = lengths;
    pass_slopes = slopes;
    max_passes = n;
}

void rvd_block::set_max_bytes(int n, bool keep)
{
    if (n <= max_bytes)
        return;
    uint8_t* alloc = new uint8_t[size_t(n) + 1]();
    if (keep && byte_buffer != nullptr)
        std::memcpy(alloc + 1, byte_buffer, size_t(max_bytes));
    delete[] byte_alloc;
    byte_alloc = alloc;
    byte_buffer = alloc + 1;
    max_bytes = n;
}

void rvd_block::set_max_samples(int n)
{
    if (n <= max_samples)
        return;
    delete[] sample_alloc;
    sample_alloc = nullptr;
    sample_buffer = nullptr;
    max_samples = 0;
    sample_alloc = new int32_t[size_t(n) + 3];
    uintptr_t a = reinterpret_cast<uintptr_t>(sample_alloc);
    sample_buffer = sample_alloc + ((16 - (a & 15)) & 15) / 4;
    max_samples = n;
}

void rvd_block::set_max_contexts(int n)
{
    if (n <= max_contexts)
        return;
    delete[] context_buffer;
    context_buffer = nullptr;
    max_contexts = 0;
    context_buffer = new int32_t[size_t(n)];
    max_contexts = n;
}
