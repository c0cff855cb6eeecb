#include "codec/coding/rvd_multi_analysis.h"

#include "codec/coding/rv_multi_analysis.h"
#include "codec/coding/rv_multi_tile_source.h"

#include <memory>

std::int64_t rvd_multi_analysis::create(rvd_codestream codestream, rvd_tile tile,
                                        bool force_precise, rvd_roi_image* roi,
                                        bool want_fastest, int processing_stripe_height,
                                        rvd_thread_env* env, rvd_thread_queue* env_queue,
                                        bool double_buffering)
{
    destroy(env);
    std::unique_ptr<rv_multi_analysis> engine(new rv_multi_analysis);
    rv_multi_tile_source source(codestream, tile);
    const std::int64_t bytes = engine->create(source, force_precise, roi, want_fastest,
                                              processing_stripe_height, env, env_queue, double_buffering);
    state = engine.release();
    return bytes;
}

void rvd_multi_analysis::destroy(rvd_thread_env* env)
{
    if (state == nullptr)
        return;
    std::unique_ptr<rv_multi_analysis_base> engine(state);
    state = nullptr;
    engine->terminate_queues(env);
}

rvd_coords rvd_multi_analysis::get_size(int comp_idx) const
{
    return state != nullptr ? state->get_size(comp_idx) : rvd_coords();
}

rvd_line_buf* rvd_multi_analysis::exchange_line(int comp_idx, bool give_back, rvd_thread_env* env)
{
    return state != nullptr ? state->exchange_line(comp_idx, give_back, env) : nullptr;
}

bool rvd_multi_analysis::is_line_precise(int comp_idx) const
{
    return state != nullptr && state->is_line_precise(comp_idx);
}

bool rvd_multi_analysis::is_line_absolute(int comp_idx) const
{
    return state != nullptr && state->is_line_absolute(comp_idx);
}
