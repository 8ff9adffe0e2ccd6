#include "driver/sorters/ColumnFloors.h"

#include "driver/measuring/MemoryFloor.h"
#include "driver/measuring/TestData.h"

namespace {

std::optional<double> FloorOf(Column column, AppCore::DataType type, Distribution distribution, std::uint64_t n,
                              const DataSetLimits& cpu, const GpuLimits& gpu) {
    const unsigned keyBytes = AppCore::FactsOf(type).keyBytes;
    if (column == Column::GpuOnCard) return GpuOnCardFloorMs(keyBytes, n, gpu);
    const ColumnFacts& facts = FactsOf(column);
    if (distribution != Distribution::Uniform || facts.sorter != ColumnSorter::RadixSort) return std::nullopt;
    return RadixSortFloorMs(keyBytes, n, facts.threads, cpu, UniformKeySpreadBits(type));
}

}  // namespace

std::optional<double> ColumnFloorMs(Column column, AppCore::DataType type, Distribution distribution, std::uint64_t n,
                                    const DataSetLimits& cpu, const GpuLimits& gpu) {
    const std::optional<double> floor = FloorOf(column, type, distribution, n, cpu, gpu);
    if (floor && *floor > 0.0) return floor;
    return std::nullopt;
}
