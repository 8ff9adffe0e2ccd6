#pragma once

#include "logging/LogManager.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Creates `plan.logDirectory`, then `plan.runDirectory`, each one level deep,
// keeping a directory that already exists. On the first one that cannot be made
// (missing parent, no permission, a file of that name) prints
// "Failed to create directory: <path>" and returns false; nothing else is
// created or printed then.
bool CreateRunDirectories(const std::string& logDirectory, const std::string& runDirectory);

// The count cell of a row: N in plain decimal (no grouping). Counts above the
// signed 32-bit range keep their full unsigned value.
std::string CountCell(std::uint64_t count);

// The four CSV result files of a run, one LogManager each:
// "bench_INT.csv", "bench_FLOAT.csv", "bench_BIGINT.csv", "bench_BIGFLOAT.csv".
//
// A file holds the header (the column names joined with ","), then one row per
// count: "\n" + count cell, then "," + time cell per timed column; no line feed
// after the last row. Every cell is written through to disk as it is appended.
// Destruction closes the files in the order BIGFLOAT, BIGINT, FLOAT, INT, which
// trims each to exactly its text. A file that cannot be created is reported by
// its manager and its cells stay in memory only.
class ResultFiles {
public:
    ResultFiles() = default;
    ResultFiles(const ResultFiles&) = delete;
    ResultFiles& operator=(const ResultFiles&) = delete;
    ~ResultFiles();

    // Creates (or truncates) the four files in `runDirectory` in the order INT,
    // FLOAT, BIGINT, BIGFLOAT, each followed at once by the header line. Prints
    // "Initialized Log File: <path>" for each.
    void Open(const std::string& runDirectory, const std::vector<std::string>& columnNames);

    // Starts a row of `dataType` ("INT", "FLOAT", "BIGINT" or "BIGFLOAT").
    void AppendCount(const std::string& dataType, std::uint64_t count);
    // Appends one time cell (milliseconds, at most twelve decimals, trailing zeros
    // trimmed) to the current row of `dataType`.
    void AppendTime(const std::string& dataType, double milliseconds);

    // The manager of `dataType`; std::out_of_range for an unknown name.
    LogManager& File(const std::string& dataType);

private:
    // INT, FLOAT, BIGINT, BIGFLOAT.
    std::array<LogManager, 4> files;
};
