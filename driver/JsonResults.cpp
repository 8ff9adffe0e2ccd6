#include "driver/JsonResults.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string_view>

#include "driver/RunConditions.h"
#include "driver/TimingStats.h"

namespace {

std::atomic<const JsonResults*> active{nullptr};

constexpr std::string_view kCloser = "\n  ]\n}\n";

// Write stores the document here first, then renames it over the output path.
std::string TempPathFor(const std::string& outputPath) { return outputPath + ".tmp"; }

void AppendEscaped(std::string& out, const std::string& text) {
    out += '"';
    for (const char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char code[8];
                std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(c));
                out += code;
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

// Google Benchmark's spelling of doubles: 17 significant digits in scientific
// notation, non-finite values as JavaScript literals (Python's json reads them).
// to_chars ignores the locale, so a decimal comma can never slip in.
void AppendDouble(std::string& out, double value, std::chars_format format = std::chars_format::scientific,
                  int precision = 16) {
    if (std::isnan(value)) {
        out += "NaN";
        return;
    }
    if (std::isinf(value)) {
        out += value < 0 ? "-Infinity" : "Infinity";
        return;
    }
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, format, precision);
    out.append(text, result.ptr);
}

// `"key": ` at the indentation of an entry field.
void AppendKey(std::string& out, const char* indent, const char* key) {
    out += indent;
    out += '"';
    out += key;
    out += "\": ";
}

void AppendField(std::string& out, const char* indent, const char* key, const std::string& value, bool last = false) {
    AppendKey(out, indent, key);
    AppendEscaped(out, value);
    out += last ? "\n" : ",\n";
}

void AppendField(std::string& out, const char* indent, const char* key, std::uint64_t value, bool last = false) {
    AppendKey(out, indent, key);
    out += std::to_string(value);
    out += last ? "\n" : ",\n";
}

void AppendField(std::string& out, const char* indent, const char* key, double value, bool last = false) {
    AppendKey(out, indent, key);
    AppendDouble(out, value);
    out += last ? "\n" : ",\n";
}

// "2024-05-01T13:45:10+02:00": strftime's %z lacks the colon.
std::string LocalDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    if (length < 5) return std::string(text, length);
    // Built by append: std::string::insert trips a false -Wrestrict in GCC 12.
    std::string date(text, length - 2);
    date += ':';
    date.append(text + length - 2, 2);
    return date;
}

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "";
    return name;
}

long CpuCount() {
    const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    return cpus > 0 ? cpus : 1;
}

long CpuMhz() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("cpu MHz", 0) != 0) continue;
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) return 0;
        return std::lround(std::strtod(line.c_str() + colon + 1, nullptr));
    }
    return 0;
}

bool CpuScalingEnabled(long cpus) {
    for (long cpu = 0; cpu < cpus; ++cpu) {
        const std::string governor =
            FirstLineOf("/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/cpufreq/scaling_governor");
        if (!governor.empty() && governor != "performance") return true;
    }
    return false;
}

// Bytes from a sysfs cache size such as "32K" or "8M".
std::uint64_t CacheBytes(const std::string& text) {
    char* end = nullptr;
    std::uint64_t size = std::strtoull(text.c_str(), &end, 10);
    switch (*end) {
    case 'K': size <<= 10; break;
    case 'M': size <<= 20; break;
    case 'G': size <<= 30; break;
    default: break;
    }
    return size;
}

// The CPUs set in a sysfs hex mask such as "00000000,00000003".
std::uint64_t MaskBits(const std::string& mask) {
    std::uint64_t bits = 0;
    for (const char c : mask) {
        unsigned nibble = 0;
        if (c >= '0' && c <= '9') nibble = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f') nibble = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') nibble = static_cast<unsigned>(c - 'A' + 10);
        bits += static_cast<std::uint64_t>(std::popcount(nibble));
    }
    return bits;
}

