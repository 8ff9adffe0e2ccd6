#pragma once

#include <cstddef>
#include <cstdint>

#include "cpu_sort/ChunkCountPhase.h"
#include "cpu_sort/ChunkScatterPhase.h"
#include "cpu_sort/ChunkSumPhase.h"
#include "cpu_sort/MultiThreadedSort.h"
#include "cpu_sort/RadixPassKernels.h"
#include "cpu_sort/RowCounting.h"

// The index sort of IndexRadixSort.h on T worker threads per phase: the index
// arrays cut into T chunks, every pass a parallel count per chunk, a sum over
// the chunks and a parallel scatter of every chunk into its own slots. Same
// permutation, entry for entry, as the single-threaded sort.
namespace EvalCore::Detail {

// The same permutation as SortSingleThreaded, computed by `threadCount`
// workers per phase (2 ... kMaxWorkers). Each pass: a parallel count of every
// chunk's digits into the chunk's own histogram, a running sum of the
// histograms over the chunks, and a parallel scatter of every chunk into its
// own disjoint slots. `histograms` holds threadCount histograms of
// DigitLayout::radix counters, one after the other.
//
// `workerTables` holds WorkerTableCounters(n, threadCount) counters,
// kCounterTableAlignment-aligned (GrowWorkerTables). Every call-local table is
// allocated before `indices` is touched, so an allocation failure leaves
// `indices` as it was. If a worker cannot be started, the started ones are
// joined and the error propagates; `indices` then holds its n entries in an
// unspecified order.
template <class Value>
void SortMultiThreaded(const Value* values, std::size_t n, std::uint32_t* indices, bool initIndices,
                       std::uint32_t* scratch, std::uint32_t* histograms, std::uint32_t* workerTables,
                       unsigned long threadCount) {
    MultiThreadedSort<Value> sort(values, n, indices, initIndices, scratch, histograms, workerTables, threadCount);
    for (unsigned pass = 0; pass < DigitLayout<Value>::passes; ++pass) sort.RunPass(pass);
}

}  // namespace EvalCore::Detail
