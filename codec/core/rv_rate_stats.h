// Running statistics of coded bytes per slope bin, from which the encoder and the core
// learn which coding passes cannot survive a final byte budget.
#pragma once

#include <atomic>
#include <cstdint>

class rvd_block;

class rv_rate_stats {
public:
    static constexpr int num_bins = 4096;

    void reset();
    void init(int64_t max_bytes, int64_t samples, bool trimming);
    // Counts a closed code-block; true when an early trimming check is due.
    bool update(const rvd_block* block);
    // Moves a thread's counts in here; true when an early trimming check is due.
    bool merge(rv_rate_stats& thread_stats);
    void find_thresholds();
    // Passes with a slope at or below this can be dropped now; 0 when none can.
    int trimming_threshold() const;

    double ratio = 0.0;
    int64_t total_samples = 0;
    int64_t next_trim_samples = 0;
    int64_t margin_samples = 0;
    int64_t samples_done = 0;
    int64_t histogram[num_bins] = {};
    int min_bin = num_bins - 1, max_bin = 0;
    int conservative_bin = 0, final_bin = 0;
    bool trimming_enabled = false;
    // conservative_bin as encoders on other threads read it, without the statistics lock.
    std::atomic<int> published_conservative_bin{0};

private:
    bool trimming_due();
};
