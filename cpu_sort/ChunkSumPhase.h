#pragma once

#include <cstddef>

#include "cpu_sort/MultiThreadedSort.h"
#include "cpu_sort/WorkerThreads.h"

// Between the multi-threaded sort's count and scatter (MultiThreadedSort.h):
// the chunks' histograms summed over the chunks, and where each digit's run
// starts.
namespace EvalCore::Detail {

template <class Value>
inline void MultiThreadedSort<Value>::SumOverChunks() {
    if constexpr (radix <= 256) {
        for (unsigned long t = 1; t < T; ++t)
            for (std::size_t d = 0; d < radix; ++d) histogram[t][d] += histogram[t - 1][d];
    } else {
        // 65,536 digits are worth spreading: the digit ranges are
        // disjoint, so no two workers touch the same counter.
        RunWorkers(workers, T, [&](unsigned long j, unsigned long) {
            const unsigned long first = digitRanges[j], last = digitRanges[j + 1];
            for (unsigned long t = 1; t < T; ++t)
                for (unsigned long d = first; d < last; ++d) histogram[t][d] += histogram[t - 1][d];
        });
    }
}

template <class Value>
inline void MultiThreadedSort<Value>::ComputeRunStarts() {
    runStart[0] = 0;
    for (std::size_t d = 0; d + 1 < radix; ++d) runStart[d + 1] = runStart[d] + histogram[T - 1][d];
}

}  // namespace EvalCore::Detail
