// The C++ launcher of the loopback JPIP test server: start, talk, stop, no process left.
#include "tests/support/JpipTestServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

using OrbelTest::JpipTestServer;

namespace {

std::string httpGet(int port, const std::string& target)
{
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        std::string req = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        if (write(s, req.data(), req.size()) == static_cast<ssize_t>(req.size())) {
            char buf[4096];
            for (ssize_t n; (n = read(s, buf, sizeof buf)) > 0;)
                reply.append(buf, static_cast<size_t>(n));
        }
    }
    close(s);
    return reply;
}

// A served folder holding one annotation document, removed with the test.
struct Root {
    std::string dir;
    Root()
    {
        char tmpl[] = "/tmp/jpiproot-XXXXXX";
        dir = mkdtemp(tmpl);
        std::ofstream(dir + "/1.2.3.xml") << "<Annotations/>";
    }
    ~Root()
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
};

} // namespace

TEST(JpipTestServerLauncher, StartsServesAndStopsLeavingNoProcess)
{
    const Root served;
    const std::string& root = served.dir;
    pid_t pid;
    {
        JpipTestServer server(root, {"--annotations", root});
        pid = server.pid();
        ASSERT_GT(server.port(), 0);
        EXPECT_EQ(server.imageTarget("img"), "http://127.0.0.1:" + std::to_string(server.port()) + "/jpip/img");
        std::string reply = httpGet(server.port(), "/annotation?UID=1.2.3&Detail=1&Language=en");
        EXPECT_EQ(reply.compare(0, 15, "HTTP/1.1 200 OK"), 0) << reply;
        EXPECT_NE(reply.find("<Annotations/>"), std::string::npos);
        EXPECT_EQ(httpGet(server.port(), "/jpip/none.jp2?cnew=http&type=jpp-stream&len=10").compare(0, 12, "HTTP/1.1 404"), 0);
        auto lines = server.logLines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_NE(lines[0].find("\"target\": \"/annotation?UID=1.2.3&Detail=1&Language=en\""), std::string::npos);
        server.stop();
        EXPECT_EQ(kill(pid, 0), -1);
        EXPECT_EQ(errno, ESRCH);
        server.stop();
    }
}

TEST(JpipTestServerLauncher, FailedStartReportsTheServersStderr)
{
    try {
        const Root served;
        JpipTestServer server(served.dir, {"--chunk-size", "0"});
        FAIL() << "the server started";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("chunk-size"), std::string::npos) << e.what();
    }
}
