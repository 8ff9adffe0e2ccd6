#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "driver/measuring/CellStatistics.h"
#include "driver/measuring/MedianInterval.h"
#include "driver/measuring/TimingStats.h"

// The text of the result files' time cells and of the stats and speed-up files
// beside them (driver/output/RunFileNames.h names the files).

// A time in milliseconds, a ratio or a floor as a cell of the result, stats and
// speed-up files: fixed notation with at most twelve decimals, a trailing run of
// zeros or of nines trimmed (SLib::STR_FromNum(value, 0, 12, 15)).
std::string TimeCell(double value);

// The file stats_<TYPE>.csv, written cell by cell like the result files: the header
// has no line feed, every row starts with "\n", no line feed follows the last row.
//
// "NbRecords,Column,Runs,Min,Median,Mean,Max,StdDev,Times", then
// ",CiLow,CiHigh" (the median's 95% interval) with `withInterval`.
std::string StatsHeader(bool withInterval = false);

// "\n<count>,<column>,<runs>,<min>,<median>,<mean>,<max>,<stdDev>,<t1;t2;...>" with
// every time in measured order and `summary` their summary. Numbers other than
// count and runs use the time-cell format of the result files (at most twelve
// decimals, trailing zeros trimmed). `times` must not be empty. `column` is
// written as is, so it must hold no ',' or line feed. With `withInterval`,
// ",<low>,<high>" follow: `interval`, the median's 95% interval, both cells
// empty without one (below 6 times).
std::string StatsRow(std::uint64_t count, const std::string& column, const std::vector<double>& times,
                     const TimingSummary& summary, bool withInterval = false,
                     const std::optional<MedianInterval>& interval = std::nullopt);

// The cells every stats row ends with: keys per second at the median, and for
// columns with a memory floor (driver/sorters/ColumnFloors.h) the floor and the
// cell's floor ratio. Header ",KeysPerSecond,FloorMs,FloorRatio"; row
// ",<count / median s>,<floor>,<median / floor>" with keys per second a whole
// number (empty for a median of 0) and the other two in the time-cell format,
// both empty without a floor ratio.
inline constexpr const char* kStatsLimitsHeader = ",KeysPerSecond,FloorMs,FloorRatio";
std::string StatsLimitsCells(std::uint64_t count, const CellStatistics& cell);

// With -R auto every stats row ends with the machine reference's time after
// each round of its data set (MachineReference.h), in round order: header
// ",ReferenceTimes", row ",<r1;r2;...>" in the time-cell format.
inline constexpr const char* kStatsReferenceHeader = ",ReferenceTimes";
std::string StatsReferenceCells(const std::vector<double>& referenceMs);

// The whole header of a run's stats files: StatsHeader, the limits' cells and,
// with `untilSure` (-R auto), the interval's and the reference's.
std::string StatsFileHeader(bool untilSure);

// The file speedup_<TYPE>.csv beside the stats file: per count and column the
// paired speed-ups over CPU Standard, one per round (CPU Standard's time of the
// round over the column's time of the same round), so both times of a ratio
// saw the same state of the machine. Written like the stats file.
//
// "NbRecords,Column,Runs,Median,CiLow,CiHigh,Ratios"
std::string SpeedupHeader();

// "\n<count>,<column>,<runs>,<median>,<low>,<high>,<r1;r2;...>": the paired
// ratios, their median and its 95% interval (empty cells below 6 ratios).
// Empty text for no ratios.
std::string SpeedupRow(std::uint64_t count, const std::string& column, const PairedSpeedups& paired);
