#include "platform/Kernel.h"
#include "platform/ModuleStartup.h"
#include "platform/TextConv.h"
#include "platform/WinTypes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/syscall.h>
#include <time.h>
#include <type_traits>
#include <unistd.h>

namespace {

class DrivePath : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = std::getenv("ORBEL_DRIVE_C");
        hadOld_ = old != nullptr;
        if (old)
            old_ = old;
    }
    void TearDown() override
    {
        if (hadOld_)
            setenv("ORBEL_DRIVE_C", old_.c_str(), 1);
        else
            unsetenv("ORBEL_DRIVE_C");
    }
    bool hadOld_ = false;
    std::string old_;
};

TEST_F(DrivePath, MapsDriveCUnderTheConfiguredFolder)
{
    setenv("ORBEL_DRIVE_C", "/x/y", 1);
    EXPECT_EQ(MapDrivePath(std::string("C:\\Quillon.Log")), "/x/y/Quillon.Log");
    EXPECT_EQ(MapDrivePath(std::string("c:/a\\b.txt")), "/x/y/a/b.txt");
    EXPECT_EQ(MapDrivePath(u"C:\\Quillon.Log"), "/x/y/Quillon.Log");
    EXPECT_EQ(MapDrivePath(std::string("D:\\a")), "");
    EXPECT_EQ(MapDrivePath(std::string("\\\\srv\\s")), "");
    EXPECT_EQ(MapDrivePath(std::string("relative")), "");
}

TEST(TextConv, ConvertsAndReplacesMalformedSequences)
{
    EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80"), (std::u16string{char16_t(0xD83D), char16_t(0xDE00)}));
    EXPECT_EQ(Utf8ToUtf16(std::string("a\xC3(b")), u"a\uFFFD(b");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8(u"x\u00e9\u4e2d"), "x\xC3\xA9\xE4\xB8\xAD");
    EXPECT_EQ(Utf8ToUtf16("\xC0\x80"), u"\uFFFD\uFFFD");    // overlong
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD"); // encoded surrogate
    EXPECT_EQ(Utf8ToUtf16("\xE4\xB8"), u"\uFFFD\uFFFD");     // truncated at the end
    std::u16string all;
    for (char32_t cp : {0x24u, 0xA2u, 0x20ACu, 0x10348u})
        all += Utf8ToUtf16(Utf16ToUtf8(cp < 0x10000 ? std::u16string(1, char16_t(cp))
                                                      : std::u16string{char16_t(0xD800), char16_t(0xDF48)}));
    EXPECT_EQ(Utf16ToUtf8(all), "$\xC2\xA2\xE2\x82\xAC\xF0\x90\x8D\x88");
}

TEST(StartupRegistry, RunsInSlotOrderAndTearsDownInReverse)
{
    StartupRegistry reg;
    std::vector<std::string> log;
    auto step = [&](const char* what) { return [&log, what] { log.push_back(what); }; };
    reg.add(5, 0, "five", step("+5.0"), step("-5.0"));
    reg.add(1, 1, "one-one", step("+1.1"), step("-1.1"));
    reg.add(1, 0, "one-zero", step("+1.0"), step("-1.0"));
    ASSERT_TRUE(reg.load());
    EXPECT_TRUE(reg.load()); // already loaded: nothing runs again
    reg.unload();
    reg.unload();
    EXPECT_EQ(log, (std::vector<std::string>{"+1.0", "+1.1", "+5.0", "-5.0", "-1.1", "-1.0"}));
}

TEST(StartupRegistry, DuplicateKeyFailsAndFailedInitUndoes)
{
    StartupRegistry dup;
    dup.add(2, 0, "a", nullptr, nullptr);
    dup.add(2, 0, "b", nullptr, nullptr);
    EXPECT_FALSE(dup.load());

    StartupRegistry failing;
    std::vector<std::string> log;
    failing.add(1, 0, "ok", [&] { log.push_back("+ok"); }, [&] { log.push_back("-ok"); });
    failing.add(2, 0, "bad", [] { throw std::runtime_error("no"); }, [&] { log.push_back("-bad"); });
    EXPECT_FALSE(failing.load());
    EXPECT_FALSE(failing.loaded());
    EXPECT_EQ(log, (std::vector<std::string>{"+ok", "-ok"}));
}

} // namespace
