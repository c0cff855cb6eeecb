// The worker-thread pool. An entity that calls create becomes thread 0 of a new group;
// add_thread starts further threads, each with its own entity made by new_instance.
// Engines add queues and jobs; a thread that must wait for jobs works on the queues
// itself. The group also keeps numbered locks that the codestream core takes around
// shared state, each re-entrant for its holder.
#pragma once

#include "codec/core/rvd_thread_queue.h"

#include <cstdint>
#include <exception>

class rv_thread_group;
class rvd_worker;
class rvd_thread_env;

class alignas(128) rvd_thread_entity {
public:
    rvd_thread_entity();
    // Thread 0 of a group destroys the group.
    virtual ~rvd_thread_entity();
    rvd_thread_entity(const rvd_thread_entity&) = delete;
    rvd_thread_entity& operator=(const rvd_thread_entity&) = delete;

    virtual rvd_thread_entity* new_instance() { return new rvd_thread_entity; }
    // The group's lock count once in a group, else 1.
    virtual int get_num_locks();
    // Releases this entity's locks, drops every unstarted job and records the failure
    // (the first one recorded wins).
    virtual void handle_exception(int code);
    virtual void on_finished(bool failed) { (void)failed; }
    virtual bool need_sync() { return false; }
    virtual void do_sync(bool failed) { (void)failed; }

    // Makes this entity thread 0 of a new group; a non-zero mask pins every thread of the
    // group to those processors (processors the machine lacks are ignored).
    void create(std::uint64_t cpu_affinity = 0);
    bool add_thread(int unused = 0);
    bool destroy();
    int get_num_threads() const;
    int get_thread_idx() const { return thread_idx; }
    bool exists() const { return group != nullptr; }
    bool same_group(const rvd_thread_entity* other) const
    {
        return group != nullptr && other != nullptr && group == other->group;
    }
    rvd_thread_entity* get_current_thread_entity() const;

    rvd_thread_queue* add_queue(rvd_worker* worker, rvd_thread_queue* parent, const char* name,
                                std::uint64_t bank = 0);
    // A non-zero secondary sequence ranks the queue's jobs: smaller numbers run first.
    void add_jobs(rvd_thread_queue* queue, int num_jobs, bool finalise,
                  std::uint32_t secondary_seq = 0);
    void register_synchronized_job(rvd_worker* worker, rvd_thread_queue* queue,
                                   bool group_wide);
    // Works on the pool until every job added so far to the queue (the whole group when
    // null) and its descendants has completed; false when the group has failed. From
    // three threads on, the group's owner works only on jobs under that queue.
    bool process_jobs(rvd_thread_queue* queue, bool waiting_for_sync = false,
                      bool throw_on_failure = true);
    bool synchronize(rvd_thread_queue* queue = nullptr, bool unused1 = false,
                     bool unused2 = false);
    bool terminate(rvd_thread_queue* queue, bool descendants_only, int* exception_code = nullptr);

    // Numbered locks of the group, re-entrant for their holder. Without a group they
    // succeed and do nothing.
    bool acquire_lock(int idx, bool wait = true);
    void release_lock(int idx);
    bool holds_lock(int idx) const;
    // Re-raises a failure recorded by the group: an int code as that int, anything else
    // as the original exception.
    void raise_group_failure() const;
    bool group_failed() const;

protected:
    friend class rvd_thread_env;

private:
    friend class rv_thread_group;
    void release_all_locks();
    // Whether a wait may run jobs outside the queue waited for.
    bool helps_anywhere(const rv_thread_group* g) const;
    // A pool thread's life: jobs from anywhere in the group until the group closes.
    void pool_loop();
    // Runs one job outside the group mutex, recording what it throws.
    void run_job(rvd_worker* worker, int job_idx);

    rvd_thread_env* as_env = nullptr; // this entity when it is a thread environment
    int thread_idx = 0;
    unsigned long thread_id = 0;
    rv_thread_group* group = nullptr;
    bool owns_group = false;
    // What a failing job threw when it was not an int, for handle_exception to record.
    std::exception_ptr pending_failure;
};
