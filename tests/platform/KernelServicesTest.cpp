#include "platform/Kernel.h"
#include "platform/Win32.h"

#include <gtest/gtest.h>

#include <boost/thread/thread.hpp>

#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace {

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
