#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "driver/command_line/RunPlan.h"
#include "driver/machine/MachineFacts.h"
#include "driver/measuring/CellStatistics.h"
#include "driver/output/DiskReserve.h"
#include "driver/output/ReplacedFile.h"
#include "driver/output/RunDirectory.h"
#include "driver/reporting/RunReporter.h"

// "run.json" in the run directory: what a program needs to read the run
// without parsing its console or its run conditions. Written whole (as the
// -JSON file is, through ReplacedFile) when measuring starts, at the end of
// every data set and when the run ends, so that an interrupted run's manifest
// says how far it got. Its end lands on a full disk too: every store holds
// back room for the document and its ending (DiskReserve), which the last
// store gets.
//
// {
//   "format": "sortbench run manifest", "format_version": 1,
//   "program_version": "...", "arguments": ["-S", "1000", ...],
//   "plan": {"counts": [...], "types": [...], "distributions": [...],
//            "columns": [...], "repetitions": N, "until_sure": bool,
//            "interval_target": 0.01, "budget_seconds": 10,
//            "noisy_cv": 0.05, "drift_targets": 2,
//            "gpu": bool, "qa": bool, "peers": bool,
//            "peer_sorters": [{"name": "pdqsort", "column": "Peer pdqsort", "threads": 1}, ...],
//            "pairs": true,
//            "pair_sorters": [{"column": "Pair Radix 1 Thread", "threads": 1}, ...],
//            "json": "FILE" or null, "seed": N},
//   "machine": {...the machine's facts...},
//   "limits": {...the probed limits as the JSON context gives them...},
//   "floor_pricing": "own sizes" with repetitions (each data set's floor priced
//                    at figures measured at its own sizes), null without,
//   "floor_probes_apart": 1.3 with repetitions: beyond this factor between
//                    the floors its probes price alone a cell's floor is unreliable,
//   "files": [{"name": "bench_INT.csv", "kind": "results", "series": "INT",
//              "type": "INT", "distribution": "uniform", "header": "..."}, ...],
//   "data_sets": [{"series": "INT", "type": "INT", "distribution": "uniform",
//                  "count": 1000, "outcome": "complete", "rounds": 3,
//                  "interval_reached": true, "seconds": 0.5, "skipped": ["Peer vqsort"],
//                  "reference_ms": [3.1, 3.0, ...], "drift": 0.012, "drifted": false,
//                  "noisy": ["CPU 8 Thread"], "interval_missed": ["GPU"],
//                  "floors": [{"column": "CPU 1 Thread", "floor_ms": 50.1, "ratio": 2.31,
//                              "ratio_range": [2.05, 2.27]}, ...],
//                  "floor_unreliable": ["CPU 1 Thread"]}, ...],
//   "exit_status": 0 or null while the run goes on,
//   "failed_writes": [{"file": "bench_INT.csv", "reason": "No space left on device",
//                      "cells": 12}, {"file": "out.json", "reason": "..."}, ...]
// }
//
// A data set that ends the run early has the outcome "sort failed", "check
// failed" or "refused". "reference_ms", the machine reference's time after
// each round, and "drift", how far the machine drifted over them
// (ReferenceDrift in MachineReference.h; null without times), are there only
// with -R auto. The cells' verdicts (CellStatistics.h) are the program's, so
// that readers need not apply its rules again: "noisy" names the columns
// whose coefficient of variation is above the plan's "noisy_cv" (with
// repetitions); "interval_missed" the columns whose 95% interval is missing
// or wider than the interval target, and "drifted" whether the machine's
// drift exceeded "drift_targets" interval targets (both with -R auto).
// "floors" (with repetitions, when a cell has a floor) gives each cell's
// floor and ratio as the stats files do, priced at each figure's best of the
// probes around the data set's rounds (docs/limits.md), and, when there were
// two or more, "ratio_range": the ratio at the floor the slowest probe prices
// alone and at the fastest's ("ratio" lies at or above it: the best figures
// may come from different probes); null otherwise. "floor_unreliable" (with
// repetitions) names the columns whose range's ends lie more than
// "floor_probes_apart" apart: the machine changed between the probes more
// than their ratios hold.
// "peer_sorters" (the peers of the run, in column order, with
// the threads each sorts on) is there only with -PEERS, "pairs" and
// "pair_sorters" (the pair columns with their threads) only with -PAIRS, and
// "skipped" (the columns of a data set's peers and pair columns that did not
// fit in memory beside it) with either. The files
// are listed as the run opens them; "kind" is "results", "stats" or "speedups".
// "seed" is the key generator's, the -SEED that makes the same keys again
// for the same plan (runs before 2026-12-09 have none).
// "failed_writes" is there only at the end of a run that could not write a
// file whole: the result, stats and speed-up files that lack cells ("cells",
// how many), the -JSON file (its path as given) and, when even the last store
// could not take the whole document, run.json, whose "data_sets" then end
// with its last whole store (and whose exit status is then not 0).
class JsonWriter;

