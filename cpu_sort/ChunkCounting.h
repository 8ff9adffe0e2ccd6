#pragma once

#include <cstddef>
#include <cstdint>

#include "cpu_sort/DigitPairCounts.h"
#include "cpu_sort/RadixPassKernels.h"
#include "support/CharBuffer.h"

// The ways the multi-threaded sort (MultiThreadedRadixSort.h) can count a
// chunk's digits, which one a sort of n keys on T workers takes, and the
// worker tables each needs.
namespace EvalCore::Detail {

// Where a chunk's digit histogram comes from in the count phase of passes 1
// to 3; pass 0 always reads the keys. Pairs, next-digit tables and upper-chunk
// counts avoid reading every key through the permuted indices once more. The
// last two count by rows: pass 0's sweep counts every digit, and a pass whose
// digit the scatter before it did not count (kRowBytesCountedInScatter) reads
// its chunk's keys after all.
enum class ChunkCounting {
    Keys,              // read every key of the chunk through the indices
    DigitPairs,        // 8-bit digits: columns of the pair counts (DigitPairCounts.h)
    NextDigitTables,   // sum the rows the previous scatter counted
    UpperChunkCounts,  // two workers: the upper chunk's rows as above, the lower chunk's the totals less those
};

// In the two ways of counting by rows, a scatter counts the next digits only
// while the part of its rows that digit's values touch stays within this many
// bytes; otherwise the next pass counts its chunks' keys. Rows that outgrow a
// core's cache turn every increment into a miss: with 10M 8-byte keys on eight
// workers, a middle digit taking every value spreads each worker's increments
// over 2 MiB, and reading the keys again instead took the sort from about 290
// to 220 ms here (four workers, 1 MiB: about 6% faster).
inline constexpr std::size_t kRowBytesCountedInScatter = 512 * 1024;

// The workers' counter tables beyond the chunk histograms start on a cache
// line, and every worker's part of a table is a whole number of 64-byte lines,
// so no two workers' counters share a line, which would make their increments
// contend for it.
inline constexpr std::size_t kCounterTableAlignment = 64;

// Digit pairs (8-bit digits) as long as their tables are small beside the
// data; they are faster than the next-digit tables because they keep the
// scatter loops free of extra stores. The T x T next-digit histograms pay off
// only when they are small beside the data. Two workers count only the upper
// chunk's next digits, adding 0 or 1 to the counter of the entry's next digit:
// where a digit takes few values, increments into a counter chosen by chunk
// and digit hit the same counters in an unpredictable order, which stalls the
// scatter loop (with 10M 8-byte keys below 2^24 the two-worker sort took about
// 5% less time this way).
template <class Value>
ChunkCounting ChooseChunkCounting(std::size_t n, unsigned long T) {
    constexpr std::size_t radix = DigitLayout<Value>::radix;
    if (radix == 256 && PairCountsPayOff(n, T)) return ChunkCounting::DigitPairs;
    if (T <= 65'536 && T * T * radix <= n)
        return T == 2 ? ChunkCounting::UpperChunkCounts : ChunkCounting::NextDigitTables;
    return ChunkCounting::Keys;
}

// Counting by rows: how many rows of radix counters the workers' scatters
// fill, T per worker for next-digit tables and one per worker for upper-chunk
// counts; none for the other ways of counting.
inline std::size_t NextDigitRows(ChunkCounting counting, unsigned long T) {
    return counting == ChunkCounting::NextDigitTables ? T * T : counting == ChunkCounting::UpperChunkCounts ? T : 0;
}

// How many 32-bit counters the sort of n keys on T workers counts into beyond
// its T chunk histograms: the pair tables, or the next-digit rows followed by
// every worker's block of every digit's counts (each a multiple of 16 counters
// per worker).
template <class Value>
std::size_t WorkerTableCounters(std::size_t n, unsigned long T) {
    using Layout = DigitLayout<Value>;
    const ChunkCounting counting = ChooseChunkCounting<Value>(n, T);
    if (counting == ChunkCounting::DigitPairs) return T * kPairTable;
    const std::size_t rows = NextDigitRows(counting, T);
    return rows == 0 ? 0 : (rows + T * Layout::passes) * Layout::radix;
}

// Grows `block` to hold the worker tables of a sort of n keys on T workers and
// returns them, kCounterTableAlignment-aligned within it. The caller keeps
// the block, so that sorting the same size again neither allocates the tables
// nor touches new pages.
template <class Value>
std::uint32_t* GrowWorkerTables(AppCore::CharBuffer& block, std::size_t n, unsigned long T) {
    const std::size_t counters = WorkerTableCounters<Value>(n, T);
    if (counters == 0) return nullptr;
    block.Grow(counters * sizeof(std::uint32_t) + kCounterTableAlignment);
    const auto start = reinterpret_cast<std::uintptr_t>(block.data);
    return reinterpret_cast<std::uint32_t*>((start + kCounterTableAlignment - 1) / kCounterTableAlignment *
                                            kCounterTableAlignment);
}

}  // namespace EvalCore::Detail
