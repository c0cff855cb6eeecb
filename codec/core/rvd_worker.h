// Base of the decoding pipeline's job workers: a thread queue calls do_job for each of
// the jobs it was given.
#pragma once

class rvd_thread_env;

class rvd_worker {
public:
    rvd_worker() = default;
    virtual ~rvd_worker() = default;
    virtual void do_job(rvd_thread_env* env, int job_idx) = 0;
};
