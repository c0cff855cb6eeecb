// A thread group participant that the codestream core understands: besides the pool's
// entity it carries per-thread codestream state, so that most of a worker's code-block
// work takes no lock. Lock 0 guards general codestream state, lock 1 the merged rate
// statistics, lock 2 deferred closings.
#pragma once

#include "codec/core/rv_rate_stats.h"
#include "codec/core/rvd_block.h"
#include "codec/core/rv_thread_buffer_store.h"
#include "codec/core/rvd_thread_entity.h"

class rv_codestream;
class rv_precinct;
struct rv_precinct_block;
class rv_thread_codestream_state;

class rvd_thread_env : public rvd_thread_entity {
public:
    rvd_thread_env();
    ~rvd_thread_env() override;

    rvd_thread_entity* new_instance() override { return new rvd_thread_env; }
    int get_num_locks() override { return 10; }
    // Completes the pending closings, or discards them after a failure.
    void on_finished(bool failed) override;
    bool need_sync() override { return sync_pending; }
    // Settles the pending closings and leaves the codestream's buffer server.
    void do_sync(bool failed) override;

    rv_thread_codestream_state* get_state() { return state; }
    bool sync_pending = false;

private:
    rv_thread_codestream_state* state;
};

// A code-block closed by this thread whose precinct bookkeeping is still to be done.
struct rv_deferred_closing {
    rv_precinct* precinct = nullptr;
    rv_precinct_block* block = nullptr;
};

class rv_thread_codestream_state {
public:
    explicit rv_thread_codestream_state(rvd_thread_env* env);
    ~rv_thread_codestream_state();
    rv_thread_codestream_state(const rv_thread_codestream_state&) = delete;
    rv_thread_codestream_state& operator=(const rv_thread_codestream_state&) = delete;

    // Joins the codestream's buffer server (lock 0 held by the caller).
    void use_codestream(rv_codestream* cs);
    // Parks a closing; six pending are completed, eight must be.
    void defer_closing(rv_precinct* p, rv_precinct_block* blk);
    // Output: stores the block's passes from the thread's buffers and counts them in the
    // thread's statistics, then parks the precinct bookkeeping. No lock on the way.
    void close_output_block(rv_precinct* p, rv_precinct_block* blk, const rvd_block* block);
    // Completes the pending closings under lock 0: with `wait` always, otherwise only when
    // the lock is free at once.
    void flush(bool wait);
    // Gives up the pending closings, returning their blocks' buffers to the server.
    void discard();
    // Leaves the buffer server (under lock 0) and forgets the codestream.
    void leave_codestream();
    // The codestream is going away: its closings are forgotten, not completed.
    void drop_closings_of(rv_codestream* cs);

    rvd_thread_env* env;
    rvd_block block;
    rv_codestream* codestream = nullptr;
    rv_thread_buffer_store store;
    rv_rate_stats stats; // blocks closed since the last merge into the codestream's
    bool trim_due = false; // a merge asked for trimming that lock 0 has not yet allowed
    int num_deferred = 0;
    rv_deferred_closing deferred[8];
    // The block handed out by open_block and not yet closed.
    rv_precinct* open_precinct = nullptr;
    rv_precinct_block* open_state = nullptr;
};

// The precinct bookkeeping of a code-block closing on an input codestream (the caller
// holds lock 0 when threads are involved).
void rv_complete_block_closing(rv_precinct* p, rv_precinct_block* blk);
// The same for a codestream being written: a precinct whose last block this was waits
// for output.
void rv_complete_output_closing(rv_precinct* p);

// Lock 0 of the environment's group for a scope, taken after re-raising a failure that
// another thread recorded; nothing without an environment.
class rv_env_lock {
public:
    explicit rv_env_lock(rvd_thread_env* env) : env(env)
    {
        if (env != nullptr) {
            env->raise_group_failure();
            env->acquire_lock(0);
        }
    }
    ~rv_env_lock()
    {
        if (env != nullptr)
            env->release_lock(0);
    }
    rv_env_lock(const rv_env_lock&) = delete;
    rv_env_lock& operator=(const rv_env_lock&) = delete;

private:
    rvd_thread_env* env;
};
