// Multi-component transform parameters: MCT coefficient series, MCC stage descriptions and
// MCO stage lists read from hand-built segments, checked, written back and copied.
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/mct_tree.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

using namespace codec_test;

namespace {
const std::string lead = "Ravade Core Error:\n";

std::vector<uint8_t> be16(std::initializer_list<int> vals)
{
    std::vector<uint8_t> out;
    for (int v : vals) {
        out.push_back(uint8_t(v >> 8));
        out.push_back(uint8_t(v));
    }
    return out;
}

std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<uint8_t> be32(int32_t v)
{
    uint32_t u = uint32_t(v);
    return {uint8_t(u >> 24), uint8_t(u >> 16), uint8_t(u >> 8), uint8_t(u)};
}

std::vector<uint8_t> float_bytes(float f)
{
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return be32(int32_t(u));
}

struct mct_fixture {
    std::unique_ptr<siz_params> root = make_mct_tree(3, 3);
    mct_fixture() { set_simple_siz(root.get(), 3); }
    rvd_params* object(const char* cluster, int inst, int tile = -1)
    {
        return root->access_cluster(cluster)->access_relation(tile, -1, inst, false);
    }
    bool read(const char* cluster, uint16_t code, const std::vector<uint8_t>& body, int inst,
              int tile = -1)
    {
        return object(cluster, inst, tile)->read_marker_segment(code, int(body.size()),
                                                               body.data(), 0);
    }
    std::string read_error(const char* cluster, uint16_t code, const std::vector<uint8_t>& body,
                           int inst)
    {
        return error_text([&] { read(cluster, code, body, inst); });
    }
};

std::vector<float> coeffs(rvd_params* obj, const char* name)
{
    std::vector<float> out;
    float f = 0;
    for (int i = 0; obj->get(name, i, 0, f, false, false); i++)
        out.push_back(f);
    return out;
}

std::vector<std::vector<int>> records(rvd_params* obj, const char* name, int fields)
{
    std::vector<std::vector<int>> out;
    int v = 0;
    for (int r = 0; obj->get(name, r, 0, v, false, false); r++) {
        std::vector<int> rec(size_t(fields), -99);
        for (int f = 0; f < fields; f++)
            obj->get(name, r, f, rec[size_t(f)], false, false);
        out.push_back(rec);
    }
    return out;
}

std::vector<uint8_t> write(rvd_params* obj, int* size = nullptr)
{
    vector_output out;
    int n = obj->write_marker_segment(&out, nullptr, 0);
    int sized = obj->write_marker_segment(nullptr, nullptr, 0);
    std::vector<uint8_t> bytes = out.finish();
    EXPECT_EQ(size_t(n), bytes.size());
    EXPECT_EQ(n, sized);
    if (size != nullptr)
        *size = n;
    return bytes;
}

const uint16_t MCT = 0xFF74, MCC = 0xFF75, MCO = 0xFF77;
} // namespace

