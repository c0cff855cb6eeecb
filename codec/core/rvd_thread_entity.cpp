#include "codec/core/rvd_thread_entity.h"

#include "codec/core/rvd_worker.h"
#include "codec/core/rvd_thread_env.h"
#include "codec/core/rvd_processor.h"
#include "platform/Kernel.h"

#include <boost/atomic.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/locks.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

namespace {

const int max_threads = 64;
const int queues_per_block = 32;
// Threads from which the group's owner leaves foreign jobs to the pool threads.
const int owner_focus_threads = 3;
// An idle thread watches for work this long (in pause instructions, ~10 to 40 us)
// before it sleeps, in groups no larger than the machine.
const int spin_rounds = 1000;

inline void cpu_pause()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Pins the calling thread to the mask's processors that the machine has; a mask naming
// none of them changes nothing.
void apply_affinity(std::uint64_t mask)
{
    if (mask == 0)
        return;
    long configured = sysconf(_SC_NPROCESSORS_CONF);
    cpu_set_t set;
    CPU_ZERO(&set);
    int count = 0;
    for (int i = 0; i < 64 && i < CPU_SETSIZE && i < configured; i++)
        if ((mask >> i) & 1) {
            CPU_SET(i, &set);
            count++;
        }
    if (count > 0)
        pthread_setaffinity_np(pthread_self(), sizeof(set), &set);
}

// Locks are held for a few hundred nanoseconds: a thread that finds one taken tries again
// a little before it sleeps in the kernel, where a wake-up costs tens of microseconds.
const int lock_spins = 200;

inline void relock(boost::unique_lock<boost::mutex>& lk)
{
    for (int i = 0; i < lock_spins; i++) {
        if (lk.try_lock())
            return;
        cpu_pause();
    }
    lk.lock();
}

inline boost::unique_lock<boost::mutex> hold(boost::mutex& m)
{
    boost::unique_lock<boost::mutex> lk(m, boost::defer_lock);
    relock(lk);
    return lk;
}

} // namespace

// A numbered lock: a mutex with its holder and the holder's depth of nesting.
struct rv_thread_lock {
    boost::mutex mutex;
    boost::atomic<const rvd_thread_entity*> holder{nullptr};
    int depth = 0; // touched only by the holder
};

struct rv_thread_slot {
    rvd_thread_entity* entity = nullptr;
    boost::thread thread;
    // The thread's auto-reset event: the flag, guarded by the group mutex, survives a
    // set that comes before the wait.
    boost::condition_variable event;
    boost::atomic<bool> signalled{false}; // set and cleared under the group mutex
    bool idle = false;
    bool acked = false;
};

class alignas(128) rv_thread_group {
public:
    explicit rv_thread_group(int num_locks) : num_locks(num_locks), locks(new rv_thread_lock[num_locks])
    {
        root.name = "ROOT";
        root.group = this;
        root.depth = 0;
    }

    std::uint64_t affinity = 0;
    boost::atomic<int> num_threads{1}; // changed under the mutex
    const int processors = rvd_get_num_processors();
    rv_thread_slot slots[max_threads];
    std::vector<int> idle;
    int starting = 0; // pool threads started that have not yet looked for work
    rvd_thread_queue root;
    std::vector<rvd_thread_queue*> waiting_banks; // top-level queues of later banks
    std::map<std::uint64_t, int> active_banks;    // top-level queues under the root by bank
    std::uint64_t next_bank = 1;
    bool failed = false;
    boost::atomic<bool> failed_hint{false}; // `failed`, readable without the mutex
    int code = -1;
    std::exception_ptr failure;
    bool terminating = false, closing = false;
    int num_acked = 0, acks_needed = 0, terminator = -1;
    boost::mutex mutex;
    int num_locks;
    std::unique_ptr<rv_thread_lock[]> locks;
    std::vector<rvd_thread_queue*> free_queues;
    std::vector<std::unique_ptr<rvd_thread_queue[]>> queue_blocks;

