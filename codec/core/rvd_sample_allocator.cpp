#include "codec/core/rvd_sample_allocator.h"

#include "codec/core/rvd_params.h"

#include <limits>
#include <new>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace {
// Large blocks start on a 2 MiB boundary and are offered to the kernel as huge pages:
// the lines are first written by whichever threads decode into them, and thousands of
// small-page faults from several threads at once queue on the same page-table lock.
constexpr std::size_t huge_page = std::size_t(1) << 21;
constexpr std::uint64_t huge_block = std::uint64_t(4) << 20;

std::align_val_t block_alignment(bool huge)
{
    return std::align_val_t{huge ? huge_page : 16};
}
} // namespace

rvd_sample_allocator::~rvd_sample_allocator()
{
    if (block != nullptr)
        ::operator delete[](block, block_alignment(huge));
}

void rvd_sample_allocator::restart()
{
    pre_creating = true;
    bytes_reserved = 0;
    bytes_used = 0;
}

void rvd_sample_allocator::pre_alloc(std::uint64_t num_bytes)
{
    if (!pre_creating)
        rv_raise_core_error("Attempting to reserve sample storage after the sample allocator "
                            "has been finalized.");
    if (num_bytes > std::numeric_limits<std::uint64_t>::max() - bytes_reserved)
        throw std::bad_alloc();
    bytes_reserved += num_bytes;
}

void rvd_sample_allocator::finalize()
{
    pre_creating = false;
    bytes_used = 0;
    if (bytes_reserved <= block_size)
        return;
    // The extra 24 bytes keep kernels that read a whole 16-byte word past a line's end
    // inside the allocation.
    constexpr std::uint64_t slack = 24;
    if (bytes_reserved > std::numeric_limits<std::size_t>::max() - slack)
        throw std::bad_alloc();
    if (block != nullptr) {
        ::operator delete[](block, block_alignment(huge));
        block = nullptr;
        block_size = 0;
    }
    huge = bytes_reserved >= huge_block;
    block = static_cast<std::uint8_t*>(
        ::operator new[](std::size_t(bytes_reserved + slack), block_alignment(huge)));
    block_size = bytes_reserved;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (huge)
        ::madvise(block, std::size_t(bytes_reserved + slack) & ~(huge_page - 1), MADV_HUGEPAGE);
#endif
}

void* rvd_sample_allocator::alloc_bytes(std::uint64_t num_bytes)
{
    if (pre_creating)
        rv_raise_core_error("Attempting to take sample storage before the sample allocator "
                            "has been finalized.");
    if (num_bytes > block_size - bytes_used)
        rv_raise_core_error("Attempting to take more sample storage than was reserved.");
    void* result = block + bytes_used;
    bytes_used += num_bytes;
    return result;
}
