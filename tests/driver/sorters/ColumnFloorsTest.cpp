#include "driver/sorters/ColumnFloors.h"

#include <optional>

#include <gtest/gtest.h>

#include "driver/measuring/PairSortFloor.h"
#include "driver/measuring/TestData.h"

namespace {

DataSetLimits OwnTable() {
    const AccessRates rates{.copyBytes = 20e9,
                            .loads4 = 200e6,
                            .loads8 = 150e6,
                            .stores256 = 400e6,
                            .stores65536 = 150e6,
                            .moves4 = 150e6,
                            .moves8 = 60e6};
    DataSetLimits limits;
    limits.records = 100000;
    limits.cpus = 2;
    limits.repeats = 1;
    limits.indexArrays = {.arrayBytes = 400000, .oneThread = rates, .allCpus = rates};
    limits.wideKeys = {.arrayBytes = 800000, .oneThread = {.copyBytes = 20e9}, .allCpus = {.copyBytes = 20e9}};
    const PairRates pairs{.planned = 1e9, .scattered = 500e6, .counts = 2e9, .moves = 1e9};
    limits.pairs = {.leafBytes = 65536, .oneThread = pairs, .allCpus = pairs};
    return limits;
}

}  // namespace

TEST(ColumnFloors, radix_columns_on_uniform_keys_and_the_gpu_on_card_column_have_a_floor) {
    using AppCore::DataType;
    const DataSetLimits limits = OwnTable();
    const std::uint64_t n = 100000;
    // By hand from the rates above, in ms. INT on two threads, keys spread over
    // 24 bits: two sweeps of 4n bytes, the first pass's stores and two passes of
    // moves less their slot reads, one pass of loads.
    const double intFloor = 2 * 0.02 + (0.25 - 0.02) + (2 * 0.666667 - 2 * 0.02) + 0.5;
    // Two threads on the table's CPUs reach at best twice one thread's rates.
    EXPECT_NEAR(*ColumnFloorMs(Column::Cpu2Thread, DataType::INT, Distribution::Uniform, n, limits, {}), intFloor / 2,
                1e-5);
    // BIGFLOAT on one thread, spread over 48 bits: 16-bit digits, so three of
    // four digits are spread; one pass of loads.
    const double bigFloatFloor = 2 * 0.04 + (0.666667 - 0.02) + (2 * 1.666667 - 2 * 0.02) + 0.666667;
    EXPECT_NEAR(*ColumnFloorMs(Column::Cpu1Thread, DataType::BIGFLOAT, Distribution::Uniform, n, limits, {}),
                bigFloatFloor, 1e-5);
    EXPECT_GT(*ColumnFloorMs(Column::Cpu8Thread, DataType::BIGINT, Distribution::Uniform, n, limits, {}), 0.0);
    for (const Column column : {Column::CpuStandard, Column::Gpu, Column::GpuTransfer, PeerColumn(Peer::Vqsort)})
        EXPECT_FALSE(ColumnFloorMs(column, DataType::INT, Distribution::Uniform, n, limits, {}));
    EXPECT_FALSE(ColumnFloorMs(Column::Cpu1Thread, DataType::INT, Distribution::Sorted, n, limits, {}));
    EXPECT_FALSE(ColumnFloorMs(Column::Cpu1Thread, DataType::INT, Distribution::Uniform, n, DataSetLimits{}, {}));
    EXPECT_FALSE(ColumnFloorMs(Column::Cpu1Thread, DataType::INT, Distribution::Uniform, 2 * n, limits, {}))
        << "a table prices its own record count only";

    GpuLimits gpu;
    gpu.bufferBytes = 1 << 16;
    gpu.copyBytes = gpu.uploadBytes = gpu.readBackBytes = 10e9;
    // 152 bytes a key of 8 bytes at 10 GB/s, whatever the keys.
    for (const Distribution distribution : {Distribution::Uniform, Distribution::Sorted, Distribution::Equal})
        EXPECT_NEAR(*ColumnFloorMs(Column::GpuOnCard, DataType::BIGINT, distribution, n, limits, gpu), 1.52, 1e-9);
    gpu.bufferBytes = 1 << 20;
    EXPECT_FALSE(ColumnFloorMs(Column::GpuOnCard, DataType::BIGINT, Distribution::Uniform, n, limits, gpu))
        << "no floor for a sort that fits in the probe's buffers";
    EXPECT_FALSE(ColumnFloorMs(Column::GpuOnCard, DataType::INT, Distribution::Uniform, n, limits, {}));
}

