// CJ2KCache: one lock taken per operation, released on the error path, and a writer and
// a reader racing on the same cache.
#include "R2IVuzi/J2KCache.h"
#include "R2IVuzi/JpipParser.h"
#include "codec/core/rvd_message.h"
#include "tests/R2IVuzi/JppStreamWriter.h"

#include <boost/thread/thread.hpp>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct CodecError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class ThrowingSink : public rvd_message {
public:
    void put_text(const char* t) override { text += t; }
    void flush(bool end) override
    {
        if (end) {
            std::string t;
            t.swap(text);
            throw CodecError(t);
        }
    }
    std::string text;
};

class CountingCache : public CJ2KCache {
public:
    void acquire_lock() override
    {
        CJ2KCache::acquire_lock();
        ++acquired;
    }
    void release_lock() override
    {
        ++released;
        CJ2KCache::release_lock();
    }
    int acquired = 0;
    int released = 0;
};

} // namespace

TEST(J2KCacheLocking, EveryOperationTakesTheLockOnceAlsoWhenItRaises)
{
    CountingCache c;
    uint8_t data[100] = {1, 2, 3};
    uint8_t buf[100];
    bool complete;
    ThrowingSink sink;
    rvd_message* old = rvd_customize_errors(&sink);
    const std::vector<std::pair<const char*, std::function<void()>>> ops = {
        {"tileheader scope without read scope", [&] { EXPECT_THROW(c.set_tileheader_scope(0, 1), CodecError); }},
        {"precinct scope without read scope", [&] { EXPECT_THROW(c.set_precinct_scope(0), CodecError); }},
        {"add", [&] { c.add_to_databin(0, 0, 5, data, 0, 100, true); }},
        {"add main header", [&] { c.add_to_databin(3, 0, 0, data, 0, 10, true); }},
        {"length", [&] { c.get_databin_length(0, 0, 5, &complete); }},
        {"prefix", [&] { c.get_databin_prefix(0, 0, 5, buf, 100); }},
        {"promote", [&] { c.promote_databin(0, 0, 5); }},
        {"demote", [&] { c.demote_databin(0, 0, 5); }},
        {"next codestream", [&] { c.get_next_codestream(-1); }},
        {"newest first", [&] { c.get_next_databin_newest_first(0, 0, -1, false); }},
        {"oldest first", [&] { c.get_next_databin_oldest_first(0, 0, -1, true); }},
        {"mark", [&] { c.mark_databin(0, 0, 5, true); }},
        {"clear marks", [&] { c.clear_all_marks(); }},
        {"set marks", [&] { c.set_all_marks(); }},
        {"read scope", [&] { c.set_read_scope(3, 0, 0); }},
        {"read", [&] { c.read(buf, 10); }},
        {"seek", [&] { c.seek(3); }},
        {"pos", [&] { c.get_pos(); }},
        {"tileheader scope", [&] { c.set_tileheader_scope(0, 1); }},
        {"precinct scope", [&] { c.set_precinct_scope(5); }},
        {"close", [&] { c.close(); }},
    };
    for (auto& op : ops) {
        c.acquired = c.released = 0;
        op.second();
        EXPECT_EQ(c.acquired, 1) << op.first;
        EXPECT_EQ(c.released, 1) << op.first;
    }
    // Right after an error raised under the lock, another thread locks at once.
    EXPECT_THROW(c.set_precinct_scope(0), CodecError);
    bool done = false;
    boost::thread other([&] {
        c.add_to_databin(0, 0, 1, data, 0, 1, false);
        done = true;
    });
    other.join();
    EXPECT_TRUE(done);
    rvd_customize_errors(old);
}

// A writer parses a 4 MB stream in 10 KB bodies while a reader walks the cache: every
// byte read equals the source, lengths never shrink and completeness never reverts.
TEST(CacheConcurrency, WriterAndReaderShareTheCache)
{
    const int kBins = 64;
    const int kBinBytes = 4 << 20 >> 6; // 64 KiB each: 4 MiB
    auto byteOf = [](int64_t bin, int pos) { return uint8_t(bin * 31 + pos * 7 + (pos >> 8)); };
    JppTest::Writer w;
    const int piece = 700;
    for (int off = 0; off < kBinBytes; off += piece)
        for (int b = 0; b < kBins; ++b) {
            std::vector<uint8_t> bytes(size_t(std::min(piece, kBinBytes - off)));
            for (size_t i = 0; i < bytes.size(); ++i)
                bytes[i] = byteOf(b, off + int(i));
            w.data(b % 2 ? 0 : 2, 0, b, off, bytes, off + int(bytes.size()) == kBinBytes);
        }
    w.data(6, 0, 0, 0, {0xFF, 0x4F}, true);
    // Bodies of 10 KB cut at message boundaries.
    std::vector<std::pair<size_t, size_t>> bodies;
    size_t start = 0, lastEnd = 0;
    for (auto& m : w.messages) {
        if (m.endsAt - start > 10240 && lastEnd > start) {
            bodies.emplace_back(start, lastEnd);
            start = lastEnd;
        }
        lastEnd = m.endsAt;
    }
    bodies.emplace_back(start, w.body.size());

    CJ2KCache cache;
    std::atomic<bool> writing{true};
    boost::thread writer([&] {
        CJpipParser p;
        for (auto& b : bodies)
            p.parse(&cache, w.body.data() + b.first, b.second - b.first);
        writing = false;
    });
    std::vector<int> lastLength(kBins, 0);
    std::vector<bool> wasComplete(kBins, false);
    std::vector<uint8_t> buf(kBinBytes);
    int failures = 0, loops = 0;
    auto check = [&] {
        ++loops;
        for (int b = 0; b < kBins && failures < 10; ++b) {
            int cls = b % 2 ? 0 : 1;
            bool complete = false;
            int len = cache.get_databin_length(cls, 0, b, &complete);
            if (len < lastLength[size_t(b)] || (wasComplete[size_t(b)] && !complete))
                ++failures;
            lastLength[size_t(b)] = len;
            wasComplete[size_t(b)] = complete;
            if (cache.get_next_codestream(-1) != 0)
                continue; // nothing stored yet: the scope calls need a known codestream
            cache.set_read_scope(3, 0, 0);
            if (cls == 0)
                cache.set_precinct_scope(b);
            else
                cache.set_tileheader_scope(b, kBins);
            int at = (b * 977 + loops * 131) % (len + 1);
            cache.seek(at);
            int n = cache.read(buf.data(), 3000);
            if (cache.get_pos() != at + n)
                ++failures;
            for (int i = 0; i < n; ++i)
                if (buf[size_t(i)] != byteOf(b, at + i)) {
                    ++failures;
                    break;
                }
        }
        for (int cls : {0, 1})
            for (int64_t id = cache.get_next_databin_newest_first(cls, 0, -1, false); id >= 0;
                 id = cache.get_next_databin_newest_first(cls, 0, id, false))
                if (id >= kBins)
                    ++failures;
        cache.set_all_marks();
    };
    while (writing)
        check();
    writer.join();
    check();
    EXPECT_EQ(failures, 0);
    for (int b = 0; b < kBins; ++b) {
        bool complete = false;
        EXPECT_EQ(cache.get_databin_length(b % 2 ? 0 : 1, 0, b, &complete), kBinBytes);
        EXPECT_TRUE(complete);
    }
}
