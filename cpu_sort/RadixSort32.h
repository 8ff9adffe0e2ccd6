#pragma once

#include "support/CharBuffer.h"

namespace EvalCore {

// Least-significant-digit radix sort of 32-bit keys (INT and FLOAT) into an
// index permutation: four passes of 8-bit digits over the sort keys of
// SortKey.h. The keys are only read; 4-byte indices move.
//
// A sorter keeps its scratch between calls and its buffers only grow, so
// sorting the same or a smaller count again allocates nothing. One object
// serves one sort call at a time. Not copyable.
class RadixSort32 {
public:
    unsigned long count;                // n of the last sort with n > 0 (the constructor's n before)
    AppCore::CharBuffer indexScratch;   // second index array: at least count x 4 bytes after a sort
    AppCore::CharBuffer histograms;     // 256 32-bit counters (1,024 bytes) per thread of the widest sort so far

    // Reserves n x 4 zero-filled bytes of index scratch; histograms stay empty.
    // Throws std::bad_alloc when n > 0 and that block cannot be had.
    explicit RadixSort32(unsigned long n);
    RadixSort32(RadixSort32&&) = default;
    RadixSort32& operator=(RadixSort32&&) = default;
    RadixSort32(const RadixSort32&) = delete;
    RadixSort32& operator=(const RadixSort32&) = delete;

    // Reorders indices[0, n) so that the sort keys of values[indices[0]],
    // values[indices[1]], ... never decrease. With initIndices, indices[i] = i
    // is written first; otherwise the n entries present are sorted, and each
    // must be a valid position in `values`. Stable: equal keys keep the order
    // they had in `indices`. n = 0 changes nothing. n must not exceed
    // 4,294,967,295.
    //
    // Allocation: grows indexScratch to n x 4 bytes and histograms to one
    // histogram; when that fails, std::bad_alloc leaves `indices` untouched
    // (count already holds n).
    void SortINT(const int* values, unsigned long n, unsigned int* indices, bool initIndices);
    void SortFLT(const float* values, unsigned long n, unsigned int* indices, bool initIndices);

    // The same permutation, computed by `threadCount` worker threads per phase
    // (started for every phase and joined before the next; threadCount 0 and 1
    // select the single-threaded sort above). Grows histograms to threadCount
    // histograms. threadCount above 4,294,967,294 throws std::invalid_argument
    // before anything changes. If a worker thread cannot be started, the
    // started ones are joined and the std::system_error propagates; `indices`
    // then holds its n entries in an unspecified order.
    void SortINT(const int* values, unsigned long n, unsigned int* indices, bool initIndices,
                 unsigned long threadCount);
    void SortFLT(const float* values, unsigned long n, unsigned int* indices, bool initIndices,
                 unsigned long threadCount);

private:
    template <class Value>
    void Sort(const Value* values, unsigned long n, unsigned int* indices, bool initIndices,
              unsigned long threadCount);
};

}  // namespace EvalCore
