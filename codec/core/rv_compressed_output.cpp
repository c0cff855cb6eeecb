#include "codec/core/rv_compressed_output.h"

#include "codec/core/rvd_params.h"

#include <exception>

rv_compressed_output::~rv_compressed_output()
{
    if (std::uncaught_exceptions() > 0)
        return;
    try {
        flush_buf();
    } catch (...) {
        // A failing device here has already reported its error through the handler.
    }
}

int rv_compressed_output::flush_buf()
{
    const int n = int(next_buf - buffer);
    next_buf = buffer;
    if (n > 0) {
        flushed_bytes += n;
        if (!target->write(buffer, n))
            rv_raise_core_error("The compressed data target refused bytes written to it.");
    }
    return n;
}
