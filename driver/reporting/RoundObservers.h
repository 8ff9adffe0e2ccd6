#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "driver/machine/GpuLimits.h"
#include "driver/machine/LimitsProbe.h"
#include "driver/measuring/Repetition.h"
#include "driver/measuring/SorterRounds.h"
#include "driver/reporting/RunRecords.h"
#include "driver/reporting/RunReporter.h"
#include "driver/sorters/Columns.h"

// What the rounds of a data set observe, turned into records for the
// reporters: each cell's figures and verdicts (CellStatisticsOf), computed
// once, outside every timed section.
class DataSetCells : public RoundsObserver {
public:
    // `columns`: the row's timed columns, in order. The limits price the
    // cells' floors, the CPU's at the data set's own sizes (`cpuLimits`, the
    // table probed before the rounds, with any ProbedAfter them); unmeasured
    // limits give none. `everyCpu`: the threads of the pair column on every CPU.
    DataSetCells(RunReporters& reporters, const std::vector<Column>& columns, const Repetition& repetition,
                 const DataSetLimits& cpuLimits, const GpuLimits& gpuLimits, const DataSetRecord& set,
                 unsigned everyCpu = 1)
        : reporters(reporters),
          columns(columns),
          repetition(repetition),
          probes{cpuLimits},
          gpuLimits(gpuLimits),
          set(set),
          everyCpu(everyCpu) {}

    void RowStarted() override { reporters.RowStarted(set); }
    void CellMeasured(std::size_t column, const std::vector<double>& times) override;
    void CellSkipped(std::size_t column, const std::string& reason) override {
        reporters.CellSkipped(set, {.index = column, .column = columns[column], .reason = reason});
    }
    void CheckFailed(const std::string& problem) override { reporters.CheckEnded(set, problem); }
    void CheckPassed() override { reporters.CheckEnded(set, {}); }
    void ReferenceMeasured(const std::vector<double>& times) override;

    // Once the rounds have ended, before their cells: the data set's own
    // sizes probed again, which prices the floors with the table before them.
    void ProbedAfter(const DataSetLimits& after) { probes.push_back(after); }

    // With -R auto, once the rounds have ended: how far the machine drifted.
    std::optional<double> Drift() const { return drift; }

private:
    RunReporters& reporters;
    const std::vector<Column>& columns;
    const Repetition repetition;
    std::vector<DataSetLimits> probes;  // around the rounds, in the order taken
    const GpuLimits& gpuLimits;
    const DataSetRecord& set;
    unsigned everyCpu;
    std::vector<double> standardTimes;  // CPU Standard's time in each round
    std::vector<double> referenceMs;    // the machine reference's time after each round
    std::optional<double> drift;        // ReferenceDrift of referenceMs
};

// The times of a pilot's sorts, one per column, kept for the run's estimate
// rather than reported; a failed check is reported like a data set's.
class PilotCells : public RoundsObserver {
public:
    PilotCells(RunReporters& reporters, const DataSetRecord& set) : reporters(reporters), set(set) {}

    void RowStarted() override {}
    void CellMeasured(std::size_t, const std::vector<double>& times) override { ms.push_back(times.front()); }
    void CheckFailed(const std::string& problem) override { reporters.CheckEnded(set, problem); }
    void CheckPassed() override {}

    std::vector<double> ms;  // one per column, in column order

private:
    RunReporters& reporters;
    const DataSetRecord& set;
};
