// Process-wide processor words, set once at module start-up and only read afterwards.
#pragma once

extern int rvd_mmx_level;            // 0 none, 1 MMX, 2 SSE+SSE2, 3 SSE3, 4 SSSE3
extern bool rvd_pentium_cmov_exists;
extern bool rvd_altivec_exists;      // never set on this platform
extern bool rvd_sparcvis_exists;     // never set on this platform
// Wider vector forms beside the SSE ones: 0 none, 1 AVX2, 2 AVX-512 (F, BW, DQ and VL).
// Only meaningful with rvd_mmx_level at least 2; the forms check both.
extern int rvd_avx_level;
// LZCNT and BMI2's SHLX both there: the block-coding passes' assembly walks count and
// make an exchange's doublings with them.
extern bool rvd_lzcnt_shlx_exists;

int rvd_get_mmx_level();
bool rvd_get_pentium_cmov_exists();
int rvd_get_num_processors();

// CPUID leaf and subleaf into regs (EAX, EBX, ECX, EDX); false, with regs 0, when the leaf
// lies beyond the highest of its range (basic or extended) or there is no CPUID.
bool rv_cpuid(unsigned leaf, unsigned subleaf, unsigned regs[4]);

// The vector level from CPUID leaf 1 registers and the result of the SSE2 trial.
int rv_mmx_level_from_cpuid(unsigned edx, unsigned ecx, bool sse2_trial_ok);

// The wide-vector level from CPUID leaf 1 ECX, leaf 7 EBX and the XCR0 register: the
// instructions and the operating system's saving of the YMM (and ZMM) state.
int rv_avx_level_from_cpuid(unsigned leaf1_ecx, unsigned leaf7_ebx, unsigned long long xcr0);
int rvd_get_avx_level();

bool rvd_get_lzcnt_shlx_exists();

// Attributes building one routine for wider vectors than the build's own, beside its
// portable and SSE forms; such routines run only where rvd_avx_level says the processor
// has them. Without RVD_WIDE_FORMS (another compiler or processor) they are not built.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define RVD_WIDE_FORMS 1
#define RVD_TARGET_AVX2 __attribute__((target("avx2")))
#define RVD_TARGET_AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512dq,avx512vl")))
// GCC 12 warns of the deliberately undefined vectors inside its own AVX-512 intrinsics.
#if defined(__GNUC__) && !defined(__clang__)
#define RVD_WIDE_FORMS_BEGIN _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wmaybe-uninitialized\"")
#define RVD_WIDE_FORMS_END _Pragma("GCC diagnostic pop")
#else
#define RVD_WIDE_FORMS_BEGIN
#define RVD_WIDE_FORMS_END
#endif
#endif

// Sets the processor words; idempotent. Runs as start-up slot 12.
void rv_init_processor_words();
