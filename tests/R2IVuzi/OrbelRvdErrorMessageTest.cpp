#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/OrbelRvdErrorMessage.h"
#include "codec/core/rvd_message.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>

namespace {

// The chain the module builds, installed for one test.
class BridgeChain : public ::testing::Test {
protected:
    BridgeChain() : bridge_(true), formatter_(&bridge_, 79, 40) {}
    // Message sinks may throw from their destructors; a holder must say it does not.
    ~BridgeChain() noexcept override {}
    void SetUp() override { previous_ = rvd_customize_errors(&formatter_); }
    void TearDown() override { rvd_customize_errors(previous_); }

    // Raises one codec error from the given pieces; returns the exception it became.
    template <class... Pieces> static CJ2KException raise(const Pieces&... pieces)
    {
        try {
            rvd_error e("Ravade Core Error:\n");
            (void)(e << ... << pieces);
        } catch (const CJ2KException& caught) {
            return caught;
        }
        ADD_FAILURE() << "the error did not throw";
        return CJ2KException("", "", 0, "");
    }

    static std::string withoutWhitespace(const std::string& s)
    {
        std::string out;
        for (char c : s)
            if (c != ' ' && c != '\t' && c != '\n')
                out += c;
        return out;
    }

    static void expectLaidOutInLines(const std::string& text)
    {
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.back(), '\n');
        size_t start = 0;
        for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
            EXPECT_LE(nl - start, 79u) << text.substr(start, nl - start);
    }

    Orbel_Rvd_Error_Message bridge_;
    rvd_message_formatter formatter_;
    rvd_message* previous_ = nullptr;
};

TEST_F(BridgeChain, LongErrorBecomesOneExceptionInLines)
{
    std::string words;
    for (int i = 0; i < 300; ++i)
        words += "word" + std::to_string(i) + (i % 37 == 36 ? "\n" : " ");
    CJ2KException e = raise(words.c_str());
    const std::string text = e.what();
    EXPECT_EQ(text.rfind("Ravade Core Error:\n", 0), 0u);
    expectLaidOutInLines(text);
    EXPECT_EQ(withoutWhitespace(text), withoutWhitespace("Ravade Core Error:" + words));
    EXPECT_EQ(e.getSourceFile(), ".\\facade\\OrbelViewer");
    EXPECT_EQ(e.getLine(), 68);
    EXPECT_EQ(e.getContext(), "");
}

TEST(OrbelRvdErrorMessage, WarningsAndClearedFlagThrowNothing)
{
    Orbel_Rvd_Error_Message quiet(false);
    rvd_message_formatter formatter(&quiet, 79, 40);
    rvd_message* oldWarnings = rvd_customize_warnings(&formatter);
    EXPECT_NO_THROW({ rvd_warning("Ravade Core Warning:\n") << "just a warning"; });
    rvd_customize_warnings(oldWarnings);

    Orbel_Rvd_Error_Message throwing(true);
    throwing.put_text("x");
    throwing.put_text(u"wide text is ignored");
    EXPECT_NO_THROW(throwing.flush(false));
    try {
        throwing.flush(true);
        ADD_FAILURE() << "no exception";
    } catch (const CJ2KException& e) {
        EXPECT_STREQ(e.what(), "x");
    }
}

} // namespace
