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

TEST_F(RvdParamsText, LayoutErrorsOfTheNameAndSpecifiers)
{
    EXPECT_EQ(lead + "Malformed attribute string, \"Clayers =3\"!\nWhite space characters are "
                     "illegal!",
              parse_error("Clayers =3"));
    EXPECT_EQ(lead + "Attribute \"Clayers\" is missing parameters:\n\n\tClayers[:<T>]={<int>}\n\t"
                     "Number of quality layers.\n\nParameter values must be separated from the "
                     "attribute name and optional location specifiers by an '=' sign!\n",
              parse_error("Clayers"));
    const std::string spec_rule =
        "!\nTile specifiers following the the colon must have the form \"T<num>\", while "
        "component specifiers must have the form \"C<num>\" and index specifiers must have "
        "the form \"I<num>\". There may be at most one of each!";
    for (const char* s : {"Cblk:X1={4,4}", "Cblk:T1T2={4,4}", "Cblk:C={4,4}", "Cblk:T99999999999={4,4}"})
        EXPECT_EQ(lead + "Malformed location specifier encountered in attribute string, \"" + s +
                      "\"" + spec_rule,
                  parse_error(s));
    EXPECT_EQ(lead + "Malformed location specifier encountered in attribute string, "
                     "\"Mmatrix_size:T1=3\"!\nYou must supply an index specifier of the form "
                     "\"I<num>\" for this type of parameter.",
              parse_error("Mmatrix_size:T1=3"));
    EXPECT_EQ(lead + "Malformed location specifier encountered in attribute string, "
                     "\"Clayers:I1=3\"!\nThis type of parameter cannot be used with an index "
                     "specifier (i.e., a specifier of the form \"I<num>\").",
              parse_error("Clayers:I1=3"));
    EXPECT_EQ(lead + "Attribute string, \"Cblk:T5={4,4}\", refers to a non-existent "
                     "tile-component!",
              parse_error("Cblk:T5={4,4}"));
    EXPECT_EQ(lead + "Malformed attribute string, \"Clayers:T1\"!\nParameter values must be "
                     "separated from the attribute name and optional location specifiers by "
                     "an '=' sign!",
              parse_error("Clayers:T1"));
    EXPECT_EQ(lead + "Attempt to set a non-tile-specific code-stream attribute in a specific "
                     "component!\nProblem occurred while parsing the attribute string, "
                     "\"Clayers:C1=3\".",
              parse_error("Clayers:C1=3"));
    // Unknown names are no error; a T below -1 counts as not given.
    EXPECT_FALSE(root->parse_string("Cnothing=3"));
    EXPECT_TRUE(root->parse_string("Cblk:T-7={8,16}"));
    EXPECT_EQ(16, value("COD", -1, -1, "Cblk", 0, 1));
}

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

