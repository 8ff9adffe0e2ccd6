#include "driver/measuring/MemoryFloor.h"

#include "cpu_sort/DigitPairCounts.h"
#include "cpu_sort/RadixPassKernels.h"

#include <algorithm>

namespace {

constexpr std::uint64_t kPassesThroughIndices = 3;
constexpr std::uint64_t kPasses = 4;

// Whether the sort counts the digits of passes 2 to 4 by sweeps of their own
// through the indices: SortSingleThreaded for 16-bit digits; SortMultiThreaded
// unless its pair counts or its next-digit tables pay off (the conditions of
// IndexRadixSort.h, which must be kept in step).
template <class Value>
bool CountsEveryPass(std::uint64_t n, unsigned threads) {
    constexpr std::uint64_t radix = EvalCore::Detail::DigitLayout<Value>::radix;
    if (threads < 2) return radix != 256;
    if (radix == 256 && EvalCore::Detail::PairCountsPayOff(n, threads)) return false;
    const std::uint64_t t = threads;
    const bool nextDigitTables = t <= 65'536 && t * t * radix <= n;
    return !nextDigitTables;
}

// The rates the column's threads may reach: for several threads the better
// of each kind.
AccessRates RatesOf(const ArrayLimits& array, unsigned threads) {
    if (threads < 2) return array.oneThread;
    const AccessRates& one = array.oneThread;
    const AccessRates& all = array.allCpus;
    return {std::max(one.copyBytes, all.copyBytes), std::max(one.loads4, all.loads4),
            std::max(one.loads8, all.loads8), std::max(one.stores256, all.stores256),
            std::max(one.stores65536, all.stores65536)};
}

// The rate of one kind over the largest probed size of at most `bytes`, the
// tightest that still bounds an array of that size; 0 when there is none.
template <class Kind>
double AtMost(const CpuLimits& limits, unsigned threads, std::uint64_t bytes, Kind kind) {
    const ArrayLimits* largest = nullptr;
    for (const ArrayLimits& array : limits.arrays)
        if (array.arrayBytes <= bytes && (!largest || array.arrayBytes > largest->arrayBytes)) largest = &array;
    return largest ? kind(RatesOf(*largest, threads)) : 0.0;
}

// The best rate of one kind at any size.
template <class Kind>
double Best(const CpuLimits& limits, unsigned threads, Kind kind) {
    double best = 0;
    for (const ArrayLimits& array : limits.arrays) best = std::max(best, kind(RatesOf(array, threads)));
    return best;
}

}  // namespace

RadixSortTraffic IndexRadixSortTraffic(unsigned keyBytes, std::uint64_t n, unsigned threads) {
    const bool counting = keyBytes == 4 ? CountsEveryPass<int>(n, threads) : CountsEveryPass<long>(n, threads);
    RadixSortTraffic traffic;
    traffic.keyArrayBytes = n * keyBytes;
    traffic.indexArrayBytes = n * sizeof(std::uint32_t);
    traffic.sweepBytes = n * keyBytes;
    traffic.resweepBytes = n * keyBytes;
    traffic.loads = kPassesThroughIndices * n;
    traffic.reloads = counting ? kPassesThroughIndices * n : 0;
    traffic.stores = kPasses * n;
    traffic.fronts = keyBytes == 4 ? EvalCore::Detail::DigitLayout<int>::radix : EvalCore::Detail::DigitLayout<long>::radix;
    return traffic;
}

std::optional<FloorRates> FloorRatesFor(unsigned keyBytes, std::uint64_t n, unsigned threads,
                                        const CpuLimits& limits) {
    if (!limits.Measured() || (keyBytes != 4 && keyBytes != 8)) return std::nullopt;
    const std::uint64_t keyArray = n * keyBytes;
    const std::uint64_t indexArray = n * sizeof(std::uint32_t);
    const auto copy = [](const AccessRates& r) { return r.copyBytes; };
    const auto loads = [keyBytes](const AccessRates& r) { return keyBytes == 4 ? r.loads4 : r.loads8; };
    const auto stores = [keyBytes](const AccessRates& r) { return keyBytes == 4 ? r.stores256 : r.stores65536; };
    FloorRates rates;
    rates.sweepBytes = AtMost(limits, threads, keyArray, copy);
    rates.bestSweepBytes = Best(limits, threads, copy);
    rates.slotReadBytes = AtMost(limits, threads, indexArray, copy);
    rates.loads = AtMost(limits, threads, keyArray, loads);
    rates.bestLoads = Best(limits, threads, loads);
    rates.stores = AtMost(limits, threads, indexArray, stores);
    if (rates.sweepBytes <= 0 || rates.slotReadBytes <= 0 || rates.loads <= 0 || rates.stores <= 0) return std::nullopt;
    return rates;
}

double FloorMilliseconds(const RadixSortTraffic& traffic, const FloorRates& rates) {
    const auto over = [](std::uint64_t amount, double rate) { return amount == 0 ? 0.0 : amount / rate; };
    const double storeSeconds = std::max(
        0.0, over(traffic.stores, rates.stores) - over(traffic.stores * sizeof(std::uint32_t), rates.slotReadBytes));
    const double seconds = over(traffic.sweepBytes, rates.sweepBytes) +
                           over(traffic.resweepBytes, rates.bestSweepBytes) + over(traffic.loads, rates.loads) +
                           over(traffic.reloads, rates.bestLoads) + storeSeconds;
    return seconds * 1e3;
}

std::optional<double> RadixSortFloorMs(unsigned keyBytes, std::uint64_t n, unsigned threads,
                                       const CpuLimits& limits) {
    if (n == 0 && (keyBytes == 4 || keyBytes == 8) && limits.Measured()) return 0.0;
    const std::optional<FloorRates> rates = FloorRatesFor(keyBytes, n, threads, limits);
    if (!rates) return std::nullopt;
    return FloorMilliseconds(IndexRadixSortTraffic(keyBytes, n, threads), *rates);
}
