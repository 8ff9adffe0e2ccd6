#include "driver/machine/LimitsProbe.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <vector>

#include <gtest/gtest.h>

#include "driver/machine/AccessPatterns.h"

namespace {

constexpr std::uint64_t kKiB = 1024;
constexpr std::uint64_t kPlenty = std::uint64_t{1} << 40;

LimitsProbeOptions Tiny(unsigned cpus) {
    LimitsProbeOptions options;
    options.arrayBytes = {256 * kKiB, 64 * kKiB};
    options.repeats = 1;
    options.cpus = cpus;
    options.availableBytes = kPlenty;
    return options;
}

void ExpectPositiveAndFinite(const AccessRates& rates) {
    for (const double figure : {rates.copyBytes, rates.loads4, rates.loads8, rates.stores256, rates.stores65536,
                                rates.moves4, rates.moves8}) {
        EXPECT_GT(figure, 0);
        EXPECT_TRUE(std::isfinite(figure));
    }
}

TEST(LimitsProbe, measures_every_figure_at_every_size_on_one_thread_and_on_every_cpu) {
    const CpuLimits limits = ProbeCpuLimits(Tiny(2));
    ASSERT_TRUE(limits.Measured()) << limits.skipped;
    EXPECT_EQ(limits.cpus, 2u);
    EXPECT_EQ(limits.repeats, 1u);
    ASSERT_EQ(limits.arrays.size(), 2u);
    EXPECT_EQ(limits.arrays[0].arrayBytes, 64 * kKiB);
    EXPECT_EQ(limits.arrays[1].arrayBytes, 256 * kKiB);
    for (const ArrayLimits& array : limits.arrays) {
        ExpectPositiveAndFinite(array.oneThread);
        ExpectPositiveAndFinite(array.allCpus);
    }
}

TEST(LimitsProbe, on_one_cpu_the_all_cpu_figures_are_the_one_thread_figures) {
    const CpuLimits limits = ProbeCpuLimits(Tiny(1));
    ASSERT_TRUE(limits.Measured()) << limits.skipped;
    for (const ArrayLimits& array : limits.arrays) {
        EXPECT_EQ(array.allCpus.copyBytes, array.oneThread.copyBytes);
        EXPECT_EQ(array.allCpus.stores65536, array.oneThread.stores65536);
    }
}

TEST(LimitsProbe, takes_the_largest_size_four_times_and_an_index_array) {
    // Keys of 2 x 256 KiB, destination and slots of 256 KiB each, 64K positions.
    EXPECT_EQ(LimitsProbeBytes(Tiny(2)), 4 * 256 * kKiB + 65'536 * 4);
    LimitsProbeOptions large;
    large.arrayBytes = {std::uint64_t{1} << 30};
    EXPECT_EQ(LimitsProbeBytes(large), 4 * (std::uint64_t{1} << 30) + (std::uint64_t{1} << 20) * 4);
}

TEST(LimitsProbe, skips_with_one_line_when_the_budget_cannot_hold_its_buffers) {
    LimitsProbeOptions options = Tiny(2);
    options.availableBytes = LimitsProbeBytes(options) - 1;
    const CpuLimits limits = ProbeCpuLimits(options);
    EXPECT_FALSE(limits.Measured());
    EXPECT_TRUE(limits.arrays.empty());
    EXPECT_EQ(limits.skipped, "needs 2 MiB of memory, 1 MiB available");  // 1.25 MiB, rounded up and down
}

TEST(LimitsProbe, skips_sizes_out_of_range) {
    for (const std::uint64_t bytes : {std::uint64_t{4095}, std::uint64_t{4} << 30}) {
        LimitsProbeOptions options = Tiny(2);
        options.arrayBytes.push_back(bytes);
        const CpuLimits limits = ProbeCpuLimits(options);
        EXPECT_EQ(limits.skipped, "array sizes must lie between 4 KiB and 4 GiB") << bytes;
        EXPECT_EQ(LimitsProbeBytes(options), 0u);
    }
}

TEST(LimitsProbe, measures_a_data_set_at_its_own_index_array_and_its_wide_keys) {
    const DataSetLimits limits = ProbeDataSetLimits(16 * kKiB, Tiny(2));
    ASSERT_TRUE(limits.Measured()) << limits.skipped;
    EXPECT_EQ(limits.records, 16 * kKiB);
    EXPECT_EQ(limits.cpus, 2u);
    EXPECT_EQ(limits.indexArrays.arrayBytes, 64 * kKiB);
    ExpectPositiveAndFinite(limits.indexArrays.oneThread);
    ExpectPositiveAndFinite(limits.indexArrays.allCpus);
    EXPECT_EQ(limits.wideKeys.arrayBytes, 128 * kKiB);
    EXPECT_GT(limits.wideKeys.oneThread.copyBytes, 0);
    EXPECT_GT(limits.wideKeys.allCpus.copyBytes, 0);
    EXPECT_GT(limits.seconds, 0);
    EXPECT_EQ(limits.pairs.leafBytes, 0u) << "the pair figures only when asked";
}

// 16K records leave fewer destination lines per CPU than fronts: fronts wrap.
TEST(LimitsProbe, measures_the_pair_sorts_figures_in_a_leaf_of_its_bucket_target_when_asked) {
    LimitsProbeOptions options = Tiny(2);
    options.pairFigures = true;
    const DataSetLimits limits = ProbeDataSetLimits(16 * kKiB, options);
    ASSERT_TRUE(limits.Measured()) << limits.skipped;
    EXPECT_EQ(limits.pairs.leafBytes, 8192u * 8u);
    for (const PairRates& rates : {limits.pairs.oneThread, limits.pairs.allCpus}) {
        EXPECT_GT(rates.planned, 0);
        EXPECT_GT(rates.scattered, 0);
        EXPECT_GT(rates.counts, 0);
        EXPECT_GT(rates.moves, 0);
        EXPECT_TRUE(std::isfinite(rates.planned + rates.scattered + rates.counts + rates.moves));
    }
}

struct DataSetSkipCase {
    std::uint64_t records;
    std::uint64_t available;
    const char* skipped;
};

const DataSetSkipCase kDataSetSkipCases[] = {
    {1000, kPlenty, "index arrays must lie between 4 KiB and 4 GiB"},
    {std::uint64_t{1} << 30, kPlenty, "index arrays must lie between 4 KiB and 4 GiB"},
    // 16n and 1M positions' 4 MiB: 20 MiB
    {std::uint64_t{1} << 20, 20 * kKiB* kKiB - 1, "needs 20 MiB of memory, 19 MiB available"},
};

TEST(LimitsProbe, skips_a_data_set_too_small_too_large_or_beyond_the_budget) {
    for (const DataSetSkipCase& c : kDataSetSkipCases) {
        LimitsProbeOptions options = Tiny(2);
        options.availableBytes = c.available;
        const DataSetLimits limits = ProbeDataSetLimits(c.records, options);
        EXPECT_FALSE(limits.Measured()) << c.records;
        EXPECT_EQ(limits.records, c.records);
        EXPECT_EQ(limits.skipped, c.skipped) << c.records;
    }
    EXPECT_EQ(DataSetProbeBytes(std::uint64_t{1} << 20), 20 * kKiB * kKiB);
}

struct SlotCase {
    std::size_t count;
    std::size_t fronts;
    unsigned chunks;
};

const SlotCase kSlotCases[] = {{1, 256, 1}, {1000, 256, 1}, {100'000, 256, 2}, {100'000, 65'536, 2}, {7, 65'536, 3}};

TEST(AccessPatterns, front_slots_are_a_permutation_filled_downwards_per_chunk_and_front) {
    for (const SlotCase& c : kSlotCases) {
        std::vector<std::uint32_t> slots(c.count);
        AccessPatterns::LayOutFrontSlots(slots.data(), c.count, c.fronts, c.chunks, 7);
        std::vector<std::uint32_t> sorted = slots;
        std::sort(sorted.begin(), sorted.end());
        std::vector<std::uint32_t> identity(c.count);
        std::iota(identity.begin(), identity.end(), 0u);
        EXPECT_EQ(sorted, identity) << c.count << " entries, " << c.fronts << " fronts";
        // Within a chunk each front's slots are one run filled from its top,
        // so slot s + 1 is stored before slot s except where runs meet.
        std::vector<std::size_t> storedAt(c.count);
        for (std::size_t p = 0; p < c.count; ++p) storedAt[slots[p]] = p;
        for (unsigned chunk = 0; chunk < c.chunks; ++chunk) {
            const std::size_t first = AccessPatterns::ChunkStart(c.count, c.chunks, chunk);
            const std::size_t last = AccessPatterns::ChunkStart(c.count, c.chunks, chunk + 1);
            const auto inChunk = [&](std::size_t p) { return p >= first && p < last; };
            std::size_t runsMeet = 0;
            for (std::size_t s = 0; s + 1 < c.count; ++s)
                if (inChunk(storedAt[s]) && inChunk(storedAt[s + 1]) && storedAt[s + 1] < storedAt[s]) ++runsMeet;
            EXPECT_LT(runsMeet, c.fronts);
        }
    }
}

TEST(AccessPatterns, random_positions_stay_below_their_range_and_follow_the_seed) {
    std::vector<std::uint32_t> first(10'000), again(10'000), other(10'000);
    AccessPatterns::FillRandomPositions(first.data(), first.size(), 300, 1);
    AccessPatterns::FillRandomPositions(again.data(), again.size(), 300, 1);
    AccessPatterns::FillRandomPositions(other.data(), other.size(), 300, 2);
    EXPECT_EQ(first, again);
    EXPECT_NE(first, other);
    EXPECT_LT(*std::max_element(first.begin(), first.end()), 300u);
    EXPECT_GT(*std::max_element(first.begin(), first.end()), 290u);
}

}  // namespace