TEST(ColumnFloors, pair_columns_take_the_pair_sort_floor_on_their_own_threads_on_uniform_keys_only) {
    using AppCore::DataType;
    const DataSetLimits limits = OwnTable();
    const std::uint64_t n = 100000;
    const auto positive = [](std::optional<double> floor) { return floor && *floor > 0.0 ? floor : std::nullopt; };
    ASSERT_TRUE(positive(PairSortFloorMs(8, n, 1, limits, UniformKeySpreadBits(DataType::BIGINT))));
    EXPECT_EQ(ColumnFloorMs(Column::PairRadix1Thread, DataType::BIGINT, Distribution::Uniform, n, limits, {}, 2),
              positive(PairSortFloorMs(8, n, 1, limits, UniformKeySpreadBits(DataType::BIGINT))));
    EXPECT_EQ(ColumnFloorMs(Column::PairRadixAllCpus, DataType::FLOAT, Distribution::Uniform, n, limits, {}, 2),
              positive(PairSortFloorMs(4, n, 2, limits, UniformKeySpreadBits(DataType::FLOAT))));
    EXPECT_FALSE(ColumnFloorMs(Column::PairRadix1Thread, DataType::INT, Distribution::Zipf, n, limits, {}, 2));
}

TEST(ColumnFloors, the_probes_around_the_rounds_price_each_figure_at_its_best_and_spread_the_floor) {
    using AppCore::DataType;
    const std::uint64_t n = 100000;
    // A probe taken while other work ran: every figure at `share` of the quiet one's.
    const auto slowed = [](double share, double movesShare) {
        DataSetLimits limits = OwnTable();
        for (AccessRates* rates : {&limits.indexArrays.oneThread, &limits.indexArrays.allCpus}) {
            rates->copyBytes *= share;
            rates->loads4 *= share;
            rates->stores256 *= share;
            rates->moves4 *= movesShare;
        }
        limits.wideKeys.oneThread.copyBytes *= share;
        return limits;
    };
    const auto floorAt = [&](const DataSetLimits& limits) {
        return *ColumnFloorMs(Column::Cpu1Thread, DataType::INT, Distribution::Uniform, n, limits, {});
    };
    DataSetLimits skipped;
    skipped.records = n;
    skipped.skipped = "needs 1 GiB of memory, 10 MiB available";
    const struct {
        const char* what;
        std::vector<DataSetLimits> probes;
        double floorMs;  // at the best figures
        std::optional<double> lowestMs, highestMs;
        bool unreliable;
    } cases[] = {
        {"one probe prices the floor and spreads it over nothing", {OwnTable()}, floorAt(OwnTable()), {}, {}, false},
        {"a slower probe after leaves the floor where the quiet one put it",
         {OwnTable(), slowed(0.9, 0.9)},
         floorAt(OwnTable()),
         floorAt(OwnTable()),
         floorAt(slowed(0.9, 0.9)),
         false},
        {"a probe half as fast makes the floor unreliable",
         {slowed(0.5, 0.5), OwnTable()},
         floorAt(OwnTable()),
         floorAt(OwnTable()),
         floorAt(slowed(0.5, 0.5)),
         true},
        // The moves of the slowed probe are faster: each figure comes from the probe that showed it best.
        {"figures mix across probes, below either probe's floor",
         {OwnTable(), slowed(0.8, 1.5)},
         floorAt(slowed(1.0, 1.5)),
         std::min(floorAt(OwnTable()), floorAt(slowed(0.8, 1.5))),
         std::max(floorAt(OwnTable()), floorAt(slowed(0.8, 1.5))),
         false},
        {"a probe that was skipped counts for nothing", {OwnTable(), skipped}, floorAt(OwnTable()), {}, {}, false},
    };
    for (const auto& c : cases) {
        const PricedFloor priced =
            PriceColumnFloor(Column::Cpu1Thread, DataType::INT, Distribution::Uniform, n, c.probes, {});
        ASSERT_TRUE(priced.ms) << c.what;
        EXPECT_NEAR(*priced.ms, c.floorMs, 1e-9) << c.what;
        ASSERT_EQ(priced.spread.has_value(), c.lowestMs.has_value()) << c.what;
        if (!priced.spread) continue;
        EXPECT_NEAR(priced.spread->lowestMs, *c.lowestMs, 1e-9) << c.what;
        EXPECT_NEAR(priced.spread->highestMs, *c.highestMs, 1e-9) << c.what;
        // The cell's record holds the verdict: a median of twice the best floor.
        const CellStatistics cell = CellStatisticsOf({2.0 * *priced.ms}, {.intervalTarget = {},
                                                                          .floorMs = priced.ms,
                                                                          .floorSpread = priced.spread,
                                                                          .standardTimes = {},
                                                                          .drift = {}});
        EXPECT_EQ(cell.floorUnreliable, c.unreliable) << c.what;
        ASSERT_TRUE(cell.floorRatioRange) << c.what;
        EXPECT_LE(cell.floorRatioRange->high, *cell.floorRatio + 1e-12) << c.what;
        EXPECT_NEAR(cell.floorRatioRange->low, 2.0 * *priced.ms / *c.highestMs, 1e-9) << c.what;
    }
    EXPECT_FALSE(PriceColumnFloor(Column::Cpu1Thread, DataType::INT, Distribution::Uniform, n, {}, {}).ms)
        << "no probe, no floor";
    EXPECT_FALSE(PriceColumnFloor(Column::Cpu1Thread, DataType::INT, Distribution::Uniform, n, {skipped}, {}).ms);
}
