#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "driver/measuring/KeyDistributions.h"
#include "driver/measuring/Repetition.h"
#include "driver/sorters/Columns.h"
#include "support/DataTypes.h"

// The run plan: everything the command line decides, built once before anything
// else happens and read-only afterwards.
struct RunPlan {
    bool gpuEnabled = false;            // "-GPU": three GPU columns per data set
    bool qaEnabled = false;             // "-QA": compare GPU and CPU permutations (needs gpuEnabled)
    bool infoOnly = false;              // "-INFO": stop after the system report
    bool limitsOnly = false;            // "-LIMITS": the system report and the machine's limits, no run directory
    std::vector<std::uint64_t> counts;  // record counts, in benchmark order; never empty
    std::vector<Column> columns;        // the timed columns of every row, in order
    std::vector<Column> leftOut;        // "-COLUMNS LIST": the columns the other options add that it leaves out
    std::vector<AppCore::DataType> types{AppCore::DataType::INT, AppCore::DataType::FLOAT, AppCore::DataType::BIGINT,
                                         AppCore::DataType::BIGFLOAT};  // "-TYPES LIST": those run, in table order
    std::string logDirectory;                                           // parent of every run directory, ends with "/"
    std::string runName;                 // the run directory in logDirectory: "cpu_" ["gpu_"] + start stamp
    std::string shaderPath;              // "<program directory>/Shaders", or "Shaders"
    std::string programPath;             // argv[0]
    bool customLogDirectory = false;     // "-O DIR" chose logDirectory
    Repetition repetition;               // "-R", "-CI", "-T": how each sorter is timed
    std::vector<std::string> arguments;  // argv after the program, as given
    std::vector<Distribution> distributions{Distribution::Uniform};  // "-D LIST": key sets, in this order
    bool peersEnabled = false;  // "-PEERS [LIST]": sorters of other libraries, last columns
    std::vector<Peer> peers;    // with peersEnabled: the peers to time, in table order (every one without a LIST)
    bool pairsEnabled = false;  // "-PAIRS": our key-carrying radix sort on 1 thread and on every CPU
    std::string jsonPath;       // "-JSON FILE": also write the results in Google Benchmark's format
    std::uint64_t seed = 0;     // the key generator's: "-SEED N", else the calendar time in whole seconds

    bool showUsage = false;             // "-h", "-help", "--help", "-?": print UsageText() and stop
    std::vector<std::string> warnings;  // one line per skipped argument, for stderr
    std::string error;                  // a bad option value: the run must not start

    // Where the run directory goes: logDirectory + runName + "/".
    std::string RunPath() const { return logDirectory + runName + "/"; }
};

inline constexpr const char* kDefaultLogDirectory = "/var/log/dezavadure/";

// The ranges of the options' values, which the usage text, the README and
// docs/options.md state. "-S" takes any count a 64-bit number holds (the memory
// check refuses what cannot run); "-SEED" whatever the key generator's seed type
// holds; "-R" up to kMaxRepetitions; "-CI" a percent and "-T" seconds within
// these bounds.
inline constexpr std::uint64_t kMaxCount = std::numeric_limits<std::uint64_t>::max();
inline constexpr std::uint64_t kMaxSeed = std::numeric_limits<std::mt19937_64::result_type>::max();
inline constexpr int kMaxRepetitions = 1000;
inline constexpr double kMinIntervalPercent = 0.1;
inline constexpr double kMaxIntervalPercent = 50.0;
inline constexpr double kMinBudgetSeconds = 0.1;
inline constexpr double kMaxBudgetSeconds = 86400.0;

// Turns argv into the run plan, reading each argument by the option table
// (OptionTable.h). Never prints: unknown arguments and other casings are
// skipped, each with a line in `warnings`, and so are a key distribution,
// peer, data type or column named twice in "-D", "-PEERS", "-TYPES" or
// "-COLUMNS" (it runs once), an earlier "-JSON" file
// and "-CI" or "-T" without "-R auto". An option that takes a value sets
// `error` when nothing follows it or another option of the table does (its
// value is missing; that option is then read as itself, so one problem makes
// one line), and when the value after it is bad, which is taken as its value
// and not read again: "-R" (anything but "auto" and a whole number from 1 to
// kMaxRepetitions), "-S" (no decimal number, a count past kMaxCount, or a
// negative one, which wraps past what 32-bit indices address), "-SEED"
// (anything but a whole number from 0 to kMaxSeed), "-CI" and "-T" (outside
// their ranges), "-D", "-TYPES", "-PEERS" (a list: the argument after it unless
// that starts with "-"), "-COLUMNS" (ChooseColumns, against the columns the
// other options add, wherever they stand; and with "-GPU -QA", a list that
// keeps the GPU but leaves out CPU 8 Thread, whose permutation -QA compares
// with), "-O" and "-JSON" (an empty path, or one that starts with "-"). The
// first refusal is the one kept.
// `startStamp` is the 12-digit time stamp of the run directory; `logDirectory`
// (the default parent of run directories, overridden by "-O") must end with "/".
RunPlan ParseCommandLine(int argc, const char* const argv[], const std::string& startStamp,
                         const std::string& logDirectory = kDefaultLogDirectory);

// "<directory of programPath>/Shaders", taken lexically; "Shaders" when the path has
// no directory part.
std::string ShaderPathFor(const std::string& programPath);
