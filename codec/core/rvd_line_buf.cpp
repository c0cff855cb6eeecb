#include "codec/core/rvd_line_buf.h"

#include "codec/core/rvd_params.h"

#include <limits>
#include <new>

namespace {
std::uint64_t round16(std::uint64_t bytes) { return (bytes + 15) & ~std::uint64_t(15); }
} // namespace

std::uint64_t rvd_line_buf::left_part_bytes(int left_extension, bool use_shorts)
{
    return round16(std::uint64_t(left_extension) * (use_shorts ? 2u : 4u));
}

std::uint64_t rvd_line_buf::body_bytes(int width, int raised_right_extension, bool use_shorts)
{
    // Both operands are below 2^31 and the product below 2^34: no 64-bit overflow.
    return round16((std::uint64_t(width) + std::uint64_t(raised_right_extension)) *
                   (use_shorts ? 2u : 4u));
}

void rvd_line_buf::pre_create(rvd_sample_allocator* allocator, int width, bool absolute,
                              bool use_shorts, int left_extension, int right_extension)
{
    if (allocator == nullptr || width < 0 || left_extension < 0 || left_extension > 255 ||
        right_extension < 0 || right_extension > 255)
        rv_raise_core_error("Invalid sample line dimensions or extensions requested.");
    // Raised to whole 16-byte words; the result must still fit the extension's byte.
    int step = use_shorts ? 8 : 4;
    int raised = (right_extension + step - 1) & ~(step - 1);
    if (raised > 255)
        rv_raise_core_error("Invalid sample line dimensions or extensions requested.");
    this->width = width;
    this->left_extension = std::uint8_t(left_extension);
    this->right_extension = std::uint8_t(raised);
    flags = std::uint8_t((absolute ? flag_absolute : 0) | (use_shorts ? flag_shorts : 0));
    pre_created = 1;
    storage.allocator = allocator;
    std::uint64_t need = left_part_bytes(left_extension, use_shorts) +
                         body_bytes(width, raised, use_shorts);
    allocator->pre_alloc(need);
    allocator->pre_alloc(need);
}

void rvd_line_buf::create()
{
    if (!pre_created)
        return;
    bool shorts = (flags & flag_shorts) != 0;
    rvd_sample_allocator* allocator = storage.allocator;
    std::uint64_t left = left_part_bytes(left_extension, shorts);
    std::uint64_t body = body_bytes(width, right_extension, shorts);
    auto* start = static_cast<std::uint8_t*>(allocator->alloc_bytes(left + body));
    storage.buf = start + left;
    pre_created = 0;
}
