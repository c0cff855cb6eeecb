// The generic row kernels as a plain walk, pixel after pixel along each row, with the
// arithmetic of the warp's rules written out once: the oracle the tiled kernels must match
// bit for bit.
#pragma once

#include "image/WarpKernels.h"

namespace warpref {

// Laid out like warp_generic_kernels.
extern const warp_kernel_table kernels;

} // namespace warpref
