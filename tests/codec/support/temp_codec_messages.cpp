#include "tests/codec/support/temp_codec_messages.h"

#include "codec/core/rvd_message.h"

#include <gtest/gtest.h>

namespace codec_test {
namespace {

class throwing_sink : public rvd_message {
public:
    void start_message() override { text.clear(); }
    void put_text(const char* t) override { text += t; }
    void flush(bool end_of_message) override
    {
        if (end_of_message)
            throw codec_error{text};
    }
    std::string text;
};

class warning_sink : public rvd_message {
public:
    void start_message() override { text.clear(); }
    void put_text(const char* t) override { text += t; }
    void flush(bool end_of_message) override
    {
        if (end_of_message)
            warnings().push_back(text);
    }
    std::string text;
};

throwing_sink error_sink;
warning_sink warn_sink;

class handler_environment : public ::testing::Environment {
public:
    void SetUp() override
    {
        rvd_customize_errors(&error_sink);
        rvd_customize_warnings(&warn_sink);
    }
};

::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new handler_environment);

} // namespace

std::vector<std::string>& warnings()
{
    static std::vector<std::string> list;
    return list;
}

void clear_warnings()
{
    warnings().clear();
}

int count_warnings(const std::string& fragment)
{
    int n = 0;
    for (const std::string& w : warnings())
        if (w.find(fragment) != std::string::npos)
            n++;
    return n;
}

} // namespace codec_test
