#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "driver/machine/GpuLimits.h"
#include "driver/machine/LimitsProbe.h"

// The memory floor of a CPU radix column: the time the least memory traffic
// any implementation of the index radix sort's design needs takes at the rates
// the limits probe measured, so that a column's time reads as a multiple of
// what the design allows on this machine. The design (cpu_sort/IndexRadixSort.h):
// four passes of 8-bit digits for 4-byte keys, 16-bit digits for 8-byte ones,
// none skipped; only 4-byte indices move; keys are transformed as they are
// loaded, never stored transformed; the indices start as 0 ... n - 1, as the
// driver sorts.
//
// Its unavoidable traffic, for n keys of w bytes and W = 256 (w = 4) or 65,536
// (w = 8) write fronts, on any number of threads:
//   - one sweep of the keys in memory order counts the digits of every pass:
//     no pass can be placed before its digits are counted, and all four can be
//     counted in that one sweep;
//   - the first pass reads the keys in memory order once more, reads no
//     indices, and stores n indices into its fronts;
//   - passes 2 to 4 each move n entries: read n indices in order, load n keys
//     through them (in no memory order) and store n indices into their fronts.
// Whatever an implementation adds is its own cost, and shows as the column's
// ratio to its floor: our multi-threaded sort of few keys, for instance,
// counts each later pass by a sweep of its own through the indices.
// The histograms are left out: they stay in the caches or are small beside
// the arrays.
//
// How many fronts a pass stores into depends on the keys: as many as its digit
// takes values. The floor takes the low `spreadBits` bits of the sort keys
// (SortKey.h) to take every value and the bits above to take few: a pass whose
// digit lies within the spread bits has W fronts and is charged as moves; a
// pass whose digit does not may have as few as one or two fronts, whose stores
// hide under the loads, and is charged its loads alone. Keys drawn below 2^24
// in magnitude, as the driver draws them, spread over 24 bits (INT, FLOAT,
// BIGINT; BIGFLOAT's mantissa spreads over 48).
//
// Rates: each data set's own table (DataSetLimits in LimitsProbe.h), every
// figure measured at the size of the array it stands for; for T = 1 the
// one-thread figures, for T >= 2 the better of each kind's all-CPU figure
// and one thread's times min(T, CPUs): more threads than CPUs add nothing,
// threads working apart can at best add up their rates, and on a shared
// machine the all-CPU figures came out below what two threads of the sort
// reached, which put floors above measured sorts. X(b) is figure X at b
// bytes, which the table holds for b = 4n (the index arrays) and, for the
// copy, b = 8n (8-byte keys); X* the better of the table's two copies. B is
// the copy rate (bytes read + written), S the stores into W fronts, M the
// moves (an index read, a w-byte key loaded through it, the entry stored into
// one of W fronts), G the loads of w-byte keys through an index. In seconds:
//
//   floor = nw / B(nw)                         counting sweep
//         + nw / B*                            the first pass's second sweep
//         + s max(0, n / S(4n) - 4n / B(4n))   the first pass's stores
//         + m max(0, n / M(4n) - 4n / B(4n))   passes 2 to 4 over spread digits
//         + (3 - m) n / G(4n)                  passes 2 to 4 over the others
//
// with s = 1 when digit 0 lies within the spread bits, else 0; m the count of
// digits 1 to 3 that do.

//
// Why it is a lower bound: only this traffic is charged, each part at the best
// rate measured for it. A pass over a spread digit is charged as moves, not as
// loads plus stores: the two share the memory system and do not add up
// (LimitsProbe.h), so the probe times them in one loop as the pass makes them.
// Each figure is the best of its timings of the bare access, by the sort's
// own loops, over an array of the sort's own size, so the caches serve the
// sort no better than they served the probe; a sweep that follows another
// over the same data may find it cached, so it gets the better copy rate of
// the table. The probe's stores and moves read
// their slots from an array, which the sort does not; those 4 bytes per entry
// are taken off at the copy rate. A sweep that only reads is charged at the
// copy rate of bytes read plus written: the sort's sweeps do work per key and
// stay well below it.
//
// Until 2026-12-08 the rates came from the run's fixed probe (1, 4, 16 and 64
// MiB), each at the largest size no larger than the array: the 38 MiB index
// arrays of 10M keys were priced at 16 MiB rates the last-level cache still
// serves, and the floor was far below what the sort could reach.
//
// Measured here (benchmarks/memory_floor_benchmark.cpp; 2 shared CPUs, medians
// of 5 interleaved repetitions, 1M and 10M keys of 4 and 8 bytes): the sort's
// third pass stripped of its digit logic took 1.05 to 1.15 times the charge of
// a pass, n / M(4n), where loads and stores timed apart were off by -27% to
// +20%. The sorts' own ratios to their floor are in docs/measurements/memory-floor.md.
//
// The GPU on-card column's floor, the same idea on the device, follows the
// CPU one below.

// Every bit of the key spread, whatever its width.
inline constexpr unsigned kAllKeyBits = 64;