    rvd_thread_queue* new_queue()
    {
        if (free_queues.empty()) {
            queue_blocks.emplace_back(new rvd_thread_queue[queues_per_block]);
            for (int i = queues_per_block - 1; i >= 0; i--)
                free_queues.push_back(&queue_blocks.back()[i]);
        }
        rvd_thread_queue* q = free_queues.back();
        free_queues.pop_back();
        q->reset();
        q->group = this;
        return q;
    }

    void wake(int idx)
    {
        rv_thread_slot& s = slots[idx];
        s.signalled = true;
        s.event.notify_one();
    }

    bool owner_focused() const { return num_threads >= owner_focus_threads; }

    // New jobs wake sleeping pool threads; a focused owner wakes only for its own queue.
    void wake_idle(std::int64_t n)
    {
        for (int idx : idle) {
            if (n <= 0)
                break;
            if (!slots[idx].signalled && (idx != 0 || !owner_focused())) {
                wake(idx);
                n--;
            }
        }
    }

    void wake_all(int except)
    {
        for (int i = 0; i < num_threads; i++)
            if (i != except)
                wake(i);
    }

    // Sleeps on the thread's event; the group mutex is released while asleep.
    void sleep(boost::unique_lock<boost::mutex>& lk, int idx)
    {
        rv_thread_slot& s = slots[idx];
        s.idle = true;
        idle.push_back(idx);
        if (!s.signalled && num_threads <= processors) {
            // Work usually comes back within microseconds: watching the flag a while
            // costs less than falling asleep and being woken through the kernel.
            lk.unlock();
            for (int i = 0; i < spin_rounds && !s.signalled.load(boost::memory_order_relaxed); i++)
                cpu_pause();
            relock(lk);
        }
        while (!s.signalled)
            s.event.wait(lk);
        s.signalled = false;
        s.idle = false;
        idle.erase(std::find(idle.begin(), idle.end(), idx));
    }

    // Counts a completed job of q up the tree; synchronisation points that it reaches
    // move to `due`.
    void complete(rvd_thread_queue* q, std::vector<rv_sync_point>& due)
    {
        q->jobs_completed++;
        q->working--;
        if (q->final_count >= 0 && q->jobs_completed >= q->final_count)
            q->finished = true;
        for (rvd_thread_queue* n = q; n != nullptr; n = n->parent) {
            if (--n->outstanding == 0)
                drained(n, due);
        }
    }

    void drained(rvd_thread_queue* n, std::vector<rv_sync_point>& due)
    {
        due.insert(due.end(), n->sync_points.begin(), n->sync_points.end());
        n->sync_points.clear();
        for (int w : n->waiters)
            wake(w);
        n->waiters.clear();
    }

    // The queue to take a job from within q's subtree (q->runnable > 0): the highest
    // priority first, the queue's own jobs before its children's, idle children first.
    static rvd_thread_queue* descend(rvd_thread_queue* q)
    {
        for (;;) {
            rvd_thread_queue* best = q->own_runnable() > 0 ? q : nullptr;
            std::uint64_t best_pri = best ? q->priority : 0;
            bool best_busy = best ? q->working > 0 : true;
            for (rvd_thread_queue* c = q->first_child; c != nullptr; c = c->next_sibling) {
                if (c->runnable <= 0)
                    continue;
                if (best == nullptr || c->tree_priority > best_pri ||
                    (c->tree_priority == best_pri && best != q && best_busy && c->working == 0)) {
                    best = c;
                    best_pri = c->tree_priority;
                    best_busy = c->working > 0;
                }
            }
            if (best == nullptr || best == q)
                return best;
            q = best;
        }
    }

    // Recomputes the highest priority among runnable jobs for q and its ancestors, so
    // that a queue whose urgent jobs have all started no longer draws threads past
    // siblings with more urgent ones.
    static void refresh_priority(rvd_thread_queue* q)
    {
        for (rvd_thread_queue* n = q; n != nullptr; n = n->parent) {
            std::uint64_t p = n->own_runnable() > 0 ? n->priority : 0;
            for (rvd_thread_queue* c = n->first_child; c != nullptr; c = c->next_sibling)
                if (c->runnable > 0)
                    p = std::max(p, c->tree_priority);
            n->tree_priority = p;
        }
    }

