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

namespace {
// Stage 2: a 4-input, 2-output matrix over inputs 0,1,2,5 (vector 3, coefficients 1), then
// a DEP block over input 3 and output 2 (reversible, coefficients 4).
const std::vector<uint8_t> mcc_one_byte = {0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02,
                                           0x01, 0x00, 0x04, 0, 1, 2, 5, 0x00, 0x02, 0, 1,
                                           0x00, 0x03, 0x01,
                                           0x00, 0x00, 0x01, 3, 0x00, 0x01, 2,
                                           0x01, 0x00, 0x04};
} // namespace
