#pragma once

#include <string>
#include <vector>

#include "driver/measuring/KeyDistributions.h"
#include "driver/measuring/Repetition.h"
#include "driver/output/RunFileNames.h"

// One per-series file of a run: its kind, its series and the header it opens with.
struct RunSeriesFile {
    RunFileKind kind;
    std::string series;  // "INT_zipf"
    const char* typeName;
    Distribution distribution;
    std::string header;
};

// The per-series files a run with `distributions` and `repetition` has, in the
// order it opens them: a result file for every data type (in table order) and
// key distribution (in the given order); with repetitions then a stats file for
// each, then a speed-up file for each. `resultHeader` is the result files'
// header (ResultHeader of the run's columns). The run opens exactly these and
// run.json lists exactly these, so the two cannot disagree.
std::vector<RunSeriesFile> RunSeriesFiles(const std::vector<Distribution>& distributions, const Repetition& repetition,
                                          const std::string& resultHeader);
