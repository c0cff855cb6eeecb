// The worker-thread pool from outside: every job of a tree of queues runs exactly once
// whatever the thread count, waits and synchronisation points cover what was added
// before them, failures reach the waiting thread as what was thrown, threads come and go
// with the group, and the numbered locks behave as re-entrant locks. Run under the thread
// sanitizer too; no scheduling order is checked.
#include "codec/coding/rvd_worker.h"
#include "codec/core/rvd_thread_env.h"
#include "tests/codec/support/codec_messages.h"

#include <gtest/gtest.h>

#include <boost/atomic.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include <dirent.h>
#include <pthread.h>
#include <sched.h>

#include <functional>
#include <memory>
#include <new>
#include <random>
#include <vector>

namespace {

using codec_test::codec_error;

int count_process_threads()
{
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

// A job that runs a function; `done` lets a caller outside the pool wait for it.
struct call_worker : rvd_worker {
    std::function<void(rvd_thread_env*)> fn;
    boost::mutex m;
    boost::condition_variable cv;
    int done = 0;
    explicit call_worker(std::function<void(rvd_thread_env*)> f) : fn(std::move(f)) {}
    void do_job(rvd_thread_env* env, int) override
    {
        fn(env);
        boost::unique_lock<boost::mutex> lk(m);
        done++;
        cv.notify_all();
    }
};

// Runs fn on a pool thread: the owner waits outside the pool until the job has run, so it
// cannot take the job itself.
void run_on_pool(rvd_thread_env& owner, std::function<void(rvd_thread_env*)> fn)
{
    call_worker w(std::move(fn));
    rvd_thread_queue* q = owner.add_queue(&w, nullptr, "probe");
    owner.add_jobs(q, 1, true);
    {
        boost::unique_lock<boost::mutex> lk(w.m);
        while (w.done == 0)
            w.cv.wait(lk);
    }
    // Nothing is left to steal; this only waits for the job's end. Terminating would
    // release the owner's locks.
    owner.process_jobs(q, false, false);
}

// One queue of the contract test: how often each job index ran, what was added (after
// add_jobs returned) and what completed.
struct counting_worker : rvd_worker {
    std::unique_ptr<boost::atomic<int>[]> runs;
    int capacity = 0;
    boost::atomic<long> added{0}, completed{0}, foreign{0}, overflow{0};
    unsigned long owner_thread = 0;
    void do_job(rvd_thread_env*, int idx) override
    {
        if (idx < 0 || idx >= capacity)
            overflow++;
        else
            runs[idx]++;
        if (pthread_self() != owner_thread)
            foreign++;
        completed++;
    }
};

struct tree_node {
    rvd_thread_queue* queue = nullptr;
    counting_worker* worker = nullptr; // null for a grouping queue
    std::vector<int> subtree;          // node indices, itself included
};

long subtree_sum(const std::vector<tree_node>& nodes, int i, bool completed)
{
    long n = 0;
    for (int k : nodes[size_t(i)].subtree)
        if (counting_worker* w = nodes[size_t(k)].worker)
            n += completed ? w->completed.load() : w->added.load();
    return n;
}

// Checks, when it runs, that the subtree had completed what was added before it was set.
struct sync_checker : rvd_worker {
    const std::vector<tree_node>* nodes = nullptr;
    int node = 0;
    long covered = 0;
    boost::atomic<int> runs{0}, early{0};
    void do_job(rvd_thread_env*, int) override
    {
        if (subtree_sum(*nodes, node, true) < covered)
            early++;
        runs++;
    }
};

struct batch {
    int node, jobs;
    unsigned seq;
    bool wait, sync;
};

void run_contract(int num_threads)
{
    SCOPED_TRACE(num_threads);
    rvd_thread_env owner;
    owner.create();
    for (int i = 1; i < num_threads; i++)
        ASSERT_TRUE(owner.add_thread());

    // 60 queues three deep: 12 top-level ones in banks 0 to 3 (every fourth a pure
    // grouping queue), 24 children and 24 grandchildren.
    std::vector<tree_node> nodes;
    std::vector<std::unique_ptr<counting_worker>> workers;
    std::vector<int> parent_of;
    auto make = [&](int parent, bool grouping, std::uint64_t bank) {
        tree_node n;
        if (!grouping) {
            workers.emplace_back(new counting_worker);
            workers.back()->owner_thread = pthread_self();
            n.worker = workers.back().get();
        }
        n.queue = owner.add_queue(n.worker, parent < 0 ? nullptr : nodes[size_t(parent)].queue,
                                  "test", bank);
        nodes.push_back(n);
        parent_of.push_back(parent);
        return int(nodes.size()) - 1;
    };
    for (int t = 0; t < 12; t++) {
        int top = make(-1, t % 4 == 3, std::uint64_t(t % 4));
        if (t % 2 == 0)
            for (int c = 0; c < 4; c++) {
                int child = make(top, false, 0);
                if (c < 2)
                    for (int g = 0; g < 2; g++)
                        make(child, false, 0);
            }
    }
    ASSERT_EQ(nodes.size(), 60u);
    for (int i = 0; i < int(nodes.size()); i++)
        for (int k = i; k >= 0; k = parent_of[size_t(k)])
            nodes[size_t(k)].subtree.push_back(i);

    // 10^5 jobs in random batches, planned first so each queue knows its total.
    const int num_adders = 6;
    std::mt19937 rng(unsigned(num_threads) * 7919u);
    std::vector<std::vector<batch>> plans(num_adders);
    std::vector<int> worker_nodes;
    for (int i = 0; i < int(nodes.size()); i++)
        if (nodes[size_t(i)].worker)
            worker_nodes.push_back(i);
    int total = 0;
    while (total < 100000) {
        batch b;
        b.node = worker_nodes[rng() % worker_nodes.size()];
        b.jobs = std::min(int(1 + rng() % 60), 100000 - total);
        b.seq = rng() % 3 == 0 ? 0u : unsigned(1 + rng() % 100);
        b.wait = rng() % 25 == 0;
        b.sync = rng() % 40 == 0;
        total += b.jobs;
        nodes[size_t(b.node)].worker->capacity += b.jobs;
        plans[rng() % num_adders].push_back(b);
    }
    for (auto& w : workers) {
        w->runs.reset(new boost::atomic<int>[size_t(w->capacity)]);
        for (int k = 0; k < w->capacity; k++)
            w->runs[k] = 0;
    }
    std::vector<std::unique_ptr<sync_checker>> checkers;
    for (const auto& plan : plans)
        for (const batch& b : plan)
            if (b.sync) {
                checkers.emplace_back(new sync_checker);
                checkers.back()->nodes = &nodes;
            }
    boost::atomic<int> next_checker{0}, late_waits{0};

    // The adders are jobs themselves, so they may run on any thread of the group.
    call_worker adders([&](rvd_thread_env*) {});
    boost::atomic<int> next_plan{0};
    adders.fn = [&](rvd_thread_env* env) {
        for (const batch& b : plans[size_t(next_plan++)]) {
            tree_node& n = nodes[size_t(b.node)];
            env->add_jobs(n.queue, b.jobs, false, b.seq);
            n.worker->added += b.jobs;
            if (b.sync) {
                sync_checker* c = checkers[size_t(next_checker++)].get();
                c->node = b.node;
                c->covered = subtree_sum(nodes, b.node, false);
                env->register_synchronized_job(c, n.queue, false);
            }
            if (b.wait) {
                const long before = subtree_sum(nodes, b.node, false);
                env->process_jobs(n.queue, false, true);
                if (subtree_sum(nodes, b.node, true) < before)
                    late_waits++;
            }
        }
    };
    rvd_thread_queue* adder_queue = owner.add_queue(&adders, nullptr, "adders");
    owner.add_jobs(adder_queue, num_adders, true);
    EXPECT_TRUE(owner.process_jobs(adder_queue, false, true));
    EXPECT_TRUE(owner.terminate(nullptr, false));

    long runs_total = 0, wrong = 0, foreign = 0;
    for (auto& w : workers) {
        EXPECT_EQ(w->overflow, 0);
        EXPECT_EQ(w->added, w->capacity);
        for (int k = 0; k < w->capacity; k++) {
            runs_total += w->runs[k];
            wrong += w->runs[k] != 1;
        }
        foreign += w->foreign;
    }
    EXPECT_EQ(runs_total, 100000);
    EXPECT_EQ(wrong, 0) << "jobs that did not run exactly once";
    EXPECT_EQ(late_waits, 0) << "process_jobs returned before its jobs completed";
    for (auto& c : checkers) {
        EXPECT_EQ(c->runs, 1);
        EXPECT_EQ(c->early, 0);
    }
    if (num_threads == 1) {
        EXPECT_EQ(foreign, 0) << "the owner alone runs every job";
    }

    // A queue finalised with no jobs is finished at once.
    counting_worker idle;
    rvd_thread_queue* empty = owner.add_queue(&idle, nullptr, "empty");
    owner.add_jobs(empty, 0, true);
    EXPECT_TRUE(empty->is_finished());
    EXPECT_TRUE(owner.terminate(empty, false));
}

TEST(ThreadPoolConcurrency, EveryJobRunsOnceAndWaitsCoverWhatWasAdded)
{
    for (int threads : {1, 2, 4, 8})
        run_contract(threads);
}

// How a failing job reaches the others: the recorded code, or the original exception.
struct failure_row {
    const char* what;
    std::function<void()> raise;
    std::function<void(std::function<void()>)> expect_thrown;
};

TEST(ThreadPoolConcurrency, FailuresReachTheWaitingThreadAsThrown)
{
    const std::string codec_text = codec_test::error_text([] {
        rvd_error e("Ravade Core Error:\n");
        e << "failure on a pool thread " << 42;
    });
    ASSERT_FALSE(codec_text.empty());
    const failure_row rows[] = {
        {"int 7", [] { throw 7; },
         [](std::function<void()> f) {
             try {
                 f();
                 ADD_FAILURE() << "nothing thrown";
             } catch (int code) {
                 EXPECT_EQ(code, 7);
             }
         }},
        {"codec error",
         [] {
             rvd_error e("Ravade Core Error:\n");
             e << "failure on a pool thread " << 42;
         },
         [&](std::function<void()> f) {
             try {
                 f();
                 ADD_FAILURE() << "nothing thrown";
             } catch (const codec_error& e) {
                 EXPECT_EQ(std::string(e.what()), codec_text);
             }
         }},
        {"bad_alloc", [] { throw std::bad_alloc(); },
         [](std::function<void()> f) { EXPECT_THROW(f(), std::bad_alloc); }},
    };
    for (const failure_row& row : rows) {
        SCOPED_TRACE(row.what);
        rvd_thread_env owner;
        owner.create();
        for (int i = 1; i < 4; i++)
            ASSERT_TRUE(owner.add_thread());
        call_worker failing([&](rvd_thread_env*) { row.raise(); });
        rvd_thread_queue* q = owner.add_queue(&failing, nullptr, "failing");
        owner.add_jobs(q, 1, true);
        row.expect_thrown([&] { owner.process_jobs(q, false, true); });
        rvd_thread_queue* other = owner.add_queue(&failing, nullptr, "other");
        row.expect_thrown([&] { owner.add_jobs(other, 1, false); });
        int code = -1;
        EXPECT_FALSE(owner.terminate(nullptr, false, &code));
        EXPECT_EQ(code, std::string(row.what) == "int 7" ? 7 : 0);
        // The record is cleared: new queues run.
        counting_worker after;
        after.capacity = 5;
        after.runs.reset(new boost::atomic<int>[5]);
        for (int k = 0; k < 5; k++)
            after.runs[k] = 0;
        rvd_thread_queue* q2 = owner.add_queue(&after, nullptr, "after");
        owner.add_jobs(q2, 5, true);
        EXPECT_TRUE(owner.process_jobs(q2, false, true));
        EXPECT_EQ(after.completed, 5);
        EXPECT_TRUE(owner.terminate(nullptr, false));
        // A failure left in place makes destroy report it.
        rvd_thread_queue* q3 = owner.add_queue(&failing, nullptr, "again");
        owner.add_jobs(q3, 1, true);
        EXPECT_FALSE(owner.process_jobs(q3, false, false));
        EXPECT_FALSE(owner.destroy());
    }
}

TEST(ThreadPoolConcurrency, GroupLifeThreadsAffinityAndLocks)
{
    // Without a group every operation is a no-op.
    rvd_thread_entity alone;
    counting_worker w;
    EXPECT_EQ(alone.add_queue(&w, nullptr, "x"), nullptr);
    EXPECT_EQ(alone.get_num_threads(), 0);
    EXPECT_FALSE(alone.add_thread());
    EXPECT_EQ(alone.get_current_thread_entity(), nullptr);
    alone.add_jobs(nullptr, 3, true);
    EXPECT_TRUE(alone.process_jobs(nullptr));
    EXPECT_TRUE(alone.synchronize());
    EXPECT_TRUE(alone.terminate(nullptr, false));
    EXPECT_TRUE(alone.acquire_lock(0));
    EXPECT_TRUE(alone.destroy());
    EXPECT_EQ(alone.get_num_locks(), 1);

    // Up to 64 threads, all gone after destroy and after the owner's destructor.
    const int before = count_process_threads();
    {
        rvd_thread_env owner;
        owner.create();
        for (int i = 1; i < 64; i++)
            ASSERT_TRUE(owner.add_thread()) << i;
        EXPECT_FALSE(owner.add_thread());
        EXPECT_EQ(owner.get_num_threads(), 64);
        EXPECT_EQ(count_process_threads(), before + 63);
        EXPECT_TRUE(owner.destroy());
        EXPECT_EQ(count_process_threads(), before);
        owner.create();
        owner.add_thread();
        owner.add_thread();
    }
    EXPECT_EQ(count_process_threads(), before);

    // A mask naming processor 0 pins the owner and every pool thread there.
    cpu_set_t saved;
    ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof(saved), &saved), 0);
    if (CPU_ISSET(0, &saved)) {
        rvd_thread_env owner;
        owner.create(1);
        for (int i = 1; i < 4; i++)
            owner.add_thread();
        boost::mutex m;
        boost::condition_variable cv;
        int arrived = 0, pinned = 0;
        call_worker probe([&](rvd_thread_env*) {
            cpu_set_t s;
            pthread_getaffinity_np(pthread_self(), sizeof(s), &s);
            boost::unique_lock<boost::mutex> lk(m);
            pinned += CPU_COUNT(&s) == 1 && CPU_ISSET(0, &s);
            // Held until all four have one, so that each thread takes exactly one.
            if (++arrived == 4)
                cv.notify_all();
            while (arrived < 4)
                cv.wait(lk);
        });
        rvd_thread_queue* q = owner.add_queue(&probe, nullptr, "pin");
        owner.add_jobs(q, 4, true);
        owner.process_jobs(q);
        EXPECT_EQ(pinned, 4);
        owner.destroy();
        pthread_setaffinity_np(pthread_self(), sizeof(saved), &saved);
    }

