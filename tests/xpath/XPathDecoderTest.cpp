#include "xpath/token_list.h"
#include "xpath/xpath_exceptions.h"
#include "xpath/xpath_stream.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace XPath;

// Records the decoder's actions as "(c,s)", "(c,s;n)", "(c,s,\"t\")" or "(c,s;n,\"t\")".
class recording_stream : public xpath_stream {
public:
    explicit recording_stream(const char* text) : xpath_stream(text) {}
    void record_action(int32_t construct, int32_t sub_kind, int32_t number, const char* text) override
    {
        std::ostringstream o;
        o << '(' << construct << ',' << sub_kind;
        if (number)
            o << ';' << number;
        if (text && *text)
            o << ",\"" << text << '"';
        o << ')';
        actions.push_back(o.str());
    }
    int32_t action_count() override { return static_cast<int32_t>(actions.size()); }
    std::vector<std::string> actions;
};

std::string decode(const char* text)
{
    recording_stream s(text);
    s.lex();
    s.tokens().decode();
    std::string joined;
    for (const auto& a : s.actions)
        joined += (joined.empty() ? "" : " ") + a;
    return joined;
}

// Class sequence after the redefinition pass; numbers and literals carry their text.
std::string classes(const char* text)
{
    recording_stream s(text);
    s.lex();
    s.tokens().redefine();
    std::string out;
    for (token* t = s.tokens().first(); t; t = s.tokens().next_of(t)) {
        if (!out.empty())
            out += ' ';
        out += std::to_string(t->lex_class);
        if (t->lex_class == lex_number || t->lex_class == lex_literal)
            out += " \"" + t->text + '"';
    }
    return out;
}

TEST(XPathDecoder, FunctionCallsAndNodeTests)
{
    EXPECT_EQ(decode("text()"),
        "(208,0,\"text\") (206,17) (16,0) (15,12) (20,25) (19,22) (18,36) (27,53) (26,55) "
        "(25,38) (24,48) (23,35) (22,46) (21,43) (14,0)");
    const std::string path = decode("Tag/text()");
    EXPECT_NE(path.find("(7,29;57)"), std::string::npos);
    EXPECT_EQ(path.find("(16,"), std::string::npos);
    EXPECT_NE(decode("concat('a', 'b', 1)").find("(16,1;3)"), std::string::npos);
    EXPECT_NE(decode("$x").find("(36,0) (15,8)"), std::string::npos);
    EXPECT_NE(decode("child::a").find("(6,0;44) (5,19)"), std::string::npos);
    EXPECT_NE(decode("p:a").find("(207,0,\"p\") (208,0,\"a\") (206,16)"), std::string::npos);
}

TEST(XPathDecoder, OperatorLevels)
{
    const std::string ors = decode("a or b or c");
    const size_t first = ors.find("(21,44)");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(ors.find("(21,45)", first), std::string::npos);

    const std::string sums = decode("1+2-3");
    const size_t plus = sums.find("(25,39)");
    ASSERT_NE(plus, std::string::npos);
    EXPECT_NE(sums.find("(25,42)", plus), std::string::npos);

    EXPECT_NE(decode("a|b").find("(18,37)"), std::string::npos);

    // One "and" per level: the third operand is left over.
    const std::string ands = decode("a and b and c");
    EXPECT_EQ(ands, decode("a and b"));
    EXPECT_EQ(ands.find("(22,47)"), ands.rfind("(22,47)"));

    EXPECT_EQ(decode("1 + 2)"), decode("1 + 2"));
    EXPECT_NE(decode("4 mod 3").find("(26,58)"), std::string::npos);
    EXPECT_NE(decode("-a").find("(27,54)"), std::string::npos);
    EXPECT_NE(decode("a != 1").find("(23,34)"), std::string::npos);
    EXPECT_NE(decode("a >= 1").find("(24,52)"), std::string::npos);
}

TEST(XPathDecoder, AbsolutePathNumbersChainTheSteps)
{
    // Each relative part carries the action count at its start; the path's own action
    // the count at the rule's start.
    const std::string got = decode("/r/s");
    EXPECT_NE(got.find("(4,7) (3,5;7) (3,3) (2,0) (1,28)"), std::string::npos) << got;
    EXPECT_NE(decode("/").find("(2,1) (1,28)"), std::string::npos);
}

TEST(XPathDecoder, Failures)
{
    try {
        decode("");
        FAIL();
    } catch (const syntax_error& e) {
        EXPECT_STREQ(e.what(), "main level");
    }
    EXPECT_THROW(decode("]a"), syntax_error);
    EXPECT_STREQ(syntax_error(std::string(198, 'x').c_str()).what(), std::string(198, 'x').c_str());
    EXPECT_STREQ(syntax_error(std::string(199, 'x').c_str()).what(), "");

    const std::string deep = std::string(20, '(') + "1" + std::string(20, ')');
    EXPECT_THROW(decode(deep.c_str()), syntax_overflow);
    EXPECT_NO_THROW(decode("(((1)))"));
}

TEST(XPathLexer, NumbersNamesLiterals)
{
    EXPECT_EQ(classes(".5"), "29 \".5\"");
    EXPECT_EQ(classes("1.2.3"), "29 \"1.2\" 8 29 \"3\"");
    EXPECT_EQ(classes("text()"), "57 16 17");
    EXPECT_EQ(classes("text ()"), "28 16 17");
    EXPECT_EQ(classes("a/text"), "28 6 28");
    EXPECT_EQ(classes("child node or div"), "44 56 37 40");
    EXPECT_EQ(classes("a='x"), "28 23");
    EXPECT_EQ(classes("\"it's\""), "30 \"it's\"");
    EXPECT_EQ(classes("a-b.c_d x:y"), "28 28 11 28");
    EXPECT_EQ(classes("$#"), "15 1");
}

TEST(XPathLexer, HighBytes)
{
    for (int b = 128; b < 256; ++b) {
        lex_class expect = lex_none;
        if ((b >= 192 && b <= 214) || (b >= 216 && b <= 246) || b >= 248)
            expect = lex_base_char;
        else if (b == 183)
            expect = lex_extender;
        EXPECT_EQ(char_class(static_cast<unsigned char>(b)), expect) << b;
    }
    const char name[] = {'\xc0', '\xb7', 'a', '\0'};
    EXPECT_EQ(classes(name), "28");
    const char times[] = {'\xd7', '\0'};
    EXPECT_EQ(classes(times), "1");
    EXPECT_STREQ(lex_class_name(26), "or character (|)");
    EXPECT_STREQ(lex_class_name(58), "???");
}

} // namespace
