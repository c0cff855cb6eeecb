#include "codec/core/rv_rate_stats.h"

#include "codec/core/rvd_block.h"

#include <algorithm>

void rv_rate_stats::reset()
{
    ratio = 0.0;
    total_samples = next_trim_samples = margin_samples = samples_done = 0;
    std::fill(histogram, histogram + num_bins, int64_t(0));
    min_bin = num_bins - 1;
    max_bin = 0;
    conservative_bin = final_bin = 0;
    trimming_enabled = false;
    published_conservative_bin.store(0, std::memory_order_relaxed);
}

void rv_rate_stats::init(int64_t max_bytes, int64_t samples, bool trimming)
{
    reset();
    total_samples = samples;
    next_trim_samples = (samples + 7) >> 3;
    margin_samples = (samples >> 4) + 4096;
    trimming_enabled = trimming;
    ratio = samples == 0 ? 1.0 : double(max_bytes) / double(samples);
}

bool rv_rate_stats::trimming_due()
{
    if (!trimming_enabled || samples_done <= next_trim_samples)
        return false;
    next_trim_samples += (total_samples + 7) >> 4;
    return true;
}

bool rv_rate_stats::update(const rvd_block* block)
{
    samples_done += int64_t(block->size.y) * block->size.x;
    int64_t bytes = 0;
    for (int z = 0; z < block->num_passes; z++) {
        bytes += block->pass_lengths[z];
        const uint16_t slope = block->pass_slopes[z];
        if (slope == 0)
            continue;
        const int bin = slope >> 4;
        histogram[bin] += bytes;
        min_bin = std::min(min_bin, bin);
        max_bin = std::max(max_bin, bin);
        bytes = 0;
    }
    return trimming_due();
}

bool rv_rate_stats::merge(rv_rate_stats& t)
{
    samples_done += t.samples_done;
    t.samples_done = 0;
    if (t.min_bin <= t.max_bin) {
        min_bin = std::min(min_bin, t.min_bin);
        max_bin = std::max(max_bin, t.max_bin);
        for (int b = t.min_bin; b <= t.max_bin; b++) {
            histogram[b] += t.histogram[b];
            t.histogram[b] = 0;
        }
    }
    t.min_bin = num_bins - 1;
    t.max_bin = 0;
    return trimming_due();
}

void rv_rate_stats::find_thresholds()
{
    const double conservative_bytes = double(samples_done + margin_samples) * ratio + 1;
    const double final_bytes = double(total_samples) * ratio + 1;
    conservative_bin = final_bin = min_bin;
    bool conservative_found = false, final_found = false;
    int64_t sum = 0;
    for (int b = max_bin; b >= min_bin; b--) {
        sum += histogram[b];
        if (!conservative_found && double(sum) >= conservative_bytes) {
            conservative_bin = b;
            conservative_found = true;
        }
        if (double(sum) >= final_bytes && !final_found) {
            final_bin = b;
            final_found = true;
        }
        if (conservative_found && final_found)
            break;
    }
    published_conservative_bin.store(conservative_bin, std::memory_order_relaxed);
}

int rv_rate_stats::trimming_threshold() const
{
    // Worked as an int: with final_bin 0 nothing may go (16 bits would wrap to 65535).
    const int threshold = 16 * final_bin - 1;
    return threshold < 2 ? 0 : threshold;
}
