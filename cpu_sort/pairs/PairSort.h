#pragma once

#include <time.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

#include "cpu_sort/WorkerThreads.h"
#include "cpu_sort/pairs/PairBucketPlan.h"
#include "cpu_sort/pairs/PairKeyRange.h"
#include "cpu_sort/pairs/PairLargeBucket.h"
#include "cpu_sort/pairs/PairLeafSort.h"
#include "cpu_sort/pairs/PairRadixSorter.h"
#include "cpu_sort/pairs/PairScatterPhase.h"

// The phases of the key-carrying sort (PairRadixSorter.h), in order: the key
// range (PairKeyRange.h), the plan digits counted per chunk and the bucket
// plan (PairBucketPlan.h), the scatter of pairs into buckets
// (PairScatterPhase.h), and the buckets sorted in cache (PairLeafSort.h) or
// split again (PairLargeBucket.h), handed out to the workers one at a time.
namespace EvalCore::PairDetail {

// One worker's tables; every pointer holds what its comment says, any contents
// unless said.
struct WorkerTables {
    std::uint32_t* counts;        // 2 x kPlanDigits; the second half zeros
    std::uint32_t* next;          // kMaxBuckets
    void* lines;                  // kMaxBuckets x kLineBytes, 64-byte aligned
    std::uint8_t* filled;         // kMaxBuckets zeros
    std::uint32_t* owned;         // kMaxBuckets
    void* leafBuffer;             // kLeafMaxBytes
    std::uint32_t* leafCounters;  // kLeafCounters
    LargeBucketTables large;
};

// The shared plan and the per-worker bucket offsets (workers x kMaxBuckets).
struct SharedTables {
    BucketPlan plan;
    std::uint32_t* offsets;
};

// Runs work(t, T) for every worker t, on the calling thread when T is 1.
template <class Work>
void RunPhase(std::vector<std::thread>& threads, unsigned T, const Work& work) {
    if (T == 1)
        work(0ul, 1ul);
    else
        RunWorkers(threads, T, work);
}

// The clock of PairRadixSorter::TimePhases: read only when `into` is set.
struct PhaseClock {
    PairPhaseSeconds* into = nullptr;
    bool threadTime = false;  // one thread: the calling thread's CPU time
    double last = 0;

