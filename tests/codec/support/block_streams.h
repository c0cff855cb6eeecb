// Test-only helpers around the single-block streams: source samples, the generated
// stream folder, and codec message handlers scoped to a test.
#pragma once

#include "tests/codec/support/block_extract.h"
#include "codec/core/rvd_message.h"

#include <cstdint>
#include <string>
#include <vector>

namespace block_test {

// Whitespace-separated integers.
std::vector<int> read_samples(const std::string& path);

// The generated single-block streams, made on first use.
std::string block_stream_dir();

struct block_error {
    std::string text;
};

// Installs, for its lifetime, an error handler that throws block_error and a warning
// handler that records texts; puts back the handlers it found.
class scoped_handlers {
public:
    scoped_handlers();
    ~scoped_handlers();
    scoped_handlers(const scoped_handlers&) = delete;
    scoped_handlers& operator=(const scoped_handlers&) = delete;

    std::vector<std::string> warnings;

private:
    class error_sink : public rvd_message {
    public:
        void start_message() override { text.clear(); }
        void put_text(const char* t) override { text += t; }
        void flush(bool end) override
        {
            if (end)
                throw block_error{text};
        }
        std::string text;
    };
    class warning_sink : public rvd_message {
    public:
        explicit warning_sink(std::vector<std::string>& out) : out_(out) {}
        void start_message() override { text.clear(); }
        void put_text(const char* t) override { text += t; }
        void flush(bool end) override
        {
            if (end)
                out_.push_back(text);
        }
        std::string text;

    private:
        std::vector<std::string>& out_;
    };
    error_sink errors_;
    warning_sink warnings_{warnings};
    rvd_message* old_errors_;
    rvd_message* old_warnings_;
};

} // namespace block_test
