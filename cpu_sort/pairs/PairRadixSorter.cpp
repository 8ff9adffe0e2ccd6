#include "cpu_sort/pairs/PairRadixSorter.h"

#include <numeric>
#include <thread>
#include <type_traits>
#include <vector>

#include "cpu_sort/pairs/PairSort.h"
#include "support/CharBuffer.h"

namespace EvalCore {

using namespace PairDetail;

namespace {

// A table that only grows: a larger need replaces it by one of exactly that
// size, so what it holds is what ScratchBytes counts.
template <class T>
T* Grow(std::vector<T>& table, std::size_t count) {
    if (table.size() < count) {
        std::vector<T> larger(count);
        table.swap(larger);
    }
    return table.data();
}

struct WorkerArea {
    std::vector<std::uint32_t> counts, next, leafCounters, starts;
    std::vector<std::uint8_t> filled, oneDigit;
    std::vector<std::uint16_t> bucketOf;
    std::vector<std::byte> lines, leafBuffer;

    template <class F>
    void ForEachTable(F f) const {
        f(counts), f(next), f(leafCounters), f(starts), f(filled), f(oneDigit), f(bucketOf), f(lines), f(leafBuffer);
    }
};

// The bytes of each table, the one place the allocation and ScratchBytes
// read them from.
struct Sizes {
    std::size_t pairBytes;  // bytes per pair
    bool buckets;           // n > LeafMaxPairs: the bucket phases' tables too
    std::size_t leafPairs;

    Sizes(std::uint64_t n, std::size_t pairBytes)
        : pairBytes(pairBytes),
          buckets(n > LeafMaxPairs(pairBytes)),
          leafPairs(buckets ? LeafMaxPairs(pairBytes) : n) {}

    std::size_t WorkerBytes() const {
        std::size_t bytes = leafPairs * pairBytes + kLeafCounters * 4;
        if (buckets)
            bytes += 2 * kPlanDigits * 4 + 2 * kMaxBuckets * 4 + kMaxBuckets * kLineBytes + kLineBytes + kMaxBuckets +
                     kPlanDigits * 2 + kLargeLevels * (2 * (kMaxBuckets + 1) * 4 + kMaxBuckets);
        return bytes;
    }
    std::size_t SharedBytes(unsigned T) const {
        return buckets ? kPlanDigits * 2 + 2 * (kMaxBuckets + 1) * 4 + kMaxBuckets + T * kMaxBuckets * 4 : 0;
    }
};

unsigned WorkerCount(unsigned threads) { return threads == 0 ? 1 : threads; }

}  // namespace

struct PairRadixSorter::Scratch {
    AppCore::CharBuffer pairs;  // whole huge pages from one page on (CharBuffer.h)
    std::vector<WorkerArea> workers;
    std::vector<std::uint16_t> bucketOf;
    std::vector<std::uint32_t> start, offsets;
    std::vector<std::uint8_t> oneDigit;
    std::vector<std::thread> threads;

    std::vector<WorkerTables> tables;  // pointers into workers, rebuilt per sort
    PhaseClock clock;                  // TimePhases

