// The data-bin cache against a reference model, and its listed edge cases.
#include "codec/core/rvd_message.h"
#include "codec/jp2/rvd_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <list>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct CodecError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

uint8_t sourceByte(int cls, int64_t cs, int64_t id, int64_t pos)
{
    uint64_t h = uint64_t(cls) * 0x9E3779B97F4A7C15ull ^ uint64_t(cs) * 0xC2B2AE3D27D4EB4Full ^
                 uint64_t(id) * 0x165667B19E3779F9ull ^ uint64_t(pos) * 0x27D4EB2F165667C5ull;
    return uint8_t(h >> 29);
}

std::vector<uint8_t> sourceBytes(int cls, int64_t cs, int64_t id, int offset, int n)
{
    std::vector<uint8_t> out(size_t(n) + 1);
    for (int i = 0; i < n; ++i)
        out[size_t(i)] = sourceByte(cls, cs, id, offset + i);
    return out;
}

// Per bin a byte vector, a coverage bitmap and the final flag; per class a recency list.
struct ModelBin {
    std::vector<uint8_t> bytes;
    std::vector<bool> have;
    bool final = false;
    bool mark = false;
    int contiguous() const
    {
        size_t i = 0;
        while (i < have.size() && have[i])
            ++i;
        return int(i);
    }
    bool complete() const
    {
        size_t c = size_t(contiguous());
        return final && std::find(have.begin() + long(c), have.end(), true) == have.end();
    }
};

struct Model {
    std::map<std::tuple<int, int64_t, int64_t>, ModelBin> bins;
    std::map<std::pair<int, int64_t>, std::list<int64_t>> recency; // oldest first
    std::set<int64_t> codestreams;

    void add(int cls, int64_t cs, int64_t id, int offset, int n, bool final, bool newest, bool markAug)
    {
        if (cls > 4 || (n == 0 && !final))
            return;
        if (cls == 4)
            cs = 0;
        codestreams.insert(cs);
        auto key = std::make_tuple(cls, cs, id);
        auto& order = recency[{cls, cs}];
        bool isNew = !bins.count(key);
        ModelBin& b = bins[key];
        if (isNew) {
            if (newest)
                order.push_back(id);
            else
                order.push_front(id);
        } else if (newest) {
            order.remove(id);
            order.push_back(id);
        }
        if (final)
            b.final = true;
        size_t end = size_t(offset) + size_t(n);
        if (b.have.size() < end) {
            b.have.resize(end, false);
            b.bytes.resize(end, 0);
        }
        bool grew = false;
        for (size_t i = size_t(offset); i < end; ++i) {
            grew |= !b.have[i];
            b.have[i] = true;
            b.bytes[i] = sourceByte(cls, cs, id, int64_t(i));
        }
        if (grew && markAug)
            b.mark = true;
    }
    ModelBin* find(int cls, int64_t cs, int64_t id)
    {
        if (cls == 4)
            cs = 0;
        auto it = bins.find(std::make_tuple(cls, cs, id));
        return it == bins.end() ? nullptr : &it->second;
    }
    void move(int cls, int64_t cs, int64_t id, bool newest)
    {
        if (!find(cls, cs, id))
            return;
        auto& order = recency[{cls, cls == 4 ? 0 : cs}];
        order.remove(id);
        if (newest)
            order.push_back(id);
        else
            order.push_front(id);
    }
};

const int64_t kCodestreams[] = {0, 5, int64_t(1) << 40};
const int64_t kIds[] = {0, 1, 7, 127, 128, 200, 5000, 16383, 16384, 300000, (int64_t(1) << 35) + 3};

class CacheVsModel {
public:
    explicit CacheVsModel(uint32_t seed) : rng(seed) {}

    void step()
    {
        int op = pick(100);
        int cls = pick(40) == 0 ? 5 + pick(3) : pick(5);
        int64_t cs = kCodestreams[pick(3)];
        int64_t id = kIds[pick(11)];
        if (op < 60) {
            int offset = pick(4) == 0 ? 0 : pick(300);
            int n = pick(8) == 0 ? 0 : 1 + pick(100);
            bool final = pick(5) == 0, newest = pick(4) != 0, markAug = pick(3) == 0;
            auto data = sourceBytes(cls, cls == 4 ? 0 : cs, id, offset, n);
            cache.add_to_databin(cls, cs, id, data.data(), offset, n, final, newest, markAug);
            model.add(cls, cs, id, offset, n, final, newest, markAug);
        } else if (op < 67) {
            cache.promote_databin(cls, cs, id);
            if (cls <= 4)
                model.move(cls, cs, id, true);
        } else if (op < 74) {
            cache.demote_databin(cls, cs, id);
            if (cls <= 4)
                model.move(cls, cs, id, false);
        } else if (op < 82) {
            bool m = pick(2) == 0;
            ModelBin* b = cls <= 4 ? model.find(cls, cs, id) : nullptr;
            EXPECT_EQ(cache.mark_databin(cls, cs, id, m), b ? b->mark : false);
            if (b)
                b->mark = m;
        } else if (op < 84) {
            cache.set_all_marks();
            for (auto& e : model.bins)
                e.second.mark = true;
        } else if (op < 86) {
            cache.clear_all_marks();
            for (auto& e : model.bins)
                e.second.mark = false;
        }
        checkBin(cls, cs, id);
        checkBin(pick(5), kCodestreams[pick(3)], kIds[pick(11)]);
        checkOrder(pick(5), kCodestreams[pick(3)]);
    }

