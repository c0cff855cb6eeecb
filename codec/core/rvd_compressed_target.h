// The application's device for written codestreams. Writing appends in order; a
// device that can reposition lets the writer go back over reserved space (TLM) and
// return to the end afterwards.
#pragma once

#include <cstdint>

class rvd_compressed_target {
public:
    virtual ~rvd_compressed_target() {}
    // Accepts every byte handed to it, in order; false only when the device failed.
    virtual bool write(const uint8_t* buf, int num_bytes) = 0;
    // Positions the device `backtrack` bytes before the end of the data written so far;
    // false when the device cannot reposition.
    virtual bool start_rewrite(int64_t backtrack) { (void)backtrack; return false; }
    // Returns to the end of the data after a rewrite; false when none was in progress.
    virtual bool end_rewrite() { return false; }
};
