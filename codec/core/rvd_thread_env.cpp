#include "codec/core/rvd_thread_env.h"

#include "codec/core/rv_precinct_block.h"
#include "codec/core/rv_codestream.h"
#include "codec/core/rv_precinct.h"
#include "codec/core/rv_tile_writing.h"

namespace {

// A lock of the group for the scope (lock 0 unless told), released also when the work
// inside throws.
struct general_lock {
    rvd_thread_env* env;
    int idx;
    bool held;
    general_lock(rvd_thread_env* env, bool wait, int idx = 0)
        : env(env), idx(idx), held(env->acquire_lock(idx, wait))
    {
    }
    ~general_lock()
    {
        if (held)
            env->release_lock(idx);
    }
};

} // namespace

rvd_thread_env::rvd_thread_env() : state(new rv_thread_codestream_state(this)) { as_env = this; }

rvd_thread_env::~rvd_thread_env()
{
    // The store leaves its server before the group (and its locks) go away.
    try {
        state->discard();
        state->leave_codestream();
    } catch (...) {
    }
    if (owns_group)
        destroy();
    delete state;
}

void rvd_thread_env::on_finished(bool failed)
{
    if (failed)
        state->discard();
    else
        state->flush(true);
}

void rvd_thread_env::do_sync(bool failed)
{
    if (failed)
        state->discard();
    else
        state->flush(true);
    state->leave_codestream();
}

rv_thread_codestream_state::rv_thread_codestream_state(rvd_thread_env* env) : env(env)
{
    store.owner = this;
}

rv_thread_codestream_state::~rv_thread_codestream_state() = default;

void rv_thread_codestream_state::use_codestream(rv_codestream* cs)
{
    codestream = cs;
    if (store.server != cs->buf_server.get())
        store.attach(cs->buf_server.get());
}

void rv_thread_codestream_state::defer_closing(rv_precinct* p, rv_precinct_block* blk)
{
    if (num_deferred == 8)
        flush(true);
    deferred[num_deferred++] = rv_deferred_closing{p, blk};
    env->sync_pending = true;
    if (num_deferred >= 6)
        flush(num_deferred == 8);
}

void rv_thread_codestream_state::close_output_block(rv_precinct* p, rv_precinct_block* blk,
                                                    const rvd_block* block)
{
    rv_codestream* cs = p->codestream();
    blk->store_data_threaded(block, &store);
    if (cs->wr.stats)
        stats.update(block); // the thread's own: its trimming check waits for the merge
    defer_closing(p, blk);
}

void rv_thread_codestream_state::flush(bool wait)
{
    if (num_deferred == 0)
        return;
    // What this thread coded joins the codestream's statistics first, under their own
    // lock, so that encoders on every thread see the budget's progress.
    rv_codestream* cs = deferred[0].precinct->codestream();
    if (stats.samples_done > 0 && cs->out && cs->wr.stats) {
        env->raise_group_failure();
        general_lock stats_lock(env, true, 1);
        if (cs->wr.stats->merge(stats))
            trim_due = true;
        cs->wr.stats->find_thresholds();
    }
    env->raise_group_failure();
    general_lock lock(env, wait);
    if (!lock.held)
        return;
    while (num_deferred > 0) {
        rv_deferred_closing d = deferred[--num_deferred];
        deferred[num_deferred] = rv_deferred_closing();
        if (d.precinct->codestream()->in)
            rv_complete_block_closing(d.precinct, d.block);
        else
            rv_complete_output_closing(d.precinct);
    }
    env->sync_pending = false;
    if (trim_due && cs->out && cs->wr.stats) {
        trim_due = false;
        int threshold;
        {
            general_lock stats_lock(env, true, 1);
            threshold = cs->wr.stats->trimming_threshold();
        }
        rv_trim_compressed_data(cs, threshold);
    }
    if (cs->out && store.server != nullptr) {
        store.update_reserve();
        store.augment(true);
    }
}

void rv_thread_codestream_state::discard()
{
    if (num_deferred > 0) {
        general_lock lock(env, true);
        for (int i = 0; i < num_deferred; i++) {
            rv_deferred_closing& d = deferred[i];
            rv_codestream* cs = d.precinct->codestream();
            if (!cs->in || !cs->persistent) {
                d.block->release_chain(cs->buf_server.get());
                d.block->passes_kept = 255;
            }
            d = rv_deferred_closing();
        }
        num_deferred = 0;
    }
    stats.reset();
    trim_due = false;
    env->sync_pending = false;
}

void rv_thread_codestream_state::leave_codestream()
{
    if (store.server != nullptr) {
        general_lock lock(env, true);
        store.detach();
    }
    codestream = nullptr;
    open_precinct = nullptr;
    open_state = nullptr;
    stats.reset();
    trim_due = false;
}

void rv_thread_codestream_state::drop_closings_of(rv_codestream* cs)
{
    int kept = 0;
    for (int i = 0; i < num_deferred; i++)
        if (deferred[i].precinct->codestream() != cs)
            deferred[kept++] = deferred[i];
    for (int i = kept; i < num_deferred; i++)
        deferred[i] = rv_deferred_closing();
    num_deferred = kept;
    if (num_deferred == 0)
        env->sync_pending = false;
    if (codestream == cs) {
        stats.reset();
        trim_due = false;
        codestream = nullptr;
        open_precinct = nullptr;
        open_state = nullptr;
    }
}
