#include "driver/measuring/PairSortFloor.h"

#include <algorithm>
#include <bit>

#include "cpu_sort/pairs/PairBucketPlan.h"
#include "driver/measuring/MemoryFloor.h"

namespace {

using namespace EvalCore::PairDetail;

// Each figure the better of the all-CPU one and one thread's times the
// threads that run at once (MemoryFloor.cpp says why).
PairRates PairRatesOf(const PairLimits& pairs, unsigned threads, unsigned cpus) {
    if (threads < 2) return pairs.oneThread;
    const double together = std::max(1u, std::min(threads, cpus));
    const auto best = [&](double oneThread, double allCpus) { return std::max(oneThread * together, allCpus); };
    return {best(pairs.oneThread.planned, pairs.allCpus.planned),
            best(pairs.oneThread.scattered, pairs.allCpus.scattered),
            best(pairs.oneThread.counts, pairs.allCpus.counts), best(pairs.oneThread.moves, pairs.allCpus.moves)};
}

// The passes of a leaf whose keys vary over `bits` bits (PairLeafSort.h).
std::uint64_t LeafPasses(unsigned bits) {
    if (bits == 0) return 0;
    return bits <= 2 * kLeafDigitBits ? (bits + kLeafDigitBits - 1) / kLeafDigitBits : 1;
}

}  // namespace

PairSortTraffic PairRadixSortTraffic(unsigned keyBytes, std::uint64_t n, unsigned spreadBits) {
    // A sign bit above the spread bits: keys below 2^24 in magnitude span 2^25.
    const unsigned rangeBits = std::min(spreadBits + 1, 8 * keyBytes);
    const std::uint64_t pairBytes =
        keyBytes == 4 || rangeBits <= 32 ? sizeof(NarrowPairs::Pair) : sizeof(WidePairs::Pair);
    PairSortTraffic traffic;
    traffic.keyBytes = n * keyBytes;
    traffic.indexBytes = n * sizeof(std::uint32_t);
    unsigned planBits = 0;
    if (n > LeafMaxPairs(pairBytes)) {
        const std::uint64_t target = BucketTargetPairs(n);
        planBits = static_cast<unsigned>(std::bit_width((n + target - 1) / target)) - 1;
        traffic.plannedKeys = n;
        traffic.scatteredPairs = n * (pairBytes / sizeof(NarrowPairs::Pair));
        traffic.pairBytes = n * pairBytes;
    }
    const unsigned leafBits = rangeBits > planBits ? rangeBits - planBits : 0;
    traffic.leafCounts = leafBits > 0 ? n : 0;
    traffic.leafMoves = LeafPasses(leafBits) * n;
    return traffic;
}

std::optional<PairFloorPhases> PairSortFloorPhasesMs(unsigned keyBytes, std::uint64_t n, unsigned threads,
                                                     const DataSetLimits& limits, unsigned spreadBits) {
    if (n == 0 || limits.pairs.leafBytes == 0) return std::nullopt;
    const std::optional<FloorRates> keys = FloorRatesFor(keyBytes, n, threads, limits);
    const std::optional<FloorRates> wide = FloorRatesFor(8, n, threads, limits);
    if (!keys || !wide) return std::nullopt;
    const PairRates pairs = PairRatesOf(limits.pairs, threads, limits.cpus);
    if (pairs.planned <= 0 || pairs.scattered <= 0 || pairs.counts <= 0 || pairs.moves <= 0) return std::nullopt;

    const PairSortTraffic traffic = PairRadixSortTraffic(keyBytes, n, spreadBits);
    const auto ms = [](std::uint64_t amount, double rate) { return static_cast<double>(amount) / rate * 1e3; };
    const double memory = ms(traffic.pairBytes, wide->sweepBytes) + ms(traffic.indexBytes, keys->slotReadBytes);
    const double cache = ms(traffic.leafCounts, pairs.counts) + ms(traffic.leafMoves, pairs.moves);
    return PairFloorPhases{
        .range = ms(traffic.keyBytes, keys->sweepBytes),
        .plan = std::max(ms(traffic.keyBytes, keys->bestSweepBytes), ms(traffic.plannedKeys, pairs.planned)),
        .scatter = ms(traffic.scatteredPairs, pairs.scattered),
        .buckets = std::max(memory, cache)};
}

std::optional<double> PairSortFloorMs(unsigned keyBytes, std::uint64_t n, unsigned threads, const DataSetLimits& limits,
                                      unsigned spreadBits) {
    const std::optional<PairFloorPhases> phases = PairSortFloorPhasesMs(keyBytes, n, threads, limits, spreadBits);
    if (!phases) return std::nullopt;
    return phases->Total();
}
