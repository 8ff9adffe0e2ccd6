#pragma once

#include "driver/machine/LimitsProbe.h"

#include <cstddef>
#include <cstdint>
#include <optional>

// The memory floor of a CPU radix column: the time the index radix sort's own
// unavoidable memory traffic needs at the rates the limits probe measured, so
// that a column's time can be read as a multiple of what the machine allows.
//
// Traffic, from the design (cpu_sort/IndexRadixSort.h; the indices start as
// 0 ... n - 1, as the driver sorts), for n keys of w bytes, T threads and
// W = 256 (w = 4, 8-bit digits) or 65,536 (w = 8, 16-bit digits) write fronts:
//   - one sweep of the keys in memory order counts digits (CountEveryDigit,
//     or the first count phase of several threads);
//   - the first pass reads the keys in memory order once more, right after
//     that sweep, and reads no indices;
//   - passes 2 to 4 each read n indices in order and load n keys through them;
//   - every pass stores n 4-byte indices into W write fronts;
//   - where the sort counts every pass by itself (16-bit digits on one thread;
//     on several when neither its pair counts nor its next-digit tables pay
//     off), passes 2 to 4 load every key through the indices once more, in the
//     sweep just before the one that moves them.
// The histograms, pair counts and next-digit tables are left out: they stay
// in the caches or are small beside the arrays. The keys are taken to spread
// over the whole key range, so that every pass's digit takes all W values and
// the indices after the first pass follow no memory order. Narrower keys leave
// passes whose digit takes few values; those store into few fronts, cheaper
// than charged (the driver's keys below 2^24 in magnitude fill three of the
// four 8-bit digits and one and a half of the four 16-bit ones).
//
// Rates: for T = 1 the one-thread figures; for T >= 2 the better of the
// all-CPU and one-thread figures of each kind (more threads than CPUs add no
// bandwidth, and on a busy machine the all-CPU figure can come out lower).
// X(b) is figure X over the largest probed array of at most b bytes, X* the
// best X over any size. B is the copy rate (bytes read + written), G the
// loads of w-byte keys, S the stores into W fronts. In seconds:
//
//   floor = nw / B(nw)                       counting sweep
//         + nw / B*                          the first pass's second sweep
//         + 3n / G(nw)                       passes 2 to 4 through the indices
//         + r n / G*                         counting passes' loads, r = 3 or 0
//         + 4 max(0, n / S(4n) - 4n / B(4n)) stores, less the probe's slot reads
//
// Why it is a lower bound: only this traffic is charged, and each part at the
// best rate measured for it. The rates fall as arrays outgrow the caches, so the
// rate over the largest probed array no larger than the sort's is at least the
// rate the sort can reach; a sweep that follows another over the same data may
// find it cached, so it gets the best rate of any size. The probe's stores
// read their slots from an array, which the sort does not; those 4 bytes per
// store are taken off at the copy rate. A sweep that only reads is charged at
// the copy rate of bytes read plus written: the sort's sweeps do work per key
// and stay well below it. What the bound rests on beyond that: a pass's loads
// and stores share the memory system and add up; the benchmark
// (benchmarks/memory_floor_benchmark.cpp) times a pass of both at once against
// their sum.
//
// The GPU on-card column's floor is the other sorter this shape fits: its own
// traffic function (8-bit digits; per pass a counting read, a partition and a
// scatter of indices, keys read through them) priced at the device's copy rate
// from a device figure beside CpuLimits. Nothing here would change for it.

// What one sort moves, in the terms of the formula above.
struct RadixSortTraffic {
    std::uint64_t keyArrayBytes = 0;    // n w: the sweeps' and the loads' array
    std::uint64_t indexArrayBytes = 0;  // 4 n: the stores' array
    std::uint64_t sweepBytes = 0;       // n w, read in memory order by the counting sweep
    std::uint64_t resweepBytes = 0;     // n w, read again by the first pass
    std::uint64_t loads = 0;            // 3 n, through the indices, first in their pass
    std::uint64_t reloads = 0;          // r n, the counting passes' loads
    std::uint64_t stores = 0;           // 4 n
    std::size_t fronts = 0;             // W
};

// The rates the formula charges, per second.
struct FloorRates {
    double sweepBytes = 0;      // B(nw)
    double bestSweepBytes = 0;  // B*
    double slotReadBytes = 0;   // B(4n)
    double loads = 0;           // G(nw)
    double bestLoads = 0;       // G*
    double stores = 0;          // S(4n)
};

// The traffic of IndexRadixSorter sorting n keys of keyBytes (4 or 8) on
// `threads` threads (0 and 1: one thread), with initIndices.
RadixSortTraffic IndexRadixSortTraffic(unsigned keyBytes, std::uint64_t n, unsigned threads);

// The rates for that sort; unset when the limits were not measured, keyBytes
// is not 4 or 8, or no probed size is as small as the key or index array.
std::optional<FloorRates> FloorRatesFor(unsigned keyBytes, std::uint64_t n, unsigned threads,
                                        const CpuLimits& limits);

// The formula, in milliseconds.
double FloorMilliseconds(const RadixSortTraffic& traffic, const FloorRates& rates);

// The floor of the radix column with `threads` threads for n keys of keyBytes,
// in milliseconds: 0 for n = 0, unset where FloorRatesFor is.
std::optional<double> RadixSortFloorMs(unsigned keyBytes, std::uint64_t n, unsigned threads,
                                       const CpuLimits& limits);
