#include "codec/core/rvd_message.h"
#include "platform/TextConv.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct EndOfMessage {};

// Records every call as one entry: texts as they come, wide texts as "W:" + UTF-8,
// "<start>", "<flush:0>" and "<flush:1>". Throws EndOfMessage from flush(true) when asked,
// as a handler of rvd_error must.
class RecordingSink : public rvd_message {
public:
    explicit RecordingSink(bool throwAtEnd = false) : throwAtEnd_(throwAtEnd) {}
    void put_text(const char* text) override { calls.push_back(text); }
    void put_text(const char16_t* text) override { calls.push_back("W:" + Utf16ToUtf8(text)); }
    void flush(bool end) override
    {
        calls.push_back(end ? "<flush:1>" : "<flush:0>");
        if (end && throwAtEnd_)
            throw EndOfMessage();
    }
    void start_message() override { calls.push_back("<start>"); }

    std::string joined() const
    {
        std::string s;
        for (const std::string& c : calls)
            if (c[0] != '<' || c == "<#>")
                s += c;
        return s;
    }
    std::vector<std::string> calls;

private:
    bool throwAtEnd_;
};

// Installs handlers for one test and puts back whatever was installed before.
class HandlerScope {
public:
    HandlerScope(rvd_message* errors, rvd_message* warnings)
        : oldErrors_(rvd_customize_errors(errors)), oldWarnings_(rvd_customize_warnings(warnings))
    {
    }
    ~HandlerScope()
    {
        rvd_customize_errors(oldErrors_);
        rvd_customize_warnings(oldWarnings_);
    }

private:
    rvd_message* oldErrors_;
    rvd_message* oldWarnings_;
};

using Calls = std::vector<std::string>;

TEST(RvdMessageFormatter, WrapsAtLastBlankAndCutsLongWords)
{
    RecordingSink sink;
    {
        rvd_message_formatter f(&sink, 5);
        f.put_text("one two");
        EXPECT_EQ(sink.calls, (Calls{"o", "n", "e", "\n"}));
        f.flush(true);
        EXPECT_EQ(sink.calls, (Calls{"o", "n", "e", "\n", "two", "\n", "<flush:1>"}));
    }
    sink.calls.clear();
    {
        rvd_message_formatter f(&sink, 5);
        f << "abcdefghij";
        EXPECT_EQ(sink.calls, (Calls{"a", "b", "c", "d", "e", "\n"}));
        f.flush(true);
        EXPECT_EQ(sink.calls.at(6), "fghij");
        EXPECT_EQ(sink.calls.at(7), "\n");
    }
    // The destructor ends nothing: it only passes flush(false) on.
    EXPECT_EQ(sink.calls.back(), "<flush:0>");
}

TEST(RvdMessageFormatter, NewlineEndsShortLinesAtOnce)
{
    RecordingSink sink;
    rvd_message_formatter f(&sink, 79);
    f.put_text("ab\ncd");
    EXPECT_EQ(sink.calls, (Calls{"ab", "\n"}));
    sink.calls.clear();
    f.flush(false);
    f.set_master_indent(3);
    f.put_text("x\n\ny");
    f.flush(true);
    EXPECT_EQ(sink.calls, (Calls{"cd", "\n", "<flush:0>", "   x", "\n", "   ", "\n", "   y", "\n",
                                 "<flush:1>"}));
}

TEST(RvdMessageFormatter, TabsIndentParagraphsWithinMaxIndent)
{
    RecordingSink sink;
    rvd_message_formatter narrow(&sink, 20);
    narrow.put_text("\tone two three four five six\na\tb\n");
    EXPECT_EQ(sink.joined(), "    one two three\n    four five six\na b\n");

    sink.calls.clear();
    rvd_message_formatter wide(&sink, 79, 40);
    wide.put_text("\t\t\t\t\t\t\t\t\t\t\t\tx\n"); // twelve tabs stop at 40
    wide.set_master_indent(38);
    wide.put_text("\t\ty\n");                   // only 2 more fit beside the master indent
    EXPECT_EQ(sink.joined(), std::string(40, ' ') + "x\n" + std::string(40, ' ') + "y\n");

    // A paragraph's tab indentation ends with its message, whether or not a line is open.
    sink.calls.clear();
    rvd_message_formatter next(&sink, 20);
    next.put_text("	first");
    next.flush(true);
    next.put_text("	");
    next.flush(true);
    next.put_text("second\n");
    EXPECT_EQ(sink.joined(), "    first\nsecond\n");
}

TEST(RvdMessageFormatter, MasterIndentIsClampedAndLinesStayWithinLength)
{
    RecordingSink sink;
    rvd_message_formatter f(&sink, 79, 40);
    f.set_master_indent(60);
    f.put_text("\t\t");
    f.put_text(std::string(200, 'a').c_str());
    f.put_text(" ");
    f.put_text(std::string(100, 'b').c_str());
    f.flush(true);
    std::string text = sink.joined();
    size_t start = 0, lines = 0, letters = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1, ++lines) {
        std::string line = text.substr(start, nl - start);
        EXPECT_LE(line.size(), 79u) << line;
        EXPECT_EQ(line.find_first_not_of(' '), 40u) << line;
        letters += line.size() - 40;
    }
    EXPECT_EQ(start, text.size());
    EXPECT_EQ(letters, 300u);
    EXPECT_EQ(lines, 9u); // 39 letters a line: 200 a's take 6 lines, 100 b's 3

    sink.calls.clear();
    f.set_master_indent(-3);
    f.put_text("z\n");
    EXPECT_EQ(sink.calls, (Calls{"z", "\n"}));
}

TEST(RvdMessageFormatter, StartMessageAndMissingOutput)
{
    RecordingSink sink;
    rvd_message_formatter f(&sink, 10);
    f.put_text("half");
    f.start_message();
    EXPECT_EQ(sink.calls, (Calls{"<start>", "half", "\n", "<flush:0>"}));

    rvd_message_formatter none(nullptr, 10);
    none.put_text("nothing at all happens here");
    none.start_message();
    none.flush(true);
}

TEST(RvdMessage, UntranslatedErrorNamesContextAndDecimalId)
{
    RecordingSink errors(true);
    HandlerScope scope(&errors, nullptr);
    EXPECT_THROW(
        {
            rvd_error e("ctx", 4660);
            EXPECT_EQ(errors.joined(), "Untranslated error --\nConsult vendor for more information\n"
                                       "Details:\n  context=\"ctx\"; id=4660; ");
            e.set_hex_mode(true);
            e << 4660u;
        },
        EndOfMessage);
    EXPECT_EQ(errors.calls.back(), "<flush:1>");
    EXPECT_EQ(errors.calls.at(errors.calls.size() - 2), "1234");
}

class QuietSink : public rvd_message {
    void put_text(const char* text) override { std::fputs(text, stderr); }
    void flush(bool end) override
    {
        if (end)
            std::fputs("[end]", stderr);
    }
};

} // namespace
