#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "cpu_sort/ChunkCounting.h"
#include "cpu_sort/DigitPairCounts.h"
#include "cpu_sort/RadixPassKernels.h"
#include "cpu_sort/WorkerChunks.h"
#include "cpu_sort/WorkerThreads.h"

// The state and phases of the multi-threaded index sort
// (MultiThreadedRadixSort.h): what each member does is said here; the phases
// are defined one file each, the count (ChunkCountPhase.h), the counting by
// rows that feeds it from the scatter before (RowCounting.h), the sum over the
// chunks (ChunkSumPhase.h) and the scatter (ChunkScatterPhase.h).
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
    void CountChunk(const Pass& pass, unsigned long t);

    // Counting by rows, on the calling thread between a pass's count and
    // scatter: after pass 0's count the workers' blocks are summed into block
    // 0 (Totals), which decide the digits the scatters count
    // (kRowBytesCountedInScatter); before a scatter that counts the next
    // digits with two workers, the values that digit takes, if only one or two.
    void PrepareRows(Pass& pass);

    // The bytes of one row whose cache lines hold a counter of a value digit
    // `pass` takes.
    std::size_t TouchedRowBytes(unsigned pass);

    // The one or two values digit `pass` takes over all keys; none when it
    // takes more.
    std::optional<std::pair<std::uint32_t, std::uint32_t>> FewValuesOf(unsigned pass);

    // Counting by rows, pass 0: every digit of chunk t's keys, for the
    // totals, and the first one for the chunk's histogram.
    void CountEveryDigitOfChunk(const Pass& pass, unsigned long t);

    // Upper-chunk counts after pass 0: chunk 1 received what the previous
    // scatter counted into the upper rows, and chunk 0 the rest of the
    // digit's totals.
    void CountChunkFromTotals(const Pass& pass, unsigned long t);

    // Pass 0 reads the keys of chunk t for digit 0 and counts their digit
    // pairs into worker t's pair table; later passes take their counts from
    // the pair tables of all workers and the run starts of the previous pass.
    void CountChunkWithPairs(const Pass& pass, unsigned long t);

    // Chunk t of this pass received row t from every worker's block in the
    // previous scatter.
    void SumNextDigitRows(unsigned long t);

    void CountChunkKeys(const Pass& pass, unsigned long t);

    // Counter d of histogram t becomes the number of entries with digit d in
    // chunks 0 ... t.
    void SumOverChunks();

    // runStart[d]: the first slot of the destination that holds digit d,
    // from the totals in the last histogram. Writes every entry, so the
    // previous pass's starts need no clearing.
    void ComputeRunStarts();

    // Chunk t's entries with digit d fill runStart[d] + (count of d in chunks
    // before t) up to runStart[d] + (count in chunks 0 ... t) - 1 from the
    // top, so chunks stay in order and each chunk stays stable.
    void ScatterChunk(const Pass& pass, unsigned long t);

    // After a failed phase: the scatter may have half-written `indices`; the
    // source holds the complete previous pass, so the caller keeps its
    // entries. The first pass with initIndices left `indices` as the caller
    // gave it; it gets the entries 0 ... n - 1 it asked for.
    void KeepEntries(const Pass& pass);

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

}  // namespace EvalCore::Detail
