#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "cpu_sort/RadixSort32.h"
#include "cpu_sort/RadixSort64.h"
#include "cpu_sort/SortKey.h"
#include "support/DataTypes.h"

// Test support for the index sorters: seeded inputs, a slow obviously-correct
// reference (std::stable_sort under the sort-key order) and a comparison that
// names the first mismatch with the input's size, type and seed.
namespace SortTest {

// Sanitized builds run the same cases on smaller inputs to stay fast; still
// large enough for the multi-threaded sorts to count next digits while they
// scatter (from about T x T x 65,536 entries for 64-bit keys).
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
inline constexpr unsigned long kLargeCount = 262'147;
#else
inline constexpr bool kSanitized = false;
inline constexpr unsigned long kLargeCount = 1'000'003;
#endif

template <class Value>
const char* TypeName() {
    return AppCore::DataTypeName<Value>();
}

template <class Value>
using SorterFor = std::conditional_t<sizeof(Value) == 4, EvalCore::RadixSort32, EvalCore::RadixSort64>;

// threadCount < 0 calls the four-argument entry.
template <class Value>
void RunSorter(SorterFor<Value>& sorter, const std::vector<Value>& values, std::vector<unsigned>& indices,
               bool initIndices, long threadCount) {
    const unsigned long n = indices.size();
    if constexpr (std::is_integral_v<Value>) {
        if (threadCount < 0)
            sorter.SortINT(values.data(), n, indices.data(), initIndices);
        else
            sorter.SortINT(values.data(), n, indices.data(), initIndices, threadCount);
    } else {
        if (threadCount < 0)
            sorter.SortFLT(values.data(), n, indices.data(), initIndices);
        else
            sorter.SortFLT(values.data(), n, indices.data(), initIndices, threadCount);
    }
}

// Uniform random bit patterns: every digit of the key varies, and the float
// types get NaNs, infinities and denormals among them.
template <class Value>
std::vector<Value> RandomValues(unsigned long n, std::uint64_t seed) {
    using Bits = std::conditional_t<sizeof(Value) == 4, std::uint32_t, std::uint64_t>;
    std::mt19937_64 random(seed);
    std::vector<Value> values(n);
    for (Value& value : values) {
        const auto bits = static_cast<Bits>(random());
        std::memcpy(&value, &bits, sizeof value);
    }
    return values;
}

inline std::vector<unsigned> Identity(unsigned long n) {
    std::vector<unsigned> indices(n);
    std::iota(indices.begin(), indices.end(), 0u);
    return indices;
}

template <class Value>
std::vector<unsigned> Reference(const std::vector<Value>& values, std::vector<unsigned> indices) {
    std::stable_sort(indices.begin(), indices.end(), [&](unsigned a, unsigned b) {
        return EvalCore::SortKey(values[a]) < EvalCore::SortKey(values[b]);
    });
    return indices;
}

template <class Value>
::testing::AssertionResult SamePermutation(const std::vector<unsigned>& actual, const std::vector<unsigned>& expected,
                                           std::uint64_t seed, const std::string& what) {
    const auto mismatch = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    if (mismatch.first == actual.end() && mismatch.second == expected.end()) return ::testing::AssertionSuccess();
    const auto position = mismatch.first - actual.begin();
    auto failure = ::testing::AssertionFailure();
    failure << TypeName<Value>() << " " << what << ", n = " << expected.size() << ", seed = " << seed
            << ": first mismatch at position " << position;
    if (mismatch.first != actual.end() && mismatch.second != expected.end())
        failure << " (got " << *mismatch.first << ", expected " << *mismatch.second << ")";
    return failure;
}

}  // namespace SortTest
