#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "cpu_sort/pairs/PairFormat.h"

// The in-cache sort of one bucket: least-significant-digit passes over the
// bits that vary inside the bucket only (its own smallest key subtracted),
// digits of at most kLeafDigitBits, every digit counted in one sweep and a
// digit that is the same for every pair skipped. The last pass writes final
// indices straight into the caller's array. A bucket whose keys are all
// equal is its indices, already in order.
namespace EvalCore::PairDetail {

// Leaves whose keys vary over more bits than two passes sort, or that hold
// fewer pairs than a pass has counters, are split by their top digit first
// (TopDigitLeaf): more passes would each move every pair for few bits of
// order. For 4-byte uniform keys two passes beat a top digit and insertion
// sorts by far (10M INT: 70 against 165 ms).
//
// Counters for nested top-digit splits, each holding its digit's counters,
// down to at most two passes; a leaf that would need more sorts by
// comparison (ComparisonLeaf).
inline constexpr std::size_t kLeafCounters = std::size_t{16} << kLeafDigitBits;
// A top digit's share of a uniform leaf averages a handful of pairs; up to
// this many, insertion beats clearing a digit's counters.
inline constexpr std::size_t kTopDigitInsertionPairs = 64;

// Writes the indices of pairs[0, count) to out[0, count).
template <class Format>
void WriteIndices(const typename Format::Pair* pairs, std::size_t count, std::uint32_t* out) {
    for (std::size_t j = 0; j < count; ++j) out[j] = Format::IndexOf(pairs[j]);
}

// Lines of the bucket a worker will sort next, fetched a few at a time while
// the passes of this one run in cache, so that the next bucket's first sweep
// does not wait on memory line by line.
struct UpcomingLines {
    const char* next = nullptr;
    const char* end = nullptr;
    char* nextOut = nullptr;  // the indices it will write, fetched for writing
    char* outEnd = nullptr;