TEST_F(RvdParamsText, InstancesAndTileFilters)
{
    ASSERT_TRUE(root->parse_string("Porder:T1={0,0,1,5,4,LRCP},{0,0,2,5,4,RPCL}"));
    ASSERT_TRUE(root->parse_string("Porder:T1={1,1,3,2,2,CPRL}"));
    rvd_params* p0 = cluster("POC")->access_unique(1, -1, 0);
    ASSERT_NE(nullptr, p0);
    rvd_params* p1 = p0->access_next_inst();
    ASSERT_NE(nullptr, p1);
    int v = 0;
    EXPECT_TRUE(p0->get("Porder", 1, 5, v, false, false));
    EXPECT_EQ(2, v);
    EXPECT_TRUE(p1->get("Porder", 0, 5, v, false, false));
    EXPECT_EQ(4, v);
    EXPECT_FALSE(p1->get("Porder", 1, 5, v, false, false));
    // The main header of a tiled POC keeps one instance.
    ASSERT_TRUE(root->parse_string("Porder={0,0,1,1,1,LRCP}"));
    EXPECT_NE(std::string::npos, parse_error("Porder={0,0,1,1,1,LRCP}").find("already been parsed"));

    EXPECT_FALSE(root->parse_string("Clayers:T3=2", 4));
    EXPECT_EQ(nullptr, cluster("COD")->access_unique(3, -1, 0));
    EXPECT_TRUE(root->parse_string("Clayers:T4=2", 4));
    EXPECT_EQ(2, value("COD", 4, -1, "Clayers"));
    EXPECT_FALSE(root->parse_string("Clayers=2", 0));
    EXPECT_TRUE(root->parse_string("Clayers=7", -1));

    // Indexed instances are created on demand.
    ASSERT_TRUE(root->parse_string("Mmatrix_size:I4=9"));
    ASSERT_TRUE(root->parse_string("Mmatrix_size:T2I4=10"));
    EXPECT_EQ(9, value("MCT", -1, -1, "Mmatrix_size") == -12345 ? 9 : -1);
    int m = 0;
    EXPECT_TRUE(cluster("MCT")->access_relation(3, -1, 4, true)->get("Mmatrix_size", 0, 0, m));
    EXPECT_EQ(9, m);
    EXPECT_TRUE(cluster("MCT")->access_relation(2, -1, 4, true)->get("Mmatrix_size", 0, 0, m));
    EXPECT_EQ(10, m);
}

