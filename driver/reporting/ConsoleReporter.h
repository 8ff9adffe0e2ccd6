#pragma once

#include <cstdint>
#include <vector>

#include "driver/measuring/Repetition.h"
#include "driver/reporting/CellReportText.h"
#include "driver/reporting/RunReporter.h"

// The run's lines on standard output (through the status line's ConsolePrintf):
// the system report, with repetitions the run conditions and the machine's
// limits, the GPU's banner and limits, a banner per data type and key distribution, a count line per data set, a
// line per cell ("INT CPU 2 Thread - 12.345678 ms", with repetitions its
// spread, with -R auto its interval, with a floor the ratio to it; a skipped
// peer's reason), the checks' lines, with -R auto what each data set achieved, and at the end the report
// of noisy cells (or of intervals missed), of cells below their floor and of
// the memory on huge pages.
class ConsoleReporter : public RunReporter {
public:
    explicit ConsoleReporter(const Repetition& repetition) : repetition(repetition) {}

    void RunStarted(const RunStartRecord& start) override;
    void GpuExamining() override;
    void GpuExamined(const std::string& report) override;
    void GpuLimitsMeasured(const GpuLimits& limits) override;
    void RunStopped(const std::string& reason) override;
    void DataSetStarted(const DataSetRecord& set) override;
    void DataSetRefused(const DataSetRecord& set, const std::string& reason) override;
    void CellMeasured(const DataSetRecord& set, const CellRecord& cell) override;
    void CellSkipped(const DataSetRecord& set, const SkippedCellRecord& cell) override;
    void CheckEnded(const DataSetRecord& set, const std::string& problem) override;
    void SorterSaid(const std::string& lines) override;
    void RunEstimated(const RunEstimateRecord& estimate) override;
    void DataSetEnded(const DataSetRecord& set, const DataSetEndRecord& end) override;
    void MeasuringEnded(const MeasuringEndRecord& end) override;

    // Lines of the run's own steps around the measuring, which no other reporter renders:
    // -LIMITS's table of the machine's memory, with the line on how a run prices
    // its data sets (`smallestProbedBytes`: the table's smallest index array);
    void LimitsMeasured(const CpuLimits& limits, std::uint64_t smallestProbedBytes);
    // the interrupted runs the start repaired;
    void RunsRepaired(const std::vector<std::string>& runDirectories);
    // a data set -R auto could never hold, refused on standard error before anything;
    void RunRefused(const std::string& line);
    // and the closing lines on what the disk did not take.
    void RunClosed(const RunClosedRecord& closed);

private:
    const Repetition repetition;
    std::vector<NoisyCell> cells;  // with repetitions, every cell, for the end-of-run reports
};