    // Sizes every table for a sort with `sizes` on T workers; throws
    // std::bad_alloc before anything is sorted.
    void Prepare(std::uint64_t n, const Sizes& sizes, unsigned T) {
        if (pairs.size < n * sizes.pairBytes) {
            // Nothing in it is kept: freed first, so the old and the new block never coexist.
            pairs.Clear();
            pairs.Grow(n * sizes.pairBytes);
        }
        if (workers.size() < T) workers.resize(T);
        tables.resize(T);
        for (unsigned t = 0; t < T; ++t) {
            WorkerArea& area = workers[t];
            WorkerTables& w = tables[t];
            w.leafBuffer = Grow(area.leafBuffer, sizes.leafPairs * sizes.pairBytes);
            w.leafCounters = Grow(area.leafCounters, kLeafCounters);
            if (!sizes.buckets) continue;
            w.counts = Grow(area.counts, 2 * kPlanDigits);
            std::fill_n(w.counts + kPlanDigits, kPlanDigits, 0u);
            w.next = Grow(area.next, 2 * kMaxBuckets);
            w.owned = w.next + kMaxBuckets;
            std::byte* lines = Grow(area.lines, kMaxBuckets * kLineBytes + kLineBytes);
            w.lines = lines + (kLineBytes - reinterpret_cast<std::uintptr_t>(lines) % kLineBytes) % kLineBytes;
            w.filled = Grow(area.filled, kMaxBuckets);
            std::fill_n(w.filled, kMaxBuckets, std::uint8_t{0});
            w.large.counts = w.counts;
            w.large.spare = w.counts + kPlanDigits;
            std::uint16_t* levelBucketOf = Grow(area.bucketOf, kPlanDigits);
            std::uint32_t* starts = Grow(area.starts, 2 * kLargeLevels * (kMaxBuckets + 1));
            std::uint8_t* oneDigits = Grow(area.oneDigit, kLargeLevels * kMaxBuckets);
            for (unsigned level = 0; level < kLargeLevels; ++level)
                w.large.levels[level] =
                    BucketPlan{levelBucketOf, starts + 2 * level * (kMaxBuckets + 1),
                               starts + (2 * level + 1) * (kMaxBuckets + 1), oneDigits + level * kMaxBuckets};
        }
        if (sizes.buckets) {
            Grow(bucketOf, kPlanDigits);
            Grow(start, 2 * (kMaxBuckets + 1));
            Grow(oneDigit, kMaxBuckets);
            Grow(offsets, std::size_t{T} * kMaxBuckets);
        }
    }

    template <class Value>
    void Sort(const Value* values, std::uint64_t n, std::uint32_t* indices, unsigned threads);

