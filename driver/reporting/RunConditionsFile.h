#pragma once

#include <string>

#include "driver/output/RunDirectory.h"
#include "driver/reporting/RunReporter.h"
#include "logging/LogManager.h"

// run_conditions.txt in the run directory, with repetitions: the run
// conditions, the machine's limits and the warnings as the console shows
// them, then what is known only later (the GPU's limits, the memory on huge
// pages). Context for the numbers, not a measurement: a file that cannot be
// written is reported and the run goes on.
class RunConditionsFile : public RunReporter {
public:
    // `runDirectory`: claimed by the time the run starts.
    explicit RunConditionsFile(const RunDirectory& runDirectory) : runDirectory(runDirectory) {}

    void RunStarted(const RunStartRecord& start) override;
    void GpuLimitsMeasured(const GpuLimits& limits) override;
    void MeasuringEnded(const MeasuringEndRecord& end) override;

private:
    void Append(const std::vector<std::string>& lines);

    const RunDirectory& runDirectory;
    LogManager file;  // open from the run's start to its end
};
