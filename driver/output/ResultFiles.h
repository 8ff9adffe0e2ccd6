#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "driver/measuring/KeyDistributions.h"
#include "driver/output/RunFileNames.h"
#include "driver/output/StatsFiles.h"
#include "logging/LogManager.h"

// The count cell of a row: N in plain decimal (no grouping). Counts above the
// signed 32-bit range keep their full unsigned value.
std::string CountCell(std::uint64_t count);

// The key of the result files of a data type and key distribution: "INT" for
// uniform keys, "INT_sorted" for the others.
std::string SeriesKey(const char* typeName, Distribution distribution);

// The data types' keys in file order; also the keys of a run of uniform keys.
const std::vector<std::string>& DataTypeNames();

// The CSV result files of a run, one LogManager each, one per series key: a data
// type ("INT" -> "bench_INT.csv") or a data type with a key distribution
// ("INT_sorted" -> "bench_INT_sorted.csv").
//
// A file holds the header (the column names joined with ","), then one row per
// count: "\n" + count cell, then "," + time cell per timed column; no line feed
// after the last row. Every cell is written through to disk as it is appended.
// Destruction closes the files in the reverse order of their creation (BIGFLOAT,
// BIGINT, FLOAT, INT), which trims each to exactly its text.
//
// A cell the disk does not take (it is full) stays pending in its manager and is
// retried with every later cell of that file; the first such failure of a file
// prints one line.
class ResultFiles {
public:
    ResultFiles() = default;
    ResultFiles(const ResultFiles&) = delete;
    ResultFiles& operator=(const ResultFiles&) = delete;
    ~ResultFiles();

    // Creates "bench_<key>.csv" in `runDirectory` (where nothing stands yet) for every key in
    // order, each followed at once by `header` (ResultHeader of the columns). Prints
    // "Initialized Log File: <path>" for each. Stops at the first file that cannot
    // be created ("Failed to initialize Log File: <path>") or cannot take its
    // header (one line naming it) and returns false: a run without its result
    // files would measure for nothing.
    bool Open(const std::string& runDirectory, const std::string& header,
              const std::vector<std::string>& keys = DataTypeNames());

    // With repetitions: "stats_<key>.csv" beside the result files, each with
    // `header`, opened like the result files (same lines, same failure). Their
    // rows come whole from AppendStatsRow.
    bool OpenStats(const std::string& runDirectory, const std::string& header,
                   const std::vector<std::string>& keys = DataTypeNames());
    void AppendStatsRow(const std::string& key, const std::string& row);

    // With repetitions: "speedup_<key>.csv", opened and written like the stats files.
    bool OpenSpeedups(const std::string& runDirectory, const std::string& header,
                      const std::vector<std::string>& keys = DataTypeNames());
    void AppendSpeedupRow(const std::string& key, const std::string& row);

    // From here on the files are opened as `reachedDirectory` + name (a held
    // run directory's RunDirectory::ReachedPath), while the Open calls' folder
    // still names them in every line.
    void ReachFilesThrough(std::string reachedDirectory) { reached = std::move(reachedDirectory); }

    // Starts a row of `key`.
    void AppendCount(const std::string& key, std::uint64_t count);
    // Appends one time cell (milliseconds, at most twelve decimals, trailing zeros
    // trimmed) to the current row of `key`.
    void AppendTime(const std::string& key, double milliseconds);
    // Appends an empty cell (a column that did not run) to the current row of `key`.
    void AppendEmpty(const std::string& key);

    // The result file manager of `key`; std::out_of_range for an unknown key.
    LogManager& File(const std::string& key);

    // Cells that never reached a file, by file name.
    struct Unwritten {
        std::string fileName;
        std::uint64_t cells;
        int error;  // errno of the file's latest refused write
    };
    // Closes every file in the reverse order of creation (a last try for pending
    // cells, then the trim), the stats and speed-up files after the result files, and lists
    // the files that still miss cells in creation order (a stats row counts as
    // its cells). Later calls, and the destructor, do nothing more.
    std::vector<Unwritten> Close();

private:
    // Files of one kind, in creation order.
    struct FileSet {
        RunFileKind kind;
        std::vector<std::string> keys;
        std::vector<std::unique_ptr<LogManager>> managers;
        std::vector<bool> failing;  // the file has refused a cell; reported once
    };
    bool Open(FileSet& set, const std::string& runDirectory, const std::string& header,
              const std::vector<std::string>& keys);
    static size_t IndexOf(const FileSet& set, const std::string& key);
    static void Append(FileSet& set, size_t file, const std::string& cell);
    static void Close(FileSet& set, std::vector<Unwritten>& unwritten);

    FileSet files{RunFileKind::Results, {}, {}, {}};
    FileSet stats{RunFileKind::Stats, {}, {}, {}};
    FileSet speedups{RunFileKind::Speedups, {}, {}, {}};
    bool closed = false;
    std::string reached;  // where the files are opened; empty: the Open calls' folder
};
