#pragma once

#include <optional>
#include <string>
#include <vector>

// Where ReadRunConditions looks. Tests point these at files of their own.
struct SystemPaths {
    std::string loadAverage = "/proc/loadavg";
    std::string cpuinfo = "/proc/cpuinfo";
    std::string governor = "/sys/devices/system/cpu/cpu0/cpufreq/scaling_governor";
    std::string transparentHugePages = "/sys/kernel/mm/transparent_hugepage/enabled";
    // Replaces sysconf(_SC_NPROCESSORS_ONLN) when set.
    std::optional<int> onlineCpus;
};

// What the machine looked like when the run started, to judge how noisy its
// times are likely to be.
struct RunConditions {
    std::optional<double> loadAverage;  // 1-minute figure; unset when unreadable
    int onlineCpus = 0;                 // 0 when the system would not say
    std::string governor;               // empty when no cpufreq governor is exposed
    std::string transparentHugePages;   // the selected mode; empty when unknown
    std::optional<bool> hypervisor;     // unset when cpuinfo has no flags line
    std::string options;                // the command line after the program name
    std::string version;
};

// The first line of a small system file (procfs, sysfs) without its line feed;
// empty when the file cannot be read.
std::string FirstLineOf(const std::string& path);

// The version this program was built from: `git describe --tags --always --dirty`
// at configure time, or the project version when the tree is not a git checkout.
const char* ProgramVersion();

// Reads the conditions from `paths`. Never throws and never prints: a missing or
// unreadable file leaves its field unknown.
RunConditions ReadRunConditions(const std::string& options, const SystemPaths& paths = {});

// The "RUN CONDITIONS" banner, then one line per fact (no line feeds), for the
// console and for run_conditions.txt alike.
std::vector<std::string> RunConditionLines(const RunConditions& conditions);

// One "WARNING: " line each when the load average exceeds a quarter of the online
// CPUs, and when an exposed governor is not "performance". Empty otherwise.
std::vector<std::string> RunConditionWarnings(const RunConditions& conditions);

// argv[1..argc-1] joined with single spaces, each argument that is empty or holds
// whitespace or a single quote wrapped in single quotes (a quote inside becomes
// '\''), so the text pastes back into a shell as the same arguments.
std::string JoinOptions(int argc, const char* const argv[]);