    // Hands out q's next job index (the group mutex held).
    static int start_job(rvd_thread_queue* q)
    {
        const int idx = int(q->jobs_started++);
        for (rvd_thread_queue* a = q; a != nullptr; a = a->parent)
            a->runnable--;
        q->working++;
        refresh_priority(q);
        return idx;
    }

    rvd_thread_queue* find_job(rvd_thread_queue* wanted, bool anywhere = true)
    {
        if (wanted != nullptr && wanted->active && wanted->runnable > 0)
            return descend(wanted);
        if (anywhere && root.runnable > 0)
            return descend(&root);
        return nullptr;
    }

    // Links a top-level queue under the root and lets its held-back jobs run.
    void activate(rvd_thread_queue* q)
    {
        q->parent = &root;
        q->next_sibling = root.first_child;
        if (root.first_child)
            root.first_child->prev_sibling = q;
        root.first_child = q;
        active_banks[q->bank]++;
        std::int64_t runnable = set_active(q);
        for (rvd_thread_queue* n = &root; n != nullptr; n = n->parent) {
            n->outstanding += q->outstanding;
            n->runnable += runnable;
            n->tree_priority = std::max(n->tree_priority, q->tree_priority);
        }
        wake_idle(runnable);
    }

    static std::int64_t set_active(rvd_thread_queue* q)
    {
        q->active = true;
        std::int64_t r = q->own_runnable();
        std::uint64_t p = r > 0 ? q->priority : 0;
        for (rvd_thread_queue* c = q->first_child; c != nullptr; c = c->next_sibling) {
            const std::int64_t cr = set_active(c);
            r += cr;
            if (cr > 0)
                p = std::max(p, c->tree_priority);
        }
        q->runnable = r;
        q->tree_priority = p;
        return r;
    }

    // Activates the oldest waiting bank while fewer banks run than there are threads, or
    // while its index lies below the next bank index; `force` activates them all.
    void activate_banks(bool force)
    {
        while (!waiting_banks.empty() &&
               (force || int(active_banks.size()) < num_threads ||
                waiting_banks.front()->bank < next_bank)) {
            const std::uint64_t bank = waiting_banks.front()->bank;
            std::vector<rvd_thread_queue*> rest;
            for (rvd_thread_queue* q : waiting_banks)
                if (q->bank == bank)
                    activate(q);
                else
                    rest.push_back(q);
            waiting_banks.swap(rest);
            next_bank = std::max(next_bank, bank + 1);
        }
    }

    // Activates the bank holding q (a caller waits on it).
    void activate_bank_of(rvd_thread_queue* q)
    {
        while (q->parent != nullptr)
            q = q->parent;
        if (q == &root || q->active)
            return;
        const std::uint64_t bank = q->bank;
        std::vector<rvd_thread_queue*> rest;
        for (rvd_thread_queue* w : waiting_banks)
            if (w->bank == bank)
                activate(w);
            else
                rest.push_back(w);
        waiting_banks.swap(rest);
        next_bank = std::max(next_bank, bank + 1);
    }

    // Drops every unstarted job and synchronisation point of the subtree.
    static void drop_jobs(rvd_thread_queue* q)
    {
        q->jobs_added = q->jobs_started;
        if (q->final_count >= 0) {
            q->final_count = q->jobs_added;
            if (q->jobs_completed >= q->final_count)
                q->finished = true;
        }
        q->sync_points.clear();
        std::int64_t outstanding = q->jobs_started - q->jobs_completed;
        for (rvd_thread_queue* c = q->first_child; c != nullptr; c = c->next_sibling) {
            drop_jobs(c);
            outstanding += c->outstanding;
        }
        q->runnable = 0;
        q->outstanding = outstanding;
    }

