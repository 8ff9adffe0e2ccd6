#include "driver/output/JsonResults.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>
#include <string_view>

#include "driver/measuring/MedianInterval.h"
#include "driver/measuring/TimingStats.h"
#include "strings/EscapedText.h"

namespace {

std::atomic<const JsonResults*> active{nullptr};

// Room for a temporary file's path: a target path of up to PATH_MAX and a suffix.
constexpr std::size_t kTempNameCapacity = 4096 + 64;

constexpr std::string_view kCloser = "\n  ]\n}\n";

// Bytes of the well-formed UTF-8 sequence at `at`, or 0 when the bytes there are
// not one (a stray continuation byte, a cut or overlong sequence, a surrogate,
// a code point past U+10FFFF).
std::size_t Utf8SequenceAt(const std::string& text, std::size_t at) {
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;  // the range the second byte must fall in
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong below U+0800
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong below U+10000
        if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    }
    return length;
}

// A JSON string literal. Text from the system (a program path, a host name) may
// hold bytes that are not UTF-8; each such byte becomes U+FFFD, so the document
// stays valid JSON.
void AppendEscaped(std::string& out, const std::string& text) {
    out += '"';
    for (std::size_t at = 0; at < text.size();) {
        const char c = text[at];
        const std::size_t length = Utf8SequenceAt(text, at);
        if (length == 0) {
            out += "\\ufffd";
            ++at;
            continue;
        }
        if (length > 1) {
            out.append(text, at, length);
            at += length;
            continue;
        }
        ++at;
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

void AppendCaches(std::string& out, const std::vector<CacheFacts>& caches) {
    out += "    \"caches\": [";
    for (std::size_t i = 0; i < caches.size(); ++i) {
        out += i == 0 ? "\n" : ",\n";
        out += "      {\n";
        AppendField(out, "        ", "type", caches[i].type);
        AppendField(out, "        ", "level", caches[i].level);
        AppendField(out, "        ", "size", caches[i].bytes);
        AppendField(out, "        ", "num_sharing", caches[i].sharingCpus, true);
        out += "      }";
    }
    out += caches.empty() ? "],\n" : "\n    ],\n";
}

void AppendLoadAverage(std::string& out, const std::vector<double>& figures) {
    out += "    \"load_avg\": [";
    for (std::size_t i = 0; i < figures.size(); ++i) {
        if (i > 0) out += ',';
        AppendDouble(out, figures[i], std::chars_format::general, 6);
    }
    out += "],\n";
}

std::string Head(const std::string& executable, const MachineFacts& machine,
                 const JsonResults::ContextFields& context) {
    std::string out = "{\n  \"context\": {\n";
    AppendField(out, "    ", "date", LocalDate());
    AppendField(out, "    ", "host_name", machine.hostName);
    AppendField(out, "    ", "executable", executable);
    AppendField(out, "    ", "num_cpus", static_cast<std::uint64_t>(std::max(machine.onlineCpus, 1)));
    AppendField(out, "    ", "mhz_per_cpu", static_cast<std::uint64_t>(std::max(machine.cpuMhz, 0L)));
    AppendKey(out, "    ", "cpu_scaling_enabled");
    out += machine.FrequencyScaling() ? "true,\n" : "false,\n";
    AppendCaches(out, machine.caches);
    AppendLoadAverage(out, machine.loadAverages);
    for (const auto& [key, value] : context) AppendField(out, "    ", key.c_str(), value);
#ifdef NDEBUG
    AppendField(out, "    ", "library_build_type", "release", true);
#else
    AppendField(out, "    ", "library_build_type", "debug", true);
#endif
    out += "  },\n  \"benchmarks\": [";
    return out;
}

// A target that exists but is no regular file: rename would put the document in
// place of a device, a FIFO, a socket or a link, which is never ours to replace.
constexpr int kNotRegularFile = -1;

// Why a document cannot take the place of `target` as it is now (never following
// a link), or 0: nothing there, or a regular file (then in `existing`).
// Async-signal-safe.
int TargetProblem(const char* target, struct stat& existing, bool& exists) {
    exists = lstat(target, &existing) == 0;
    if (!exists) return errno == ENOENT ? 0 : errno;
    if (S_ISDIR(existing.st_mode)) return EISDIR;
    return S_ISREG(existing.st_mode) ? 0 : kNotRegularFile;
}

std::string ProblemText(int problem) {
    return problem == kNotRegularFile ? "not a regular file" : std::strerror(problem);
}

// Appends the decimal digits of `value` at `out`; returns the end.
char* AppendDigits(char* out, unsigned long value) {
    char digits[24];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0) *out++ = digits[--count];
    return out;
}

// Creates a temporary file "<prefix><pid>.<n>.tmp" that did not exist before:
// exclusively, never through a link, so a name planted by another user is never
// opened. Returns the descriptor, or -1 with errno set; `name` holds the path.
// Async-signal-safe.
int CreateTemporary(const std::string& prefix, char (&name)[kTempNameCapacity], mode_t mode) {
    if (prefix.size() + 48 > sizeof name) {
        errno = ENAMETOOLONG;
        return -1;
    }
    for (unsigned long attempt = 0; attempt < 1000; ++attempt) {
        char* end = std::copy(prefix.begin(), prefix.end(), name);
        end = AppendDigits(end, static_cast<unsigned long>(getpid()));
        *end++ = '.';
        end = AppendDigits(end, attempt);
        end = std::copy_n(".tmp", 5, end);
        const int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

// 0, or the errno (kNotRegularFile) of the step that failed. The document goes to
// a fresh temporary file beside the target, with the target's permissions and
// owner when it exists, and is renamed over it. Async-signal-safe.
int StoreFile(const std::string& tempPrefix, const char* target, const char* data, std::size_t size) {
    struct stat existing {};
    bool exists = false;
    if (const int problem = TargetProblem(target, existing, exists); problem != 0) return problem;
    char tempPath[kTempNameCapacity];
    // Until it holds the target's permissions, the copy is readable by its owner only.
    const int fd = CreateTemporary(tempPrefix, tempPath, exists ? 0600 : 0666);
    if (fd < 0) return errno;
    int error = 0;
    if (exists) {
        if (fchmod(fd, existing.st_mode & 07777) != 0) error = errno;
        // Only root can give the file back to its owner; anyone else keeps it as theirs.
        if (geteuid() == 0) (void)!fchown(fd, existing.st_uid, existing.st_gid);
    }
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
    if (error == 0 && rename(tempPath, target) != 0) error = errno;
    if (error != 0) (void)unlink(tempPath);
    return error;
}

// The file a document for `outputPath` replaces: the path itself, or where a
// symbolic link there leads (the link stays, as editors keep it). Empty with
// the reason in `problem` when a link leads nowhere.
std::string ResolveTarget(const std::string& outputPath, std::string& problem) {
    struct stat link {};
    if (lstat(outputPath.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return outputPath;
    char* resolved = realpath(outputPath.c_str(), nullptr);
    if (resolved == nullptr) {
        problem = errno == ENOENT ? "a symbolic link to nothing" : std::strerror(errno);
        return {};
    }
    std::string target = resolved;
    std::free(resolved);
    return target;
}

// "<directory of target>/.<name of target>.": the temporary files' names begin
// so, hidden and in the same file system as the target, so rename is atomic.
std::string TempPrefixFor(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    if (slash == std::string::npos) return "." + target + ".";
    return target.substr(0, slash + 1) + "." + target.substr(slash + 1) + ".";
}

// Why rename could not replace an existing `target` that another user owns in a
// sticky directory such as /tmp, or empty.
std::string StickyProblem(const std::string& target) {
    if (geteuid() == 0) return {};
    struct stat file {};
    if (lstat(target.c_str(), &file) != 0 || file.st_uid == geteuid()) return {};
    const std::size_t slash = target.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    struct stat parent {};
    if (stat(directory.c_str(), &parent) != 0 || (parent.st_mode & S_ISVTX) == 0 || parent.st_uid == geteuid())
        return {};
    return std::strerror(EPERM);
}

// Why no document can be stored at `outputPath`, or empty: every check Write
// makes, plus a trial temporary file in the target's directory.
std::string StoreProblem(const std::string& outputPath) {
    std::string problem;
    const std::string target = ResolveTarget(outputPath, problem);
    if (target.empty()) return problem;
    struct stat existing {};
    bool exists = false;
    if (const int error = TargetProblem(target.c_str(), existing, exists); error != 0) return ProblemText(error);
    // Rename needs no right to the file itself, but a file its owner made
    // read-only is not ours to replace.
    if (exists && faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return std::strerror(errno);
    char probe[kTempNameCapacity];
    const int fd = CreateTemporary(TempPrefixFor(target), probe, 0600);
    if (fd < 0) return std::strerror(errno);
    close(fd);
    unlink(probe);
    return StickyProblem(target);
}

// The interrupting signals wait while a document is stored: the handler stores
// it again and ends the process, which would leave this store's temporary file
// behind.
class InterruptionsHeld {
public:
    InterruptionsHeld() {
        sigset_t held;
        sigemptyset(&held);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&held, signal);
        pthread_sigmask(SIG_BLOCK, &held, &previous);
    }
    InterruptionsHeld(const InterruptionsHeld&) = delete;
    InterruptionsHeld& operator=(const InterruptionsHeld&) = delete;
    ~InterruptionsHeld() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }

private:
    sigset_t previous;
};

// The file `outputPath` stands for, however it is spelled: its directory
// resolved, or the file a link there leads to. Empty when neither resolves.
std::string CanonicalTarget(const std::string& outputPath) {
    std::string problem;
    const std::string target = ResolveTarget(outputPath, problem);
    if (target.empty()) return {};
    const std::size_t slash = target.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    char* resolved = realpath(directory.c_str(), nullptr);
    if (resolved == nullptr) return {};
    std::string canonical = resolved;
    std::free(resolved);
    return canonical + "/" + target.substr(slash == std::string::npos ? 0 : slash + 1);
}

// Claims `canonicalTarget` for this process by binding an abstract socket named
// for it: the kernel releases the name however the process ends, and no file is
// made. False when another process holds it.
bool ClaimTarget(const std::string& canonicalTarget) {
    // This process may ask again (a test makes several runs in one process).
    static std::set<std::string> claimed;
    if (claimed.count(canonicalTarget) != 0) return true;
    // FNV-1a: a short, fixed-length name for a path of any length.
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : canonicalTarget) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    char name[64];
    const int length = std::snprintf(name, sizeof name, "sortbench-json-%016llx", static_cast<unsigned long long>(hash));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // A leading NUL puts the name in the abstract namespace.
    std::memcpy(address.sun_path + 1, name, static_cast<std::size_t>(length));
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return true;  // no sockets to be had: nothing to claim with, nothing to refuse
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + static_cast<std::size_t>(length));
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
        const bool taken = errno == EADDRINUSE;
        close(fd);
        return !taken;
    }
    // Held until the process ends.
    claimed.insert(canonicalTarget);
    return true;
}

}  // namespace

