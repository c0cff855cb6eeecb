#include "LogTestSupport.h"

#include "diagnostics/Logging.h"

#include <gtest/gtest.h>

#include <boost/thread/thread.hpp>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// A platform header may define ERROR as a plain value; the macros must still work.
#define ERROR 0

ORBEL_SOURCE_NAME(".\\R2IVuzi\\PssiXmlDao")

namespace {

using LogHeader = LogFileFixture;
using LogLifecycle = LogFileFixture;

std::string ids()
{
    return std::to_string(::getpid()) + ":" + std::to_string(::syscall(SYS_gettid)) + ":";
}

TEST_F(LogHeader, SwitchesSelectFieldsInOrder)
{
    pinClock();
    initLogFile(u"C:\\Quillon.Log", 1, 1, 0);
    setLogItems(true, true, true, true);
    ORBEL_LOG_AT(INFO, 1258) << "x";
    setLogItems(false, false, false, false);
    ORBEL_LOG_AT(INFO, 1258) << "x";
    setLogItems(false, false, true, false); // start-up state
    ORBEL_LOG_AT(ERROR, 7) << "e";
    setLogItems(false, false, false, true);
    ORBEL_LOG_AT(WARNING, 8) << "w";
    setLogItems(true, false, false, false);
    ORBEL_LOG_AT(FATAL, 9) << "f";
    // Off the main thread the thread id is that thread's own kernel id, not the pid.
    setLogItems(false, true, false, false);
    long workerTid = 0;
    boost::thread worker([&workerTid] {
        workerTid = ::syscall(SYS_gettid);
        ORBEL_LOG_AT(INFO, 10) << "t";
    });
    worker.join();
    ASSERT_NE(workerTid, long(::getpid()));
    EXPECT_EQ(readLog(), "[INFO:" + ids() + "1205/225449:123456:PssiXmlDao(1258)] x\r\n"
                         "[INFO:PssiXmlDao(1258)] x\r\n"
                         "[ERROR:1205/225449:PssiXmlDao(7)] e\r\n"
                         "[WARNING:123456:PssiXmlDao(8)] w\r\n"
                         "[FATAL:" + std::to_string(::getpid()) + ":PssiXmlDao(9)] f\r\n"
                         "[INFO:" + std::to_string(workerTid) + ":PssiXmlDao(10)] t\r\n");
}

TEST_F(LogHeader, BaseNameLineAndNumberFormatting)
{
    pinClock(1, 1, 9, 5, 3);
    initLogFile(u"C:\\Quillon.Log", 1, 1, 0);
    { LogMessage("Logging", 1258).stream() << "a"; }
    { LogMessage(".\\a\\b\\", 1).stream() << "trailing"; }
    { LogMessage(nullptr, 2, 2).stream() << "none"; }
    const int line = __LINE__; ORBEL_LOG(INFO) << std::setw(3) << 5;
    setLogItems(false, false, false, false);
    ORBEL_LOG_AT(INFO, 3) << std::setw(3) << 5 << ' ' << 2.5 << ' ' << -7 << ' ' << 4000000000u;
    EXPECT_EQ(readLog(), "[INFO:0101/090503:Logging(1258)] a\r\n"
                         "[INFO:0101/090503:(1)] trailing\r\n"
                         "[ERROR:0101/090503:(2)] none\r\n"
                         "[INFO:0101/090503:PssiXmlDao(" + std::to_string(line) + ")] 005\r\n"
                         "[INFO:PssiXmlDao(3)]   5 2.5 -7 4000000000\r\n");
}

TEST_F(LogLifecycle, MinimumSeverityAndStandardError)
{
    initLogFile(u"C:\\Quillon.Log", 1, 1, 0);
    setLogItems(false, false, false, false);
    setMinLogLevel(3);
    testing::internal::CaptureStderr();
    ORBEL_LOG_AT(INFO, 1) << "info";
    ORBEL_LOG_AT(ERROR, 2) << "error";
    ORBEL_LOG_AT(FATAL, 3) << "fatal";
    { LogMessage("Beyond", 4, 9).stream() << "beyond"; }
    std::string err = testing::internal::GetCapturedStderr();
    const std::string fatal = "[FATAL:PssiXmlDao(3)] fatal\r\n[FATAL:Beyond(4)] beyond\r\n";
    EXPECT_EQ(err, fatal);
    EXPECT_EQ(readLog(), fatal);

    setMinLogLevel(0);
    testing::internal::CaptureStderr();
    ORBEL_LOG_AT(ERROR, 5) << "only file";
    { LogMessage("Below", 6, -1).stream() << "dropped"; }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(readLog(), fatal + "[ERROR:PssiXmlDao(5)] only file\r\n");
}

TEST_F(LogLifecycle, AppendCloseAndReopen)
{
    setLogItems(false, false, false, false);
    { std::ofstream(logPath(), std::ios::binary) << "old\r\n"; }
    initLogFile(u"C:\\Quillon.Log", 1, 1, 1);
    ORBEL_LOG_AT(INFO, 1) << "appended";
    EXPECT_EQ(readLog(), "old\r\n[INFO:PssiXmlDao(1)] appended\r\n");

    initLogFile(u"C:\\Quillon.Log", 1, 1, 0);
    EXPECT_EQ(readLog(), "");
    ORBEL_LOG_AT(INFO, 2) << "fresh";
    closeLogFile();
    closeLogFile();
    { std::ofstream(logPath(), std::ios::binary | std::ios::app) << "between\r\n"; }
    ORBEL_LOG_AT(INFO, 3) << "reopened";
    EXPECT_EQ(readLog(), "[INFO:PssiXmlDao(2)] fresh\r\nbetween\r\n[INFO:PssiXmlDao(3)] reopened\r\n");

    // Any other value than 1 is no file output and leaves the old file alone.
    initLogFile(u"C:\\Quillon.Log", 2, 1, 0);
    ORBEL_LOG_AT(INFO, 4) << "not written";
    initLogFile(u"C:\\Quillon.Log", 0, 1, 0);
    ORBEL_LOG_AT(INFO, 5) << "not written";
    EXPECT_EQ(readLog(), "[INFO:PssiXmlDao(2)] fresh\r\nbetween\r\n[INFO:PssiXmlDao(3)] reopened\r\n");
}

// Without file output (before the control's Init) warnings and errors reach standard
// error; information stays quiet and FATAL records are printed once.
TEST_F(LogLifecycle, NoFileOutputSendsWarningsToStandardError)
{
    setLogItems(false, false, false, false);
    for (int toFile : {0, 2}) {
        SCOPED_TRACE(toFile);
        initLogFile(u"C:\\Quillon.Log", toFile, 1, 0);
        testing::internal::CaptureStderr();
        ORBEL_LOG_AT(INFO, 1) << "quiet";
        ORBEL_LOG_AT(WARNING, 2) << "warned";
        ORBEL_LOG_AT(ERROR, 3) << "refused";
        ORBEL_LOG_AT(FATAL, 4) << "fatal";
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "[WARNING:PssiXmlDao(2)] warned\r\n"
                                                          "[ERROR:PssiXmlDao(3)] refused\r\n"
                                                          "[FATAL:PssiXmlDao(4)] fatal\r\n");
        EXPECT_FALSE(std::filesystem::exists(logPath()));
    }
    // With a file they go there only.
    initLogFile(u"C:\\Quillon.Log", 1, 1, 0);
    testing::internal::CaptureStderr();
    ORBEL_LOG_AT(ERROR, 5) << "filed";
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(readLog(), "[ERROR:PssiXmlDao(5)] filed\r\n");
}