// What one sort moves, in the terms of the formula above.
struct RadixSortTraffic {
    std::uint64_t keyArrayBytes = 0;    // n w: the sweeps' array
    std::uint64_t indexArrayBytes = 0;  // 4 n: the size every other part is looked up at
    std::uint64_t sweepBytes = 0;       // n w, read in memory order by the counting sweep
    std::uint64_t resweepBytes = 0;     // n w, read again by the first pass
    std::uint64_t stores = 0;           // s n, the first pass's
    std::uint64_t moves = 0;            // m n, passes 2 to 4 over spread digits
    std::uint64_t loads = 0;            // (3 - m) n, passes 2 to 4 over the others
    std::size_t fronts = 0;             // W
};

// The rates the formula charges, per second.
struct FloorRates {
    double sweepBytes = 0;      // B(nw)
    double bestSweepBytes = 0;  // B*
    double slotReadBytes = 0;   // B(4n)
    double stores = 0;          // S(4n)
    double moves = 0;           // M(4n)
    double loads = 0;           // G(4n)
};

// The design's traffic sorting n keys of keyBytes (4 or 8) with initIndices,
// whose sort keys spread over their low `spreadBits` bits: the same on any
// number of threads.
RadixSortTraffic IndexRadixSortTraffic(unsigned keyBytes, std::uint64_t n, unsigned spreadBits = kAllKeyBits);

// The rates for that sort; unset when the table was not measured, was measured
// for another record count than n, or keyBytes is not 4 or 8.
std::optional<FloorRates> FloorRatesFor(unsigned keyBytes, std::uint64_t n, unsigned threads,
                                        const DataSetLimits& limits);

// The formula, in milliseconds.
double FloorMilliseconds(const RadixSortTraffic& traffic, const FloorRates& rates);

// The floor of the radix column with `threads` threads for n keys of keyBytes
// spread over their low `spreadBits` bits, priced at that data set's own
// table, in milliseconds; unset where FloorRatesFor is (so for n = 0, which
// no table is measured for).
std::optional<double> RadixSortFloorMs(unsigned keyBytes, std::uint64_t n, unsigned threads,
                                       const DataSetLimits& limits, unsigned spreadBits = kAllKeyBits);

// The floor of the "GPU On Card" column. Its time runs from the sort's first
// timestamp to its last, so the uploads and the read-back lie outside it: the
// floor is the sort's own device-memory traffic at the device copy rate C of
// the GPU limits probe (bytes read plus written per second).
//
// Traffic, from the design (gpu/QVRadixSort.cpp, gpu/shaders; the driver sorts
// with initIndices), for n keys of w bytes: P = 8w / 8 passes of 8-bit digits,
// each a counting dispatch, a partition and a scattering dispatch, which cut
// [0, n) into the same chunks, one per workgroup.
//   - counting and scattering each load the 4-byte word of every key that
//     holds the pass's digit: 2P 4n bytes; in memory order in the first pass,
//     gathered through the indices in the others;
//   - both read the pass's source indices in order, except in the first pass,
//     which starts from the identity: 2(P - 1) 4n bytes;
//   - scattering writes the n indices into 256 digit fronts per workgroup:
//     P 4n bytes.
// In milliseconds:
//
//   floor = 1000 (8P + 8(P - 1) + 4P) n / C = 1000 (20P - 8) n / C
//
// that is 72n bytes for 4-byte keys and 152n for 8-byte ones. Partition's
// reads and writes of the counter tables (one row of 256 per workgroup, about
// 110 KB) are left out: they are small beside the arrays and stay cached.
//
// Why it is a lower bound: only this traffic is charged, every byte at the
// rate of a device copy, the best sequential rate measured. Gathered key loads
// and scattered index writes are charged as if sequential and only for the
// bytes the shaders ask for, though the memory moves a whole sector for each.
// BIGFLOAT's low passes load both words of a key and are charged one, so that
// one floor holds for every type of a width. The limit: the probe's buffers
// are sized to leave the caches, so C is a rate of device memory; a sort whose
// arrays fit in the device's last cache (tens of MiB on recent GPUs) can run
// faster than its floor, which then bounds nothing. So a sort whose index array
// (4n bytes) is smaller than the probe's buffers gets no floor, as a CPU sort
// smaller than every probed size gets none.

// What one GPU sort moves in device memory, in bytes, in the terms above.
struct GpuSortTraffic {
    std::uint64_t keyWordBytes = 0;     // 2P 4n: the key words counting and scattering load
    std::uint64_t indexReadBytes = 0;   // 2(P - 1) 4n: the indices both read after the first pass
    std::uint64_t indexWriteBytes = 0;  // P 4n: the indices scattering writes

    std::uint64_t Bytes() const { return keyWordBytes + indexReadBytes + indexWriteBytes; }
};

// The traffic of the GPU radix sort of n keys of keyBytes (4 or 8; zeros
// otherwise), started from the identity.
GpuSortTraffic GpuRadixSortTraffic(unsigned keyBytes, std::uint64_t n);

// The floor of the "GPU On Card" column for n keys of keyBytes, in
// milliseconds: 0 for n = 0; unset when the GPU limits were not measured,
// keyBytes is not 4 or 8, or 4n is below the probe's buffer size.
std::optional<double> GpuOnCardFloorMs(unsigned keyBytes, std::uint64_t n, const GpuLimits& limits);
