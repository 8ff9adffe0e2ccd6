#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SortReference.h"
#include "cpu_sort/pairs/PairFormat.h"
#include "cpu_sort/pairs/PairRadixSorter.h"

using namespace SortTest;
using EvalCore::PairDetail::kInsertionPairs;
using EvalCore::PairDetail::LeafMaxPairs;

namespace {

const std::vector<unsigned> kThreads{1, 2, 3, 8};

// The most pairs sorted in cache: 4-byte keys and 8-byte keys of a narrow
// range travel as 8-byte pairs, random 8-byte keys as 16-byte ones.
template <class Value>
constexpr unsigned long kLeafMax = LeafMaxPairs(sizeof(Value) == 4 ? 8 : 16);

template <class Value>
class PairRadixSort : public ::testing::Test {};
using ValueTypes = ::testing::Types<int, float, long, double>;
TYPED_TEST_SUITE(PairRadixSort, ValueTypes);

// Sorts `values` on every thread count with one sorter (its scratch reused
// across sizes and thread counts) and compares each permutation with the
// reference; the scratch never exceeds what ScratchBytes promised.
template <class Value>
void ExpectReference(EvalCore::PairRadixSorter& sorter, const std::vector<Value>& values, std::uint64_t seed,
                     const std::string& what) {
    const std::vector<unsigned> expected = Reference(values, Identity(values.size()));
    for (unsigned threads : kThreads) {
        EvalCore::PairRadixSorter fresh;
        std::vector<unsigned> indices(values.size(), 7u);
        fresh.Sort(values.data(), values.size(), indices.data(), threads);
        EXPECT_TRUE(SamePermutation<Value>(indices, expected, seed, what + ", threads " + std::to_string(threads)));
        EXPECT_LE(fresh.Bytes(), EvalCore::PairRadixSorter::ScratchBytes(values.size(), sizeof(Value), threads));
        std::fill(indices.begin(), indices.end(), 7u);
        sorter.Sort(values.data(), values.size(), indices.data(), threads);
        EXPECT_TRUE(
            SamePermutation<Value>(indices, expected, seed, what + ", reused, threads " + std::to_string(threads)));
    }
}

// The shapes of the driver's key distributions, drawn from `seed`: keys below
// 2^24 in magnitude for the ordered and repeated shapes, a heavy-headed
// 1/rank law over 65,536 values, and bits set with probability 1/8.
enum class Shape { Uniform, Sorted, Reverse, NearlySorted, FewUnique, Equal, Zipf, Skewed };
const Shape kShapes[] = {Shape::Uniform,   Shape::Sorted, Shape::Reverse, Shape::NearlySorted,
                         Shape::FewUnique, Shape::Equal,  Shape::Zipf,    Shape::Skewed};

template <class Value>
std::vector<Value> ShapedValues(Shape shape, unsigned long n, std::uint64_t seed) {
    using Bits = std::conditional_t<sizeof(Value) == 4, std::uint32_t, std::uint64_t>;
    std::mt19937_64 random(seed);
    const auto draw = [&random] { return static_cast<Value>(static_cast<double>(random() % 33'554'431) - 16'777'215); };
    std::vector<Value> values(n);
    std::vector<Value> table(shape == Shape::FewUnique ? 16 : 65'536);
    for (Value& value : table) value = draw();
    for (Value& value : values) {
        switch (shape) {
        case Shape::FewUnique: value = table[random() % 16]; break;
        case Shape::Equal: value = table[0]; break;
        case Shape::Zipf:
            value = table[std::min<std::uint64_t>(65'535, 1.0 / std::ldexp(random() >> 11, -53) - 1)];
            break;
        case Shape::Skewed: {
            Value candidate;
            do candidate = std::bit_cast<Value>(static_cast<Bits>(random() & random() & random()));
            while (!std::isfinite(static_cast<double>(candidate)));
            value = candidate;
            break;
        }
        default: value = draw();
        }
    }
    if (shape == Shape::Sorted || shape == Shape::NearlySorted) std::sort(values.begin(), values.end());
    if (shape == Shape::Reverse) std::sort(values.rbegin(), values.rend());
    if (shape == Shape::NearlySorted)
        for (unsigned long s = 0; s < n / 100; ++s) std::swap(values[random() % n], values[random() % n]);
    return values;
}

TYPED_TEST(PairRadixSort, matches_reference_for_every_distribution) {
    EvalCore::PairRadixSorter sorter;
    for (Shape shape : kShapes) {
        const auto values = ShapedValues<TypeParam>(shape, kLargeCount, static_cast<unsigned>(shape));
        ExpectReference(sorter, values, static_cast<unsigned>(shape),
                        "shape " + std::to_string(static_cast<int>(shape)));
    }
}

TYPED_TEST(PairRadixSort, matches_reference_at_edge_sizes) {
    // Random bit patterns (NaNs, infinities and denormals among the floats;
    // full-range 8-byte keys travel as 16-byte pairs) around the insertion,
    // leaf and write-combining line sizes.
    const std::vector<unsigned long> sizes{0,
                                           1,
                                           2,
                                           kInsertionPairs,
                                           kInsertionPairs + 1,
                                           kLeafMax<TypeParam> - 1,
                                           kLeafMax<TypeParam>,
                                           kLeafMax<TypeParam> + 1,
                                           kLeafMax<TypeParam> + 7,
                                           kSanitized ? kLeafMax<TypeParam> + 9 : (1ul << 20) + 7};
    EvalCore::PairRadixSorter sorter;
    for (unsigned long n : sizes) ExpectReference(sorter, RandomValues<TypeParam>(n, n), n, "random bits");
}

TYPED_TEST(PairRadixSort, orders_extremes_and_special_values) {
    using Limits = std::numeric_limits<TypeParam>;
    std::vector<TypeParam> specials{Limits::lowest(), Limits::max(), Limits::min(),
                                    TypeParam(0),     TypeParam(1),  TypeParam(-1)};
    if constexpr (!std::is_integral_v<TypeParam>) {
        const TypeParam nan = Limits::quiet_NaN();
        specials.insert(specials.end(),
                        {TypeParam(-0.0), Limits::infinity(), -Limits::infinity(), nan, -nan, Limits::signaling_NaN(),
                         -Limits::signaling_NaN(), Limits::denorm_min(), -Limits::denorm_min()});
    }
    std::mt19937_64 random(5);
    EvalCore::PairRadixSorter sorter;
    for (unsigned long n : {specials.size(), kLeafMax<TypeParam> + 3}) {
        std::vector<TypeParam> values(n);
        for (TypeParam& value : values) value = specials[random() % specials.size()];
        ExpectReference(sorter, values, 5, "special values");
    }
}

TYPED_TEST(PairRadixSort, splits_a_bucket_that_holds_nearly_every_key) {
    // All keys but one within 2^16 units of the last place of 1 and one at the
    // top of the type: the plan digit puts nearly every key in one or two
    // buckets, which are split again; then the same with 8 distinct keys,
    // whose sub-buckets are one key each.
    EvalCore::PairRadixSorter sorter;
    const TypeParam unit = std::is_integral_v<TypeParam> ? 1 : std::numeric_limits<TypeParam>::epsilon();
    for (unsigned distinct : {1u << 16, 8u}) {
        std::mt19937_64 random(distinct);
        std::vector<TypeParam> values((kSanitized ? 2 : 4) * kLeafMax<TypeParam> + 1);
        for (TypeParam& value : values) value = 1 + static_cast<TypeParam>(random() % distinct) * unit;
        values[values.size() / 2] = std::numeric_limits<TypeParam>::max();
        ExpectReference(sorter, values, distinct, "one heavy bucket");
    }
}

// Three quarters of the keys in one plan digit, more than a leaf: the
// large-bucket path, whose time is kept apart.
TEST(PairRadixSortPhases, timing_the_phases_leaves_the_permutation_unchanged) {
    std::vector<int> values = RandomValues<int>(kLeafMax<int> * 2, 11);
    const std::size_t heavy = values.size() / 4 * 3;
    for (std::size_t i = 0; i < heavy; ++i) values[i] = static_cast<int>(i % 65536);
    std::vector<unsigned> plain(values.size()), timed(values.size());
    EvalCore::PairRadixSorter sorter;
    sorter.Sort(values.data(), values.size(), plain.data(), 1);
    EvalCore::PairPhaseSeconds phases;
    sorter.TimePhases(&phases);
    sorter.Sort(values.data(), values.size(), timed.data(), 1);
    sorter.TimePhases(nullptr);
    EXPECT_EQ(timed, plain);
    EXPECT_GT(phases.largeBucketPairs, kLeafMax<int>);
    EXPECT_GE(phases.buckets, phases.largeBuckets);
    EXPECT_GT(phases.range + phases.plan + phases.scatter + phases.buckets, 0.0);
    const EvalCore::PairPhaseSeconds untouched = phases;
    sorter.Sort(values.data(), values.size(), timed.data(), 1);
    EXPECT_EQ(phases.buckets, untouched.buckets) << "no longer timed";
}

TEST(PairRadixSortScratch, pair_bytes_follow_the_keys_range) {
    using EvalCore::PairRadixSorter;
    const std::int64_t narrow[] = {-5, std::int64_t{0xFFFFFFFF} - 5};
    const std::int64_t wide[] = {-5, std::int64_t{0xFFFFFFFF} - 4};
    const double doubles[] = {-1.0, 1.0};  // far apart in sort-key bits
    const float floats[] = {-1.0f, 1.0f};
    EXPECT_EQ(PairRadixSorter::PairBytes(narrow, 2), 8u);
    EXPECT_EQ(PairRadixSorter::PairBytes(wide, 2), 16u);
    EXPECT_EQ(PairRadixSorter::PairBytes(doubles, 2), 16u);
    EXPECT_EQ(PairRadixSorter::PairBytes(floats, 2), 8u);
    EXPECT_EQ(PairRadixSorter::ScratchBytesOfPairs(1'000'000, 16, 2), PairRadixSorter::ScratchBytes(1'000'000, 8, 2));
    EXPECT_EQ(PairRadixSorter::ScratchBytesOfPairs(1'000'000, 8, 2), PairRadixSorter::ScratchBytes(1'000'000, 4, 2));
}

TEST(PairRadixSortScratch, release_frees_the_scratch) {
    EvalCore::PairRadixSorter sorter;
    const auto values = RandomValues<int>(kLeafMax<int> * 2, 3);
    std::vector<unsigned> indices(values.size());
    sorter.Sort(values.data(), values.size(), indices.data(), 2);
    EXPECT_GT(sorter.Bytes(), 8 * values.size());
    sorter.Release();
    EXPECT_EQ(sorter.Bytes(), 0u);
}

}  // namespace
