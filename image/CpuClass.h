// Processor identification for the warp's variant index: the feature record read through
// CPUID, the type code classification and the two operations that set the index.
#pragma once

#include <cstdint>

// Sixteen 32-bit words; each flag is 0 or 1.
struct cpu_feature_record {
    uint32_t family;       // leaf 1 EAX bits 8-11
    uint32_t stepping;     // bits 0-3
    uint32_t model;        // bits 4-7
    uint32_t reserved0;    // 0
    uint32_t features;     // leaf 1 EDX
    uint32_t leaf2Eax;
    uint32_t leaf2Edx;
    uint32_t mmx;          // EDX bit 23
    uint32_t reserved1;    // 0
    uint32_t sse;          // EDX bit 25
    uint32_t sse2;         // EDX bit 26
    uint32_t hyperThreads; // EDX bit 28 and more than one logical processor (EBX bits 16-23)
    uint32_t sse3;         // ECX bit 0
    uint32_t longMode;     // leaf 0x80000001 EDX bit 29
    uint32_t ssse3;        // ECX bit 9
    uint32_t cores;        // leaf 4 EAX bits 26-31 plus 1, or 1
};
static_assert(sizeof(cpu_feature_record) == 64, "sixteen words");

constexpr int warp_cpu_no_cpuid = 20;     // auto-selection: no CPUID, or not an Intel processor
constexpr int warp_cpu_unsupported = 21;  // a type code without a variant

// Fills the record; every word is written, the unused ones with 0.
void cpu_read_features(cpu_feature_record* record);
// The type code of a record (0 to 66): the Intel family rules or the general rule.
int cpu_classify(const cpu_feature_record& record, bool hasCpuid, bool isIntel);
// The type code of this processor.
int cpu_detect_type();
// Variant index of a type code, or -1 for a code without one.
int cpu_variant_of_type(int type);

// Sets the variant index from a type code: 0, or 21 with the index unchanged.
int warp_set_cpu_type(int type);
// Sets the variant index from this processor's type: 0, or 20 (the index set all the same)
// without CPUID or on another vendor's processor.
int warp_auto_select_cpu();

bool cpu_has_cpuid();
bool cpu_is_intel();
unsigned cpu_highest_basic_leaf();
bool cpu_has_tsc();
bool cpu_has_mmx();
bool cpu_has_sse();
bool cpu_has_sse2();
bool cpu_has_hyperthreading();
bool cpu_has_sse3();
bool cpu_has_ssse3();
unsigned cpu_cores_per_package();
bool cpu_has_64bit();
uint64_t cpu_read_tsc();
