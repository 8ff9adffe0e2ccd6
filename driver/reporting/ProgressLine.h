#pragma once

#include <chrono>
#include <string>

#include "driver/command_line/RunPlan.h"
#include "driver/measuring/Repetition.h"
#include "driver/measuring/RunProgress.h"
#include "driver/reporting/RunReporter.h"

// The model of the time a run takes, before anything is measured: every data
// set of `plan` in run order, each sorter with its growth.
RunProgress ProgressModel(const RunPlan& plan);

// What a pilot's sorts tell `model` before any data set: each column's time on
// the pilot's records, and what every round adds besides its sorts.
void LearnFromPilot(RunProgress& model, const RunEstimateRecord& estimate);

// The status line on a terminal: where a run is and how long it will still
// take, "INT zipf 5/17 (1,000,000): CPU 8 Thread, round 3 of 9 | 1:23 elapsed,
// about 4:10 left". The estimate (RunProgress) learns from every cell's median
// and, with -R auto, from the rounds each data set took. Drawn between sorts,
// never during one; nothing at all when standard error is no terminal.
class ProgressLine : public RunReporter {
public:
    // `model`: the run's data sets, as ProgressModel makes it.
    ProgressLine(RunProgress model, const Repetition& repetition);

    void RunEstimated(const RunEstimateRecord& estimate) override;
    void DataSetStarted(const DataSetRecord& set) override;
    void CellMeasured(const DataSetRecord& set, const CellRecord& cell) override;
    void DataSetEnded(const DataSetRecord& set, const DataSetEndRecord& end) override;

    // Before the warm-up (round 0) or a timed sort of the sorter `sorter` (its
    // first column's label) in the current data set.
    void BeforeSort(const DataSetRecord& set, const std::string& sorter, int round);

    // The line's text; for tests.
    std::string Text(const DataSetRecord& set, const std::string& sorter, int round, double runSeconds,
                     double dataSetSeconds) const;

private:
    using Clock = std::chrono::steady_clock;

    const Repetition repetition;
    RunProgress progress;
    std::size_t dataSets = 0;  // started so far
    Clock::time_point runStarted = Clock::now();
    Clock::time_point dataSetStarted = Clock::now();
};