    // Unlinks a drained queue and returns its subtree's records to the free list.
    void release(rvd_thread_queue* q)
    {
        while (q->first_child != nullptr)
            release(q->first_child);
        if (q->parent != nullptr) {
            for (rvd_thread_queue* n = q->parent; n != nullptr; n = n->parent) {
                n->outstanding -= q->outstanding;
                n->runnable -= q->runnable;
            }
            if (q->prev_sibling)
                q->prev_sibling->next_sibling = q->next_sibling;
            else
                q->parent->first_child = q->next_sibling;
            if (q->next_sibling)
                q->next_sibling->prev_sibling = q->prev_sibling;
            if (q->parent == &root) {
                auto it = active_banks.find(q->bank);
                if (it != active_banks.end() && --it->second == 0)
                    active_banks.erase(it);
            }
        } else {
            waiting_banks.erase(std::remove(waiting_banks.begin(), waiting_banks.end(), q),
                                waiting_banks.end());
        }
        q->reset();
        free_queues.push_back(q);
    }
};

void rvd_thread_queue::reset()
{
    depth = 1;
    name.clear();
    bank = 0;
    group = nullptr;
    parent = next_sibling = prev_sibling = first_child = nullptr;
    worker = nullptr;
    jobs_added = jobs_started = jobs_completed = 0;
    final_count = -1;
    working = 0;
    active = true;
    finished = false;
    runnable = outstanding = 0;
    priority = tree_priority = 0;
    sync_points.clear();
    waiters.clear();
}

// rvd_thread_entity -------------------------------------------------------------------------

rvd_thread_entity::rvd_thread_entity() = default;

rvd_thread_entity::~rvd_thread_entity()
{
    if (owns_group)
        destroy();
}

int rvd_thread_entity::get_num_locks() { return group != nullptr ? group->num_locks : 1; }

void rvd_thread_entity::create(std::uint64_t cpu_affinity)
{
    if (group != nullptr)
        return;
    const int n = std::max(1, get_num_locks());
    group = new rv_thread_group(n);
    owns_group = true;
    thread_idx = 0;
    thread_id = GetCurrentThreadId();
    group->slots[0].entity = this;
    group->affinity = cpu_affinity;
    apply_affinity(cpu_affinity);
}

bool rvd_thread_entity::add_thread(int)
{
    if (group == nullptr)
        return false;
    boost::unique_lock<boost::mutex> lk = hold(group->mutex);
    if (group->num_threads >= max_threads || group->closing)
        return false;
    const int idx = group->num_threads;
    rvd_thread_entity* e = nullptr;
    try {
        e = new_instance();
    } catch (...) {
        return false;
    }
    if (e == nullptr)
        return false;
    e->thread_idx = idx;
    e->group = group;
    rv_thread_slot& slot = group->slots[idx];
    slot.entity = e;
    slot.signalled = slot.idle = slot.acked = false;
    rv_thread_group* g = group;
    try {
        slot.thread = boost::thread([g, idx] {
            rvd_thread_entity* self = g->slots[idx].entity;
            {
                boost::unique_lock<boost::mutex> lk2(g->mutex);
                self->thread_id = GetCurrentThreadId();
            }
            apply_affinity(g->affinity);
            try {
                self->pool_loop();
            } catch (...) {
                // Nothing may leave a pool thread; failures were recorded in the group.
            }
        });
    } catch (...) {
        slot.entity = nullptr;
        delete e;
        return false;
    }
    group->num_threads++;
    group->starting++;
    return true;
}

int rvd_thread_entity::get_num_threads() const
{
    if (group == nullptr)
        return 0;
    return group->num_threads.load();
}

rvd_thread_entity* rvd_thread_entity::get_current_thread_entity() const
{
    if (group == nullptr)
        return nullptr;
    const unsigned long id = GetCurrentThreadId();
    boost::unique_lock<boost::mutex> lk = hold(group->mutex);
    for (int i = 0; i < group->num_threads; i++)
        if (group->slots[i].entity != nullptr && group->slots[i].entity->thread_id == id)
            return group->slots[i].entity;
    return nullptr;
}

