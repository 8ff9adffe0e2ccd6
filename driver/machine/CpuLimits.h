#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What this machine's memory allows for the accesses the index radix sort is
// made of, measured at the start of a run: the rates a sorter's time is held
// against (driver/measuring/MemoryFloor.h), as the limits probe measures them
// (LimitsProbe.h).
//
// Each figure is measured at several sizes, on one thread and on every online
// CPU at once. A size is the bytes of an index array: at size F the random
// accesses span F / 4 entries, so F bytes of 4-byte keys or 2F of 8-byte ones.
//   copy       memcpy of F bytes into another array: bytes read plus bytes
//              written per second.
//   loads 4/8  keys loaded at random positions through an index array read in
//              order, by the sort's own loop (ForEachKey, which prefetches
//              ahead); keys per second. Positions are drawn uniformly with
//              repeats, which the caches cannot tell from a permutation.
//   stores W   4-byte stores whose slots an array read in order gives, laid out
//              as a radix pass over random digits lays out its destinations: W
//              write fronts moving down at once, W = 256 and 65,536 (the sort's
//              8- and 16-bit digits); stores per second. Fully random stores
//              are no bound for a radix pass: each moves a line in and out for
//              4 bytes (over 40 MB one thread made 94 M/s of them here, against
//              318 M/s into 256 fronts).
//   moves 4/8  both at once, as a pass moves an entry: the index read in
//              order, its key loaded through it, the entry stored into its
//              front (256 for 4-byte keys, 65,536 for 8-byte ones); entries per
//              second. Loads and stores do not add up: at 64 MiB a move of a
//              4-byte key took 0.8 of a load plus a store here (stores into
//              256 fronts hide under the loads), a move of an 8-byte key 1.3
//              times (stores into 65,536 fronts fight the loads for the misses
//              in flight).
//
// Why several sizes: the rates fall as the arrays outgrow each cache (random
// 4-byte loads on one thread here: about 1,250 M/s at 1 MiB, 300 M/s at
// 16 MiB, 170 M/s at 64 MiB), so bounding a data set takes figures measured at
// sizes no larger than its own. The largest default size leaves the caches.

// The figures of one thread count at one size; per second, all positive once
// measured.
struct AccessRates {
    double copyBytes = 0;    // bytes read plus bytes written
    double loads4 = 0;       // 4-byte keys loaded through an index array
    double loads8 = 0;       // 8-byte keys likewise
    double stores256 = 0;    // 4-byte stores into 256 write fronts
    double stores65536 = 0;  // 4-byte stores into 65,536 write fronts
    double moves4 = 0;       // entries moved: a 4-byte key loaded, a store into 256 fronts
    double moves8 = 0;       // entries moved: an 8-byte key loaded, a store into 65,536 fronts
};

struct ArrayLimits {
    std::uint64_t arrayBytes = 0;  // the size: bytes of an index array
    AccessRates oneThread;
    AccessRates allCpus;  // `cpus` threads; on one CPU the one-thread figures again
};

struct CpuLimits {
    std::string skipped;              // why nothing was measured, one line; empty otherwise
    unsigned cpus = 0;                // threads of the all-CPU figures
    unsigned repeats = 0;             // timings per figure
    std::vector<ArrayLimits> arrays;  // ascending arrayBytes; empty when skipped

    bool Measured() const { return skipped.empty() && !arrays.empty(); }
};

// The accesses of the key-carrying radix sort (cpu_sort/pairs/PairSort.h),
// each in its bare form, that its floor (PairSortFloor.h) is priced with; per
// second.
//   planned    4-byte keys read in order, each counted into one of the plan's
//              digit counters (PlanDigitBits of n, up to 65,536): the plan's
//              counting sweep without its digits, over the same 1M keys in
//              every timing, as the sort counts keys its range sweep has just
//              read.
//   scattered  8-byte pairs made of 4-byte keys read in order, each put into a
//              64-byte line of its own among 4,096 (the most buckets a plan
//              makes), whole lines streamed out to their front's next line in
//              the data set's index array (4n bytes): the scatter without its
//              digits, many write streams through write-combining lines.
//   counts     8-byte pairs of a leaf-sized buffer in cache, each counted by
//              two 11-bit digits: the leaf's one counting sweep.
//   moves      8-byte pairs of that buffer moved by one 11-bit digit into
//              another in cache: one least-significant-digit pass of a leaf.
// The leaf's size is the data set's bucket target (BucketTargetPairs), at
// most the largest leaf sorted in cache. Each CPU holds two leaves (at most
// 4 MiB), its 4,096 lines and 512 KiB of counters beside the data set's probe
// buffers, allocated for these timings alone; without them the figures stay
// 0 and leafBytes 0. Each figure is the best of three times `repeats`
// timings: they are short.
struct PairRates {
    double planned = 0;
    double scattered = 0;
    double counts = 0;
    double moves = 0;
};

struct PairLimits {
    std::uint64_t leafBytes = 0;  // the buffer the counts and moves ran in; 0: not measured
    PairRates oneThread;
    PairRates allCpus;
};

// One data set's figures, each measured at the size of the array it stands
// for, so that its sort's floor is priced at its own sizes (MemoryFloor.h)
// and not at a smaller size the caches still serve. For n records:
//   indexArrays  every figure at F = 4n bytes, the index arrays: copies of F
//                bytes; loads through an index over n keys, of 4 bytes (F)
//                and of 8 (2F); stores and moves into n slots. One table
//                serves both key widths.
//   wideKeys     the copy alone at 2F = 8n bytes, the array of 8-byte keys
//                their sweeps read; its other figures stay 0.
struct DataSetLimits {
    std::string skipped;        // why nothing was measured, one line; empty otherwise
    std::uint64_t records = 0;  // n: the record count the figures belong to, measured or not
    unsigned cpus = 0;          // threads of the all-CPU figures
    unsigned repeats = 0;       // timings per figure
    ArrayLimits indexArrays;    // arrayBytes 4n
    ArrayLimits wideKeys;       // arrayBytes 8n; copyBytes alone
    PairLimits pairs;           // with LimitsProbeOptions::pairFigures
    double seconds = 0;         // what the probe took, allocation and laying out included

    bool Measured() const { return skipped.empty() && records > 0; }
};