TEST(MctParams, SeriesOfMatrixSegmentsAndTheirOrderChecks)
{
    // Matrix (kind 1), 32-bit integers (type 1), index 1: Zmct 0 announcing Ymct 1, then Zmct 1.
    std::vector<uint8_t> first = cat({be16({0, 0x0501, 1}), be32(1), be32(-2)});
    std::vector<uint8_t> second = cat({be16({1, 0x0501}), be32(70000)});
    {
        mct_fixture t;
        ASSERT_TRUE(t.read("MCT", MCT, first, 1));
        ASSERT_TRUE(t.read("MCT", MCT, second, 1));
        int size = 0;
        EXPECT_TRUE(t.object("MCT", 1)->get("Mmatrix_size", 0, 0, size));
        EXPECT_EQ(3, size);
        EXPECT_EQ((std::vector<float>{1, -2, 70000}), coeffs(t.object("MCT", 1), "Mmatrix_coeffs"));
        t.object("MCT", 1)->finalize(true);
        // A third segment of a complete series is a repeat.
        EXPECT_NE(std::string::npos,
                  t.read_error("MCT", MCT, second, 1).find("repeat or out-of-range `Zmct'"));
    }
    {
        mct_fixture t;
        EXPECT_EQ(lead + "Encountered repeat or out-of-range `Zmct' field while parsing an MCT "
                         "marker segment.  The `Zmct' field is used to enumerate marker segments "
                         "which belong to a common series, but the value encountered is "
                         "inconsistent with the rest of the series.  This is a malformed "
                         "codestream.",
                  t.read_error("MCT", MCT, second, 1));
    }
    {
        mct_fixture t; // announced 3 segments, the third arrives second
        ASSERT_TRUE(t.read("MCT", MCT, cat({be16({0, 0x0501, 2}), be32(1)}), 1));
        EXPECT_EQ(lead + "Encountered out-of-order `Zmct' field while parsing MCT marker segments "
                         "belonging to a series.  While this is not strictly illegal, it makes no "
                         "sense for a content creator to write MCT marker segments out of order.  "
                         "Ravade does not currently support reordering of these optional Part-2 "
                         "marker segments.",
                  t.read_error("MCT", MCT, cat({be16({2, 0x0501}), be32(1)}), 1));
    }
    {
        mct_fixture t; // an incomplete series fails when the header ends
        ASSERT_TRUE(t.read("MCT", MCT, first, 1));
        EXPECT_EQ(lead + "Failed to read all MCT marker segments in a series associated with a "
                         "given `Imct' index within a main or initial tile-part header.  "
                         "Codestream is not correctly constructed.",
                  error_text([&] { t.root->finalize_all(true); }));
    }
}

TEST(MctParams, ElementTypesKindsAndMalformedBodies)
{
    mct_fixture t;
    // Triangle as 16-bit integers, vector as doubles, both with index 4; matrix as floats.
    ASSERT_TRUE(t.read("MCT", MCT, cat({be16({0, 0x0004, 0, -3 & 0xFFFF, 5})}), 4));
    std::vector<uint8_t> dbl = {0x3F, 0xB9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9A}; // 0.1
    ASSERT_TRUE(t.read("MCT", MCT, cat({be16({0, 0x0E04, 0}), dbl}), 4));
    ASSERT_TRUE(t.read("MCT", MCT, cat({be16({0, 0x0904, 0}), float_bytes(-0.25f)}), 4));
    rvd_params* m = t.object("MCT", 4);
    EXPECT_EQ((std::vector<float>{-3, 5}), coeffs(m, "Mtriang_coeffs"));
    EXPECT_EQ((std::vector<float>{0.1f}), coeffs(m, "Mvector_coeffs"));
    EXPECT_EQ((std::vector<float>{-0.25f}), coeffs(m, "Mmatrix_coeffs"));
    // A segment for another index is not this object's.
    EXPECT_FALSE(t.read("MCT", MCT, cat({be16({0, 0x0105, 0}), be32(1)}), 4));

    EXPECT_EQ(lead + "Malformed MCT marker segment encountered. The final 1 bytes were not "
                     "consumed!",
              t.read_error("MCT", MCT, cat({be16({0, 0x0502, 0}), be32(1), {7}}), 2));
    EXPECT_EQ(lead + "Malformed MCT marker segment encountered.  Marker segment is too small.",
              t.read_error("MCT", MCT, be16({0, 0x0503}), 3));

    int idx = -1;
    mct_params probe;
    std::vector<uint8_t> body = cat({be16({0, 0x0507, 0}), be32(1)});
    EXPECT_TRUE(probe.check_marker_segment(MCT, int(body.size()), body.data(), idx));
    EXPECT_EQ(7, idx);
    body[2] = 0x07; // kind 3
    EXPECT_FALSE(probe.check_marker_segment(MCT, int(body.size()), body.data(), idx));
    body[2] = 0x05;
    body[3] = 0; // index 0
    EXPECT_FALSE(probe.check_marker_segment(MCT, int(body.size()), body.data(), idx));
    EXPECT_FALSE(probe.check_marker_segment(MCC, int(body.size()), body.data(), idx));
    EXPECT_FALSE(probe.check_marker_segment(MCT, 3, body.data(), idx));

    // Through the translation hub: index 3 in tile 1 lands in tile 1's instance 3.
    mct_fixture h;
    std::vector<uint8_t> seg = cat({be16({0, 0x0503, 0}), be32(9)});
    ASSERT_TRUE(h.root->translate_marker_segment(MCT, int(seg.size()), seg.data(), 1, 0));
    rvd_params* tile_obj = h.root->access_cluster("MCT")->access_unique(1, -1, 3);
    ASSERT_NE(nullptr, tile_obj);
    EXPECT_EQ((std::vector<float>{9}), coeffs(tile_obj, "Mmatrix_coeffs"));
    EXPECT_FALSE(h.root->translate_marker_segment(MCT, int(seg.size()), seg.data(), 2, 1));
}