    void checkAll()
    {
        for (int cls = 0; cls < 5; ++cls)
            for (int64_t cs : kCodestreams) {
                checkOrder(cls, cs);
                for (int64_t id : kIds)
                    checkBin(cls, cs, id);
            }
        std::vector<int64_t> got;
        for (int64_t c = cache.get_next_codestream(-1); c >= 0; c = cache.get_next_codestream(c))
            got.push_back(c);
        EXPECT_EQ(got, std::vector<int64_t>(model.codestreams.begin(), model.codestreams.end()));
    }

    void checkBin(int cls, int64_t cs, int64_t id)
    {
        ModelBin* b = cls <= 4 ? model.find(cls, cs, id) : nullptr;
        bool complete = true;
        int len = cache.get_databin_length(cls, cs, id, &complete);
        ASSERT_EQ(len, b ? b->contiguous() : 0);
        ASSERT_EQ(complete, b ? b->complete() : false);
        std::vector<uint8_t> buf(400, 0xEE);
        int maxBytes = pick(2) ? 400 : pick(120);
        int n = cache.get_databin_prefix(cls, cs, id, buf.data(), maxBytes);
        ASSERT_EQ(n, std::min(len, maxBytes));
        if (b) {
            ASSERT_TRUE(std::equal(buf.begin(), buf.begin() + n, b->bytes.begin()));
        }
        cache.set_read_scope(cls, cs, id);
        int pos = pick(len + 20);
        cache.seek(pos);
        int expectPos = std::min(pos, len);
        ASSERT_EQ(cache.get_pos(), b ? expectPos : 0);
        int want = pick(150);
        n = cache.read(buf.data(), want);
        ASSERT_EQ(n, b ? std::min(want, len - expectPos) : 0);
        if (b) {
            ASSERT_TRUE(std::equal(buf.begin(), buf.begin() + n, b->bytes.begin() + expectPos));
        }
    }

    void checkOrder(int cls, int64_t cs)
    {
        auto it = model.recency.find({cls, cls == 4 ? 0 : cs});
        std::vector<int64_t> expect;
        if (it != model.recency.end())
            expect.assign(it->second.begin(), it->second.end());
        for (bool onlyMarked : {false, true}) {
            std::vector<int64_t> want;
            for (int64_t id : expect)
                if (!onlyMarked || model.find(cls, cs, id)->mark)
                    want.push_back(id);
            std::vector<int64_t> oldest, newest;
            for (int64_t id = cache.get_next_databin_oldest_first(cls, cs, -1, onlyMarked); id >= 0 && oldest.size() < 100;
                 id = cache.get_next_databin_oldest_first(cls, cs, id, onlyMarked))
                oldest.push_back(id);
            for (int64_t id = cache.get_next_databin_newest_first(cls, cs, -1, onlyMarked); id >= 0 && newest.size() < 100;
                 id = cache.get_next_databin_newest_first(cls, cs, id, onlyMarked))
                newest.push_back(id);
            ASSERT_EQ(oldest, want);
            std::reverse(newest.begin(), newest.end());
            ASSERT_EQ(newest, want);
        }
    }

    int pick(int n) { return n <= 0 ? 0 : int(rng() % uint32_t(n)); }

    std::mt19937 rng;
    rvd_cache cache;
    Model model;
};

} // namespace

TEST(RvdCache, MatchesTheReferenceModelOverRandomOperations)
{
    const uint32_t seed = 20261206;
    CacheVsModel t(seed);
    for (int i = 0; i < 20000; ++i) {
        t.step();
        if (i % 2000 == 1999)
            t.checkAll();
        ASSERT_FALSE(::testing::Test::HasFailure()) << "seed " << seed << ", step " << i;
    }
    t.checkAll();
    EXPECT_GT(t.cache.get_memory_in_use(), 0u);
    t.cache.close();
    EXPECT_EQ(t.cache.get_memory_in_use(), 0u);
    EXPECT_EQ(t.cache.get_next_codestream(-1), -1);
}