    template <class Format, class Value>
    void SortAs(const Value* values, std::uint64_t n, std::uint32_t* indices, std::uint64_t base, std::uint64_t range,
                std::uint64_t lowerTop, std::uint64_t upperStart, unsigned T) {
        using Pair = typename Format::Pair;
        const Sizes sizes(n, sizeof(Pair));
        if (!sizes.buckets) T = 1;
        Prepare(n, sizes, T);
        Pair* pairArray = reinterpret_cast<Pair*>(pairs.data);
        if (!sizes.buckets) {
            SortPairsInCache<Format>(values, n, indices, base, pairArray, tables[0]);
            return clock.Lap(&PairPhaseSeconds::buckets);
        }
        SharedTables shared{BucketPlan{bucketOf.data(), start.data(), start.data() + kMaxBuckets + 1, oneDigit.data()},
                            offsets.data()};
        if (SplitPays(range, lowerTop, upperStart, n))
            SortPairsInBuckets<Format>(values, n, indices, base,
                                       MakePlanDigits(range, lowerTop, upperStart, PlanDigitBits(n)), T, pairArray,
                                       tables.data(), shared, threads, clock);
        else
            SortPairsInBuckets<Format>(values, n, indices, base, MakeShiftDigits(range, PlanDigitBits(n)), T, pairArray,
                                       tables.data(), shared, threads, clock);
    }
};

template <class Value>
void PairRadixSorter::Scratch::Sort(const Value* values, std::uint64_t n, std::uint32_t* indices, unsigned threads) {
    if (n == 0) return;
    // Below a leaf of 16-byte pairs no thread is started; SortAs drops the
    // others for a leaf of 8-byte pairs.
    const unsigned T = n > LeafMaxPairs(sizeof(WidePairs::Pair)) ? WorkerCount(threads) : 1;
    clock.Start(T);
    // The range sweep is cheap next to thread starts below the bucket sizes.
    std::vector<decltype(FindKeyRange(values, 0, 1))> ranges(T);
    RunPhase(this->threads, T, [&](unsigned long t, unsigned long) {
        ranges[t] = FindKeyRange(values, ChunkStart(n, t, T), ChunkStart(n, t + 1, T));
    });
    for (unsigned t = 1; t < T; ++t) ranges[0].Merge(ranges[t]);
    const auto& keys = ranges[0];
    clock.Lap(&PairPhaseSeconds::range);
    const std::uint64_t base = keys.lowest, range = keys.highest - keys.lowest;
    if (range == 0) {
        std::iota(indices, indices + n, 0u);
        return;
    }
    const bool split = keys.BothHalves();
    const std::uint64_t lowerTop = split ? keys.lowerHighest - base : range;
    const std::uint64_t upperStart = split ? keys.upperLowest - base : range;
    if (sizeof(Value) == 4 || range <= 0xFFFFFFFFu)
        SortAs<NarrowPairs>(values, n, indices, base, range, lowerTop, upperStart, T);
    else
        SortAs<WidePairs>(values, n, indices, base, range, lowerTop, upperStart, T);
}

PairRadixSorter::PairRadixSorter() : scratch(std::make_unique<Scratch>()) {}
PairRadixSorter::PairRadixSorter(PairRadixSorter&&) noexcept = default;
PairRadixSorter& PairRadixSorter::operator=(PairRadixSorter&&) noexcept = default;
PairRadixSorter::~PairRadixSorter() = default;

void PairRadixSorter::Sort(const std::int32_t* values, std::uint64_t n, std::uint32_t* indices, unsigned threads) {
    scratch->Sort(values, n, indices, threads);
}
void PairRadixSorter::Sort(const float* values, std::uint64_t n, std::uint32_t* indices, unsigned threads) {
    scratch->Sort(values, n, indices, threads);
}
void PairRadixSorter::Sort(const std::int64_t* values, std::uint64_t n, std::uint32_t* indices, unsigned threads) {
    scratch->Sort(values, n, indices, threads);
}
void PairRadixSorter::Sort(const double* values, std::uint64_t n, std::uint32_t* indices, unsigned threads) {
    scratch->Sort(values, n, indices, threads);
}

void PairRadixSorter::TimePhases(PairPhaseSeconds* phases) noexcept { scratch->clock.into = phases; }

void PairRadixSorter::Release() noexcept {
    scratch->pairs.Clear();
    scratch->workers = {};
    scratch->tables = {};
    scratch->bucketOf = {};
    scratch->start = {};
    scratch->offsets = {};
    scratch->oneDigit = {};
}

std::uint64_t PairRadixSorter::Bytes() const noexcept {
    std::uint64_t bytes = scratch->pairs.size;
    const auto add = [&bytes](const auto& table) { bytes += table.size() * sizeof(table[0]); };
    for (const WorkerArea& area : scratch->workers) area.ForEachTable(add);
    add(scratch->bucketOf), add(scratch->start), add(scratch->offsets), add(scratch->oneDigit);
    return bytes;
}

std::uint64_t PairRadixSorter::ScratchBytes(std::uint64_t n, unsigned keyBytes, unsigned threads) {
    return ScratchBytesOfPairs(n, keyBytes == 4 ? sizeof(NarrowPairs::Pair) : sizeof(WidePairs::Pair), threads);
}

std::uint64_t PairRadixSorter::ScratchBytesOfPairs(std::uint64_t n, unsigned pairBytes, unsigned threads) {
    if (n == 0) return 0;
    const Sizes sizes(n, pairBytes == sizeof(NarrowPairs::Pair) ? sizeof(NarrowPairs::Pair) : sizeof(WidePairs::Pair));
    const unsigned T = sizes.buckets ? WorkerCount(threads) : 1;
    return n * sizes.pairBytes + T * sizes.WorkerBytes() + sizes.SharedBytes(T);
}

namespace {

// The choice Scratch::Sort makes, from the same sweep.
template <class Value>
unsigned PairBytesOf(const Value* values, std::uint64_t n) {
    if (sizeof(Value) == 4 || n == 0) return sizeof(NarrowPairs::Pair);
    const auto keys = FindKeyRange(values, 0, n);
    return keys.highest - keys.lowest <= 0xFFFFFFFFu ? sizeof(NarrowPairs::Pair) : sizeof(WidePairs::Pair);
}

}  // namespace

unsigned PairRadixSorter::PairBytes(const std::int32_t* values, std::uint64_t n) { return PairBytesOf(values, n); }
unsigned PairRadixSorter::PairBytes(const float* values, std::uint64_t n) { return PairBytesOf(values, n); }
unsigned PairRadixSorter::PairBytes(const std::int64_t* values, std::uint64_t n) { return PairBytesOf(values, n); }
unsigned PairRadixSorter::PairBytes(const double* values, std::uint64_t n) { return PairBytesOf(values, n); }

}  // namespace EvalCore
