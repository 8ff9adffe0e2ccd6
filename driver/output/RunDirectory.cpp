#include "driver/output/RunDirectory.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

#include "driver/measuring/KeyDistributions.h"
#include "driver/output/ResultFiles.h"
#include "strings/EscapedText.h"

namespace {

// How far past its start stamp a run looks for a free name: runs that start in
// the same second take the following seconds.
constexpr int kMaxStampAttempts = 1000;

constexpr std::size_t kStampLength = 12;

void ReportFailure(const std::string& path, const std::string& reason, const std::string& hint) {
    // A link the owner rule refuses makes -O a value the run may not use: one line
    // on standard error, as for any bad value.
    std::FILE* out = reason == kOthersLink ? stderr : stdout;
    std::fprintf(out, "Failed to create directory: %s: %s%s\n", SLib::EscapedControls(path).c_str(), reason.c_str(),
                 hint.c_str());
    std::fflush(out);
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd >= 0) close(fd);
    }
    int Get() const { return fd; }

private:
    int fd;
};

bool IsRegularFile(int fd) {
    struct stat status {};
    return fd >= 0 && fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

// A file the repair may cut: a regular file no other name shares.
bool MayTrim(int fd) {
    struct stat status {};
    return fd >= 0 && fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && !RefusedHardLink(status, true);
}

// The stretches of the file's first `size` bytes that hold data, in order: the
// holes between them read as zeros. A file system without holes reports the
// whole file as data.
std::vector<std::pair<off_t, off_t>> DataSegments(int fd, off_t size) {
    std::vector<std::pair<off_t, off_t>> segments;
    for (off_t at = 0; at < size;) {
        const off_t data = lseek(fd, at, SEEK_DATA);
        // ENXIO: nothing but a hole up to the end.
        if (data < 0 && errno == ENXIO) break;
        // Where the file cannot tell, all of the rest is read.
        if (data < 0) {
            segments.emplace_back(at, size);
            break;
        }
        const off_t hole = lseek(fd, data, SEEK_HOLE);
        at = hole < 0 ? size : std::min(hole, size);
        segments.emplace_back(data, at);
    }
    return segments;
}

// One past the last non-zero byte in [start, end), `start` when there is none,
// -1 when it cannot be read.
off_t EndOfNonZeros(int fd, off_t start, off_t end) {
    char block[65536];
    while (end > start) {
        const off_t from = std::max(start, end - static_cast<off_t>(sizeof block));
        const ssize_t got = pread(fd, block, static_cast<std::size_t>(end - from), from);
        if (got != end - from) return -1;
        const char* last = block + got;
        while (last > block && last[-1] == '\0') --last;
        if (last > block) return from + (last - block);
        end = from;
    }
    return start;
}

// Cuts the file to its last non-zero byte; true when it was padded. Only the data
// is read, last segment first, each from its end.
bool TrimTrailingZeros(int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0 || status.st_size == 0) return false;
    const auto segments = DataSegments(fd, status.st_size);
    off_t end = 0;
    for (auto segment = segments.rbegin(); segment != segments.rend(); ++segment) {
        const off_t found = EndOfNonZeros(fd, segment->first, segment->second);
        if (found < 0) return false;
        if (found > segment->first) {
            end = found;
            break;
        }
    }
    return end < status.st_size && ftruncate(fd, end) == 0;
}

// "cpu_" or "cpu_gpu_", then a 12-digit stamp.
bool IsRunDirectoryName(const std::string& name) {
    const std::size_t prefix = name.rfind("cpu_gpu_", 0) == 0 ? 8 : name.rfind("cpu_", 0) == 0 ? 4 : 0;
    return prefix != 0 && name.size() == prefix + kStampLength &&
           std::all_of(name.begin() + static_cast<long>(prefix), name.end(), ::isdigit);
}

