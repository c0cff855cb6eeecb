#include "tests/diagnostics/LogTestSupport.h"

#include "diagnostics/Logging.h"
#include "platform/ModuleStartup.h"

#include <gtest/gtest.h>

ORBEL_SOURCE_NAME(".\\tests\\R2IVuzi\\LogStartupStateTest")

namespace {

// The fixture puts the start-up state back afterwards, but must not set it before: this
// test looks at what the process starts with once the module is loaded.
class LogStartupState : public LogFileFixture {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "orbel-log-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        drive_ = pattern;
        setenv("ORBEL_DRIVE_C", drive_.c_str(), 1);
    }
};

TEST_F(LogStartupState, OnlyTheTimeSwitchIsOnAfterModuleLoad)
{
    ASSERT_TRUE(ModuleLoad());
    pinClock();
    initLogFile(u"C:\\Quillon.Log", 1, 1, 0);
    ORBEL_LOG_AT(INFO, 1) << "x";
    closeLogFile();
    ModuleUnload();
    EXPECT_EQ(readLog(), "[INFO:1205/225449:LogStartupStateTest(1)] x\r\n");
}

} // namespace
