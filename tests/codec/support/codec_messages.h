// Message handlers shared by every codec test: errors throw a test exception carrying
// the collected text, warnings are captured so tests can check them. tests/codec/main.cpp
// installs both before any test runs and clears the captured warnings before each test.
#pragma once

#include "codec/core/rvd_message.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace codec_test {

// Thrown by the error handler when a codec error ends; what() is the whole text,
// lead-in included.
class codec_error : public std::runtime_error {
public:
    explicit codec_error(const std::string& text) : std::runtime_error(text) {}
};

class throwing_error_handler : public rvd_message {
public:
    void start_message() override { text.clear(); }
    void put_text(const char* t) override { text += t; }
    void put_text(const char16_t* t) override;
    void flush(bool end_of_message) override;

private:
    std::string text;
};

class capturing_warning_handler : public rvd_message {
public:
    void start_message() override { text.clear(); }
    void put_text(const char* t) override { text += t; }
    void put_text(const char16_t* t) override;
    void flush(bool end_of_message) override;

    std::vector<std::string> warnings;

private:
    std::string text;
};

// Installs the two handlers for the whole test program.
void install_codec_handlers();

// Warnings captured since the current test started (each with its lead-in).
const std::vector<std::string>& captured_warnings();
void clear_captured_warnings();

// Success when some captured warning contains the fragment.
::testing::AssertionResult warning_seen(const std::string& fragment);
// Success when no warning was captured.
::testing::AssertionResult no_warnings();

// Runs the callable and returns the text of the codec error it raises; fails the test
// (and returns "") when it raises none.
template <class F>
std::string error_text(F&& f)
{
    try {
        f();
    } catch (const codec_error& e) {
        return e.what();
    }
    ADD_FAILURE() << "no codec error was raised";
    return std::string();
}

} // namespace codec_test