rvd_thread_queue* rvd_thread_entity::add_queue(rvd_worker* worker, rvd_thread_queue* parent,
                                               const char* name, std::uint64_t bank)
{
    if (group == nullptr)
        return nullptr;
    boost::unique_lock<boost::mutex> lk = hold(group->mutex);
    rvd_thread_queue* q = group->new_queue();
    q->worker = worker;
    q->name = name != nullptr ? name : "";
    if (parent != nullptr) {
        q->depth = parent->depth + 1;
        q->bank = parent->bank;
        q->parent = parent;
        q->active = parent->active;
        q->next_sibling = parent->first_child;
        if (parent->first_child != nullptr)
            parent->first_child->prev_sibling = q;
        parent->first_child = q;
    } else {
        q->bank = bank;
        q->depth = 1;
        if (bank < group->next_bank) {
            group->activate(q);
        } else {
            q->active = false;
            group->waiting_banks.push_back(q);
            group->activate_banks(false);
        }
    }
    return q;
}

void rvd_thread_entity::add_jobs(rvd_thread_queue* queue, int num_jobs, bool finalise,
                                 std::uint32_t secondary_seq)
{
    if (group == nullptr || queue == nullptr)
        return;
    {
        boost::unique_lock<boost::mutex> lk = hold(group->mutex);
        if (!group->failed) {
            const std::int64_t n = std::max(0, num_jobs);
            if (queue->worker == nullptr && n > 0)
                return; // a grouping queue has nobody to run jobs
            queue->jobs_added += n;
            if (finalise) {
                queue->final_count = queue->jobs_added;
                if (queue->jobs_completed >= queue->final_count)
                    queue->finished = true;
            }
            if (secondary_seq != 0)
                queue->priority = (std::uint64_t(1) << 32) - secondary_seq;
            for (rvd_thread_queue* a = queue; a != nullptr; a = a->parent) {
                a->outstanding += n;
                if (queue->active)
                    a->runnable += n;
            }
            group->refresh_priority(queue);
            if (queue->active)
                group->wake_idle(n);
            return;
        }
    }
    raise_group_failure();
}

void rvd_thread_entity::register_synchronized_job(rvd_worker* worker, rvd_thread_queue* queue,
                                                  bool group_wide)
{
    if (group == nullptr || worker == nullptr)
        return;
    release_all_locks();
    boost::unique_lock<boost::mutex> lk = hold(group->mutex);
    rvd_thread_queue* target = queue;
    if (target == nullptr || (group_wide && group->num_threads >= 2))
        target = &group->root;
    if (target->outstanding > 0) {
        target->sync_points.push_back(rv_sync_point{worker});
        return;
    }
    const bool failed = group->failed;
    lk.unlock();
    if (!failed) {
        run_job(worker, 0);
        if (need_sync())
            on_finished(group_failed());
    }
}

void rvd_thread_entity::run_job(rvd_worker* worker, int job_idx)
{
    try {
        worker->do_job(as_env, job_idx);
    } catch (int code) {
        handle_exception(code);
    } catch (...) {
        pending_failure = std::current_exception();
        handle_exception(0);
    }
}

namespace {

// Runs the synchronisation points a completion reached, outside the group mutex.
void run_due(rvd_thread_entity* e, std::vector<rv_sync_point>& due,
             boost::unique_lock<boost::mutex>& lk, void (rvd_thread_entity::*run)(rvd_worker*, int))
{
    if (due.empty())
        return;
    std::vector<rv_sync_point> jobs;
    jobs.swap(due);
    lk.unlock();
    for (const rv_sync_point& s : jobs) {
        (e->*run)(s.worker, 0);
        if (e->need_sync())
            e->on_finished(e->group_failed());
    }
    relock(lk);
}

} // namespace

