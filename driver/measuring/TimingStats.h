#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "driver/measuring/MedianInterval.h"

// Statistics over the repeated timings (milliseconds) of one sorter on one data
// set, and the text that reports them.

struct TimingSummary {
    std::size_t runs;
    double min, median, mean, max, stdDev;

    // Coefficient of variation stdDev / mean; 0 when mean is 0.
    double Cv() const;
};

// Summary of `times`, which must not be empty. The median is the middle value of
// the sorted times, the mean of the two middle ones for an even count. stdDev is
// the sample standard deviation (divides by n - 1, like Google Benchmark's stddev
// aggregate), 0 for a single run. The caller's vector keeps its order.
TimingSummary Summarize(const std::vector<double>& times);

// The order in which round `round` (0-based) runs a data set's `sorters` columns:
// element j is (round + j) mod sorters, i.e. 0..sorters-1 rotated left by round.
// Over `sorters` consecutive rounds each sorter runs once in every position, so no
// sorter always inherits the caches or clock state left by the same neighbour.
// Empty for 0 sorters.
std::vector<std::size_t> RoundOrder(std::size_t sorters, std::size_t round);

// A time in milliseconds, a ratio or a floor as a cell of the result, stats and
// speed-up files: fixed notation with at most twelve decimals, a trailing run of
// zeros or of nines trimmed (SLib::STR_FromNum(value, 0, 12, 15)).
std::string TimeCell(double value);

// `value` rounded to `digits` (at least 1) significant digits in fixed notation,
// never an exponent. Zeros after the decimal point that belong to the significant
// digits stay ("171.0"); integer parts longer than `digits` are printed in full
// without decimals ("12345"). "inf", "-inf" or "nan" for non-finite values.
std::string SignificantDigits(double value, int digits);

// Console suffix after a sorter's median time when it ran more than once:
// " (median of 9, 152.3 … 171.0, cv 3.4%)" - min and max with 4 significant
// digits, cv in percent with one decimal. A `note` that is not empty comes last
// inside the brackets: "..., cv 3.4%, 1.4× its memory floor)".
std::string SpreadSuffix(const TimingSummary& summary, const std::string& note = {});

// SpreadSuffix with the median's 95% interval after the cv:
// " (median of 9, 152.3 … 171.0, cv 3.4%, 95% CI 155.0 … 160.2)", or
// ", no 95% CI below 6 runs" when there are too few times for one; `note` last.
std::string SureSpreadSuffix(const TimingSummary& summary, const std::optional<MedianInterval>& interval,
                             const std::string& note = {});

// "1.6%": a fraction as a percentage with one decimal.
std::string PercentText(double fraction);

// "1.4× its memory floor": the median over the floor, 2 significant digits.
std::string FloorNote(double medianMs, double floorMs);

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
// median over it. Header ",KeysPerSecond,FloorMs,FloorRatio"; row
// ",<count / median s>,<floor>,<median / floor>" with keys per second a whole
// number (empty for a median of 0) and the other two in the time-cell format,
// both empty without a floor.
inline constexpr const char* kStatsLimitsHeader = ",KeysPerSecond,FloorMs,FloorRatio";
std::string StatsLimitsCells(std::uint64_t count, double medianMs, std::optional<double> floorMs);

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

// The paired speed-ups standard[r] / times[r] for every round r both have.
std::vector<double> PairedRatios(const std::vector<double>& standard, const std::vector<double>& times);

// "\n<count>,<column>,<runs>,<median>,<low>,<high>,<r1;r2;...>": the paired
// `ratios`, their median and its 95% interval (empty cells below 6 ratios).
// Empty text for no ratios.
std::string SpeedupRow(std::uint64_t count, const std::string& column, const std::vector<double>& ratios);

// Above this spread the median of a few runs can shift by more than the gaps
// between close sorters, so the comparison is no longer trustworthy.
inline constexpr double kNoisyCvLimit = 0.05;

struct NoisyCell {
    std::string dataType;  // "INT", "FLOAT", ...
    std::uint64_t count;
    std::string column;  // "CPU 8 Thread", ...
    TimingSummary summary;
    std::optional<MedianInterval> interval;  // the median's 95% interval, when the cell has one
    std::optional<double> floorMs;           // the column's memory floor, when it has one
    // With -R auto: how far the machine's speed moved while its data set ran
    // (ReferenceDrift of the machine reference's times).
    std::optional<double> drift;
};

// The end-of-run report of cells whose Cv() exceeds `cvLimit`, in the given order:
// a header line "Noisy cells (coefficient of variation above 5%):", one line per
// such cell "  INT 10000000 CPU 8 Thread: cv 7.2% (median 204.1 ms, 180.2 … 241.0)",
// then a hint line. No lines at all when no cell exceeds the limit. Lines carry no
// line feed.
std::vector<std::string> NoiseReportLines(const std::vector<NoisyCell>& cells, double cvLimit = kNoisyCvLimit);

// The same report for runs that aimed at an interval (-R auto): the cells whose
// 95% interval is missing or wider than `target` (a fraction of the median),
// "  INT 10000000 CPU 8 Thread: median 204.1 ms, 95% CI 190.1 … 220.0 (±7.8%)",
// under a header and above a hint; "Every cell's 95% interval is within ±1% of
// its median." when there is none and `cells` is not empty.
//
// Then the data sets during which the machine itself drifted: its speed moved
// by more than the width of the interval aimed at (2 × `target`), so the
// rounds measured the machine as much as the sorters, and the medians of a
// second run may land outside these intervals. Their cells that missed the
// target are counted there, not listed above:
// "  INT 10000000: the machine's speed drifted 31.0%, 3 cells missed ±1%",
// under a header and above a hint on what helps.
std::vector<std::string> IntervalReportLines(const std::vector<NoisyCell>& cells, double target);

// The cells whose median lies below their memory floor, which by construction
// no sort can beat: there the floor's model of the machine or of the sort is
// wrong, and the cell's ratio means nothing. A header, one line per cell
// "  INT 10000000 CPU 1 Thread: median 150.2 ms, floor 171.0 ms (0.88×)", and a
// hint; no lines when every median is at or above its floor.
std::vector<std::string> BelowFloorReportLines(const std::vector<NoisyCell>& cells);