void AppendCaches(std::string& out) {
    out += "    \"caches\": [";
    bool first = true;
    for (int index = 0;; ++index) {
        const std::string dir = "/sys/devices/system/cpu/cpu0/cache/index" + std::to_string(index) + "/";
        const std::string type = FirstLineOf(dir + "type");
        if (type.empty()) break;
        out += first ? "\n" : ",\n";
        first = false;
        out += "      {\n";
        AppendField(out, "        ", "type", type);
        const std::uint64_t level = std::strtoull(FirstLineOf(dir + "level").c_str(), nullptr, 10);
        AppendField(out, "        ", "level", level);
        AppendField(out, "        ", "size", CacheBytes(FirstLineOf(dir + "size")));
        AppendField(out, "        ", "num_sharing", MaskBits(FirstLineOf(dir + "shared_cpu_map")), true);
        out += "      }";
    }
    out += first ? "],\n" : "\n    ],\n";
}

void AppendLoadAverage(std::string& out) {
    out += "    \"load_avg\": [";
    std::istringstream figures(FirstLineOf("/proc/loadavg"));
    std::string figure;
    for (int i = 0; i < 3 && figures >> figure; ++i) {
        if (i > 0) out += ',';
        AppendDouble(out, std::strtod(figure.c_str(), nullptr), std::chars_format::general, 6);
    }
    out += "],\n";
}

std::string Head(const std::string& executable) {
    const long cpus = CpuCount();
    std::string out = "{\n  \"context\": {\n";
    AppendField(out, "    ", "date", LocalDate());
    AppendField(out, "    ", "host_name", HostName());
    AppendField(out, "    ", "executable", executable);
    AppendField(out, "    ", "num_cpus", static_cast<std::uint64_t>(cpus));
    AppendField(out, "    ", "mhz_per_cpu", static_cast<std::uint64_t>(std::max(CpuMhz(), 0L)));
    AppendKey(out, "    ", "cpu_scaling_enabled");
    out += CpuScalingEnabled(cpus) ? "true,\n" : "false,\n";
    AppendCaches(out);
    AppendLoadAverage(out);
#ifdef NDEBUG
    AppendField(out, "    ", "library_build_type", "release", true);
#else
    AppendField(out, "    ", "library_build_type", "debug", true);
#endif
    out += "  },\n  \"benchmarks\": [";
    return out;
}

// 0, or the errno of the step that failed. Async-signal-safe.
int StoreFile(const char* tempPath, const char* path, const char* data, std::size_t size) {
    const int fd = open(tempPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    int error = 0;
    for (std::size_t done = 0; done < size && error == 0;) {
        const ssize_t written = write(fd, data + done, size - done);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
        } else if (written < 0 && errno != EINTR) {
            error = errno;
        } else if (written == 0) {
            error = EIO;
        }
    }
    if (error == 0 && fsync(fd) != 0) error = errno;
    // Linux releases the descriptor even when close reports EINTR.
    if (close(fd) != 0 && error == 0 && errno != EINTR) error = errno;
    if (error == 0 && rename(tempPath, path) != 0) error = errno;
    if (error != 0) (void)unlink(tempPath);
    return error;
}

}  // namespace

JsonResults::JsonResults(const std::string& outputPath, const std::string& executable, std::size_t repetitions)
    : path(outputPath), tempPath(TempPathFor(outputPath)), repetitions(repetitions) {
    documents[0] = Head(executable);
    documents[0] += kCloser;
    documents[1] = documents[0];
    active.store(this);
}

JsonResults::~JsonResults() {
    const JsonResults* self = this;
    (void)active.compare_exchange_strong(self, nullptr);
}

