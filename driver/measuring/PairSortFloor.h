#pragma once

#include <cstdint>
#include <optional>

#include "driver/machine/LimitsProbe.h"

// The memory floor of the key-carrying radix sort's columns
// (cpu_sort/pairs/PairRadixSorter.h): the time its own design's least memory
// traffic takes at the rates of the data set's own table, in milliseconds.
// Unset where the table was not measured for n, for n = 0, and until the
// design's traffic is priced.
std::optional<double> PairSortFloorMs(unsigned keyBytes, std::uint64_t n, unsigned threads, const DataSetLimits& limits,
                                      unsigned spreadBits);
