#pragma once

#include <cstdint>

// What a data set needs, held against AvailableMemoryBytes
// (driver/machine/AvailableMemory.h) before it is generated.

// Peak bytes one data set of `count` records holds at once: the keys, the index
// permutation and the radix sorters' second index array, plus the copy of the CPU
// permutation that a QA check keeps while the GPU sorts.
constexpr std::uint64_t DataSetPeakBytes(std::uint64_t count, std::uint64_t keyBytes, bool keepsQaReference = false) {
    return count * (keyBytes + 4 + 4 + (keepsQaReference ? 4 : 0));
}
