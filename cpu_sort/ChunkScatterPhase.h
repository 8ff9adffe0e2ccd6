#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <numeric>

#include "cpu_sort/MultiThreadedSort.h"
#include "cpu_sort/RadixPassKernels.h"

// The scatter phase of the multi-threaded sort (MultiThreadedSort.h): each
// worker places its chunk's entries into its own slots, counting the next
// digits on the way when the rows ask for them (RowCounting.h), and what is
// kept when a phase fails.
namespace EvalCore::Detail {

template <class Value>
inline void MultiThreadedSort<Value>::ScatterChunk(const Pass& pass, unsigned long t) {
    const bool upperOnly = counting == ChunkCounting::UpperChunkCounts;
    std::uint32_t* next = !pass.countNext ? nullptr : upperOnly ? UpperRow(t) : NextRow(t, 0);
    if (pass.countNext) std::fill_n(next, upperOnly ? radix : T * radix, 0u);
    if (bounds[t] == bounds[t + 1]) return;
    std::uint32_t* slotEnd = histogram[t];
    for (std::size_t d = 0; d < radix; ++d) slotEnd[d] += runStart[d];
    // placed(value, slot) sees every entry placed.
    const auto scatter = [&](const auto& placed) {
        WithEntries(pass.identityEntries, pass.source, [&](const auto& entries) {
            ScatterBackwards(values, entries, bounds[t], bounds[t + 1], pass.shift, slotEnd, pass.destination, placed);
        });
    };
    const unsigned nextShift = pass.shift + Layout::bits;
    const std::uint32_t upperStart = static_cast<std::uint32_t>(bounds[1]);
    if (!pass.countNext) {
        scatter([](Value, std::uint32_t) {});
    } else if (!upperOnly) {
        scatter(
            [&](Value value, std::uint32_t slot) { ++next[chunkOf(slot) * radix + Layout::Digit(value, nextShift)]; });
    } else if (!nextValues) {
        scatter([&](Value value, std::uint32_t slot) {
            next[Layout::Digit(value, nextShift)] += slot >= upperStart ? 1u : 0u;
        });
    } else {
        // Keys whose next digit takes one or two values, as the high
        // digits of small numbers do: counted in registers, since the
        // increments of two counters in random turns stall the loop (see
        // ChooseChunkCounting).
        const auto [first, second] = *nextValues;
        std::uint32_t upper = 0, upperSecond = 0;
        scatter([&](Value value, std::uint32_t slot) {
            const std::uint32_t inUpper = slot >= upperStart ? 1u : 0u;
            upper += inUpper;
            upperSecond += Layout::Digit(value, nextShift) == second ? inUpper : 0u;
        });
        next[second] = upperSecond;
        next[first] += upper - upperSecond;
    }
}

template <class Value>
inline void MultiThreadedSort<Value>::KeepEntries(const Pass& pass) {
    if (pass.identityEntries)
        std::iota(indices, indices + n, std::uint32_t{0});
    else if (pass.source == scratch)
        std::memcpy(indices, scratch, n * sizeof(std::uint32_t));
}

}  // namespace EvalCore::Detail
