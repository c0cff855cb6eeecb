// Real bodies: the loopback server's offline stream of an opj_compress image parsed into
// the cache, which must then hold exactly the bins the server's index lists.
#include "R2IVuzi/J2KCache.h"
#include "R2IVuzi/JpipParser.h"

#include "tests/support/TestTools.h"
#include <boost/regex.hpp>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<uint8_t> unhex(const std::string& h)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < h.size(); i += 2)
        out.push_back(uint8_t(std::stoi(h.substr(i, 2), nullptr, 16)));
    return out;
}

} // namespace

TEST(ServerStream, CacheHoldsExactlyTheServersBins)
{
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

    std::string index = slurp(dir / "index.json");
    boost::regex entry("\\{\"class\": (\\d+), \"codestream\": (\\d+), \"id\": (\\d+), \"length\": (\\d+), \"data\": \"([0-9a-f]*)\"\\}");
    size_t listed = 0;
    for (boost::sregex_iterator it(index.begin(), index.end(), entry), end; it != end; ++it, ++listed) {
        int cls = std::stoi((*it)[1]) / 2;
        int64_t cs = std::stoll((*it)[2]), id = std::stoll((*it)[3]);
        std::vector<uint8_t> want = unhex((*it)[5]);
        bool complete = false;
        ASSERT_EQ(cache.get_databin_length(cls, cs, id, &complete), int(want.size())) << cls << " " << id;
        EXPECT_TRUE(complete);
        std::vector<uint8_t> got(want.size() + 1);
        got.resize(size_t(cache.get_databin_prefix(cls, cs, id, got.data(), int(got.size()))));
        EXPECT_EQ(got, want) << cls << " " << id;
    }
    size_t held = 0;
    for (int cls = 0; cls < 5; ++cls)
        for (int64_t id = cache.get_next_databin_oldest_first(cls, 0, -1, false); id >= 0;
             id = cache.get_next_databin_oldest_first(cls, 0, id, false))
            ++held;
    EXPECT_GT(listed, 20u);
    EXPECT_EQ(held, listed);
    EXPECT_EQ(cache.get_next_codestream(0), -1);
    std::error_code ec;
    fs::remove_all(dir, ec);
}
