// The conformance codestreams decoded at full resolution (p0_08 with one level
// discarded) and compared with their class-1 references: peak absolute error and mean
// squared error per component within the limits of the set's table. Run as the CTest
// test "conformance"; skipped with a message when the set is absent, unless
// ORBEL_REQUIRE_CONFORMANCE=1.
#include "tests/codec/support/decode_cases.h"
#include "tests/codec/support/multi_decode.h"
#include "tests/codec/support/test_sources.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace codec_test;

struct conformance_row {
    const char* name;
    int components;
    std::vector<int64_t> peak;
    std::vector<double> mse;
    int discard;
    int64_t peak16; // limit with 16-bit lines; -1: not required
};

// The set's table, with the component counts of p0_09 (1), p0_10 (3) and p0_11 (1) as
// the codestreams have them. p0_13 compares its first 4 of 257 components.
const conformance_row table[] = {
    {"p0_01", 1, {0}, {0}, 0, 0},
    {"p0_02", 1, {0}, {0}, 0, 0},
    {"p0_03", 1, {0}, {0}, 0, 0},
    {"p0_04", 3, {5, 4, 6}, {0.776, 0.626, 1.070}, 0, -1},
    {"p0_05", 4, {2, 2, 2, 0}, {0.302, 0.307, 0.269, 0}, 0, -1},
    {"p0_06", 4, {635, 403, 378, 0}, {11287, 6124, 3968, 0}, 0, -1},
    {"p0_08", 3, {0, 0, 0}, {0, 0, 0}, 1, -1},
    {"p0_09", 1, {0}, {0}, 0, 2},
    {"p0_10", 3, {0, 0, 0}, {0, 0, 0}, 0, -1},
    {"p0_11", 1, {0}, {0}, 0, 0},
    {"p0_12", 1, {0}, {0}, 0, 0},
    {"p0_13", 4, {0, 0, 0, 0}, {0, 0, 0, 0}, 0, -1},
    {"p0_14", 3, {0, 0, 0}, {0, 0, 0}, 0, -1},
    {"p0_15", 1, {0}, {0}, 0, 0},
    {"p0_16", 1, {0}, {0}, 0, 0},
    {"p1_01", 1, {0}, {0}, 0, 0},
    {"p1_02", 3, {5, 4, 6}, {0.765, 0.616, 1.051}, 0, -1},
    {"p1_03", 4, {2, 2, 1, 0}, {0.3, 0.210, 0.200, 0}, 0, -1},
    {"p1_04", 1, {624}, {3080}, 0, -1},
    {"p1_05", 3, {40, 40, 40}, {8.458, 9.816, 10.154}, 0, -1},
    {"p1_06", 3, {2, 2, 2}, {0.6, 0.6, 0.6}, 0, -1},
    {"p1_07", 2, {0, 0}, {0, 0}, 0, -1},
};

bool conformance_required()
{
    const char* v = std::getenv("ORBEL_REQUIRE_CONFORMANCE");
    return v != nullptr && std::string(v) == "1";
}

void check_row(const conformance_row& row, bool precise)
{
    const std::string dir = ORBEL_CONFORMANCE_DIR;
    const std::string what = std::string(row.name) + (precise ? " (32-bit lines)" : " (16-bit lines)");
    decode_settings s;
    s.reduce = row.discard;
    s.precise = precise;
    std::vector<pgx_image> decoded;
    try {
        decoded = decode_file(dir + "/codestreams/" + row.name + ".j2k", s);
    } catch (const std::exception& e) {
        ADD_FAILURE() << what << ": " << e.what();
        return;
    }
    ASSERT_GE(int(decoded.size()), row.components) << row.name;
    for (int k = 0; k < row.components; k++) {
        const std::string ref_name = dir + "/reference/c1" + row.name + "_" + std::to_string(k) + ".pgx";
        const image_diff d = compare_images(read_pgx(ref_name), decoded[size_t(k)]);
        const std::string where = what + " component " + std::to_string(k) + ": " + describe(d);
        if (precise) {
            EXPECT_TRUE(d.same_size && d.peak <= row.peak[size_t(k)] && d.mse <= row.mse[size_t(k)]) << where;
        } else if (row.peak16 >= 0) {
            EXPECT_TRUE(d.same_size && d.peak <= row.peak16) << where;
        }
    }
}

