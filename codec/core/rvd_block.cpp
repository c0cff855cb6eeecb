#include "codec/core/rvd_block.h"

#include <cstdint>
#include <cstring>
#include <ctime>

int64_t rv_coder_clock()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

rvd_block::rvd_block()
    : transpose(false), vflip(false), hflip(false), modes(0), orientation(0), resilient(false),
      fussy(false), magnitude_planes(0), missing_msbs(0), num_passes(0), pass_lengths(nullptr),
      pass_slopes(nullptr), byte_buffer(nullptr), max_passes(0), max_bytes(0), sample_buffer(nullptr),
      context_buffer(nullptr), max_samples(0), max_contexts(0), errors_reported(false), timing_repeats(0),
      timed_samples(0), timing_start(0), timing_total(0), byte_storage(nullptr), sample_storage(nullptr)
{
}

rvd_block::~rvd_block()
{
    delete[] pass_lengths;
    delete[] pass_slopes;
    delete[] byte_storage;
    delete[] sample_storage;
    delete[] context_buffer;
}

void rvd_block::set_max_passes(int n, bool keep)
{
    if (n <= max_passes)
        return;
    int32_t* lengths = new int32_t[n]();
    uint16_t* slopes;
    try {
        slopes = new uint16_t[n]();
    } catch (...) {
        delete[] lengths;
        throw;
    }
    if (keep && pass_lengths != nullptr) {
        std::memcpy(lengths, pass_lengths, sizeof(int32_t) * static_cast<size_t>(max_passes));
        std::memcpy(slopes, pass_slopes, sizeof(uint16_t) * static_cast<size_t>(max_passes));
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
    uint8_t* storage = new uint8_t[static_cast<size_t>(n) + 1]();
    if (keep && byte_buffer != nullptr)
        std::memcpy(storage + 1, byte_buffer, static_cast<size_t>(max_bytes));
    delete[] byte_storage;
    byte_storage = storage;
    byte_buffer = storage + 1;
    max_bytes = n;
}

void rvd_block::set_max_samples(int n)
{
    if (n <= max_samples)
        return;
    int32_t* storage = new int32_t[static_cast<size_t>(n) + 3];
    delete[] sample_storage;
    sample_storage = storage;
    uintptr_t addr = reinterpret_cast<uintptr_t>(storage);
    sample_buffer = storage + ((16 - (addr & 15)) & 15) / sizeof(int32_t);
    max_samples = n;
}

void rvd_block::set_max_contexts(int n)
{
    if (n <= max_contexts)
        return;
    int32_t* words = new int32_t[static_cast<size_t>(n)];
    delete[] context_buffer;
    context_buffer = words;
    max_contexts = n;
}
