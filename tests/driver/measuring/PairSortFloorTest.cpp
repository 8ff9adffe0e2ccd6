#include "driver/measuring/PairSortFloor.h"

#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace {

// Copies of 10 GB/s at the index arrays' size (twice that on both CPUs), 5 GB/s
// at the 8-byte keys' size; the other figures play no part.
DataSetLimits CopyTable(std::uint64_t n) {
    DataSetLimits limits;
    limits.records = n;
    limits.cpus = 2;
    limits.repeats = 3;
    const AccessRates rates{
        .copyBytes = 10e9, .loads4 = 1, .loads8 = 1, .stores256 = 1, .stores65536 = 1, .moves4 = 1, .moves8 = 1};
    AccessRates both = rates;
    both.copyBytes = 20e9;
    limits.indexArrays = {.arrayBytes = 4 * n, .oneThread = rates, .allCpus = both};
    limits.wideKeys = {.arrayBytes = 8 * n, .oneThread = {.copyBytes = 5e9}, .allCpus = {.copyBytes = 10e9}};
    return limits;
}

struct PairFloorCase {
    const char* name;
    unsigned keyBytes;
    std::uint64_t n;
    unsigned threads;
    unsigned spreadBits;
    std::optional<double> milliseconds;
};

// Worked by hand from the header: n w / B(nw) + (2 n w + 2 n p + 4 n) / B*.
const PairFloorCase kCases[] = {
    // 40 MB at 10 GB/s, then 280 MB at 10 GB/s
    {"int_10M_one_thread", 4, 10'000'000, 1, 24, 4.0 + 28.0},
    // both CPUs: 20 GB/s for the same bytes
    {"int_10M_two_threads", 4, 10'000'000, 2, 24, 2.0 + 14.0},
    // 8-byte keys of a narrow range travel as 8-byte pairs: 40 MB at 5 GB/s, 180 MB
    {"bigint_5M_narrow_pairs", 8, 5'000'000, 1, 24, 8.0 + 18.0},
    // 48 spread bits: 16-byte pairs, 260 MB
    {"bigfloat_5M_wide_pairs", 8, 5'000'000, 1, 48, 8.0 + 26.0},
    {"no_records", 4, 0, 1, 24, std::nullopt},
    {"key_width_neither_4_nor_8", 2, 10'000'000, 1, 24, std::nullopt},
};

class PairFloorFormula : public testing::TestWithParam<PairFloorCase> {};

TEST_P(PairFloorFormula, gives_the_worked_figure) {
    const PairFloorCase& c = GetParam();
    const std::optional<double> floor = PairSortFloorMs(c.keyBytes, c.n, c.threads, CopyTable(c.n), c.spreadBits);
    ASSERT_EQ(floor.has_value(), c.milliseconds.has_value());
    if (floor) EXPECT_NEAR(*floor, *c.milliseconds, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(PairSortFloor, PairFloorFormula, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<PairFloorCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(PairSortFloor, is_unset_for_a_table_measured_for_another_record_count) {
    EXPECT_FALSE(PairSortFloorMs(4, 10'000'000, 1, CopyTable(4'000'000), 24));
}

}  // namespace
