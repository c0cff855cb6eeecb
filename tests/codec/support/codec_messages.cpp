#include "tests/codec/support/codec_messages.h"

#include "platform/TextConv.h"

#include <exception>

namespace codec_test {

namespace {
throwing_error_handler error_handler;
capturing_warning_handler warning_handler;
} // namespace

void throwing_error_handler::put_text(const char16_t* t)
{
    text += Utf16ToUtf8(std::u16string(t));
}

void throwing_error_handler::flush(bool end_of_message)
{
    // Never throw while another exception unwinds: that would end the program.
    if (end_of_message && std::uncaught_exceptions() == 0) {
        std::string done;
        done.swap(text);
        throw codec_error(done);
    }
}

void capturing_warning_handler::put_text(const char16_t* t)
{
    text += Utf16ToUtf8(std::u16string(t));
}

void capturing_warning_handler::flush(bool end_of_message)
{
    if (end_of_message) {
        warnings.push_back(text);
        text.clear();
    }
}

void install_codec_handlers()
{
    rvd_customize_errors(&error_handler);
    rvd_customize_warnings(&warning_handler);
}

const std::vector<std::string>& captured_warnings()
{
    return warning_handler.warnings;
}

void clear_captured_warnings()
{
    warning_handler.warnings.clear();
}

::testing::AssertionResult warning_seen(const std::string& fragment)
{
    for (const auto& w : warning_handler.warnings)
        if (w.find(fragment) != std::string::npos)
            return ::testing::AssertionSuccess();
    auto result = ::testing::AssertionFailure() << "no warning contains \"" << fragment << "\"";
    for (const auto& w : warning_handler.warnings)
        result << "\n  captured: " << w;
    return result;
}

::testing::AssertionResult no_warnings()
{
    if (warning_handler.warnings.empty())
        return ::testing::AssertionSuccess();
    auto result = ::testing::AssertionFailure() << "unexpected warnings:";
    for (const auto& w : warning_handler.warnings)
        result << "\n  " << w;
    return result;
}

} // namespace codec_test
