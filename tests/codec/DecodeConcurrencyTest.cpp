// Codestreams decoded on separate threads at once, each with its own codestream and
// multi-component networks, give exactly what each gives alone (run under the thread
// sanitizer too).
#include "tests/codec/support/decode_cases.h"
#include "tests/codec/support/test_sources.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <boost/thread/thread.hpp>

#include <exception>

namespace {

using namespace codec_test;

TEST(DecodeConcurrency, ThreeCodestreamsOnThreeThreadsDecodeAsAlone)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    // A lossless stream on 16-bit lines, an irreversible one on 32-bit lines and an RGB
    // one through the irreversible colour transform on 16-bit lines.
    std::vector<decode_case> picked;
    for (const decode_case& c : load_decode_cases())
        if (!c.has_region && c.reduce == 0 &&
            ((picked.empty() && c.kind == "rev" && c.stream.find("256x256") != std::string::npos) ||
             (picked.size() == 1 && c.kind == "irr")))
            picked.push_back(c);
    ASSERT_EQ(picked.size(), 2u);
    decode_case colour;
    colour.stream = stream_dir("multi") + "/mc_rgb8_ict.j2k";
    picked.push_back(colour);
    const decode_settings settings[3] = {settings_for(picked[0], false), settings_for(picked[1], true),
                                         decode_settings()};
    std::vector<pgx_image> alone[3], together[3];
    for (int k = 0; k < 3; k++)
        alone[k] = decode_file(picked[size_t(k)].stream, settings[k]);
    ASSERT_EQ(alone[2].size(), 3u);

    std::exception_ptr failure[3];
    auto work = [&](int k) {
        try {
            for (int round = 0; round < 2; round++)
                together[k] = decode_file(picked[size_t(k)].stream, settings[k]);
        } catch (...) {
            failure[k] = std::current_exception();
        }
    };
    boost::thread a(work, 0), b(work, 1), c(work, 2);
    a.join();
    b.join();
    c.join();
    for (int k = 0; k < 3; k++) {
        ASSERT_FALSE(failure[k]) << picked[size_t(k)].name();
        ASSERT_EQ(together[k].size(), alone[k].size());
        for (size_t c = 0; c < alone[k].size(); c++)
            EXPECT_EQ(together[k][c].samples, alone[k][c].samples) << picked[size_t(k)].name();
    }
}

} // namespace