TEST(MctParams, FinalizeChecksSizesAndCoefficients)
{
    struct bad_case {
        const char* text;
        const char* error;
    };
    const bad_case cases[] = {
        {"Mmatrix_size:I2=0", "Illegal value (anything <= 0) found for `Mmatrix_size', "
                              "`Mvector_size' or `Mtriang_size' attribute while finalizing the "
                              "MCT transform coefficients."},
        {"Mvector_size=2", "It is illegal to supply `Mvector_size', `Mtriang_size' or "
                           "`Mvector_size' attributes with zero-valued instance indices "
                           "(equivalently, with missing instance indices).  Use the \":I=...\" "
                           "suffix when providing MCT transform coefficients."},
        {"Mtriang_size:I3=3", "The number of `Mmatrix_coeffs', `Mvector_coeffs' or "
                              "`Mtriang_coeffs' entries found while finalizing MCT transform "
                              "coefficients does not match the corresponding `Mmatrix_size', "
                              "`Mvector_size' or `Mtriang_size' value."},
    };
    for (const bad_case& c : cases) {
        mct_fixture t;
        ASSERT_TRUE(t.root->parse_string("Mtriang_coeffs:I3=1,2"));
        ASSERT_TRUE(t.root->parse_string(c.text));
        EXPECT_EQ(lead + c.error, error_text([&] { t.root->finalize_all(false); })) << c.text;
    }
    mct_fixture t;
    ASSERT_TRUE(t.root->parse_string("Mvector_size:I2=5"));
    ASSERT_TRUE(t.root->parse_string("Mvector_coeffs:I2=7")); // extrapolated to 5 entries
    t.root->finalize_all(false);
    std::vector<uint8_t> bytes = write(t.object("MCT", 2));
    EXPECT_EQ(cat({be16({0xFF74, 28, 0, 0x0602, 0}), be32(7), be32(7), be32(7), be32(7),
                   be32(7)}),
              bytes);
}

