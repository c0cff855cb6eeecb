// Engines that take a tile-component's samples one line at a time, from the top row
// down: the forward wavelet transform and the subband encoder. The handle owns its
// engine and destroys it (children first) when it is destroyed or destroy() is called.
#pragma once

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
class rvd_push_ifc {
public:
    rvd_push_ifc() = default;
    explicit rvd_push_ifc(rvd_push_ifc_base* engine) : state(engine) {}
    ~rvd_push_ifc() { destroy(); }
    rvd_push_ifc(const rvd_push_ifc&) = delete;
    rvd_push_ifc& operator=(const rvd_push_ifc&) = delete;
    rvd_push_ifc(rvd_push_ifc&& other) noexcept : state(other.state) { other.state = nullptr; }
    rvd_push_ifc& operator=(rvd_push_ifc&& other) noexcept
    {
        if (this != &other) {
            destroy();
            state = other.state;
            other.state = nullptr;
        }
        return *this;
    }

    bool exists() const { return state != nullptr; }
    bool operator!() const { return state == nullptr; }
    rvd_push_ifc_base* get() const { return state; }
    // Gives up ownership without destroying the engine.
    rvd_push_ifc_base* release()
    {
        rvd_push_ifc_base* engine = state;
        state = nullptr;
        return engine;
    }
    void destroy()
    {
        delete state;
        state = nullptr;
    }
    void push(rvd_line_buf& line, rvd_thread_env* env) { state->push(line, env); }

protected:
    rvd_push_ifc_base* state = nullptr;
};
