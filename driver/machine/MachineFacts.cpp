#include "driver/machine/MachineFacts.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

#include "driver/machine/CpuReportLines.h"

namespace {

constexpr const char* kWhitespace = " \t\r\n";

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(kWhitespace);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(kWhitespace) - first + 1);
}

// from_chars, unlike strtod, ignores the locale a run may have switched to.
std::optional<double> ParseNonNegative(const std::string& word) {
    const std::string text = Trim(word);
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data() || !std::isfinite(value) || value < 0.0) return std::nullopt;
    return value;
}

std::vector<double> LoadAverages(const std::string& line) {
    std::vector<double> figures;
    std::istringstream words(line);
    std::string word;
    for (int i = 0; i < 3 && words >> word; ++i) {
        const std::optional<double> figure = ParseNonNegative(word);
        if (!figure) break;
        figures.push_back(*figure);
    }
    return figures;
}

// The word in brackets is the mode the kernel applies; the others are merely offered.
std::string SelectedMode(const std::string& line) {
    const auto open = line.find('[');
    if (open == std::string::npos) return "";
    const auto close = line.find(']', open + 1);
    if (close == std::string::npos) return "";
    return Trim(line.substr(open + 1, close - open - 1));
}

// The value of the first cpuinfo line whose key is `key`.
std::optional<std::string> CpuinfoValue(const std::string& cpuinfo, const std::string& key) {
    std::istringstream in(cpuinfo);
    std::string line;
    while (std::getline(in, line)) {
        const auto colon = line.find(':');
        if (colon != std::string::npos && Trim(line.substr(0, colon)) == key) return line.substr(colon + 1);
    }
    return std::nullopt;
}

// Every CPU block repeats the same flags, so the first flags line decides.
std::optional<bool> HasHypervisorFlag(const std::string& cpuinfo) {
    const std::optional<std::string> flags = CpuinfoValue(cpuinfo, "flags");
    if (!flags) return std::nullopt;
    std::istringstream words(*flags);
    std::string flag;
    while (words >> flag) {
        if (flag == "hypervisor") return true;
    }
    return false;
}

long CpuMhz(const std::string& cpuinfo) {
    const std::optional<std::string> text = CpuinfoValue(cpuinfo, "cpu MHz");
    const std::optional<double> mhz = text ? ParseNonNegative(*text) : std::nullopt;
    return mhz ? std::lround(*mhz) : 0;
}

// The whole file; empty when it cannot be read.
std::string WholeFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    if (in) text << in.rdbuf();
    return text.str();
}

std::optional<KernelFacts> Kernel() {
    utsname system{};
    if (uname(&system) != 0) return std::nullopt;
    return KernelFacts{system.release, system.version, system.machine};
}

int OnlineCpus(const SystemPaths& paths) {
    if (paths.onlineCpus) return *paths.onlineCpus > 0 ? *paths.onlineCpus : 0;
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? static_cast<int>(count) : 0;
}

std::vector<std::string> Governors(const std::string& cpuDirectory, int cpus) {
    std::vector<std::string> governors;
    for (int cpu = 0; cpu < cpus; ++cpu) {
        const std::string governor =
            Trim(FirstLineOf(cpuDirectory + "/cpu" + std::to_string(cpu) + "/cpufreq/scaling_governor"));
        if (governor.empty()) break;
        governors.push_back(governor);
    }
    return governors;
}

std::uint64_t WholeNumber(const std::string& text, const char** end = nullptr) {
    std::uint64_t value = 0;
    const std::string trimmed = Trim(text);
    const auto result = std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), value);
    if (end != nullptr) *end = result.ptr == trimmed.data() + trimmed.size() ? "" : result.ptr;
    return result.ec == std::errc() ? value : 0;
}

// Bytes from a sysfs cache size such as "32K" or "8M".
std::uint64_t CacheBytes(const std::string& text) {
    const std::string trimmed = Trim(text);
    std::uint64_t size = 0;
    const auto [unit, error] = std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), size);
    if (error != std::errc()) return 0;
    if (unit == trimmed.data() + trimmed.size()) return size;
    switch (*unit) {
    case 'K': return size << 10;
    case 'M': return size << 20;
    case 'G': return size << 30;
    default: return size;
    }
}

// The CPUs set in a sysfs hex mask such as "00000000,00000003".
std::uint64_t MaskBits(const std::string& mask) {
    std::uint64_t bits = 0;
    for (const char c : mask) {
        unsigned nibble = 0;
        if (c >= '0' && c <= '9')
            nibble = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            nibble = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            nibble = static_cast<unsigned>(c - 'A' + 10);
        bits += static_cast<std::uint64_t>(std::popcount(nibble));
    }
    return bits;
}

std::vector<CacheFacts> Caches(const std::string& cpuDirectory) {
    std::vector<CacheFacts> caches;
    for (int index = 0;; ++index) {
        const std::string dir = cpuDirectory + "/cpu0/cache/index" + std::to_string(index) + "/";
        const std::string type = FirstLineOf(dir + "type");
        if (type.empty()) break;
        caches.push_back({type, WholeNumber(FirstLineOf(dir + "level")), CacheBytes(FirstLineOf(dir + "size")),
                          MaskBits(FirstLineOf(dir + "shared_cpu_map"))});
    }
    return caches;
}

std::string HostName(const SystemPaths& paths) {
    if (paths.hostName) return *paths.hostName;
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "";
    return name;
}

}  // namespace

std::optional<double> MachineFacts::Load() const {
    if (loadAverages.empty()) return std::nullopt;
    return loadAverages.front();
}

std::string MachineFacts::Governor() const { return governors.empty() ? std::string() : governors.front(); }

bool MachineFacts::FrequencyScaling() const {
    for (const std::string& governor : governors) {
        if (governor != "performance") return true;
    }
    return false;
}

std::string FirstLineOf(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) return "";
    return line;
}

MachineFacts ReadMachineFacts(const SystemPaths& paths) {
    MachineFacts facts;
    facts.loadAverages = LoadAverages(FirstLineOf(paths.loadAverage));
    facts.onlineCpus = OnlineCpus(paths);
    facts.governors = Governors(paths.cpuDirectory, facts.onlineCpus);
    facts.transparentHugePages = SelectedMode(FirstLineOf(paths.transparentHugePages));
    const std::string cpuinfo = WholeFile(paths.cpuinfo);
    facts.hypervisor = HasHypervisorFlag(cpuinfo);
    facts.cpuMhz = CpuMhz(cpuinfo);
    facts.cpuReportLines = CpuReportLines(cpuinfo);
    facts.kernel = Kernel();
    facts.caches = Caches(paths.cpuDirectory);
    facts.hostName = HostName(paths);
    return facts;
}
