// Processor-specific variants of the affine warp: index 1 SSE, 2 SSE2, 3 SSE3, 4 SSSE3 of the
// entry points' tables (index 0 is the generic body). Every variant needs no more than SSE2,
// which every x86-64 processor has, so any of them may be forced on any machine.
#pragma once

#include "image/WarpAffine.h"

// Kernel tables, laid out like warp_generic_kernels. For nearest and linear the SSE table
// carries source positions in single precision, the other three in double precision; the
// SSE2, SSE3 and SSSE3 tables compute identically, and all four cubic kernels do.
extern const warp_kernel_table warp_sse_kernels;
extern const warp_kernel_table warp_sse2_kernels;
extern const warp_kernel_table warp_sse3_kernels;
extern const warp_kernel_table warp_ssse3_kernels;

// Drivers: the arguments and statuses of warp_affine_generic, run with the variant's table.
#define WARP_VARIANT_DRIVER_DECL(name)                                                                      \
    int name(const void* src, int srcWidth, int srcHeight, int srcStep, int sx, int sy, int sw, int sh,      \
             void* dst, int dstStep, int dx, int dy, int dw, int dh, int format, const double* coeffs,     \
             int interpolation);
WARP_VARIANT_DRIVER_DECL(warp_affine_sse)
WARP_VARIANT_DRIVER_DECL(warp_affine_sse2)
WARP_VARIANT_DRIVER_DECL(warp_affine_sse3)
WARP_VARIANT_DRIVER_DECL(warp_affine_ssse3)
#undef WARP_VARIANT_DRIVER_DECL

// Entry wrappers held by the entry points' tables: the entry point's arguments, its format
// code added, the variant driver's status returned unchanged.
#define WARP_VARIANT_ENTRY_DECL(name)                                                                       \
    int name(const void* src, int srcWidth, int srcHeight, int srcStep, int sx, int sy, int sw, int sh,      \
             void* dst, int dstStep, int dx, int dy, int dw, int dh, const double* coeffs, int interpolation);
#define WARP_VARIANT_ENTRIES(X, variant) \
    X(warp_affine_gray8_##variant)       \
    X(warp_affine_rgb8_##variant)        \
    X(warp_affine_rgbx8_##variant)       \
    X(warp_affine_gray16_##variant)
WARP_VARIANT_ENTRIES(WARP_VARIANT_ENTRY_DECL, sse)
WARP_VARIANT_ENTRIES(WARP_VARIANT_ENTRY_DECL, sse2)
WARP_VARIANT_ENTRIES(WARP_VARIANT_ENTRY_DECL, sse3)
WARP_VARIANT_ENTRIES(WARP_VARIANT_ENTRY_DECL, ssse3)
#undef WARP_VARIANT_ENTRY_DECL

// The switch: ORBEL_WARP_VARIANT = generic, sse, sse2, sse3 or ssse3 (or 0 to 4) sets the
// index once, before its first read or write; unset or empty leaves it; any other value
// leaves it and prints one line on stderr. For tests and benchmarks; the viewer never sets it.
constexpr int warp_variant_count = 5;

// cpu_variant_index, read and written with relaxed atomics after the switch has run.
int warp_variant_index();
void warp_store_variant_index(int index);

// Index of a switch value: a name or digit above; -1 for anything else.
int warp_variant_from_text(const char* text);
