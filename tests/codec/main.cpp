// Every codec test runs with the throwing error handler and the capturing warning
// handler installed, and starts with no captured warnings; ORBEL_CODEC_FORM chooses the
// processor forms for the whole run.
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/processor_form.h"

#include <gtest/gtest.h>

namespace {
class CodecHandlersEnvironment : public ::testing::Environment {
public:
    void SetUp() override { codec_test::install_codec_handlers(); }
};

class ClearWarningsListener : public ::testing::EmptyTestEventListener {
public:
    void OnTestStart(const ::testing::TestInfo&) override { codec_test::clear_captured_warnings(); }
};
} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    codec_test::apply_form_from_environment();
    ::testing::AddGlobalTestEnvironment(new CodecHandlersEnvironment);
    ::testing::UnitTest::GetInstance()->listeners().Append(new ClearWarningsListener);
    return RUN_ALL_TESTS();
}
