#include "codec/core/rvd_line_buf.h"
#include "tests/codec/support/codec_messages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <new>
#include <vector>

namespace {

std::uintptr_t address(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

TEST(LineBuf, ShapeOfA16BitLineFollowsTheWorkedExample)
{
    rvd_sample_allocator alloc;
    rvd_line_buf line;
    line.pre_create(&alloc, 10, true, true, 1, 3);
    EXPECT_EQ(line.get_right_extension(), 8);
    EXPECT_EQ(rvd_line_buf::left_part_bytes(1, true), 16u);
    EXPECT_EQ(rvd_line_buf::body_bytes(10, 8, true), 48u);
    // Reserved twice over; only the lower bound is relied upon.
    EXPECT_GE(alloc.get_bytes_reserved(), 64u);
    EXPECT_TRUE(line.is_pre_created());
    EXPECT_EQ(line.get_buf16(), nullptr);

    alloc.finalize();
    line.create();
    EXPECT_FALSE(line.is_pre_created());
    ASSERT_NE(line.get_buf16(), nullptr);
    EXPECT_EQ(line.get_buf32(), nullptr); // the other sample size gives no storage
    EXPECT_EQ(address(line.get_buf16()) - address(alloc.get_block()), 16u);
    EXPECT_EQ(alloc.get_bytes_used(), 64u);

    // 32-bit lines raise to 4 samples: 16 bytes either way.
    rvd_sample_allocator alloc32;
    rvd_line_buf wide;
    wide.pre_create(&alloc32, 5, false, false, 0, 1);
    EXPECT_EQ(wide.get_right_extension(), 4);
    EXPECT_EQ(rvd_line_buf::body_bytes(5, 4, false), 48u);
    EXPECT_EQ(rvd_line_buf::left_part_bytes(5, false), 32u);
}

TEST(LineBuf, LinesAreAlignedDisjointAndInsideTheBlock)
{
    rvd_sample_allocator alloc;
    struct shape {
        int width, left, right;
        bool shorts;
    };
    const shape shapes[] = {{1, 0, 0, true},  {10, 1, 3, true},  {37, 7, 9, false},
                            {0, 0, 0, false}, {64, 255, 248, true}, {3, 4, 252, false},
                            {129, 2, 2, true}, {17, 1, 1, false}};
    std::vector<rvd_line_buf> lines(std::size(shapes));
    for (std::size_t i = 0; i < lines.size(); ++i)
        lines[i].pre_create(&alloc, shapes[i].width, i % 2 == 0, shapes[i].shorts,
                            shapes[i].left, shapes[i].right);
    alloc.finalize();
    for (auto& l : lines)
        l.create();

    // Fill every line with its index over whole 16-byte words, extensions included
    // (AddressSanitizer checks the block's bounds), then check that no line overwrote
    // another.
    auto span = [](const rvd_line_buf& l, int& lo, int& hi) {
        int size = l.is_shorts() ? 2 : 4;
        lo = -int(rvd_line_buf::left_part_bytes(l.get_left_extension(), l.is_shorts())) / size;
        hi = int(rvd_line_buf::body_bytes(l.get_width(), l.get_right_extension(), l.is_shorts())) /
             size;
        EXPECT_GE(hi, l.get_width() + l.get_right_extension());
        EXPECT_LE(lo, -l.get_left_extension());
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto& l = lines[i];
        int lo, hi;
        span(l, lo, hi);
        if (l.is_shorts()) {
            EXPECT_EQ(address(l.get_buf16()) % 16, 0u);
            for (int n = lo; n < hi; ++n)
                l.get_buf16()[n] = rvd_sample16(i);
        } else {
            EXPECT_EQ(address(l.get_buf32()) % 16, 0u);
            for (int n = lo; n < hi; ++n)
                l.get_buf32()[n].ival = int(i);
        }
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto& l = lines[i];
        int lo, hi;
        span(l, lo, hi);
        for (int n = lo; n < hi; ++n) {
            int v = l.is_shorts() ? l.get_buf16()[n] : l.get_buf32()[n].ival;
            ASSERT_EQ(v, int(i)) << "line " << i << " sample " << n;
        }
    }
    EXPECT_LE(alloc.get_bytes_used(), alloc.get_size());
}

TEST(LineBuf, SecondSetReusesTheBlockAndCreateWithoutPreCreateChangesNothing)
{
    rvd_sample_allocator alloc;
    rvd_line_buf a, b;
    a.pre_create(&alloc, 100, false, false, 2, 2);
    alloc.finalize();
    a.create();
    const void* first_block = alloc.get_block();
    std::uint64_t first_size = alloc.get_size();

    alloc.restart();
    EXPECT_TRUE(alloc.is_pre_creating());
    b.pre_create(&alloc, 60, false, true, 2, 2);
    alloc.finalize();
    b.create();
    EXPECT_EQ(alloc.get_block(), first_block);
    EXPECT_EQ(alloc.get_size(), first_size);

    // A larger set takes a new, larger block.
    alloc.restart();
    rvd_line_buf c;
    c.pre_create(&alloc, 1000, false, false, 0, 0);
    alloc.finalize();
    c.create();
    EXPECT_GT(alloc.get_size(), first_size);

    rvd_line_buf plain;
    plain.create();
    EXPECT_EQ(plain.get_width(), 0);
    EXPECT_EQ(plain.get_flags(), 0);
    EXPECT_EQ(plain.get_buf16(), nullptr);
    EXPECT_EQ(plain.get_buf32(), nullptr);
    std::uint64_t used = alloc.get_bytes_used();
    c.create(); // already created: no second slice
    EXPECT_EQ(alloc.get_bytes_used(), used);
}

TEST(LineBuf, HostileSizesFailCleanly)
{
    rvd_sample_allocator alloc;
    rvd_line_buf line;
    codec_test::error_text([&] { line.pre_create(&alloc, -1, true, true, 0, 0); });
    codec_test::error_text([&] { line.pre_create(&alloc, 4, true, true, 256, 0); });
    codec_test::error_text([&] { line.pre_create(&alloc, 4, true, true, 0, 249); });
    codec_test::error_text([&] { line.pre_create(nullptr, 4, true, true, 0, 0); });
    EXPECT_EQ(alloc.get_bytes_reserved(), 0u);

    // The largest widths reserve without wrapping the count.
    line.pre_create(&alloc, std::numeric_limits<int>::max(), false, false, 255, 252);
    EXPECT_GT(alloc.get_bytes_reserved(), 2 * 4 * std::uint64_t(std::numeric_limits<int>::max()));
    EXPECT_THROW(alloc.pre_alloc(std::numeric_limits<std::uint64_t>::max()), std::bad_alloc);

    rvd_sample_allocator huge;
    huge.pre_alloc(std::numeric_limits<std::uint64_t>::max() - 8);
    EXPECT_THROW(huge.finalize(), std::bad_alloc);

    // Taking more than the block holds, or before it exists, is an error, not an overrun.
    rvd_sample_allocator small;
    small.pre_alloc(32);
    codec_test::error_text([&] { small.alloc_bytes(16); });
    small.finalize();
    EXPECT_NE(small.alloc_bytes(32), nullptr);
    codec_test::error_text([&] { small.alloc_bytes(1); });
    codec_test::error_text([&] { small.pre_alloc(1); });
}

} // namespace