    // Locks: re-entrant for their holder; handle_exception releases every level.
    rvd_thread_env owner;
    owner.create();
    owner.add_thread();
    auto other_gets = [&](int idx) {
        bool got = false;
        run_on_pool(owner, [&](rvd_thread_env* env) {
            got = env->acquire_lock(idx, false);
            if (got)
                env->release_lock(idx);
        });
        return got;
    };
    ASSERT_TRUE(owner.acquire_lock(0));
    ASSERT_TRUE(owner.acquire_lock(0));
    EXPECT_TRUE(owner.holds_lock(0));
    owner.release_lock(0);
    EXPECT_FALSE(other_gets(0));
    owner.release_lock(0);
    EXPECT_TRUE(other_gets(0));
    for (int i = 0; i < 10; i++) {
        owner.acquire_lock(i);
        owner.acquire_lock(i);
    }
    owner.handle_exception(3);
    for (int i = 0; i < 10; i++)
        EXPECT_FALSE(owner.holds_lock(i));
    int code = 0;
    EXPECT_FALSE(owner.terminate(nullptr, false, &code));
    EXPECT_EQ(code, 3);
    for (int i = 0; i < 10; i++)
        EXPECT_TRUE(other_gets(i)) << i;
}

// A group of environments whose added threads are plain entities.
struct mixed_env : rvd_thread_env {
    rvd_thread_entity* new_instance() override { return new rvd_thread_entity; }
};