    void FetchOne() {
        if (next < end) {
            __builtin_prefetch(next, 0, 2);
            next += 64;
        } else if (nextOut < outEnd) {
            __builtin_prefetch(nextOut, 1, 2);
            nextOut += 64;
        }
    }
};

// The passes of SortLeaf for `passes` digits of `bits` over keys less
// `lowest`: a fixed count, so the counting sweep's inner loop unrolls.
template <class Format, unsigned passes>
void LeafPasses(typename Format::Pair* pairs, std::size_t count, typename Format::Pair* buffer, std::uint32_t* out,
                std::uint32_t* counters, typename Format::Key lowest, unsigned bits, UpcomingLines& upcoming) {
    using Pair = typename Format::Pair;
    using Key = typename Format::Key;
    const std::size_t radix = std::size_t{1} << bits;
    const Key mask = static_cast<Key>(radix - 1);
    std::fill_n(counters, passes * radix, 0u);
    for (std::size_t j = 0; j < count; ++j) {
        const Key key = static_cast<Key>(Format::KeyOf(pairs[j]) - lowest);
        for (unsigned p = 0; p < passes; ++p) ++counters[p * radix + ((key >> (p * bits)) & mask)];
    }
    // Exclusive prefix sums; a pass whose digit is one value for every pair
    // moves nothing and is dropped.
    unsigned kept[passes];
    unsigned keptCount = 0;
    const Key firstKey = static_cast<Key>(Format::KeyOf(pairs[0]) - lowest);
    for (unsigned p = 0; p < passes; ++p) {
        std::uint32_t* c = counters + p * radix;
        if (c[(firstKey >> (p * bits)) & mask] == count) continue;
        std::uint32_t sum = 0;
        for (std::size_t d = 0; d < radix; ++d) {
            const std::uint32_t here = c[d];
            c[d] = sum;
            sum += here;
        }
        kept[keptCount++] = p;
    }
    if (keptCount == 0) return WriteIndices<Format>(pairs, count, out);
    Pair* source = pairs;
    Pair* destination = buffer;
    for (unsigned k = 0; k + 1 < keptCount; ++k) {
        const unsigned shift = kept[k] * bits;
        std::uint32_t* c = counters + kept[k] * radix;
        for (std::size_t j = 0; j < count; ++j) {
            if (j % 4 == 0) upcoming.FetchOne();
            const Pair pair = source[j];
            destination[c[((Format::KeyOf(pair) - lowest) >> shift) & mask]++] = pair;
        }
        std::swap(source, destination);
    }
    const unsigned shift = kept[keptCount - 1] * bits;
    std::uint32_t* c = counters + kept[keptCount - 1] * radix;
    for (std::size_t j = 0; j < count; ++j) {
        if (j % 4 == 0) upcoming.FetchOne();
        const Pair pair = source[j];
        out[c[((Format::KeyOf(pair) - lowest) >> shift) & mask]++] = Format::IndexOf(pair);
    }
}

// Sorts pairs[0, count) stably by key into out[0, count) by insertion.
template <class Format>
void InsertionLeaf(typename Format::Pair* pairs, std::size_t count, std::uint32_t* out) {
    using Pair = typename Format::Pair;
    for (std::size_t j = 1; j < count; ++j) {
        const Pair moving = pairs[j];
        std::size_t k = j;
        for (; k > 0 && Format::KeyOf(pairs[k - 1]) > Format::KeyOf(moving); --k) pairs[k] = pairs[k - 1];
        pairs[k] = moving;
    }
    WriteIndices<Format>(pairs, count, out);
}

template <class Format>
void SortLeaf(typename Format::Pair* pairs, std::size_t count, typename Format::Pair* buffer, std::uint32_t* out,
              std::uint32_t* counters, typename Format::Key lowest, unsigned varying, UpcomingLines upcoming = {},
              std::size_t counterRoom = kLeafCounters);

// The last resort when nested splits have used up the counters, which only
// keys concentrated over many bits reach: a comparison sort of whole pairs,
// (key, index) order, that needs no buffer.
template <class Format>
void ComparisonLeaf(typename Format::Pair* pairs, std::size_t count, std::uint32_t* out) {
    using Pair = typename Format::Pair;
    std::sort(pairs, pairs + count, [](const Pair& a, const Pair& b) {
        return Format::KeyOf(a) != Format::KeyOf(b) ? Format::KeyOf(a) < Format::KeyOf(b)
                                                    : Format::IndexOf(a) < Format::IndexOf(b);
    });
    WriteIndices<Format>(pairs, count, out);
}

// A leaf with many varying bits, or few pairs for its digits' counters: one
// pass on its top digit into `buffer`, a digit of about count / 8 values, so
// that a uniform leaf's digits hold a handful of pairs each, sorted by
// insertion; larger ones are sorted again, with `pairs` as their buffer.
template <class Format>
void TopDigitLeaf(typename Format::Pair* pairs, std::size_t count, typename Format::Pair* buffer, std::uint32_t* out,
                  std::uint32_t* counters, typename Format::Key lowest, unsigned varying, std::size_t counterRoom) {
    using Key = typename Format::Key;
    const unsigned sizeBits = static_cast<unsigned>(std::bit_width(count));
    const unsigned bits = std::min({varying, kLeafDigitBits, std::max(sizeBits, 5u) - 3});
    const unsigned shift = varying - bits;
    const std::size_t radix = std::size_t{1} << bits;
    std::fill_n(counters, radix, 0u);
    for (std::size_t j = 0; j < count; ++j) ++counters[static_cast<Key>(Format::KeyOf(pairs[j]) - lowest) >> shift];
    std::uint32_t sum = 0;
    for (std::size_t d = 0; d < radix; ++d) {
        const std::uint32_t here = counters[d];
        counters[d] = sum;
        sum += here;
    }
    for (std::size_t j = 0; j < count; ++j)
        buffer[counters[static_cast<Key>(Format::KeyOf(pairs[j]) - lowest) >> shift]++] = pairs[j];
    // counters[d] is now the end of digit d.
    std::uint32_t first = 0;
    for (std::size_t d = 0; d < radix; ++d) {
        const std::uint32_t end = counters[d];
        const std::size_t size = end - first;
        if (size <= kTopDigitInsertionPairs)
            InsertionLeaf<Format>(buffer + first, size, out + first);
        else
            SortLeaf<Format>(buffer + first, size, pairs + first, out + first, counters + radix,
                             static_cast<Key>(lowest + (static_cast<Key>(d) << shift)), shift, {}, counterRoom - radix);
        first = end;
    }
}

// Sorts pairs[0, count) by key, stably, and writes their indices to
// out[0, count), given that every key lies in [lowest, lowest + 2^varying).
// `buffer` holds count pairs, `counters` counterRoom counters; both any
// contents. pairs[] is left in any order.
template <class Format>
void SortLeaf(typename Format::Pair* pairs, std::size_t count, typename Format::Pair* buffer, std::uint32_t* out,
              std::uint32_t* counters, typename Format::Key lowest, unsigned varying, UpcomingLines upcoming,
              std::size_t counterRoom) {
    if (count <= kInsertionPairs) return InsertionLeaf<Format>(pairs, count, out);
    if (varying == 0) return WriteIndices<Format>(pairs, count, out);
    const unsigned passes = (varying + kLeafDigitBits - 1) / kLeafDigitBits;
    const unsigned bits = (varying + passes - 1) / passes;
    // Two passes at most, and no more counters per pass than pairs.
    if (passes <= 2 && (std::size_t{1} << bits) <= count) {
        if (passes * (std::size_t{1} << bits) > counterRoom) return ComparisonLeaf<Format>(pairs, count, out);
        if (passes == 1) return LeafPasses<Format, 1>(pairs, count, buffer, out, counters, lowest, bits, upcoming);
        return LeafPasses<Format, 2>(pairs, count, buffer, out, counters, lowest, bits, upcoming);
    }
    if (counterRoom < (std::size_t{1} << kLeafDigitBits)) return ComparisonLeaf<Format>(pairs, count, out);
    TopDigitLeaf<Format>(pairs, count, buffer, out, counters, lowest, varying, counterRoom);
}

// SortLeaf for pairs whose key range is not known: one sweep finds it.
template <class Format>
void SortLeafOfAnyRange(typename Format::Pair* pairs, std::size_t count, typename Format::Pair* buffer,
                        std::uint32_t* out, std::uint32_t* counters) {
    using Key = typename Format::Key;
    if (count == 0) return;
    Key lowest = Format::KeyOf(pairs[0]), highest = lowest;
    for (std::size_t j = 1; j < count; ++j) {
        const Key key = Format::KeyOf(pairs[j]);
        lowest = std::min(lowest, key);
        highest = std::max(highest, key);
    }
    SortLeaf<Format>(pairs, count, buffer, out, counters, lowest,
                     static_cast<unsigned>(std::bit_width(static_cast<Key>(highest - lowest))));
}

}  // namespace EvalCore::PairDetail
