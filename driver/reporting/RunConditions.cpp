#include "driver/reporting/RunConditions.h"

#include <algorithm>
#include <charconv>

#include "SortbenchVersion.h"
#include "driver/output/SectionBanners.h"
#include "strings/EscapedText.h"
#include "strings/ShellWords.h"

namespace {

// Two decimals, as /proc/loadavg itself writes them, whatever the locale.
std::string FormatLoad(double load) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, load, std::chars_format::fixed, 2);
    return std::string(buffer, result.ptr);
}

std::string CpuCountText(int cpus) { return std::to_string(cpus) + (cpus == 1 ? " CPU" : " CPUs"); }

}  // namespace

const char* ProgramVersion() { return SORTBENCH_VERSION; }

RunConditions RunConditionsOf(const MachineFacts& facts, const std::vector<std::string>& arguments,
                              std::uint64_t seed) {
    RunConditions conditions;
    conditions.loadAverage = facts.Load();
    conditions.onlineCpus = facts.onlineCpus;
    conditions.governor = facts.Governor();
    conditions.transparentHugePages = facts.transparentHugePages;
    conditions.hypervisor = facts.hypervisor;
    conditions.options = SLib::JoinShellWords(arguments);
    conditions.seed = seed;
    conditions.version = ProgramVersion();
    return conditions;
}

std::vector<std::string> RunConditionLines(const RunConditions& conditions) {
    const std::string cpus =
        conditions.onlineCpus > 0 ? CpuCountText(conditions.onlineCpus) + " online" : "online CPUs unknown";
    const std::string load = conditions.loadAverage ? FormatLoad(*conditions.loadAverage) : "unknown";
    const char* hypervisor = !conditions.hypervisor ? "unknown" : *conditions.hypervisor ? "yes" : "no";
    return {
        SectionBanner("RUN CONDITIONS"),
        "Load average: " + load + " (" + cpus + ")",
        "CPU frequency governor: " + (conditions.governor.empty() ? "not exposed" : conditions.governor),
        "Transparent huge pages: " +
            (conditions.transparentHugePages.empty() ? "unknown" : conditions.transparentHugePages),
        std::string("Hypervisor: ") + hypervisor,
        "Options: " + (conditions.options.empty() ? "none" : conditions.options),
        "Seed: " + std::to_string(conditions.seed),
        "Version: " + (conditions.version.empty() ? "unknown" : conditions.version),
    };
}

std::vector<std::string> RunConditionWarnings(const RunConditions& conditions) {
    std::vector<std::string> warnings;
    // Past a quarter of the CPUs other work is likely to preempt the timed threads.
    if (conditions.loadAverage && conditions.onlineCpus > 0 && *conditions.loadAverage > conditions.onlineCpus / 4.0) {
        warnings.push_back("WARNING: load average " + FormatLoad(*conditions.loadAverage) +
                           " exceeds a quarter of the " + CpuCountText(conditions.onlineCpus) +
                           " online; other work competes for the CPUs and times will be noisy.");
    }
    if (!conditions.governor.empty() && conditions.governor != "performance") {
        warnings.push_back("WARNING: CPU frequency governor is '" + conditions.governor +
                           "', not 'performance'; the CPU may change speed during the run.");
    }
    return warnings;
}
