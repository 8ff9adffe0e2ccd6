#pragma once

#include "driver/measuring/Repetition.h"
#include "driver/output/ResultFiles.h"
#include "driver/reporting/RunReporter.h"

// The cells into the run's CSV files: a row per data set in bench_<series>.csv
// (the time, with repetitions the median; empty for a skipped cell), and with
// repetitions a row per measured cell in stats_<series>.csv and, for the
// columns after CPU Standard, in speedup_<series>.csv.
class ResultFilesReporter : public RunReporter {
public:
    ResultFilesReporter(const Repetition& repetition, ResultFiles& files) : repetition(repetition), files(files) {}

    void RowStarted(const DataSetRecord& set) override;
    void CellMeasured(const DataSetRecord& set, const CellRecord& cell) override;
    void CellSkipped(const DataSetRecord& set, const SkippedCellRecord& cell) override;

private:
    const Repetition repetition;
    ResultFiles& files;
};
