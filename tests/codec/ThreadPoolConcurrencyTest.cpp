// The worker-thread pool from outside: every job of a tree of queues runs exactly once
// whatever the thread count, waits and synchronisation points cover what was added
// before them, failures reach the waiting thread as thrown, threads come and go with the
// group, and the numbered locks are re-entrant. Run under the thread sanitizer too; no
// scheduling order is checked.
#include "codec/core/rvd_worker.h"
#include "codec/core/rvd_thread_env.h"
#include "tests/codec/support/codec_messages.h"

#include <gtest/gtest.h>

#include <boost/atomic.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/thread.hpp>

#include <pthread.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>

namespace {

// Threads of this process. One thread is started and joined first: the thread sanitizer
// starts a background thread of its own at the process's first thread creation.
int process_threads()
{
    static const bool warmed = [] {
        boost::thread([] {}).join();
        return true;
    }();
    (void)warmed;
    auto d = std::filesystem::directory_iterator("/proc/self/task");
    return int(std::distance(begin(d), end(d)));
}

// The count once it reaches `expected`, or after 5 s: a joined thread's task can stay listed
// for a moment after the join returns.
int threads_settled_at(int expected)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int n = process_threads();
    while (n != expected && std::chrono::steady_clock::now() < end) {
        boost::this_thread::yield();
        n = process_threads();
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

// Runs fn on a pool thread: the owner waits outside the pool until the job has run, then
// only for its end (terminating would release the owner's locks).
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
    owner.process_jobs(q, false, false);
}

// One queue of the contract test: runs per job index, jobs added (counted after add_jobs
// returned) and completed, jobs run off the owner's thread.
struct counting_worker : rvd_worker {
    std::vector<boost::atomic<int>> runs;
    boost::atomic<long> added{0}, completed{0}, foreign{0};
    pthread_t owner = pthread_self();
    explicit counting_worker(int capacity) : runs(size_t(capacity))
    {
        for (auto& r : runs)
            r = 0;
    }
    void do_job(rvd_thread_env*, int idx) override
    {
        runs.at(size_t(idx))++;
        foreign += !pthread_equal(pthread_self(), owner);
        completed++;
    }
};

struct tree_node {
    rvd_thread_queue* queue;
    counting_worker* worker; // null for a grouping queue
    std::vector<int> subtree;
};

long subtree_sum(const std::vector<tree_node>& nodes, int i, bool completed)
{
    long n = 0;
    for (int k : nodes[size_t(i)].subtree)
        if (counting_worker* w = nodes[size_t(k)].worker)
            n += completed ? w->completed : w->added;
    return n;
}

// When it runs, the subtree must have completed what was added before it was registered.
struct sync_checker : rvd_worker {
    const std::vector<tree_node>* nodes;
    int node = 0;
    long covered = 0;
    boost::atomic<int> runs{0}, early{0};
    void do_job(rvd_thread_env*, int) override
    {
        early += subtree_sum(*nodes, node, true) < covered;
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
    // 10^5 jobs in random batches for 60 queues three deep (12 top-level ones in banks 0
    // to 3, every fourth a pure grouping queue), planned first so each queue knows its
    // total; six adders, themselves jobs, add them, sometimes wait or register a check.
    std::mt19937 rng{unsigned(num_threads)};
    std::vector<int> parent, capacity;
    for (int t = 0; t < 12; t++) {
        const int top = int(parent.size());
        parent.push_back(-1);
        for (int c = 0; t % 2 == 0 && c < 4; c++) {
            const int child = int(parent.size());
            parent.push_back(top);
            for (int g = 0; c < 2 && g < 2; g++)
                parent.push_back(child);
        }
    }
    ASSERT_EQ(parent.size(), 60u);
    auto grouping = [&](int i) { return parent[size_t(i)] < 0 && (i % 3) == 2; };
    std::vector<std::vector<batch>> plans(6);
    capacity.assign(parent.size(), 0);
    int checks = 0;
    for (int total = 0; total < 100000;) {
        batch b{int(rng() % 60), 0, rng() % 3 ? unsigned(1 + rng() % 100) : 0u,
                rng() % 25 == 0, rng() % 40 == 0};
        if (grouping(b.node))
            continue;
        b.jobs = std::min(int(1 + rng() % 60), 100000 - total);
        total += b.jobs;
        capacity[size_t(b.node)] += b.jobs;
        checks += b.sync;
        plans[rng() % 6].push_back(b);
    }
    std::vector<std::unique_ptr<counting_worker>> workers;
    std::vector<tree_node> nodes;
    for (int i = 0; i < 60; i++) {
        counting_worker* w = nullptr;
        if (!grouping(i)) {
            workers.emplace_back(new counting_worker(capacity[size_t(i)]));
            w = workers.back().get();
        }
        const int p = parent[size_t(i)];
        nodes.push_back({owner.add_queue(w, p < 0 ? nullptr : nodes[size_t(p)].queue, "test",
                                         std::uint64_t(i % 4)),
                         w, {}});
        for (int k = i; k >= 0; k = parent[size_t(k)])
            nodes[size_t(k)].subtree.push_back(i);
    }
    std::vector<sync_checker> checkers(static_cast<size_t>(checks));
    boost::atomic<int> next_plan{0}, next_checker{0}, late_waits{0};
    call_worker adders([&](rvd_thread_env* env) {
        for (const batch& b : plans[size_t(next_plan++)]) {
            tree_node& n = nodes[size_t(b.node)];
            env->add_jobs(n.queue, b.jobs, false, b.seq);
            n.worker->added += b.jobs;
            if (b.sync) {
                sync_checker& c = checkers[size_t(next_checker++)];
                c.nodes = &nodes;
                c.node = b.node;
                c.covered = subtree_sum(nodes, b.node, false);
                env->register_synchronized_job(&c, n.queue, false);
            }
            if (b.wait) {
                const long before = subtree_sum(nodes, b.node, false);
                env->process_jobs(n.queue, false, true);
                late_waits += subtree_sum(nodes, b.node, true) < before;
            }
        }
    });
    rvd_thread_queue* adder_queue = owner.add_queue(&adders, nullptr, "adders");
    owner.add_jobs(adder_queue, 6, true);
    EXPECT_TRUE(owner.process_jobs(adder_queue, false, true));
    EXPECT_TRUE(owner.terminate(nullptr, false));

    long runs = 0, wrong = 0, foreign = 0;
    for (auto& w : workers) {
        for (auto& r : w->runs) {
            runs += r;
            wrong += r != 1;
        }
        foreign += w->foreign;
    }
    EXPECT_EQ(runs, 100000);
    EXPECT_EQ(wrong, 0) << "jobs that did not run exactly once";
    EXPECT_EQ(late_waits, 0) << "process_jobs returned before its jobs completed";
    for (sync_checker& c : checkers)
        EXPECT_TRUE(c.runs == 1 && c.early == 0);
    if (num_threads == 1) {
        EXPECT_EQ(foreign, 0) << "the owner alone runs every job";
    }
    // A queue finalised with no jobs is finished at once.
    rvd_thread_queue* empty = owner.add_queue(workers[0].get(), nullptr, "empty");
    owner.add_jobs(empty, 0, true);
    EXPECT_TRUE(empty->is_finished());
    EXPECT_TRUE(owner.terminate(empty, false));
}

TEST(ThreadPoolConcurrency, EveryJobRunsOnceAndWaitsCoverWhatWasAdded)
{
    for (int threads : {1, 2, 4, 8})
        run_contract(threads);
}

// A chain of short jobs, each adding the next, so that at most one waits at a time; notes
// the jobs the owner ran while it waited for another queue.
struct chain_worker : rvd_worker {
    explicit chain_worker(int length) : length(length) {}
    const int length;
    rvd_thread_queue* queue = nullptr;
    pthread_t owner = pthread_self();
    boost::atomic<bool> owner_waiting{false};
    boost::atomic<long> completed{0}, run_by_waiting_owner{0};
    boost::mutex m;
    boost::condition_variable cv;
    bool done = false;
    void do_job(rvd_thread_env* env, int idx) override
    {
        if (owner_waiting && pthread_equal(pthread_self(), owner))
            run_by_waiting_owner++;
        completed++;
        if (idx + 1 < length) {
            env->add_jobs(queue, 1, idx + 2 == length);
            return;
        }
        boost::unique_lock<boost::mutex> lk(m);
        done = true;
        cv.notify_all();
    }
};

// Holds a pool thread until the chain has ended.
struct holding_worker : rvd_worker {
    chain_worker* chain = nullptr;
    bool started = false; // guarded by the chain's mutex
    void do_job(rvd_thread_env*, int) override
    {
        boost::unique_lock<boost::mutex> lk(chain->m);
        started = true;
        chain->cv.notify_all();
        while (!chain->done)
            chain->cv.wait(lk);
    }
};

// The owner waiting for one queue takes another queue's jobs only when more are waiting
// than sleeping or starting pool threads could take (it drives the caller's rows, which
// such a job would delay): with one job at a time and pool threads free, never; with its
// one pool thread held, every one.
TEST(ThreadPoolConcurrency, OwnerWaitingOnAQueueLeavesOtherJobsToSleepingPoolThreads)
{
    const int length = 2000;
    for (int threads : {2, 4, 8}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        chain_worker chain(length);
        holding_worker holder;
        holder.chain = &chain;
        {
            rvd_thread_env env;
            env.create();
            for (int i = 1; i < threads; i++)
                ASSERT_TRUE(env.add_thread());
            rvd_thread_queue* held = env.add_queue(&holder, nullptr, "held");
            chain.queue = env.add_queue(&chain, nullptr, "chain");
            // On a pool thread: the owner is outside the pool until the holder has started.
            env.add_jobs(held, 1, true);
            {
                boost::unique_lock<boost::mutex> lk(chain.m);
                while (!holder.started)
                    chain.cv.wait(lk);
            }
            chain.owner_waiting = true;
            env.add_jobs(chain.queue, 1, false);
            EXPECT_TRUE(env.process_jobs(held, false, true));
            chain.owner_waiting = false;
            EXPECT_TRUE(env.process_jobs(chain.queue, false, true));
        }
        EXPECT_EQ(chain.completed.load(), length);
        if (threads == 2) {
            EXPECT_EQ(chain.run_by_waiting_owner.load(), length);
        } else {
            EXPECT_EQ(chain.run_by_waiting_owner.load(), 0);
        }
    }
}

TEST(ThreadPoolConcurrency, FailuresReachTheWaitingThreadAsThrown)
{
    auto codec_failure = [] {
        rvd_error e("Ravade Core Error:\n");
        e << "failure on a pool thread " << 42;
    };
    const std::string codec_text = codec_test::error_text(codec_failure);
    // What a job throws, and the text of what the waiting thread must catch.
    const std::pair<std::function<void()>, std::string> rows[] = {
        {[] { throw 7; }, "int 7"},
        {codec_failure, codec_text},
        {[] { throw std::bad_alloc(); }, std::bad_alloc().what()},
    };
    auto caught = [](const std::function<void()>& f) -> std::string {
        try {
            f();
        } catch (int code) {
            return "int " + std::to_string(code);
        } catch (const codec_test::codec_error& e) {
            return e.what();
        } catch (const std::bad_alloc& e) {
            return e.what();
        }
        return "nothing";
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.second);
        rvd_thread_env owner;
        owner.create();
        for (int i = 1; i < 4; i++)
            owner.add_thread();
        call_worker failing([&](rvd_thread_env*) { row.first(); });
        rvd_thread_queue* q = owner.add_queue(&failing, nullptr, "failing");
        owner.add_jobs(q, 1, true);
        EXPECT_EQ(caught([&] { owner.process_jobs(q, false, true); }), row.second);
        rvd_thread_queue* other = owner.add_queue(&failing, nullptr, "other");
        EXPECT_EQ(caught([&] { owner.add_jobs(other, 1, false); }), row.second);
        int code = -1;
        EXPECT_FALSE(owner.terminate(nullptr, false, &code));
        EXPECT_EQ(code, row.second == "int 7" ? 7 : 0);
        // The record is cleared: new queues run.
        counting_worker after(5);
        rvd_thread_queue* q2 = owner.add_queue(&after, nullptr, "after");
        owner.add_jobs(q2, 5, true);
        EXPECT_TRUE(owner.process_jobs(q2, false, true));
        EXPECT_EQ(after.completed, 5);
        // A failure left in place makes destroy report it.
        rvd_thread_queue* q3 = owner.add_queue(&failing, nullptr, "again");
        owner.add_jobs(q3, 1, true);
        EXPECT_FALSE(owner.process_jobs(q3, false, false));
        EXPECT_FALSE(owner.destroy());
    }
}

TEST(ThreadPoolConcurrency, GroupLifeThreadsAffinityAndLocks)
{
    rvd_thread_entity alone; // without a group every operation is a no-op
    EXPECT_EQ(alone.add_queue(nullptr, nullptr, "x"), nullptr);
    EXPECT_EQ(alone.get_num_threads(), 0);
    EXPECT_FALSE(alone.add_thread());
    EXPECT_EQ(alone.get_current_thread_entity(), nullptr);
    EXPECT_TRUE(alone.process_jobs(nullptr) && alone.synchronize() &&
                alone.terminate(nullptr, false) && alone.acquire_lock(0) && alone.destroy());
    EXPECT_EQ(alone.get_num_locks(), 1);

    const int before = process_threads();
    {
        rvd_thread_env owner;
        owner.create();
        for (int i = 1; i < 64; i++)
            ASSERT_TRUE(owner.add_thread()) << i;
        EXPECT_FALSE(owner.add_thread());
        EXPECT_EQ(process_threads(), before + 63);
        EXPECT_TRUE(owner.destroy());
        EXPECT_EQ(threads_settled_at(before), before);
        owner.create();
        owner.add_thread();
    }
    EXPECT_EQ(threads_settled_at(before), before) << "after the owner's destructor";

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
            // Held until all four have one, so that every thread takes exactly one.
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

    rvd_thread_env owner;
    owner.create();
    owner.add_thread();
    auto other_gets = [&](int idx) {
        bool got = false;
        run_on_pool(owner, [&](rvd_thread_env* env) {
            if ((got = env->acquire_lock(idx, false)))
                env->release_lock(idx);
        });
        return got;
    };
    ASSERT_TRUE(owner.acquire_lock(0) && owner.acquire_lock(0));
    owner.release_lock(0);
    EXPECT_FALSE(other_gets(0)) << "a lock taken twice is held after one release";
    owner.release_lock(0);
    EXPECT_TRUE(other_gets(0));
    for (int i = 0; i < 10; i++)
        EXPECT_TRUE(owner.acquire_lock(i) && owner.acquire_lock(i));
    owner.handle_exception(3);
    int code = 0;
    EXPECT_FALSE(owner.terminate(nullptr, false, &code));
    EXPECT_EQ(code, 3);
    for (int i = 0; i < 10; i++)
        EXPECT_TRUE(other_gets(i)) << "lock " << i << " after handle_exception";
}

// A group of environments whose added threads are plain entities.
struct mixed_env : rvd_thread_env {
    rvd_thread_entity* new_instance() override { return new rvd_thread_entity; }
};

TEST(ThreadPoolConcurrency, EnvironmentsCountTheirLocksAndFailFast)
{
    mixed_env owner;
    EXPECT_FALSE(owner.need_sync());
    EXPECT_EQ(owner.get_num_locks(), 10);
    owner.create();
    owner.add_thread();
    int plain_locks = 0;
    run_on_pool(owner, [&](rvd_thread_env* env) {
        EXPECT_EQ(env, nullptr);
        plain_locks = owner.get_current_thread_entity()->get_num_locks();
    });
    EXPECT_EQ(plain_locks, 10) << "a plain entity counts its group's locks";

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
    boost::thread([&] {
        try {
            store.augment(false);
        } catch (int code) {
            thrown = code;
        }
    }).join();
    EXPECT_EQ(thrown, 9);
    EXPECT_EQ(server.get_full_groups(), 0);
    group.release_lock(0);
    store.detach();
    EXPECT_FALSE(group.destroy());
}

} // namespace
