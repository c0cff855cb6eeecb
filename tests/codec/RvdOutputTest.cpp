#include "codec/core/rvd_output.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
// Records every flushed buffer as one chunk.
class recording_output : public rvd_output {
public:
    std::vector<std::vector<uint8_t>> flushes;
    int buffered() const { return static_cast<int>(next_buf - buffer); }

protected:
    int flush_buf() override
    {
        flushes.emplace_back(buffer, next_buf);
        int n = static_cast<int>(next_buf - buffer);
        next_buf = buffer;
        return n;
    }
};

std::vector<uint8_t> pattern(int n)
{
    std::vector<uint8_t> v(static_cast<size_t>(n));
    for (int i = 0; i < n; i++)
        v[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 7 + 3);
    return v;
}
} // namespace

TEST(RvdOutput, MultiByteValuesAreBigEndianAndSplitAcrossAFlush)
{
    recording_output out;
    std::vector<uint8_t> fill = pattern(511);
    out.write(fill.data(), 511);
    EXPECT_TRUE(out.flushes.empty());
    EXPECT_EQ(2, out.put(static_cast<uint16_t>(0x1234)));
    ASSERT_EQ(1u, out.flushes.size());
    ASSERT_EQ(512u, out.flushes[0].size());
    EXPECT_EQ(0x12, out.flushes[0][511]);
    EXPECT_EQ(1, out.buffered()); // 0x34 waits in the new buffer

    recording_output out2;
    EXPECT_EQ(4, out2.put(static_cast<uint32_t>(0x12345678)));
    EXPECT_EQ(1, out2.put(static_cast<uint8_t>(0x9A)));
    std::vector<uint8_t> fill2 = pattern(507);
    out2.write(fill2.data(), 507);
    ASSERT_EQ(1u, out2.flushes.size());
    std::vector<uint8_t> head(out2.flushes[0].begin(), out2.flushes[0].begin() + 5);
    EXPECT_EQ((std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78, 0x9A}), head);
}

TEST(RvdOutput, WriteFlushesWholeBuffersAndKeepsTheRest)
{
    std::vector<uint8_t> data = pattern(1536);
    recording_output a;
    a.write(data.data(), 1000);
    ASSERT_EQ(1u, a.flushes.size());
    EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + 512), a.flushes[0]);
    EXPECT_EQ(488, a.buffered());

    recording_output b;
    b.write(data.data(), 1536);
    ASSERT_EQ(3u, b.flushes.size());
    std::vector<uint8_t> joined;
    for (auto& f : b.flushes)
        joined.insert(joined.end(), f.begin(), f.end());
    EXPECT_EQ(data, joined);
    EXPECT_EQ(0, b.buffered());

    // Mixed puts and writes reassemble in order across buffer boundaries.
    recording_output c;
    std::vector<uint8_t> expect;
    for (int round = 0; round < 40; round++) {
        c.put(static_cast<uint16_t>(0xA000 + round));
        expect.push_back(0xA0);
        expect.push_back(static_cast<uint8_t>(round));
        c.write(data.data(), round * 13);
        expect.insert(expect.end(), data.begin(), data.begin() + round * 13);
    }
    std::vector<uint8_t> got;
    for (auto& f : c.flushes)
        got.insert(got.end(), f.begin(), f.end());
    for (auto& f : c.flushes)
        EXPECT_EQ(512u, f.size());
    EXPECT_EQ(expect.size(), got.size() + static_cast<size_t>(c.buffered()));
    EXPECT_TRUE(std::equal(got.begin(), got.end(), expect.begin()));
}

TEST(RvdOutput, CountsBelowOneWriteNothing)
{
    recording_output out;
    uint8_t byte = 1;
    out.write(&byte, 0);
    out.write(&byte, -5);
    EXPECT_EQ(0, out.buffered());
    EXPECT_TRUE(out.flushes.empty());
}
