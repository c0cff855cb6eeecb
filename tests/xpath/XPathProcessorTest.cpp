#include "xpath/xpath_exceptions.h"
#include "xpath/xpath_processor.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <memory>
#include <string>

namespace {

using namespace XPath;

std::unique_ptr<TiXmlDocument> parse(const char* xml)
{
    auto doc = std::make_unique<TiXmlDocument>();
    doc->Parse(xml);
    EXPECT_FALSE(doc->Error()) << xml;
    return doc;
}

// The "id" attributes (or names) of the selected nodes, in the result's order.
std::string ids(xpath_processor& p, unsigned count)
{
    std::string out;
    for (unsigned i = 0; i < count; ++i) {
        const TiXmlNode* n = p.get_xpath_node(i);
        const TiXmlElement* e = n ? n->ToElement() : nullptr;
        const char* id = e ? e->Attribute("id") : nullptr;
        if (!out.empty())
            out += ' ';
        out += id ? id : (n ? n->Value() : "null");
    }
    return out;
}

struct outcome {
    uint32_t state;
    result_kind kind;
    std::string value; // the string conversion of the result
    unsigned count;
    std::string selected;
    int32_t code;
};

outcome run(const TiXmlNode* base, const char* expr)
{
    xpath_processor p(base, expr);
    expression_result r = p.compute_xpath();
    outcome o{p.error(), r.kind(), r.to_string(), 0, "", p.execution_code()};
    if (r.kind() == kind_node_set) {
        o.count = r.set().count();
        o.selected = ids(p, o.count);
    }
    return o;
}

const char* const kDoc =
    "<r id=\"r\"><a id=\"a1\" n=\"1\"><b id=\"b1\"/></a><c id=\"c1\">text<!--note--></c>"
    "<a id=\"a2\" n=\"2.5\"><b id=\"b2\" n=\"2\"/></a><b id=\"b3\"/></r>";

TEST(XPathProcessor, ValuesOfExpressions)
{
    auto doc = parse(kDoc);
    const TiXmlElement* r = doc->RootElement();
    struct row {
        const char* expr;
        result_kind kind;
        const char* value;
    } rows[] = {
        {"1 + 2", kind_int, "3"},
        {"1.5 + 1", kind_double, "2.5"},
        {"'1.5' + 1", kind_int, "2"},
        {"ceiling(2.1)", kind_int, "3"},
        {"floor(-2.1)", kind_int, "-3"},
        {"ceiling('2.5')", kind_int, "0"},
        {"ceiling(true())", kind_int, "1"},
        {"substring('12345', 2, 3)", kind_string, "234"},
        {"substring('12345', 0)", kind_string, ""},
        {"substring('12345', 2)", kind_string, "2345"},
        {"substring('12345', 4, 9)", kind_string, "45"},
        {"substring('12345', 2, -1)", kind_string, ""},
        {"substring('12345', 6)", kind_string, ""},
        {"translate('abc','abc','A')", kind_string, "A"},
        {"translate('a-b','-','_')", kind_string, "a_b"},
        {"normalize-space('  a   b ')", kind_string, "a b"},
        {"normalize-space('\ta\nb')", kind_string, "a\nb"},
        {"sum(//@n)", kind_double, "5.5"},
        {"sum(/r/a/@n)", kind_double, "3.5"},
        {"sum(/r/a/b/@n)", kind_int, "2"},
        {"sum(/r/zzz)", kind_int, "0"},
        {"count(//a)", kind_int, "2"},
        {"count('x')", kind_int, "0"},
        {"concat('a', 1, true(), 2.5)", kind_string, "a1true2.5"},
        {"contains('abc', 'bc')", kind_bool, "true"},
        {"contains('abc', '')", kind_bool, "true"},
        {"starts-with('abc', 'abd')", kind_bool, "false"},
        {"string-length('abcd')", kind_int, "4"},
        {"not(0)", kind_bool, "true"},
        {"true() and false()", kind_bool, "false"},
        {"false() or 1", kind_bool, "true"},
        {"name()", kind_string, "r"},
        {"name(/r/a/@n)", kind_string, "n"},
        {"name(b)", kind_string, "b"},
        {"name('x')", kind_string, ""},
        {"position()", kind_int, "1"},
        {"last()", kind_int, "1"},
        {"text()", kind_string, ""},
        {"10 div 4", kind_double, "2.5"},
        {"7 mod 3", kind_int, "1"},
        {"-7 mod 3", kind_int, "-1"},
        {"7.5 mod 2", kind_double, "1"},
        {"2 * 3", kind_int, "6"},
        {"2 * 1.5", kind_double, "3"},
        {"-(2)", kind_int, "-2"},
        {"-(2.5)", kind_double, "-2.5"},
        {"1 - 2 - 3", kind_int, "-4"},
        {"1 < 2", kind_bool, "true"},
        {"2 >= 2.5", kind_bool, "false"},
        {"'abc' <= 'abd'", kind_bool, "true"},
        {"'abc' < 'abd'", kind_bool, "false"},
        {"'a' = 'a'", kind_bool, "true"},
        {"1 = '1.0'", kind_bool, "true"},
        {"true() = 'x'", kind_bool, "true"},
        {"1 != 1", kind_bool, "false"},
        {"a/@n = 2", kind_bool, "false"},
        {"a = 'a'", kind_bool, "true"},
        {"a != 'a'", kind_bool, "false"},
        {"a = 0", kind_bool, "true"},
        {"a = true()", kind_bool, "true"},
        {"x = false()", kind_bool, "true"},
        {"2147483647 + 1", kind_int, "-2147483648"},
        {"65536 * 65536", kind_int, "0"},
        {"-(0 - 2147483647 - 1)", kind_int, "-2147483648"},
        {"(0 - 2147483647 - 1) mod -1", kind_int, "0"},
        {"a and b and 0", kind_bool, "true"},
        {"(1 + 2) * 2", kind_int, "6"},
    };
    for (const row& w : rows) {
        const outcome o = run(r, w.expr);
        EXPECT_EQ(o.state, state_ok) << w.expr << " code " << o.code;
        EXPECT_EQ(o.kind, w.kind) << w.expr;
        EXPECT_EQ(o.value, w.value) << w.expr;
    }
}

TEST(XPathProcessor, ErrorStates)
{
    auto doc = parse(kDoc);
    const TiXmlElement* r = doc->RootElement();
    struct row {
        const char* expr;
        uint32_t state;
        int32_t code;
    } rows[] = {
        {"", state_syntax_error, 0},
        {"]a", state_syntax_error, 0},
        {"((((((((((((((((((((1))))))))))))))))))))", state_syntax_overflow, 0},
        {"$x", state_execution_error, exec_no_rule},
        {"/", state_not_one_value, 0},
        {"a//b", state_not_one_value, 0},
        {"foo()", state_execution_error, exec_unknown_function},
        {"node()", state_execution_error, exec_unknown_function},
        {"comment()", state_execution_error, exec_unknown_function},
        {"a = b", state_execution_error, exec_not_yet},
        {"namespace::x", state_execution_error, exec_not_yet},
        {"a/processing-instruction()", state_execution_error, exec_not_yet},
        {"a | 1", state_execution_error, exec_union_not_node_set},
        // The earlier step of a relative argument is left unread for the name.
        {"name(a/@n)", state_execution_error, exec_unexpected_construct},
        {"1 div 0", state_execution_error, exec_division_by_zero},
        {"7 mod 0", state_execution_error, exec_division_by_zero},
        {"5.5 mod 0.5", state_execution_error, exec_division_by_zero},
        {"Tag = Study/Tag", state_execution_error, exec_unexpected_construct},
        {"ceiling()", state_execution_error, exec_args_ceiling},
        {"concat()", state_execution_error, exec_args_concat},
        {"contains('a')", state_execution_error, exec_args_contains},
        {"count()", state_execution_error, exec_args_count},
        {"false(1)", state_execution_error, exec_args_false},
        {"floor(1, 2)", state_execution_error, exec_args_floor},
        {"last(1)", state_execution_error, exec_args_last},
        {"name(a, b)", state_execution_error, exec_args_name},
        {"normalize-space()", state_execution_error, exec_args_normalize_space},
        {"not()", state_execution_error, exec_args_not},
        {"position(1)", state_execution_error, exec_args_position},
        {"starts-with('a', 'b', 'c')", state_execution_error, exec_args_starts_with},
        {"string-length()", state_execution_error, exec_args_string_length},
        {"substring('a')", state_execution_error, exec_args_substring},
        {"sum()", state_execution_error, exec_args_sum},
        {"sum(1)", state_execution_error, exec_sum_not_node_set},
        {"text(1)", state_execution_error, exec_args_text},
        {"translate('a', 'b')", state_execution_error, exec_args_translate},
        {"true(1)", state_execution_error, exec_args_true},
    };
    for (const row& w : rows) {
        xpath_processor p(r, w.expr);
        EXPECT_EQ(p.compute_node_set_count(), 0u) << w.expr;
        EXPECT_EQ(p.error(), w.state) << w.expr;
        EXPECT_EQ(p.execution_code(), w.code) << w.expr;
        EXPECT_EQ(p.get_xpath_node(0), nullptr) << w.expr;
        EXPECT_EQ(p.result().kind(), w.state == state_ok ? p.result().kind() : kind_invalid);
    }

    // Functions that need a context element fail on a text node.
    const TiXmlNode* text = r->FirstChildElement("c")->FirstChild();
    EXPECT_EQ(run(text, "position()").code, exec_position_without_context);
    EXPECT_EQ(run(text, "last()").code, exec_last_without_context);
    EXPECT_EQ(run(text, "text()").code, exec_text_without_context);
    const outcome unnamed = run(text, "name()");
    EXPECT_EQ(unnamed.state, state_ok);
    EXPECT_EQ(unnamed.value, "");
    // No context element: a relative path starts from nothing.
    EXPECT_EQ(run(text, "a").count, 0u);
}

TEST(XPathProcessor, BaseNodes)
{
    auto doc = parse(kDoc);
    xpath_processor on_doc(doc.get(), "/r");
    EXPECT_EQ(on_doc.compute_node_set_count(), 0u);
    EXPECT_EQ(on_doc.error(), state_execution_error);
    EXPECT_EQ(on_doc.execution_code(), exec_base_without_parent);

    xpath_processor null_base(nullptr, "a");
    EXPECT_EQ(null_base.compute_node_set_count(), 0u);
    EXPECT_EQ(null_base.error(), state_execution_error);

    xpath_processor null_text(doc->RootElement(), nullptr);
    EXPECT_EQ(null_text.compute_node_set_count(), 0u);
    EXPECT_EQ(null_text.error(), state_syntax_error);

    xpath_processor counted(doc->RootElement(), "count(//a)");
    EXPECT_EQ(counted.compute_node_set_count(), 0u);
    EXPECT_EQ(counted.error(), state_ok);
    EXPECT_EQ(counted.compute_xpath().to_string(), "2");

    xpath_processor twice(doc->RootElement(), "/r/a");
    EXPECT_EQ(twice.compute_xpath().set().count(), 2u);
    EXPECT_EQ(twice.compute_node_set_count(), 2u);

    EXPECT_EQ(first_xpath_node(doc->RootElement(), "/r/a"), doc->RootElement()->FirstChildElement("a"));
    EXPECT_EQ(first_xpath_node(doc->RootElement(), "/r/zzz"), nullptr);
    EXPECT_EQ(first_xpath_node(doc->RootElement(), "]"), nullptr);
}

TEST(XPathProcessor, Selections)
{
    auto doc = parse(kDoc);
    const TiXmlElement* r = doc->RootElement();
    struct row {
        const char* expr;
        const char* selected;
    } rows[] = {
        {"/r", "r"},
        {"/r/a", "a1 a2"},
        {"/r/a/b", "b1 b2"},
        {"//a", "a1 a2"},
        {"//a[", "a1 a2"},
        {"//b", "b3 b1 b2"},
        {"a", "a1 a2"},
        {"r/a", "a1 a2"},
        {"a[2]", "a2"},
        {"*[2]", "c1"},
        {"b[1]", "b3"},
        {"a[last()]", "a2"},
        {"*[last()]", "b3"},
        {"a[@n='2.5']", "a2"},
        {"a[@n]", "a1 a2"},
        {"a[b[@n]]", "a2"},
        // Only the last step of a relative path counts, here from each a.
        {"a[b/@n]", "a1 a2"},
        {"a[position() = 1]", "a1"},
        {"*[@id='c1' or @id='b3']", "c1 b3"},
        {"a[@n][2]", "a2"},
        {"a | b", "b3 a1 a2"},
        {"@a/b", "b3"},
        {"/r/@id/b", ""},
        {"1 | a", "a1 a2"},
        {"//a/@n", "null null"},
        {"child::c", "c1"},
        {"/r/c/text()", "text"},
        {"/r/c/comment()", "note"},
        {"/r/c/node()", "text note"},
        {"/r/a/b/..", "a1 a2"},
        {"/r/a/.", "a1 a2"},
        {"/r/a/b/parent::a", "a1 a2"},
        {"/r/a/following-sibling::*", "c1 a2 b3"},
        {"/r/b/preceding-sibling::a", "a2 a1"},
        {"/r/a/descendant::b", "b1 b2"},
        {"/r/a/descendant-or-self::*", "a1 b1 a2 b2"},
        {"/r/a/b/ancestor::*", "a1 r a2"},
        {"/r/a/b/ancestor-or-self::*", "b1 a1 r b2 a2"},
        {"/r/a/self::a", "a1 a2"},
        {"/r/c/following::b", "b2 b3"},
        {"/r/c/preceding::b", "b1"},
        {"a/b", "b3"},
        {"/r/a[2]/b", "b2"},
        {"/r//b", "b3"},
        // Filter positions stay structural: a2 is the third child element.
        {"(a)[3]", "a2"},
        {"(a)[2]", ""},
        {"(/r/a)/b", "b1 b2"},
        {"(/r)//b", "b3 b1 b2"},
        {"/r/p:*", ""},
    };
    for (const row& w : rows) {
        const outcome o = run(r, w.expr);
        EXPECT_EQ(o.state, state_ok) << w.expr << " code " << o.code;
        EXPECT_EQ(o.selected, w.selected) << w.expr;
    }
    auto prefixed = parse("<r><p:a id=\"1\"/><q:a id=\"2\"/><p:b id=\"3\"/></r>");
    EXPECT_EQ(run(prefixed->RootElement(), "/r/p:*").selected, "1 3");
    EXPECT_EQ(run(prefixed->RootElement(), "/r/p:a").selected, "1");
}

TEST(XPathProcessor, PredicateKeepsOuterContext)
{
    // The right operand runs first; the left one still starts from the base element.
    auto doc = parse(kDoc);
    const outcome o = run(doc->RootElement(), "count(a) + count(b[1])");
    EXPECT_EQ(o.value, "3");
}

} // namespace
