#include "codec/coding/rvd_multi_synthesis.h"

#include "codec/coding/rv_multi_synthesis_base.h"
#include "codec/core/rvd_message.h"

std::int64_t rvd_multi_synthesis::create(rvd_codestream, rvd_tile, bool, bool, bool, int,
                                         rvd_thread_env*, rvd_thread_queue*, bool)
{
    // The network lands in the next commit; until then no engine can be built.
    rvd_error e("Ravade Core Error:\n");
    e << "Multi-component synthesis is not available yet.";
    return 0;
}

void rvd_multi_synthesis::destroy()
{
    delete state;
    state = nullptr;
}

rvd_coords rvd_multi_synthesis::get_size(int comp_idx) const
{
    return state->get_size(comp_idx);
}

rvd_line_buf* rvd_multi_synthesis::get_line(int comp_idx, rvd_thread_env* env)
{
    return state->get_line(comp_idx, env);
}

bool rvd_multi_synthesis::is_line_precise(int comp_idx) const
{
    return state->is_line_precise(comp_idx);
}

bool rvd_multi_synthesis::is_line_absolute(int comp_idx) const
{
    return state->is_line_absolute(comp_idx);
}