    double Now() const {
        timespec now{};
        clock_gettime(threadTime ? CLOCK_THREAD_CPUTIME_ID : CLOCK_MONOTONIC, &now);
        return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
    }
    void Start(unsigned threads) {
        if (into == nullptr) return;
        threadTime = threads == 1;
        last = Now();
    }
    // Adds the time since the last reading to `phase`.
    void Lap(double PairPhaseSeconds::*phase) {
        if (into == nullptr) return;
        const double now = Now();
        into->*phase += now - last;
        last = now;
    }
};

inline std::size_t ChunkStart(std::size_t n, unsigned long t, unsigned long T) { return n * t / T; }

// Sorts a key array of more than kLeafMaxPairs<Format> keys whose sort keys
// less `base` are planned by `planDigits` (ShiftDigits or PlanDigits), into
// indices, on T workers.
template <class Format, class Value, class Digits>
void SortPairsInBuckets(const Value* values, std::size_t n, std::uint32_t* indices, std::uint64_t base,
                        const Digits& planDigits, unsigned T, typename Format::Pair* pairs, WorkerTables* workers,
                        SharedTables& shared, std::vector<std::thread>& threads, PhaseClock& clock) {
    using Pair = typename Format::Pair;
    const std::size_t digits = planDigits.count;
    RunPhase(threads, T, [&](unsigned long t, unsigned long) {
        WorkerTables& w = workers[t];
        std::fill_n(w.counts, digits, 0u);
        const std::size_t first = ChunkStart(n, t, T);
        CountPlanDigits(ChunkStart(n, t + 1, T) - first, digits, w.counts, w.counts + kPlanDigits,
                        [&](std::size_t i) { return planDigits(RelativeKey(values[first + i], base)); });
    });

    // The plan from the summed counts, then each worker's place in every
    // bucket: worker t's pairs follow those of workers 0 ... t - 1, so a
    // bucket holds its pairs in index order.
    std::uint32_t* total = workers[0].counts + kPlanDigits;  // zeros, restored below
    for (unsigned t = 0; t < T; ++t)
        for (std::size_t d = 0; d < digits; ++d) total[d] += workers[t].counts[d];
    BucketPlan& plan = shared.plan;
    MakeBucketPlan(total, digits, n, plan, planDigits.offset[1]);
    std::fill_n(total, digits, 0u);
    for (unsigned t = 0; t < T; ++t) {
        std::uint32_t* offsets = shared.offsets + t * kMaxBuckets;
        std::fill_n(offsets, plan.buckets, 0u);
        for (std::size_t d = 0; d < digits; ++d) offsets[plan.bucketOf[d]] += workers[t].counts[d];
    }
    for (std::size_t b = 0; b < plan.buckets; ++b) {
        std::uint32_t position = plan.start[b];
        for (unsigned t = 0; t < T; ++t) {
            std::uint32_t& offset = shared.offsets[t * kMaxBuckets + b];
            const std::uint32_t count = offset;
            offset = position;
            position += count;
        }
    }
    clock.Lap(&PairPhaseSeconds::plan);

    RunPhase(threads, T, [&](unsigned long t, unsigned long) {
        WorkerTables& w = workers[t];
        std::uint32_t* next = shared.offsets + t * kMaxBuckets;
        ScatterChunk<Format>(values, ChunkStart(n, t, T), ChunkStart(n, t + 1, T), base, planDigits, plan.bucketOf,
                             plan.buckets, next, pairs,
                             CombiningLines<Format>{static_cast<Pair*>(w.lines), w.filled, w.owned});
    });
    clock.Lap(&PairPhaseSeconds::scatter);

    std::atomic<std::size_t> nextBucket{0};
    RunPhase(threads, T, [&](unsigned long t, unsigned long) {
        WorkerTables& w = workers[t];
        auto* buffer = static_cast<Pair*>(w.leafBuffer);
        // A worker's next bucket is likely T further on.
        const auto Upcoming = [&](std::size_t b) {
            if (b >= plan.buckets) return UpcomingLines{};
            return UpcomingLines{reinterpret_cast<const char*>(pairs + plan.start[b]),
                                 reinterpret_cast<const char*>(pairs + plan.start[b + 1]),
                                 reinterpret_cast<char*>(indices + plan.start[b]),
                                 reinterpret_cast<char*>(indices + plan.start[b + 1])};
        };
        for (std::size_t b; (b = nextBucket.fetch_add(1, std::memory_order_relaxed)) < plan.buckets;) {
            const std::size_t first = plan.start[b], size = plan.start[b + 1] - first;
            if (plan.oneDigit[b] && planDigits.KeyPerDigit(plan.firstDigit[b]))
                WriteIndices<Format>(pairs + first, size, indices + first);
            else if (size <= kLeafMaxPairs<Format>)
                SortLeaf<Format>(pairs + first, size, buffer, indices + first, w.leafCounters,
                                 static_cast<typename Format::Key>(planDigits.LowestKey(plan.firstDigit[b])),
                                 planDigits.VaryingBits(plan.firstDigit[b], plan.firstDigit[b + 1]), Upcoming(b + T));
            else if (T > 1 || clock.into == nullptr)
                SortLargeBucket<Format>(pairs + first, size, indices + first, buffer, w.leafCounters, w.large, 0);
            else {
                const double start = clock.Now();
                SortLargeBucket<Format>(pairs + first, size, indices + first, buffer, w.leafCounters, w.large, 0);
                clock.into->largeBuckets += clock.Now() - start;
                clock.into->largeBucketPairs += size;
            }
        }
    });
    clock.Lap(&PairPhaseSeconds::buckets);
}

// Sorts at most kLeafMaxPairs<Format> keys on the calling thread.
template <class Format, class Value>
void SortPairsInCache(const Value* values, std::size_t n, std::uint32_t* indices, std::uint64_t base,
                      typename Format::Pair* pairs, WorkerTables& worker) {
    for (std::size_t i = 0; i < n; ++i)
        pairs[i] = Format::Make(RelativeKey(values[i], base), static_cast<std::uint32_t>(i));
    SortLeafOfAnyRange<Format>(pairs, n, static_cast<typename Format::Pair*>(worker.leafBuffer), indices,
                               worker.leafCounters);
}

}  // namespace EvalCore::PairDetail
