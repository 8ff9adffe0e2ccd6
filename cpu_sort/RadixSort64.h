#pragma once

#include "cpu_sort/IndexRadixSorter.h"

namespace EvalCore {

// Index radix sort of 64-bit keys (BIGINT and BIGFLOAT): four passes of 16-bit
// digits, 65,536 counters (262,144 bytes) per histogram, so 64-bit keys need no
// more passes than 32-bit ones. Contract: IndexRadixSorter.
class RadixSort64 : public IndexRadixSorter<long, double> {
public:
    using IndexRadixSorter::IndexRadixSorter;
};

}  // namespace EvalCore
