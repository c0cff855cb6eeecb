// What every build of the generic warp kernels shares: the compiler settings their loops
// need and the macros defining the 54 kernels over WarpKernelTiles.h. Included once by
// WarpKernels.cpp (portable) and by one file per instruction set, after the standard headers
// and, there, after the target switch.
#pragma once

#include "image/WarpKernels.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <type_traits>

// Results are defined to the bit: these files are built with -ffp-contract=off, positions
// are carried by addition and every conversion truncates toward zero.

// Without trapping math GCC may compute both arms of a select (a clamp followed by a
// conversion), which lets the tile loops vectorise. Values are unchanged: it only gives up
// exception flags that nothing here reads, with every exception masked.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("no-trapping-math")
#endif

// The per-pixel helpers of the tile loops must be inlined there to vectorise; GCC's
// heuristics leave some out of line for some sample types.
#if defined(__GNUC__)
#define WARP_INLINE inline __attribute__((always_inline))
#define WARP_TILE __attribute__((flatten))
#define WARP_NOINLINE __attribute__((noinline))
#else
#define WARP_INLINE inline
#define WARP_TILE
#define WARP_NOINLINE
#endif

// Builds for wider vectors (AVX2, AVX-512), chosen at run time where the processor has them.
// Only wider vectors: no contraction (-ffp-contract=off), so every result is bit for bit that
// of the portable build.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define WARP_NATIVE_BUILDS 1
extern const warp_kernel_table warp_generic_kernels_avx2;
extern const warp_kernel_table warp_generic_kernels_avx512;
#endif

#define WARP_KERNEL_DEF(name, T, C, S, P, I)                                                             \
    void name(const void* src, void* dst, int srcStep, int dstStep, int firstRow, int lastRow,          \
              const int32_t* spans, const double* inv, int xmax, int ymax, const void* aux)              \
    {                                                                                                    \
        RowKernel<T, C, S, P, I>(src, dst, srcStep, dstStep, firstRow, lastRow, spans, inv, xmax, ymax, aux); \
    }

#define WARP_KERNEL_TRIPLE(suffix, T, C, S, P)                    \
    WARP_KERNEL_DEF(warp_row_nearest_##suffix, T, C, S, P, 0)     \
    WARP_KERNEL_DEF(warp_row_linear_##suffix, T, C, S, P, 1)      \
    WARP_KERNEL_DEF(warp_row_cubic_##suffix, T, C, S, P, 2)

#define WARP_KERNEL_TYPE(tag, T)                       \
    WARP_KERNEL_TRIPLE(gray##tag, T, 1, 1, false)      \
    WARP_KERNEL_TRIPLE(rgb##tag, T, 3, 3, false)       \
    WARP_KERNEL_TRIPLE(rgbx##tag, T, 3, 4, false)      \
    WARP_KERNEL_TRIPLE(planar3_##tag, T, 3, 1, true)   \
    WARP_KERNEL_TRIPLE(rgba##tag, T, 4, 4, false)      \
    WARP_KERNEL_TRIPLE(planar4_##tag, T, 4, 1, true)

#define WARP_KERNEL_ALL_TYPES          \
    WARP_KERNEL_TYPE(8, uint8_t)       \
    WARP_KERNEL_TYPE(32f, float)       \
    WARP_KERNEL_TYPE(16, uint16_t)