TEST(ThreadPoolConcurrency, EnvironmentsCountTheirLocksAndFailFast)
{
    rvd_thread_env fresh;
    EXPECT_FALSE(fresh.need_sync());
    EXPECT_EQ(fresh.get_num_locks(), 10);

    mixed_env owner;
    owner.create();
    owner.add_thread();
    int plain_locks = 0;
    bool plain_env = true;
    run_on_pool(owner, [&](rvd_thread_env* env) {
        plain_env = env != nullptr;
        plain_locks = owner.get_current_thread_entity()->get_num_locks();
    });
    EXPECT_FALSE(plain_env);
    EXPECT_EQ(plain_locks, 10);

    // A store's refill in a failed group throws at once, even while lock 0 is held.
    rvd_thread_env group;
    group.create();
    group.add_thread();
    rvd_thread_env* pool_env = nullptr;
    run_on_pool(group, [&](rvd_thread_env* env) { pool_env = env; });
    ASSERT_NE(pool_env, nullptr);
    rv_buffer_server server;
    rv_thread_buffer_store& store = pool_env->get_state()->store;
    store.attach(&server);
    group.handle_exception(9);
    ASSERT_TRUE(group.acquire_lock(0));
    int thrown = 0;
    boost::thread t([&] {
        try {
            store.augment(false);
        } catch (int code) {
            thrown = code;
        }
    });
    t.join();
    EXPECT_EQ(thrown, 9);
    EXPECT_EQ(server.get_full_groups(), 0);
    group.release_lock(0);
    store.detach();
    EXPECT_FALSE(group.destroy());
}

} // namespace
