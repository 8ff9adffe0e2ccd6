#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "cpu_sort/RadixPassKernels.h"

// Per-chunk digit counts of the multi-threaded 8-bit-digit sort, taken from
// the keys once instead of once per pass.
//
// Pass k + 1 of the multi-threaded sort needs, for every chunk of its source
// (the array pass k wrote), the histogram of digit k + 1 over the entries in
// that chunk. Pass k put the entries of its digit d in one run of slots,
// [offsets[d], offsets[d + 1]). A chunk therefore holds whole runs, and at its
// ends parts of at most two more. The whole runs' histograms of digit k + 1
// are columns of the pair counts: how many keys have digit k = d and digit
// k + 1 = x, which is the count of the 16-bit key field d + 256 x at shift 8k.
// Pair counts do not depend on the order of the entries, so they are counted
// for all three passes in the first pass's count sweep. Only the entries of
// the parts of runs are read through the indices, a few per chunk unless many
// keys share a digit.
namespace EvalCore::Detail {

inline constexpr std::size_t kPairFields = 3;  // digits (0, 1), (1, 2) and (2, 3)
inline constexpr std::size_t kPairCounters = 65'536;
inline constexpr std::size_t kPairTable = kPairFields * kPairCounters;  // counters per worker

// Each worker's pair table takes 768 KiB and is filled with random
// increments; below two entries per counter, clearing, filling and summing
// the tables costs more than the key reads they save.
inline constexpr bool PairCountsPayOff(std::size_t n, unsigned long workers) { return workers <= n / (2 * kPairTable); }

// Adds digit 0 of the keys of the entries source[first, last) to `counters`
// (256) and their three digit pairs to `pairs` (kPairTable: field k's counts
// at k x kPairCounters). `source` is an index array or IdentityEntries.
template <class Value, class Entries>
void CountFirstDigitAndPairs(const Value* values, const Entries& source, std::size_t first, std::size_t last,
                             std::uint32_t* counters, std::uint32_t* pairs) {
    static_assert(DigitLayout<Value>::radix == 256);
    std::uint32_t* pairs01 = pairs;
    std::uint32_t* pairs12 = pairs + kPairCounters;
    std::uint32_t* pairs23 = pairs + 2 * kPairCounters;
    ForEachKey(values, source, first, last, [&](Value value) {
        const auto key = SortKey(value);
        ++counters[key & 0xFF];
        ++pairs01[key & 0xFFFF];
        ++pairs12[(key >> 8) & 0xFFFF];
        ++pairs23[key >> 16];
    });
}

// Adds to `counters` (256) the histogram of digit `pass` (1, 2 or 3) over the
// entries source[first, last), where `source` is what pass - 1 wrote and
// runStart[d] (256 entries; n past the last) is where that pass began the run
// of its digit d. pairTables holds tableCount tables of kPairTable counters,
// whose sum over the tables counts every key once.
template <class Value>
void CountDigitFromPairs(const Value* values, const std::uint32_t* source, std::size_t first, std::size_t last,
                         unsigned pass, const std::uint32_t* runStart, std::size_t n, const std::uint32_t* pairTables,
                         unsigned long tableCount, std::uint32_t* counters) {
    constexpr std::size_t digits = 256;
    static_assert(DigitLayout<Value>::radix == digits);
    const unsigned shift = pass * DigitLayout<Value>::bits;
    const auto runEnd = [&](std::size_t d) -> std::size_t { return d + 1 < digits ? runStart[d + 1] : n; };

    // Whole runs are the digits [wholeFirst, wholeLast); empty runs in
    // between count nothing.
    std::size_t wholeFirst = digits, wholeLast = 0;
    for (std::size_t d = 0; d < digits; ++d) {
        const std::size_t start = runStart[d], end = runEnd(d);
        if (start >= end || end <= first || start >= last) continue;
        if (start >= first && end <= last) {
            wholeFirst = std::min(wholeFirst, d);
            wholeLast = d + 1;
        } else {
            CountDigits(values, source, std::max(start, first), std::min(end, last), shift, counters);
        }
    }
    if (wholeFirst >= wholeLast) return;

    const std::size_t field = (pass - 1) * kPairCounters;
    for (unsigned long t = 0; t < tableCount; ++t) {
        const std::uint32_t* pairs = pairTables + t * kPairTable + field;
        for (std::size_t x = 0; x < digits; ++x) {
            const std::uint32_t* withNextDigitX = pairs + x * digits;
            std::uint32_t sum = 0;
            for (std::size_t d = wholeFirst; d < wholeLast; ++d) sum += withNextDigitX[d];
            counters[x] += sum;
        }
    }
}

}  // namespace EvalCore::Detail
