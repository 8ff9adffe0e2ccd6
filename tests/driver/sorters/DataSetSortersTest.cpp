#include "driver/sorters/DataSetSorters.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "driver/measuring/KeyDistributions.h"
#include "driver/measuring/TestData.h"

namespace {

// A peer is checked against the copy of the radix permutation when the data
// set keeps one, and by the order of its keys otherwise: a copy spoiled after
// it was taken tells which check ran.
TEST(DataSetSorters, checks_a_peer_against_the_radix_permutation_only_when_it_is_kept) {
    constexpr std::uint64_t kCount = 5000;
    const struct {
        PeerCheck check;
        std::string problem;
    } cases[] = {
        {PeerCheck::RadixPermutation,
         "QA ERROR: Peer std-sort Results do not match CPU Results (first different at position 7)"},
        {PeerCheck::Order, ""},
    };
    for (const auto& c : cases) {
        AppCore::CharBuffer data;
        SorterWorkspace workspace;
        SorterTools tools = workspace.Tools();
        ReseedTestData(5);
        const auto* values = GenerateKeys<std::int32_t>(Distribution::Uniform, kCount, data);
        workspace.indices.Resize(kCount * sizeof(std::uint32_t));
        std::vector<Sorter> sorters =
            SortersFor({Column::Cpu1Thread, PeerColumn(Peer::StdSort)}, tools, values, kCount, {}, c.check);
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
            EXPECT_EQ(sorter.check(), c.problem);
        }
        ReleaseScratch(tools);
        EXPECT_EQ(workspace.peerReference.size, 0u);
    }
}

}  // namespace
