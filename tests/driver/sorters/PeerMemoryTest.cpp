#include "driver/sorters/PeerMemory.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cpu_sort/pairs/PairRadixSorter.h"
#include "driver/measuring/MemoryBudget.h"
#include "strings/MemoryText.h"

namespace {

// The names of the skipped peers, in order.
std::vector<std::string> Skipped(const std::vector<Column>& columns, std::uint64_t keyBytes, std::uint64_t freeBytes) {
    std::vector<std::string> names;
    for (const SkippedColumn& skipped : PeersBeyondMemory(columns, 1000, keyBytes, freeBytes))
        names.emplace_back(FactsOf(PeerOf(skipped.column)).name);
    return names;
}

using Names = std::vector<std::string>;

}  // namespace

// 1000 records: 8,000 bytes of pairs for 4-byte keys, 16,000 for 8-byte keys.
TEST(PeerMemory, peers_run_in_column_order_while_the_pairs_and_the_largest_temporary_fit) {
    const std::vector<Column> every = RunColumns(false, true);
    const struct {
        const char* what;
        std::uint64_t keyBytes;
        std::uint64_t freeBytes;
        Names skipped;
    } cases[] = {
        {"room for all", 4, 1 << 20, {}},
        {"no room",
         4,
         0,
         {"vqsort", "std-sort", "pdqsort", "spreadsort", "spinsort", "tbb", "std-sort-par", "block-indirect",
          "sample-sort", "gnu-parallel", "std-stable-sort-par"}},
        // The pairs and spinsort's half a pair a record; the index sort's buffer and what it leaks are not.
        {"12 bytes a record", 4, 12000, {"std-sort-par", "sample-sort", "gnu-parallel", "std-stable-sort-par"}},
        // Spinsort does not fit, and the pairs kept for the others leave the index sort no room.
        {"11 bytes a record",
         4,
         11000,
         {"spinsort", "std-sort-par", "sample-sort", "gnu-parallel", "std-stable-sort-par"}},
        // 1,000,000,000 BIGINT keys beside 24 GiB: no room for 16-byte pairs, nor for the index sort's
        // buffer and what its two sorts leak.
        {"8-byte keys, 10 bytes a record",
         8,
         10000,
         {"vqsort", "std-sort", "pdqsort", "spreadsort", "spinsort", "tbb", "std-sort-par", "block-indirect",
          "sample-sort", "gnu-parallel", "std-stable-sort-par"}},
    };
    for (const auto& c : cases) EXPECT_EQ(Skipped(every, c.keyBytes, c.freeBytes), c.skipped) << c.what;
}

TEST(PeerMemory, only_the_peers_of_the_run_count_and_only_peers_are_skipped) {
    // Alone, the index sort fits where it did not beside the pair sorts: its buffer and what its
    // warm-up and timed sort leak; with the seven sorts of -R auto's fewest rounds it leaks more.
    EXPECT_EQ(Skipped(RunColumns(true, {Peer::ParallelStableSort}), 4, 16000), Names{});
    EXPECT_EQ(PeersBeyondMemory(RunColumns(true, {Peer::ParallelStableSort}), 1000, 4, 16000, 7).size(), 1u);
    EXPECT_EQ(Skipped(RunColumns(true, std::vector<Peer>{}), 4, 0), Names{});
    const std::vector<SkippedColumn> skipped =
        PeersBeyondMemory(RunColumns(false, {Peer::Vqsort, Peer::ParallelStableSort}), 1000, 4, 9000);
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(skipped[0].column, PeerColumn(Peer::ParallelStableSort));
    EXPECT_EQ(skipped[0].reason,
              "needs 23.4 KiB beside the data set with the pairs of the peers before it, 8.8 KiB free");
}

TEST(PeerMemory, the_leaking_peers_bound_the_sorts_by_what_is_left_after_their_counted_ones) {
    // 1000 records of 4-byte keys, two sorts counted. The parallel stable sort holds 8,000 bytes and
    // loses 4,000 a sort (16,000 counted); beside std-sort-par (8,000 of pairs and 12,000 more, 4,000 a
    // sort) the two need 36,000 and lose 8,000 a sort.
    const std::vector<Column> stable = RunColumns(false, {Peer::ParallelStableSort});
    const std::vector<Column> both = RunColumns(false, {Peer::StdSortPar, Peer::ParallelStableSort});
    const struct {
        const char* what;
        std::vector<Column> columns;
        std::uint64_t freeBytes;
        std::uint64_t mostSorts;
    } cases[] = {
        {"no peer leaks", RunColumns(false, {Peer::Vqsort, Peer::Tbb}), 1 << 20, UINT64_MAX},
        {"room for the counted sorts only", stable, 16000, 2},
        {"room for three more and a little", stable, 28100, 5},
        {"two leaking peers, room for the counted sorts", both, 36000, 2},
        {"two leaking peers, room for two more and a little", both, 59999, 4},
    };
    for (const auto& c : cases) EXPECT_EQ(MostSortsOfPeers(c.columns, 1000, 4, c.freeBytes, 2), c.mostSorts) << c.what;
}

