#include "driver/sorters/ColumnFloors.h"

#include "driver/measuring/MemoryFloor.h"
#include "driver/measuring/TestData.h"

std::optional<double> ColumnFloorMs(Column column, AppCore::DataType type, Distribution distribution, std::uint64_t n,
                                    const CpuLimits& cpu) {
    if (distribution != Distribution::Uniform) return std::nullopt;
    const ColumnFacts& facts = FactsOf(column);
    if (facts.sorter != ColumnSorter::RadixSort) return std::nullopt;
    return RadixSortFloorMs(AppCore::FactsOf(type).keyBytes, n, facts.threads, cpu, UniformKeySpreadBits(type));
}
