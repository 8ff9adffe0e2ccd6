#include "driver/reporting/ResultFilesReporter.h"

#include "driver/output/StatsFiles.h"

void ResultFilesReporter::RowStarted(const DataSetRecord& set) { files.AppendCount(set.series, set.count); }

void ResultFilesReporter::CellMeasured(const DataSetRecord& set, const CellRecord& cell) {
    if (!repetition.Repeated()) {
        files.AppendTime(set.series, cell.times.front());
        return;
    }
    const char* name = FactsOf(cell.column).name;
    files.AppendTime(set.series, cell.summary.median);
    files.AppendStatsRow(set.series,
                         StatsRow(set.count, name, cell.times, cell.summary, repetition.untilSure, cell.interval) +
                             StatsLimitsCells(set.count, cell.summary.median, cell.floorMs) +
                             (repetition.untilSure ? StatsReferenceCells(cell.referenceMs) : std::string()));
    if (cell.pairedRatios) files.AppendSpeedupRow(set.series, SpeedupRow(set.count, name, *cell.pairedRatios));
}

void ResultFilesReporter::CellSkipped(const DataSetRecord& set, const SkippedCellRecord&) {
    files.AppendEmpty(set.series);
}