TEST(MctParams, WrittenSeriesReadBackIdentically)
{
    std::mt19937 rng(25);
    // Element choice: near-integers are written as integers, anything else as floats.
    struct choice {
        std::vector<float> vals;
        int elt_type;
    };
    const choice fixed[] = {{{1.0f, -0.5f}, 2}, {{1.0f, 2.0f, -3.0f}, 1}, {{3e9f}, 2}};
    for (const choice& c : fixed) {
        mct_fixture t;
        rvd_params* m = t.object("MCT", 9);
        m->set("Mmatrix_size", 0, 0, int(c.vals.size()));
        for (size_t i = 0; i < c.vals.size(); i++)
            m->set("Mmatrix_coeffs", int(i), 0, double(c.vals[i]));
        std::vector<uint8_t> bytes = write(m);
        ASSERT_GE(bytes.size(), 8u);
        EXPECT_EQ(0x01 | (c.elt_type << 2), bytes[6]) << c.vals[0];
        mct_fixture back;
        for (auto& seg : split_segments(bytes))
            ASSERT_TRUE(back.read("MCT", seg.first, seg.second, 9));
        EXPECT_EQ(c.vals, coeffs(back.object("MCT", 9), "Mmatrix_coeffs"));
    }
    for (int trial = 0; trial < 12; trial++) {
        mct_fixture t;
        int inst = 1 + int(rng() % 255);
        rvd_params* m = t.object("MCT", inst);
        const char* sizes[3] = {"Mtriang_size", "Mmatrix_size", "Mvector_size"};
        const char* names[3] = {"Mtriang_coeffs", "Mmatrix_coeffs", "Mvector_coeffs"};
        std::vector<std::vector<float>> want(3);
        for (int k = 0; k < 3; k++) {
            if (rng() % 4 == 0)
                continue;
            int n = 1 + int(rng() % ((trial % 3 == 0) ? 9000u : 20u));
            bool ints = rng() % 2 == 0;
            m->set(sizes[k], 0, 0, n);
            for (int i = 0; i < n; i++) {
                float f = ints ? float(int(rng() % 2001) - 1000)
                               : std::ldexp(float(int(rng() % 100001) - 50000), -7) + 0.001f;
                want[size_t(k)].push_back(f);
                m->set(names[k], i, 0, double(f));
            }
        }
        t.root->finalize_all(false);
        std::vector<uint8_t> bytes = write(m);
        mct_fixture back;
        for (auto& seg : split_segments(bytes)) {
            ASSERT_LE(seg.second.size(), 6u + 4u * 4092u);
            ASSERT_TRUE(back.read("MCT", seg.first, seg.second, inst));
        }
        back.root->finalize_all(true);
        rvd_params* b = back.object("MCT", inst);
        for (int k = 0; k < 3; k++)
            EXPECT_EQ(want[size_t(k)], coeffs(b, names[k])) << trial << " " << k;
        EXPECT_EQ(bytes, write(b)) << trial;
    }
    // Nothing for a component, a later tile-part or index 0.
    mct_fixture t;
    t.object("MCT", 3)->set("Mmatrix_size", 0, 0, 1);
    t.object("MCT", 3)->set("Mmatrix_coeffs", 0, 0, 1.0);
    EXPECT_EQ(0, t.object("MCT", 3)->write_marker_segment(nullptr, nullptr, 1));
    t.root->access_cluster("MCT")->set("Mmatrix_size", 0, 0, 1);
    EXPECT_EQ(0, t.root->access_cluster("MCT")->write_marker_segment(nullptr, nullptr, 0));
}

namespace {
// Stage 2: a 4-input, 2-output matrix over inputs 0,1,2,5 (vector 3, coefficients 1), then
// a DEP block over input 3 and output 2 (reversible, coefficients 4).
const std::vector<uint8_t> mcc_one_byte = {0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02,
                                           0x01, 0x00, 0x04, 0, 1, 2, 5, 0x00, 0x02, 0, 1,
                                           0x00, 0x03, 0x01,
                                           0x00, 0x00, 0x01, 3, 0x00, 0x01, 2,
                                           0x01, 0x00, 0x04};
} // namespace

