#include <cmath>
#include <new>
#include <numeric>
#include <stdexcept>
#include <system_error>

#include <gtest/gtest.h>

#include "SortReference.h"
#include "cpu_sort/DigitPairCounts.h"
#include "cpu_sort/WorkerThreads.h"

using namespace SortTest;

namespace {

// Thread counts that exercise the single-threaded path (-1: four-argument
// entry, 0, 1), even and odd worker counts, and more workers than entries;
// sanitized builds take a sample.
const std::vector<long> kThreadCounts =
    kSanitized ? std::vector<long>{-1, 0, 1, 2, 3, 7, 16} : std::vector<long>{-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 16};

template <class Value>
class IndexRadixSort : public ::testing::Test {};
using ValueTypes = ::testing::Types<int, float, long, double>;
TYPED_TEST_SUITE(IndexRadixSort, ValueTypes);

// Sorts `values` through `start` with every thread count and compares each
// result with the reference.
template <class Value>
void ExpectReferenceForEveryThreadCount(const std::vector<Value>& values, const std::vector<unsigned>& start,
                                        bool initIndices, std::uint64_t seed) {
    const std::vector<unsigned> expected = Reference(values, initIndices ? Identity(start.size()) : start);
    SorterFor<Value> sorter(0);
    for (long threads : kThreadCounts) {
        std::vector<unsigned> indices = initIndices ? std::vector<unsigned>(start.size(), 7u) : start;
        RunSorter(sorter, values, indices, initIndices, threads);
        EXPECT_TRUE(SamePermutation<Value>(indices, expected, seed, "threads " + std::to_string(threads)));
    }
}

TYPED_TEST(IndexRadixSort, matches_reference_for_every_size_and_thread_count) {
    const std::vector<unsigned long> sizes =
        kSanitized ? std::vector<unsigned long>{0, 1, 2, 3, 13, 257, 65'537, kLargeCount}
                   : std::vector<unsigned long>{0, 1, 2, 3, 5, 7, 13, 31, 257, 65'537, kLargeCount};
    for (unsigned long n : sizes) {
        const auto values = RandomValues<TypeParam>(n, n);
        ExpectReferenceForEveryThreadCount(values, std::vector<unsigned>(n), true, n);
    }
}

TYPED_TEST(IndexRadixSort, sorts_given_positions_when_not_initialising) {
    // A subset of a larger array, with repeats, in random order.
    const std::uint64_t seed = 42;
    const auto values = RandomValues<TypeParam>(4'099, seed);
    std::mt19937_64 random(seed);
    std::vector<unsigned> start(3'001);
    for (unsigned& entry : start) entry = random() % values.size();
    ExpectReferenceForEveryThreadCount(values, start, false, seed);
}

TYPED_TEST(IndexRadixSort, keeps_starting_order_of_equal_keys) {
    const std::vector<TypeParam> values(1'000, TypeParam(3));
    std::vector<unsigned> start(values.size());
    std::iota(start.rbegin(), start.rend(), 0u);
    ExpectReferenceForEveryThreadCount(values, start, false, 0);
}

TYPED_TEST(IndexRadixSort, sorts_keys_differing_only_in_top_digit) {
    // Every lower digit is equal, so only the last pass orders them.
    const TypeParam high = sizeof(TypeParam) == 4 ? TypeParam(1 << 24) : TypeParam(1l << 48);
    std::vector<TypeParam> values;
    for (int i = 0; i < 40; ++i) values.push_back(i % 3 == 0 ? high : i % 3 == 1 ? TypeParam(0) : -high);
    ExpectReferenceForEveryThreadCount(values, std::vector<unsigned>(values.size()), true, 0);
}

// Keys built from 32-bit patterns whose digits are shared in different ways,
// so that runs of one digit cover whole chunks of the next pass, or cross
// their bounds, in every pass.
template <class Value>
std::vector<std::vector<Value>> SkewedValues32(unsigned long n, std::uint64_t seed) {
    std::mt19937_64 random(seed);
    const auto fromBits = [](std::uint32_t bits) {
        Value value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    };
    std::vector<std::vector<Value>> sets(4, std::vector<Value>(n));
    for (unsigned long i = 0; i < n; ++i) {
        const auto bits = static_cast<std::uint32_t>(random());
        sets[0][i] = fromBits(0x12FFFFFFu);  // one run, of the last digit
        sets[1][i] = fromBits(std::uint32_t{0x01020304u} + (i % 3 == 2 ? 0xFE000000u : i % 3));
        sets[2][i] = fromBits((bits << 16) | 0xABCDu);
        sets[3][i] = fromBits(0x3F7F0000u | (bits & 0x1FFu));
    }
    return sets;
}

template <class Value>
void ExpectReferenceForSkewedKeys() {
    // Sizes at which two workers, and in unsanitized builds up to five,
    // count digit pairs.
    using EvalCore::Detail::PairCountsPayOff;
    std::vector<unsigned long> sizes = {2 * 2 * EvalCore::Detail::kPairTable + 5};
    if (!kSanitized) sizes.push_back(5 * 2 * EvalCore::Detail::kPairTable + 3);
    ASSERT_TRUE(PairCountsPayOff(sizes.front(), 2));
    ASSERT_TRUE(PairCountsPayOff(sizes.back(), kSanitized ? 2 : 5));
    for (unsigned long n : sizes) {
        const auto sets = SkewedValues32<Value>(n, n);
        std::mt19937_64 random(n);
        std::vector<unsigned> positions(n - 11);
        for (unsigned& entry : positions) entry = random() % n;
        SorterFor<Value> sorter(0);
        for (std::size_t set = 0; set < sets.size(); ++set) {
            const std::vector<unsigned> expected = Reference(sets[set], Identity(n));
            const std::vector<unsigned> expectedGiven = Reference(sets[set], positions);
            for (long threads : kSanitized ? std::vector<long>{2} : std::vector<long>{2, 3, 5}) {
                const std::string what = "set " + std::to_string(set) + ", threads " + std::to_string(threads);
                std::vector<unsigned> indices(n, 1u);
                RunSorter(sorter, sets[set], indices, true, threads);
                EXPECT_TRUE(SamePermutation<Value>(indices, expected, n, what));
                indices = positions;
                RunSorter(sorter, sets[set], indices, false, threads);
                EXPECT_TRUE(SamePermutation<Value>(indices, expectedGiven, n, what + ", given positions"));
            }
        }
    }
}

TEST(IndexRadixSortSkewedKeys, integers_sharing_digits_across_chunks) { ExpectReferenceForSkewedKeys<int>(); }

TEST(IndexRadixSortSkewedKeys, floats_sharing_digits_across_chunks) { ExpectReferenceForSkewedKeys<float>(); }

TEST(IndexRadixSortSkewedKeys, wide_keys_with_few_digit_values_on_two_workers) {
    // Two workers take each later pass's counts from the previous scatter at
    // this size; these keys leave one to three values in most digits, so whole
    // passes land in one counter and runs cross the chunk bound.
    const unsigned long n = 4 * 65'536 + 5;
    std::mt19937_64 random(n);
    std::vector<std::vector<long>> sets(3, std::vector<long>(n));
    for (unsigned long i = 0; i < n; ++i) {
        sets[0][i] = 0x12'3456'789A'BCDEl;
        sets[1][i] = static_cast<long>(random() % 33'554'431) - 16'777'215;  // below 2^24 in magnitude
        sets[2][i] = (i % 3 == 0 ? -1l : static_cast<long>(i % 3)) << 48;
    }
    SorterFor<long> sorter(0);
    for (std::size_t set = 0; set < sets.size(); ++set) {
        std::vector<unsigned> indices(n);
        RunSorter(sorter, sets[set], indices, true, 2);
        EXPECT_TRUE(SamePermutation<long>(indices, Reference(sets[set], Identity(n)), n, "set " + std::to_string(set)));
    }
}

TYPED_TEST(IndexRadixSort, empty_input_changes_nothing) {
    SorterFor<TypeParam> sorter(5);
    const char* scratch = sorter.indexScratch.data;
    std::vector<TypeParam> values;
    std::vector<unsigned> indices;
    for (long threads : kThreadCounts) RunSorter(sorter, values, indices, true, threads);
    EXPECT_EQ(sorter.count, 5u);
    EXPECT_EQ(sorter.indexScratch.data, scratch);
    EXPECT_EQ(sorter.indexScratch.size, 20u);
    EXPECT_EQ(sorter.histograms.size, 0u);
}

TYPED_TEST(IndexRadixSort, grows_buffers_for_largest_call_and_reuses_them) {
    constexpr unsigned long histogramBytes = sizeof(TypeParam) == 4 ? 1'024 : 262'144;
    SorterFor<TypeParam> sorter(0);
    const auto values = RandomValues<TypeParam>(8'000, 3);
    std::vector<unsigned> indices(values.size());
    RunSorter(sorter, values, indices, true, 1);
    EXPECT_EQ(sorter.count, 8'000u);
    EXPECT_EQ(sorter.indexScratch.size, 32'000u);
    EXPECT_EQ(sorter.histograms.size, histogramBytes);
    EXPECT_EQ(sorter.passCounts.size, 4 * histogramBytes);
    const char* passCounts = sorter.passCounts.data;

    RunSorter(sorter, values, indices, true, 5);
    EXPECT_EQ(sorter.histograms.size, 5 * histogramBytes);
    const char* scratch = sorter.indexScratch.data;
    const char* histograms = sorter.histograms.data;
    // 8,000 4-byte keys are enough for five workers to count through tables.
    const char* workerTables = sorter.workerTables.data;
    if (sizeof(TypeParam) == 4) {
        EXPECT_GT(sorter.workerTables.size, 0u);
    }

    // Smaller calls allocate nothing, and the single-threaded sort still
    // works on the enlarged histogram storage.
    indices.resize(7'000);
    const auto expected = Reference(values, Identity(7'000));
    for (long threads : {1l, 3l}) {
        RunSorter(sorter, values, indices, true, threads);
        EXPECT_TRUE(SamePermutation<TypeParam>(indices, expected, 3, "reused sorter"));
    }
    EXPECT_EQ(sorter.count, 7'000u);
    EXPECT_EQ(sorter.indexScratch.data, scratch);
    EXPECT_EQ(sorter.histograms.data, histograms);
    EXPECT_EQ(sorter.histograms.size, 5 * histogramBytes);
    EXPECT_EQ(sorter.passCounts.data, passCounts);
    EXPECT_EQ(sorter.workerTables.data, workerTables);
}

TYPED_TEST(IndexRadixSort, release_scratch_empties_buffers_and_sorts_again) {
    SorterFor<TypeParam> sorter(0);
    const auto values = RandomValues<TypeParam>(1'000, 8);
    std::vector<unsigned> indices(values.size());
    RunSorter(sorter, values, indices, true, 1);
    RunSorter(sorter, values, indices, true, 3);
    sorter.ReleaseScratch();
    EXPECT_EQ(sorter.count, 0u);
    EXPECT_EQ(sorter.indexScratch.data, nullptr);
    EXPECT_EQ(sorter.indexScratch.size, 0u);
    EXPECT_EQ(sorter.histograms.data, nullptr);
    EXPECT_EQ(sorter.histograms.size, 0u);
    EXPECT_EQ(sorter.passCounts.data, nullptr);
    EXPECT_EQ(sorter.workerTables.data, nullptr);

    RunSorter(sorter, values, indices, true, 3);
    EXPECT_TRUE(SamePermutation<TypeParam>(indices, Reference(values, Identity(values.size())), 8, "after release"));
}

TYPED_TEST(IndexRadixSort, failed_histogram_growth_leaves_indices_untouched) {
    SorterFor<TypeParam> sorter(0);
    const auto values = RandomValues<TypeParam>(100, 4);
    std::vector<unsigned> indices(100, 9u);
    // 2^31 histograms cannot be had; the index scratch grows first and stays.
    EXPECT_THROW(RunSorter(sorter, values, indices, true, 1l << 31), std::bad_alloc);
    EXPECT_EQ(indices, std::vector<unsigned>(100, 9u));
    EXPECT_EQ(sorter.count, 100u);
    EXPECT_EQ(sorter.indexScratch.size, 400u);
    EXPECT_EQ(sorter.histograms.size, 0u);
    EXPECT_EQ(sorter.histograms.data, nullptr);
}

TYPED_TEST(IndexRadixSort, constructor_reports_scratch_it_cannot_have) {
    EXPECT_THROW(SorterFor<TypeParam>(1ul << 60), std::bad_alloc);
    SorterFor<TypeParam> sorter(10);
    EXPECT_EQ(sorter.count, 10u);
    EXPECT_EQ(sorter.indexScratch.size, 40u);
    EXPECT_EQ(sorter.indexScratch, AppCore::CharBuffer(10, 4));
}

TYPED_TEST(IndexRadixSort, refuses_thread_count_beyond_chunk_bound_range) {
    SorterFor<TypeParam> sorter(0);
    const std::vector<TypeParam> values(3);
    std::vector<unsigned> indices(3, 1u);
    EXPECT_THROW(RunSorter(sorter, values, indices, true, 1l << 33), std::invalid_argument);
    EXPECT_EQ(indices, std::vector<unsigned>(3, 1u));
}

TYPED_TEST(IndexRadixSort, failed_worker_start_joins_workers_and_keeps_entries) {
    // Starts per call: 2 x T per pass for 32-bit keys, 3 x T for 64-bit keys.
    const unsigned long threads = 3, starts = (sizeof(TypeParam) == 4 ? 8 : 12) * threads;
    const auto values = RandomValues<TypeParam>(5'000, 5);
    std::mt19937_64 random(5);
    std::vector<unsigned> start(values.size());
    for (unsigned& entry : start) entry = random() % values.size();
    std::vector<unsigned> sortedStart = start;
    std::sort(sortedStart.begin(), sortedStart.end());

    SorterFor<TypeParam> sorter(0);
    for (unsigned long failing = 1; failing <= starts; ++failing) {
        std::vector<unsigned> indices = start;
        EvalCore::Testing::failWorkerStartNumber = failing;
        EXPECT_THROW(RunSorter(sorter, values, indices, false, threads), std::system_error) << "start " << failing;
        std::sort(indices.begin(), indices.end());
        EXPECT_EQ(indices, sortedStart) << "entries lost after failing start " << failing;
    }
    EvalCore::Testing::failWorkerStartNumber = 0;
    std::vector<unsigned> indices = start;
    RunSorter(sorter, values, indices, false, threads);
    EXPECT_TRUE(SamePermutation<TypeParam>(indices, Reference(values, start), 5, "after failed starts"));
}

TYPED_TEST(IndexRadixSort, failed_worker_start_when_initialising_leaves_every_position) {
    const unsigned long threads = 3, starts = (sizeof(TypeParam) == 4 ? 8 : 12) * threads;
    const auto values = RandomValues<TypeParam>(5'000, 6);
    SorterFor<TypeParam> sorter(0);
    for (unsigned long failing = 1; failing <= starts; ++failing) {
        std::vector<unsigned> indices(values.size(), 7u);
        EvalCore::Testing::failWorkerStartNumber = failing;
        EXPECT_THROW(RunSorter(sorter, values, indices, true, threads), std::system_error) << "start " << failing;
        std::sort(indices.begin(), indices.end());
        EXPECT_EQ(indices, Identity(values.size())) << "after failing start " << failing;
    }
    EvalCore::Testing::failWorkerStartNumber = 0;
}

TEST(IndexRadixSortExamples, orders_integer_extremes) {
    EvalCore::RadixSort32 sorter(0);
    const int values[] = {5, -1, 0, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()};
    unsigned indices[5];
    sorter.SortINT(values, 5, indices, true);
    EXPECT_EQ(std::vector<unsigned>(indices, indices + 5), (std::vector<unsigned>{3, 1, 2, 0, 4}));
}

TEST(IndexRadixSortExamples, orders_signed_zeros_and_infinities) {
    EvalCore::RadixSort32 sorter(0);
    const float inf = std::numeric_limits<float>::infinity();
    const float values[] = {+0.0f, -0.0f, -inf, 1.5f, -1.5f};
    for (unsigned long threads : {1ul, 2ul, 8ul}) {
        unsigned indices[5];
        sorter.SortFLT(values, 5, indices, true, threads);
        EXPECT_EQ(std::vector<unsigned>(indices, indices + 5), (std::vector<unsigned>{2, 4, 1, 0, 3}));
    }
}

TEST(IndexRadixSortExamples, sorts_only_the_given_positions) {
    EvalCore::RadixSort32 sorter(0);
    const int values[] = {30, 10, 20, 0};
    for (unsigned long threads : {1ul, 2ul, 8ul}) {
        unsigned indices[] = {2, 0, 1};
        sorter.SortINT(values, 3, indices, false, threads);
        EXPECT_EQ(std::vector<unsigned>(indices, indices + 3), (std::vector<unsigned>{1, 2, 0}));
    }
}

template <class Value, class Bits>
std::vector<Value> SpecialValues() {
    using Limits = std::numeric_limits<Value>;
    constexpr int high = sizeof(Bits) * 8 - 1;
    constexpr Bits sign = Bits{1} << high, quiet = Bits{1} << (Limits::digits - 2);
    std::vector<Value> values = {Value(0),
                                 -Value(0),
                                 Limits::infinity(),
                                 -Limits::infinity(),
                                 Limits::denorm_min(),
                                 -Limits::denorm_min(),
                                 Limits::min(),
                                 -Limits::min(),
                                 Limits::max(),
                                 Limits::lowest(),
                                 Value(1),
                                 Value(-1)};
    // NaNs of both signs with several payloads, quiet and signalling.
    for (Bits payload : {Bits{1}, Bits{2}, quiet, quiet | 1, quiet - 1})
        for (Bits signBit : {Bits{0}, sign}) {
            const Bits bits = signBit | (Bits(~Bits{0}) >> 1 & ~(quiet * 2 - 1)) | payload;
            values.push_back(std::bit_cast<Value>(bits));
        }
    values.insert(values.end(), values.begin(), values.end());  // duplicates test stability
    return values;
}

template <class Value, class Bits>
void ExpectSpecialFloatOrder() {
    const std::vector<Value> values = SpecialValues<Value, Bits>();
    ExpectReferenceForEveryThreadCount(values, std::vector<unsigned>(values.size()), true, 0);

    // The order the key promises: -NaNs (bits descending), -inf, finite
    // values with -0 before +0, +inf, +NaNs (bits ascending).
    SorterFor<Value> sorter(0);
    std::vector<unsigned> indices(values.size());
    RunSorter(sorter, values, indices, true, 4);
    for (std::size_t i = 1; i < indices.size(); ++i) {
        const Value a = values[indices[i - 1]], b = values[indices[i]];
        const Bits aBits = std::bit_cast<Bits>(a), bBits = std::bit_cast<Bits>(b);
        if (std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b))
            EXPECT_TRUE(std::signbit(a) ? aBits >= bBits : aBits <= bBits) << "NaN order at " << i;
        else if (std::isnan(a))
            EXPECT_TRUE(std::signbit(a)) << "positive NaN before a non-NaN at " << i;
        else if (std::isnan(b))
            EXPECT_FALSE(std::signbit(b)) << "negative NaN after a non-NaN at " << i;
        else if (a == b)
            EXPECT_TRUE(aBits == bBits || (std::signbit(a) && !std::signbit(b))) << "zeros at " << i;
        else
            EXPECT_LT(a, b) << "at " << i;
    }
}

TEST(IndexRadixSortFloats, sorts_nan_payloads_zeros_infinities_and_denormals_in_key_order) {
    ExpectSpecialFloatOrder<float, std::uint32_t>();
    ExpectSpecialFloatOrder<double, std::uint64_t>();
}

}  // namespace
