// Engines that take a tile-component's samples one line at a time, from the top row
// down: the forward wavelet transform and the subband encoder. The handle owns its
// engine and destroys it (children first) when it is destroyed or destroy() is called.
#pragma once

#include "codec/coding/rv_engine_owner.h"
#include "codec/core/rvd_line_buf.h"

class rvd_thread_env;
class rvd_thread_queue;

class rvd_push_ifc_base {
public:
    rvd_push_ifc_base() = default;
    rvd_push_ifc_base(const rvd_push_ifc_base&) = delete;
    rvd_push_ifc_base& operator=(const rvd_push_ifc_base&) = delete;
    // Destroying an engine before its last line is allowed (after an error, say): what it
    // holds is freed and any region-of-interest node it owns is released.
    virtual ~rvd_push_ifc_base() = default;
    // Accepts the next line of the engine's region: 16-bit samples when the engine was
    // created for them, else 32-bit (integers when reversible, floats otherwise). The
    // line's samples are read before push returns; the caller may reuse the line.
    virtual void push(rvd_line_buf& line, rvd_thread_env* env) = 0;
};

// Move-only owner of one engine.
class rvd_push_ifc : public rv_engine_owner<rvd_push_ifc_base> {
public:
    using rv_engine_owner::rv_engine_owner;
    void push(rvd_line_buf& line, rvd_thread_env* env) { state->push(line, env); }
};
