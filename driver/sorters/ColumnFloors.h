#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "driver/machine/GpuLimits.h"
#include "driver/machine/LimitsProbe.h"
#include "driver/measuring/CellStatistics.h"
#include "driver/measuring/KeyDistributions.h"
#include "driver/sorters/Columns.h"
#include "support/DataTypes.h"

// The memory floor of a cell (driver/measuring/MemoryFloor.h): the time the
// column's sort needs for its own memory traffic at the rates this machine was
// measured at, in milliseconds. The CPU radix columns are priced at `cpu`, the
// data set's own table (its record count must be n); the GPU column at `gpu`.
//
// The CPU radix columns have one on uniform keys only: their floor prices keys
// loaded in no memory order and a pass's stores spread over every value its
// digit takes, which presorted, repeated or skewed keys do not make, so on
// them a sort may beat it. The GPU on-card column's floor charges every byte
// as if read in order, so it holds for every distribution. Unset for every
// other column, where the limits it needs were not measured, and for a data
// set without keys (a floor of 0 is no multiple to hold a time against).
// The pair columns' (PairSortFloorMs) are priced like the radix columns', on
// uniform keys, the all-CPU one on `everyCpu` threads.
std::optional<double> ColumnFloorMs(Column column, AppCore::DataType type, Distribution distribution, std::uint64_t n,
                                    const DataSetLimits& cpu, const GpuLimits& gpu, unsigned everyCpu = 1);

// Each figure of `probes`, tables of one record count, at its best: the
// fastest any measured table showed, the noise of a shared machine only ever
// slowing a figure down. Unmeasured tables count for nothing; none measured
// gives the first table (or the empty one) as it is.
DataSetLimits BestFigures(const std::vector<DataSetLimits>& probes);

// A cell's floor priced from the probes taken around its data set's rounds:
// `ms` at BestFigures, so at or below the floor any one probe prices, and its
// spread over the probes each pricing it alone (from two measured probes on;
// none when the column has no floor).
struct PricedFloor {
    std::optional<double> ms;
    std::optional<FloorSpread> spread;
};
PricedFloor PriceColumnFloor(Column column, AppCore::DataType type, Distribution distribution, std::uint64_t n,
                             const std::vector<DataSetLimits>& probes, const GpuLimits& gpu, unsigned everyCpu = 1);
