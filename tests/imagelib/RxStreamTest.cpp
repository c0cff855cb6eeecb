// The byte streams against a byte-vector model, and their documented corner values.
#include "imagelib/RxIOFile.h"
#include "imagelib/RxMemFile.h"
#include "tests/imagelib/support/ExternalTools.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace {

// What a stream should hold: seeks past the end leave zero-filled gaps once written.
struct Model {
    std::vector<uint8_t> data;
    long pos = 0;
    bool negativeSeekFails = false; // the C runtime refuses, memory streams clamp to 0

    void Write(const uint8_t* p, size_t n)
    {
        if (data.size() < size_t(pos) + n)
            data.resize(size_t(pos) + n, 0);
        std::memcpy(data.data() + pos, p, n);
        pos += long(n);
    }
    size_t Read(uint8_t* p, size_t size, size_t count)
    {
        if (pos >= long(data.size()))
            return 0;
        const size_t n = std::min(size * count, data.size() - size_t(pos));
        std::memcpy(p, data.data() + pos, n);
        pos += long(n);
        return n / size;
    }
    bool Seek(long offset, int origin)
    {
        const long base = origin == 0 ? 0 : origin == 1 ? pos : long(data.size());
        if (base + offset < 0 && negativeSeekFails)
            return false;
        pos = std::max(0L, base + offset);
        return true;
    }
};

// Runs the same seeded calls on a stream and on its model, comparing every result.
void RunSequence(RxFile& f, Model& m, unsigned seed, bool fileStream)
{
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    int lastKind = 0; // 1 read, 2 write: stdio needs a seek between the two
    for (int step = 0; step < 10000; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        const int op = pick(0, 6);
        const int kind = op <= 1 ? 1 : op <= 3 ? 2 : 0;
        if (kind && lastKind && kind != lastKind) {
            ASSERT_TRUE(f.Seek(0, 1));
            m.Seek(0, 1);
        }
        if (kind)
            lastKind = kind;
        uint8_t out[64], want[64];
        switch (op) {
        case 0: {
            const size_t size = size_t(pick(1, 4)), count = size_t(pick(0, 12));
            const long before = m.pos;
            ASSERT_EQ(f.Read(out, size, count), m.Read(want, size, count));
            ASSERT_EQ(0, std::memcmp(out, want, size_t(m.pos - before)));
            break;
        }
        case 1: ASSERT_EQ(f.GetC(), m.Read(want, 1, 1) ? long(want[0]) : -1L); break;
        case 2: {
            const size_t size = size_t(pick(1, 4)), count = size_t(pick(1, 12));
            for (size_t i = 0; i < size * count; ++i)
                out[i] = uint8_t(pick(0, 255));
            ASSERT_EQ(f.Write(out, size, count), count);
            m.Write(out, size * count);
            break;
        }
        case 3: {
            const uint8_t c = uint8_t(pick(0, 255));
            ASSERT_TRUE(f.PutC(c));
            m.Write(&c, 1);
            break;
        }
        case 4: {
            const int origin = pick(0, 2);
            const long offset = pick(-60, 60);
            ASSERT_EQ(f.Seek(offset, origin), m.Seek(offset, origin));
            lastKind = 0;
            break;
        }
        case 5: ASSERT_EQ(f.Tell(), m.pos); break;
        default:
            ASSERT_EQ(f.Size(), long(m.data.size()));
            if (!fileStream) {
                ASSERT_EQ(f.Eof(), m.pos >= long(m.data.size()));
            }
            break;
        }
    }
}

TEST(RxStreams, StreamsFollowTheModel)
{
    uint8_t stack[16];
    for (int i = 0; i < 16; ++i)
        stack[i] = uint8_t(i * 7);
    const std::string path = rxtest::ScratchDir() + "/stream.bin";
    RxMemFile opened, overStack(stack, sizeof stack); // the latter grows into a block of its own
    RxIOFile file;
    ASSERT_TRUE(opened.Open());
    ASSERT_TRUE(file.Open(path.c_str(), "w+b"));
    Model models[3];
    models[1].data.assign(stack, stack + 16);
    models[2].negativeSeekFails = true;
    RxFile* streams[3] = {&opened, &overStack, &file};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("stream " + std::to_string(i));
        RunSequence(*streams[i], models[i], 37 + unsigned(i), i == 2);
        std::vector<uint8_t> bytes;
        if (i < 2) {
            RxMemFile& mem = static_cast<RxMemFile&>(*streams[i]);
            bytes.assign(mem.GetBuffer(false), mem.GetBuffer(false) + mem.Size());
        } else {
            ASSERT_TRUE(file.Close());
            ASSERT_TRUE(rxtest::ReadFile(path, bytes));
        }
        EXPECT_EQ(bytes, models[i].data);
    }
}

TEST(RxStreams, DocumentedValues)
{
    uint8_t hundred[100] = {};
    uint8_t out[120];
    {
        RxMemFile f(hundred, sizeof hundred);
        EXPECT_EQ(f.Size(), 100);
        EXPECT_EQ(f.Read(out, 3, 40), 33u);
        EXPECT_EQ(f.Tell(), 100);
        EXPECT_TRUE(f.Eof());
        EXPECT_EQ(f.GetC(), -1);
        EXPECT_TRUE(f.Seek(-10, 0));
        EXPECT_EQ(f.Tell(), 0);
        EXPECT_FALSE(f.Seek(5, 3));
        EXPECT_EQ(f.Read(out, size_t(1) << 63, 4), 0u) << "size x count overflows";
        EXPECT_EQ(f.Write(out, size_t(1) << 63, 4), 0u);
        EXPECT_TRUE(f.Close());
        EXPECT_EQ(f.GetBuffer(false), hundred) << "a caller's buffer stays";
        EXPECT_EQ(f.Size(), 100);
    }
    RxMemFile none;
    RxIOFile noFile;
    EXPECT_EQ(none.Tell(), -1);
    EXPECT_EQ(noFile.Tell(), 0);
    EXPECT_FALSE(none.PutC(1));
}

// Copies and handed-in streams must end without a double free or a closed caller FILE.
TEST(RxStreams, CopiesEndCleanly)
{
    RxMemFile owner;
    ASSERT_TRUE(owner.Open());
    ASSERT_EQ(owner.Write("abcdef", 1, 6), 6u);
    {
        RxMemFile copy(owner);
        RxMemFile assigned;
        assigned = owner;
        ASSERT_TRUE(copy.Seek(0, 0));
        EXPECT_EQ(copy.GetC(), 'a');
        EXPECT_EQ(assigned.Size(), 6);
        EXPECT_NE(copy.GetBuffer(false), owner.GetBuffer(false));
    }
    const std::string path = rxtest::ScratchDir() + "/handed.bin";
    FILE* fp = std::fopen(path.c_str(), "w+b");
    ASSERT_NE(fp, nullptr);
    {
        RxIOFile handed(fp);
        RxIOFile copy(handed);
        EXPECT_TRUE(copy.PutC('x'));
        EXPECT_TRUE(handed.Close());
    }
    EXPECT_EQ(std::fputc('y', fp), 'y') << "the FILE is still open";
    EXPECT_EQ(std::fclose(fp), 0);
    {
        RxIOFile opened;
        ASSERT_TRUE(opened.Open(path.c_str(), "rb"));
        RxIOFile copy(opened);
        RxIOFile assigned;
        assigned = opened;
        EXPECT_EQ(copy.GetC(), 'x');
    }
}

} // namespace
