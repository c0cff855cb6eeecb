#include "LogTestSupport.h"

#include "diagnostics/Logging.h"

#include <gtest/gtest.h>

#include <boost/regex.hpp>
#include <boost/thread/thread.hpp>

#include <cerrno>
#include <set>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

ORBEL_SOURCE_NAME(".\\diagnostics\\LogConcurrencyTest")

namespace {

using LogConcurrency = LogFileFixture;

// Counts records of the control's header layout ("[INFO:pid:tid:MMDD/HHMMSS:name(line)] ")
// whose text is "<writer> <number>"; every pair must appear exactly once.
void expectEachRecordOnce(const std::string& text, int writers, int perWriter, int extraLines)
{
    static const boost::regex record(
        R"(\[INFO:(\d+):(\d+):\d{4}/\d{6}:LogConcurrencyTest\(\d+\)\] (\d+) (\d+))");
    std::set<std::pair<int, int>> seen;
    int bad = 0;
    const auto lines = LogFileFixture::splitRecords(text);
    for (const std::string& line : lines) {
        boost::smatch m;
        if (!boost::regex_match(line, m, record)) {
            ++bad;
            continue;
        }
        int writer = std::stoi(m[3]), number = std::stoi(m[4]);
        if (writer < 0 || writer >= writers || number < 0 || number >= perWriter ||
            !seen.insert({writer, number}).second)
            ++bad;
    }
    EXPECT_EQ(bad, extraLines);
    EXPECT_EQ(seen.size(), size_t(writers) * size_t(perWriter));
    EXPECT_EQ(lines.size(), size_t(writers) * size_t(perWriter) + size_t(extraLines));
    EXPECT_TRUE(text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0);
}

TEST_F(LogConcurrency, WritersAndCloserKeepEveryRecordWhole)
{
    initLogFile(u"C:\\Quillon.Log", 1, 1, 0);
    setLogItems(true, true, true, false);
    constexpr int kWriters = 8, kRecords = 1000;
    boost::thread_group threads;
    for (int w = 0; w < kWriters; ++w)
        threads.create_thread([w] {
            for (int n = 0; n < kRecords; ++n)
                ORBEL_LOG(INFO) << w << ' ' << n;
        });
    threads.create_thread([] {
        for (int i = 0; i < 1000; ++i)
            closeLogFile();
    });
    threads.join_all();
    expectEachRecordOnce(readLog(), kWriters, kRecords, 0);
}

// In lock mode 0 the file lock keeps processes apart. Two children inherit the parent's
// open log; a third opens its own, as an unrelated process logging to the same file would.
TEST_F(LogConcurrency, ForkedWritersInFileLockMode)
{
    initLogFile(u"C:\\Quillon.Log", 1, 0, 0);
    setLogItems(true, true, true, false);
    ORBEL_LOG(INFO) << "parent before fork";
    constexpr int kChildren = 3, kRecords = 1000;
    // The children start writing together when the parent closes the gate's write end.
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    pid_t children[kChildren];
    for (int c = 0; c < kChildren; ++c) {
        children[c] = fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            close(gate[1]);
            char byte;
            while (read(gate[0], &byte, 1) < 0 && errno == EINTR) {
            }
            if (c == kChildren - 1)
                closeLogFile();
            for (int n = 0; n < kRecords; ++n)
                ORBEL_LOG(INFO) << c << ' ' << n;
            _exit(0);
        }
    }
    close(gate[0]);
    close(gate[1]);
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    expectEachRecordOnce(readLog(), kChildren, kRecords, 1);
}

} // namespace
