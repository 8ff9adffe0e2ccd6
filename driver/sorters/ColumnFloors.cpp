#include "driver/sorters/ColumnFloors.h"

#include <algorithm>
#include <initializer_list>

#include "driver/measuring/MemoryFloor.h"
#include "driver/measuring/PairSortFloor.h"
#include "driver/measuring/TestData.h"

namespace {

std::optional<double> FloorOf(Column column, AppCore::DataType type, Distribution distribution, std::uint64_t n,
                              const DataSetLimits& cpu, const GpuLimits& gpu, unsigned everyCpu) {
    const unsigned keyBytes = AppCore::FactsOf(type).keyBytes;
    if (column == Column::GpuOnCard) return GpuOnCardFloorMs(keyBytes, n, gpu);
    const ColumnFacts& facts = FactsOf(column);
    if (distribution != Distribution::Uniform) return std::nullopt;
    if (facts.sorter == ColumnSorter::RadixSort)
        return RadixSortFloorMs(keyBytes, n, facts.threads, cpu, UniformKeySpreadBits(type));
    if (facts.sorter == ColumnSorter::PairSort)
        return PairSortFloorMs(keyBytes, n, ColumnThreads(column, everyCpu), cpu, UniformKeySpreadBits(type));
    return std::nullopt;
}

void KeepBest(AccessRates& best, const AccessRates& rates) {
    for (double AccessRates::*rate :
         {&AccessRates::copyBytes, &AccessRates::loads4, &AccessRates::loads8, &AccessRates::stores256,
          &AccessRates::stores65536, &AccessRates::moves4, &AccessRates::moves8})
        best.*rate = std::max(best.*rate, rates.*rate);
}

void KeepBest(PairRates& best, const PairRates& rates) {
    for (double PairRates::*rate : {&PairRates::planned, &PairRates::scattered, &PairRates::counts, &PairRates::moves})
        best.*rate = std::max(best.*rate, rates.*rate);
}

void KeepBest(ArrayLimits& best, const ArrayLimits& limits) {
    KeepBest(best.oneThread, limits.oneThread);
    KeepBest(best.allCpus, limits.allCpus);
}

}  // namespace

std::optional<double> ColumnFloorMs(Column column, AppCore::DataType type, Distribution distribution, std::uint64_t n,
                                    const DataSetLimits& cpu, const GpuLimits& gpu, unsigned everyCpu) {
    const std::optional<double> floor = FloorOf(column, type, distribution, n, cpu, gpu, everyCpu);
    if (floor && *floor > 0.0) return floor;
    return std::nullopt;
}

DataSetLimits BestFigures(const std::vector<DataSetLimits>& probes) {
    const auto measured = [](const DataSetLimits& probe) { return probe.Measured(); };
    const auto first = std::find_if(probes.begin(), probes.end(), measured);
    if (first == probes.end()) return probes.empty() ? DataSetLimits{} : probes.front();
    DataSetLimits best = *first;
    for (auto probe = first + 1; probe != probes.end(); ++probe) {
        if (!probe->Measured() || probe->records != best.records) continue;
        KeepBest(best.indexArrays, probe->indexArrays);
        KeepBest(best.wideKeys, probe->wideKeys);
        // A probe whose pair buffers could not be had measured none of their figures.
        if (best.pairs.leafBytes == 0) best.pairs.leafBytes = probe->pairs.leafBytes;
        KeepBest(best.pairs.oneThread, probe->pairs.oneThread);
        KeepBest(best.pairs.allCpus, probe->pairs.allCpus);
    }
    return best;
}

PricedFloor PriceColumnFloor(Column column, AppCore::DataType type, Distribution distribution, std::uint64_t n,
                             const std::vector<DataSetLimits>& probes, const GpuLimits& gpu, unsigned everyCpu) {
    PricedFloor priced;
    priced.ms = ColumnFloorMs(column, type, distribution, n, BestFigures(probes), gpu, everyCpu);
    if (!priced.ms) return priced;
    std::size_t floors = 0;
    FloorSpread spread{.lowestMs = *priced.ms, .highestMs = *priced.ms};
    for (const DataSetLimits& probe : probes) {
        if (!probe.Measured()) continue;
        const std::optional<double> alone = ColumnFloorMs(column, type, distribution, n, probe, gpu, everyCpu);
        if (!alone) continue;
        spread.lowestMs = floors == 0 ? *alone : std::min(spread.lowestMs, *alone);
        spread.highestMs = floors == 0 ? *alone : std::max(spread.highestMs, *alone);
        ++floors;
    }
    if (floors >= 2) priced.spread = spread;
    return priced;
}
