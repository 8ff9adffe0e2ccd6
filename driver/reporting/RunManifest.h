#pragma once

#include <string>
#include <utility>
#include <vector>

#include "driver/command_line/RunPlan.h"
#include "driver/machine/MachineFacts.h"
#include "driver/output/ReplacedFile.h"
#include "driver/output/RunDirectory.h"
#include "driver/reporting/RunReporter.h"

// "run.json" in the run directory: what a program needs to read the run
// without parsing its console or its run conditions. Written whole (as the
// -JSON file is, through ReplacedFile) when measuring starts, at the end of
// every data set and when the run ends, so that an interrupted run's manifest
// says how far it got.
//
// {
//   "format": "sortbench run manifest", "format_version": 1,
//   "program_version": "...", "arguments": ["-S", "1000", ...],
//   "plan": {"counts": [...], "types": [...], "distributions": [...],
//            "columns": [...], "repetitions": N, "until_sure": bool,
//            "interval_target": 0.01, "budget_seconds": 10,
//            "gpu": bool, "qa": bool, "peers": bool, "json": "FILE" or null},
//   "machine": {...the machine's facts...},
//   "limits": {...the probed limits as the JSON context gives them...},
//   "floor_pricing": "own sizes" with repetitions (each data set's floor priced
//                    at figures measured at its own sizes), null without,
//   "files": [{"name": "bench_INT.csv", "kind": "results", "series": "INT",
//              "type": "INT", "distribution": "uniform", "header": "..."}, ...],
//   "data_sets": [{"series": "INT", "type": "INT", "distribution": "uniform",
//                  "count": 1000, "outcome": "complete", "rounds": 3,
//                  "interval_reached": true, "seconds": 0.5,
//                  "reference_ms": [3.1, 3.0, ...], "drift": 0.012}, ...],
//   "exit_status": 0 or null while the run goes on
// }
//
// A data set that ends the run early has the outcome "sort failed", "check
// failed" or "refused". "reference_ms", the machine reference's time after
// each round, and "drift", how far the machine drifted over them
// (ReferenceDrift in MachineReference.h; null without times), are there only
// with -R auto. The files are listed as the run opens them; "kind" is
// "results", "stats" or "speedups".
class RunManifest : public RunReporter {
public:
    using Fields = std::vector<std::pair<std::string, std::string>>;

    // `arguments`: argv after the program.
    RunManifest(const RunPlan& plan, std::vector<std::string> arguments, const RunDirectory& runDirectory);

    // Measuring starts on a machine with `machine` and `limits`: the first write.
    void MeasuringStarted(const MachineFacts& machine, const Fields& limits);
    void DataSetRefused(const DataSetRecord& set, const std::string& reason) override;
    void DataSetEnded(const DataSetRecord& set, const DataSetEndRecord& end) override;
    // The last write. False when the manifest could not be stored.
    bool RunEnded(int status);
    // Why the last write failed, or empty.
    const std::string& Problem() const { return problem; }
    // Where the manifest goes, for messages.
    const std::string& Path() const { return file.Path(); }

    // The document as it stands.
    std::string Text() const;

private:
    struct DataSetEntry {
        std::string series;
        const char* typeName;
        Distribution distribution;
        std::uint64_t count;
        const char* outcome;
        int rounds;
        bool intervalReached;
        double seconds;
        std::vector<double> referenceMs;  // -R auto's machine reference after each round; none otherwise
        std::optional<double> drift;      // -R auto: ReferenceDrift of those times, once there are some
    };

    bool Store();

    const RunPlan& plan;
    const std::vector<std::string> arguments;
    const ReplacedFile file;
    std::string machineText;  // the "machine" object
    Fields limits;
    std::vector<DataSetEntry> dataSets;
    std::optional<int> exitStatus;
    bool failed = false;  // a store has failed and said so: later failures stay silent
    std::string problem;  // why the last store failed, or empty
};
