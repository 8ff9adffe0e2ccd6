#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

#include "cpu_sort/MultiThreadedSort.h"
#include "cpu_sort/RadixPassKernels.h"

// Counting by rows in the multi-threaded sort (MultiThreadedSort.h): pass 0
// counts every digit of its chunk's keys, each scatter counts the next
// digits of what it places into rows, and the next pass's chunk histograms
// come from those rows.
namespace EvalCore::Detail {

template <class Value>
inline void MultiThreadedSort<Value>::PrepareRows(Pass& pass) {
    if (pass.number == 0) {
        std::uint32_t* totals = EveryDigitBlock(0);
        for (unsigned long t = 1; t < T; ++t) {
            const std::uint32_t* other = EveryDigitBlock(t);
            for (std::size_t i = radix; i < Layout::passes * radix; ++i) totals[i] += other[i];
        }
        const std::size_t rowsPerWorker = NextDigitRows(counting, T) / T;
        for (unsigned digit = 1; digit < Layout::passes; ++digit)
            countedInScatter[digit] = rowsPerWorker * TouchedRowBytes(digit) <= kRowBytesCountedInScatter;
    }
    pass.countNext = pass.number + 1 < Layout::passes && countedInScatter[pass.number + 1];
    if (pass.countNext && counting == ChunkCounting::UpperChunkCounts) nextValues = FewValuesOf(pass.number + 1);
}

template <class Value>
inline std::size_t MultiThreadedSort<Value>::TouchedRowBytes(unsigned pass) {
    constexpr std::size_t lineCounters = kCounterTableAlignment / sizeof(std::uint32_t);
    const std::uint32_t* totals = Totals(pass);
    std::size_t lines = 0;
    for (std::size_t line = 0; line < radix; line += lineCounters)
        lines += std::any_of(totals + line, totals + line + lineCounters, [](std::uint32_t c) { return c != 0; });
    return lines * kCounterTableAlignment;
}

template <class Value>
inline std::optional<std::pair<std::uint32_t, std::uint32_t>> MultiThreadedSort<Value>::FewValuesOf(unsigned pass) {
    std::uint32_t found[2] = {};
    unsigned count = 0;
    const std::uint32_t* totals = Totals(pass);
    for (std::size_t d = 0; d < radix; ++d) {
        if (totals[d] == 0) continue;
        if (count == 2) return std::nullopt;
        found[count++] = static_cast<std::uint32_t>(d);
    }
    return std::pair{found[0], count == 2 ? found[1] : found[0]};
}

template <class Value>
inline void MultiThreadedSort<Value>::CountEveryDigitOfChunk(const Pass& pass, unsigned long t) {
    std::uint32_t* every = EveryDigitBlock(t);
    std::fill_n(every, Layout::passes * radix, 0u);
    WithEntries(pass.identityEntries, pass.source,
                [&](const auto& entries) { CountEveryDigit(values, entries, bounds[t], bounds[t + 1], every); });
    std::copy_n(every, radix, histogram[t]);
}

template <class Value>
inline void MultiThreadedSort<Value>::CountChunkFromTotals(const Pass& pass, unsigned long t) {
    std::uint32_t* counters = histogram[t];
    const std::uint32_t* upper0 = UpperRow(0);
    const std::uint32_t* upper1 = UpperRow(1);
    if (t == 1) {
        for (std::size_t d = 0; d < radix; ++d) counters[d] = upper0[d] + upper1[d];
        return;
    }
    const std::uint32_t* totals = Totals(pass.number);
    for (std::size_t d = 0; d < radix; ++d) counters[d] = totals[d] - upper0[d] - upper1[d];
}

template <class Value>
inline void MultiThreadedSort<Value>::SumNextDigitRows(unsigned long t) {
    std::uint32_t* counters = histogram[t];
    std::copy_n(NextRow(0, t), radix, counters);
    for (unsigned long u = 1; u < T; ++u) {
        const std::uint32_t* row = NextRow(u, t);
        for (std::size_t d = 0; d < radix; ++d) counters[d] += row[d];
    }
}

}  // namespace EvalCore::Detail
