#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "cpu_sort/pairs/PairBucketPlan.h"
#include "cpu_sort/pairs/PairLeafSort.h"

// A bucket too large to sort in cache (a heavy key of a zipf or skewed set, or
// many keys in one plan digit): planned again on its own key range and split,
// stably, without a second pair array. Its indices are scattered to their
// sub-buckets in the caller's index array, which the bucket's positions own
// anyway, and each sub-bucket's pairs are then gathered back from the keys
// through those indices, which are ascending within a sub-bucket and so read
// the keys in memory order. A sub-bucket of one key needs no gather: its
// indices are already final. Each level splits off at least kPlanDigitBits
// bits of the range from a bucket of one digit, and a bucket of several holds
// at most its plan's target, so 8-byte keys need at most kLargeLevels levels
// below 2^26 keys per bucket.
namespace EvalCore::PairDetail {

inline constexpr unsigned kLargeLevels = 4;

// One worker's tables for the split: a plan per level (its bounds are read
// after the level's children are done; bucketOf is shared, read only before)
// and one pair of digit counters.
struct LargeBucketTables {
    std::uint32_t* counts;  // kPlanDigits
    std::uint32_t* spare;   // kPlanDigits zeros
    BucketPlan levels[kLargeLevels];
};

// The last resort past kLargeLevels, which only more than about 2^26 keys in
// one multi-digit bucket reach: a comparison sort of whole pairs, (key, index)
// order, that needs no buffer.
template <class Format>
void SortInPlace(typename Format::Pair* pairs, std::size_t count, std::uint32_t* out) {
    using Pair = typename Format::Pair;
    std::sort(pairs, pairs + count, [](const Pair& a, const Pair& b) {
        return Format::KeyOf(a) != Format::KeyOf(b) ? Format::KeyOf(a) < Format::KeyOf(b)
                                                    : Format::IndexOf(a) < Format::IndexOf(b);
    });
    WriteIndices<Format>(pairs, count, out);
}

// Sorts pairs[0, count) (keys relative to `base`, count > kLeafMaxPairs) into
// out[0, count) as SortLeaf does. values is the whole key array the indices
// point into; `buffer` holds kLeafMaxPairs pairs.
template <class Format, class Value>
void SortLargeBucket(const Value* values, std::uint64_t base, typename Format::Pair* pairs, std::size_t count,
                     std::uint32_t* out, typename Format::Pair* buffer, std::uint32_t* leafCounters,
                     LargeBucketTables& tables, unsigned level) {
    using Key = typename Format::Key;
    Key lowest = Format::KeyOf(pairs[0]), highest = lowest;
    for (std::size_t j = 1; j < count; ++j) {
        const Key key = Format::KeyOf(pairs[j]);
        lowest = std::min(lowest, key);
        highest = std::max(highest, key);
    }
    if (lowest == highest) return WriteIndices<Format>(pairs, count, out);

    const std::uint64_t range = highest - lowest;
    const unsigned shift = PlanShift(range);
    const std::size_t digits = PlanDigitCount(range);
    std::fill_n(tables.counts, digits, 0u);
    CountPlanDigits(count, shift, digits, tables.counts, tables.spare,
                    [&](std::size_t j) { return static_cast<Key>(Format::KeyOf(pairs[j]) - lowest); });
    BucketPlan& plan = tables.levels[level];
    MakeBucketPlan(tables.counts, digits, count, plan);

    // next[] reuses the counters, which the plan no longer needs.
    std::uint32_t* next = tables.counts;
    std::copy_n(plan.start, plan.buckets, next);
    for (std::size_t j = 0; j < count; ++j) {
        const auto key = static_cast<Key>(Format::KeyOf(pairs[j]) - lowest);
        out[next[plan.bucketOf[key >> shift]]++] = Format::IndexOf(pairs[j]);
    }

    for (std::size_t b = 0; b < plan.buckets; ++b) {
        const std::size_t first = plan.start[b], size = plan.start[b + 1] - first;
        if (size <= 1 || (plan.oneDigit[b] && shift == 0)) continue;
        constexpr std::size_t kGatherAhead = 16;
        for (std::size_t j = 0; j < size; ++j) {
            if (j + kGatherAhead < size) __builtin_prefetch(values + out[first + j + kGatherAhead]);
            const std::uint32_t index = out[first + j];
            pairs[first + j] = Format::Make(RelativeKey(values[index], base), index);
        }
        if (size <= kLeafMaxPairs)
            SortLeafOfAnyRange<Format>(pairs + first, size, buffer, out + first, leafCounters);
        else if (level + 1 < kLargeLevels)
            SortLargeBucket<Format>(values, base, pairs + first, size, out + first, buffer, leafCounters, tables,
                                    level + 1);
        else
            SortInPlace<Format>(pairs + first, size, out + first);
    }
}

}  // namespace EvalCore::PairDetail
