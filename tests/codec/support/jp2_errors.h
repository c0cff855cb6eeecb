// A throwing codec error sink for the JP2 tests, and the error text they compare: the
// file-format lead-in checked and removed, whitespace runs read as one blank (line
// wrapping belongs to the formatter).
#pragma once

#include "codec/core/rvd_message.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>

namespace jp2_test {

struct CodecError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class ThrowingSink : public rvd_message {
public:
    void start_message() override { text.clear(); }
    void put_text(const char* t) override { text += t; }
    void flush(bool end) override
    {
        if (end) {
            std::string t;
            t.swap(text);
            throw CodecError(t);
        }
    }
    std::string text;
};

inline ThrowingSink& throwing_sink()
{
    static ThrowingSink* s = new ThrowingSink; // lives for the whole test program
    return *s;
}

// The normalised text of the error f raises; "" when none was raised.
inline std::string format_error(const std::function<void()>& f)
{
    try {
        f();
    } catch (const CodecError& e) {
        std::string t = e.what();
        const std::string lead = "Error in Ravade File Format Support:\n";
        EXPECT_EQ(t.compare(0, lead.size(), lead), 0) << t;
        std::string out;
        for (char ch : t.substr(std::min(t.size(), lead.size()))) {
            bool space = ch == ' ' || ch == '\n' || ch == '\t';
            if (!space)
                out += ch;
            else if (!out.empty() && out.back() != ' ')
                out += ' ';
        }
        while (!out.empty() && out.back() == ' ')
            out.pop_back();
        return out;
    }
    return "";
}

} // namespace jp2_test
