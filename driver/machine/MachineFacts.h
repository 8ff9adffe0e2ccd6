#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Where ReadMachineFacts looks. Tests point these at files of their own.
struct SystemPaths {
    std::string loadAverage = "/proc/loadavg";
    std::string cpuinfo = "/proc/cpuinfo";
    std::string cpuDirectory = "/sys/devices/system/cpu";  // cpu<N>/cpufreq/..., cpu0/cache/index<N>/...
    std::string transparentHugePages = "/sys/kernel/mm/transparent_hugepage/enabled";
    // Replace sysconf(_SC_NPROCESSORS_ONLN) and gethostname when set.
    std::optional<int> onlineCpus;
    std::optional<std::string> hostName;
};

// One CPU cache level as sysfs describes it.
struct CacheFacts {
    std::string type;  // "Data", "Instruction", "Unified"
    std::uint64_t level = 0;
    std::uint64_t bytes = 0;
    std::uint64_t sharingCpus = 0;  // CPUs that share this cache
};

// The kernel as uname names it.
struct KernelFacts {
    std::string release, version, machine;
};

// What the machine looked like when the run started: the one record every
// report of the machine (run conditions, the JSON context) renders from.
struct MachineFacts {
    std::vector<double> loadAverages;    // the 1-, 5- and 15-minute figures read; empty when unreadable
    int onlineCpus = 0;                  // 0 when the system would not say
    std::vector<std::string> governors;  // cpufreq governor of each online CPU from cpu0 on, as far as exposed
    std::string transparentHugePages;    // the selected mode; empty when unknown
    std::optional<bool> hypervisor;      // unset when cpuinfo has no flags line
    long cpuMhz = 0;                     // the first "cpu MHz" of cpuinfo, rounded; 0 when absent
    std::vector<CacheFacts> caches;      // cpu0's caches, in sysfs order
    std::string hostName;
    std::optional<KernelFacts> kernel;        // unset when uname fails
    std::vector<std::string> cpuReportLines;  // the system report's CPU lines (CpuReportLines.h)

    // The 1-minute load average, when read.
    std::optional<double> Load() const;
    // cpu0's governor; empty when none is exposed.
    std::string Governor() const;
    // Whether any CPU's governor may change its speed (is not "performance").
    bool FrequencyScaling() const;
};

// Reads the facts from `paths`. Never throws and never prints: a missing or
// unreadable file leaves its fact unknown. Numbers are read without regard to
// the locale.
MachineFacts ReadMachineFacts(const SystemPaths& paths = {});

// The first line of a small system file (procfs, sysfs) without its line feed;
// empty when the file cannot be read.
std::string FirstLineOf(const std::string& path);
