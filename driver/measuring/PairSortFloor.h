#pragma once

#include <cstdint>
#include <optional>

#include "driver/machine/LimitsProbe.h"

// The memory floor of the key-carrying radix sort's columns
// (cpu_sort/pairs/PairRadixSorter.h): its own design's traffic, phase by
// phase, at the rates the data set's own probe measured for each kind of
// access (LimitsProbe.h), in milliseconds, as MemoryFloor.h prices the index
// sort's.
//
// For n keys of w bytes carried as pairs of p bytes (8 when the keys' range
// fits 32 bits, else 16), the phases, which follow one another:
//   - range: a sweep of the keys in memory order, n w bytes;
//   - plan: a sweep of the keys, n w bytes again, counting each into one of
//     up to 65,536 digit counters (PlanDigitBits) in cache;
//   - scatter: every pair through a 64-byte line of its bucket's, up to 4,096
//     of them, whole lines streamed out: n pairs, a 16-byte pair counting as
//     two 8-byte ones (it fills a line twice as fast);
//   - buckets: each read back from memory (n p bytes) and its final indices
//     written (4n bytes), while in cache one sweep counts every digit and P
//     passes move every pair, the last into the indices. Reading the next
//     bucket overlaps this one's passes, so the phase takes the longer of
//     the two, not their sum.
// P follows the bits that vary within a bucket: the keys' range, spreadBits
// + 1 (a sign bit above the spread bits), less the bits the plan splits off,
// log2 of the buckets of BucketTargetPairs(n) pairs; v <= 11 bits sort in one
// pass, up to 22 in two, more take a top-digit pass and insertion sorts,
// charged as one. n at most one leaf (LeafMaxPairs) sorts in cache at once:
// no plan, no scatter, the pairs made from a second read of the keys.
//
// With B the copy rate (bytes read plus written), Q the keys counted into the
// plan's counters, S the pairs scattered through lines, C the pairs counted
// and M the pairs moved by a leaf's pass in cache, X(b) figure X at b bytes,
// B* the better of the table's two copies:
//
//   floor = n w / B(nw) + max(n w / B*, q n / Q) + s n / S
//         + max(n p / B(8n) + 4n / B(4n),  c n / C + P n / M)
//
// with q = 1 and s = p / 8 (both 0 in cache at once), c = 1 when any bit
// varies in a bucket (else 0, and P = 0). The digits' arithmetic, the plan
// and the tables are left out.
//
// Why it is a lower bound: each part is charged for the bytes or pairs the
// design cannot avoid, at the best of the probe's timings of its bare access
// (LimitsProbe.h's PairRates: no digits computed, no bucket looked up) over
// the data set's own sizes. Work that may overlap is charged as the longer
// part alone: the keys' read and their count, the pairs' read-back and the
// passes of the bucket before. Where the probe has no figure for an array as large as the
// sort's (the pair array of 8n or 16n bytes, 16-byte pairs in cache) it is
// priced at one measured on one no larger, which the caches serve no worse.
// 8-byte keys of a narrow range read 8 bytes a key where the plan's and the
// scatter's figures read 4. Several threads take, for each figure, the better of the all-CPU
// figure and one thread's times min(T, CPUs), as the index sort's floor does.
//
// Until 2026-12-09 the floor charged only sequential sweeps (three of the
// keys, the pairs written and read once, the indices) at the copy rate, and
// the sort read 3.9 to 7.9 times it. Measured apart (pair_phases_benchmark,
// 10M uniform INT, one thread's CPU time, ns a key, sort / floor): range
// 0.32 / 0.25, plan 1.03 / 0.25 before the count's own figure, scatter
// 2.93 / 2.33, buckets 3.51 / 2.69 (their passes in cache, which the
// pairs' read-back, 0.98, hides under).
//
// Unset where the table was not measured for n or has no pair figures, for
// n = 0, and for keyBytes other than 4 and 8. `spreadBits` is
// UniformKeySpreadBits of the data set: keys spread over fewer than 32 bits
// travel as 8-byte pairs.
std::optional<double> PairSortFloorMs(unsigned keyBytes, std::uint64_t n, unsigned threads, const DataSetLimits& limits,
                                      unsigned spreadBits);

// The floor's phases apart, in milliseconds: the terms of the formula above
// in order (range and plan each one sweep), for a benchmark that sets each
// beside the time of that phase; unset where PairSortFloorMs is.
struct PairFloorPhases {
    double range = 0;
    double plan = 0;
    double scatter = 0;
    double buckets = 0;
    double Total() const { return range + plan + scatter + buckets; }
};
std::optional<PairFloorPhases> PairSortFloorPhasesMs(unsigned keyBytes, std::uint64_t n, unsigned threads,
                                                     const DataSetLimits& limits, unsigned spreadBits);

// What the formula charges, in its terms.
struct PairSortTraffic {
    std::uint64_t keyBytes = 0;        // n w, read by each of the two sweeps
    std::uint64_t plannedKeys = 0;     // q n
    std::uint64_t scatteredPairs = 0;  // s n
    std::uint64_t pairBytes = 0;       // n p, read back by the buckets; 0 in cache at once
    std::uint64_t indexBytes = 0;      // 4 n
    std::uint64_t leafCounts = 0;      // c n
    std::uint64_t leafMoves = 0;       // P n
};
PairSortTraffic PairRadixSortTraffic(unsigned keyBytes, std::uint64_t n, unsigned spreadBits);
