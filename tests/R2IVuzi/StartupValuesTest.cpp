#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/StartupValues.h"
#include "codec/core/rvd_message.h"
#include "platform/ModuleStartup.h"
#include "platform/TextConv.h"
#include "support/GridHarness.h"

#include <gtest/gtest.h>

#include <boost/regex.hpp>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

class StartupValues : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(module_->loaded()); }

    // Each test starts from a fresh load; the state an earlier test left does not count.
    std::unique_ptr<gridtest::FreshModule> module_ = std::make_unique<gridtest::FreshModule>();

    static std::string raiseThroughInstalledChain(const std::string& text)
    {
        try {
            rvd_error("Ravade Core Error:\n") << text.c_str();
        } catch (const CJ2KException& e) {
            return e.what();
        }
        ADD_FAILURE() << "the codec error did not become a CJ2KException";
        return "";
    }
};

TEST_F(StartupValues, ErrorChainIsReadyForTheControl)
{
    rvd_message* previous = rvd_customize_errors(&GetCodecErrorFormatter());
    // Twelve tabs indent by at most 40; a long word is cut at 79.
    const std::string word(100, 'w');
    EXPECT_EQ(raiseThroughInstalledChain("\t\t\t\t\t\t\t\t\t\t\t\tx\n" + word),
              "Ravade Core Error:\n" + std::string(40, ' ') + "x\n" + word.substr(0, 79) + "\n" +
                  word.substr(79) + "\n");
    rvd_customize_errors(previous);
}

TEST_F(StartupValues, SettingsHoldTheirFirstValues)
{
    EXPECT_EQ(GetDefaultOverlayFontName(), "Arial");
    EXPECT_EQ(GetAnnotationLanguage(), "EN");
    EXPECT_EQ(g_retryCount.load(), 5);
    EXPECT_EQ(g_packetSize.load(), 10240);
    EXPECT_TRUE(GetLayoutMap().empty());
    EXPECT_TRUE(GetMaxLayoutMap().empty());
    // The version the control reports is the project's, written with commas.
    std::ifstream lists(ORBEL_SOURCE_DIR "/CMakeLists.txt");
    const std::string text((std::istreambuf_iterator<char>(lists)), std::istreambuf_iterator<char>());
    boost::smatch m;
    ASSERT_TRUE(boost::regex_search(text, m, boost::regex("project\\([^)]*VERSION (\\d+)\\.(\\d+)\\.(\\d+)\\.(\\d+)")));
    EXPECT_EQ(Utf16ToUtf8(GetModuleVersionText()), m[1] + "," + m[2] + "," + m[3] + "," + m[4]);
}

TEST_F(StartupValues, ReloadGivesFreshObjects)
{
    rvd_customize_errors(&GetCodecErrorFormatter());
    GetAnnotationLanguage() = "DE";
    GetDefaultOverlayFontName() = "Courier";
    GetLayoutMap()[0] = {2, 3};
    GetMaxLayoutMap()[1] = {4, 4};
    g_retryCount = 1;
    g_packetSize = 512;
    g_hangingMode = 0;
    g_showOverlay = g_showAnnotation = g_showRuler = false;
    g_overlayTextSize = 3.5f;
    rvd_customize_text("reload-ctx", 1, "lead", "body\0");
    try {
        rvd_error e("Ravade Core Error:\n");
        e << "interrupted";
        throw std::runtime_error("elsewhere");
    } catch (const std::runtime_error&) {
    }

    ModuleUnload();
    // Unloading removes the chain it destroys from the codec.
    EXPECT_EQ(rvd_customize_errors(nullptr), nullptr);
    EXPECT_THROW(GetAnnotationLanguage(), std::logic_error);
    EXPECT_THROW(GetCodecErrorFormatter(), std::logic_error);

    ASSERT_TRUE(ModuleLoad());
    EXPECT_EQ(GetAnnotationLanguage(), "EN");
    EXPECT_EQ(GetDefaultOverlayFontName(), "Arial");
    EXPECT_TRUE(GetLayoutMap().empty());
    EXPECT_TRUE(GetMaxLayoutMap().empty());
    EXPECT_EQ(g_retryCount.load(), 5);
    EXPECT_EQ(g_packetSize.load(), 10240);
    EXPECT_EQ(g_hangingMode, 2);
    EXPECT_TRUE(g_showOverlay && g_showAnnotation && g_showRuler);
    EXPECT_EQ(g_overlayTextSize, 2.0f);
    rvd_message* previous = rvd_customize_errors(&GetCodecErrorFormatter());
    EXPECT_EQ(raiseThroughInstalledChain("fresh"), "Ravade Core Error:\nfresh\n");
    // The registry was emptied: the text is untranslated again.
    try {
        rvd_error e("reload-ctx", 1);
    } catch (const CJ2KException& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Untranslated error --\n", 0), 0u);
    }
    rvd_customize_errors(previous);
}

TEST(StartupRegistry, ModuleRegistersItsSteps)
{
    const std::vector<std::string> names = StartupRegistry::global().names();
    for (const char* step : {"codec-error sink", "codec-error formatter", "version text", "layout map",
                             "maximum-layout map", "default overlay font name",
                             "annotation language", "codec text registry and terminator"})
        EXPECT_NE(std::find(names.begin(), names.end(), step), names.end()) << step;
}

} // namespace
