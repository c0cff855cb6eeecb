// Interface of a tile's multi-component analysis engine, behind rvd_multi_analysis.
#pragma once

#include "codec/core/rvd_coords.h"
#include "codec/core/rvd_line_buf.h"

class rvd_thread_env;

class rv_multi_analysis_base {
public:
    rv_multi_analysis_base() = default;
    rv_multi_analysis_base(const rv_multi_analysis_base&) = delete;
    rv_multi_analysis_base& operator=(const rv_multi_analysis_base&) = delete;
    virtual ~rv_multi_analysis_base() = default;

    virtual void terminate_queues(rvd_thread_env* env) = 0;
    virtual rvd_coords get_size(int comp_idx) const = 0;
    virtual rvd_line_buf* exchange_line(int comp_idx, bool give_back, rvd_thread_env* env) = 0;
    virtual bool is_line_precise(int comp_idx) const = 0;
    virtual bool is_line_absolute(int comp_idx) const = 0;
};
