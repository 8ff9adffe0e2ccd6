#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "cpu_sort/pairs/PairFormat.h"

// How the key-carrying sort cuts a key range into buckets: the keys' top
// kPlanDigitBits varying bits are counted, and runs of adjacent digits are
// merged greedily into buckets of about kBucketTarget pairs. Unlike a fixed
// digit, the plan follows the keys: uniform floats, which put half their keys
// into one exponent, still give buckets that sort in cache; a digit that holds
// more than the target by itself becomes a bucket of its own, which the large
// bucket split (PairLargeBucket.h) takes apart again.
namespace EvalCore::PairDetail {

// The bits of the digit a plan of `count` keys counts: up to kPlanDigitBits,
// fewer for fewer keys, whose plans need fewer digits and whose sorts feel
// every pass over the counters (1M uniform keys, one thread, medians: INT 6.8
// ms at 12 bits against 7.8 at 16, FLOAT 7.5 against 7.9).
inline unsigned PlanDigitBits(std::uint64_t count) {
    const unsigned bits = static_cast<unsigned>(std::bit_width(count));
    return std::clamp(bits > 8 ? bits - 8 : 0u, kMinPlanDigitBits, kPlanDigitBits);
}

// The digit a key of range `range` (largest relative key) is planned by: its
// top `digitBits` bits, key >> shift.
inline unsigned PlanShift(std::uint64_t range, unsigned digitBits) {
    const unsigned bits = static_cast<unsigned>(std::bit_width(range));
    return bits > digitBits ? bits - digitBits : 0;
}

// Digits counted for a range: every value of range >> shift.
inline std::size_t PlanDigitCount(std::uint64_t range, unsigned digitBits) {
    return static_cast<std::size_t>(range >> PlanShift(range, digitBits)) + 1;
}

// Adds the plan digits of relative keys key(0 ... count - 1) to counts[0,
// digits). Two tables, odd and even elements, so a run of equal digits
// (sorted input) does not wait on one counter; `spare` holds `digits` zeros
// and is folded into `counts` at the end, left zeroed.
template <class KeyAt>
void CountPlanDigits(std::size_t count, unsigned shift, std::size_t digits, std::uint32_t* counts, std::uint32_t* spare,
                     KeyAt keyAt) {
    std::size_t i = 0;
    for (; i + 2 <= count; i += 2) {
        ++counts[keyAt(i) >> shift];
        ++spare[keyAt(i + 1) >> shift];
    }
    if (i < count) ++counts[keyAt(i) >> shift];
    for (std::size_t d = 0; d < digits; ++d) {
        counts[d] += spare[d];
        spare[d] = 0;
    }
}

// A plan: bucketOf[digit] numbers the bucket of each digit; bucket b holds
// positions [start[b], start[b + 1]) of its range and the keys of digits
// [firstDigit[b], firstDigit[b + 1]); oneDigit[b] is set when only one
// digit's keys went into it.
struct BucketPlan {
    std::uint16_t* bucketOf;    // kPlanDigits entries
    std::uint32_t* start;       // kMaxBuckets + 1 entries
    std::uint32_t* firstDigit;  // kMaxBuckets + 1 entries
    std::uint8_t* oneDigit;     // kMaxBuckets entries
    std::size_t buckets = 0;

    // The smallest key bucket b may hold, and the bits over which its keys can
    // differ from it.
    std::uint64_t LowestKey(std::size_t b, unsigned shift) const { return std::uint64_t{firstDigit[b]} << shift; }
    unsigned VaryingBits(std::size_t b, unsigned shift) const {
        return static_cast<unsigned>(std::bit_width((std::uint64_t{firstDigit[b + 1] - firstDigit[b]} << shift) - 1));
    }
};

// Fills `plan` from the digit counts counts[0, digits), which add up to
// `total`. The target grows with total so that no plan exceeds kMaxBuckets:
// two adjacent buckets together always hold more than the target.
inline void MakeBucketPlan(const std::uint32_t* counts, std::size_t digits, std::uint64_t total, BucketPlan& plan) {
    const std::uint64_t target = std::max<std::uint64_t>(kBucketTarget, 2 * total / (kMaxBuckets - 2) + 1);
    std::size_t b = 0;
    std::uint64_t filled = 0;
    unsigned usedDigits = 0;
    plan.start[0] = 0;
    plan.firstDigit[0] = 0;
    for (std::size_t d = 0; d < digits; ++d) {
        const std::uint32_t count = counts[d];
        if (filled > 0 && filled + count > target) {
            plan.start[b + 1] = static_cast<std::uint32_t>(plan.start[b] + filled);
            plan.oneDigit[b] = usedDigits == 1;
            ++b;
            plan.firstDigit[b] = static_cast<std::uint32_t>(d);
            filled = 0;
            usedDigits = 0;
        }
        plan.bucketOf[d] = static_cast<std::uint16_t>(b);
        filled += count;
        usedDigits += count != 0;
    }
    plan.start[b + 1] = static_cast<std::uint32_t>(plan.start[b] + filled);
    plan.oneDigit[b] = usedDigits == 1;
    plan.firstDigit[b + 1] = static_cast<std::uint32_t>(digits);
    plan.buckets = b + 1;
}

}  // namespace EvalCore::PairDetail