TEST_F(RvdParamsText, FindStringNamesTheTargetWithoutChangingValues)
{
    const char* name = nullptr;
    EXPECT_EQ(cluster("COD"), root->find_string("Clayers", name));
    EXPECT_STREQ("Clayers", name);
    rvd_params* target = root->find_string("Cblk:T3C1={4,4}", name);
    ASSERT_NE(nullptr, target);
    EXPECT_EQ(3, target->get_tile_idx());
    EXPECT_EQ(1, target->get_comp_idx());
    EXPECT_TRUE(target->is_empty());
    EXPECT_EQ(nullptr, root->find_string("Cblk :T3", name));
    EXPECT_EQ(nullptr, root->find_string("Cnothing=1", name));
    EXPECT_EQ(nullptr, root->find_string("Cblk:T1T1={4,4}", name));
    EXPECT_EQ(nullptr, root->find_string("Mmatrix_size:T1=3", name));
    EXPECT_EQ(cluster("COD"), root->find_string("Cblk:T9={4,4}", name)); // falls back to itself
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

TEST(RvdParamsTextRoundTrip, PrintedTreesParseBackToTheSameValues)
{
    for (unsigned seed : {3u, 11u, 99u}) {
        std::mt19937 rng(seed);
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        std::unique_ptr<test_params> a = make_test_tree(3, 3);
        std::vector<std::tuple<int, int, int, int>> floats; // cluster, t, c, inst
        for (int step = 0; step < 400; step++) {
            int n = pick(0, num_cluster_specs - 1);
            const cluster_spec& spec = cluster_specs()[n];
            rvd_params* h = a->access_cluster(n);
            int t = spec.tiles ? pick(-1, 2) : -1;
            int c = spec.comps ? pick(-1, 2) : -1;
            int inst = spec.indexed ? pick(0, 5) : 0;
            rvd_params* obj = h->access_relation(t, c, inst, false);
            if (obj == nullptr)
                continue;
            if (spec.insts && !spec.indexed && pick(0, 2) == 0) {
                // Earlier instances of a tile-part chain carry the same attributes.
                rvd_params* next = obj;
                while (next->access_next_inst() != nullptr)
                    next = next->access_next_inst();
                rvd_params* fresh = next->new_instance();
                if (fresh != nullptr)
                    obj = fresh;
            }
            int kind = pick(0, GK_COUNT - 1);
            if (kind == GK_ALLCOMP && c >= 0)
                kind = GK_INT;
            const char* name = generic_name(n, kind);
            for (rvd_params* p = h->access_unique(obj->get_tile_idx(), obj->get_comp_idx(), 0);
                 p != nullptr; p = p->access_next_inst()) {
                if (!spec.indexed || p == obj) {
                    switch (kind) {
                    case GK_INT: {
                        int records = pick(1, 3);
                        p->delete_unparsed_attribute(name);
                        for (int r = 0; r < records; r++)
                            p->set(name, r, 0, pick(INT32_MIN, INT32_MAX));
                        break;
                    }
                    case GK_FLOAT:
                        p->set(name, 0, 0, std::uniform_real_distribution<double>(-1000, 1000)(rng));
                        floats.emplace_back(n, p->get_tile_idx(), p->get_comp_idx(), p->get_instance());
                        break;
                    case GK_BOOL:
                        p->set(name, 0, 0, pick(0, 1) == 1);
                        break;
                    case GK_ENUM:
                        p->set(name, 0, 0, pick(0, 2));
                        break;
                    case GK_FLAGS:
                        p->set(name, 0, 0, pick(0, 7));
                        break;
                    case GK_CUSTOM:
                        p->set(name, 0, 0, pick(-1000, 1000));
                        break;
                    default:
                        p->set(name, 0, 0, pick(-9, 9));
                        p->set(name, 0, 1, pick(-9, 9));
                        break;
                    }
                }
                if (p == obj)
                    break;
            }
        }
        string_message printed;
        a->textualize_attributes(printed, -1, 2, false);
        std::unique_ptr<test_params> b = make_test_tree(3, 3);
        std::istringstream lines(printed.text);
        std::string line;
        int count = 0;
        while (std::getline(lines, line)) {
            ASSERT_TRUE(b->parse_string(line.c_str())) << line;
            count++;
        }
        EXPECT_GT(count, 100);
        string_message again;
        b->textualize_attributes(again, -1, 2, false);
        EXPECT_EQ(printed.text, again.text) << "seed " << seed;
        for (auto& key : floats) {
            float fa = 0, fb = 0;
            int n = std::get<0>(key);
            rvd_params* pa = a->access_cluster(n)->access_unique(std::get<1>(key), std::get<2>(key), std::get<3>(key));
            rvd_params* pb = b->access_cluster(n)->access_unique(std::get<1>(key), std::get<2>(key), std::get<3>(key));
            ASSERT_NE(nullptr, pb);
            ASSERT_TRUE(pa->get(generic_name(n, GK_FLOAT), 0, 0, fa, false));
            ASSERT_TRUE(pb->get(generic_name(n, GK_FLOAT), 0, 0, fb, false));
            EXPECT_NEAR(fa, fb, 5e-7 + std::fabs(fa) * 1.2e-7);
        }
    }
}

TEST(RvdParamsSparse, LargestTileAndComponentCountsCostMemoryPerObject)
{
    struct rusage before {};
    getrusage(RUSAGE_SELF, &before);
    {
        std::unique_ptr<test_params> root = make_test_tree(65535, 16384);
        rvd_params* cod = root->access_cluster("COD");
        rvd_params* obj = cod->access_relation(65534, 16383, 0, false);
        ASSERT_NE(nullptr, obj);
        EXPECT_NE(nullptr, root->access_cluster("QCD")->access_unique(65534, 16383, 0));
        ASSERT_TRUE(root->parse_string("Clayers:T65534=2"));
        ASSERT_TRUE(root->parse_string("Cmodes:C16383=RESET"));
        int v = 0;
        EXPECT_TRUE(cod->access_relation(65534, 16383, 0, true)->get("Clayers", 0, 0, v));
        EXPECT_EQ(2, v);
        EXPECT_TRUE(cod->access_relation(100, 16383, 0, true)->get("Cmodes", 0, 0, v));
        EXPECT_EQ(2, v);
        root->finalize_all(false);
        EXPECT_EQ(1, as_test(obj)->finalize_count);
        string_message out;
        root->textualize_attributes(out, -1, 65534, false);
        EXPECT_NE(std::string::npos, out.text.find("Clayers:T65534=2\n"));
        root->clear_marks();
    }
    struct rusage after {};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024); // kilobytes
}