bool rvd_thread_entity::process_jobs(rvd_thread_queue* queue, bool, bool throw_on_failure)
{
    if (group == nullptr)
        return true;
    rv_thread_group* g = group;
    if (queue == nullptr)
        queue = &g->root;
    std::vector<rv_sync_point> due;
    boost::unique_lock<boost::mutex> lk = hold(g->mutex);
    g->activate_bank_of(queue);
    for (;;) {
        if (g->failed && throw_on_failure) {
            lk.unlock();
            raise_group_failure();
        }
        if (queue->outstanding <= 0)
            return !g->failed;
        rvd_thread_queue* q = g->find_job(queue, helps_anywhere(g));
        if (q != nullptr) {
            const int idx = g->start_job(q);
            lk.unlock();
            run_job(q->worker, idx);
            relock(lk);
            g->complete(q, due);
            run_due(this, due, lk, &rvd_thread_entity::run_job);
            continue;
        }
        queue->waiters.push_back(thread_idx);
        g->sleep(lk, thread_idx);
        auto& w = queue->waiters;
        w.erase(std::remove(w.begin(), w.end(), thread_idx), w.end());
    }
}

// The group's owner drives the caller's pipeline: every job it runs while waiting for one
// queue delays the rows behind it. With enough pool threads it takes other jobs only when
// more are waiting than sleeping or starting pool threads could take.
bool rvd_thread_entity::helps_anywhere(const rv_thread_group* g) const
{
    return thread_idx != 0 || !g->owner_focused() ||
           g->root.runnable > std::int64_t(g->idle.size()) + g->starting;
}

void rvd_thread_entity::pool_loop()
{
    rv_thread_group* g = group;
    std::vector<rv_sync_point> due;
    boost::unique_lock<boost::mutex> lk = hold(g->mutex);
    g->starting--;
    for (;;) {
        if (g->closing)
            return;
        rvd_thread_queue* q = g->find_job(nullptr);
        if (q != nullptr) {
            const int idx = g->start_job(q);
            lk.unlock();
            run_job(q->worker, idx);
            relock(lk);
            g->complete(q, due);
            run_due(this, due, lk, &rvd_thread_entity::run_job);
            continue;
        }
        rv_thread_slot& me = g->slots[thread_idx];
        if (g->terminating && !me.acked) {
            const bool failed = g->failed;
            lk.unlock();
            try {
                do_sync(failed);
            } catch (...) {
            }
            relock(lk);
            me.acked = true;
            if (++g->num_acked >= g->acks_needed && g->terminator >= 0)
                g->wake(g->terminator);
            continue;
        }
        g->sleep(lk, thread_idx);
    }
}

bool rvd_thread_entity::synchronize(rvd_thread_queue* queue, bool, bool)
{
    if (group == nullptr)
        return true;
    release_all_locks();
    process_jobs(queue, true, false);
    return !group_failed();
}

bool rvd_thread_entity::terminate(rvd_thread_queue* queue, bool descendants_only,
                                  int* exception_code)
{
    if (group == nullptr)
        return true;
    rv_thread_group* g = group;
    release_all_locks();
    if (queue == nullptr || queue == &g->root) {
        {
            boost::unique_lock<boost::mutex> lk = hold(g->mutex);
            g->activate_banks(true);
        }
        queue = &g->root;
        descendants_only = true;
    }
    process_jobs(queue, true, false);
    boost::unique_lock<boost::mutex> lk = hold(g->mutex);
    const bool failed = g->failed;
    if (failed && exception_code != nullptr)
        *exception_code = g->code;
    if (descendants_only) {
        while (queue->first_child != nullptr)
            g->release(queue->first_child);
    } else {
        g->release(queue);
    }
    if (g->root.first_child != nullptr || !g->waiting_banks.empty() || g->terminating)
        return !failed;
    // Nothing is left: every thread settles its per-thread state.
    lk.unlock();
    try {
        do_sync(failed);
    } catch (...) {
        // A failure here is the group's, already reported through the result.
    }
    relock(lk);
    g->terminating = true;
    g->terminator = thread_idx;
    g->num_acked = 0;
    g->acks_needed = g->num_threads - 1 - (thread_idx > 0 ? 1 : 0);
    for (int i = 1; i < g->num_threads; i++)
        if (i != thread_idx)
            g->wake(i);
    while (g->num_acked < g->acks_needed)
        g->sleep(lk, thread_idx);
    g->terminating = false;
    g->terminator = -1;
    for (int i = 0; i < g->num_threads; i++)
        g->slots[i].acked = false;
    g->failed = false;
    g->failed_hint.store(false);
    g->code = -1;
    g->failure = nullptr;
    return !failed;
}

