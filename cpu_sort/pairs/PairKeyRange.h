#pragma once

#include <cstddef>
#include <cstdint>

// The first sweep of the key-carrying sort: the smallest and largest sort key
// (cpu_sort/SortKey.h). Subtracting the smallest makes every pair's key start
// at 0, so only the bits that vary across the array are counted and sorted,
// and 8-byte keys whose range fits 32 bits travel as 8-byte pairs. All keys
// equal ends the sort here.
//
// The sweep compares signed images of the keys, which vector units compare
// directly; it is compiled for AVX2 beside the baseline and the processor's
// version chosen at the call: 3.3 ms instead of 16.5 ms for 10M floats here.
namespace EvalCore::PairDetail {

// The smallest and largest key, and the largest key whose top bit is clear
// and the smallest whose top bit is set (meaningful when lowest and highest
// lie on either side): for keys of both signs, the ends of the gap between
// the two clusters (PlanDigits in PairBucketPlan.h).
template <class Key>
struct KeyRange {
    Key lowest;
    Key highest;
    Key lowerHighest;
    Key upperLowest;

    static constexpr Key kTopBit = Key{1} << (sizeof(Key) * 8 - 1);
    bool BothHalves() const { return (lowest & kTopBit) == 0 && (highest & kTopBit) != 0; }

    void Merge(const KeyRange& other) {
        if (other.lowest < lowest) lowest = other.lowest;
        if (other.highest > highest) highest = other.highest;
        // A chunk without keys in a half holds 0 or the largest key there,
        // which never beats a real figure.
        if (other.lowerHighest > lowerHighest) lowerHighest = other.lowerHighest;
        if (other.upperLowest < upperLowest) upperLowest = other.upperLowest;
    }
};

// The range of the sort keys of values[first, last), first < last.
KeyRange<std::uint32_t> FindKeyRange(const std::int32_t* values, std::size_t first, std::size_t last);
KeyRange<std::uint32_t> FindKeyRange(const float* values, std::size_t first, std::size_t last);
KeyRange<std::uint64_t> FindKeyRange(const std::int64_t* values, std::size_t first, std::size_t last);
KeyRange<std::uint64_t> FindKeyRange(const double* values, std::size_t first, std::size_t last);

}  // namespace EvalCore::PairDetail
