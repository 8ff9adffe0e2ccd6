#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "driver/machine/GpuLimits.h"
#include "driver/machine/LimitsProbe.h"
#include "driver/machine/MachineFacts.h"
#include "driver/machine/ProcessMemory.h"
#include "driver/measuring/CellStatistics.h"
#include "driver/measuring/KeyDistributions.h"
#include "driver/measuring/MedianInterval.h"
#include "driver/measuring/SorterRounds.h"
#include "driver/measuring/TimingStats.h"
#include "driver/reporting/RunConditions.h"
#include "driver/sorters/Columns.h"
#include "support/DataTypes.h"

// The records a run produces as it measures. The runner fills them in and hands
// them to its reporters (RunReporter.h), which print and write them; no record
// knows a format, and every figure in one is computed once.

// The run's start: the machine it runs on and, with repetitions, the
// conditions it started in and what the machine's memory allows.
struct RunStartRecord {
    const MachineFacts& machine;
    std::optional<RunConditions> conditions;
    std::optional<CpuLimits> cpuLimits;
    // With peers that sort on every CPU: how many threads that is.
    std::optional<unsigned> parallelPeerThreads = std::nullopt;
    // With -PAIRS: the threads of the pair column on every CPU.
    std::optional<unsigned> pairThreads = std::nullopt;
};

// With -R auto, before the first data set: one sort of every column on a pilot
// data set, and how long the whole run will take by those times.
struct RunEstimateRecord {
    std::string typeName;         // the pilots' data types, "INT and BIGFLOAT"
    std::uint64_t pilotCount;     // its records
    double roundOverheadMs;       // the machine reference's time, all its timings, which every round adds
    double setupMs;               // what the pilot took besides its sorts: making its keys, its checks
    double dataSetOverheadMs;     // what every data set adds whatever its size: storing the manifest
    std::vector<double> pilotMs;  // one time per column, in column order
    std::vector<double> fixedMs;  // per column, a sort of a few records: the cost every sort pays
    double seconds;               // the run's estimated time, all data sets, each spending its budget
    // The memory probe at the data sets' own sizes, per record (timed on the
    // pilot's count), and the data sets that make it, in run order (0 = the
    // run's first): none when the run prices no floor at its own sizes.
    double probeMsPerRecord = 0.0;
    std::vector<std::size_t> probingDataSets = {};
};

// One data set: a data type, a key distribution and a record count.
struct DataSetRecord {
    AppCore::DataType type;
    const char* typeName;  // "INT"
    Distribution distribution;
    std::string series;  // "INT", "INT_zipf": the key of its result files
    std::uint64_t count;
    int position;  // 1 ... counts: its place in the run's list of counts
    int counts;
};

// One cell: a timed column of a data set.
struct CellRecord {
    std::size_t index;  // its place in the row, 0 = the first timed column
    Column column;
    std::vector<double> times;  // milliseconds, one per round, in measured order
    // Its figures and verdicts (CellStatistics.h). With repetitions its floor,
    // for columns that have one (ColumnFloors.h), and for every column after
    // CPU Standard its paired speed-ups; with -R auto its interval verdict
    // and the machine's drift.
    CellStatistics stats;
    // With -R auto: the machine reference's time after each round of the data
    // set, in milliseconds (MachineReference.h).
    std::vector<double> referenceMs;
};

// A cell whose sorter did not run on the data set (a peer whose memory did not
// fit beside it): the row keeps it empty.
struct SkippedCellRecord {
    std::size_t index;  // its place in the row, 0 = the first timed column
    Column column;
    std::string reason;  // "needs 14.9 GiB beside the data set, 6.1 GiB free"
};

// How a data set ended.
struct DataSetEndRecord {
    Outcome outcome;
    int rounds;                       // rounds that timed every sorter (1 for a single run)
    bool intervalReached;             // with -R auto: every column's interval met the target
    double seconds;                   // with -R auto: the data set's time, warm-ups included
    std::vector<double> referenceMs;  // with -R auto: the machine reference's time after each round
    std::optional<double> drift;      // with -R auto: ReferenceDrift of those times
};

// A file the run could not write whole by its end: a result, stats or
// speed-up file that lacks cells, the -JSON document, run.json itself.
struct FailedWrite {
    std::string file;         // a run directory file's name, or the -JSON path as given
    std::string reason;       // the system's error text
    std::uint64_t cells = 0;  // the cells a result, stats or speed-up file lacks; 0 for the others
};

// What the run's last steps could not store, once its files are closed.
struct RunClosedRecord {
    std::string runDirectory;
    std::string jsonPath;          // the -JSON file, when its store failed; empty otherwise
    std::string jsonProblem;       // why it failed
    std::uint64_t unwrittenCells;  // cells the disk did not take, in all
    std::string unwrittenFiles;    // "bench_INT.csv 3, stats_INT.csv 1"
    std::string manifestPath;      // run.json, when its last store failed; empty otherwise
    std::string manifestProblem;   // why it failed
};

// Measuring has ended, after the last data set or early.
struct MeasuringEndRecord {
    int status;  // the exit status so far
    // With repetitions, once a data set has run: whether the process's memory
    // was looked at, and its reading while it held the most.
    bool memoryLooked;
    std::optional<ProcessMemory> largestMemory;
    // With repetitions, once a data set has run: the probes at the data sets'
    // own sizes that priced their floors, in the order they ran, and the run's
    // time so far in seconds, which their share is of.
    std::optional<std::vector<DataSetLimits>> ownSizeProbes;
    double runSeconds = 0;
};
