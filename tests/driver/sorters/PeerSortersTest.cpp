#include "driver/sorters/PeerSorters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

#include "cpu_sort/SortKey.h"
#include "driver/measuring/KeyDistributions.h"
#include "driver/measuring/TestData.h"

namespace {

template <typename Element>
std::vector<Element> Drawn(Distribution distribution, std::uint64_t count) {
    ReseedTestData(23);
    AppCore::CharBuffer buffer;
    const Element* keys = GenerateKeys<Element>(distribution, count, buffer);
    return {keys, keys + count};
}

// Extremes, signed zeros, infinities, denormals and repeats, tiled and shuffled
// so that equal values lie far apart.
template <typename Element>
std::vector<Element> Specials() {
    using Limits = std::numeric_limits<Element>;
    std::vector<Element> base = {Limits::lowest(), Limits::max(), Element(0), Element(-1), Element(1), Element(1)};
    if constexpr (Limits::is_iec559)
        base.insert(base.end(), {Element(-0.0), Limits::infinity(), -Limits::infinity(), Limits::denorm_min(),
                                 -Limits::denorm_min(), Limits::min(), Element(-0.0)});
    std::vector<Element> values;
    for (int copy = 0; copy < 500; ++copy) values.insert(values.end(), base.begin(), base.end());
    std::shuffle(values.begin(), values.end(), std::mt19937_64(5));
    return values;
}

template <typename Element>
struct Case {
    const char* name;
    std::vector<Element> values;
};

template <typename Element>
std::vector<Case<Element>> Cases() {
    return {{"uniform", Drawn<Element>(Distribution::Uniform, 200000)},
            {"few-unique", Drawn<Element>(Distribution::FewUnique, 100000)},
            {"specials", Specials<Element>()},
            {"single", {Element(7)}},
            {"empty", {}}};
}

template <typename Element, typename Less>
std::vector<std::uint32_t> StableReference(const std::vector<Element>& values, Less less) {
    std::vector<std::uint32_t> indices(values.size());
    std::iota(indices.begin(), indices.end(), 0u);
    std::stable_sort(indices.begin(), indices.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return less(values[a], values[b]); });
    return indices;
}

template <typename Element>
class PeerSorters : public testing::Test {};
using ElementTypes = testing::Types<std::int32_t, float, std::int64_t, double>;
TYPED_TEST_SUITE(PeerSorters, ElementTypes);

}  // namespace

TYPED_TEST(PeerSorters, vqsort_orders_by_sort_key_then_index) {
    PeerScratch scratch;  // shared by all cases: the pair buffer shrinks and grows
    for (const auto& c : Cases<TypeParam>()) {
        SCOPED_TRACE(c.name);
        const std::uint64_t count = c.values.size();
        std::vector<std::uint32_t> indices(count);
        PeerVqsort(c.values.data(), count, indices.data(), scratch);
        EXPECT_EQ(indices, StableReference(c.values, [](TypeParam a, TypeParam b) {
                      return EvalCore::SortKey(a) < EvalCore::SortKey(b);
                  }));
        EXPECT_EQ(scratch.Bytes(), PeerScratchBytes(count, sizeof(TypeParam)));
    }
}

TYPED_TEST(PeerSorters, parallel_stable_sort_matches_sequential_stable_sort) {
    for (const auto& c : Cases<TypeParam>()) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint32_t> indices(c.values.size());
        PeerParallelStableSort(c.values.data(), c.values.size(), indices.data());
        EXPECT_EQ(indices, StableReference(c.values, [](TypeParam a, TypeParam b) { return a < b; }));
    }
}

TEST(PeerSorters, scratch_bytes_are_one_pair_per_record) {
    EXPECT_EQ(PeerScratchBytes(1000, 4), 8000u);
    EXPECT_EQ(PeerScratchBytes(1000, 8), 16000u);
    EXPECT_EQ(PeerScratchBytes(0, 8), 0u);
}
