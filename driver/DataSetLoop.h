#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/command_line/RunPlan.h"
#include "driver/machine/GpuLimits.h"
#include "driver/machine/MachineReference.h"
#include "driver/machine/ProcessMemory.h"
#include "driver/measuring/OwnSizeProbes.h"
#include "driver/measuring/SorterRounds.h"
#include "driver/reporting/ConsoleReporter.h"
#include "driver/reporting/ProgressLine.h"
#include "driver/reporting/RunReporter.h"
#include "driver/sorters/DataSetMemory.h"
#include "driver/sorters/DataSetSorters.h"
#include "support/CharBuffer.h"
#include "support/DataTypes.h"

// The exit status a data set's outcome ends the run with.
int ExitStatusOf(Outcome outcome);

// The run's data sets, one after another: for each it checks that the machine
// can hold it, generates its keys into the run's buffers, builds its sorters
// and times them, reporting only to the run's reporters; it prints and writes
// nothing itself. It owns no buffer: the keys, the index buffer and the
// sorters' scratch are the run's, reused from one data set to the next, and
// the scratch is released after each. A data set that cannot be held, runs out
// of memory or finds no thread ends the run with its status; the cells
// measured before stay.
class DataSetLoop {
public:
    // What the loop works with, all owned by the run and outliving the loop.
    // The probes, the GPU's limits and the reference may be filled in after
    // construction, before the first data set.
    struct RunParts {
        const RunPlan& plan;
        RunReporters& reporters;
        ProgressLine& progressLine;
        AppCore::CharBuffer& data;
        SorterTools& tools;  // the index buffer among them
        OwnSizeProbes& ownSizeProbes;
        const GpuLimits& gpuLimits;
        const std::unique_ptr<MachineReference>& reference;  // with -R auto, timed after every round
    };
    explicit DataSetLoop(const RunParts& parts);

    // Before anything is created: the first data set of the run that cannot
    // be held, refused on `console` with the line a plain run gives when it
    // reaches it; kExitComplete when every one fits.
    int RefuseWhatCannotFit(ConsoleReporter& console) const;

    // Every key distribution and count of `type`, in the plan's order:
    // kExitComplete, or the status the run ends with.
    int RunDataType(AppCore::DataType type);

    // One sort of every column, on a pilot data set of `count` uniform keys
    // of `type`: what -R auto's estimate is made of. Nothing when the data set
    // cannot be held or sorted; `outcome` says whether a sort or check failed.
    struct PilotTimes {
        std::vector<double> ms;  // one sort of each column, in column order
        double setupMs;          // what the data set took besides its warm-ups and sorts
    };
    std::optional<PilotTimes> Pilot(AppCore::DataType type, std::uint64_t count, Outcome& outcome);

    // Data sets whose sorts began.
    std::size_t DataSetsRun() const { return dataSetsRun; }
    // With repetitions, the process's memory at its largest after a data
    // set's sorts; nothing before one or without repetitions.
    const std::optional<ProcessMemory>& LargestMemory() const { return largestMemory; }

private:
    template <typename Element>
    int RunDataType();
    template <typename Element>
    Outcome RunDataSet(const DataSetRecord& set);
    template <typename Element>
    std::optional<PilotTimes> PilotOf(std::uint64_t count, Outcome& outcome);
    void NoteProcessMemory();
    // The buffers already held, which the next data set reuses.
    std::uint64_t HeldBytes() const;

    RunParts parts;
    // Each column's sorts in a data set: what a leaking peer loses there.
    const DataSetMemory memory;
    std::size_t dataSetsRun = 0;
    std::optional<ProcessMemory> largestMemory;
};
