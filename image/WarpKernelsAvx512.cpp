// The generic warp kernels built for AVX-512 (twice the lanes, masked loop ends).
#include "image/WarpKernelBuild.h"

#ifdef WARP_NATIVE_BUILDS
#pragma GCC target("avx512f,avx512bw,avx512dq,avx512vl")
namespace avx512 {
namespace {
#include "image/WarpKernelTiles.h"

WARP_KERNEL_ALL_TYPES
} // namespace
} // namespace avx512

#define WARP_KERNEL_ADDRESS_AVX512(name) &avx512::name,
const warp_kernel_table warp_generic_kernels_avx512 = {WARP_KERNEL_LIST(WARP_KERNEL_ADDRESS_AVX512)};
#endif
