// Process-wide processor words, set once at module start-up and only read afterwards.
#pragma once

extern int rvd_mmx_level;            // 0 none, 1 MMX, 2 SSE+SSE2, 3 SSE3, 4 SSSE3
extern bool rvd_pentium_cmov_exists;
extern bool rvd_altivec_exists;      // never set on this platform
extern bool rvd_sparcvis_exists;     // never set on this platform

int rvd_get_mmx_level();
bool rvd_get_pentium_cmov_exists();
int rvd_get_num_processors();

// CPUID leaf and subleaf into regs (EAX, EBX, ECX, EDX); false, with regs 0, when the leaf
// lies beyond the highest of its range (basic or extended) or there is no CPUID.
bool rv_cpuid(unsigned leaf, unsigned subleaf, unsigned regs[4]);

// The vector level from CPUID leaf 1 registers and the result of the SSE2 trial.
int rv_mmx_level_from_cpuid(unsigned edx, unsigned ecx, bool sse2_trial_ok);

// Sets the processor words; idempotent. Runs as start-up slot 12.
void rv_init_processor_words();