TEST(Conformance, SingleComponentCodestreamsMeetTheClassOneLimits)
{
    if (!std::filesystem::is_directory(ORBEL_CONFORMANCE_DIR)) {
        if (conformance_required())
            FAIL() << "conformance set missing: " << ORBEL_CONFORMANCE_DIR;
        GTEST_SKIP() << "conformance set not found at " << ORBEL_CONFORMANCE_DIR
                     << " (set ORBEL_REQUIRE_CONFORMANCE=1 to make this a failure)";
    }
    int checked = 0;
    for (const conformance_row& row : table) {
        // Several components need the multi-component network before they can be decoded.
        if (row.components != 1)
            continue;
        SCOPED_TRACE(row.name);
        check_row(row, true);
        check_row(row, false);
        checked++;
    }
    EXPECT_EQ(checked, 10);
}

// Every stream through the multi-component network (every row of every output in turn),
// on 32-bit lines and on 16-bit lines: there the reversible ones stay exact and the
// irreversible ones within 2 above their peak limits.
void check_network_row(const conformance_row& row, bool precise)
{
    const std::string dir = ORBEL_CONFORMANCE_DIR;
    const std::string what = std::string(row.name) + (precise ? " (32-bit lines)" : " (16-bit lines)") +
                             " through the network";
    std::vector<multi_test::plane> planes;
    std::vector<std::pair<int, bool>> formats;
    try {
        file_source src(dir + "/codestreams/" + row.name + ".j2k");
        multi_test::codestream_guard guard;
        guard.cs.create(&src);
        guard.cs.apply_input_restrictions(0, row.components, row.discard, 0, nullptr);
        multi_test::network_options opt;
        opt.force_precise = precise;
        planes = multi_test::decode_through_network(guard.cs, opt);
        for (int k = 0; k < int(planes.size()); k++)
            formats.emplace_back(guard.cs.get_bit_depth(k, true), guard.cs.get_signed(k, true));
    } catch (const std::exception& e) {
        ADD_FAILURE() << what << ": " << e.what();
        return;
    }
    ASSERT_EQ(int(planes.size()), row.components) << what;
    for (int k = 0; k < row.components; k++) {
        pgx_image got;
        got.width = planes[size_t(k)].width;
        got.height = planes[size_t(k)].height;
        got.depth = formats[size_t(k)].first;
        got.is_signed = formats[size_t(k)].second;
        got.samples = planes[size_t(k)].samples;
        const std::string ref_name = dir + "/reference/c1" + row.name + "_" + std::to_string(k) + ".pgx";
        const image_diff d = compare_images(read_pgx(ref_name), got);
        const std::string where = what + " component " + std::to_string(k) + ": " + describe(d);
        const int64_t peak = row.peak[size_t(k)];
        if (precise) {
            EXPECT_TRUE(d.same_size && d.peak <= peak && d.mse <= row.mse[size_t(k)]) << where;
        } else {
            EXPECT_TRUE(d.same_size && d.peak <= (peak == 0 ? 0 : peak + 2)) << where;
        }
    }
}

} // namespace

TEST(Conformance, EveryCodestreamThroughTheNetwork)
{
    if (!std::filesystem::is_directory(ORBEL_CONFORMANCE_DIR)) {
        if (conformance_required())
            FAIL() << "conformance set missing: " << ORBEL_CONFORMANCE_DIR;
        GTEST_SKIP() << "conformance set not found at " << ORBEL_CONFORMANCE_DIR;
    }
    int checked = 0;
    for (const conformance_row& row : table) {
        SCOPED_TRACE(row.name);
        check_network_row(row, true);
        check_network_row(row, false);
        checked++;
    }
    EXPECT_EQ(checked, 22);
}