TEST(MccParams, CollectionsAreFoldedIntoRangesAndWrittenBack)
{
    mct_fixture t;
    ASSERT_TRUE(t.read("MCC", MCC, mcc_one_byte, 2));
    rvd_params* s = t.object("MCC", 2);
    // 0,1,2,5 fold to {0,2},{5,5}; the second block's input 3 opens {3,3}.
    EXPECT_EQ((std::vector<std::vector<int>>{{0, 2}, {5, 5}, {3, 3}}),
              records(s, "Mstage_inputs", 2));
    EXPECT_EQ((std::vector<std::vector<int>>{{0, 2}}), records(s, "Mstage_outputs", 2));
    EXPECT_EQ((std::vector<std::vector<int>>{{4, 2}, {1, 1}}),
              records(s, "Mstage_collections", 2));
    EXPECT_EQ((std::vector<std::vector<int>>{{Mxform_MATRIX, 1, 3, 0, 0}, {Mxform_DEP, 4, 0, 1, 0}}),
              records(s, "Mstage_xforms", 5));
    t.root->finalize_all(true);
    s->finalize(false);
    EXPECT_EQ(cat({{0xFF, 0x75, 0x00, 0x21}, mcc_one_byte}), write(s));

    // A DWT block with 2-byte indices (an index above 255 widens both lists) and origin.
    mct_fixture w;
    rvd_params* d = w.object("MCC", 0);
    ASSERT_TRUE(w.root->parse_string("Mstage_inputs:I7={0,2},{300,301}"));
    ASSERT_TRUE(w.root->parse_string("Mstage_outputs:I7={10,14}"));
    ASSERT_TRUE(w.root->parse_string("Mstage_collections:I7={5,5}"));
    ASSERT_TRUE(w.root->parse_string("Mstage_xforms:I7={DWT,1,2,3,1}"));
    w.root->finalize_all(false);
    d = w.object("MCC", 7);
    std::vector<uint8_t> bytes = write(d);
    std::vector<uint8_t> want = cat({be16({0xFF75, 41, 0}), {7}, be16({0, 1}), {3},
                                     be16({0x8005, 0, 1, 2, 300, 301, 0x8005, 10, 11, 12, 13, 14}),
                                     {3}, be16({0x0201}), be32(1)});
    EXPECT_EQ(want, bytes);
    mct_fixture back;
    auto segs = split_segments(bytes);
    ASSERT_EQ(1u, segs.size());
    ASSERT_TRUE(back.read("MCC", MCC, segs[0].second, 7));
    rvd_params* b = back.object("MCC", 7);
    EXPECT_EQ((std::vector<std::vector<int>>{{0, 2}, {300, 301}}), records(b, "Mstage_inputs", 2));
    EXPECT_EQ((std::vector<std::vector<int>>{{Mxform_DWT, 1, 2, 3, 1}}),
              records(b, "Mstage_xforms", 5));
    EXPECT_EQ(bytes, write(b));
    // Main and tile text forms name the kinds.
    codec_test::string_message text;
    w.root->access_cluster("MCC")->textualize_attributes(text, -1, -1, false);
    EXPECT_NE(std::string::npos, text.text.find("Mstage_xforms:I7={DWT,1,2,3,1}")) << text.text;
}

TEST(MccParams, MalformedSegmentsRaiseTheirTexts)
{
    const std::string split =
        lead + "Encountered MCC (Multi-component transform Component Collection) information "
               "which has been split across multiple marker segments.  While this is not "
               "illegal, Ravade does not currently support such massive multi-component "
               "transform descriptions.  It is a rare application indeed that would need "
               "multiple marker segments.";
    const std::string bad = lead + "Malformed MCC marker segment encountered.  Invalid component "
                                   "collection dimensions, transform type or number of DWT "
                                   "levels.";
    std::vector<uint8_t> dep = {0, 0, 1, 0, 0, 0, 1, 0x00, 0x00, 0x01, 4, 0x00, 0x01, 4, 0, 0, 0};
    struct bad_case {
        std::vector<uint8_t> body;
        std::string error;
    };
    std::vector<bad_case> cases;
    std::vector<uint8_t> b = dep;
    b[1] = 1; // Zmcc 1
    cases.push_back({b, split});
    b = dep;
    b[4] = 1; // Ymcc 1
    cases.push_back({b, split});
    b = dep;
    b[7] = 2; // no such kind
    cases.push_back({b, bad});
    b = dep;
    b[9] = 0; // no inputs
    cases.push_back({b, bad});
    b = dep;
    b[12] = 2; // two outputs for one input of a dependency block
    b.insert(b.begin() + 13, 5);
    cases.push_back({b, bad});
    // A DWT block of 33 levels.
    cases.push_back({{0, 0, 1, 0, 0, 0, 1, 3, 0, 1, 0, 0, 1, 1, 33, 0, 0, 0, 0, 0, 0}, bad});
    // 2-byte index 16384: the writer could not have written it.
    cases.push_back({{0, 0, 1, 0, 0, 0, 1, 1, 0x80, 1, 0x40, 0x00, 0, 1, 0, 0, 0, 0}, bad});
    b = dep;
    b.push_back(9);
    cases.push_back({b, lead + "Malformed MCC marker segment encountered. The final 1 bytes were "
                               "not consumed!"});
    b = dep;
    b.pop_back();
    cases.push_back({b, lead + "Malformed MCC marker segment encountered.  Marker segment is too "
                               "small."});
    for (size_t i = 0; i < cases.size(); i++) {
        mct_fixture t;
        EXPECT_EQ(cases[i].error, t.read_error("MCC", MCC, cases[i].body, 1)) << i;
    }
    mct_fixture t;
    EXPECT_FALSE(t.read("MCC", MCC, dep, 2)); // Imcc names another stage
    ASSERT_TRUE(t.read("MCC", MCC, dep, 1));
    int idx = -1;
    EXPECT_TRUE(t.object("MCC", 1)->check_marker_segment(MCC, 3, dep.data(), idx));
    EXPECT_EQ(1, idx);
    EXPECT_FALSE(t.object("MCC", 1)->check_marker_segment(MCC, 2, dep.data(), idx));
}

