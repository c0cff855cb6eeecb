// One node of a thread group's queue tree. A queue with a worker holds jobs that the
// group's threads hand to the worker's do_job with indices 0, 1, 2, ... in the order they
// were added; a queue without one only groups its children. Records are owned by the
// group, carved 32 to a block and recycled.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class rvd_worker;
class rv_thread_group;

// A worker whose job runs once every job it covers has completed.
struct rv_sync_point {
    rvd_worker* worker;
};

class alignas(128) rvd_thread_queue {
public:
    int get_depth() const { return depth; }
    const std::string& get_name() const { return name; }
    std::uint64_t get_bank() const { return bank; }
    rvd_thread_queue* get_parent() const { return parent; }
    rvd_worker* get_worker() const { return worker; }
    bool is_finished() const { return finished; }

private:
    friend class rvd_thread_entity;
    friend class rv_thread_group;

    void reset();
    // Adds to the subtree counters of this queue and every ancestor.
    void add_outstanding(std::int64_t delta);
    void add_runnable(std::int64_t delta);
    std::int64_t own_runnable() const { return active ? jobs_added - jobs_started : 0; }

    int depth = 1;
    std::string name;
    std::uint64_t bank = 0;
    rv_thread_group* group = nullptr;
    rvd_thread_queue* parent = nullptr;
    rvd_thread_queue* next_sibling = nullptr;
    rvd_thread_queue* prev_sibling = nullptr;
    rvd_thread_queue* first_child = nullptr;
    rvd_worker* worker = nullptr;
    // Own jobs: added, handed out, completed; the final count once finalised, else -1.
    std::int64_t jobs_added = 0, jobs_started = 0, jobs_completed = 0, final_count = -1;
    int working = 0;            // threads running one of its own jobs
    bool active = true;         // its bank has been activated (jobs may run)
    bool finished = false;
    // Over the queue and its descendants: jobs that may be handed out now, and jobs added
    // but not yet completed.
    std::int64_t runnable = 0, outstanding = 0;
    std::uint64_t priority = 0;      // own: 2^32 - secondary sequence, 0 for none
    std::uint64_t tree_priority = 0; // the highest in the subtree
    int unfinished_workers = 0;      // descendants with workers that are not finished
    std::vector<rv_sync_point> sync_points;
    std::vector<int> waiters;        // threads waiting for the subtree to drain
};
