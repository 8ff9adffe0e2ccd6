#include "driver/output/StatsFiles.h"

#include <algorithm>
#include <cstdio>

#include "strings/NumberText.h"

namespace {

// ",<low>,<high>" of the median's 95% interval; ",," without one.
std::string IntervalCells(const std::optional<MedianInterval>& interval) {
    if (!interval) return ",,";
    std::string cells(1, ',');
    cells += TimeCell(interval->low);
    cells += ',';
    cells += TimeCell(interval->high);
    return cells;
}

// A whole number in fixed notation, never an exponent.
std::string WholeNumber(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.0f", value);
    return text;
}

}  // namespace

std::string TimeCell(double value) { return SLib::STR_FromNum(value, 0, 12, 15); }

std::string StatsLimitsCells(std::uint64_t count, const CellStatistics& cell) {
    const double medianMs = cell.summary.median;
    std::string cells(1, ',');
    if (medianMs > 0.0) cells += WholeNumber(static_cast<double>(count) / (medianMs / 1000.0));
    cells += ',';
    if (cell.floorMs && cell.floorRatio) {
        cells += TimeCell(*cell.floorMs);
        cells += ',';
        cells += TimeCell(*cell.floorRatio);
    } else {
        cells += ',';
    }
    return cells;
}

std::string StatsReferenceCells(const std::vector<double>& referenceMs) {
    std::string cells(1, ',');
    for (std::size_t i = 0; i < referenceMs.size(); ++i) {
        if (i > 0) cells += ';';
        cells += TimeCell(referenceMs[i]);
    }
    return cells;
}

std::string StatsFileHeader(bool untilSure) {
    return StatsHeader(untilSure) + kStatsLimitsHeader + (untilSure ? kStatsReferenceHeader : "");
}

std::string StatsHeader(bool withInterval) {
    return std::string("NbRecords,Column,Runs,Min,Median,Mean,Max,StdDev,Times") +
           (withInterval ? ",CiLow,CiHigh" : "");
}

std::string StatsRow(std::uint64_t count, const std::string& column, const std::vector<double>& times,
                     const TimingSummary& summary, bool withInterval, const std::optional<MedianInterval>& interval) {
    // Built by append: "\n" + text trips a false -Wrestrict in GCC 12.
    std::string row(1, '\n');
    row += std::to_string(count);
    row += ',';
    row += column;
    row += ',';
    row += std::to_string(summary.runs);
    for (double value : {summary.min, summary.median, summary.mean, summary.max, summary.stdDev}) {
        row += ',';
        row += TimeCell(value);
    }
    row += ',';
    for (std::size_t i = 0; i < times.size(); ++i) {
        if (i > 0) row += ';';
        row += TimeCell(times[i]);
    }
    if (withInterval) row += IntervalCells(interval);
    return row;
}

std::string SpeedupHeader() { return "NbRecords,Column,Runs,Median,CiLow,CiHigh,Ratios"; }

std::string SpeedupRow(std::uint64_t count, const std::string& column, const PairedSpeedups& paired) {
    const std::vector<double>& ratios = paired.ratios;
    if (ratios.empty()) return {};
    std::string row(1, '\n');
    row += std::to_string(count);
    row += ',';
    row += column;
    row += ',';
    row += std::to_string(ratios.size());
    row += ',';
    row += TimeCell(paired.median);
    row += IntervalCells(paired.interval);
    row += ',';
    for (std::size_t i = 0; i < ratios.size(); ++i) {
        if (i > 0) row += ';';
        row += TimeCell(ratios[i]);
    }
    return row;
}
