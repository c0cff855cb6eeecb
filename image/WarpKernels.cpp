#include "image/WarpKernels.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <type_traits>

// Results are defined to the bit: this file is built with -ffp-contract=off, positions are
// carried by addition and every conversion truncates toward zero.

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

namespace {
#include "image/WarpKernelTiles.h"
} // namespace

// The same loops built for AVX2, chosen at run time where the processor has it. Only wider
// vectors: no contraction (the file is built with -ffp-contract=off and the target brings
// no FMA), so every result is bit for bit that of the portable build.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define WARP_NATIVE_AVX2 1
#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
namespace {
#include "image/WarpKernelTiles.h"
} // namespace
} // namespace avx2
#pragma GCC pop_options
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

WARP_KERNEL_TYPE(8, uint8_t)
WARP_KERNEL_TYPE(32f, float)
WARP_KERNEL_TYPE(16, uint16_t)

#define WARP_KERNEL_ADDRESS(name) &name,

const warp_kernel_table warp_generic_kernels = {WARP_KERNEL_LIST(WARP_KERNEL_ADDRESS)};

#ifdef WARP_NATIVE_AVX2
#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
WARP_KERNEL_TYPE(8, uint8_t)
WARP_KERNEL_TYPE(32f, float)
WARP_KERNEL_TYPE(16, uint16_t)
} // namespace avx2
#pragma GCC pop_options

namespace {
#define WARP_KERNEL_ADDRESS_AVX2(name) &avx2::name,
const warp_kernel_table kAvx2Kernels = {WARP_KERNEL_LIST(WARP_KERNEL_ADDRESS_AVX2)};
} // namespace
#endif

const warp_kernel_table& warp_generic_kernels_native()
{
#ifdef WARP_NATIVE_AVX2
    static const bool avx2 = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    if (avx2)
        return kAvx2Kernels;
#endif
    return warp_generic_kernels;
}

namespace {
#define WARP_KERNEL_SLOT(name) &warp_kernel_table::name,
const warp_row_kernel warp_kernel_table::* const kSlots[] = {WARP_KERNEL_LIST(WARP_KERNEL_SLOT)};
static_assert(sizeof(kSlots) / sizeof(kSlots[0]) == warp_kernel_count, "54 kernel slots");
} // namespace

warp_row_kernel warp_kernel_at(const warp_kernel_table& table, int slot)
{
    if (slot < 0 || slot >= warp_kernel_count)
        return nullptr;
    return table.*kSlots[slot];
}

void warp_cubic_point_8(const uint8_t* window, int srcStep, int pixelStride, uint8_t* out, int channels,
                        float tx, float ty)
{
    CubicPoint<uint8_t>(window, srcStep, pixelStride, out, channels, tx, ty);
}

void warp_cubic_point_16(const uint16_t* window, int srcStep, int pixelStride, uint16_t* out, int channels,
                         float tx, float ty)
{
    CubicPoint<uint16_t>(window, srcStep, pixelStride, out, channels, tx, ty);
}

void warp_cubic_point_32f(const float* window, int srcStep, int pixelStride, float* out, int channels,
                          float tx, float ty)
{
    CubicPoint<float>(window, srcStep, pixelStride, out, channels, tx, ty);
}

void warp_cubic_point_planar_8(const uint8_t* const* planes, int srcStep, ptrdiff_t windowOffset,
                               uint8_t* const* dstPlanes, ptrdiff_t dstOffset, int planeCount, float tx, float ty)
{
    CubicPointPlanar<uint8_t>(planes, srcStep, windowOffset, dstPlanes, dstOffset, planeCount, tx, ty);
}

void warp_cubic_point_planar_16(const uint16_t* const* planes, int srcStep, ptrdiff_t windowOffset,
                                uint16_t* const* dstPlanes, ptrdiff_t dstOffset, int planeCount, float tx,
                                float ty)
{
    CubicPointPlanar<uint16_t>(planes, srcStep, windowOffset, dstPlanes, dstOffset, planeCount, tx, ty);
}

void warp_cubic_point_planar_32f(const float* const* planes, int srcStep, ptrdiff_t windowOffset,
                                 float* const* dstPlanes, ptrdiff_t dstOffset, int planeCount, float tx,
                                 float ty)
{
    CubicPointPlanar<float>(planes, srcStep, windowOffset, dstPlanes, dstOffset, planeCount, tx, ty);
}
