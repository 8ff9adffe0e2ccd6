#include "driver/measuring/MemoryFloor.h"

#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace {

AccessRates Rates(double scale) {
    return {.copyBytes = 10e9 * scale,
            .loads4 = 100e6 * scale,
            .loads8 = 50e6 * scale,
            .stores256 = 200e6 * scale,
            .stores65536 = 100e6 * scale,
            .moves4 = 80e6 * scale,
            .moves8 = 40e6 * scale};
}

// A data set's own table: the rates at its index arrays, a slower copy at
// its 8-byte keys' array, twice the rates on both CPUs.
DataSetLimits MadeUpTable(std::uint64_t n) {
    DataSetLimits limits;
    limits.records = n;
    limits.cpus = 2;
    limits.repeats = 3;
    limits.indexArrays = {.arrayBytes = 4 * n, .oneThread = Rates(1), .allCpus = Rates(2)};
    limits.wideKeys = {.arrayBytes = 8 * n, .oneThread = {.copyBytes = 5e9}, .allCpus = {.copyBytes = 10e9}};
    return limits;
}

struct FloorCase {
    const char* name;
    unsigned keyBytes;
    std::uint64_t n;
    unsigned threads;
    std::optional<double> milliseconds;
    unsigned spreadBits = kAllKeyBits;
};

// Worked by hand from the header's formula, in milliseconds:
//   sweep nw/B(nw) + resweep nw/B* + s (n/S(4n) - 4n/B(4n)) + m (n/M(4n) - 4n/B(4n)) + (3 - m) n/G(4n).
const FloorCase kFloorCases[] = {
    // 4 + 4 + (50 - 4) + 3 (125 - 4)
    {"int_10M_one_thread_at_its_own_sizes", 4, 10'000'000, 1, 417.0},
    // keys swept at the wide copy, resweep at the better copy; our sort's own
    // counting sweeps through the indices are no part of the design's traffic:
    // 8 + 4 + (50 - 2) + 3 (125 - 2)
    {"bigint_5M_one_thread_without_our_counting_sweeps", 8, 5'000'000, 1, 429.0},
    // all-CPU figures: 4 + 2 + (25 - 1) + 3 (62.5 - 1)
    {"bigint_5M_two_threads_all_cpu_figures", 8, 5'000'000, 2, 214.5},
    // eight threads on two CPUs, all-CPU figures: 0.2 + 0.2 + (2.5 - 0.2) + 3 (6.25 - 0.2)
    {"int_1M_eight_threads", 4, 1'000'000, 8, 20.85},
    // 4 x 4 x 65,536 > n: our sort counts every pass, the design need not: 0.8 + 0.4 + (5 - 0.2) + 3 (12.5 - 0.2)
    {"bigint_1M_four_threads_without_our_counting_sweeps", 8, 1'000'000, 4, 42.9},
    // digit 3 above the 24 spread bits: its pass is charged its loads, 100
    {"int_10M_spread_over_24_bits", 4, 10'000'000, 1, 396.0, 24},
    // digits 1 to 3 above: 8 + 4 + (50 - 2) + 3 x 100
    {"bigint_5M_spread_over_24_bits", 8, 5'000'000, 1, 360.0, 24},
    // no digit spread, no stores charged: 4 + 4 + 3 x 100
    {"int_10M_spread_over_no_digit", 4, 10'000'000, 1, 308.0, 4},
    {"no_records_no_table", 4, 0, 1, std::nullopt},
    {"key_width_neither_4_nor_8", 2, 10'000'000, 1, std::nullopt},
};

class FloorFormula : public testing::TestWithParam<FloorCase> {};

TEST_P(FloorFormula, gives_the_worked_figure) {
    const FloorCase& c = GetParam();
    const std::optional<double> floor = RadixSortFloorMs(c.keyBytes, c.n, c.threads, MadeUpTable(c.n), c.spreadBits);
    ASSERT_EQ(floor.has_value(), c.milliseconds.has_value());
    if (floor) {
        EXPECT_NEAR(*floor, *c.milliseconds, 1e-9);
    }
}

INSTANTIATE_TEST_SUITE_P(MemoryFloor, FloorFormula, testing::ValuesIn(kFloorCases),
                         [](const testing::TestParamInfo<FloorCase>& info) { return std::string(info.param.name); });

TEST(MemoryFloor, several_threads_take_the_better_figure_when_the_all_cpu_one_came_out_lower) {
    DataSetLimits limits = MadeUpTable(10'000'000);
    limits.indexArrays.allCpus = Rates(0.5);
    limits.wideKeys.allCpus.copyBytes = 1e9;
    // Two threads on two CPUs: at best twice one thread's rates, so half its floor.
    EXPECT_NEAR(*RadixSortFloorMs(4, 10'000'000, 2, limits), *RadixSortFloorMs(4, 10'000'000, 1, limits) / 2, 1e-9);
    // More threads than CPUs add nothing.
    EXPECT_NEAR(*RadixSortFloorMs(4, 10'000'000, 8, limits), *RadixSortFloorMs(4, 10'000'000, 2, limits), 1e-9);
}

