#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "driver/measuring/CellStatistics.h"
#include "driver/measuring/MedianInterval.h"
#include "driver/measuring/TimingStats.h"

// The console's text of measured cells: the spread after a time, the notes on
// floors, and the reports at the end of a run.

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

// "1.4× its memory floor": a cell's floor ratio, 2 significant digits.
std::string FloorNote(double floorRatio);

// A cell of the end-of-run reports, which render its record's verdicts and
// apply no rule of their own.
struct NoisyCell {
    std::string dataType;  // "INT", "FLOAT", ...
    std::uint64_t count;
    std::string column;  // "CPU 8 Thread", ...
    CellStatistics stats;
};

// The end-of-run report of noisy cells (CellStatistics::noisy), in the given order:
// a header line "Noisy cells (coefficient of variation above 5%):", one line per
// such cell "  INT 10000000 CPU 8 Thread: cv 7.2% (median 204.1 ms, 180.2 … 241.0)",
// then a hint line. No lines at all when no cell is noisy. Lines carry no
// line feed.
std::vector<std::string> NoiseReportLines(const std::vector<NoisyCell>& cells);

// The same report for runs that aimed at an interval (-R auto): the cells whose
// 95% interval is missing or wider than `target` (a fraction of the median: the
// verdict CellStatistics::intervalReached),
// "  INT 10000000 CPU 8 Thread: median 204.1 ms, 95% CI 190.1 … 220.0 (±7.8%)",
// under a header and above a hint; "Every cell's 95% interval is within ±1% of
// its median." when there is none and `cells` is not empty.
//
// Then the data sets during which the machine itself drifted (the verdict
// CellStatistics::drifted): its speed moved by more than the width of the
// interval aimed at (2 × `target`), so the
// rounds measured the machine as much as the sorters, and the medians of a
// second run may land outside these intervals. Their cells that missed the
// target are counted there, not listed above:
// "  INT 10000000: the machine's speed drifted 31.0%, 3 cells missed ±1%",
// under a header and above a hint on what helps.
std::vector<std::string> IntervalReportLines(const std::vector<NoisyCell>& cells, double target);

// "Note: the memory floors of 2 cells could not be priced reliably: ...", one line
// when the floors of any cells are unreliable (CellStatistics), empty otherwise.
std::string UnreliableFloorsLine(const std::vector<NoisyCell>& cells);

// The cells whose median lies below their memory floor (CellStatistics::belowFloor), which by construction
// no sort can beat: there the floor's model of the machine or of the sort is
// wrong, and the cell's ratio means nothing. A header, one line per cell
// "  INT 10000000 CPU 1 Thread: median 150.2 ms, floor 171.0 ms (0.88×)", and a
// hint; no lines when every median is at or above its floor.
std::vector<std::string> BelowFloorReportLines(const std::vector<NoisyCell>& cells);
