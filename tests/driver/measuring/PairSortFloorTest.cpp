#include "driver/measuring/PairSortFloor.h"

#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace {

struct TrafficCase {
    const char* name;
    unsigned keyBytes;
    std::uint64_t n;
    unsigned spreadBits;
    PairSortTraffic traffic;
};

// Worked from the header: buckets of 8,192 pairs up to about 16.8M keys, then
// 2n / 4,093 + 1; a sign bit above the spread bits.
const TrafficCase kTrafficCases[] = {
    // 1,221 buckets split off 10 of 25 bits: 15 vary, two passes
    {"int_10M",
     4,
     10'000'000,
     24,
     {40'000'000, 10'000'000, 10'000'000, 80'000'000, 40'000'000, 10'000'000, 20'000'000}},
    // 123 buckets split off 6 bits: 19 vary, still two passes
    {"int_1M", 4, 1'000'000, 24, {4'000'000, 1'000'000, 1'000'000, 8'000'000, 4'000'000, 1'000'000, 2'000'000}},
    // buckets of 48,864 pairs: 2,047 split off 10 of 23 bits, two passes
    // (buckets of 8,192 would have left 10 bits, one pass)
    {"int_100M_23_bits",
     4,
     100'000'000,
     22,
     {400'000'000, 100'000'000, 100'000'000, 800'000'000, 400'000'000, 100'000'000, 200'000'000}},
    // 8-byte keys of a narrow range travel as 8-byte pairs
    {"bigint_5M", 8, 5'000'000, 24, {40'000'000, 5'000'000, 5'000'000, 40'000'000, 20'000'000, 5'000'000, 10'000'000}},
    // 16-byte pairs fill lines twice as fast; 40 bits vary: a top-digit pass
    {"bigfloat_5M",
     8,
     5'000'000,
     48,
     {40'000'000, 5'000'000, 10'000'000, 80'000'000, 20'000'000, 5'000'000, 5'000'000}},
    // one leaf sorts in cache at once: no scatter, no pairs read back
    {"int_in_cache", 4, 200'000, 24, {800'000, 0, 0, 0, 800'000, 200'000, 200'000}},
    // keys of one bit: no bucket varies, no pass
    {"int_one_bit", 4, 10'000'000, 0, {40'000'000, 10'000'000, 10'000'000, 80'000'000, 40'000'000, 0, 0}},
};

class PairFloorTraffic : public testing::TestWithParam<TrafficCase> {};

TEST_P(PairFloorTraffic, charges_the_designs_phases) {
    const TrafficCase& c = GetParam();
    const PairSortTraffic t = PairRadixSortTraffic(c.keyBytes, c.n, c.spreadBits);
    EXPECT_EQ(t.keyBytes, c.traffic.keyBytes);
    EXPECT_EQ(t.plannedKeys, c.traffic.plannedKeys);
    EXPECT_EQ(t.scatteredPairs, c.traffic.scatteredPairs);
    EXPECT_EQ(t.pairBytes, c.traffic.pairBytes);
    EXPECT_EQ(t.indexBytes, c.traffic.indexBytes);
    EXPECT_EQ(t.leafCounts, c.traffic.leafCounts);
    EXPECT_EQ(t.leafMoves, c.traffic.leafMoves);
}

INSTANTIATE_TEST_SUITE_P(PairSortFloor, PairFloorTraffic, testing::ValuesIn(kTrafficCases),
                         [](const testing::TestParamInfo<TrafficCase>& info) { return std::string(info.param.name); });

// Copies of 10 GB/s at the index arrays' size and 5 GB/s at the 8-byte keys'
// (both twice that on both CPUs); 1G keys planned, 500M pairs scattered, 2G
// counted and 1G moved per second on one thread and on both.
DataSetLimits Table(std::uint64_t n) {
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
    const PairRates pairs{.planned = 1e9, .scattered = 500e6, .counts = 2e9, .moves = 1e9};
    limits.pairs = {.leafBytes = 65536, .oneThread = pairs, .allCpus = pairs};
    return limits;
}

struct FloorCase {
    const char* name;
    unsigned keyBytes;
    std::uint64_t n;
    unsigned threads;
    unsigned spreadBits;
    std::optional<double> milliseconds;
};

const FloorCase kFloorCases[] = {
    // range 4, plan max(4, 10): the count, scatter 20, buckets max(16 + 4,
    // 5 + 20): the passes in cache
    {"int_10M_one_thread", 4, 10'000'000, 1, 24, 4.0 + 10.0 + 20.0 + 25.0},
    // every rate doubled: the pair figures as one thread's times two
    {"int_10M_two_threads", 4, 10'000'000, 2, 24, 2.0 + 5.0 + 10.0 + 12.5},
    // range 8, plan max(4, 5), scatter 20, buckets max(16 + 2, 2.5 + 5): memory
    {"bigfloat_5M_one_thread", 8, 5'000'000, 1, 48, 8.0 + 5.0 + 20.0 + 18.0},
    {"no_records", 4, 0, 1, 24, std::nullopt},
    {"key_width_neither_4_nor_8", 2, 10'000'000, 1, 24, std::nullopt},
};

class PairFloorFormula : public testing::TestWithParam<FloorCase> {};

TEST_P(PairFloorFormula, gives_the_worked_figure) {
    const FloorCase& c = GetParam();
    const std::optional<double> floor = PairSortFloorMs(c.keyBytes, c.n, c.threads, Table(c.n), c.spreadBits);
    ASSERT_EQ(floor.has_value(), c.milliseconds.has_value());
    if (floor) {
        EXPECT_NEAR(*floor, *c.milliseconds, 1e-9);
    }
}

INSTANTIATE_TEST_SUITE_P(PairSortFloor, PairFloorFormula, testing::ValuesIn(kFloorCases),
                         [](const testing::TestParamInfo<FloorCase>& info) { return std::string(info.param.name); });

TEST(PairSortFloor, is_unset_without_the_tables_own_figures) {
    EXPECT_FALSE(PairSortFloorMs(4, 10'000'000, 1, Table(4'000'000), 24)) << "another record count's table";
    DataSetLimits noPairs = Table(10'000'000);
    noPairs.pairs = {};
    EXPECT_FALSE(PairSortFloorMs(4, 10'000'000, 1, noPairs, 24)) << "a table probed without the pair figures";
}

}  // namespace
