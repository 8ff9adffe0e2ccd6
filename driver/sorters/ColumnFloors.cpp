#include "driver/sorters/ColumnFloors.h"

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

}  // namespace

std::optional<double> ColumnFloorMs(Column column, AppCore::DataType type, Distribution distribution, std::uint64_t n,
                                    const DataSetLimits& cpu, const GpuLimits& gpu, unsigned everyCpu) {
    const std::optional<double> floor = FloorOf(column, type, distribution, n, cpu, gpu, everyCpu);
    if (floor && *floor > 0.0) return floor;
    return std::nullopt;
}
