// The decode tool's row-by-row output: a PGX file written row by row holds the bytes the
// whole-image writer gives, and a file left unfinished (a failed decode) is removed, so
// a partial image never stands as a result.
// The tool's input held in memory holds the file's bytes however many threads read it.
#include "codec/core/rvd_compressed_source.h"
#include "tests/codec/support/test_sources.h"
#include "tools/decode/decode_input.h"
#include "tools/decode/pgx_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string scratch(const std::string& name) { return std::string(ORBEL_BINARY_DIR) + "/decode_rows_" + name; }

bool exists(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f != nullptr)
        std::fclose(f);
    return f != nullptr;
}

TEST(DecodeRows, RowByRowFilesMatchTheWholeImageWriter)
{
    // One depth per sample size, signed and not, with values that need every byte.
    for (int depth : {5, 8, 12, 16, 20, 31}) {
        pgx_image img;
        img.width = 3;
        img.height = 2;
        img.depth = depth;
        img.is_signed = depth % 2 == 0;
        const int64_t half = int64_t(1) << (depth - 1);
        img.samples = {0, 1, -1, int32_t(half - 1), int32_t(-half), int32_t(0x5A5A5A5A & (2 * half - 1))};
        const std::string path = scratch(std::to_string(depth) + ".pgx");
        pgx_row_writer w(path, img);
        w.put(img.samples.data());
        w.put(img.samples.data() + 3);
        w.finish();
        EXPECT_EQ(codec_test::read_file(path), format_pgx(img)) << depth;
        std::remove(path.c_str());
    }
}

TEST(DecodeRows, AnExistingFileIsWrittenOverAndCutToTheImage)
{
    pgx_image img;
    img.width = 4;
    img.height = 3;
    img.depth = 12;
    for (int i = 0; i < 12; i++)
        img.samples.push_back(i * 300);
    const std::string path = scratch("over.pgx");
    // Longer, shorter and empty earlier files: none of their bytes may survive.
    for (size_t before : {size_t(5000), size_t(3), size_t(0)}) {
        {
            std::FILE* f = std::fopen(path.c_str(), "wb");
            ASSERT_NE(f, nullptr);
            const std::vector<uint8_t> junk(before, 0xEE);
            if (!junk.empty())
                std::fwrite(junk.data(), 1, junk.size(), f);
            std::fclose(f);
        }
        pgx_row_writer w(path, img);
        for (int r = 0; r < 3; r++)
            w.put(img.samples.data() + 4 * r);
        w.finish();
        EXPECT_EQ(codec_test::read_file(path), format_pgx(img)) << before;
    }
    // A decode that fails over an earlier file leaves no file, as a fresh one would.
    {
        pgx_row_writer w(path, img);
        w.put(img.samples.data());
    }
    EXPECT_FALSE(exists(path));
}

TEST(DecodeRows, ALargeInputReadInPartsHoldsEveryByte)
{
    // Over the size read in parts, and not a whole number of pages or parts.
    std::vector<uint8_t> file((size_t(4) << 20) + 12345);
    uint32_t x = 12345;
    for (uint8_t& b : file) {
        x = x * 1103515245u + 12345u;
        b = uint8_t(x >> 24);
    }
    file[0] = 0xFF;
    file[1] = 0x4F;
    const std::string path = scratch("large.j2k");
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(file.data(), 1, file.size(), f), file.size());
        std::fclose(f);
    }
    for (int readers : {1, 3, 8}) {
        decode_input input(path, decode_source_kind::memory, readers);
        auto source = input.open_source();
        std::vector<uint8_t> back(file.size() + 1);
        ASSERT_EQ(source->read(back.data(), int(back.size())), int(file.size())) << readers;
        back.pop_back();
        EXPECT_TRUE(back == file) << readers;
    }
    std::remove(path.c_str());
}

TEST(DecodeRows, UnfinishedFilesAreRemovedAndMissingRowsAreAnError)
{
    pgx_image img;
    img.width = 2;
    img.height = 2;
    img.depth = 8;
    const int32_t row[2] = {1, 2};
    const std::string path = scratch("short.pgx");
    {
        pgx_row_writer w(path, img);
        w.put(row);
        EXPECT_TRUE(exists(path));
        EXPECT_THROW(w.finish(), pgx_error);
    }
    EXPECT_FALSE(exists(path));
    {
        pgx_row_writer w(path, img);
        w.put(row);
        w.put(row);
        EXPECT_THROW(w.put(row), pgx_error);
    }
    EXPECT_FALSE(exists(path));
}

} // namespace
