#include "WarpTestSupport.h"
#include "codec/core/rvd_processor.h"
#include "image/CpuClass.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

namespace {

class CpuClass : public ::testing::Test {
protected:
    void TearDown() override { warp_store_variant_index(saved_); }
    int saved_ = warp_variant_index();
};

// Record from the flags that decide the class: family, then mmx sse sse2 sse3 ssse3 ht lm.
cpu_feature_record Record(uint32_t family, const char* flags)
{
    cpu_feature_record r{};
    r.family = family;
    uint32_t* words[7] = {&r.mmx, &r.sse, &r.sse2, &r.sse3, &r.ssse3, &r.hyperThreads, &r.longMode};
    for (int i = 0; i < 7; ++i)
        *words[i] = flags[i] == '1';
    return r;
}

// The first line of /proc/cpuinfo starting with `key`, after its colon.
std::string CpuInfo(const std::string& key)
{
    std::ifstream in("/proc/cpuinfo");
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, key.size(), key) == 0 && line.find(':') != std::string::npos)
            return line.substr(line.find(':') + 2);
    return "";
}

} // namespace

TEST_F(CpuClass, ClassifierFollowsTheFamilyRules)
{
    struct Case {
        uint32_t family;
        const char* flags; // mmx sse sse2 sse3 ssse3 ht lm
        bool intel;
        int type;
    };
    const Case cases[] = {
        {5, "0000000", true, 1},  {5, "1000000", true, 2},  {6, "0000000", true, 3},  {6, "1000000", true, 4},
        {6, "1100000", true, 5},  {6, "1110000", true, 9},  {6, "1111000", true, 10}, {6, "1111100", true, 33},
        {7, "0000000", true, 16}, {15, "1100000", true, 17}, {15, "1110000", true, 6}, {15, "1110010", true, 7},
        {15, "1111000", true, 8}, {15, "1111001", true, 32}, {15, "1111101", true, 33}, {4, "1111000", true, 66},
        {6, "1110000", false, 65}, {6, "1100000", false, 64}, {15, "1000000", false, 0}, {15, "1111100", false, 33},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.type, cpu_classify(Record(c.family, c.flags), true, c.intel)) << c.family << " " << c.flags;
    EXPECT_EQ(0, cpu_classify(Record(6, "1111111"), false, true));
}

TEST_F(CpuClass, TypeCodesSetTheIndex)
{
    const std::map<int, int> supported = {{-1, 0}, {0, 0},  {1, 0},  {2, 0},  {3, 0},  {4, 0},  {5, 1},
                                          {16, 1}, {17, 1}, {64, 1}, {6, 2},  {7, 2},  {9, 2},  {65, 2},
                                          {8, 3},  {10, 3}, {32, 3}, {66, 3}, {33, 4}, {34, 4}};
    for (int type = -2; type <= 67; ++type) {
        warp_store_variant_index(2);
        const auto it = supported.find(type);
        EXPECT_EQ(it == supported.end() ? warp_cpu_unsupported : 0, warp_set_cpu_type(type)) << type;
        EXPECT_EQ(it == supported.end() ? 2 : it->second, warp_variant_index()) << type;
    }
    // A family-15 processor without SSE2 is type 17, the SSE variant.
    EXPECT_EQ(1, cpu_variant_of_type(cpu_classify(Record(15, "1100000"), true, true)));
}

TEST_F(CpuClass, HostRecordAgreesWithTheSystem)
{
    cpu_feature_record r;
    std::memset(&r, 0xAB, sizeof(r));
    cpu_read_features(&r);
    EXPECT_EQ(0u, r.reserved0);
    EXPECT_EQ(0u, r.reserved1);
    __builtin_cpu_init();
    EXPECT_EQ(r.mmx != 0, __builtin_cpu_supports("mmx") != 0);
    EXPECT_EQ(r.sse != 0, __builtin_cpu_supports("sse") != 0);
    EXPECT_EQ(r.sse2 != 0, __builtin_cpu_supports("sse2") != 0);
    EXPECT_EQ(r.sse3 != 0, __builtin_cpu_supports("sse3") != 0);
    EXPECT_EQ(r.ssse3 != 0, __builtin_cpu_supports("ssse3") != 0);
    const std::string flags = " " + CpuInfo("flags") + " ";
    if (!flags.empty() && flags != "  ") {
        EXPECT_EQ(r.longMode != 0, flags.find(" lm ") != std::string::npos);
        if (flags.find(" ht ") == std::string::npos) {
            EXPECT_EQ(0u, r.hyperThreads);
        }
    }
    if (!CpuInfo("cpu family").empty()) {
        const unsigned family = std::stoul(CpuInfo("cpu family"));
        EXPECT_EQ(family < 15 ? family : 15u, r.family);
        EXPECT_EQ(std::stoul(CpuInfo("model")) % 16, r.model);
        EXPECT_EQ(std::stoul(CpuInfo("stepping")), r.stepping);
        EXPECT_EQ(CpuInfo("vendor_id") == "GenuineIntel", cpu_is_intel());
    }
    unsigned leaf1[4];
    ASSERT_TRUE(rv_cpuid(1, 0, leaf1));
    EXPECT_EQ(r.features, leaf1[3]);
    EXPECT_EQ(rvd_get_mmx_level(), rv_mmx_level_from_cpuid(r.features, r.sse3 | r.ssse3 << 9, r.sse2 != 0));
    EXPECT_TRUE(cpu_has_cpuid());
    EXPECT_GE(r.cores, 1u);
    EXPECT_NE(0u, cpu_read_tsc());

    const int expected = cpu_variant_of_type(cpu_classify(r, true, cpu_is_intel()));
    warp_store_variant_index(0);
    EXPECT_EQ(cpu_is_intel() ? 0 : warp_cpu_no_cpuid, warp_auto_select_cpu());
    EXPECT_EQ(expected < 0 ? 0 : expected, warp_variant_index());
}