TEST_F(LogLifecycle, MissingFoldersAreMadeAndUnwritableLogsSaySoOnce)
{
    setLogItems(false, false, false, false);
    const std::string missing = drive_ + "/later/deeper";
    setenv("ORBEL_DRIVE_C", missing.c_str(), 1);
    initLogFile(u"C:\\Quillon.Log", 1, 0, 0);
    testing::internal::CaptureStderr();
    ORBEL_LOG_AT(INFO, 1) << "landed";
    ORBEL_LOG_AT(ERROR, 2) << "too";
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(readFile(missing + "/Quillon.Log"), "[INFO:PssiXmlDao(1)] landed\r\n[ERROR:PssiXmlDao(2)] too\r\n");

    // A folder that cannot be made (a file stands in its place): the first record goes to
    // standard error with the reason, the later ones are dropped as before.
    const std::string blocked = drive_ + "/blocker";
    { std::ofstream(blocked) << "x"; }
    setenv("ORBEL_DRIVE_C", (blocked + "/sub").c_str(), 1);
    initLogFile(u"C:\\Quillon.Log", 1, 1, 0);
    testing::internal::CaptureStderr();
    ORBEL_LOG_AT(INFO, 3) << "first";
    ORBEL_LOG_AT(INFO, 4) << "second";
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "The log " + blocked + "/sub/Quillon.Log cannot be written: " + std::strerror(ENOTDIR) +
                       "\n[INFO:PssiXmlDao(3)] first\r\n");
    // A new path is told again; a FATAL record is not printed twice.
    initLogFile(u"C:\\Other.Log", 1, 1, 0);
    testing::internal::CaptureStderr();
    ORBEL_LOG_AT(FATAL, 5) << "fatal";
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "[FATAL:PssiXmlDao(5)] fatal\r\nThe log " + blocked + "/sub/Other.Log cannot be written: " +
                       std::strerror(ENOTDIR) + "\n");

    // Other drives, UNC paths and no path at all map to nothing: said once, no crash.
    for (const char16_t* path : {u"D:\\Quillon.Log", u"\\\\srv\\share\\Quillon.Log", u""}) {
        initLogFile(path, 1, 1, 0);
        testing::internal::CaptureStderr();
        ORBEL_LOG_AT(INFO, 6) << "nowhere";
        ORBEL_LOG_AT(INFO, 7) << "nowhere";
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "The log (no path) cannot be written: the path maps to no file\n[INFO:PssiXmlDao(6)] nowhere\r\n");
    }
    EXPECT_EQ(readFile(missing + "/Quillon.Log"), "[INFO:PssiXmlDao(1)] landed\r\n[ERROR:PssiXmlDao(2)] too\r\n");
}

} // namespace
