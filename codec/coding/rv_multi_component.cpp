#include "codec/coding/rv_multi_component.h"

#include "codec/core/rvd_thread_env.h"

#include <algorithm>

void rv_multi_component::do_job(rvd_thread_env* env, int job_idx)
{
    (void)job_idx;
    for (int k = 0; k < num_job_rows; ++k)
        engine.pull(buffers[first_job_buffer + k], env);
}

void rv_multi_component::set_buffering(int stripe, int height)
{
    stripe_height = std::max(1, stripe);
    num_buffers = double_buffering ? 2 * stripe_height : stripe_height;
    if (num_buffers > height) {
        num_buffers = std::max(0, height);
        stripe_height = double_buffering ? (num_buffers + 1) / 2 : num_buffers;
    }
    buffers.reset(new rvd_line_buf[std::size_t(num_buffers)]);
}

void rv_multi_component::fill_stripe(int rows_left, rvd_thread_env* env)
{
    first_job_buffer = 0;
    num_job_rows = std::min(stripe_height, rows_left);
    do_job(env, 0);
    next_buffer = 0;
    num_available = num_job_rows;
}

void rv_multi_component::take_stripe(rvd_thread_env* env)
{
    env->process_jobs(queue, false, true);
    next_buffer = first_job_buffer;
    num_available = num_job_rows;
    const int remaining = line.size.y - rows_queued;
    if (remaining <= 0 || num_job_rows <= 0)
        return;
    first_job_buffer = first_job_buffer == 0 ? num_job_rows : 0;
    num_job_rows = std::min(stripe_height, remaining);
    rows_queued += num_job_rows;
    env->add_jobs(queue, 1, rows_queued == line.size.y, rv_stripe_job_rank);
}
