#pragma once

#include <string>
#include <vector>

#include "driver/measuring/KeyDistributions.h"
#include "driver/measuring/Repetition.h"
#include "driver/output/RunFileNames.h"
#include "driver/sorters/Columns.h"
#include "support/DataTypes.h"

// One per-series file of a run: its kind, its series and the header it opens with.
struct RunSeriesFile {
    RunFileKind kind;
    std::string series;  // "INT_zipf"
    const char* typeName;
    Distribution distribution;
    std::string header;
};

// The per-series files a run of `types`, `distributions`, `repetition` and
// `columns` has, in the order it opens them: a result file for every data type
// (in the given order) and key distribution (in the given order), whose header
// is ResultHeader(columns); with repetitions then a stats file for each, then a
// speed-up file for each when CPU Standard, what they compare with, is timed.
// The run opens exactly these and run.json lists exactly these, so the two
// cannot disagree.
std::vector<RunSeriesFile> RunSeriesFiles(const std::vector<AppCore::DataType>& types,
                                          const std::vector<Distribution>& distributions, const Repetition& repetition,
                                          const std::vector<Column>& columns);
