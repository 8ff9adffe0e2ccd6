#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "cpu_sort/ChunkCounting.h"
#include "cpu_sort/DigitPairCounts.h"
#include "cpu_sort/RadixPassKernels.h"
#include "cpu_sort/WorkerChunks.h"
#include "cpu_sort/WorkerThreads.h"

// The index sort of IndexRadixSort.h on T worker threads per phase: the index
// arrays cut into T chunks, every pass a parallel count per chunk, a sum over
// the chunks and a parallel scatter of every chunk into its own slots. Same
// permutation, entry for entry, as the single-threaded sort.
namespace EvalCore::Detail {

// The tables and phases of SortMultiThreaded. Position range [0, n) of the
// index arrays is cut into threadCount chunks (SplitEvenly), chunk t for
// worker t. Each phase that runs in parallel is a function of the worker
// number t, started for every worker and joined by RunWorkers, so one
// `workers` vector serves every phase.
template <class Value>
class MultiThreadedSort {
public:
    using Layout = DigitLayout<Value>;
    static constexpr std::size_t radix = Layout::radix;

    // Allocates the call's own small tables, so an allocation failure throws
    // std::bad_alloc before `indices` is touched. `histograms` holds
    // threadCount histograms of radix counters, one after the other;
    // `workerTables` holds WorkerTableCounters(n, threadCount) counters,
    // kCounterTableAlignment-aligned, any contents.
    MultiThreadedSort(const Value* values, std::size_t n, std::uint32_t* indices, bool initIndices,
                      std::uint32_t* scratch, std::uint32_t* histograms, std::uint32_t* workerTables,
                      unsigned long threadCount)
        : values(values),
          n(n),
          indices(indices),
          scratch(scratch),
          initIndices(initIndices),
          T(threadCount),
          bounds(SplitEvenly(n, T)),
          chunkOf(n, T),
          histogram(T),
          runStart(radix, 0),
          counting(ChooseChunkCounting<Value>(n, T)),
          pairTables(workerTables),
          nextDigits(workerTables),
          everyDigit(workerTables + NextDigitRows(counting, T) * radix) {
        for (unsigned long t = 0; t < T; ++t) histogram[t] = histograms + t * radix;
        if constexpr (radix > 256) digitRanges = SplitEvenly(radix, T);
        workers.reserve(T);
    }

    // Runs pass `number` (0 ... Layout::passes - 1); the passes before it
    // must have run. If a worker cannot be started, the started ones are
    // joined, `indices` is left holding its n entries (KeepEntries) and the
    // error propagates.
    void RunPass(unsigned number) {
        Pass pass = PassFor(number);
        try {
            RunWorkers(workers, T, [&](unsigned long t, unsigned long) { CountChunk(pass, t); });
            SumOverChunks();
            ComputeRunStarts();
            if (CountsByRows()) PrepareRows(pass);
            RunWorkers(workers, T, [&](unsigned long t, unsigned long) { ScatterChunk(pass, t); });
        } catch (...) {
            KeepEntries(pass);
            throw;
        }
    }

private:
    // One pass's arrays and digit. Passes alternate so that the fourth one
    // ends in `indices`.
    struct Pass {
        unsigned number;
        const std::uint32_t* source;
        std::uint32_t* destination;
        unsigned shift;
        // With initIndices the first pass reads its entries 0 ... n - 1 as
        // positions; `indices` does not hold them.
        bool identityEntries;
        // The scatter counts the next digits for the following pass (set
        // before the scatter, by PrepareRows).
        bool countNext;
    };

    Pass PassFor(unsigned number) const {
        return {number,
                number % 2 == 0 ? indices : scratch,
                number % 2 == 0 ? scratch : indices,
                number * Layout::bits,
                number == 0 && initIndices,
                false};
    }

    bool CountsByRows() const {
        return counting == ChunkCounting::NextDigitTables || counting == ChunkCounting::UpperChunkCounts;
    }

    // Worker t, block t of the next-digit tables: row c counts, for chunk c of
    // the next pass, the next digits of the entries worker t placed in it.
    std::uint32_t* NextRow(unsigned long t, unsigned long c) { return nextDigits + (t * T + c) * radix; }

