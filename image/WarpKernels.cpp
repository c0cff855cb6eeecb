#include "image/WarpKernelBuild.h"

namespace {
#include "image/WarpKernelTiles.h"
} // namespace

WARP_KERNEL_ALL_TYPES

#define WARP_KERNEL_ADDRESS(name) &name,

const warp_kernel_table warp_generic_kernels = {WARP_KERNEL_LIST(WARP_KERNEL_ADDRESS)};

const warp_kernel_table* warp_generic_kernels_at(int level)
{
    if (level == 0)
        return &warp_generic_kernels;
#ifdef WARP_NATIVE_BUILDS
    static const int processor = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
            __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl"))
            return 2;
        return __builtin_cpu_supports("avx2") ? 1 : 0;
    }();
    if (level == 1 && processor >= 1)
        return &warp_generic_kernels_avx2;
    if (level == 2 && processor >= 2)
        return &warp_generic_kernels_avx512;
#endif
    return nullptr;
}

const warp_kernel_table& warp_generic_kernels_native()
{
    static const warp_kernel_table* const best = [] {
        const warp_kernel_table* table = &warp_generic_kernels;
        for (int level = 1; level <= 2; ++level)
            if (const warp_kernel_table* t = warp_generic_kernels_at(level))
                table = t;
        return table;
    }();
    return *best;
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
