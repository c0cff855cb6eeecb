#include "codec/core/rvd_processor.h"

#include "platform/ModuleStartup.h"

#include <sched.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <emmintrin.h>
#endif

int rvd_mmx_level = 0;
bool rvd_pentium_cmov_exists = false;
bool rvd_altivec_exists = false;
bool rvd_sparcvis_exists = false;
int rvd_avx_level = 0;
bool rvd_lzcnt_shlx_exists = false;

namespace {

bool cpuid_leaf1(unsigned& edx, unsigned& ecx)
{
    unsigned regs[4];
    const bool ok = rv_cpuid(1, 0, regs);
    ecx = regs[2];
    edx = regs[3];
    return ok;
}

bool sse2_trial()
{
#if defined(__x86_64__) || defined(__i386__)
    // On x86-64 the operating system always saves the XMM state.
    volatile __m128d v = _mm_setzero_pd();
    __m128d w = v;
    w = _mm_xor_pd(w, w);
    v = w;
    return true;
#else
    return false;
#endif
}

StartupRegistrar processor_words_step(12, 0, "processor words", [] { rv_init_processor_words(); },
                                      nullptr);

} // namespace

bool rv_cpuid(unsigned leaf, unsigned subleaf, unsigned regs[4])
{
    regs[0] = regs[1] = regs[2] = regs[3] = 0;
#if defined(__x86_64__) || defined(__i386__)
    return __get_cpuid_count(leaf, subleaf, &regs[0], &regs[1], &regs[2], &regs[3]) != 0;
#else
    (void)leaf;
    (void)subleaf;
    return false;
#endif
}

int rv_mmx_level_from_cpuid(unsigned edx, unsigned ecx, bool sse2_trial_ok)
{
    int level = 0;
    if (edx & (1u << 23))
        level = 1;
    if ((edx & (1u << 25)) && (edx & (1u << 26))) {
        level = sse2_trial_ok ? 2 : 1;
        if (level == 2 && (ecx & 1u)) {
            level = 3;
            if (ecx & (1u << 9))
                level = 4;
        }
    }
    return level;
}

int rvd_get_mmx_level()
{
    unsigned edx, ecx;
    if (!cpuid_leaf1(edx, ecx))
        return 0;
    bool trial = ((edx & (1u << 25)) && (edx & (1u << 26))) ? sse2_trial() : false;
    return rv_mmx_level_from_cpuid(edx, ecx, trial);
}

bool rvd_get_pentium_cmov_exists()
{
    unsigned edx, ecx;
    if (!cpuid_leaf1(edx, ecx))
        return false;
    return (edx & (1u << 15)) != 0;
}

int rv_avx_level_from_cpuid(unsigned leaf1_ecx, unsigned leaf7_ebx, unsigned long long xcr0)
{
    const unsigned osxsave = 1u << 27, avx = 1u << 28;
    const unsigned avx2 = 1u << 5, avx512f = 1u << 16, avx512dq = 1u << 17, avx512bw = 1u << 30,
                   avx512vl = 1u << 31;
    const unsigned long long sse_ymm = 0x6, opmask_zmm = 0xE0; // XCR0 state components
    if ((leaf1_ecx & (osxsave | avx)) != (osxsave | avx) || (xcr0 & sse_ymm) != sse_ymm ||
        !(leaf7_ebx & avx2))
        return 0;
    const unsigned all512 = avx512f | avx512dq | avx512bw | avx512vl;
    if ((leaf7_ebx & all512) == all512 && (xcr0 & opmask_zmm) == opmask_zmm)
        return 2;
    return 1;
}

int rvd_get_avx_level()
{
#if defined(__x86_64__) || defined(__i386__)
    unsigned regs1[4], regs7[4];
    if (!rv_cpuid(1, 0, regs1) || !rv_cpuid(7, 0, regs7))
        return 0;
    unsigned long long xcr0 = 0;
    if (regs1[2] & (1u << 27)) { // XGETBV is there only with OSXSAVE
        unsigned lo, hi;
        __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
        xcr0 = (static_cast<unsigned long long>(hi) << 32) | lo;
    }
    return rv_avx_level_from_cpuid(regs1[2], regs7[1], xcr0);
#else
    return 0;
#endif
}

bool rvd_get_lzcnt_shlx_exists()
{
    // LZCNT in leaf 0x80000001's ECX, BMI2 in leaf 7's EBX.
    const unsigned lzcnt = 1u << 5, bmi2 = 1u << 8;
    unsigned ext1[4], regs7[4];
    if (!rv_cpuid(0x80000001u, 0, ext1) || !rv_cpuid(7, 0, regs7))
        return false;
    return (ext1[2] & lzcnt) && (regs7[1] & bmi2);
}

int rvd_get_num_processors()
{
    // Every processor of the affinity set counts, however many there are.
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) != 0)
        return 1;
    int n = CPU_COUNT(&set);
    return n < 1 ? 1 : n;
}

void rv_init_processor_words()
{
    rvd_mmx_level = rvd_get_mmx_level();
    rvd_pentium_cmov_exists = rvd_get_pentium_cmov_exists();
    rvd_avx_level = rvd_mmx_level >= 2 ? rvd_get_avx_level() : 0;
    rvd_lzcnt_shlx_exists = rvd_get_lzcnt_shlx_exists();
}