TEST(PeerMemory, pair_columns_come_first_and_hold_their_scratch_beside_the_peers_only_across_rounds) {
    // 1000 records of 4-byte keys, the all-CPU column on 2 threads; vqsort needs its 8,000 bytes of pairs.
    const std::uint64_t scratch = std::max(EvalCore::PairRadixSorter::ScratchBytes(1000, 4, 1),
                                           EvalCore::PairRadixSorter::ScratchBytes(1000, 4, 2));
    const std::vector<Column> columns = RunColumns(false, {Peer::Vqsort}, true);
    const PairScratchUse rounds{.everyCpu = 2, .freedBeforePeers = false};
    const PairScratchUse once{.everyCpu = 2, .freedBeforePeers = true};
    const auto skipped = [&](std::uint64_t freeBytes, PairScratchUse use) {
        std::vector<Column> found;
        for (const SkippedColumn& s : PeersBeyondMemory(columns, 1000, 4, freeBytes, 2, use)) found.push_back(s.column);
        return found;
    };
    const std::vector<Column> none;
    const std::vector<Column> vqsort{PeerColumn(Peer::Vqsort)};
    const std::vector<Column> all{Column::PairRadix1Thread, Column::PairRadixAllCpus, PeerColumn(Peer::Vqsort)};
    const struct {
        const char* what;
        std::uint64_t freeBytes;
        PairScratchUse use;
        std::vector<Column> skipped;
    } cases[] = {
        {"room for all across rounds", scratch + 8000, rounds, none},
        {"a byte short: the peer goes, the pair columns keep their place", scratch + 7999, rounds, vqsort},
        {"one repetition frees the scratch before the peer", std::max<std::uint64_t>(scratch, 8000), once, none},
        {"no room", 0, rounds, all},
    };
    for (const auto& c : cases) EXPECT_EQ(skipped(c.freeBytes, c.use), c.skipped) << c.what;
    const std::vector<SkippedColumn> short1 = PeersBeyondMemory(columns, 1000, 4, scratch + 7999, 2, rounds);
    ASSERT_EQ(short1.size(), 1u);
    EXPECT_EQ(short1[0].reason, "needs " + SLib::MemoryText(scratch + 8000) +
                                    " beside the data set with the pair columns' scratch, " +
                                    SLib::MemoryText(scratch + 7999) + " free");
    // -S1B -PAIRS on a 24 GiB machine, about 23 GB available: the pair columns of 4-byte keys must run.
    constexpr std::uint64_t kBillion = 1'000'000'000;
    EXPECT_TRUE(PeersBeyondMemory(RunColumns(false, std::vector<Peer>{}, true), kBillion, 4,
                                  23'000'000'000 - DataSetPeakBytes(kBillion, 4), 2, once)
                    .empty());
}

TEST(PeerMemory, pair_columns_count_the_pairs_the_keys_take) {
    // 750M 8-byte keys beside about 23 GB: 11 GB free, 6 GB of 8-byte pairs, 12 GB of 16-byte ones.
    constexpr std::uint64_t kCount = 750'000'000;
    const std::uint64_t freeBytes = 23'000'000'000 - DataSetPeakBytes(kCount, 8);
    const std::vector<Column> columns = RunColumns(false, std::vector<Peer>{}, true);
    const struct {
        const char* what;
        unsigned pairBytes;
        std::size_t skipped;
    } cases[] = {
        {"a narrow range: 8-byte pairs fit", 8, 0},
        {"a wide range: 16-byte pairs do not", 16, 2},
        {"not known: the most the width may take", 0, 2},
    };
    for (const auto& c : cases) {
        const PairScratchUse use{.everyCpu = 2, .freedBeforePeers = true, .pairBytes = c.pairBytes};
        EXPECT_EQ(PeersBeyondMemory(columns, kCount, 8, freeBytes, 2, use).size(), c.skipped) << c.what;
    }
}
