#pragma once

#include <cstdint>
#include <optional>

#include "driver/machine/LimitsProbe.h"
#include "driver/measuring/KeyDistributions.h"
#include "driver/sorters/Columns.h"
#include "support/DataTypes.h"

// The memory floor of a cell (driver/measuring/MemoryFloor.h): the time the
// column's sort needs for its own memory traffic at the rates this machine was
// measured at, in milliseconds.
//
// Only the radix columns have one, and only on uniform keys: the floor prices
// keys loaded in no memory order and a pass's stores spread over every value
// its digit takes, which presorted, repeated or skewed keys do not make, so
// on them a sort may beat it. Unset for every other column, for the other
// distributions and when the limits were not measured.
std::optional<double> ColumnFloorMs(Column column, AppCore::DataType type, Distribution distribution, std::uint64_t n,
                                    const CpuLimits& cpu);
