#include "driver/sorters/PeerSorters.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cpu_sort/SortKey.h"
#include "driver/measuring/KeyDistributions.h"
#include "driver/measuring/TestData.h"
#include "driver/sorters/Peers.h"

namespace {

// Enough records that every parallel peer splits its work (sample_sort from
// 65,536, block_indirect_sort from 16,384 pairs of 8 bytes).
constexpr std::uint64_t kDrawnRecords = 100000;
// Not a power of two, and more than this machine may have, so that the parallel
// peers split unevenly and run more threads than cores.
constexpr unsigned kThreads = 3;

template <typename Element>
std::vector<Element> Drawn(Distribution distribution, std::uint64_t count) {
    ReseedTestData(23);
    AppCore::CharBuffer buffer;
    const Element* keys = GenerateKeys<Element>(distribution, count, buffer);
    return {keys, keys + count};
}

// Extremes, signed zeros, infinities, denormals, NaNs of both signs and two
// payloads, and repeats, tiled and shuffled so that equal values lie far apart.
template <typename Element>
std::vector<Element> Specials() {
    using Limits = std::numeric_limits<Element>;
    std::vector<Element> base = {Limits::lowest(), Limits::max(), Element(0), Element(-1), Element(1), Element(1)};
    if constexpr (Limits::is_iec559) {
        base.insert(base.end(), {Element(-0.0), Limits::infinity(), -Limits::infinity(), Limits::denorm_min(),
                                 -Limits::denorm_min(), Limits::min(), Element(-0.0), Limits::quiet_NaN(),
                                 -Limits::quiet_NaN(), Limits::signaling_NaN(), -Limits::signaling_NaN()});
    }
    std::vector<Element> values;
    for (int copy = 0; copy < 500; ++copy) values.insert(values.end(), base.begin(), base.end());
    std::shuffle(values.begin(), values.end(), std::mt19937_64(5));
    return values;
}

template <typename Element>
struct Case {
    std::string name;
    std::vector<Element> values;
};

// Every key distribution the driver draws, then the edges.
template <typename Element>
std::vector<Case<Element>> Cases() {
    std::vector<Case<Element>> cases;
    for (const Distribution distribution : AllDistributions())
        cases.push_back({DistributionName(distribution), Drawn<Element>(distribution, kDrawnRecords)});
    cases.push_back({"specials", Specials<Element>()});
    cases.push_back({"empty", {}});
    cases.push_back({"single", {Element(7)}});
    cases.push_back({"two descending", {Element(7), Element(-7)}});
    cases.push_back({"two equal", {Element(7), Element(7)}});
    cases.push_back({"extremes", {std::numeric_limits<Element>::max(), std::numeric_limits<Element>::lowest()}});
    return cases;
}

template <typename Element, typename Less>
std::vector<std::uint32_t> StableReference(const std::vector<Element>& values, Less less) {
    std::vector<std::uint32_t> indices(values.size());
    std::iota(indices.begin(), indices.end(), 0u);
    std::stable_sort(indices.begin(), indices.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return less(values[a], values[b]); });
    return indices;
}

// The permutation our radix sorters give: ascending sort keys, ties by index.
template <typename Element>
std::vector<std::uint32_t> OurPermutation(const std::vector<Element>& values) {
    return StableReference(values, [](Element a, Element b) { return EvalCore::SortKey(a) < EvalCore::SortKey(b); });
}

template <typename Element>
class PeerSorters : public testing::Test {};
using ElementTypes = testing::Types<std::int32_t, float, std::int64_t, double>;
TYPED_TEST_SUITE(PeerSorters, ElementTypes);

}  // namespace

TYPED_TEST(PeerSorters, every_peer_gives_our_permutation_on_every_distribution_and_edge) {
    PeerScratch scratch;  // shared by every peer and case, as in a run
    for (const auto& c : Cases<TypeParam>()) {
        const std::vector<std::uint32_t> expected = OurPermutation(c.values);
        for (const PeerFacts& peer : kPeers) {
            SCOPED_TRACE(std::string(peer.name) + " on " + c.name);
            std::vector<std::uint32_t> indices(c.values.size());
            SortOf<TypeParam>(peer)(c.values.data(), c.values.size(), indices.data(), scratch, kThreads);
            const auto differs = std::mismatch(indices.begin(), indices.end(), expected.begin()).first;
            EXPECT_EQ(differs, indices.end())
                << "first difference at position " << differs - indices.begin() << " of " << indices.size();
            if (peer.sortsPairs) {
                EXPECT_EQ(scratch.Bytes(), PeerPairBytes(c.values.size(), sizeof(TypeParam)));
            }
        }
    }
}

TYPED_TEST(PeerSorters, vqsort_orders_by_sort_key_then_index) {
    PeerScratch scratch;  // shared by all cases: the pair buffer shrinks and grows
    for (const auto& c : Cases<TypeParam>()) {
        SCOPED_TRACE(c.name);
        const std::uint64_t count = c.values.size();
        std::vector<std::uint32_t> indices(count);
        PeerVqsort(c.values.data(), count, indices.data(), scratch, 1);
        EXPECT_EQ(indices, OurPermutation(c.values));
        EXPECT_EQ(scratch.Bytes(), PeerPairBytes(count, sizeof(TypeParam)));
    }
}

// Compared by sort keys rather than by <, so that -0 comes before +0 as in
// our permutation.
TYPED_TEST(PeerSorters, parallel_stable_sort_matches_sequential_stable_sort) {
    PeerScratch scratch;
    for (const auto& c : Cases<TypeParam>()) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint32_t> indices(c.values.size());
        PeerParallelStableSort(c.values.data(), c.values.size(), indices.data(), scratch, kThreads);
        EXPECT_EQ(indices, OurPermutation(c.values));
        EXPECT_EQ(scratch.Bytes(), 0u);
    }
}

TEST(PeerSorters, scratch_bytes_are_one_pair_per_record) {
    EXPECT_EQ(PeerPairBytes(1000, 4), 8000u);
    EXPECT_EQ(PeerPairBytes(1000, 8), 16000u);
    EXPECT_EQ(PeerPairBytes(0, 8), 0u);
    // The pairs are part of what a pair-sorting peer needs; the index sort needs none.
    for (const PeerFacts& peer : kPeers) {
        SCOPED_TRACE(peer.name);
        EXPECT_GE(PeerScratchBytes(peer.peer, 1000, 4), peer.sortsPairs ? PeerPairBytes(1000, 4) : 0u);
        EXPECT_GE(PeerScratchBytes(peer.peer, 1000, 8), peer.sortsPairs ? PeerPairBytes(1000, 8) : 0u);
    }
}
