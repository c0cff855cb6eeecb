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

} // namespace
