#include "cpu_sort/RadixSort64.h"

#include "support/HugePages.h"
#include "cpu_sort/IndexRadixSort.h"

#include <new>
#include <stdexcept>

namespace EvalCore {

RadixSort64::RadixSort64(unsigned long n) : count(n), indexScratch(n, sizeof(std::uint32_t)) {
    // A sorter must not carry a scratch length without storage behind it.
    if (n > 0 && indexScratch.data == nullptr) throw std::bad_alloc();
}

template <class Value>
void RadixSort64::Sort(const Value* values, unsigned long n, unsigned int* indices, bool initIndices,
                       unsigned long threadCount) {
    if (n == 0) return;
    const unsigned long workers = threadCount < 2 ? 1 : threadCount;
    if (workers > Detail::kMaxWorkers)
        throw std::invalid_argument("RadixSort64: threadCount must not exceed 4294967294");
    count = n;
    const unsigned long previousScratchSize = indexScratch.size;
    indexScratch.Grow(n * sizeof(std::uint32_t));
    if (indexScratch.size != previousScratchSize) AppCore::AdviseHugePages(indexScratch.data, indexScratch.size);
    histograms.Grow(workers * Detail::DigitLayout<Value>::radix * sizeof(std::uint32_t));

    auto* scratch = reinterpret_cast<std::uint32_t*>(indexScratch.data);
    auto* counters = reinterpret_cast<std::uint32_t*>(histograms.data);
    if (workers == 1)
        Detail::SortSingleThreaded(values, n, indices, initIndices, scratch, counters);
    else
        Detail::SortMultiThreaded(values, n, indices, initIndices, scratch, counters, workers);
}

void RadixSort64::SortINT(const long* values, unsigned long n, unsigned int* indices, bool initIndices) {
    Sort(values, n, indices, initIndices, 1);
}

void RadixSort64::SortFLT(const double* values, unsigned long n, unsigned int* indices, bool initIndices) {
    Sort(values, n, indices, initIndices, 1);
}

void RadixSort64::SortINT(const long* values, unsigned long n, unsigned int* indices, bool initIndices,
                          unsigned long threadCount) {
    Sort(values, n, indices, initIndices, threadCount);
}

void RadixSort64::SortFLT(const double* values, unsigned long n, unsigned int* indices, bool initIndices,
                          unsigned long threadCount) {
    Sort(values, n, indices, initIndices, threadCount);
}

}  // namespace EvalCore
