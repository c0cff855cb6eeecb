#include "codec/core/rv_buffer_server.h"
#include "codec/core/rv_compressed_input.h"
#include "codec/core/rv_pph_input.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/test_sources.h"

#include <gtest/gtest.h>

#include <boost/random/mersenne_twister.hpp>
#include <boost/random/uniform_int_distribution.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <unistd.h>
#include <memory>

using namespace codec_test;

namespace {

std::vector<uint8_t> pattern_bytes(size_t n, uint32_t seed)
{
    boost::random::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = uint8_t(rng());
    return v;
}

std::string write_temp(const std::string& name, const std::vector<uint8_t>& bytes)
{
    // CTest runs each test in its own process, in parallel: the pid keeps their files apart.
    std::string path = std::string(ORBEL_BINARY_DIR) + "/" + std::to_string(::getpid()) + "_" + name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                std::streamsize(bytes.size()));
    return path;
}

enum source_kind { MEMORY, FILE_SRC, SEQUENTIAL };

std::unique_ptr<rvd_compressed_source> make_source(source_kind k, const std::vector<uint8_t>& b,
                                                   const std::string& tag)
{
    if (k == MEMORY)
        return std::make_unique<memory_source>(b);
    if (k == FILE_SRC)
        return std::make_unique<file_source>(write_temp("input_" + tag + ".bin", b));
    return std::make_unique<sequential_source>(b, 37);
}

// Shadow model: which offset is next, what may be delivered, what was counted.
struct input_model {
    int64_t n, pos = 0, limit = rv_compressed_input::MAX_LIMIT, susp = 0, max_pos = 0;
    bool suspended = false, exhausted = false;
    int last_delivered = 0; // bytes delivered by the previous operation, for putback
    bool deliverable() const { return pos < n && (suspended || pos < limit + susp); }
};

void run_random_interleaving(source_kind kind, uint32_t seed)
{
    const std::vector<uint8_t> src = pattern_bytes(6000, seed);
    auto source = make_source(kind, src, std::to_string(seed));
    rv_compressed_input in(source.get());
    EXPECT_EQ(in.is_fully_buffered(), kind == MEMORY);
    input_model m{int64_t(src.size())};
    boost::random::mt19937 rng(seed);
    auto rnd = [&](int lo, int hi) { return boost::random::uniform_int_distribution<int>(lo, hi)(rng); };
    bool can_seek = kind != SEQUENTIAL;
    uint8_t buf[700];
    for (int step = 0; step < 400; step++) {
        int op = rnd(0, 9);
        int delivered = 0;
        if (op <= 2) { // get
            uint8_t b = 0;
            bool expect = !m.exhausted && m.deliverable();
            ASSERT_EQ(in.get(b), expect) << "step " << step << " pos " << m.pos;
            if (expect) {
                ASSERT_EQ(b, src[size_t(m.pos)]);
                m.pos++;
                delivered = 1;
                if (m.suspended)
                    m.susp++;
            } else
                m.exhausted = true;
        } else if (op == 3) { // read
            int want = rnd(0, 700);
            int got = in.read(buf, want);
            int expect = 0;
            while (expect < want && !m.exhausted && m.deliverable()) {
                ASSERT_EQ(buf[expect], src[size_t(m.pos)]);
                m.pos++;
                expect++;
                if (m.suspended)
                    m.susp++;
            }
            if (expect < want && want > 0)
                m.exhausted = true;
            ASSERT_EQ(got, expect) << "step " << step;
            delivered = std::min(got, 2);
        } else if (op == 4 && !(can_seek && m.suspended)) { // ignore
            int want = rnd(0, 1500);
            int64_t got = in.ignore(want);
            if (can_seek) {
                // Bytes read count what was delivered before each jump.
                if (!m.exhausted)
                    m.max_pos = std::max(m.max_pos, m.pos);
                int64_t target = m.pos + want;
                if (want == 0) {
                    ASSERT_EQ(got, 0);
                } else if (!m.exhausted && target < std::min(m.n, m.limit + m.susp)) {
                    // Bytes consumed while counting was suspended extend the limit.
                    ASSERT_EQ(got, want);
                    m.pos = target;
                } else if (!m.exhausted) {
                    // Past the end or the limit: the input ends there.
                    ASSERT_TRUE(in.is_exhausted());
                    m.exhausted = true;
                    m.pos = in.get_offset();
                }
            } else {
                int64_t expect = 0;
                while (expect < want && !m.exhausted && m.deliverable()) {
                    m.pos++;
                    expect++;
                    if (m.suspended)
                        m.susp++;
                }
                if (expect < want && want > 0)
                    m.exhausted = true;
                ASSERT_EQ(got, expect);
            }
        } else if (op == 5 && m.last_delivered > 0 && !m.exhausted) { // putback of what was just read
            if (m.last_delivered == 1) {
                in.putback_byte(src[size_t(m.pos - 1)]);
                m.pos--;
                if (m.suspended)
                    m.susp--;
            } else {
                in.putback(uint16_t((src[size_t(m.pos - 2)] << 8) | src[size_t(m.pos - 1)]));
                m.pos -= 2;
                if (m.suspended)
                    m.susp -= 2;
            }
        } else if (op == 6 && can_seek && !m.suspended) { // seek inside the allowed range
            int64_t top = std::min(m.n, m.limit);
            if (top > 0) {
                int64_t target = rnd(0, int(top - 1));
                m.max_pos = std::max(m.max_pos, m.pos);
                in.seek(target);
                if (target != m.pos) // a seek to where the input stands changes nothing
                    m.exhausted = false;
                m.pos = target;
            }
        } else if (op == 7) { // lower the limit, never below what was delivered
            int64_t lim = m.pos + rnd(0, 3000);
            in.set_max_bytes(lim);
            if (lim < m.limit)
                m.limit = lim;
        } else if (op == 8) {
            bool s = rnd(0, 1) == 1;
            in.set_suspend(s);
            m.suspended = s;
        } else if (op == 9) {
            ASSERT_EQ(in.get_suspended_bytes(), m.susp) << "step " << step;
            m.max_pos = std::max(m.max_pos, m.pos);
            ASSERT_EQ(in.get_bytes_read(), m.max_pos);
        }
        m.last_delivered = delivered;
        ASSERT_EQ(in.get_offset(), m.pos) << "step " << step << " op " << op;
    }
}

TEST(CompressedInput, RandomInterleavingsAgreeWithModel)
{
    for (uint32_t seed = 1; seed <= 10000; seed++) {
        source_kind k = source_kind(seed % 3);
        run_random_interleaving(k, seed);
        if (::testing::Test::HasFatalFailure()) {
            ADD_FAILURE() << "seed " << seed << " kind " << k;
            return;
        }
    }
}


} // namespace