JsonResults::JsonResults(const std::string& outputPath, const std::string& executable, std::size_t repetitions,
                         const MachineFacts& machine, bool medianIntervals, const ContextFields& context)
    : path(outputPath), repetitions(repetitions), medianIntervals(medianIntervals) {
    std::string problem;
    target = ResolveTarget(outputPath, problem);
    // A link that leads nowhere now is named as given, so Write reports it.
    if (target.empty()) target = outputPath;
    tempPrefix = TempPrefixFor(target);
    documents[0] = Head(executable, machine, context);
    documents[0] += kCloser;
    documents[1] = documents[0];
    active.store(this);
}

JsonResults::~JsonResults() {
    const JsonResults* self = this;
    (void)active.compare_exchange_strong(self, nullptr);
}

std::string JsonResults::EntriesFor(const std::string& dataType, const std::string& column, std::uint64_t count,
                                    const std::vector<double>& timesMs, std::optional<double> floorMs) {
    const std::string familyName = dataType + "/" + column;
    const auto family = families.try_emplace(familyName, static_cast<int>(families.size())).first->second;
    if (static_cast<std::size_t>(family) == instancesPerFamily.size()) instancesPerFamily.push_back(0);
    const auto [slot, isNew] = instances.try_emplace({family, count}, instancesPerFamily[family]);
    if (isNew) ++instancesPerFamily[family];
    const int instance = slot->second;

    // Rounds that aim at an interval end when it is reached: each cell has its own count.
    const std::size_t cellRepetitions = medianIntervals ? timesMs.size() : repetitions;
    const std::optional<MedianInterval> interval =
        medianIntervals ? MedianConfidenceInterval(timesMs) : std::optional<MedianInterval>();
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
        AppendField(out, in, "repetitions", static_cast<std::uint64_t>(cellRepetitions));
    };
    // User counters, as Google Benchmark writes them; those that are times in
    // milliseconds, like the entries' times.
    auto endEntry = [&](std::uint64_t iterations, double ms, double itemsPerSecond,
                        std::vector<std::pair<const char*, double>> counters = {}) {
        AppendField(out, in, "iterations", iterations);
        AppendField(out, in, "real_time", ms);
        AppendField(out, in, "cpu_time", ms);
        AppendField(out, in, "time_unit", "ms");
        AppendField(out, in, "items_per_second", itemsPerSecond, counters.empty());
        for (std::size_t c = 0; c < counters.size(); ++c)
            AppendField(out, in, counters[c].first, counters[c].second, c + 1 == counters.size());
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
    if (cellRepetitions > 1) {
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
            std::vector<std::pair<const char*, double>> counters;
            if (std::string_view(aggregate.name) == "median") {
                if (interval) counters = {{"CiLow", interval->low}, {"CiHigh", interval->high}};
                if (floorMs && *floorMs > 0.0) {
                    counters.emplace_back("MemoryFloor", *floorMs);
                    counters.emplace_back("FloorRatio", aggregate.ms / *floorMs);
                }
            }
            endEntry(timesMs.size(), aggregate.ms, aggregate.itemsPerSecond, std::move(counters));
        }
    }
    return out;
}

