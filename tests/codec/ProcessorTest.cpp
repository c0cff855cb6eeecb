#include "codec/core/rvd_processor.h"
#include "tests/codec/support/processor_form.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace {

const unsigned MMX = 1u << 23, SSE = 1u << 25, SSE2 = 1u << 26;
const unsigned SSE3 = 1u, SSSE3 = 1u << 9;

TEST(ProcessorProbes, LevelRules)
{
    EXPECT_EQ(rv_mmx_level_from_cpuid(0, 0, true), 0);
    EXPECT_EQ(rv_mmx_level_from_cpuid(MMX, 0, true), 1);
    EXPECT_EQ(rv_mmx_level_from_cpuid(MMX | SSE | SSE2, 0, true), 2);
    EXPECT_EQ(rv_mmx_level_from_cpuid(MMX | SSE | SSE2, 0, false), 1);
    EXPECT_EQ(rv_mmx_level_from_cpuid(MMX | SSE, SSE3 | SSSE3, true), 1);
    EXPECT_EQ(rv_mmx_level_from_cpuid(MMX | SSE | SSE2, SSE3, true), 3);
    EXPECT_EQ(rv_mmx_level_from_cpuid(MMX | SSE | SSE2, SSE3 | SSSE3, true), 4);
    EXPECT_EQ(rv_mmx_level_from_cpuid(MMX | SSE | SSE2, SSSE3, true), 2);
    EXPECT_EQ(rv_mmx_level_from_cpuid(MMX | SSE | SSE2, SSE3 | SSSE3, false), 1);
}

TEST(ProcessorProbes, WideVectorLevelRules)
{
    const unsigned OSXSAVE_AVX = (1u << 27) | (1u << 28), AVX2 = 1u << 5;
    const unsigned AVX512 = (1u << 16) | (1u << 17) | (1u << 30) | (1u << 31); // F, DQ, BW, VL
    const unsigned long long YMM = 0x6, ZMM = 0xE6;
    struct row {
        unsigned ecx, ebx;
        unsigned long long xcr0;
        int level;
    };
    const row rows[] = {
        {0, 0, 0, 0},
        {OSXSAVE_AVX, AVX2, YMM, 1},
        {OSXSAVE_AVX, AVX2 | AVX512, ZMM, 2},
        {OSXSAVE_AVX, AVX2 | AVX512, YMM, 1},                // the system saves no ZMM state
        {OSXSAVE_AVX, AVX2, 0x2, 0},                         // nor the YMM state
        {1u << 28, AVX2 | AVX512, ZMM, 0},                   // no OSXSAVE
        {OSXSAVE_AVX, AVX512, ZMM, 0},                       // AVX-512 without AVX2
        {OSXSAVE_AVX, AVX2 | (AVX512 & ~(1u << 31)), ZMM, 1}, // no VL
        {OSXSAVE_AVX, AVX2 | (AVX512 & ~(1u << 30)), ZMM, 1}, // no BW
    };
    for (const row& r : rows)
        EXPECT_EQ(rv_avx_level_from_cpuid(r.ecx, r.ebx, r.xcr0), r.level)
            << std::hex << r.ecx << " " << r.ebx << " " << r.xcr0;
}

std::set<std::string> cpu_flags()
{
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, 5, "flags") == 0) {
            std::istringstream ls(line.substr(line.find(':') + 1));
            std::set<std::string> flags;
            std::string f;
            while (ls >> f)
                flags.insert(f);
            return flags;
        }
    return {};
}

TEST(ProcessorProbes, WordsMatchTheKernelsView)
{
    // Probing again must not undo a form chosen for the run (ORBEL_CODEC_FORM).
    codec_test::processor_form_guard keep(rvd_mmx_level);
    rv_init_processor_words();
    rv_init_processor_words(); // idempotent
    std::set<std::string> flags = cpu_flags();
    ASSERT_FALSE(flags.empty());
    int expected = 2;
    if (flags.count("pni"))
        expected = flags.count("ssse3") ? 4 : 3;
    EXPECT_EQ(rvd_mmx_level, expected);
    EXPECT_EQ(rvd_get_mmx_level(), expected);
    EXPECT_EQ(rvd_pentium_cmov_exists, flags.count("cmov") == 1);
    int avx = flags.count("avx2") ? 1 : 0;
    if (avx && flags.count("avx512f") && flags.count("avx512bw") && flags.count("avx512dq") &&
        flags.count("avx512vl"))
        avx = 2;
    EXPECT_EQ(rvd_get_avx_level(), avx);
    EXPECT_EQ(rvd_avx_level, avx);
    // The kernel calls LZCNT abm.
    EXPECT_EQ(rvd_get_lzcnt_shlx_exists(), flags.count("abm") && flags.count("bmi2"));
    EXPECT_FALSE(rvd_altivec_exists);
    EXPECT_FALSE(rvd_sparcvis_exists);
}

TEST(ProcessorProbes, ProcessorCountFollowsAffinity)
{
    int expected = -1;
    if (const char* env = std::getenv("ORBEL_EXPECT_PROCESSORS"))
        expected = std::atoi(env);
    else if (std::FILE* p = popen("nproc", "r")) {
        if (std::fscanf(p, "%d", &expected) != 1)
            expected = -1;
        pclose(p);
    }
    EXPECT_EQ(rvd_get_num_processors(), expected);
}

} // namespace
