// The code-block exchange record between the codestream and the block coders. One per
// decoding or encoding thread, reused from block to block; its arrays only grow.
#pragma once

#include "codec/core/rvd_coords.h"
#include "codec/core/rvd_dims.h"

#include <cstdint>

// Processor time of the calling thread in nanoseconds. Per thread, so that blocks coded at
// once on several threads add up to no more than the whole process's time.
int64_t rv_coder_clock();

class rvd_block {
public:
    rvd_block();
    ~rvd_block();
    rvd_block(const rvd_block&) = delete;
    rvd_block& operator=(const rvd_block&) = delete;

    // Each leaves the record unchanged when the capacity already suffices. With `keep`
    // the old entries (bytes) are copied into the new arrays; otherwise they are lost.
    void set_max_passes(int n, bool keep = false);
    // Places byte_buffer one byte into the allocation, so that the byte before the first
    // coded byte may be written.
    void set_max_bytes(int n, bool keep = false);
    // Aligns sample_buffer to 16 bytes; contents are not kept.
    void set_max_samples(int n);
    // Contents are not kept.
    void set_max_contexts(int n);

    rvd_coords size;          // rows (y) and columns (x) as the block coder sees them
    rvd_dims region;          // the part of the block the caller wants back
    bool transpose, vflip, hflip;
    int modes;                // code-block style bits (bypass, reset, restart, causal, ERTERM, SEGMARK)
    int orientation;          // 0 LL, 1 HL, 2 LH, 3 HH
    bool resilient, fussy;
    int magnitude_planes;     // magnitude bit-planes of the band, ROI up-shift included
    int missing_msbs;
    int num_passes;           // the decoder lowers it when it meets corrupt data
    int32_t* pass_lengths;    // 0 for a pass in the same codeword segment as the one before
    uint16_t* pass_slopes;    // 0 = not a truncation point
    uint8_t* byte_buffer;     // the coded bytes of all passes, one after another
    int max_passes, max_bytes;
    int32_t* sample_buffer;   // sign-magnitude words, 16-byte aligned
    int32_t* context_buffer;
    int max_samples, max_contexts;
    bool errors_reported;     // the corrupted-block warning was issued for this record
    int timing_repeats;       // when positive, each block is coded this many times
    int64_t timed_samples;
    // Nanoseconds of the coding thread's processor time (rv_coder_clock) at the start,
    // and accumulated since the codestream last collected them. A block takes tens of
    // microseconds, so coarser units would round each one to nothing.
    int64_t timing_start, timing_total;

private:
    uint8_t* byte_storage;    // byte_buffer - 1
    int32_t* sample_storage;  // sample_buffer before alignment
};
