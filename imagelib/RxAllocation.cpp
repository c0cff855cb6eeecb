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
