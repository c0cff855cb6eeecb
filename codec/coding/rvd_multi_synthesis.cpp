#include "codec/coding/rvd_multi_synthesis.h"

#include "codec/coding/rv_multi_synthesis.h"
#include "codec/coding/rv_multi_tile_source.h"

#include <memory>

std::int64_t rvd_multi_synthesis::create(rvd_codestream codestream, rvd_tile tile,
                                         bool force_precise, bool skip_ycc, bool want_fastest,
                                         int processing_stripe_height, rvd_thread_env* env,
                                         rvd_thread_queue* env_queue, bool double_buffering)
{
    destroy();
    std::unique_ptr<rv_multi_synthesis> engine(new rv_multi_synthesis);
    rv_multi_tile_source source(codestream, tile);
    const std::int64_t bytes =
        engine->create(source, force_precise, skip_ycc, want_fastest, processing_stripe_height,
                       env, env_queue, double_buffering);
    state = engine.release();
    return bytes;
}

void rvd_multi_synthesis::destroy()
{
    delete state;
    state = nullptr;
}

// An empty handle answers as an engine without outputs would.
rvd_coords rvd_multi_synthesis::get_size(int comp_idx) const
{
    return state != nullptr ? state->get_size(comp_idx) : rvd_coords();
}

rvd_line_buf* rvd_multi_synthesis::get_line(int comp_idx, rvd_thread_env* env)
{
    return state != nullptr ? state->get_line(comp_idx, env) : nullptr;
}

bool rvd_multi_synthesis::is_line_precise(int comp_idx) const
{
    return state != nullptr && state->is_line_precise(comp_idx);
}

bool rvd_multi_synthesis::is_line_absolute(int comp_idx) const
{
    return state != nullptr && state->is_line_absolute(comp_idx);
}
