// Pixel-sized blocks of the raster library (bitmaps, alpha planes, row buffers) are taken
// through RxAllocate, so what a decode cost can be read back: RxAllocatedBytes counts every
// byte taken since the process started and never decreases. Release with free.
#pragma once

#include "imagelib/RxExport.h"

#include <cstddef>
#include <cstdint>

// malloc, or calloc when zeroed.
void* RxAllocate(size_t size, bool zeroed = false);
RX_EXPORT uint64_t RxAllocatedBytes();
