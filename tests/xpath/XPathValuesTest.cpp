#include "xpath/expression_result.h"
#include "xpath/node_set.h"
#include "xpath/xpath_exceptions.h"
#include "xpath/xpath_stack.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <cmath>
#include <limits>
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

// Names of the entries: element names, "@name" for attributes, quoted texts.
std::string names(const node_set& s)
{
    std::string out;
    for (uint32_t i = 0; i < s.count(); ++i) {
        if (!out.empty())
            out += ' ';
        if (s.is_attribute(i))
            out += '@' + std::string(s.attribute(i)->Name());
        else if (s.node(i)->ToElement())
            out += s.node(i)->Value();
        else
            out += '"' + std::string(s.node(i)->Value()) + '"';
    }
    return out;
}

expression_result make(result_kind k)
{
    expression_result r;
    switch (k) {
    case kind_bool: r.set_bool(true); break;
    case kind_string: r.set_string("12abc"); break;
    case kind_int: r.set_int(-3); break;
    case kind_double: r.set_double(2.5); break;
    default: break;
    }
    return r;
}

TEST(XPathValues, ConversionTable)
{
    // Each row: to bool, to int, to double, to string.
    struct row {
        result_kind kind;
        bool b;
        int32_t i;
        double d;
        const char* s;
    } rows[] = {
        {kind_bool, true, 1, 1.0, "true"},
        {kind_string, true, 12, 12.0, "12abc"},
        {kind_int, true, -3, -3.0, "-3"},
        {kind_double, true, 2, 2.5, "2.5"},
        {kind_invalid, false, 0, 0.0, ""},
    };
    for (const row& r : rows) {
        expression_result v = make(r.kind);
        EXPECT_EQ(v.to_bool(), r.b) << r.kind;
        EXPECT_EQ(v.to_int(), r.i) << r.kind;
        EXPECT_EQ(v.to_double(), r.d) << r.kind;
        EXPECT_EQ(v.to_string(), r.s) << r.kind;
    }
    expression_result f;
    f.set_bool(false);
    EXPECT_EQ(f.to_string(), "false");
    EXPECT_EQ(f.to_int(), 0);
    EXPECT_EQ(f.to_double(), 0.0);
    f.set_string("");
    EXPECT_FALSE(f.to_bool());
    f.set_int(0);
    EXPECT_FALSE(f.to_bool());

    // Node sets convert through their first entry in document order.
    auto doc = parse("<r><n v=\"7.5\"/><m/></r>");
    const TiXmlElement* r = doc->RootElement();
    expression_result s(r);
    node_set empty;
    s.set_node_set(empty);
    EXPECT_FALSE(s.to_bool());
    EXPECT_EQ(s.to_string(), "");
    EXPECT_EQ(s.to_int(), 0);
    node_set attrs;
    attrs.add(r->FirstChildElement()->FirstAttribute());
    s.set_node_set(attrs);
    EXPECT_TRUE(s.to_bool());
    EXPECT_EQ(s.to_string(), "7.5");
    EXPECT_EQ(s.to_int(), 7);
    EXPECT_EQ(s.to_double(), 7.5);
}

TEST(XPathValues, NumberFormattingAndConversions)
{
    EXPECT_EQ(format_double(2.5), "2.5");
    EXPECT_EQ(format_double(3.0), "3");
    EXPECT_EQ(format_double(0.0000001), "0");
    EXPECT_EQ(format_double(-4.25), "-4.25");
    const std::string huge = format_double(1e308);
    EXPECT_EQ(huge.size(), 309u);
    EXPECT_EQ(huge.substr(0, 5), "10000");

    EXPECT_EQ(double_to_int(-2.7), -2);
    EXPECT_EQ(double_to_int(2147483647.9), 2147483647);
    EXPECT_EQ(double_to_int(-2147483648.9), -2147483647 - 1);
    EXPECT_EQ(double_to_int(std::nan("")), -2147483647 - 1);
    EXPECT_EQ(double_to_int(1e10), -2147483647 - 1);
    EXPECT_EQ(double_to_int(-1e10), -2147483647 - 1);
    EXPECT_EQ(double_to_int(std::numeric_limits<double>::infinity()), -2147483647 - 1);

    EXPECT_EQ(string_to_int("99999999999"), 2147483647);
    EXPECT_EQ(string_to_int("-99999999999"), -2147483647 - 1);
    EXPECT_EQ(string_to_int("abc"), 0);
    EXPECT_EQ(string_to_int("  -42x"), -42);
    EXPECT_EQ(string_to_int("0x0028"), 0);
    EXPECT_EQ(string_to_double(" 1.5e2z"), 150.0);
    EXPECT_EQ(string_to_double("-.25"), -0.25);
    EXPECT_EQ(string_to_double("nan"), 0.0);
    EXPECT_EQ(string_to_double("abc"), 0.0);
    EXPECT_EQ(string_to_double("3e"), 3.0);

    expression_result v;
    v.set_double(0.0);
    EXPECT_FALSE(v.to_bool());
    v.set_double(0.5);
    EXPECT_TRUE(v.to_bool());
    v.set_double(std::nan(""));
    EXPECT_FALSE(v.to_bool());
    EXPECT_EQ(v.to_int(), -2147483647 - 1);
}