// The names of the files in `directory`, without "." and "..".
std::vector<std::string> EntryNames(int directory) {
    std::vector<std::string> names;
    const int listing = dup(directory);
    if (listing < 0) return names;
    DIR* stream = fdopendir(listing);
    if (stream == nullptr) {
        close(listing);
        return names;
    }
    while (const dirent* entry = readdir(stream)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(stream);
    return names;
}

// Trims the run's own result files in the run directory `name` below `logDirectory`,
// when it is a real directory (not a link) holding a regular lock file that no
// live run holds. True when a file was padded.
bool RepairRun(int logDirectory, const std::string& name) {
    const Descriptor run(openat(logDirectory, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    // A live run holds its directory locked as well as its lock file: a lock file
    // removed or replaced under it cannot make it look dead.
    if (run.Get() < 0 || flock(run.Get(), LOCK_EX | LOCK_NB) != 0) return false;
    // No lock file, no directory of ours: the lock is made with the directory.
    const Descriptor lock(openat(run.Get(), kRunLockFileName, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    // A held lock is a live run: its padding is where its next cells go.
    if (!IsRegularFile(lock.Get()) || flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) return false;
    bool trimmed = false;
    for (const std::string& file : EntryNames(run.Get())) {
        if (!IsRunFileName(file)) continue;
        // Neither a link nor a device or FIFO is ever opened for writing here.
        const Descriptor result(openat(run.Get(), file.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (MayTrim(result.Get())) trimmed = TrimTrailingZeros(result.Get()) || trimmed;
    }
    return trimmed;
}

// A run's hold on its directory: an flock on its lock file, and one on the
// directory itself, which no name swapped in the directory can take away.
// Blocking: a starting run's repair may hold both for a moment.
bool HoldRunDirectory(int directory, int lockFile) {
    return flock(lockFile, LOCK_EX) == 0 && flock(directory, LOCK_EX) == 0;
}

// Whether a live run holds the directory open at `directory`.
bool HeldByLiveRun(int directory) {
    const Descriptor probe(openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return probe.Get() >= 0 && flock(probe.Get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

// The folder's own name, as its parent lists it: the path a folder was reached
// by may end in a link or "..".
std::string OwnName(const HeldFolder& folder) {
    char target[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(folder.Descriptor());
    const ssize_t length = readlink(link.c_str(), target, sizeof target);
    // Without /proc, the path as given says it as far as it can.
    std::string path = length > 0 && static_cast<std::size_t>(length) < sizeof target
                           ? std::string(target, static_cast<std::size_t>(length))
                           : folder.Path();
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    // npos + 1 is 0: a name without a slash is all name.
    return path.substr(path.rfind('/') + 1);
}

}  // namespace

std::string NextStamp(const std::string& stamp) {
    if (stamp.size() != kStampLength || !std::all_of(stamp.begin(), stamp.end(), ::isdigit)) return {};
    const auto field = [&](std::size_t at) { return std::stoi(stamp.substr(at, 2)); };
    // The stamp is local time, but only its calendar arithmetic matters here: as
    // UTC no daylight-saving gap can swallow or repeat a second.
    std::tm calendar{};
    calendar.tm_year = 100 + field(0);
    calendar.tm_mon = field(2) - 1;
    calendar.tm_mday = field(4);
    calendar.tm_hour = field(6);
    calendar.tm_min = field(8);
    calendar.tm_sec = field(10) + 1;
    const std::time_t next = timegm(&calendar);
    std::tm normalised{};
    gmtime_r(&next, &normalised);
    char text[16];
    if (std::strftime(text, sizeof text, "%y%m%d%H%M%S", &normalised) != kStampLength) return {};
    return text;
}

std::optional<LogDirectory> CreateLogDirectory(const std::string& logDirectory, bool withParents, bool& refused,
                                               const std::string& hint) {
    CreatedDirectories made;
    std::string problem;
    std::optional<HeldFolder> folder = HeldFolder::Make(logDirectory, withParents, made, problem);
    refused = !folder && problem == kOthersLink;
    if (folder) return LogDirectory{.folder = std::move(*folder), .created = std::move(made)};
    ReportFailure(logDirectory, problem, hint);
    return std::nullopt;
}

std::optional<HeldFolder> OpenLogDirectory(const std::string& logDirectory, const std::string& hint) {
    std::string problem;
    std::optional<HeldFolder> logs = HeldFolder::Open(logDirectory, problem);
    if (!logs) ReportFailure(logDirectory, problem, hint);
    return logs;
}

RunDirectory::~RunDirectory() {
    if (lockDescriptor >= 0) close(lockDescriptor);
}

bool RunDirectory::Claim(const std::string& preferred, const std::string& hint) {
    const std::string trimmed = preferred.back() == '/' ? preferred.substr(0, preferred.size() - 1) : preferred;
    const std::size_t slash = trimmed.rfind('/');
    const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : trimmed.substr(0, slash);
    const std::optional<HeldFolder> logs = OpenLogDirectory(parent, hint);
    return logs && Claim(*logs, slash == std::string::npos ? trimmed : trimmed.substr(slash + 1), hint);
}

bool RunDirectory::Claim(const HeldFolder& logs, const std::string& name, const std::string& hint) {
    const std::string& logPath = logs.Path();
    const std::string prefix = logPath.empty() || logPath.back() == '/' ? logPath : logPath + "/";
    std::string candidate = name;
    for (int attempt = 0;; ++attempt) {
        if (mkdirat(logs.Descriptor(), candidate.c_str(), kFolderMode) == 0) break;
        const int error = errno;
        // A directory of that name belongs to another run; anything else is ours to report.
        struct stat status {};
        const bool taken = error == EEXIST && fstatat(logs.Descriptor(), candidate.c_str(), &status, 0) == 0 &&
                           S_ISDIR(status.st_mode);
        const std::string next =
            candidate.size() < kStampLength ? "" : NextStamp(candidate.substr(candidate.size() - kStampLength));
        if (!taken || next.empty() || attempt + 1 == kMaxStampAttempts) {
            const bool dangling = error == EEXIST && fstatat(logs.Descriptor(), candidate.c_str(), &status, 0) != 0;
            ReportFailure(prefix + candidate + "/",
                          dangling ? (errno == ENOENT ? "a symbolic link to nothing" : std::strerror(errno))
                                   : std::strerror(error),
                          hint);
            return false;
        }
        candidate.replace(candidate.size() - kStampLength, kStampLength, next);
    }
    path = prefix + candidate + "/";
    std::string problem;
    // Never through a link: the name was made a moment ago, by this run.
    folder = logs.OpenChild(candidate, problem);
    // The directory is brand new, so nothing may already stand at the lock's name.
    if (folder)
        lockDescriptor =
            openat(folder->Descriptor(), kRunLockFileName, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (lockDescriptor < 0 || !HoldRunDirectory(folder->Descriptor(), lockDescriptor)) {
        std::printf("Cannot lock the run directory %s%s: %s\n", SLib::EscapedControls(path).c_str(), kRunLockFileName,
                    folder ? std::strerror(errno) : problem.c_str());
        std::fflush(stdout);
        if (lockDescriptor >= 0) {
            close(lockDescriptor);
            lockDescriptor = -1;
            (void)unlinkat(folder->Descriptor(), kRunLockFileName, 0);
        }
        folder.reset();
        (void)unlinkat(logs.Descriptor(), candidate.c_str(), AT_REMOVEDIR);
        path.clear();
        return false;
    }
    return true;
}

bool IsRunFileName(const std::string& name) {
    if (name == kRunConditionsFileName) return true;
    for (const RunFileKindFacts& kind : kRunFileKinds) {
        const std::string start = kind.prefix;
        if (name.size() <= start.size() + 4 || name.compare(0, start.size(), start) != 0 ||
            name.compare(name.size() - 4, 4, ".csv") != 0)
            continue;
        const std::string series = name.substr(start.size(), name.size() - start.size() - 4);
        for (const std::string& type : DataTypeNames()) {
            if (series == type) return true;
            for (const Distribution distribution : AllDistributions()) {
                if (series == type + "_" + DistributionName(distribution)) return true;
            }
        }
    }
    return false;
}

std::vector<std::string> RepairInterruptedRuns(const std::string& logDirectory) {
    std::string problem;
    const std::optional<HeldFolder> logs = HeldFolder::Open(logDirectory, problem);
    if (!logs) return {};
    return RepairInterruptedRuns(*logs);
}

std::vector<std::string> RepairInterruptedRuns(const HeldFolder& logs) {
    std::vector<std::string> repaired;
    const std::string& logDirectory = logs.Path();
    const std::string parent = logDirectory.back() == '/' ? logDirectory : logDirectory + "/";
    for (const std::string& name : EntryNames(logs.Descriptor())) {
        if (IsRunDirectoryName(name) && RepairRun(logs.Descriptor(), name)) repaired.push_back(parent + name + "/");
    }
    std::sort(repaired.begin(), repaired.end());
    return repaired;
}

bool IsRunDirectory(const HeldFolder& folder) {
    struct stat entry {};
    const int at = folder.Descriptor();
    if (fstatat(at, kRunLockFileName, &entry, AT_SYMLINK_NOFOLLOW) != 0 &&
        fstatat(at, kManifestFileName, &entry, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    return IsRunDirectoryName(OwnName(folder)) || HeldByLiveRun(at);
}
