// Attribute text: parsing, printing, describing, the text round trip and sparse
// tables for the largest legal tile and component counts.
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/test_clusters.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cmath>
#include <random>
#include <sstream>

using namespace codec_test;

namespace {
const std::string lead = "Ravade Core Error:\n";

std::string malformed(const std::string& string, const std::string& rest,
                      const std::string& sentence)
{
    return lead + "Malformed attribute string, \"" + string + "\"!\nProblem encountered at \"" +
           rest + "\".\n" + sentence;
}

class RvdParamsText : public ::testing::Test {
protected:
    void SetUp() override { root = make_test_tree(5, 3); }
    rvd_params* cluster(const char* name) { return root->access_cluster(name); }
    std::string parse_error(const std::string& s)
    {
        return error_text([&] { root->parse_string(s.c_str()); });
    }
    // Each error marks its attribute parsed, so independent cases use their own tree.
    static std::string fresh_error(const std::string& s)
    {
        std::unique_ptr<test_params> tree = make_test_tree(5, 3);
        return error_text([&] { tree->parse_string(s.c_str()); });
    }
    int value(const char* cl, int t, int c, const char* name, int r = 0, int f = 0,
              bool inherit = false)
    {
        int v = -12345;
        rvd_params* obj = cluster(cl)->access_relation(t, c, 0, true);
        if (obj == nullptr || !obj->get(name, r, f, v, inherit, false))
            return -12345;
        return v;
    }
    std::unique_ptr<test_params> root;
};
} // namespace

TEST_F(RvdParamsText, RecordsAndFields)
{
    ASSERT_TRUE(root->parse_string("Cblk:T0C2={32,64}"));
    rvd_params* cod = cluster("COD");
    rvd_params* obj = cod->access_unique(0, 2, 0);
    ASSERT_NE(nullptr, obj);
    EXPECT_NE(nullptr, cod->access_unique(0, -1, 0));
    EXPECT_NE(nullptr, cluster("QCD")->access_unique(0, 2, 0));
    EXPECT_NE(nullptr, cluster("QCD")->access_unique(0, -1, 0));
    EXPECT_EQ(32, value("COD", 0, 2, "Cblk", 0, 0));
    EXPECT_EQ(64, value("COD", 0, 2, "Cblk", 0, 1));
    EXPECT_TRUE(obj->is_changed());
    EXPECT_TRUE(root->any_changes());

    EXPECT_EQ(malformed("Cblk=32,64", "32,64",
                        "Records must be enclosed by curly braces, i.e., '{' and '}'."),
              fresh_error("Cblk=32,64"));
    EXPECT_EQ(lead + "Malformed attribute string, \"Clayers=3,4\"!\nAttribute does not support "
                     "multiple parameter records!",
              fresh_error("Clayers=3,4"));
    EXPECT_EQ(malformed("cod_i=1;2", ";2", "Records must be separated by commas."),
              fresh_error("cod_i=1;2"));
    EXPECT_EQ(malformed("cod_a={1;2}", ";2}", "Fields must be separated by commas."),
              fresh_error("cod_a={1;2}"));
    EXPECT_EQ(malformed("cod_a={1,2", "", "Opening brace for record is not matched by a closing brace."),
              fresh_error("cod_a={1,2"));
    EXPECT_EQ(malformed("qcd_i=x", "x", "Expected an integer field."), fresh_error("qcd_i=x"));
    EXPECT_EQ(malformed("qcd_i=2147483648", "2147483648", "Expected an integer field."),
              fresh_error("qcd_i=2147483648"));
    EXPECT_EQ(malformed("qcd_f=1e39", "1e39", "Expected a floating point field."),
              fresh_error("qcd_f=1e39"));
    EXPECT_EQ(malformed("qcd_f=.", ".", "Expected a floating point field."), fresh_error("qcd_f=."));
    EXPECT_EQ(malformed("qcd_b=maybe", "maybe",
                        "Expected a boolean field identifier, i.e., one of \"yes\" or \"no\"."),
              fresh_error("qcd_b=maybe"));
    EXPECT_EQ(malformed("qcd_c=7", "7",
                        "Attempt to parse custom string representation failed.  Read usage "
                        "information carefully."),
              fresh_error("qcd_c=7"));
    EXPECT_EQ(malformed("qcd_e=D", "D", "Expected one of the identifiers, \"A\", \"B\" or \"C\"."),
              fresh_error("qcd_e=D"));

    // Limits and several records.
    ASSERT_TRUE(root->parse_string("rgn_i=-2147483648,2147483647,{5}"));
    EXPECT_EQ(INT32_MIN, value("RGN", -1, -1, "rgn_i", 0));
    EXPECT_EQ(INT32_MAX, value("RGN", -1, -1, "rgn_i", 1));
    EXPECT_EQ(5, value("RGN", -1, -1, "rgn_i", 2));
    ASSERT_TRUE(root->parse_string("rgn_f=-1.5e-3"));
    float f = 0;
    EXPECT_TRUE(cluster("RGN")->get("rgn_f", 0, 0, f));
    EXPECT_FLOAT_EQ(-0.0015f, f);
    ASSERT_TRUE(root->parse_string("rgn_b=yes"));
    ASSERT_TRUE(root->parse_string("rgn_c=#-42"));
    EXPECT_EQ(-42, value("RGN", -1, -1, "rgn_c"));
}