TEST(MccParams, FinalizeAndWriterChecks)
{
    const std::string xforms_lead =
        "Malformed `Mstage_xforms' attribute encountered in `mcc_params::finalize'.  ";
    struct bad_case {
        std::vector<const char*> texts;
        std::string error;
    };
    const std::vector<const char*> good = {"Mstage_inputs:I1={0,2}", "Mstage_outputs:I1={0,2}",
                                           "Mstage_collections:I1={3,3}",
                                           "Mstage_xforms:I1={MATRIX,1,0,0,0}"};
    const bad_case cases[] = {
        {{"Mstage_inputs:I1={2,1}"},
         "Illegal parameters supplied for `Mstage_inputs' attribute.  Component index ranges "
         "must have lower bounds which do not exceed their corresponding upper bounds, both of "
         "which must be in the range 0 to 16383."},
        {{"Mstage_outputs:I1={0,16384}"},
         "Illegal parameters supplied for `Mstage_outputs' attribute.  Component index ranges "
         "must have lower bounds which do not exceed their corresponding upper bounds, both of "
         "which must be in the range 0 to 16383."},
        {{"Mstage_collections:I1={3,0}"},
         "Malformed `Mstage_blocks' attribute encountered in `mcc_params::finalize'.  Each "
         "transform block must be assigned a strictly positive number of input and output "
         "components."},
        {{"Mstage_collections:I1={2,3}"},
         "Malformed `Mstage_blocks' attribute encountered in `mcc_params::finalize'.  The "
         "transform blocks must together consume all input components defined by "
         "`Mstage_inputs' (no more and no less) and produce all output components defined by "
         "`Mstage_outputs' (no more and no less)."},
        {{"Mstage_xforms:I1={MATRIX,256,0,0,0}"},
         xforms_lead + "Each record must have 5 fields, the second and third of which must lie "
                       "in the range 0 to 255."},
        {{"Mstage_xforms:I1={DWT,1,0,33,0}"},
         xforms_lead + "The fourth field in a DWT record must contain a number of DWT levels in "
                       "the range 0 to 32."},
        {{"Mstage_xforms:I1={DEP,1,0,0,1}"},
         xforms_lead + "The fourth field in a DEP or MATRIX record must hold one of the values 0 "
                       "(irreversible) or 1 (reversible), with the fifth field equal to zero."},
        {{"Mstage_xforms:I1={MATRIX,1,0,0,0},{MATRIX,2,0,0,0}"},
         xforms_lead + "The number of records in this attribute must be identical to the number "
                       "of records in `Mstage_blocks'."},
    };
    for (const bad_case& c : cases) {
        mct_fixture t;
        for (const char* g : good) {
            const char* use = g;
            for (const char* x : c.texts)
                if (std::string(x).substr(0, std::string(x).find(':')) ==
                    std::string(g).substr(0, std::string(g).find(':')))
                    use = x;
            ASSERT_TRUE(t.root->parse_string(use)) << use;
        }
        EXPECT_EQ(lead + c.error, error_text([&] { t.object("MCC", 1)->finalize(false); }))
            << c.texts[0];
    }
    mct_fixture t;
    for (size_t i = 0; i + 1 < good.size(); i++)
        ASSERT_TRUE(t.root->parse_string(good[i]));
    ASSERT_TRUE(t.root->parse_string("Mstage_xforms:I1={MAT,1,0,1,0}"));
    t.object("MCC", 1)->finalize(false); // still readable
    EXPECT_EQ(0u, error_text([&] { write(t.object("MCC", 1)); })
                      .find(lead + "You can no longer generate a codestream which uses the `MAT' "
                                   "(`Mxform_MAT' in source code) option for the "
                                   "`Mstage_xforms' parameter attribute."));
    // One block of 40000 one-byte inputs fits the length but not the 15-bit count.
    mct_fixture big;
    rvd_params* s = big.object("MCC", 1);
    for (int r = 0; r < 160; r++) {
        s->set("Mstage_inputs", r, 0, 0);
        s->set("Mstage_inputs", r, 1, 249);
    }
    s->set("Mstage_outputs", 0, 0, 0);
    s->set("Mstage_outputs", 0, 1, 0);
    s->set("Mstage_collections", 0, 0, 40000);
    s->set("Mstage_collections", 0, 1, 1);
    for (int f = 0; f < 5; f++)
        s->set("Mstage_xforms", 0, f, f == 0 ? Mxform_MATRIX : 0);
    EXPECT_NE(std::string::npos,
              error_text([&] { write(s); }).find("Unable to write MCC (Multi-component"));
}