void JsonResults::Add(const std::string& dataType, const std::string& column, std::uint64_t count,
                      const std::vector<double>& timesMs, std::optional<double> floorMs) {
    if (timesMs.empty()) return;
    const std::string entries = EntriesFor(dataType, column, count, timesMs, floorMs);
    // The published rendering stays untouched until the other one is complete, so
    // a signal arriving in between still finds a whole document.
    const int next = 1 - published.load();
    std::string& document = documents[next];
    document.resize(document.size() - kCloser.size());
    document += behind;
    document += entries;
    document += kCloser;
    published.store(next);
    entriesPublished.store(true);
    behind = entries;
}

const std::string& JsonResults::Text() const { return documents[published.load()]; }

bool JsonResults::HasEntries() const { return entriesPublished.load(); }

bool JsonResults::Write() const {
    const InterruptionsHeld held;
    const std::string& document = Text();
    const int error = StoreFile(tempPrefix, target.c_str(), document.data(), document.size());
    if (error == 0) return true;
    std::printf("Cannot write %s: %s\n", SLib::EscapedControls(path).c_str(), ProblemText(error).c_str());
    std::fflush(stdout);
    return false;
}

bool JsonResults::CanWrite(const std::string& outputPath) {
    std::string problem;
    {
        const InterruptionsHeld held;
        problem = StoreProblem(outputPath);
    }
    const std::string canonical = problem.empty() ? CanonicalTarget(outputPath) : std::string();
    if (!canonical.empty() && !ClaimTarget(canonical)) problem = "another running sortbench writes its results there";
    if (problem.empty()) return true;
    std::printf("Cannot write %s: %s\n", SLib::EscapedControls(outputPath).c_str(), problem.c_str());
    std::fflush(stdout);
    return false;
}

void JsonResults::WriteFromSignalHandler() {
    const JsonResults* results = active.load();
    // Before the first cell there is nothing to keep, and an earlier run's file
    // at the path is worth more than an empty list.
    if (results == nullptr || !results->entriesPublished.load()) return;
    const int savedErrno = errno;
    const std::string& document = results->documents[results->published.load()];
    (void)StoreFile(results->tempPrefix, results->target.c_str(), document.data(), document.size());
    errno = savedErrno;
}
