// The conformance codestreams decoded through the decode library (the multi-component
// network, colour transform included) at full resolution (p0_08 with one level
// discarded) and compared with their class-1 references: by default and with --precise,
// peak absolute error and mean squared error per component within the limits of the
// set's table; with --fastest within the peak plus 2. Run as the CTest test
// "conformance"; the set lives in tests/data/conformance.
#include "tests/codec/support/decode_cases.h"

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
};

// The set's table, with the component counts of p0_09 (1), p0_10 (3) and p0_11 (1) as
// the codestreams have them. p0_13 compares its first 4 of 257 components.
const conformance_row table[] = {
    {"p0_01", 1, {0}, {0}, 0},
    {"p0_02", 1, {0}, {0}, 0},
    {"p0_03", 1, {0}, {0}, 0},
    {"p0_04", 3, {5, 4, 6}, {0.776, 0.626, 1.070}, 0},
    {"p0_05", 4, {2, 2, 2, 0}, {0.302, 0.307, 0.269, 0}, 0},
    {"p0_06", 4, {635, 403, 378, 0}, {11287, 6124, 3968, 0}, 0},
    {"p0_08", 3, {0, 0, 0}, {0, 0, 0}, 1},
    {"p0_09", 1, {0}, {0}, 0},
    {"p0_10", 3, {0, 0, 0}, {0, 0, 0}, 0},
    {"p0_11", 1, {0}, {0}, 0},
    {"p0_12", 1, {0}, {0}, 0},
    {"p0_13", 4, {0, 0, 0, 0}, {0, 0, 0, 0}, 0},
    {"p0_14", 3, {0, 0, 0}, {0, 0, 0}, 0},
    {"p0_15", 1, {0}, {0}, 0},
    {"p0_16", 1, {0}, {0}, 0},
    {"p1_01", 1, {0}, {0}, 0},
    {"p1_02", 3, {5, 4, 6}, {0.765, 0.616, 1.051}, 0},
    {"p1_03", 4, {2, 2, 1, 0}, {0.3, 0.210, 0.200, 0}, 0},
    {"p1_04", 1, {624}, {3080}, 0},
    {"p1_05", 3, {40, 40, 40}, {8.458, 9.816, 10.154}, 0},
    {"p1_06", 3, {2, 2, 2}, {0.6, 0.6, 0.6}, 0},
    {"p1_07", 2, {0, 0}, {0, 0}, 0},
};

enum class line_choice { by_default, precise, fastest };

// By default and on 32-bit lines within the table's limits; with --fastest (16-bit lines
// wherever the depth allows) the reversible ones stay exact and the irreversible ones
// within 2 above their peak.
void check_row(const conformance_row& row, line_choice choice)
{
    const std::string dir = ORBEL_CONFORMANCE_DIR;
    const char* names[] = {" (default)", " (--precise)", " (--fastest)"};
    const std::string what = std::string(row.name) + names[int(choice)];
    decode_settings s;
    s.reduce = row.discard;
    s.precise = choice == line_choice::precise;
    s.fastest = choice == line_choice::fastest;
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
        const int64_t peak = row.peak[size_t(k)];
        if (choice != line_choice::fastest)
            EXPECT_TRUE(d.same_size && d.peak <= peak && d.mse <= row.mse[size_t(k)]) << where;
        else
            EXPECT_TRUE(d.same_size && d.peak <= (peak == 0 ? 0 : peak + 2)) << where;
    }
}

} // namespace

TEST(Conformance, EveryCodestreamMeetsTheClassOneLimits)
{
    ASSERT_TRUE(std::filesystem::is_directory(ORBEL_CONFORMANCE_DIR)) << ORBEL_CONFORMANCE_DIR;
    int checked = 0;
    for (const conformance_row& row : table) {
        SCOPED_TRACE(row.name);
        check_row(row, line_choice::by_default);
        check_row(row, line_choice::precise);
        check_row(row, line_choice::fastest);
        checked++;
    }
    EXPECT_EQ(checked, 22);
}