TEST(McoParams, StageListsReadCheckedWrittenAndCopied)
{
    mct_fixture t;
    EXPECT_EQ(lead + "Malformed MCO marker segment encountered. The final 1 bytes were not "
                     "consumed!",
              error_text([&] { t.read("MCO", MCO, {2, 1, 4, 6}, 0); }));
    mct_fixture r;
    EXPECT_EQ(lead + "Malformed MCO marker segment encountered. Marker segment is too small.",
              error_text([&] { r.read("MCO", MCO, {3, 1, 4}, 0); }));
    mct_fixture m;
    std::vector<uint8_t> body = {2, 4, 1};
    ASSERT_TRUE(m.root->translate_marker_segment(MCO, 3, body.data(), -1, 0));
    ASSERT_TRUE(m.root->translate_marker_segment(MCO, 3, body.data(), 1, 0));
    body = {1, 4};
    ASSERT_TRUE(m.root->translate_marker_segment(MCO, 2, body.data(), 2, 0));
    rvd_params* mco = m.root->access_cluster("MCO");
    EXPECT_EQ((std::vector<std::vector<int>>{{4}, {1}}), records(mco, "Mstages", 1));
    // Written again: the main header's list once, tile 1 equals it, tile 2 differs.
    vector_output out;
    EXPECT_EQ(7, mco->write_marker_segment(&out, nullptr, 0));
    EXPECT_EQ(0, mco->access_relation(1, -1, 0, true)->write_marker_segment(&out, mco, 0));
    EXPECT_EQ(6, mco->access_relation(2, -1, 0, true)->write_marker_segment(&out, mco, 0));
    EXPECT_EQ(0, mco->write_marker_segment(&out, nullptr, 1));
    EXPECT_EQ(cat({be16({0xFF77, 5}), {2, 4, 1}, be16({0xFF77, 4}), {1, 4}}), out.finish());

    // Finalize: defaults and the consistency with the SIZ output components.
    mct_fixture f;
    f.root->set("Mcomponents", 0, 0, 3);
    f.root->finalize_all(false);
    int n = -1;
    EXPECT_TRUE(f.root->access_cluster("MCO")->get("Mnum_stages", 0, 0, n));
    EXPECT_EQ(0, n);
    mct_fixture g;
    g.root->access_cluster("MCO")->set("Mnum_stages", 0, 0, 1);
    EXPECT_EQ(lead + "You may not provide a value for the `Mnum_stages' attribute without also "
                     "supplying a non-zero number of MCT output components via the "
                     "`Mcomponents' attribute.",
              error_text([&] { g.root->access_cluster("MCO")->finalize(false); }));
    g.root->set("Mcomponents", 0, 0, 3);
    g.root->access_cluster("MCO")->set("Mnum_stages", 0, 0, 2);
    g.root->access_cluster("MCO")->set("Mstages", 0, 0, 1);
    EXPECT_EQ(lead + "The number of records supplied for the `Mstages' attribute must match the "
                     "value identified by `Mnum_stages'.",
              error_text([&] { g.root->access_cluster("MCO")->finalize(false); }));
    g.root->access_cluster("MCO")->set("Mnum_stages", 0, 0, 256);
    EXPECT_EQ(lead + "Cannot write MCO marker segment; `Mnum_stages' value exceeds the limit of "
                     "255.",
              error_text([&] { write(g.root->access_cluster("MCO")); }));
}

