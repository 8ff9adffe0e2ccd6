#include "driver/measuring/PairSortFloor.h"

#include <algorithm>

#include "cpu_sort/pairs/PairFormat.h"
#include "driver/measuring/MemoryFloor.h"

PairSortTraffic PairRadixSortTraffic(unsigned keyBytes, std::uint64_t n, unsigned spreadBits) {
    using namespace EvalCore::PairDetail;
    // A sign bit above the spread bits: keys below 2^24 in magnitude span 2^25.
    const bool narrow = keyBytes == 4 || spreadBits + 1 <= 32;
    const std::uint64_t pairBytes = narrow ? sizeof(NarrowPairs::Pair) : sizeof(WidePairs::Pair);
    PairSortTraffic traffic;
    traffic.firstSweepBytes = n * keyBytes;
    traffic.otherBytes = 2 * n * keyBytes + 2 * n * pairBytes + n * sizeof(std::uint32_t);
    return traffic;
}

std::optional<double> PairSortFloorMs(unsigned keyBytes, std::uint64_t n, unsigned threads, const DataSetLimits& limits,
                                      unsigned spreadBits) {
    if (n == 0) return std::nullopt;
    const std::optional<FloorRates> rates = FloorRatesFor(keyBytes, n, threads, limits);
    if (!rates) return std::nullopt;
    const PairSortTraffic traffic = PairRadixSortTraffic(keyBytes, n, spreadBits);
    const double seconds = traffic.firstSweepBytes / rates->sweepBytes + traffic.otherBytes / rates->bestSweepBytes;
    return seconds * 1e3;
}