TEST(RvdCache, ListedEdgeCases)
{
    rvd_cache c;
    uint8_t data[64];
    for (int i = 0; i < 64; ++i)
        data[i] = uint8_t(i + 1);
    bool complete = true;
    // Bytes 10-19, then 0-9.
    c.add_to_databin(0, 0, 3, data + 10, 10, 10, false);
    EXPECT_EQ(c.get_databin_length(0, 0, 3, &complete), 0);
    EXPECT_FALSE(complete);
    c.add_to_databin(0, 0, 3, data, 0, 10, true);
    EXPECT_EQ(c.get_databin_length(0, 0, 3, &complete), 20);
    EXPECT_TRUE(complete);
    // Final on the last message with a gap earlier: not complete until the gap fills.
    c.add_to_databin(1, 0, 2, data + 30, 30, 5, true);
    c.add_to_databin(1, 0, 2, data, 0, 20, false);
    EXPECT_EQ(c.get_databin_length(1, 0, 2, &complete), 20);
    EXPECT_FALSE(complete);
    c.add_to_databin(1, 0, 2, data + 20, 20, 10, false);
    EXPECT_EQ(c.get_databin_length(1, 0, 2, &complete), 35);
    EXPECT_TRUE(complete);
    // Bin 200 grows the tree above its leaf.
    c.add_to_databin(0, 0, 200, data, 0, 4, false);
    EXPECT_EQ(c.get_databin_length(0, 0, 200), 4);
    // A zero-length, non-final write stores nothing.
    c.add_to_databin(0, 0, 9, data, 0, 0, false);
    EXPECT_EQ(c.get_next_databin_newest_first(0, 0, 200, false), 3);
    EXPECT_EQ(c.get_next_databin_newest_first(0, 0, 3, false), -1);

    rvd_cache d;
    d.add_to_databin(3, 5, 0, data, 0, 8, true);
    EXPECT_EQ(d.get_next_codestream(-1), 5);
    EXPECT_EQ(d.get_next_codestream(5), -1);
    d.add_to_databin(4, 3, 0, data, 0, 8, true);
    EXPECT_EQ(d.get_databin_length(4, 0, 0), 8);
    EXPECT_EQ(d.get_next_codestream(-1), 0);
    // Class above 4 is ignored.
    d.add_to_databin(5, 5, 0, data, 0, 8, true);
    EXPECT_EQ(d.get_databin_length(5, 5, 0), 0);

    uint8_t buf[16];
    d.set_read_scope(0, 5, 77);
    EXPECT_EQ(d.read(buf, 16), 0);
    d.set_read_scope(3, 5, 0);
    EXPECT_TRUE(d.seek(100));
    EXPECT_EQ(d.get_pos(), 8);
    EXPECT_EQ(d.read(buf, 16), 0);
    d.seek(2);
    EXPECT_EQ(d.read(buf, 16), 6);
    EXPECT_EQ(buf[0], 3);
    EXPECT_EQ(d.get_capabilities(), 6);
}

TEST(RvdCache, RefusesWritesBeyondItsMemoryLimitKeepingWhatItHolds)
{
    rvd_cache c;
    c.set_memory_limit(1 << 20);
    uint8_t data[20] = {1, 2, 3};
    c.add_to_databin(0, 0, 1, data, 0, 20, true);
    EXPECT_THROW(c.add_to_databin(0, 0, 1, data, 1 << 30, 20, true), std::length_error);
    EXPECT_THROW(c.add_to_databin(0, 0, 2, data, 1 << 21, 1, false), std::length_error);
    bool complete = false;
    EXPECT_EQ(c.get_databin_length(0, 0, 1, &complete), 20);
    EXPECT_TRUE(complete);
    EXPECT_EQ(c.get_databin_length(0, 0, 2), 0);
    EXPECT_EQ(c.get_next_databin_oldest_first(0, 0, -1, false), 1);
    EXPECT_LE(c.get_peak_memory(), uint64_t(1) << 20);
    // Many sparse bin ids cannot grow the index beyond the limit either.
    std::mt19937_64 rng(3);
    EXPECT_THROW(for (int i = 0; i < 100000; ++i) c.add_to_databin(0, 0, int64_t(rng() >> 1), data, 0, 1, false),
                 std::length_error);
    EXPECT_LE(c.get_memory_in_use(), uint64_t(1) << 20);
}
