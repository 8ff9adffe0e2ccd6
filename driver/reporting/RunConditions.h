#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "driver/machine/MachineFacts.h"

// What the machine looked like when the run started, to judge how noisy its
// times are likely to be.
struct RunConditions {
    std::optional<double> loadAverage;  // 1-minute figure; unset when unreadable
    int onlineCpus = 0;                 // 0 when the system would not say
    std::string governor;               // cpu0's; empty when no cpufreq governor is exposed
    std::string transparentHugePages;   // the selected mode; empty when unknown
    std::optional<bool> hypervisor;     // unset when cpuinfo has no flags line
    std::string options;                // the command line after the program name, as shell words
    std::uint64_t seed = 0;             // the key generator's, which -SEED gives back
    std::string version;
};

// The version this program was built from: `git describe --tags --always --dirty`
// at configure time, or the project version when the tree is not a git checkout.
const char* ProgramVersion();

// The conditions of a run started with `arguments` (argv after the program) and
// its keys drawn from `seed` on a machine with `facts`; the arguments are
// written back as shell words.
RunConditions RunConditionsOf(const MachineFacts& facts, const std::vector<std::string>& arguments, std::uint64_t seed);

// The "RUN CONDITIONS" banner, then one line per fact (no line feeds), for the
// console and for run_conditions.txt alike.
std::vector<std::string> RunConditionLines(const RunConditions& conditions);

// One "WARNING: " line each when the load average exceeds a quarter of the online
// CPUs, and when an exposed governor is not "performance". Empty otherwise.
std::vector<std::string> RunConditionWarnings(const RunConditions& conditions);
