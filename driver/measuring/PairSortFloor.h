#pragma once

#include <cstdint>
#include <optional>

#include "driver/machine/LimitsProbe.h"

// The memory floor of the key-carrying radix sort's columns
// (cpu_sort/pairs/PairRadixSorter.h): the time its own design's least memory
// traffic takes at the rates of the data set's own table, in milliseconds, as
// MemoryFloor.h prices the index sort's.
//
// The design's traffic for n keys of w bytes carried as pairs of p bytes (8
// when the keys' range fits 32 bits, else 16), on any number of threads:
//   - a sweep of the keys finds their range: n w read;
//   - a sweep of the keys counts their plan digits: n w read;
//   - the scatter reads the keys once more and writes every pair once, whole
//     lines at a time: n w read, n p written;
//   - each bucket, read once from memory, sorts in cache and writes its final
//     indices: n p read, 4 n written.
// The passes inside the caches, the plan and the tables are left out. With B
// the copy rate of the table (bytes read plus written per second), B(nw) at
// the keys' own size and B* the better of the table's two copies:
//
//   floor = n w / B(nw) + (n w + n w + n p + n p + 4 n) / B*
//
// Why it is a lower bound: only this traffic is charged, all of it
// sequential, at the best copy rate measured. The table holds copies of 4n and
// 8n bytes; the pair array is 8n or 16n, and a rate measured on a smaller
// array can only be higher than the pair array's own (the caches serve a
// larger one less), so the missing figure is priced from one at least as fast.
// The scatter's writes go to up to 4,096 fronts, not one stream, and the last
// pass's index stores are scattered within a bucket; both are charged as
// sequential bytes. Several threads take the better of the all-CPU copy and
// one thread's times min(T, CPUs), as the index sort's floor does.
//
// Unset where the table was not measured for n, for n = 0, and for keyBytes
// other than 4 and 8. `spreadBits` is UniformKeySpreadBits of the data set:
// keys spread over fewer than 32 bits travel as 8-byte pairs.
std::optional<double> PairSortFloorMs(unsigned keyBytes, std::uint64_t n, unsigned threads, const DataSetLimits& limits,
                                      unsigned spreadBits);

// The bytes the floor charges at the best copy rate, and at the keys' own
// size, for the terms above.
struct PairSortTraffic {
    std::uint64_t firstSweepBytes = 0;  // n w
    std::uint64_t otherBytes = 0;       // 2 n w + 2 n p + 4 n
};
PairSortTraffic PairRadixSortTraffic(unsigned keyBytes, std::uint64_t n, unsigned spreadBits);
