#include "cpu_sort/FreeRadixSort.h"

#include <cstring>
#include <new>

#include <gtest/gtest.h>

#include "SortReference.h"

using namespace SortTest;

namespace {

TEST(FreeRadixSort, sorts_integers_in_place) {
    int values[] = {3, -1, 2, std::numeric_limits<int>::min()};
    EvalCore::RadixSort(values, 4);
    EXPECT_EQ(std::vector<int>(values, values + 4), (std::vector<int>{std::numeric_limits<int>::min(), -1, 2, 3}));
}

TEST(FreeRadixSort, empty_input_leaves_values_untouched) {
    int values[] = {3, 1};
    EvalCore::RadixSort(values, 0);
    EXPECT_EQ(values[0], 3);
    EXPECT_EQ(values[1], 1);
}

template <class Value>
void ExpectKeyOrder(unsigned long n, std::uint64_t seed) {
    std::vector<Value> values = RandomValues<Value>(n, seed);
    std::vector<Value> expected = values;
    std::stable_sort(expected.begin(), expected.end(),
                     [](Value a, Value b) { return EvalCore::SortKey(a) < EvalCore::SortKey(b); });
    EvalCore::RadixSort(values.data(), n);
    // Bit patterns, not values: NaNs and signed zeros must land exactly.
    const bool same = n == 0 || std::memcmp(values.data(), expected.data(), n * sizeof(Value)) == 0;
    EXPECT_TRUE(same) << TypeName<Value>() << " n = " << n << ", seed = " << seed;
}

TEST(FreeRadixSort, sorts_random_bit_patterns_into_key_order) {
    for (unsigned long n : {1ul, 2ul, 1'000ul, 70'001ul}) {
        ExpectKeyOrder<int>(n, n);
        ExpectKeyOrder<float>(n, n);
        ExpectKeyOrder<long>(n, n);
        ExpectKeyOrder<double>(n, n);
    }
}

TEST(FreeRadixSort, failed_scratch_allocation_leaves_values_untouched) {
    int ints[] = {3, 1, 2};
    EXPECT_THROW(EvalCore::RadixSort(ints, 1ul << 62), std::bad_alloc);
    EXPECT_EQ(std::vector<int>(ints, ints + 3), (std::vector<int>{3, 1, 2}));
    // n x 8 would wrap around to a small block without the size check.
    double doubles[] = {3.0, 1.0};
    EXPECT_THROW(EvalCore::RadixSort(doubles, (1ul << 61) + 1), std::bad_alloc);
    EXPECT_EQ(doubles[0], 3.0);
    EXPECT_EQ(doubles[1], 1.0);
}

}  // namespace

// Allocation-failure tests need a null from the allocator, not a sanitizer abort.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
extern "C" const char* __tsan_default_options() { return "allocator_may_return_null=1"; }