std::string JsonResults::EntriesFor(const std::string& dataType, const std::string& column, std::uint64_t count,
                                    const std::vector<double>& timesMs) {
    const std::string familyName = dataType + "/" + column;
    const auto family = families.try_emplace(familyName, static_cast<int>(families.size())).first->second;
    if (static_cast<std::size_t>(family) == instancesPerFamily.size()) instancesPerFamily.push_back(0);
    const auto [slot, isNew] = instances.try_emplace({family, count}, instancesPerFamily[family]);
    if (isNew) ++instancesPerFamily[family];
    const int instance = slot->second;

    const std::string name = familyName + "/" + std::to_string(count);
    const char* in = "      ";
    std::string out;
    auto beginEntry = [&](const std::string& entryName, const char* runType) {
        out += hasEntries ? ",\n    {\n" : "\n    {\n";
        hasEntries = true;
        AppendField(out, in, "name", entryName);
        AppendField(out, in, "family_index", static_cast<std::uint64_t>(family));
        AppendField(out, in, "per_family_instance_index", static_cast<std::uint64_t>(instance));
        AppendField(out, in, "run_name", name);
        AppendField(out, in, "run_type", runType);
        AppendField(out, in, "repetitions", static_cast<std::uint64_t>(repetitions));
    };
    auto endEntry = [&](std::uint64_t iterations, double ms, double itemsPerSecond) {
        AppendField(out, in, "iterations", iterations);
        AppendField(out, in, "real_time", ms);
        AppendField(out, in, "cpu_time", ms);
        AppendField(out, in, "time_unit", "ms");
        AppendField(out, in, "items_per_second", itemsPerSecond, true);
        out += "    }";
    };

    std::vector<double> rates;
    for (std::size_t i = 0; i < timesMs.size(); ++i) {
        rates.push_back(static_cast<double>(count) / (timesMs[i] / 1000.0));
        beginEntry(name, "iteration");
        AppendField(out, in, "repetition_index", static_cast<std::uint64_t>(i));
        AppendField(out, in, "threads", std::uint64_t{1});
        endEntry(1, timesMs[i], rates.back());
    }
    if (repetitions > 1) {
        const TimingSummary times = Summarize(timesMs);
        const TimingSummary perSecond = Summarize(rates);
        const struct {
            const char* name;
            double ms, itemsPerSecond;
        } aggregates[] = {{"mean", times.mean, perSecond.mean},
                          {"median", times.median, perSecond.median},
                          {"stddev", times.stdDev, perSecond.stdDev}};
        for (const auto& aggregate : aggregates) {
            beginEntry(name + "_" + aggregate.name, "aggregate");
            AppendField(out, in, "threads", std::uint64_t{1});
            AppendField(out, in, "aggregate_name", aggregate.name);
            AppendField(out, in, "aggregate_unit", "time");
            endEntry(timesMs.size(), aggregate.ms, aggregate.itemsPerSecond);
        }
    }
    return out;
}

void JsonResults::Add(const std::string& dataType, const std::string& column, std::uint64_t count,
                      const std::vector<double>& timesMs) {
    if (timesMs.empty()) return;
    const std::string entries = EntriesFor(dataType, column, count, timesMs);
    // The published rendering stays untouched until the other one is complete, so
    // a signal arriving in between still finds a whole document.
    const int next = 1 - published.load();
    std::string& document = documents[next];
    document.resize(document.size() - kCloser.size());
    document += behind;
    document += entries;
    document += kCloser;
    published.store(next);
    behind = entries;
}

const std::string& JsonResults::Text() const { return documents[published.load()]; }

bool JsonResults::Write() const {
    const std::string& document = Text();
    const int error = StoreFile(tempPath.c_str(), path.c_str(), document.data(), document.size());
    if (error == 0) return true;
    std::printf("Cannot write %s: %s\n", path.c_str(), std::strerror(error));
    std::fflush(stdout);
    return false;
}

bool JsonResults::CanWrite(const std::string& outputPath) {
    const std::string probe = TempPathFor(outputPath);
    const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    // An existing temporary file is one a killed run left; Write replaces it.
    if (fd < 0 && errno != EEXIST) {
        std::printf("Cannot write %s: %s\n", outputPath.c_str(), std::strerror(errno));
        std::fflush(stdout);
        return false;
    }
    if (fd >= 0) {
        close(fd);
        unlink(probe.c_str());
    }
    return true;
}

void JsonResults::WriteFromSignalHandler() {
    const JsonResults* results = active.load();
    if (results == nullptr) return;
    const int savedErrno = errno;
    const std::string& document = results->documents[results->published.load()];
    (void)StoreFile(results->tempPath.c_str(), results->path.c_str(), document.data(), document.size());
    errno = savedErrno;
}