TEST(XPathNodeSet, NameTests)
{
    EXPECT_TRUE(name_matches(nullptr, "a"));
    EXPECT_TRUE(name_matches("*", "a"));
    EXPECT_TRUE(name_matches("Tag", "Tag"));
    EXPECT_FALSE(name_matches("Tag", "Tags"));
    EXPECT_FALSE(name_matches("Tags", "Tag"));
    EXPECT_TRUE(name_matches("p:*", "p:a"));
    EXPECT_FALSE(name_matches("p:*", "q:a"));
    EXPECT_FALSE(name_matches("p:*", "pa"));
    EXPECT_FALSE(name_matches("a*", "ab"));
}

TEST(XPathNodeSet, MembershipAndNamedWalks)
{
    auto doc = parse("<r><a><b/><a><b/></a></a><b/><a/></r>");
    const TiXmlElement* r = doc->RootElement();
    node_set s;
    s.add(r);
    s.add(r);
    EXPECT_EQ(s.count(), 1u);

    node_set children;
    children.add_children(r, "a");
    EXPECT_EQ(names(children), "a a");
    children.clear();
    children.add_children(r, nullptr);
    EXPECT_EQ(names(children), "a b a");

    node_set all;
    all.add_descendants(r, nullptr);
    EXPECT_EQ(names(all), "a b a b b a");
    node_set bs;
    bs.add_descendants(r, "b");
    EXPECT_EQ(bs.count(), 3u);
    // Depth first: the nested b comes before r's own b.
    EXPECT_EQ(bs.node(1)->Parent()->Parent(), r->FirstChildElement());

    // Large sets keep membership exact once hashed, after copies and sorting too.
    std::string xml = "<r>";
    for (int i = 0; i < 50; ++i)
        xml += "<e/>";
    auto many = parse((xml + "</r>").c_str());
    node_set big;
    big.add_children(many->RootElement(), nullptr);
    big.add_children(many->RootElement(), nullptr);
    EXPECT_EQ(big.count(), 50u);
    node_set copy(big);
    copy.add_descendants(many->RootElement(), "e");
    copy.add(many->RootElement());
    EXPECT_EQ(copy.count(), 51u);
    copy.sort_document_order(many.get());
    EXPECT_EQ(copy.node(0), many->RootElement());
    EXPECT_TRUE(copy.contains(many->RootElement()->LastChild()));
    copy.add(many->RootElement()->LastChild());
    EXPECT_EQ(copy.count(), 51u);
}

TEST(XPathNodeSet, SubtreeSkipsLaterNonElements)
{
    auto doc = parse("<a x=\"1\">t<!--c--><b/>u<c/></a>");
    node_set s;
    s.add_subtree(doc->RootElement(), nullptr);
    EXPECT_EQ(names(s), "a @x \"t\" b c");
    EXPECT_EQ(s.string_value(0), "a");
    EXPECT_EQ(s.string_value(1), "1");
    EXPECT_EQ(s.string_value(2), "t");
    EXPECT_EQ(s.node(1), nullptr);

    node_set named;
    named.add_subtree(doc->RootElement(), "c");
    EXPECT_EQ(names(named), "@x c");
}

TEST(XPathNodeSet, FollowingAndPreceding)
{
    auto doc = parse("<r><p><q/><x><k/></x></p><m><k/><n/></m><o><k/></o></r>");
    const TiXmlElement* p = doc->RootElement()->FirstChildElement("p");
    const TiXmlElement* q = p->FirstChildElement("q");
    node_set f;
    f.add_following(q, "*");
    // q's following sibling x and its children, then p's following siblings and theirs.
    EXPECT_EQ(names(f), "x k m k n o k");
    node_set fk;
    fk.add_following(q, "k");
    EXPECT_EQ(names(fk), "k k k");

    const TiXmlElement* o = doc->RootElement()->FirstChildElement("o");
    node_set pr;
    pr.add_preceding(o, "*");
    EXPECT_EQ(names(pr), "m k n p q x");
    node_set pk;
    pk.add_preceding(o, "k");
    EXPECT_EQ(names(pk), "k");
}

TEST(XPathNodeSet, DocumentOrderSort)
{
    auto doc = parse("<r><a i=\"1\"><b/></a><c/><d/></r><!--x-->");
    const TiXmlElement* r = doc->RootElement();
    const TiXmlElement* a = r->FirstChildElement("a");
    const TiXmlElement* b = a->FirstChildElement("b");
    const TiXmlElement* c = r->FirstChildElement("c");
    const TiXmlElement* d = r->FirstChildElement("d");

    expression_result v(r);
    node_set s;
    s.add(d);
    s.add(b);
    s.add(a->FirstAttribute());
    s.add(c);
    s.add(a);
    v.set_node_set(s);
    EXPECT_EQ(v.to_string(), "a");
    EXPECT_EQ(names(v.set()), "a @i b c d");

    // Entries outside the base's subtree follow, in their insertion order.
    expression_result w(a);
    node_set t;
    t.add(d);
    t.add(b);
    t.add(c);
    t.add(a);
    w.set_node_set(t);
    EXPECT_EQ(w.to_string(), "a");
    EXPECT_EQ(names(w.set()), "a b d c");
}

} // namespace
