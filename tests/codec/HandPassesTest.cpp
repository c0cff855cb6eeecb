// The hand-written MQ passes against the portable ones, decision for decision: the same
// samples and the same pass counts on real blocks in all 64 modes and every orientation,
// cut after every pass, and with flipped bytes in fast and resilient mode (where the
// recovery depends on the passes' registers at each segment's end), and on bodies dense in
// the bytes the wide registers must take in one at a time (0xFF, stuffed bytes of 0x80-0x8F
// whose extra bit carries into the 0xFF before them, markers), and on random bodies coded
// from the top plane down (refinement's context thresholds near bit 31).
#include "codec/coding/rv_context_tables.h"
#include "codec/coding/rv_mq_decoder.h"
#include "codec/coding/rvd_block_decoder.h"
#include "tests/codec/support/block_streams.h"
#include "tests/codec/support/processor_form.h"
#include "tests/codec/support/test_sources.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace block_test;

std::vector<int32_t> samples_of(const rvd_block& b)
{
    return std::vector<int32_t>(b.sample_buffer, b.sample_buffer + 4 * ((b.size.y + 3) / 4) * b.size.x);
}

class HandPasses : public ::testing::Test {
protected:
    void SetUp() override
    {
        rv_init_mq_tables();
        rv_init_context_tables();
        rv_init_processor_words();
        if (rvd_mmx_level < 1 || !rvd_pentium_cmov_exists)
            GTEST_SKIP() << "this run forces the portable passes";
        codec_test::processor_form_guard portable_only(0);
        portable.reset(new rvd_block_decoder);
    }

    // Decodes `eb`'s first `passes` passes with both forms, with `flip` XORed into the
    // byte at `at` (and `body` in place of its bytes, and its first pass on plane 30 when
    // `top_plane`); expects identical results.
    void compare(const extracted_block& eb, int passes, int orientation, bool resilient, size_t at = 0,
                 uint8_t flip = 0, const std::vector<uint8_t>* body = nullptr, bool top_plane = false)
    {
        // The hand form twice where the processor has LZCNT and SHLX: the walks with them
        // and without.
        rvd_block b[3];
        rvd_block_decoder* decoders[3] = {&hand, portable.get(), &hand};
        const bool lzcnt = rvd_lzcnt_shlx_exists;
        const int forms = lzcnt ? 3 : 2;
        for (int k = 0; k < forms; k++) {
            rvd_lzcnt_shlx_exists = lzcnt && k < 2;
            fill_block(b[k], eb, passes, resilient, false);
            b[k].orientation = orientation;
            if (body)
                std::copy(body->begin(), body->end(), b[k].byte_buffer);
            if (at < eb.body.size())
                b[k].byte_buffer[at] ^= flip;
            if (top_plane) {
                b[k].magnitude_planes = 31;
                b[k].missing_msbs = 0;
            }
            decoders[k]->decode(&b[k]);
        }
        rvd_lzcnt_shlx_exists = lzcnt;
        for (int k = 1; k < forms; k++) {
            ASSERT_EQ(b[0].num_passes, b[k].num_passes) << "form " << k;
            ASSERT_EQ(samples_of(b[0]), samples_of(b[k])) << "form " << k;
        }
    }

    std::unique_ptr<scoped_handlers> handlers{new scoped_handlers};
    rvd_block_decoder hand;
    std::unique_ptr<rvd_block_decoder> portable;
};

const char* const kImages[] = {"u8_64x64", "u8_61x47", "s12_64x64", "s12_61x47", "u16_64x64", "u16_61x47"};

extracted_block load(const std::string& image, int mode)
{
    return extract_block(
        codec_test::read_file(block_stream_dir() + "/blk_" + image + "_m" + std::to_string(mode) + ".j2k"));
}

