// Engines that deliver a tile-component's samples one line at a time when pulled: the
// subband decoder and the inverse wavelet transform. The handle owns its engine and
// destroys it (children first) when it is destroyed or destroy() is called.
#pragma once

#include "codec/coding/rv_engine_owner.h"
#include "codec/core/rvd_line_buf.h"

class rvd_thread_env;
class rvd_thread_queue;

class rvd_pull_ifc_base {
public:
    rvd_pull_ifc_base() = default;
    rvd_pull_ifc_base(const rvd_pull_ifc_base&) = delete;
    rvd_pull_ifc_base& operator=(const rvd_pull_ifc_base&) = delete;
    virtual ~rvd_pull_ifc_base() = default;
    // Takes the line storage from the finalised allocator; called once before the first
    // pull (pull calls it itself when it was not).
    virtual void start(rvd_thread_env* env) = 0;
    // Writes the next line into `line` (16-bit or 32-bit as the engine was created) from
    // the engine's pull offset onward.
    virtual void pull(rvd_line_buf& line, rvd_thread_env* env) = 0;
};

// Move-only owner of one engine.
class rvd_pull_ifc : public rv_engine_owner<rvd_pull_ifc_base> {
public:
    using rv_engine_owner::rv_engine_owner;
    void start(rvd_thread_env* env) { state->start(env); }
    void pull(rvd_line_buf& line, rvd_thread_env* env) { state->pull(line, env); }
};
