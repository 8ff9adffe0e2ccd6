#pragma once

#include "cpu_sort/SortKey.h"
#include "cpu_sort/WorkerThreads.h"
#include "support/Tools.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <thread>
#include <vector>

// The least-significant-digit index sort shared by RadixSort32 and
// RadixSort64: four passes of one digit each, 8-bit digits for 32-bit keys and
// 16-bit digits for 64-bit keys. Only 4-byte indices move; every pass reads the
// keys through them and transforms them on the fly.
namespace EvalCore::Detail {

template <class Value>
struct DigitLayout {
    static constexpr unsigned bits = sizeof(Value) == 4 ? 8 : 16;
    static constexpr std::size_t radix = std::size_t{1} << bits;  // counters per histogram
    static constexpr unsigned passes = 4;

    static std::uint32_t Digit(Value value, unsigned shift) {
        return static_cast<std::uint32_t>(SortKey(value) >> shift) & (radix - 1);
    }
};

// Single-threaded sort of indices[0, n) by the keys of values[indices[i]].
// `scratch` holds n entries; `histogram` holds DigitLayout::radix counters.
// Stable: equal keys keep their order in `indices` at the start (ascending
// index order when initIndices writes 0 ... n - 1 first).
template <class Value>
void SortSingleThreaded(const Value* values, std::size_t n, std::uint32_t* indices, bool initIndices,
                        std::uint32_t* scratch, std::uint32_t* histogram) {
    using Layout = DigitLayout<Value>;
    if (initIndices) std::iota(indices, indices + n, std::uint32_t{0});

    for (unsigned pass = 0; pass < Layout::passes; ++pass) {
        // Passes alternate so that the fourth one ends in `indices`.
        const std::uint32_t* source = pass % 2 == 0 ? indices : scratch;
        std::uint32_t* destination = pass % 2 == 0 ? scratch : indices;
        const unsigned shift = pass * Layout::bits;

        std::fill_n(histogram, Layout::radix, 0u);
        for (std::size_t p = 0; p < n; ++p) ++histogram[Layout::Digit(values[source[p]], shift)];
        for (std::size_t d = 1; d < Layout::radix; ++d) histogram[d] += histogram[d - 1];
        // Walking backwards and filling each digit's slots from the top keeps
        // the pass stable.
        for (std::size_t p = n; p-- > 0;) {
            const std::uint32_t entry = source[p];
            destination[--histogram[Layout::Digit(values[entry], shift)]] = entry;
        }
    }
}

// The chunk bounds of T workers are T + 1 positions counted in 32 bits.
inline constexpr unsigned long kMaxWorkers = 4'294'967'294ul;

// Chunk t of n positions over T workers is [bounds[t], bounds[t + 1]); the
// first n mod T chunks are one position longer.
inline std::vector<unsigned long> SplitEvenly(unsigned long n, unsigned long parts) {
    return AppCore::Tools::SplitRange(0, n, static_cast<unsigned int>(parts));
}

// The same permutation as SortSingleThreaded, computed by `threadCount`
// workers per phase (threadCount >= 2, at most 4,294,967,294). Each pass: a
// parallel count of every chunk's digits into the chunk's own histogram, a
// running sum of the histograms over the chunks, and a parallel scatter of
// every chunk into its own disjoint slots. `histograms` holds threadCount
// histograms of DigitLayout::radix counters, one after the other.
//
// Every call-local table is allocated before `indices` is touched, so an
// allocation failure leaves `indices` as it was. If a worker cannot be started,
// the started ones are joined and the error propagates; `indices` then holds
// its n entries in an unspecified order.
template <class Value>
void SortMultiThreaded(const Value* values, std::size_t n, std::uint32_t* indices, bool initIndices,
                       std::uint32_t* scratch, std::uint32_t* histograms, unsigned long threadCount) {
    using Layout = DigitLayout<Value>;
    constexpr std::size_t radix = Layout::radix;
    const unsigned long T = threadCount;

    const std::vector<unsigned long> bounds = SplitEvenly(n, T);
    std::vector<std::uint32_t*> histogram(T);
    for (unsigned long t = 0; t < T; ++t) histogram[t] = histograms + t * radix;
    std::vector<std::uint32_t> offsets(radix, 0);
    std::vector<unsigned long> digitRanges;
    if constexpr (radix > 256) digitRanges = SplitEvenly(radix, T);
    std::vector<std::thread> workers;
    workers.reserve(T);

    if (initIndices) std::iota(indices, indices + n, std::uint32_t{0});

    for (unsigned pass = 0; pass < Layout::passes; ++pass) {
        const std::uint32_t* source = pass % 2 == 0 ? indices : scratch;
        std::uint32_t* destination = pass % 2 == 0 ? scratch : indices;
        const unsigned shift = pass * Layout::bits;
        try {
            RunWorkers(workers, T, [&](unsigned long t, unsigned long) {
                std::uint32_t* counters = histogram[t];
                std::fill_n(counters, radix, 0u);
                for (unsigned long p = bounds[t]; p < bounds[t + 1]; ++p)
                    ++counters[Layout::Digit(values[source[p]], shift)];
            });

            // Counter d of histogram t becomes the number of entries with
            // digit d in chunks 0 ... t.
            if constexpr (radix <= 256) {
                for (unsigned long t = 1; t < T; ++t)
                    for (std::size_t d = 0; d < radix; ++d) histogram[t][d] += histogram[t - 1][d];
                std::fill(offsets.begin(), offsets.end(), 0u);
            } else {
                // 65,536 digits are worth spreading: the digit ranges are
                // disjoint, so no two workers touch the same counter.
                RunWorkers(workers, T, [&](unsigned long j, unsigned long) {
                    const unsigned long first = digitRanges[j], last = digitRanges[j + 1];
                    std::fill(offsets.begin() + first, offsets.begin() + last, 0u);
                    for (unsigned long t = 1; t < T; ++t)
                        for (unsigned long d = first; d < last; ++d) histogram[t][d] += histogram[t - 1][d];
                });
            }

            offsets[0] = 0;
            for (std::size_t d = 0; d + 1 < radix; ++d) offsets[d + 1] = offsets[d] + histogram[T - 1][d];

            // Chunk t's entries with digit d fill offsets[d] + (count of d in
            // chunks before t) up to offsets[d] + (count in chunks 0 ... t) - 1
            // from the top, so chunks stay in order and each chunk stays stable.
            RunWorkers(workers, T, [&](unsigned long t, unsigned long) {
                std::uint32_t* counters = histogram[t];
                for (unsigned long p = bounds[t + 1]; p-- > bounds[t];) {
                    const std::uint32_t entry = source[p];
                    const std::uint32_t digit = Layout::Digit(values[entry], shift);
                    destination[offsets[digit] + --counters[digit]] = entry;
                }
            });
        } catch (...) {
            // The scatter may have half-written `indices`; the source holds
            // the complete previous pass, so the caller keeps its entries.
            if (source == scratch) std::memcpy(indices, scratch, n * sizeof(std::uint32_t));
            throw;
        }
    }
}

}  // namespace EvalCore::Detail
