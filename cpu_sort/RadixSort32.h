#pragma once

#include "cpu_sort/IndexRadixSorter.h"

namespace EvalCore {

// Index radix sort of 32-bit keys (INT and FLOAT): four passes of 8-bit digits,
// 256 counters (1,024 bytes) per histogram. Contract: IndexRadixSorter.
class RadixSort32 : public IndexRadixSorter<int, float> {
public:
    using IndexRadixSorter::IndexRadixSorter;
};

}  // namespace EvalCore
