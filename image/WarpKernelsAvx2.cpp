// The generic warp kernels built for AVX2.
#include "image/WarpKernelBuild.h"

#ifdef WARP_NATIVE_BUILDS
#pragma GCC target("avx2")
namespace avx2 {
namespace {
#include "image/WarpKernelTiles.h"

WARP_KERNEL_ALL_TYPES
} // namespace
} // namespace avx2

#define WARP_KERNEL_ADDRESS_AVX2(name) &avx2::name,
const warp_kernel_table warp_generic_kernels_avx2 = {WARP_KERNEL_LIST(WARP_KERNEL_ADDRESS_AVX2)};
#endif
