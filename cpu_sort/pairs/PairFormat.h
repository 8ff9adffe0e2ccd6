#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "cpu_sort/SortKey.h"

// What the key-carrying sort moves: a pair of a key, relative to the smallest
// sort key of the array, and the index it came from; and the tuning constants
// every phase, the scratch bound and the floor's traffic model read.
namespace EvalCore::PairDetail {

// Keys whose range (largest minus smallest sort key) fits 32 bits travel as
// one 8-byte word, key above index: every 4-byte key, and 8-byte keys drawn
// from a narrow range (integers below 2^24 in magnitude). Comparing the words
// compares (key, index), so a pair never needs a separate tie-break.
struct NarrowPairs {
    using Pair = std::uint64_t;
    using Key = std::uint32_t;
    static Key KeyOf(Pair pair) { return static_cast<Key>(pair >> 32); }
    static std::uint32_t IndexOf(Pair pair) { return static_cast<std::uint32_t>(pair); }
    static Pair Make(std::uint64_t key, std::uint32_t index) { return key << 32 | index; }
};

// 8-byte keys of a wider range: 16 bytes, the index padded to 8 so a pair is
// two aligned words.
struct WidePairs {
    struct Pair {
        std::uint64_t key;
        std::uint64_t index;
    };
    using Key = std::uint64_t;
    static Key KeyOf(const Pair& pair) { return pair.key; }
    static std::uint32_t IndexOf(const Pair& pair) { return static_cast<std::uint32_t>(pair.index); }
    static Pair Make(std::uint64_t key, std::uint32_t index) { return {key, index}; }
};

// The sort key of values[i] less `base`: the key a pair carries.
template <class Value>
inline auto RelativeKey(Value value, std::uint64_t base) {
    using Key = std::conditional_t<sizeof(Value) == 4, std::uint32_t, std::uint64_t>;
    return static_cast<Key>(SortKey(value) - static_cast<Key>(base));
}

// Bits of the digit the bucket plans count: up to 65,536 counters (256 KiB),
// which stay in L2 while a sweep counts and split the range finely enough
// that even a skewed one (uniform floats put half their keys in one exponent)
// yields buckets near the target size; fewer for fewer keys (PlanDigitBits).
inline constexpr unsigned kPlanDigitBits = 16;
inline constexpr unsigned kMinPlanDigitBits = 10;
inline constexpr std::size_t kPlanDigits = std::size_t{1} << kPlanDigitBits;

// The size a bucket plan aims at, in pairs. Smaller buckets sort faster in
// cache (fewer bits vary in each), down to where per-bucket costs and the
// write-combining lines take over: with 10M uniform INT keys on one thread,
// 8,192 took 84 ms, 16,384 88 ms, 32,768 90 ms and 65,536 107 ms.
inline constexpr std::size_t kBucketTarget = 8192;

// The most bytes of pairs a bucket may hold and still be sorted by in-cache
// passes; larger ones are split again (PairLargeBucket.h). A plan digit that
// holds more than the target by itself still sorts here, as uniform floats'
// densest digits and skewed keys' heavy digits do: splitting is dearer than
// passes that spill from L2 to the last-level cache. With 10M keys on one
// thread, 2 MiB against 512 KiB took skewed INT keys from 110 to 99 ms and
// uniform INT from 76 to 70 ms; uniform BIGFLOAT took 357 ms at 4 MiB against
// 254 at 1 and 2 MiB.
inline constexpr std::size_t kLeafMaxBytes = std::size_t{2} << 20;

// The most pairs of pairBytes a bucket sorted in cache holds.
constexpr std::size_t LeafMaxPairs(std::size_t pairBytes) { return kLeafMaxBytes / pairBytes; }
template <class Format>
inline constexpr std::size_t kLeafMaxPairs = LeafMaxPairs(sizeof(typename Format::Pair));

// The most buckets one plan makes: bounds the write-combining buffers
// (64 bytes each per thread) and the per-thread offsets.
inline constexpr std::size_t kMaxBuckets = 4096;

// Digits of the in-cache passes: at most 11 bits (2,048 counters, 8 KiB),
// the widest whose counters and write positions stay in L1.
inline constexpr unsigned kLeafDigitBits = 11;

// Leaves this small are sorted by insertion, below the cost of one counting
// sweep.
inline constexpr std::size_t kInsertionPairs = 24;

}  // namespace EvalCore::PairDetail
