// The SSSE3 variant: its slots hold the SSE2 family's kernels, which compute identically and
// need nothing beyond SSE2.
#include "image/WarpSimdRows.h"

const warp_kernel_table warp_ssse3_kernels = {WARP_SIMD_FORMATS(WARP_SSE2_FAMILY_SLOTS)};

WARP_VARIANT_DEFINE(ssse3, warp_ssse3_kernels)
