// Rate statistics: trimming checks, histogram thresholds, worked by hand.
#include "codec/core/rvd_block.h"
#include "codec/core/rv_rate_stats.h"

#include <gtest/gtest.h>

#include <memory>

TEST(RateControl, TrimmingChecksOfAMillionSamples)
{
    auto stats = std::make_unique<rv_rate_stats>();
    stats->init(50000, 1000000, true);
    EXPECT_EQ(125000, stats->next_trim_samples);
    EXPECT_EQ(66596, stats->margin_samples);
    rvd_block block;
    block.size = rvd_coords(64, 64);
    block.num_passes = 0;
    // Checks fall due once 125,000 and then 187,500 samples are passed: blocks 31 and 46.
    std::vector<int> due;
    for (int k = 1; k <= 50; k++)
        if (stats->update(&block))
            due.push_back(k);
    EXPECT_EQ((std::vector<int>{31, 46}), due);
    EXPECT_EQ(250000, stats->next_trim_samples);

    // The same through a thread's statistics; without trimming no check falls due.
    auto thread = std::make_unique<rv_rate_stats>();
    thread->samples_done = 200000;
    auto off = std::make_unique<rv_rate_stats>();
    off->init(50000, 1000000, false);
    EXPECT_FALSE(off->merge(*thread));
    EXPECT_EQ(200000, off->samples_done);
    EXPECT_EQ(0, thread->samples_done);
}

TEST(RateControl, HistogramGivesThresholds)
{
    rvd_block block;
    block.set_max_passes(6);
    const uint16_t slopes[6] = {0, 500, 0, 0, 300, 0};
    const int32_t lengths[6] = {5, 6, 7, 8, 9, 10};
    std::copy(slopes, slopes + 6, block.pass_slopes);
    std::copy(lengths, lengths + 6, block.pass_lengths);
    block.num_passes = 6;
    block.size = rvd_coords(10, 10);
    auto stats = std::make_unique<rv_rate_stats>();
    stats->init(100, 1000, false);
    stats->update(&block);
    // Bytes up to each slope go to slope / 16; the trailing pass without a slope is not counted.
    EXPECT_EQ(11, stats->histogram[31]);
    EXPECT_EQ(24, stats->histogram[18]);
    EXPECT_EQ(18, stats->min_bin);
    EXPECT_EQ(31, stats->max_bin);

    struct {
        int64_t top, middle, low;
        int conservative, final_bin, trim;
    } cases[] = {
        // Budget 101 bytes in all; the margin (100 + 4158 samples) asks for 426.8 bytes.
        {60, 50, 1000, 100, 200, 3199},
        {200, 300, 1000, 200, 300, 4799},
        {10, 10, 10, 100, 100, 1599},
    };
    for (const auto& c : cases) {
        stats->init(100, 1000, true);
        stats->samples_done = 100;
        stats->histogram[300] = c.top;
        stats->histogram[200] = c.middle;
        stats->histogram[100] = c.low;
        stats->min_bin = 100;
        stats->max_bin = 300;
        stats->find_thresholds();
        EXPECT_EQ(c.conservative, stats->conservative_bin);
        EXPECT_EQ(c.final_bin, stats->final_bin);
        EXPECT_EQ(c.trim, stats->trimming_threshold());
    }
    // A final bin of 0 trims nothing rather than everything; bin 1 trims below 15.
    stats->final_bin = 0;
    EXPECT_EQ(0, stats->trimming_threshold());
    stats->final_bin = 1;
    EXPECT_EQ(15, stats->trimming_threshold());
}
