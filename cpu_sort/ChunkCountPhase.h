#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "cpu_sort/DigitPairCounts.h"
#include "cpu_sort/MultiThreadedSort.h"
#include "cpu_sort/RadixPassKernels.h"
#include "cpu_sort/RowCounting.h"

// The count phase of the multi-threaded sort (MultiThreadedSort.h): each
// worker fills its chunk's histogram, from the keys, from the digit pairs of
// pass 0 or from the rows the scatter before counted (RowCounting.h).
namespace EvalCore::Detail {

template <class Value>
inline void MultiThreadedSort<Value>::CountChunk(const Pass& pass, unsigned long t) {
    if constexpr (radix == 256) {
        if (counting == ChunkCounting::DigitPairs) {
            CountChunkWithPairs(pass, t);
            return;
        }
    }
    if (CountsByRows() && pass.number == 0) {
        CountEveryDigitOfChunk(pass, t);
        return;
    }
    if (CountsByRows() && countedInScatter[pass.number]) {
        if (counting == ChunkCounting::NextDigitTables)
            SumNextDigitRows(t);
        else
            CountChunkFromTotals(pass, t);
        return;
    }
    CountChunkKeys(pass, t);
}

template <class Value>
inline void MultiThreadedSort<Value>::CountChunkWithPairs(const Pass& pass, unsigned long t) {
    std::uint32_t* counters = histogram[t];
    std::fill_n(counters, radix, 0u);
    if (pass.number > 0) {
        CountDigitFromPairs(values, pass.source, bounds[t], bounds[t + 1], pass.number, runStart.data(), n, pairTables,
                            T, counters);
    } else {
        std::uint32_t* pairs = pairTables + t * kPairTable;
        std::fill_n(pairs, kPairTable, 0u);
        WithEntries(pass.identityEntries, pass.source, [&](const auto& entries) {
            CountFirstDigitAndPairs(values, entries, bounds[t], bounds[t + 1], counters, pairs);
        });
    }
}

template <class Value>
inline void MultiThreadedSort<Value>::CountChunkKeys(const Pass& pass, unsigned long t) {
    std::uint32_t* counters = histogram[t];
    std::fill_n(counters, radix, 0u);
    WithEntries(pass.identityEntries, pass.source, [&](const auto& entries) {
        CountDigits(values, entries, bounds[t], bounds[t + 1], pass.shift, counters);
    });
}

}  // namespace EvalCore::Detail
