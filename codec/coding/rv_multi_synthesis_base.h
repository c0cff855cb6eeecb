// Interface of a tile's multi-component synthesis engine, behind rvd_multi_synthesis.
#pragma once

#include "codec/core/rvd_coords.h"
#include "codec/core/rvd_line_buf.h"

class rvd_thread_env;

class rv_multi_synthesis_base {
public:
    rv_multi_synthesis_base() = default;
    rv_multi_synthesis_base(const rv_multi_synthesis_base&) = delete;
    rv_multi_synthesis_base& operator=(const rv_multi_synthesis_base&) = delete;
    virtual ~rv_multi_synthesis_base() = default;

    virtual void terminate_queues(rvd_thread_env* env) = 0;
    virtual rvd_coords get_size(int comp_idx) const = 0;
    virtual rvd_line_buf* get_line(int comp_idx, rvd_thread_env* env) = 0;
    virtual bool is_line_precise(int comp_idx) const = 0;
    virtual bool is_line_absolute(int comp_idx) const = 0;
};