TEST(MemoryFloor, stores_and_moves_cost_nothing_rather_than_less_when_the_slot_reads_exceed_them) {
    DataSetLimits limits = MadeUpTable(10'000'000);
    // slot reads of 4 s per 1M stores
    limits.indexArrays.oneThread.copyBytes = limits.wideKeys.oneThread.copyBytes = 1e6;
    const RadixSortTraffic traffic = IndexRadixSortTraffic(4, 10'000'000);
    const FloorRates rates = *FloorRatesFor(4, 10'000'000, 1, limits);
    EXPECT_NEAR(FloorMilliseconds(traffic, rates), 2 * 40e6 / 1e6 * 1e3, 1e-6);
}

TEST(MemoryFloor, is_unset_for_a_table_not_measured_or_measured_for_another_record_count) {
    DataSetLimits skipped = MadeUpTable(10'000'000);
    skipped.skipped = "needs 200 MiB of memory, 100 MiB available";
    EXPECT_FALSE(RadixSortFloorMs(4, 10'000'000, 1, skipped));
    EXPECT_FALSE(RadixSortFloorMs(4, 0, 1, skipped));
    // The 16 MiB rates of 4M keys would price 10M keys' 38 MiB arrays too low.
    EXPECT_FALSE(RadixSortFloorMs(4, 10'000'000, 1, MadeUpTable(4'000'000)));
}

struct TrafficCase {
    const char* name;
    unsigned keyBytes;
    std::uint64_t n;
    unsigned spreadBits;
    std::uint64_t stores, moves, loads;
};

// The design's passes, by the digits spread; no pass counted twice, however
// few keys or many threads a sort of ours has.
const TrafficCase kTrafficCases[] = {
    {"int_every_digit_spread", 4, 1'000'000, kAllKeyBits, 1'000'000, 3'000'000, 0},
    {"int_few_keys", 4, 10'000, kAllKeyBits, 10'000, 30'000, 0},
    {"bigint_every_digit_spread", 8, 1'000'000, kAllKeyBits, 1'000'000, 3'000'000, 0},
    {"bigint_odd_count", 8, 1'048'575, kAllKeyBits, 1'048'575, 3'145'725, 0},
    {"int_spread_over_24_bits", 4, 1'000'000, 24, 1'000'000, 2'000'000, 1'000'000},
    {"int_spread_over_23_bits", 4, 1'000'000, 23, 1'000'000, 1'000'000, 2'000'000},
    {"bigint_spread_over_48_bits", 8, 1'000'000, 48, 1'000'000, 2'000'000, 1'000'000},
    {"bigint_spread_over_15_bits", 8, 1'000'000, 15, 0, 0, 3'000'000},
};

class RadixTraffic : public testing::TestWithParam<TrafficCase> {};

TEST_P(RadixTraffic, follows_the_sort_design) {
    const TrafficCase& c = GetParam();
    const RadixSortTraffic traffic = IndexRadixSortTraffic(c.keyBytes, c.n, c.spreadBits);
    EXPECT_EQ(traffic.keyArrayBytes, c.n * c.keyBytes);
    EXPECT_EQ(traffic.indexArrayBytes, c.n * 4);
    EXPECT_EQ(traffic.sweepBytes, c.n * c.keyBytes);
    EXPECT_EQ(traffic.resweepBytes, c.n * c.keyBytes);
    EXPECT_EQ(traffic.stores, c.stores);
    EXPECT_EQ(traffic.moves, c.moves);
    EXPECT_EQ(traffic.loads, c.loads);
    EXPECT_EQ(traffic.fronts, c.keyBytes == 4 ? 256u : 65'536u);
}

INSTANTIATE_TEST_SUITE_P(MemoryFloor, RadixTraffic, testing::ValuesIn(kTrafficCases),
                         [](const testing::TestParamInfo<TrafficCase>& info) { return std::string(info.param.name); });

struct GpuFloorCase {
    unsigned keyBytes;
    std::uint64_t n;
    bool measured;
    std::optional<double> milliseconds;
};

// At a device copy of 10 GB/s read + written, by hand: per key, 4-byte keys
// move 4 passes x (8 key-word bytes + 4 written) + 3 x 8 index bytes read = 72
// bytes, 8-byte keys 8 x 12 + 7 x 8 = 152.
const GpuFloorCase kGpuFloorCases[] = {
    {4, 10'000'000, true, 72.0},
    {4, 20'000'000, true, 144.0},
    {8, 10'000'000, true, 152.0},
    {8, 1, true, std::nullopt},  // cached on the device: the arrays are below the probe's buffers
    {4, 1'000'000, true, std::nullopt},
    {4, 0, true, 0.0},
    {2, 10'000'000, true, std::nullopt},
    {4, 10'000'000, false, std::nullopt},
    {8, 0, false, std::nullopt},
};

TEST(MemoryFloor, gpu_on_card_floor_is_the_sort_traffic_at_the_device_copy_rate) {
    GpuLimits measured;
    measured.device = "made up";
    measured.bufferBytes = 4 << 20;
    measured.repeats = 3;
    measured.copyBytes = 10e9;
    measured.uploadBytes = measured.readBackBytes = 1e9;
    GpuLimits skipped;
    skipped.skipped = "the compute queue has no timestamps";
    for (const GpuFloorCase& c : kGpuFloorCases) {
        const std::optional<double> floor = GpuOnCardFloorMs(c.keyBytes, c.n, c.measured ? measured : skipped);
        ASSERT_EQ(floor.has_value(), c.milliseconds.has_value()) << c.keyBytes << " " << c.n;
        if (floor) {
            EXPECT_NEAR(*floor, *c.milliseconds, 1e-9) << c.keyBytes << " " << c.n;
        }
    }
}

}  // namespace