    // Upper-chunk counts: worker t's row counts the next digits of the entries
    // it placed in chunk 1 of the next pass.
    std::uint32_t* UpperRow(unsigned long t) { return nextDigits + t * radix; }

    // Counting by rows: worker t's block counts every digit of the keys of
    // chunk t of pass 0, pass `pass`'s digit at pass x radix.
    std::uint32_t* EveryDigitBlock(unsigned long t) { return everyDigit + t * Layout::passes * radix; }

    // Counting by rows, after pass 0's count phase: the histogram of digit
    // `pass` (1 ... 3) over all keys.
    const std::uint32_t* Totals(unsigned pass) { return EveryDigitBlock(0) + pass * radix; }

    // Fills histogram t with the digit counts of the pass over chunk t.
    void CountChunk(const Pass& pass, unsigned long t) {
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

    // Counting by rows, on the calling thread between a pass's count and
    // scatter: after pass 0's count the workers' blocks are summed into block
    // 0 (Totals), which decide the digits the scatters count
    // (kRowBytesCountedInScatter); before a scatter that counts the next
    // digits with two workers, the values that digit takes, if only one or two.
    void PrepareRows(Pass& pass) {
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

    // The bytes of one row whose cache lines hold a counter of a value digit
    // `pass` takes.
    std::size_t TouchedRowBytes(unsigned pass) {
        constexpr std::size_t lineCounters = kCounterTableAlignment / sizeof(std::uint32_t);
        const std::uint32_t* totals = Totals(pass);
        std::size_t lines = 0;
        for (std::size_t line = 0; line < radix; line += lineCounters)
            lines += std::any_of(totals + line, totals + line + lineCounters, [](std::uint32_t c) { return c != 0; });
        return lines * kCounterTableAlignment;
    }

    // The one or two values digit `pass` takes over all keys; none when it
    // takes more.
    std::optional<std::pair<std::uint32_t, std::uint32_t>> FewValuesOf(unsigned pass) {
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

    // Counting by rows, pass 0: every digit of chunk t's keys, for the
    // totals, and the first one for the chunk's histogram.
    void CountEveryDigitOfChunk(const Pass& pass, unsigned long t) {
        std::uint32_t* every = EveryDigitBlock(t);
        std::fill_n(every, Layout::passes * radix, 0u);
        WithEntries(pass.identityEntries, pass.source,
                    [&](const auto& entries) { CountEveryDigit(values, entries, bounds[t], bounds[t + 1], every); });
        std::copy_n(every, radix, histogram[t]);
    }

    // Upper-chunk counts after pass 0: chunk 1 received what the previous
    // scatter counted into the upper rows, and chunk 0 the rest of the
    // digit's totals.
    void CountChunkFromTotals(const Pass& pass, unsigned long t) {
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

    // Pass 0 reads the keys of chunk t for digit 0 and counts their digit
    // pairs into worker t's pair table; later passes take their counts from
    // the pair tables of all workers and the run starts of the previous pass.
    void CountChunkWithPairs(const Pass& pass, unsigned long t) {
        std::uint32_t* counters = histogram[t];
        std::fill_n(counters, radix, 0u);
        if (pass.number > 0) {
            CountDigitFromPairs(values, pass.source, bounds[t], bounds[t + 1], pass.number, runStart.data(), n,
                                pairTables, T, counters);
        } else {
            std::uint32_t* pairs = pairTables + t * kPairTable;
            std::fill_n(pairs, kPairTable, 0u);
            WithEntries(pass.identityEntries, pass.source, [&](const auto& entries) {
                CountFirstDigitAndPairs(values, entries, bounds[t], bounds[t + 1], counters, pairs);
            });
        }
    }

    // Chunk t of this pass received row t from every worker's block in the
    // previous scatter.
    void SumNextDigitRows(unsigned long t) {
        std::uint32_t* counters = histogram[t];
        std::copy_n(NextRow(0, t), radix, counters);
        for (unsigned long u = 1; u < T; ++u) {
            const std::uint32_t* row = NextRow(u, t);
            for (std::size_t d = 0; d < radix; ++d) counters[d] += row[d];
        }
    }

    void CountChunkKeys(const Pass& pass, unsigned long t) {
        std::uint32_t* counters = histogram[t];
        std::fill_n(counters, radix, 0u);
        WithEntries(pass.identityEntries, pass.source, [&](const auto& entries) {
            CountDigits(values, entries, bounds[t], bounds[t + 1], pass.shift, counters);
        });
    }

    // Counter d of histogram t becomes the number of entries with digit d in
    // chunks 0 ... t.
    void SumOverChunks() {
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

    // runStart[d]: the first slot of the destination that holds digit d,
    // from the totals in the last histogram. Writes every entry, so the
    // previous pass's starts need no clearing.
    void ComputeRunStarts() {
        runStart[0] = 0;
        for (std::size_t d = 0; d + 1 < radix; ++d) runStart[d + 1] = runStart[d] + histogram[T - 1][d];
    }

    // Chunk t's entries with digit d fill runStart[d] + (count of d in chunks
    // before t) up to runStart[d] + (count in chunks 0 ... t) - 1 from the
    // top, so chunks stay in order and each chunk stays stable.
    void ScatterChunk(const Pass& pass, unsigned long t) {
        const bool upperOnly = counting == ChunkCounting::UpperChunkCounts;
        std::uint32_t* next = !pass.countNext ? nullptr : upperOnly ? UpperRow(t) : NextRow(t, 0);
        if (pass.countNext) std::fill_n(next, upperOnly ? radix : T * radix, 0u);
        if (bounds[t] == bounds[t + 1]) return;
        std::uint32_t* slotEnd = histogram[t];
        for (std::size_t d = 0; d < radix; ++d) slotEnd[d] += runStart[d];
        // placed(value, slot) sees every entry placed.
        const auto scatter = [&](const auto& placed) {
            WithEntries(pass.identityEntries, pass.source, [&](const auto& entries) {
                ScatterBackwards(values, entries, bounds[t], bounds[t + 1], pass.shift, slotEnd, pass.destination,
                                 placed);
            });
        };
        const unsigned nextShift = pass.shift + Layout::bits;
        const std::uint32_t upperStart = static_cast<std::uint32_t>(bounds[1]);
        if (!pass.countNext) {
            scatter([](Value, std::uint32_t) {});
        } else if (!upperOnly) {
            scatter([&](Value value, std::uint32_t slot) {
                ++next[chunkOf(slot) * radix + Layout::Digit(value, nextShift)];
            });
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

    // After a failed phase: the scatter may have half-written `indices`; the
    // source holds the complete previous pass, so the caller keeps its
    // entries. The first pass with initIndices left `indices` as the caller
    // gave it; it gets the entries 0 ... n - 1 it asked for.
    void KeepEntries(const Pass& pass) {
        if (pass.identityEntries)
            std::iota(indices, indices + n, std::uint32_t{0});
        else if (pass.source == scratch)
            std::memcpy(indices, scratch, n * sizeof(std::uint32_t));
    }

    const Value* values;
    std::size_t n;
    std::uint32_t* indices;
    std::uint32_t* scratch;
    bool initIndices;
    unsigned long T;  // workers per phase, one chunk each

    std::vector<unsigned long> bounds;  // chunk t is [bounds[t], bounds[t + 1])
    ChunkOf chunkOf;
    std::vector<std::uint32_t*> histogram;   // histogram[t]: radix counters of chunk t
    std::vector<std::uint32_t> runStart;     // radix entries, of the last pass computed
    std::vector<unsigned long> digitRanges;  // 16-bit digits: worker j sums digits [digitRanges[j], digitRanges[j + 1])
    ChunkCounting counting;
    // The workerTables the counting uses, laid out as WorkerTableCounters counts them:
    std::uint32_t* pairTables;  // digit pairs: T tables of kPairTable counters
    std::uint32_t* nextDigits;  // T blocks of T rows of radix counters; T rows for upper-chunk counts
    // Counting by rows, after the rows: T blocks of passes x radix counters;
    // after pass 0's count, block 0's passes 1 to 3 hold the totals over all
    // keys.
    std::uint32_t* everyDigit;
    // Counting by rows: countedInScatter[k], digit k's chunk histograms come
    // from the rows the scatter of pass k - 1 counted, not from the keys.
    bool countedInScatter[Layout::passes] = {};
    // Upper-chunk counts: the values of the digit after this pass's, when it takes at most two.
    std::optional<std::pair<std::uint32_t, std::uint32_t>> nextValues;
    std::vector<std::thread> workers;
};

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
