#include "driver/output/RunConditions.h"

#include <unistd.h>

#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

#ifndef SORTBENCH_VERSION
#error "SORTBENCH_VERSION must be defined by the build (driver/CMakeLists.txt)"
#endif

namespace {

constexpr const char* kBanner = "----------------------------- RUN CONDITIONS -----------------------------";
constexpr const char* kWhitespace = " \t\r\n";

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(kWhitespace);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(kWhitespace) - first + 1);
}

std::optional<double> ParseLoadAverage(const std::string& line) {
    const std::string text = Trim(line);
    double value = 0.0;
    // from_chars, unlike strtod, ignores the locale a run may have switched to.
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data() || !std::isfinite(value) || value < 0.0) {
        return std::nullopt;
    }
    return value;
}

// The word in brackets is the mode the kernel applies; the others are merely offered.
std::string SelectedMode(const std::string& line) {
    const auto open = line.find('[');
    if (open == std::string::npos) return "";
    const auto close = line.find(']', open + 1);
    if (close == std::string::npos) return "";
    return Trim(line.substr(open + 1, close - open - 1));
}

// Every CPU block repeats the same flags, so the first flags line decides.
std::optional<bool> HasHypervisorFlag(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos || Trim(line.substr(0, colon)) != "flags") continue;
        std::istringstream flags(line.substr(colon + 1));
        std::string flag;
        while (flags >> flag) {
            if (flag == "hypervisor") return true;
        }
        return false;
    }
    return std::nullopt;
}

int OnlineCpus(const SystemPaths& paths) {
    if (paths.onlineCpus) return *paths.onlineCpus > 0 ? *paths.onlineCpus : 0;
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? static_cast<int>(count) : 0;
}

// Two decimals, as /proc/loadavg itself writes them, whatever the locale.
std::string FormatLoad(double load) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, load, std::chars_format::fixed, 2);
    return std::string(buffer, result.ptr);
}

std::string CpuCount(int cpus) {
    return std::to_string(cpus) + (cpus == 1 ? " CPU" : " CPUs");
}

std::string ShellQuoted(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\r\n'") == std::string::npos) return argument;
    std::string quoted = "'";
    for (const char c : argument) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

}  // namespace

std::string FirstLineOf(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) return "";
    return line;
}

const char* ProgramVersion() {
    return SORTBENCH_VERSION;
}

RunConditions ReadRunConditions(const std::string& options, const SystemPaths& paths) {
    RunConditions conditions;
    conditions.loadAverage = ParseLoadAverage(FirstLineOf(paths.loadAverage));
    conditions.onlineCpus = OnlineCpus(paths);
    conditions.governor = Trim(FirstLineOf(paths.governor));
    conditions.transparentHugePages = SelectedMode(FirstLineOf(paths.transparentHugePages));
    conditions.hypervisor = HasHypervisorFlag(paths.cpuinfo);
    conditions.options = options;
    conditions.version = ProgramVersion();
    return conditions;
}

std::vector<std::string> RunConditionLines(const RunConditions& conditions) {
    const std::string cpus =
        conditions.onlineCpus > 0 ? CpuCount(conditions.onlineCpus) + " online" : "online CPUs unknown";
    const std::string load = conditions.loadAverage ? FormatLoad(*conditions.loadAverage) : "unknown";
    const char* hypervisor = !conditions.hypervisor ? "unknown" : *conditions.hypervisor ? "yes" : "no";
    return {
        kBanner,
        "Load average: " + load + " (" + cpus + ")",
        "CPU frequency governor: " + (conditions.governor.empty() ? "not exposed" : conditions.governor),
        "Transparent huge pages: " +
            (conditions.transparentHugePages.empty() ? "unknown" : conditions.transparentHugePages),
        std::string("Hypervisor: ") + hypervisor,
        "Options: " + (conditions.options.empty() ? "none" : conditions.options),
        "Version: " + (conditions.version.empty() ? "unknown" : conditions.version),
    };
}

std::vector<std::string> RunConditionWarnings(const RunConditions& conditions) {
    std::vector<std::string> warnings;
    // Past a quarter of the CPUs other work is likely to preempt the timed threads.
    if (conditions.loadAverage && conditions.onlineCpus > 0 &&
        *conditions.loadAverage > conditions.onlineCpus / 4.0) {
        warnings.push_back("WARNING: load average " + FormatLoad(*conditions.loadAverage) +
                           " exceeds a quarter of the " + CpuCount(conditions.onlineCpus) +
                           " online; other work competes for the CPUs and times will be noisy.");
    }
    if (!conditions.governor.empty() && conditions.governor != "performance") {
        warnings.push_back("WARNING: CPU frequency governor is '" + conditions.governor +
                           "', not 'performance'; the CPU may change speed during the run.");
    }
    return warnings;
}

std::string JoinOptions(int argc, const char* const argv[]) {
    std::string joined;
    for (int i = 1; i < argc && argv != nullptr; ++i) {
        if (argv[i] == nullptr) break;
        if (i > 1) joined += ' ';
        joined += ShellQuoted(argv[i]);
    }
    return joined;
}
