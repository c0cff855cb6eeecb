#include "imagelib/RxAllocation.h"

#include <atomic>
#include <cstdlib>

namespace {
std::atomic<uint64_t> allocated{0};
}

void* RxAllocate(size_t size, bool zeroed)
{
    allocated.fetch_add(size, std::memory_order_relaxed);
    return zeroed ? std::calloc(1, size) : std::malloc(size);
}

uint64_t RxAllocatedBytes()
{
    return allocated.load(std::memory_order_relaxed);
}

bool RxMayDecodeDeclared(uint64_t declaredBytes, uint64_t heldBytes)
{
    constexpr uint64_t kFreeBytes = uint64_t(64) << 20, kMostExpansion = 64;
    return declaredBytes <= kFreeBytes || declaredBytes / kMostExpansion <= heldBytes;
}