TEST_F(RvdParamsText, FlagSetsAndEmptyValues)
{
    struct { const char* text; int value; } cases[] = {
        {"Cmodes:T1C0=BYPASS|RESTART", 5}, {"Cmodes:T1C1=|BYPASS", 1}, {"Cmodes:T1C2=0", 0},
        {"Cmodes:T2C0=SEGMARK|0|RESET", 34}};
    for (auto& c : cases) {
        ASSERT_TRUE(root->parse_string(c.text)) << c.text;
    }
    EXPECT_EQ(5, value("COD", 1, 0, "Cmodes"));
    EXPECT_EQ(1, value("COD", 1, 1, "Cmodes"));
    EXPECT_EQ(0, value("COD", 1, 2, "Cmodes"));
    EXPECT_EQ(34, value("COD", 2, 0, "Cmodes"));
    EXPECT_EQ(malformed("Cmodes=BYPAS", "BYPAS",
                        "Expected one or more of the identifiers, \"BYPASS\", \"RESET\", "
                        "\"RESTART\", \"CAUSAL\", \"ERTERM\" or \"SEGMARK\", separated by `|' "
                        "symbols."),
              fresh_error("Cmodes=BYPAS"));
    EXPECT_EQ(malformed("Cmodes=BYPASS|", "", "Expected one or more of the identifiers, \"BYPASS\", \"RESET\", "
                        "\"RESTART\", \"CAUSAL\", \"ERTERM\" or \"SEGMARK\", separated by `|' "
                        "symbols."),
              fresh_error("Cmodes=BYPASS|"));

    // "Clayers=" removes unparsed values below it, marks the attribute parsed and
    // stores no record; a narrower parsed value survives.
    rvd_params* cod = cluster("COD");
    cod->set("Clayers", 0, 0, 4);
    cod->access_relation(3, -1, 0, false)->set("Clayers", 0, 0, 5);
    ASSERT_TRUE(root->parse_string("Clayers:T4=6"));
    ASSERT_TRUE(root->parse_string("Clayers="));
    EXPECT_EQ(-12345, value("COD", -1, -1, "Clayers"));
    EXPECT_EQ(-12345, value("COD", 3, -1, "Clayers"));
    EXPECT_EQ(6, value("COD", 4, -1, "Clayers"));
    EXPECT_EQ(lead + "The supplied attribute string, \"Clayers=2\", refers to code-stream "
                     "parameters which have already been parsed out of some string.  Moreover, "
                     "multiple instances of this attribute are not permitted here!",
              parse_error("Clayers=2"));
    as_test(cod->access_relation(2, -1, 0, false))->set_marked();
    EXPECT_EQ(lead + "Illegal attempt to modify a `rvd_params' object which has already been "
                     "marked!",
              parse_error("Clayers:T2=2"));
}

