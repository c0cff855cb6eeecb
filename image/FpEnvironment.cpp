#include "image/FpEnvironment.h"

#include <xmmintrin.h>

#include <cstring>

namespace {

// Exception bits 0-5 of the x87 words (invalid, denormal, zero-divide, overflow, underflow,
// inexact) and their portable values.
const uint32_t kExceptions[6] = {0x10, 0x80000, 0x08, 0x04, 0x02, 0x01};

uint32_t PortableExceptions(uint16_t word)
{
    uint32_t out = 0;
    for (int bit = 0; bit < 6; ++bit)
        if (word & (1u << bit))
            out |= kExceptions[bit];
    return out;
}

uint16_t X87Exceptions(uint32_t portable)
{
    uint16_t out = 0;
    for (int bit = 0; bit < 6; ++bit)
        if (portable & kExceptions[bit])
            out |= static_cast<uint16_t>(1u << bit);
    return out;
}

uint32_t PortableControl(uint16_t cw)
{
    static const uint32_t kPrecision[4] = {0x20000, 0, 0x10000, 0}; // 24 bits, reserved, 53, 64
    return PortableExceptions(cw) | ((cw >> 2) & 0x300u) | kPrecision[(cw >> 8) & 3] | ((cw & 0x1000) ? 0x40000 : 0);
}

uint16_t X87Control(uint32_t portable, uint16_t old)
{
    uint16_t cw = static_cast<uint16_t>(old & ~0x1F3Fu); // keep the reserved bits
    cw |= X87Exceptions(portable);
    cw |= static_cast<uint16_t>((portable & 0x300u) << 2);
    cw |= static_cast<uint16_t>((portable & 0x20000) ? 0x000 : (portable & 0x10000) ? 0x200 : 0x300);
    if (portable & 0x40000)
        cw |= 0x1000;
    return cw;
}

void LoadControl(uint16_t cw) { __asm__ volatile("fldcw %0" : : "m"(cw)); }

} // namespace

uint32_t fp_get_mxcsr() { return _mm_getcsr(); }

uint32_t fp_set_mxcsr(uint32_t value, uint32_t mask)
{
    const uint32_t old = _mm_getcsr();
    _mm_setcsr((old & ~mask) | (value & mask));
    return old;
}

uint32_t fp_reset_mxcsr()
{
    const uint32_t old = _mm_getcsr();
    _mm_setcsr(0x1F80);
    return old;
}

bool fp_daz_supported()
{
    alignas(16) unsigned char area[512];
    std::memset(area, 0, sizeof(area));
    __asm__ volatile("fxsave %0" : "=m"(area));
    uint32_t mask;
    std::memcpy(&mask, area + 28, 4);
    return mask != 0 && (mask & 0x40) != 0;
}

uint16_t fp_get_x87_control()
{
    uint16_t cw;
    __asm__ volatile("fnstcw %0" : "=m"(cw));
    return cw;
}

uint16_t fp_set_x87_control(uint16_t value, uint16_t mask)
{
    const uint16_t old = fp_get_x87_control();
    LoadControl(static_cast<uint16_t>((old & ~mask) | (value & mask)));
    return old;
}

uint16_t fp_get_x87_status()
{
    uint16_t sw;
    __asm__ volatile("fnstsw %0" : "=m"(sw));
    return sw;
}

uint16_t fp_get_clear_x87_status()
{
    const uint16_t sw = fp_get_x87_status();
    __asm__ volatile("fnclex");
    return sw;
}

uint32_t fp_control(uint32_t value, uint32_t mask)
{
    const uint16_t old = fp_get_x87_control();
    const uint32_t merged = (PortableControl(old) & ~mask) | (value & mask);
    LoadControl(X87Control(merged, old));
    return merged;
}

uint32_t fp_status() { return PortableExceptions(fp_get_x87_status()); }

uint32_t fp_clear_status() { return PortableExceptions(fp_get_clear_x87_status()); }

bool fp_is_nan(double v)
{
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    return (bits & 0x7FF0000000000000ull) == 0x7FF0000000000000ull && (bits & 0x000FFFFFFFFFFFFFull) != 0;
}

bool fp_is_finite(double v)
{
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    return (bits & 0x7FF0000000000000ull) != 0x7FF0000000000000ull;
}
