// x87 and SSE floating-point control and status of the calling thread. On x86-64 double and
// float arithmetic runs on SSE, so the x87 settings change only long double results.
#pragma once

#include <cstdint>

// MXCSR
uint32_t fp_reset_mxcsr(); // loads 0x1F80 (all exceptions masked, round to nearest); the previous value
uint32_t fp_set_mxcsr(uint32_t value, uint32_t mask); // (old & ~mask) | (value & mask); the previous value
uint32_t fp_get_mxcsr();
bool fp_daz_supported(); // the saved MXCSR mask has denormals-are-zero (bit 6)

// x87 control and status words
uint16_t fp_set_x87_control(uint16_t value, uint16_t mask); // the previous control word
uint16_t fp_get_x87_control();
uint16_t fp_get_x87_status();
uint16_t fp_get_clear_x87_status(); // the status before its exception flags are cleared

// Portable form: exceptions invalid 0x10, denormal 0x80000, zero-divide 0x08, overflow 0x04,
// underflow 0x02, inexact 0x01 (masks in the control word, flags in the status); rounding
// 0x000 nearest, 0x100 down, 0x200 up, 0x300 toward zero; precision 0x20000 24 bits, 0x10000
// 53 bits, 0 64 bits; infinity control 0x40000.
uint32_t fp_control(uint32_t value, uint32_t mask); // merges into the x87 control word; the result
uint32_t fp_status();
uint32_t fp_clear_status(); // the status before clearing

bool fp_is_nan(double v);
bool fp_is_finite(double v);
