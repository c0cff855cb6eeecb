// Block coding on worker threads, with and without double-buffered band rows and component
// stripes, writes the codestream the pushing thread alone writes.
#include "tests/codec/support/memory_target.h"
#include "tools/encode/image_encoder.h"

#include <gtest/gtest.h>

using namespace codec_test;

TEST(EncodeConcurrency, ThreadedStreamsEqualTheUnthreadedOne)
{
    encode_library_startup();
    std::vector<encode_component> img(3);
    for (int c = 0; c < 3; c++) {
        encode_component& ec = img[size_t(c)];
        ec.width = 150;
        ec.height = 140;
        ec.depth = 10;
        ec.samples.resize(size_t(ec.width) * size_t(ec.height));
        for (int y = 0; y < ec.height; y++)
            for (int x = 0; x < ec.width; x++)
                ec.samples[size_t(y * ec.width + x)] = (x * x + 3 * y * y + 97 * c + (x ^ y)) % 1024;
    }
    // `stripe`: rows per double-buffered half (140 rows: halves of unequal fill at the end).
    struct {
        const char* attributes;
        bool precise;
        int stripe;
    } cases[] = {
        {"Clevels=3 Cblk={16,16} Clayers=2", false, 8},
        {"Clevels=2 Cblk={32,32} Creversible=no Qstep=0.01", true, 8},
        {"Clevels=4 Cblk={8,64} Stiles={64,64}", false, 8},
        // Components pushed apart, straight into the block coder, in odd stripes.
        {"Clevels=0 Cycc=no Cblk={16,16}", false, 3},
        {"Clevels=5 Cycc=no Creversible=no Qstep=0.01 Clayers=3", false, 100},
    };
    for (const auto& c : cases) {
        encode_settings s;
        std::istringstream in(c.attributes);
        for (std::string a; in >> a;)
            s.attributes.push_back(a);
        s.precise = c.precise;
        memory_target plain;
        encode_components(img, s, &plain);
        for (int threads = 1; threads <= 8; threads++)
            for (int dbuf = 0; dbuf < 2; dbuf++) {
                SCOPED_TRACE(testing::Message() << c.attributes << ", " << threads << " threads"
                                                << (dbuf ? ", double buffered" : ""));
                s.threads = threads;
                s.double_buffer = dbuf != 0;
                s.stripe = dbuf ? c.stripe : 1;
                memory_target t;
                encode_components(img, s, &t);
                EXPECT_TRUE(plain.bytes == t.bytes) << plain.bytes.size() << " vs " << t.bytes.size();
            }
    }
}
