#pragma once

#include <cstdint>
#include <memory>

namespace EvalCore {

// Where a sort's time went (PairRadixSorter::TimePhases), phase by phase
// (the design's steps 1 to 4 below, step 2 counting and planning), in
// seconds: of the calling thread's CPU time when the sort runs on that thread
// alone (what it ran, not what it waited for a core), of the monotonic clock
// otherwise; largeBuckets is the part of `buckets` spent splitting large
// ones, kept on one thread only.
struct PairPhaseSeconds {
    double range = 0;
    double plan = 0;
    double scatter = 0;
    double buckets = 0;
    double largeBuckets = 0;
    std::uint64_t largeBucketPairs = 0;
};

// A radix sort that carries each key with its index: the same permutation as
// every other sorter of the benchmark, reached by moving (sort key, index)
// pairs instead of reading keys through indices.
//
// Contract, for every Sort overload:
//   - fills indices[0, n) with the permutation of 0 ... n - 1 that orders
//     values[0, n) by ascending sort key (cpu_sort/SortKey.h: -0 before +0,
//     NaNs by sign bit and then bit order), equal keys in ascending index order;
//   - reads nothing of the caller's but values[0, n) and writes nothing of the
//     caller's but indices[0, n); n = 0 writes nothing; n must not exceed
//     4,294,967,295 (indices are 4 bytes);
//   - threads 0 and 1 sort on the calling thread; T > 1 starts T worker
//     threads per phase and joins them before it returns; up to 131,072 keys
//     (a bucket sorted in cache) sort on the calling thread whatever T is;
//   - its scratch is kept between calls and only grows (ScratchBytes gives the
//     most a sort takes), so sorting the same or a smaller count again
//     allocates nothing; Release frees it;
//   - throws std::bad_alloc when the scratch cannot be had, std::system_error
//     when a worker thread cannot be started; `indices` then holds no
//     permutation, and the sorter stays usable.
// One object serves one sort at a time. Movable, not copyable.
//
// Design (one file per phase, PairSort.h names them in order):
//   1. key range (PairKeyRange.h): one sweep finds the smallest and largest
//      sort key; all keys equal ends the sort. Pairs carry key - smallest, so
//      every 4-byte key, and every 8-byte key whose range fits 32 bits (the
//      driver's BIGINT keys), travels as one 8-byte word (key << 32 | index);
//      wider 8-byte ranges as 16 bytes.
//   2. bucket plan (PairBucketPlan.h): one sweep counts the top 16 varying
//      bits of the keys; runs of adjacent digits are merged into buckets of
//      about 8,192 pairs, at most 4,096 buckets.
//   3. scatter (PairScatterPhase.h): one sweep writes every pair to its
//      bucket through a cache line per bucket (software write combining),
//      whole aligned lines by streaming stores. Stable.
//   4. buckets (PairLeafSort.h): each bucket, at most 2 MiB of pairs, sorts in
//      cache by least-significant-digit passes of at most 11 bits over the bits
//      that vary within it (constant digits skipped; more than 22 varying bits
//      take a top-digit split and insertion sorts first); the last pass writes
//      final indices into `indices`. A larger bucket (a heavy key, skewed keys)
//      is planned and split again within its own space (PairLargeBucket.h).
// Threads: phases 1 to 3 each work on one chunk of the keys per worker (the
// scatter's offsets put chunk t's pairs after chunk t - 1's in every bucket);
// in phase 4 the workers take buckets from an atomic counter.
//
// Memory: the pair array, 8 bytes a record (16 for 8-byte keys of a range
// wider than 32 bits), on huge pages from 2 MiB on (CharBuffer); plus 3.1 MiB per
// worker (2 MiB for a bucket sorted in cache, 512 KiB of digit counters,
// 256 KiB of write-combining lines, the rest smaller tables) and 164 KiB
// shared. At one billion 4-byte keys on two threads: 8.007 GB in all.
// ScratchBytes counts 16-byte pairs for 8-byte keys, the most a range can
// need; ScratchBytesOfPairs with PairBytes of the keys counts what they take.
//
// Traffic per record, 4-byte keys: three reads of the key (range, plan,
// scatter), 8 bytes of pair written and read once, 4 bytes of index written;
// everything else happens in cache. Where the time goes, 10M uniform INT keys,
// one thread's CPU time (benchmarks/pair_phases_benchmark.cpp, ns a key):
// range 0.3, plan 1.0, scatter 2.9, buckets 3.1 to 3.5, against the floor's
// 0.25 to 0.66, 0.5 to 1.1, 2.2 and 2.7 to 2.8 (the buckets' passes in cache;
// their read from memory, which the previous bucket prefetches, hides under
// them).
class PairRadixSorter {
public:
    PairRadixSorter();
    PairRadixSorter(PairRadixSorter&&) noexcept;
    PairRadixSorter& operator=(PairRadixSorter&&) noexcept;
    PairRadixSorter(const PairRadixSorter&) = delete;
    PairRadixSorter& operator=(const PairRadixSorter&) = delete;
    ~PairRadixSorter();

    void Sort(const std::int32_t* values, std::uint64_t n, std::uint32_t* indices, unsigned threads);
    void Sort(const float* values, std::uint64_t n, std::uint32_t* indices, unsigned threads);
    void Sort(const std::int64_t* values, std::uint64_t n, std::uint32_t* indices, unsigned threads);
    void Sort(const double* values, std::uint64_t n, std::uint32_t* indices, unsigned threads);

    // Every sort from now on adds its phases' times to *phases, which must
    // outlive those sorts; nullptr stops it. For benchmarks that time the
    // phases apart: a clock reading at each phase's end, none while unset.
    void TimePhases(PairPhaseSeconds* phases) noexcept;

    // Frees the scratch; the next sort allocates it again.
    void Release() noexcept;
    // The scratch held now, in bytes.
    std::uint64_t Bytes() const noexcept;

    // The most scratch a sort of n keys of keyBytes (4 or 8) on `threads`
    // threads holds, in bytes: what a caller must find room for beside the
    // keys and the indices.
    static std::uint64_t ScratchBytes(std::uint64_t n, unsigned keyBytes, unsigned threads);
    // The scratch a sort of n keys carried as pairs of pairBytes (8 or 16,
    // PairBytes) on `threads` threads holds, in bytes.
    static std::uint64_t ScratchBytesOfPairs(std::uint64_t n, unsigned pairBytes, unsigned threads);
    // The bytes of the pairs a sort of values[0, n) carries its keys in: 8 for
    // 4-byte keys and for 8-byte keys whose range fits 32 bits, else 16. One
    // sweep of the keys on the calling thread, as the sort's first.
    static unsigned PairBytes(const std::int32_t* values, std::uint64_t n);
    static unsigned PairBytes(const float* values, std::uint64_t n);
    static unsigned PairBytes(const std::int64_t* values, std::uint64_t n);
    static unsigned PairBytes(const double* values, std::uint64_t n);

private:
    struct Scratch;
    std::unique_ptr<Scratch> scratch;
};

}  // namespace EvalCore