TEST_F(RvdParamsText, PrintingAndDescribing)
{
    ASSERT_TRUE(root->parse_string("Cmodes:T2C1=BYPASS|RESTART"));
    ASSERT_TRUE(root->parse_string("Clayers=12"));
    ASSERT_TRUE(root->parse_string("cod_g:T2C1=R|L|C"));
    ASSERT_TRUE(root->parse_string("cod_f:T2C1=0.25"));
    ASSERT_TRUE(root->parse_string("cod_b:T2C1=no"));
    ASSERT_TRUE(root->parse_string("cod_a:T2={1,2},{3,4}"));
    ASSERT_TRUE(root->parse_string("Mmatrix_size:I3=5"));
    string_message out;
    root->textualize_attributes(out, -1, 9, false);
    EXPECT_EQ("Mmatrix_size:I3=5\n"
              "Clayers=12\n"
              "cod_a:T2={1,2},{3,4}\n"
              "Cmodes:T2C1=BYPASS|RESTART\n"
              "cod_f:T2C1=0.250000\n"
              "cod_b:T2C1=no\n"
              "cod_g:T2C1=R|L|C\n",
              out.text);
    // A range without the main header, and one object on its own.
    string_message tile_only;
    root->textualize_attributes(tile_only, 2, 2, false);
    EXPECT_EQ(std::string::npos, tile_only.text.find("Clayers=12"));
    EXPECT_NE(std::string::npos, tile_only.text.find("Cmodes:T2C1="));
    string_message one;
    cluster("COD")->access_unique(2, 1, 0)->textualize_attributes(one);
    EXPECT_EQ(0u, one.text.find("Cmodes:T2C1=BYPASS|RESTART\n"));
    // Hexadecimal mode writes integer fields in hexadecimal, indices stay decimal.
    string_message hex;
    hex.set_hex_mode(true);
    ASSERT_TRUE(root->parse_string("Clayers:T3=255"));
    cluster("COD")->access_unique(3, -1, 0)->textualize_attributes(hex);
    EXPECT_EQ("Clayers:T3=ff\n", hex.text);

    string_message d;
    cluster("COD")->describe_attribute("Clayers", d, false);
    cluster("COD")->describe_attribute("Cmodes", d, false);
    cluster("POC")->describe_attribute("Porder", d, false);
    cluster("MCT")->describe_attribute("mct_e", d, false);
    root->describe_attribute("siz_b", d, true);
    EXPECT_EQ("Clayers[:<T>]={<int>}\n"
              "Cmodes[:<TC>]={FLAGS<BYPASS|RESET|RESTART|CAUSAL|ERTERM|SEGMARK>}\n"
              "Porder[:<T>]={<int>,<int>,<int>,<int>,<int>,ENUM<LRCP,RLCP,RPCL,PCRL,CPRL>},...\n"
              "mct_e[:<TI>]={ENUM<A,B,C>}\n"
              "siz_b={<yes/no>}\n\tGeneric test attribute.\n",
              d.text);
    EXPECT_EQ(lead + "\"rvd_params::describe_attribute\" invoked with an invalid attribute "
                     "identifier, \"Cnothing\".",
              error_text([&] { root->describe_attribute("Cnothing", d, false); }));
    // A record with an unset field cannot be printed.
    cluster("QCD")->set("qcd_a", 1, 1, 3);
    string_message partial;
    EXPECT_EQ(lead + "Attempting to textualize a code-stream parameter attribute, which has "
                     "only partially been set!\nError occurred in attribute \"qcd_a\" in field 0 "
                     "of record 0.",
              error_text([&] { cluster("QCD")->textualize_attributes(partial); }));
}

namespace {
class translator_params : public test_params {
public:
    explicit translator_params(const char* pattern) : test_params(12)
    {
        define_attribute("Tbad", "Malformed translators.", pattern);
    }
};
} // namespace

TEST(RvdParamsTranslators, MalformedTranslatorListsAreReported)
{
    std::string long_id(80, 'Q');
    std::string long_pattern = "(" + long_id + "=1)";
    struct { std::string pattern, text; } cases[] = {
        {"(A=1,B)", "String translators in code-stream attribute specifications must contain an "
                    "'=' sign! Problem encountered at: \"B)\"."},
        {long_pattern, "String translators in code-stream attribute specifications may not "
                       "exceed 79 characters in length! Problem encountered at: \"" +
                           long_id + "=1)\"."},
        {"[A=1|B=2x]", "String translators in code-stream attribute specifications must be "
                       "identified with integers and correctly delimited! Problem encountered "
                       "at: \"2x]\"."},
    };
    for (auto& c : cases) {
        translator_params p(c.pattern.c_str());
        string_message out;
        EXPECT_EQ(lead + c.text, error_text([&] { p.describe_attribute("Tbad", out); }));
        EXPECT_EQ(lead + c.text, error_text([&] { p.set("Tbad", 0, 0, 1); }));
    }
    // A 79-character identifier and a negative value are fine.
    std::string ok_pattern = "(" + std::string(79, 'Q') + "=-1)";
    translator_params ok(ok_pattern.c_str());
    ok.set("Tbad", 0, 0, -1);
    EXPECT_TRUE(ok.parse_string(("Tbad=" + std::string(79, 'Q')).c_str()));
}
