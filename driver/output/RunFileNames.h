#pragma once

#include <array>
#include <string>

// The names of the files in a run directory, in one place: the writers, the
// manifest that lists them and the repair that trims them all spell them from
// here, so they cannot disagree.

// The three families of per-series files: one of each per data type and key
// distribution.
enum class RunFileKind { Results, Stats, Speedups };

struct RunFileKindFacts {
    RunFileKind kind;
    const char* prefix;        // the file name up to its series: "bench_"
    const char* manifestKind;  // run.json's "kind" of the file: "results"
};

inline constexpr std::array<RunFileKindFacts, 3> kRunFileKinds{{
    {RunFileKind::Results, "bench_", "results"},
    {RunFileKind::Stats, "stats_", "stats"},
    {RunFileKind::Speedups, "speedup_", "speedups"},
}};

constexpr const RunFileKindFacts& FactsOf(RunFileKind kind) { return kRunFileKinds[static_cast<std::size_t>(kind)]; }

// "bench_INT_zipf.csv" for the results of series "INT_zipf".
inline std::string RunFileName(RunFileKind kind, const std::string& series) {
    return FactsOf(kind).prefix + series + ".csv";
}

inline constexpr const char* kRunConditionsFileName = "run_conditions.txt";
inline constexpr const char* kManifestFileName = "run.json";
inline constexpr const char* kRunLockFileName = "run.lock";
