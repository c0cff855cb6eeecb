#include "platform/Kernel.h"
#include "platform/Win32.h"

#include <gtest/gtest.h>

#include <boost/thread/thread.hpp>

#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace {

TEST(CodePages, CountTerminatorsAnswerSizeQueriesAndTreatAcpAsUtf8)
{
    const char* text = "x\xC3\xA9\xF0\x9F\x98\x80"; // x, e-acute, one astral character
    for (UINT cp : {UINT(CP_UTF8), UINT(CP_ACP)}) {
        EXPECT_EQ(MultiByteToWideChar(cp, 0, text, -1, nullptr, 0), 5); // 1 + 1 + 2 + NUL
        EXPECT_EQ(MultiByteToWideChar(cp, 0, text, 3, nullptr, 0), 2);
        WCHAR wide[5];
        ASSERT_EQ(MultiByteToWideChar(cp, 0, text, -1, wide, 5), 5);
        EXPECT_EQ(wide[1], 0xE9);
        EXPECT_EQ(wide[2], 0xD83D);
        EXPECT_EQ(wide[4], 0);
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(cp, 0, text, -1, wide, 4), 0);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));

        EXPECT_EQ(WideCharToMultiByte(cp, 0, wide, -1, nullptr, 0, nullptr, nullptr), 8);
        char narrow[8];
        ASSERT_EQ(WideCharToMultiByte(cp, 0, wide, -1, narrow, 8, nullptr, nullptr), 8);
        EXPECT_STREQ(narrow, text);
        EXPECT_EQ(WideCharToMultiByte(cp, 0, wide, 2, narrow, 8, nullptr, nullptr), 3);
        SetLastError(0);
        EXPECT_EQ(WideCharToMultiByte(cp, 0, wide, -1, narrow, 7, nullptr, nullptr), 0);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    }
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "a", -1, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST(KernelServices, ManualClockMovesTicksAndLocalTime)
{
    SYSTEMTIME before, after;
    platform::SetManualClock(10);
    GetLocalTime(&before);
    platform::AdvanceClock(1500);
    GetLocalTime(&after);
    EXPECT_EQ(GetTickCount(), 1510u);
    int ms = (after.wSecond * 1000 + after.wMilliseconds) - (before.wSecond * 1000 + before.wMilliseconds);
    EXPECT_EQ((ms + 60000) % 60000, 1500);
    platform::UseRealClock();
    EXPECT_FALSE(platform::ClockIsManual());
}

int g_filterCalls = 0;
LONG countingFilter(EXCEPTION_POINTERS*)
{
    ++g_filterCalls;
    std::fprintf(stderr, "filter ran %d\n", g_filterCalls);
    return EXCEPTION_EXECUTE_HANDLER;
}

TEST(KernelServicesDeathTest, ExceptionEscapingAThreadRunsTheFilterOnceAndEnds)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            SetUnhandledExceptionFilter(countingFilter);
            boost::thread t([] { throw std::runtime_error("escaped"); });
            t.join();
        },
        "filter ran 1\n");
}

TEST(Resources, StringsAndScriptsByIdUnderTheResourceFolder)
{
    std::string dir = std::string(ORBEL_BINARY_DIR) + "/platform-resources";
    std::string mk = "mkdir -p " + dir + "/REGISTRY";
    ASSERT_EQ(std::system(mk.c_str()), 0);
    {
        std::ofstream s(dir + "/strings.txt");
        s << "99\tother\n100\tQuillonActiveX\n101\tcaf\xC3\xA9\r\n";
        std::ofstream r(dir + "/REGISTRY/101.rgs");
        r << "HKCR { }";
    }
    setenv("ORBEL_RESOURCES", dir.c_str(), 1);
    WCHAR buf[32];
    EXPECT_EQ(LoadStringW(nullptr, 100, buf, 32), 14);
    EXPECT_EQ(std::u16string(buf), u"QuillonActiveX");
    EXPECT_EQ(LoadStringW(nullptr, 101, buf, 32), 4);
    EXPECT_EQ(std::u16string(buf), u"caf\u00e9");
    EXPECT_EQ(LoadStringW(nullptr, 102, buf, 32), 0);
    HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(101), u"REGISTRY");
    ASSERT_NE(res, nullptr);
    EXPECT_EQ(SizeofResource(nullptr, res), 8u);
    EXPECT_EQ(std::string(static_cast<const char*>(LockResource(LoadResource(nullptr, res))), 8), "HKCR { }");
    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(102), u"REGISTRY"), nullptr);
    EXPECT_EQ(FindResourceW(nullptr, u"../x", u"REGISTRY"), nullptr);
    unsetenv("ORBEL_RESOURCES");
}

} // namespace