TEST_F(HandPasses, SameSamplesInEveryModeOrientationAndCut)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    for (const char* image : kImages)
        for (int mode = 0; mode < 64; mode++) {
            SCOPED_TRACE(std::string(image) + " mode " + std::to_string(mode));
            extracted_block eb = load(image, mode);
            for (int orientation = 0; orientation < 4; orientation++)
                compare(eb, eb.num_passes, orientation, false);
            for (int passes = 1; passes < eb.num_passes; passes++)
                compare(eb, passes, passes & 3, false);
        }
}

TEST_F(HandPasses, SameRecoveryFromFlippedBytes)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    std::mt19937 rng(49);
    for (const char* image : kImages)
        for (int mode : {0, 2, 16, 20, 32, 48, 63}) {
            SCOPED_TRACE(std::string(image) + " mode " + std::to_string(mode));
            extracted_block eb = load(image, mode);
            for (int n = 0; n < 30; n++) {
                size_t at = rng() % eb.body.size();
                uint8_t flip = static_cast<uint8_t>(1 + rng() % 255);
                compare(eb, eb.num_passes, n & 3, (n & 1) != 0, at, flip);
            }
        }
}

TEST_F(HandPasses, SameSamplesFromBytesNearMarkers)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    // Byte kinds and their weights: each kind sends the wide registers down another path.
    struct byte_kind {
        const char* what;
        int low, high, weight;
    };
    const byte_kind kinds[] = {
        {"0xFF", 0xFF, 0xFF, 3},        // the next byte is stuffed or a marker
        {"stuffed high", 0x80, 0x8F, 2}, // after 0xFF: a carry into it
        {"marker", 0x90, 0xFE, 1},       // after 0xFF: never consumed, counted
        {"plain", 0x00, 0x7F, 4},        // groups of these are taken in at once
    };
    std::vector<int> pick;
    for (size_t k = 0; k < sizeof(kinds) / sizeof(kinds[0]); k++)
        pick.insert(pick.end(), static_cast<size_t>(kinds[k].weight), static_cast<int>(k));
    std::mt19937 rng(4949);
    for (const char* image : {"s12_64x64", "u16_61x47"})
        for (int mode : {0, 16, 32, 48, 63}) {
            SCOPED_TRACE(std::string(image) + " mode " + std::to_string(mode));
            extracted_block eb = load(image, mode);
            for (int n = 0; n < 12; n++) {
                // Runs of one kind, so that plain stretches long enough for a group
                // alternate with clusters of 0xFF and the bytes after them.
                std::vector<uint8_t> body(eb.body.size());
                for (size_t i = 0; i < body.size();) {
                    const byte_kind& kind = kinds[pick[rng() % pick.size()]];
                    size_t run = 1 + rng() % (kind.low == 0 ? 24 : 3);
                    for (; run > 0 && i < body.size(); run--, i++)
                        body[i] = static_cast<uint8_t>(kind.low + static_cast<int>(rng() % (kind.high - kind.low + 1)));
                }
                compare(eb, eb.num_passes, n & 3, (n & 1) != 0, eb.body.size(), 0, &body);
            }
        }
}

TEST_F(HandPasses, SameSamplesFromTheTopPlaneDown)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    // Random bytes make samples significant early, so refinement runs from plane 29, where
    // four times the plane's bit no longer fits in 31 bits, through every context.
    std::mt19937 rng(2949);
    for (const char* image : {"u16_64x64", "u16_61x47"})
        for (int mode : {0, 8, 16, 63}) {
            SCOPED_TRACE(std::string(image) + " mode " + std::to_string(mode));
            extracted_block eb = load(image, mode);
            for (int n = 0; n < 8; n++) {
                std::vector<uint8_t> body(eb.body.size());
                for (uint8_t& b : body)
                    b = static_cast<uint8_t>(rng() % 0x90); // no markers: every pass reads on
                compare(eb, eb.num_passes, n & 3, false, eb.body.size(), 0, &body, true);
            }
        }
}

} // namespace
