#include "image/CpuClass.h"

#include "codec/core/rvd_processor.h"
#include "image/WarpVariants.h"

#include <x86intrin.h>

#include <cstring>

namespace {

enum { EAX, EBX, ECX, EDX };

uint32_t Bit(uint32_t word, int bit) { return (word >> bit) & 1u; }

// Leaf 1 register `reg`, 0 without it.
uint32_t Leaf1(int reg)
{
    unsigned r[4];
    rv_cpuid(1, 0, r);
    return r[reg];
}

int GeneralRule(const cpu_feature_record& r)
{
    if (r.ssse3)
        return 33;
    if (r.sse3)
        return 66;
    if (r.sse2)
        return 65;
    return r.sse ? 64 : 0;
}

int Family6(const cpu_feature_record& r)
{
    if (r.sse2)
        return r.ssse3 ? 33 : r.sse3 ? 10 : 9;
    return r.sse ? 5 : r.mmx ? 4 : 3;
}

int Family15(const cpu_feature_record& r)
{
    if (!r.sse2)
        return 17;
    if (!r.sse3)
        return r.hyperThreads ? 7 : 6;
    if (!r.longMode)
        return 8;
    return r.ssse3 ? 33 : 32;
}

} // namespace

bool cpu_has_cpuid()
{
    // CPUID exists when bit 21 of EFLAGS can be toggled. The pushes step over the red zone.
    unsigned long before, after;
    __asm__ volatile("sub $128, %%rsp\n\t"
                     "pushf\n\t"
                     "pop %0\n\t"
                     "mov %0, %1\n\t"
                     "xor $0x200000, %1\n\t"
                     "push %1\n\t"
                     "popf\n\t"
                     "pushf\n\t"
                     "pop %1\n\t"
                     "push %0\n\t"
                     "popf\n\t"
                     "add $128, %%rsp"
                     : "=&r"(before), "=&r"(after)
                     :
                     : "cc");
    return ((before ^ after) & 0x200000) != 0;
}

bool cpu_is_intel()
{
    unsigned r[4];
    return rv_cpuid(0, 0, r) && r[EBX] == 0x756E6547 && r[EDX] == 0x49656E69 && r[ECX] == 0x6C65746E;
}

unsigned cpu_highest_basic_leaf()
{
    unsigned r[4];
    rv_cpuid(0, 0, r);
    return r[EAX];
}

bool cpu_has_tsc() { return Bit(Leaf1(EDX), 4); }
bool cpu_has_mmx() { return Bit(Leaf1(EDX), 23); }
bool cpu_has_sse() { return Bit(Leaf1(EDX), 25); }
bool cpu_has_sse2() { return Bit(Leaf1(EDX), 26); }
bool cpu_has_sse3() { return Bit(Leaf1(ECX), 0); }
bool cpu_has_ssse3() { return Bit(Leaf1(ECX), 9); }

bool cpu_has_hyperthreading()
{
    unsigned r[4];
    rv_cpuid(1, 0, r);
    return Bit(r[EDX], 28) && ((r[EBX] >> 16) & 0xFF) > 1;
}

unsigned cpu_cores_per_package()
{
    unsigned r[4];
    if (cpu_highest_basic_leaf() < 4 || !rv_cpuid(4, 0, r))
        return 1;
    return (r[EAX] >> 26) + 1;
}

bool cpu_has_64bit()
{
    // rv_cpuid answers false when the highest extended leaf is below 0x80000001.
    unsigned r[4];
    return rv_cpuid(0x80000001u, 0, r) && Bit(r[EDX], 29);
}

uint64_t cpu_read_tsc() { return __rdtsc(); }

void cpu_read_features(cpu_feature_record* record)
{
    std::memset(record, 0, sizeof(*record));
    unsigned r1[4], r2[4];
    rv_cpuid(1, 0, r1);
    rv_cpuid(2, 0, r2);
    record->family = (r1[EAX] >> 8) & 0xF;
    record->stepping = r1[EAX] & 0xF;
    record->model = (r1[EAX] >> 4) & 0xF;
    record->features = r1[EDX];
    record->leaf2Eax = r2[EAX];
    record->leaf2Edx = r2[EDX];
    record->mmx = Bit(r1[EDX], 23);
    record->sse = Bit(r1[EDX], 25);
    record->sse2 = Bit(r1[EDX], 26);
    record->hyperThreads = Bit(r1[EDX], 28) && ((r1[EBX] >> 16) & 0xFF) > 1;
    record->sse3 = Bit(r1[ECX], 0);
    record->longMode = cpu_has_64bit();
    record->ssse3 = Bit(r1[ECX], 9);
    record->cores = cpu_cores_per_package();
}

int cpu_classify(const cpu_feature_record& r, bool hasCpuid, bool isIntel)
{
    if (!hasCpuid)
        return 0;
    if (!isIntel)
        return GeneralRule(r);
    switch (r.family) {
    case 5:
        return r.mmx ? 2 : 1;
    case 6:
        return Family6(r);
    case 7:
        return 16;
    case 15:
        return Family15(r);
    default:
        return GeneralRule(r);
    }
}

int cpu_detect_type()
{
    if (!cpu_has_cpuid())
        return 0;
    cpu_feature_record record;
    cpu_read_features(&record);
    return cpu_classify(record, true, cpu_is_intel());
}

int cpu_variant_of_type(int type)
{
    switch (type) {
    case -1:
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
        return 0;
    case 5:
    case 16:
    case 17:
    case 64:
        return 1;
    case 6:
    case 7:
    case 9:
    case 65:
        return 2;
    case 8:
    case 10:
    case 32:
    case 66:
        return 3;
    case 33:
    case 34:
        return 4;
    default:
        return -1;
    }
}

int warp_set_cpu_type(int type)
{
    const int index = cpu_variant_of_type(type);
    if (index < 0)
        return warp_cpu_unsupported;
    warp_store_variant_index(index);
    return 0;
}

int warp_auto_select_cpu()
{
    const bool hasCpuid = cpu_has_cpuid();
    const int index = cpu_variant_of_type(cpu_detect_type());
    warp_store_variant_index(index < 0 ? 0 : index);
    return hasCpuid && cpu_is_intel() ? 0 : warp_cpu_no_cpuid;
}
