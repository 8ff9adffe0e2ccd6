#include "driver/measuring/MemoryFloor.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

AccessRates Rates(double scale) {
    return {.copyBytes = 10e9 * scale, .loads4 = 100e6 * scale, .loads8 = 50e6 * scale,
            .stores256 = 200e6 * scale, .stores65536 = 100e6 * scale};
}

// Two sizes; four times the rates over the smaller one, twice the rates on
// both CPUs.
CpuLimits MadeUpLimits() {
    CpuLimits limits;
    limits.cpus = 2;
    limits.repeats = 3;
    limits.arrays = {{.arrayBytes = 4'000'000, .oneThread = Rates(4), .allCpus = Rates(8)},
                     {.arrayBytes = 40'000'000, .oneThread = Rates(1), .allCpus = Rates(2)}};
    return limits;
}

struct FloorCase {
    const char* name;
    unsigned keyBytes;
    std::uint64_t n;
    unsigned threads;
    std::optional<double> milliseconds;
};

// Worked by hand from the header's formula:
//   sweep nw/B(nw) + resweep nw/B* + loads 3n/G(nw) + reloads r n/G* + stores 4 max(0, n/S(4n) - 4n/B(4n)).
const FloorCase kFloorCases[] = {
    // 4 + 1 + 300 + 0 + 4 (50 - 4)
    {"int_10M_one_thread_over_the_large_size", 4, 10'000'000, 1, 489.0},
    // keys on the large size, indices on the small: 4 + 1 + 300 + 75 (reloads at 200 M/s) + 4 (12.5 - 0.5)
    {"bigint_5M_one_thread_counts_every_pass", 8, 5'000'000, 1, 428.0},
    // next-digit tables pay off (2 x 2 x 65,536 <= n): 2 + 0.5 + 150 + 0 + 4 (6.25 - 0.25)
    {"bigint_5M_two_threads_all_cpu_figures", 8, 5'000'000, 2, 176.5},
    // eight threads on two CPUs: the all-CPU figures of the small size: 0.05 + 0.05 + 3.75 + 4 (0.625 - 0.05)
    {"int_1M_eight_threads", 4, 1'000'000, 8, 6.15},
    // 4 x 4 x 65,536 > n, so every pass counts; all on the small size: 0.1 + 0.1 + 7.5 + 7.5 + 4 (1.25 - 0.05)
    {"bigint_1M_four_threads_counts_every_pass", 8, 1'000'000, 4, 20.0},
    {"no_probed_size_as_small_as_the_keys", 4, 999'999, 1, std::nullopt},
    {"no_records", 4, 0, 1, 0.0},
    {"key_width_neither_4_nor_8", 2, 10'000'000, 1, std::nullopt},
};

class FloorFormula : public testing::TestWithParam<FloorCase> {};

TEST_P(FloorFormula, gives_the_worked_figure) {
    const FloorCase& c = GetParam();
    const std::optional<double> floor = RadixSortFloorMs(c.keyBytes, c.n, c.threads, MadeUpLimits());
    ASSERT_EQ(floor.has_value(), c.milliseconds.has_value());
    if (floor) {
        EXPECT_NEAR(*floor, *c.milliseconds, 1e-9);
    }
}

INSTANTIATE_TEST_SUITE_P(MemoryFloor, FloorFormula, testing::ValuesIn(kFloorCases),
                         [](const testing::TestParamInfo<FloorCase>& info) { return std::string(info.param.name); });

TEST(MemoryFloor, several_threads_take_the_better_figure_when_the_all_cpu_one_came_out_lower) {
    CpuLimits limits = MadeUpLimits();
    for (ArrayLimits& array : limits.arrays) array.allCpus = Rates(0.5);
    EXPECT_NEAR(*RadixSortFloorMs(4, 10'000'000, 2, limits), *RadixSortFloorMs(4, 10'000'000, 1, limits), 1e-9);
}

TEST(MemoryFloor, stores_cost_nothing_rather_than_less_when_the_slot_reads_exceed_them) {
    CpuLimits limits = MadeUpLimits();
    for (ArrayLimits& array : limits.arrays) array.oneThread.copyBytes = 1e6;  // slot reads of 4 s per 1M stores
    const RadixSortTraffic traffic = IndexRadixSortTraffic(4, 10'000'000, 1);
    const FloorRates rates = *FloorRatesFor(4, 10'000'000, 1, limits);
    EXPECT_NEAR(FloorMilliseconds(traffic, rates), (2 * 40e6 / 1e6 + 3 * 10e6 / 100e6) * 1e3, 1e-6);
}

TEST(MemoryFloor, is_unset_for_limits_that_were_not_measured) {
    CpuLimits skipped;
    skipped.skipped = "needs 200 MiB of memory, 100 MiB available";
    EXPECT_FALSE(RadixSortFloorMs(4, 10'000'000, 1, skipped));
    EXPECT_FALSE(RadixSortFloorMs(4, 0, 1, skipped));
}

struct TrafficCase {
    const char* name;
    unsigned keyBytes;
    std::uint64_t n;
    unsigned threads;
    std::uint64_t reloads;
};

// Counting sweeps as IndexRadixSort.h does them.
const TrafficCase kTrafficCases[] = {
    {"int_one_thread_counts_every_digit_at_once", 4, 1'000'000, 1, 0},
    {"int_two_threads_pair_counts", 4, 1'000'000, 2, 0},
    {"int_eight_threads_next_digit_tables", 4, 1'000'000, 8, 0},
    {"int_eight_threads_too_few_keys_for_either", 4, 10'000, 8, 30'000},
    {"bigint_one_thread_counts_every_pass", 8, 1'000'000, 1, 3'000'000},
    {"bigint_four_threads_just_short_of_next_digit_tables", 8, 1'048'575, 4, 3'145'725},
    {"bigint_four_threads_next_digit_tables", 8, 1'048'576, 4, 0},
};

class RadixTraffic : public testing::TestWithParam<TrafficCase> {};

TEST_P(RadixTraffic, follows_the_sort_design) {
    const TrafficCase& c = GetParam();
    const RadixSortTraffic traffic = IndexRadixSortTraffic(c.keyBytes, c.n, c.threads);
    EXPECT_EQ(traffic.keyArrayBytes, c.n * c.keyBytes);
    EXPECT_EQ(traffic.indexArrayBytes, c.n * 4);
    EXPECT_EQ(traffic.sweepBytes, c.n * c.keyBytes);
    EXPECT_EQ(traffic.resweepBytes, c.n * c.keyBytes);
    EXPECT_EQ(traffic.loads, 3 * c.n);
    EXPECT_EQ(traffic.reloads, c.reloads);
    EXPECT_EQ(traffic.stores, 4 * c.n);
    EXPECT_EQ(traffic.fronts, c.keyBytes == 4 ? 256u : 65'536u);
}

INSTANTIATE_TEST_SUITE_P(MemoryFloor, RadixTraffic, testing::ValuesIn(kTrafficCases),
                         [](const testing::TestParamInfo<TrafficCase>& info) { return std::string(info.param.name); });

}  // namespace
