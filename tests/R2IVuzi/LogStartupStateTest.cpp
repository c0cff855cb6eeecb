#include "tests/diagnostics/LogTestSupport.h"

#include "diagnostics/Logging.h"
#include "platform/ModuleStartup.h"
#include "support/GridHarness.h"

#include <gtest/gtest.h>

ORBEL_SOURCE_NAME(".\\tests\\R2IVuzi\\LogStartupStateTest")

namespace {

// The fixture puts the logger's start-up state back afterwards, but must not set it before:
// this test looks at what the process starts with once the module is loaded. The clock is
// not part of that state; an earlier test may have left it running manually.
class LogStartupState : public LogFileFixture {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "orbel-log-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        drive_ = pattern;
        setenv("ORBEL_DRIVE_C", drive_.c_str(), 1);
        KernelTestHooks::reset();
    }
};

TEST_F(LogStartupState, OnlyTheTimeSwitchIsOnAfterModuleLoad)
{
    {
        gridtest::FreshModule module;
        ASSERT_TRUE(module.loaded());
        pinClock();
        initLogFile(u"C:\\Quillon.Log", 1, 1, 0);
        ORBEL_LOG_AT(INFO, 1) << "x";
        closeLogFile();
    }
    EXPECT_EQ(readLog(), "[INFO:1205/225449:LogStartupStateTest(1)] x\r\n");
}

} // namespace
