// Cost of the worker-thread pool per job: 10^5 small jobs (a few hundred arithmetic
// steps each) through one queue on 1, 2, 4 and 8 threads, beside a plain loop calling the
// same worker. Reports the time per job and jobs per second; the difference to the loop
// on one thread is the scheduling cost.
#include "codec/core/rvd_worker.h"
#include "codec/core/rvd_thread_env.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

const int num_jobs = 100000;

// Each job mixes its own slot: no sharing between jobs.
struct small_worker : rvd_worker {
    std::vector<std::uint64_t> slots = std::vector<std::uint64_t>(num_jobs);
    void do_job(rvd_thread_env*, int job_idx) override
    {
        std::uint64_t v = std::uint64_t(job_idx) + 1;
        for (int k = 0; k < 200; k++)
            v = v * 6364136223846793005ull + 1442695040888963407ull;
        slots[std::size_t(job_idx)] = v;
    }
};

void BM_PlainLoop(benchmark::State& state)
{
    small_worker w;
    for (auto _ : state) {
        for (int j = 0; j < num_jobs; j++)
            w.do_job(nullptr, j);
        benchmark::DoNotOptimize(w.slots.data());
    }
    state.SetItemsProcessed(state.iterations() * num_jobs);
}
BENCHMARK(BM_PlainLoop)->Unit(benchmark::kMillisecond);

void BM_PoolJobs(benchmark::State& state)
{
    rvd_thread_env env;
    env.create();
    for (int i = 1; i < state.range(0); i++)
        env.add_thread();
    small_worker w;
    for (auto _ : state) {
        rvd_thread_queue* q = env.add_queue(&w, nullptr, "bench");
        env.add_jobs(q, num_jobs, true);
        env.process_jobs(q, false, true);
        env.terminate(q, false);
        benchmark::DoNotOptimize(w.slots.data());
    }
    state.SetItemsProcessed(state.iterations() * num_jobs);
    state.counters["threads"] = double(state.range(0));
}
BENCHMARK(BM_PoolJobs)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