bool rvd_thread_entity::destroy()
{
    if (group == nullptr)
        return true;
    if (!owns_group)
        return false;
    rv_thread_group* g = group;
    bool ok;
    {
        boost::unique_lock<boost::mutex> lk = hold(g->mutex);
        ok = !g->failed;
    }
    handle_exception(-1);
    terminate(nullptr, false, nullptr);
    {
        boost::unique_lock<boost::mutex> lk = hold(g->mutex);
        g->closing = true;
        g->wake_all(0);
    }
    for (int i = 1; i < g->num_threads; i++) {
        g->slots[i].thread.join();
        delete g->slots[i].entity;
        g->slots[i].entity = nullptr;
    }
    group = nullptr;
    owns_group = false;
    delete g;
    return ok;
}

void rvd_thread_entity::handle_exception(int code)
{
    release_all_locks();
    if (group == nullptr) {
        pending_failure = nullptr;
        return;
    }
    rv_thread_group* g = group;
    boost::unique_lock<boost::mutex> lk = hold(g->mutex);
    if (!g->failed) {
        g->failed = true;
        g->failed_hint.store(true);
        g->code = code;
        g->failure = pending_failure;
    }
    pending_failure = nullptr;
    g->drop_jobs(&g->root);
    for (rvd_thread_queue* q : g->waiting_banks)
        g->drop_jobs(q);
    // Waiters whose queues drained, and everyone asleep, look again.
    for (int i = 0; i < g->num_threads; i++)
        if (g->slots[i].idle)
            g->wake(i);
}

bool rvd_thread_entity::group_failed() const
{
    if (group == nullptr || !group->failed_hint.load())
        return false;
    boost::unique_lock<boost::mutex> lk = hold(group->mutex);
    return group->failed;
}

void rvd_thread_entity::raise_group_failure() const
{
    // Asked before every block and lock: the common answer comes without the mutex.
    if (group == nullptr || !group->failed_hint.load())
        return;
    int code;
    std::exception_ptr failure;
    {
        boost::unique_lock<boost::mutex> lk = hold(group->mutex);
        if (!group->failed)
            return;
        code = group->code;
        failure = group->failure;
    }
    if (failure)
        std::rethrow_exception(failure);
    throw code;
}

bool rvd_thread_entity::acquire_lock(int idx, bool wait)
{
    if (group == nullptr || idx < 0 || idx >= group->num_locks)
        return true;
    rv_thread_lock& l = group->locks[idx];
    if (l.holder.load() == this) {
        l.depth++;
        return true;
    }
    if (!l.mutex.try_lock()) {
        if (!wait)
            return false;
        int i = 0;
        for (; i < lock_spins && !l.mutex.try_lock(); i++)
            cpu_pause();
        if (i == lock_spins)
            l.mutex.lock();
    }
    l.holder.store(this);
    l.depth = 1;
    return true;
}

void rvd_thread_entity::release_lock(int idx)
{
    if (group == nullptr || idx < 0 || idx >= group->num_locks)
        return;
    rv_thread_lock& l = group->locks[idx];
    if (l.holder.load() != this)
        return;
    if (--l.depth > 0)
        return;
    l.holder.store(nullptr);
    l.mutex.unlock();
}

bool rvd_thread_entity::holds_lock(int idx) const
{
    if (group == nullptr || idx < 0 || idx >= group->num_locks)
        return false;
    return group->locks[idx].holder.load() == this;
}

void rvd_thread_entity::release_all_locks()
{
    if (group == nullptr)
        return;
    for (int i = 0; i < group->num_locks; i++) {
        rv_thread_lock& l = group->locks[i];
        if (l.holder.load() == this) {
            l.depth = 0;
            l.holder.store(nullptr);
            l.mutex.unlock();
        }
    }
}
