#pragma once

#include "support/CharBuffer.h"

namespace EvalCore {

// The body RadixSort32 and RadixSort64 share: a least-significant-digit radix
// sort into an index permutation, four passes over the sort keys of SortKey.h
// (8-bit digits for 32-bit keys, 16-bit digits for 64-bit keys). The keys are
// only read; 4-byte indices move.
//
// A sorter keeps its scratch between calls and its buffers only grow, so
// sorting the same or a smaller count again allocates nothing. One object
// serves one sort call at a time. Not copyable.
template <class IntValue, class FloatValue>
class IndexRadixSorter {
public:
    unsigned long count;               // n of the last sort with n > 0 (the constructor's n before)
    AppCore::CharBuffer indexScratch;  // second index array: at least count x 4 bytes after a sort
    AppCore::CharBuffer histograms;    // one histogram of 32-bit digit counters per thread of the widest sort so far
    AppCore::CharBuffer passCounts;    // the single-threaded sort's counts of every pass's digits: 4 histograms
    // The multi-threaded sort's per-worker counting tables (digit pairs,
    // next digits, every digit), as the widest such sort so far needed them,
    // plus room to start them on a cache line.
    AppCore::CharBuffer workerTables;

    // Reserves n x 4 zero-filled bytes of index scratch; histograms stay empty.
    // Throws std::bad_alloc when n > 0 and that block cannot be had.
    explicit IndexRadixSorter(unsigned long n);
    IndexRadixSorter(IndexRadixSorter&&) = default;
    IndexRadixSorter& operator=(IndexRadixSorter&&) = default;
    IndexRadixSorter(const IndexRadixSorter&) = delete;
    IndexRadixSorter& operator=(const IndexRadixSorter&) = delete;

    // Frees indexScratch, histograms, passCounts and workerTables (all become
    // empty) and sets count to 0, so the sorter holds what one constructed
    // with n = 0 holds; its next sort allocates its scratch again.
    void ReleaseScratch() noexcept;

    // Reorders indices[0, n) so that the sort keys of values[indices[0]],
    // values[indices[1]], ... never decrease. With initIndices, indices[i] = i
    // is written first; otherwise the n entries present are sorted, and each
    // must be a valid position in `values`. Stable: equal keys keep the order
    // they had in `indices`. n = 0 changes nothing. n must not exceed
    // 4,294,967,295.
    //
    // Allocation: grows indexScratch to n x 4 bytes, histograms to one
    // histogram and passCounts to four; when that fails, std::bad_alloc leaves
    // `indices` untouched (count already holds n).
    void SortINT(const IntValue* values, unsigned long n, unsigned int* indices, bool initIndices);
    void SortFLT(const FloatValue* values, unsigned long n, unsigned int* indices, bool initIndices);

    // The same permutation, computed by `threadCount` worker threads per phase
    // (started for every phase and joined before the next; threadCount 0 and 1
    // select the single-threaded sort above). Grows histograms to threadCount
    // histograms. threadCount above 4,294,967,294 throws std::invalid_argument
    // before anything changes. Grows workerTables to what counting that many
    // keys on that many workers takes (none where the workers count the keys
    // themselves). If a worker thread cannot be started, the
    // started ones are joined and the std::system_error propagates; `indices`
    // then holds its n entries in an unspecified order.
    void SortINT(const IntValue* values, unsigned long n, unsigned int* indices, bool initIndices,
                 unsigned long threadCount);
    void SortFLT(const FloatValue* values, unsigned long n, unsigned int* indices, bool initIndices,
                 unsigned long threadCount);

private:
    template <class Value>
    void Sort(const Value* values, unsigned long n, unsigned int* indices, bool initIndices, unsigned long threadCount);
};

extern template class IndexRadixSorter<int, float>;
extern template class IndexRadixSorter<long, double>;

}  // namespace EvalCore
