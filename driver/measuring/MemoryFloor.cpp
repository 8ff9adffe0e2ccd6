#include "driver/measuring/MemoryFloor.h"

#include <algorithm>

#include "cpu_sort/RadixPassKernels.h"
#include "gpu/shaders/sort_constants.h"

namespace {

constexpr std::uint64_t kPassesThroughIndices = 3;

// The rates the column's threads may reach. For several threads each kind is
// the better of the all-CPU figure and one thread's scaled by the threads that
// can run at once (min(threads, cpus)): threads working apart can at best add
// up their rates, and the probe's all-CPU timings, which share the memory and
// may meet other work on a shared machine, came out below what the sorts
// reach (two threads of 8-byte keys ran 1.57 times one thread's speed where
// the all-CPU loads were 1.03 times one thread's), which put their floors
// above measured sorts. A floor that is looser is still a floor.
AccessRates RatesOf(const ArrayLimits& array, unsigned threads, unsigned cpus) {
    if (threads < 2) return array.oneThread;
    const AccessRates& one = array.oneThread;
    const AccessRates& all = array.allCpus;
    const double together = std::max(1u, std::min(threads, cpus));
    const auto best = [&](double oneThread, double allCpus) { return std::max(oneThread * together, allCpus); };
    return {best(one.copyBytes, all.copyBytes), best(one.loads4, all.loads4),           best(one.loads8, all.loads8),
            best(one.stores256, all.stores256), best(one.stores65536, all.stores65536), best(one.moves4, all.moves4),
            best(one.moves8, all.moves8)};
}

}  // namespace

RadixSortTraffic IndexRadixSortTraffic(unsigned keyBytes, std::uint64_t n, unsigned spreadBits) {
    const bool narrow = keyBytes == 4;
    const unsigned digitBits =
        narrow ? EvalCore::Detail::DigitLayout<int>::bits : EvalCore::Detail::DigitLayout<long>::bits;
    const auto spread = [&](unsigned digit) { return (digit + 1) * digitBits <= spreadBits; };
    std::uint64_t spreadPasses = 0;
    for (unsigned digit = 1; digit <= kPassesThroughIndices; ++digit) spreadPasses += spread(digit) ? 1 : 0;

    RadixSortTraffic traffic;
    traffic.keyArrayBytes = n * keyBytes;
    traffic.indexArrayBytes = n * sizeof(std::uint32_t);
    traffic.sweepBytes = n * keyBytes;
    traffic.resweepBytes = n * keyBytes;
    traffic.stores = spread(0) ? n : 0;
    traffic.moves = spreadPasses * n;
    traffic.loads = (kPassesThroughIndices - spreadPasses) * n;
    traffic.fronts = narrow ? EvalCore::Detail::DigitLayout<int>::radix : EvalCore::Detail::DigitLayout<long>::radix;
    return traffic;
}

std::optional<FloorRates> FloorRatesFor(unsigned keyBytes, std::uint64_t n, unsigned threads,
                                        const DataSetLimits& limits) {
    if (!limits.Measured() || limits.records != n || (keyBytes != 4 && keyBytes != 8)) return std::nullopt;
    const bool narrow = keyBytes == 4;
    const AccessRates index = RatesOf(limits.indexArrays, threads, limits.cpus);
    const AccessRates wide = RatesOf(limits.wideKeys, threads, limits.cpus);
    FloorRates rates;
    rates.sweepBytes = narrow ? index.copyBytes : wide.copyBytes;
    rates.bestSweepBytes = std::max(index.copyBytes, wide.copyBytes);
    rates.slotReadBytes = index.copyBytes;
    rates.stores = narrow ? index.stores256 : index.stores65536;
    rates.moves = narrow ? index.moves4 : index.moves8;
    rates.loads = narrow ? index.loads4 : index.loads8;
    if (rates.sweepBytes <= 0 || rates.slotReadBytes <= 0 || rates.stores <= 0 || rates.moves <= 0 || rates.loads <= 0)
        return std::nullopt;
    return rates;
}

double FloorMilliseconds(const RadixSortTraffic& traffic, const FloorRates& rates) {
    const auto over = [](double amount, double rate) { return amount == 0 ? 0.0 : amount / rate; };
    // Each store or move of the probe also read its 4-byte slot.
    const auto lessSlotReads = [&](std::uint64_t count, double rate) {
        return std::max(0.0, over(count, rate) - over(4.0 * count, rates.slotReadBytes));
    };
    const double seconds = over(traffic.sweepBytes, rates.sweepBytes) +
                           over(traffic.resweepBytes, rates.bestSweepBytes) +
                           lessSlotReads(traffic.stores, rates.stores) + lessSlotReads(traffic.moves, rates.moves) +
                           over(traffic.loads, rates.loads);
    return seconds * 1e3;
}

std::optional<double> RadixSortFloorMs(unsigned keyBytes, std::uint64_t n, unsigned threads,
                                       const DataSetLimits& limits, unsigned spreadBits) {
    const std::optional<FloorRates> rates = FloorRatesFor(keyBytes, n, threads, limits);
    if (!rates) return std::nullopt;
    return FloorMilliseconds(IndexRadixSortTraffic(keyBytes, n, spreadBits), *rates);
}

GpuSortTraffic GpuRadixSortTraffic(unsigned keyBytes, std::uint64_t n) {
    if (keyBytes != 4 && keyBytes != 8) return {};
    // Digits, key words and indices are all 32-bit.
    constexpr std::uint64_t word = sizeof(std::uint32_t);
    const std::uint64_t passes = keyBytes * 8 / SORT_DIGIT_BITS;
    return {.keyWordBytes = 2 * passes * word * n,
            .indexReadBytes = 2 * (passes - 1) * word * n,
            .indexWriteBytes = passes * word * n};
}

std::optional<double> GpuOnCardFloorMs(unsigned keyBytes, std::uint64_t n, const GpuLimits& limits) {
    if (!limits.Measured() || (keyBytes != 4 && keyBytes != 8)) return std::nullopt;
    if (n == 0) return 0.0;
    if (n * sizeof(std::uint32_t) < limits.bufferBytes) return std::nullopt;
    return static_cast<double>(GpuRadixSortTraffic(keyBytes, n).Bytes()) / limits.copyBytes * 1e3;
}
