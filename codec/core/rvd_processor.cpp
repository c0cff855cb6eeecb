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
}