TEST(McoParams, CopyingToFewerComponentsInsertsANullStage)
{
    // Source: 5 components, one stage (MCC 1, a 5x5 matrix 1); target keeps components 1..3.
    std::unique_ptr<siz_params> src = make_mct_tree(1, 5);
    set_simple_siz(src.get(), 5);
    ASSERT_TRUE(src->parse_string("Mcomponents=5"));
    ASSERT_TRUE(src->parse_string("Mnum_stages=1"));
    ASSERT_TRUE(src->parse_string("Mstages=1"));
    ASSERT_TRUE(src->parse_string("Mstage_inputs:I1={0,4}"));
    ASSERT_TRUE(src->parse_string("Mstage_outputs:I1={0,4}"));
    ASSERT_TRUE(src->parse_string("Mstage_collections:I1={5,5}"));
    ASSERT_TRUE(src->parse_string("Mstage_xforms:I1={MATRIX,1,0,0,0}"));
    ASSERT_TRUE(src->parse_string("Mmatrix_size:I1=2"));
    ASSERT_TRUE(src->parse_string("Mmatrix_coeffs:I1=0.5,-2"));
    std::unique_ptr<siz_params> dst = make_mct_tree(1, 3);
    set_simple_siz(dst.get(), 3);
    dst->access_cluster("MCT")->copy_from(src->access_cluster("MCT"), -1, -1, 1);
    dst->access_cluster("MCC")->copy_from(src->access_cluster("MCC"), -1, -1, 1);
    dst->access_cluster("MCO")->copy_from(src->access_cluster("MCO"), -1, -1, -1, 1);
    rvd_params* mco = dst->access_cluster("MCO");
    int n = 0;
    ASSERT_TRUE(mco->get("Mnum_stages", 0, 0, n));
    EXPECT_EQ(2, n);
    EXPECT_EQ((std::vector<std::vector<int>>{{2}, {1}}), records(mco, "Mstages", 1));
    rvd_params* null_stage = dst->access_cluster("MCC")->access_unique(-1, -1, 2);
    ASSERT_NE(nullptr, null_stage);
    EXPECT_EQ((std::vector<std::vector<int>>{{0, 2}}), records(null_stage, "Mstage_inputs", 2));
    EXPECT_EQ((std::vector<std::vector<int>>{{1, 3}, {0, 0}, {4, 4}}),
              records(null_stage, "Mstage_outputs", 2));
    EXPECT_EQ((std::vector<std::vector<int>>{{3, 5}}), records(null_stage, "Mstage_collections", 2));
    EXPECT_EQ((std::vector<std::vector<int>>{{Mxform_MATRIX, 0, 0, 0, 0}}),
              records(null_stage, "Mstage_xforms", 5));
    null_stage->finalize(false);
    rvd_params* copied = dst->access_cluster("MCC")->access_unique(-1, -1, 1);
    ASSERT_NE(nullptr, copied);
    EXPECT_EQ((std::vector<std::vector<int>>{{0, 4}}), records(copied, "Mstage_inputs", 2));
    rvd_params* mct = dst->access_cluster("MCT")->access_unique(-1, -1, 1);
    ASSERT_NE(nullptr, mct);
    EXPECT_EQ((std::vector<float>{0.5f, -2}), coeffs(mct, "Mmatrix_coeffs"));
}
