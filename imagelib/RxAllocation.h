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

// Whether uncompressed pixel data of declaredBytes may be decoded from a file that holds
// heldBytes of it: a truncated file still decodes the rows it has, but a few bytes never cost
// more than 64 MiB, nor more than 64 times what they hold. Callers also ask for one whole row.
bool RxMayDecodeDeclared(uint64_t declaredBytes, uint64_t heldBytes);
