#include "driver/reporting/ResultFilesReporter.h"

#include "driver/output/StatsFiles.h"

void ResultFilesReporter::RowStarted(const DataSetRecord& set) { files.AppendCount(set.series, set.count); }

void ResultFilesReporter::CellMeasured(const DataSetRecord& set, const CellRecord& cell) {
    if (!repetition.Repeated()) {
        files.AppendTime(set.series, cell.times.front());
        return;
    }
    const char* name = FactsOf(cell.column).name;
    const CellStatistics& stats = cell.stats;
    files.AppendTime(set.series, stats.summary.median);
    files.AppendStatsRow(set.series,
                         StatsRow(set.count, name, cell.times, stats.summary, repetition.untilSure, stats.interval) +
                             StatsLimitsCells(set.count, stats) +
                             (repetition.untilSure ? StatsReferenceCells(cell.referenceMs) : std::string()));
    if (stats.paired) files.AppendSpeedupRow(set.series, SpeedupRow(set.count, name, *stats.paired));
}

void ResultFilesReporter::CellSkipped(const DataSetRecord& set, const SkippedCellRecord&) {
    files.AppendEmpty(set.series);
}
