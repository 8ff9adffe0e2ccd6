#include "cpu_sort/IndexRadixSorter.h"

#include <cstdint>
#include <new>
#include <stdexcept>

#include "cpu_sort/IndexRadixSort.h"
#include "cpu_sort/MultiThreadedRadixSort.h"

namespace EvalCore {

template <class IntValue, class FloatValue>
IndexRadixSorter<IntValue, FloatValue>::IndexRadixSorter(unsigned long n)
    : count(n), indexScratch(n, sizeof(std::uint32_t)) {
    // A sorter must not carry a scratch length without storage behind it.
    if (n > 0 && indexScratch.data == nullptr) throw std::bad_alloc();
}

template <class IntValue, class FloatValue>
void IndexRadixSorter<IntValue, FloatValue>::ReleaseScratch() noexcept {
    count = 0;
    indexScratch.Clear();
    histograms.Clear();
    passCounts.Clear();
    workerTables.Clear();
}

template <class IntValue, class FloatValue>
template <class Value>
void IndexRadixSorter<IntValue, FloatValue>::Sort(const Value* values, unsigned long n, unsigned int* indices,
                                                  bool initIndices, unsigned long threadCount) {
    if (n == 0) return;
    const unsigned long workers = threadCount < 2 ? 1 : threadCount;
    if (workers > Detail::kMaxWorkers)
        throw std::invalid_argument("radix sort: threadCount must not exceed 4294967294");
    count = n;
    indexScratch.Grow(n * sizeof(std::uint32_t));
    histograms.Grow(workers * Detail::DigitLayout<Value>::radix * sizeof(std::uint32_t));

    auto* scratch = reinterpret_cast<std::uint32_t*>(indexScratch.data);
    auto* counters = reinterpret_cast<std::uint32_t*>(histograms.data);
    if (workers == 1) {
        using Layout = Detail::DigitLayout<Value>;
        passCounts.Grow(Layout::passes * Layout::radix * sizeof(std::uint32_t));
        Detail::SortSingleThreaded(values, n, indices, initIndices, scratch, counters,
                                   reinterpret_cast<std::uint32_t*>(passCounts.data));
    } else {
        std::uint32_t* tables = Detail::GrowWorkerTables<Value>(workerTables, n, workers);
        Detail::SortMultiThreaded(values, n, indices, initIndices, scratch, counters, tables, workers);
    }
}

template <class IntValue, class FloatValue>
void IndexRadixSorter<IntValue, FloatValue>::SortINT(const IntValue* values, unsigned long n, unsigned int* indices,
                                                     bool initIndices) {
    Sort(values, n, indices, initIndices, 1);
}

template <class IntValue, class FloatValue>
void IndexRadixSorter<IntValue, FloatValue>::SortFLT(const FloatValue* values, unsigned long n, unsigned int* indices,
                                                     bool initIndices) {
    Sort(values, n, indices, initIndices, 1);
}

template <class IntValue, class FloatValue>
void IndexRadixSorter<IntValue, FloatValue>::SortINT(const IntValue* values, unsigned long n, unsigned int* indices,
                                                     bool initIndices, unsigned long threadCount) {
    Sort(values, n, indices, initIndices, threadCount);
}

template <class IntValue, class FloatValue>
void IndexRadixSorter<IntValue, FloatValue>::SortFLT(const FloatValue* values, unsigned long n, unsigned int* indices,
                                                     bool initIndices, unsigned long threadCount) {
    Sort(values, n, indices, initIndices, threadCount);
}

template class IndexRadixSorter<int, float>;
template class IndexRadixSorter<long, double>;

}  // namespace EvalCore
