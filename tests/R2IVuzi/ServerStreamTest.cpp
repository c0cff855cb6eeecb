// Real bodies: the loopback server's offline stream of an opj_compress image parsed into
// the cache, which must then hold exactly the bins the server's index lists.
#include "R2IVuzi/J2KCache.h"
#include "R2IVuzi/JpipParser.h"

#include "tests/R2IVuzi/support/GridChecks.h"
#include "tests/support/TestTools.h"
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

using gridtest::slurp;

TEST(ServerStream, CacheHoldsExactlyTheServersBins)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    std::string pattern = (fs::temp_directory_path() / "orbel-stream-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    fs::path dir = pattern;
    {
        std::ofstream raw(dir / "g.raw", std::ios::binary);
        for (int y = 0; y < 150; ++y)
            for (int x = 0; x < 201; ++x)
                raw.put(char((x * 5 + y * 3 + (x * y) % 17) & 255));
    }
    const std::string server = std::string(ORBEL_SOURCE_DIR) + "/tools/jpip_test_server.py";
    std::string cmd = "cd '" + dir.string() + "' && opj_compress -i g.raw -F 201,150,1,8,u -o g.j2k -PLT -t 64,64 "
                      "-n 4 -r 20,5,1 -p RPCL >/dev/null && " + OrbelTest::pythonCommand(server) + " stream g.j2k --out out --len 3000 && "
                      + OrbelTest::pythonCommand(server) + " index g.j2k > index.json";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << "needs opj_compress and python3 (scripts/install-deps)";

    CJ2KCache cache;
    CJpipParser parser;
    std::vector<fs::path> replies;
    for (auto& e : fs::directory_iterator(dir / "out"))
        replies.push_back(e.path());
    std::sort(replies.begin(), replies.end());
    ASSERT_GT(replies.size(), 2u);
    for (auto& r : replies) {
        std::string body = slurp(r);
        processChunkBody(parser, &cache, reinterpret_cast<const uint8_t*>(body.data()), body.size());
    }
    EXPECT_TRUE(parser.getStatus().imageDone);

    EXPECT_GT(gridtest::expectCacheHoldsIndex(cache, slurp(dir / "index.json")), 20u);
    std::error_code ec;
    fs::remove_all(dir, ec);
}
