// Drains the writer's byte buffer into the application's compressed-data target and
// counts what went there.
#pragma once

#include "codec/core/rvd_compressed_target.h"
#include "codec/core/rvd_output.h"

#include <cstdint>

class rv_compressed_output : public rvd_output {
public:
    explicit rv_compressed_output(rvd_compressed_target* tgt) : target(tgt) {}
    // Passes on what is still buffered, never throwing: while an exception unwinds the
    // buffer is dropped, since the codestream it belongs to is being abandoned.
    ~rv_compressed_output() override;
    rv_compressed_output(const rv_compressed_output&) = delete;
    rv_compressed_output& operator=(const rv_compressed_output&) = delete;

    // Bytes written so far, buffered ones included.
    int64_t get_bytes_written() const { return flushed_bytes + (next_buf - buffer); }
    void flush() { flush_buf(); }
    rvd_compressed_target* access_target() const { return target; }

protected:
    int flush_buf() override;

private:
    rvd_compressed_target* target;
    int64_t flushed_bytes = 0;
};
