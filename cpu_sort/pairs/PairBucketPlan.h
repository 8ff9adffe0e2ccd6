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

// The plan digit of a relative key. Keys of both signs lie in two clusters,
// one in each half of the key space, and the halves meet at the keys of
// smallest magnitude: floats put a gap of all the exponents below the data's
// between them (uniform doubles below 2^24 span 64 bits of key range in two
// clusters of 57). Each half present gets half the digits over its own range,
// keys from `start[1]` on being the upper half's. Integers of both signs gain
// nothing: their halves adjoin.
struct PlanDigits {
    std::uint64_t start[2] = {0, 0};
    unsigned shift[2] = {0, 0};
    std::uint32_t offset[2] = {0, 0};
    std::size_t count = 0;  // digits in all

    // Both halves' digits, then a select by mask: indexing the halves' fields
    // by the half reloads them for every key, and a select the compiler may
    // turn into a branch mispredicts on keys of random signs (10M uniform
    // BIGFLOAT, one thread: 250 to 239 ms; FLOAT unchanged).
    std::uint32_t operator()(std::uint64_t key) const {
        const auto lower = static_cast<std::uint32_t>((key - start[0]) >> shift[0]);
        const auto upper = offset[1] + static_cast<std::uint32_t>((key - start[1]) >> shift[1]);
        const std::uint32_t upperMask = 0u - static_cast<std::uint32_t>(key >= start[1]);
        return (upper & upperMask) | (lower & ~upperMask);
    }
    unsigned HalfOf(std::size_t digit) const { return digit >= offset[1]; }
    // The smallest key of a digit, and the bits over which the keys of digits
    // [first, end) of one half differ from the first's smallest.
    std::uint64_t LowestKey(std::size_t digit) const {
        const unsigned h = HalfOf(digit);
        return start[h] + (std::uint64_t{digit - offset[h]} << shift[h]);
    }
    unsigned VaryingBits(std::size_t first, std::size_t end) const {
        return static_cast<unsigned>(std::bit_width((std::uint64_t{end - first} << shift[HalfOf(first)]) - 1));
    }
    bool KeyPerDigit(std::size_t digit) const { return shift[HalfOf(digit)] == 0; }
};

// The plan digit of one range: its top bits, key >> shift. The interface of
// PlanDigits, for a plan in one piece: a cheaper digit in the two sweeps.
struct ShiftDigits {
    unsigned shift = 0;
    std::size_t count = 0;
    std::uint32_t offset[2] = {0, 0};

    std::uint32_t operator()(std::uint64_t key) const { return static_cast<std::uint32_t>(key >> shift); }
    std::uint64_t LowestKey(std::size_t digit) const { return std::uint64_t{digit} << shift; }
    unsigned VaryingBits(std::size_t first, std::size_t end) const {
        return static_cast<unsigned>(std::bit_width((std::uint64_t{end - first} << shift) - 1));
    }
    bool KeyPerDigit(std::size_t) const { return shift == 0; }
};

inline ShiftDigits MakeShiftDigits(std::uint64_t range, unsigned digitBits) {
    return {PlanShift(range, digitBits), PlanDigitCount(range, digitBits)};
}

// Whether `count` keys in [0, range] of which those in (lowerTop,
// upperStart) do not occur are planned in two halves: when that narrows the
// digits by at least kSplitGainBits, or kManySplitGainBits from
// kManySplitKeys keys on, where the densest digits of the plan in one piece
// outgrow the caches. The split digit costs the scatter a third more than a
// shift. Uniform keys, one thread: 10M FLOAT (3.6 bits narrower) 89 ms split
// against 82; 100M FLOAT 984 against 1,110; 10M BIGFLOAT (7 bits) 238 against
// 256.
inline constexpr unsigned kSplitGainBits = 5;
inline constexpr unsigned kManySplitGainBits = 3;
inline constexpr std::uint64_t kManySplitKeys = std::uint64_t{1} << 25;
inline bool SplitPays(std::uint64_t range, std::uint64_t lowerTop, std::uint64_t upperStart, std::uint64_t count) {
    if (lowerTop >= range) return false;
    const auto bits = [](std::uint64_t x) { return static_cast<unsigned>(std::bit_width(x)); };
    const unsigned gain = count >= kManySplitKeys ? kManySplitGainBits : kSplitGainBits;
    return bits(range) >= std::max(bits(lowerTop), bits(range - upperStart)) + 1 + gain;
}

// The split digits for such keys (SplitPays).
inline PlanDigits MakePlanDigits(std::uint64_t range, std::uint64_t lowerTop, std::uint64_t upperStart,
                                 unsigned digitBits) {
    PlanDigits digits;
    digits.shift[0] = PlanShift(lowerTop, digitBits - 1);
    digits.shift[1] = PlanShift(range - upperStart, digitBits - 1);
    digits.start[1] = upperStart;
    digits.offset[1] = static_cast<std::uint32_t>(PlanDigitCount(lowerTop, digitBits - 1));
    digits.count = digits.offset[1] + PlanDigitCount(range - upperStart, digitBits - 1);
    return digits;
}

// Adds the plan digits digitAt(0 ... count - 1) to counts[0, digits). Two tables, odd and even elements, so a run of
// equal digits (sorted input) does not wait on one counter; `spare` holds `digits` zeros and is folded into `counts` at
// the end, left zeroed.
template <class DigitAt>
void CountPlanDigits(std::size_t count, std::size_t digits, std::uint32_t* counts, std::uint32_t* spare,
                     DigitAt digitAt) {
    std::size_t i = 0;
    for (; i + 2 <= count; i += 2) {
        ++counts[digitAt(i)];
        ++spare[digitAt(i + 1)];
    }
    if (i < count) ++counts[digitAt(i)];
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
};

// The pairs a plan of `total` keys aims at per bucket: kBucketTarget, more
// from about 2^24 keys on, so that no plan exceeds kMaxBuckets: two adjacent
// buckets together always hold more than the target (and one bucket more may
// start at a break, where no bucket may span).
constexpr std::uint64_t BucketTargetPairs(std::uint64_t total) {
    return std::max<std::uint64_t>(kBucketTarget, 2 * total / (kMaxBuckets - 3) + 1);
}

// Fills `plan` from the digit counts counts[0, digits), which add up to
// `total`, in buckets of about BucketTargetPairs(total); no bucket spans
// `breakAt`.
inline void MakeBucketPlan(const std::uint32_t* counts, std::size_t digits, std::uint64_t total, BucketPlan& plan,
                           std::size_t breakAt = 0) {
    const std::uint64_t target = BucketTargetPairs(total);
    std::size_t b = 0;
    std::uint64_t filled = 0;
    unsigned usedDigits = 0;
    plan.start[0] = 0;
    plan.firstDigit[0] = 0;
    for (std::size_t d = 0; d < digits; ++d) {
        const std::uint32_t count = counts[d];
        if (filled > 0 && (filled + count > target || d == breakAt)) {
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
