#include "driver/sorters/DataSetSorters.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "driver/measuring/KeyDistributions.h"
#include "driver/measuring/TestData.h"

namespace {

// A peer or a pair column is checked against the copy of the radix
// permutation when the data set keeps one, and by the order of its keys
// otherwise: a copy spoiled after it was taken tells which check ran.
TEST(DataSetSorters, checks_a_peer_or_pair_column_against_the_radix_permutation_only_when_it_is_kept) {
    constexpr std::uint64_t kCount = 5000;
    const struct {
        Column checked;
        PeerCheck check;
        std::string problem;
    } cases[] = {
        {PeerColumn(Peer::StdSort), PeerCheck::RadixPermutation,
         "QA ERROR: Peer std-sort Results do not match CPU Results (first different at position 7)"},
        {PeerColumn(Peer::StdSort), PeerCheck::Order, ""},
        {Column::PairRadixAllCpus, PeerCheck::RadixPermutation,
         "QA ERROR: Pair Radix All CPUs Results do not match CPU Results (first different at position 7)"},
        {Column::PairRadix1Thread, PeerCheck::Order, ""},
    };
    for (const auto& c : cases) {
        AppCore::CharBuffer data;
        SorterWorkspace workspace;
        SorterTools tools = workspace.Tools(nullptr, false, 2);
        ReseedTestData(5);
        const auto* values = GenerateKeys<std::int32_t>(Distribution::Uniform, kCount, data);
        workspace.indices.Resize(kCount * sizeof(std::uint32_t));
        std::vector<Sorter> sorters = SortersFor({Column::Cpu1Thread, c.checked}, tools, values, kCount, {}, c.check);
        ASSERT_EQ(sorters.size(), 2u);
        for (Sorter& sorter : sorters) {
            ASSERT_TRUE(sorter.warmUp());
            ASSERT_TRUE(sorter.timed());
            if (&sorter == &sorters.front()) {
                if (sorter.check) {
                    EXPECT_EQ(sorter.check(), "");
                }
                if (c.check == PeerCheck::RadixPermutation) {
                    ASSERT_EQ(workspace.peerReference.size, workspace.indices.size);
                    auto* copy = reinterpret_cast<std::uint32_t*>(workspace.peerReference.data);
                    std::swap(copy[7], copy[8]);
                }
                continue;
            }
            EXPECT_EQ(sorter.check(), c.problem) << FactsOf(c.checked).name;
        }
        // With one repetition the last pair column frees its scratch before the peers sort.
        if (FactsOf(c.checked).sorter == ColumnSorter::PairSort) {
            EXPECT_GT(workspace.pairs.Bytes(), 0u);
            ASSERT_TRUE(sorters.back().afterSingleRun);
            sorters.back().afterSingleRun();
            EXPECT_EQ(workspace.pairs.Bytes(), 0u);
        }
        ReleaseScratch(tools);
        EXPECT_EQ(workspace.peerReference.size, 0u);
    }
}

}  // namespace