class RunManifest : public RunReporter {
public:
    using Fields = std::vector<std::pair<std::string, std::string>>;

    RunManifest(const RunPlan& plan, const RunDirectory& runDirectory);

    // Measuring starts on a machine with `machine` and `limits`: the first write.
    void MeasuringStarted(const MachineFacts& machine, const Fields& limits);
    void DataSetRefused(const DataSetRecord& set, const std::string& reason) override;
    void DataSetEnded(const DataSetRecord& set, const DataSetEndRecord& end) override;
    void CellSkipped(const DataSetRecord& set, const SkippedCellRecord& cell) override;
    void CellMeasured(const DataSetRecord& set, const CellRecord& cell) override;
    // The last write: the exit status and the writes that failed. False when
    // the whole document could not be stored; then the data sets of the last
    // whole store are, with the ending, when the room held back allows.
    bool RunEnded(int status, std::vector<FailedWrite> failedWrites = {});
    // Why the last write failed, or empty.
    const std::string& Problem() const { return problem; }
    // Where the manifest goes, for messages.
    const std::string& Path() const { return file.Path(); }

    // The document as it stands; with `dataSetsShown`, only the first so many data sets.
    std::string Text(std::size_t dataSetsShown = SIZE_MAX) const;

private:
    // The verdicts of a data set's cells, as their records give them.
    // A cell's floor and its ratio to it, at each figure's best of the probes
    // around the rounds, with the ratio at each end of their spread.
    struct FloorEntry {
        std::string column;
        double floorMs;
        double ratio;
        std::optional<RatioRange> range;
    };
    struct Verdicts {
        std::vector<std::string> noisy;            // the columns of noisy cells
        std::vector<FloorEntry> floors;            // the cells with a floor, in column order
        std::vector<std::string> floorUnreliable;  // the columns whose floor's probes lay beyond kFloorProbesApart
        std::vector<std::string> intervalMissed;   // -R auto: the columns that missed the interval target
        bool drifted = false;                      // -R auto: the machine drifted beyond what the intervals hold
    };
    struct DataSetEntry {
        std::string series;
        const char* typeName;
        Distribution distribution;
        std::uint64_t count;
        const char* outcome;
        int rounds;
        bool intervalReached;
        double seconds;
        std::vector<double> referenceMs;   // -R auto's machine reference after each round; none otherwise
        std::optional<double> drift;       // -R auto: ReferenceDrift of those times, once there are some
        std::vector<std::string> skipped;  // the names of its skipped columns
        Verdicts verdicts;
    };

    bool Store();
    static void Floors(JsonWriter& json, const std::vector<FloorEntry>& floors);

    const RunPlan& plan;
    const ReplacedFile file;
    DiskReserve reserve;
    std::size_t endingRoom;               // what the end adds to the document at most, held back beside it
    std::optional<MachineFacts> machine;  // the "machine" object, from the first write on
    Fields limits;
    unsigned parallelPeerThreads = 1;  // known once measuring starts; the all-CPU pair column's too
    std::vector<std::string> skipped;  // the data set's skipped columns so far
    Verdicts verdicts;                 // the data set's cells' verdicts so far
    std::vector<DataSetEntry> dataSets;
    std::optional<int> exitStatus;
    std::vector<FailedWrite> failedWrites;
    std::size_t storedDataSets = 0;  // the data sets of the last whole store
    bool failed = false;             // a store has failed and said so: later failures stay silent
    std::string problem;             // why the last store failed, or empty
};
