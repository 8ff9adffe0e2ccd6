#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cpu_sort/pairs/PairBucketPlan.h"
#include "cpu_sort/pairs/PairLeafSort.h"

// A bucket too large to sort in cache (a heavy key of a zipf or skewed set, or
// many keys in one plan digit): planned again on its own key range and split,
// stably, without a second pair array. Its indices are scattered to their
// sub-buckets in the caller's index array, which the bucket's positions own
// anyway, and its keys within the pairs' own space (see below); a sub-bucket
// of one key is then final. Gathering the keys back through the indices
// instead read the whole key array per split: skewed 10M INT keys took 113 ms
// that way, 114 ms this way: no faster, but it reads nothing outside the bucket. Each level splits off at least
// kPlanDigitBits bits of the range from a bucket of one digit, and a bucket of several holds at most its plan's target,
// so 8-byte keys need at most kLargeLevels levels below 2^26 keys per bucket.
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

// Sorts pairs[0, count) (count > kLeafMaxPairs) into out[0, count) as
// SortLeaf does; `buffer` holds kLeafMaxBytes.
template <class Format>
void SortLargeBucket(typename Format::Pair* pairs, std::size_t count, std::uint32_t* out, typename Format::Pair* buffer,
                     std::uint32_t* leafCounters, LargeBucketTables& tables, unsigned level) {
    using Pair = typename Format::Pair;
    using Key = typename Format::Key;
    Key lowest = Format::KeyOf(pairs[0]), highest = lowest;
    for (std::size_t j = 1; j < count; ++j) {
        const Key key = Format::KeyOf(pairs[j]);
        lowest = std::min(lowest, key);
        highest = std::max(highest, key);
    }
    if (lowest == highest) return WriteIndices<Format>(pairs, count, out);

    const std::uint64_t range = highest - lowest;
    // Always the widest digit: each level must split off kPlanDigitBits bits
    // for kLargeLevels to suffice.
    const unsigned shift = PlanShift(range, kPlanDigitBits);
    const std::size_t digits = PlanDigitCount(range, kPlanDigitBits);
    std::fill_n(tables.counts, digits, 0u);
    CountPlanDigits(count, digits, tables.counts, tables.spare,
                    [&](std::size_t j) { return static_cast<Key>(Format::KeyOf(pairs[j]) - lowest) >> shift; });
    BucketPlan& plan = tables.levels[level];
    MakeBucketPlan(tables.counts, digits, count, plan);

    // next[] reuses the counters, which the plan no longer needs.
    std::uint32_t* next = tables.counts;
    const auto subBucket = [&](Key key) { return plan.bucketOf[static_cast<Key>(key - lowest) >> shift]; };
    std::copy_n(plan.start, plan.buckets, next);
    for (std::size_t j = 0; j < count; ++j) out[next[subBucket(Format::KeyOf(pairs[j]))]++] = Format::IndexOf(pairs[j]);

    // The keys follow without a second array: packed into the first half of
    // the pairs' own space (each lands below the pair it came from), moved to
    // their sub-buckets in the second half, and joined with their indices
    // again front to back (pair j covers only keys already joined).
    static_assert(sizeof(Pair) == 2 * sizeof(Key));
    auto* bytes = reinterpret_cast<unsigned char*>(pairs);
    unsigned char* packed = bytes;
    unsigned char* placed = bytes + count * sizeof(Key);
    const auto keyAt = [](const unsigned char* at) {
        Key key;
        std::memcpy(&key, at, sizeof key);
        return key;
    };
    for (std::size_t j = 0; j < count; ++j) {
        const Key key = Format::KeyOf(pairs[j]);
        std::memcpy(packed + j * sizeof(Key), &key, sizeof key);
    }
    std::copy_n(plan.start, plan.buckets, next);
    for (std::size_t j = 0; j < count; ++j) {
        const Key key = keyAt(packed + j * sizeof(Key));
        std::memcpy(placed + std::size_t{next[subBucket(key)]++} * sizeof(Key), &key, sizeof key);
    }
    for (std::size_t j = 0; j < count; ++j) {
        const Pair pair = Format::Make(keyAt(placed + j * sizeof(Key)), out[j]);
        std::memcpy(bytes + j * sizeof(Pair), &pair, sizeof pair);
    }

    for (std::size_t b = 0; b < plan.buckets; ++b) {
        const std::size_t first = plan.start[b], size = plan.start[b + 1] - first;
        if (size <= 1 || (plan.oneDigit[b] && shift == 0)) continue;
        if (size <= kLeafMaxPairs<Format>)
            SortLeafOfAnyRange<Format>(pairs + first, size, buffer, out + first, leafCounters);
        else if (level + 1 < kLargeLevels)
            SortLargeBucket<Format>(pairs + first, size, out + first, buffer, leafCounters, tables, level + 1);
        else
            // Past kLargeLevels, which only more than about 2^26 keys in one
            // multi-digit bucket reach.
            ComparisonLeaf<Format>(pairs + first, size, out + first);
    }
}

}  // namespace EvalCore::PairDetail
