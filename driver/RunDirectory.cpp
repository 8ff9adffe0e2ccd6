#include "driver/RunDirectory.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace {

// How far past its start stamp a run looks for a free name: runs that start in
// the same second take the following seconds.
constexpr int kMaxStampAttempts = 1000;

constexpr std::size_t kStampLength = 12;

bool IsDirectory(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool MakeDirectory(const std::string& path, bool withParents) {
    if (IsDirectory(path)) return true;
    if (withParents && path.size() > 1) {
        const size_t slash = path.find_last_of('/', path.size() - 2);
        if (slash != std::string::npos && slash > 0 && !MakeDirectory(path.substr(0, slash + 1), true)) return false;
    }
    // Default permissions: 0777 less the umask. A racing creator is as good as ours.
    return mkdir(path.c_str(), 0777) == 0 || IsDirectory(path);
}

void ReportFailure(const std::string& path, const std::string& hint) {
    std::printf("Failed to create directory: %s%s\n", path.c_str(), hint.c_str());
    std::fflush(stdout);
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

int OpenLockFile(const std::string& directory) {
    return open((directory + kRunLockFileName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
}

// Cuts `path` back to its last non-zero byte; true when it was padded.
bool TrimTrailingZeros(const std::string& path) {
    const Descriptor file(open(path.c_str(), O_RDWR | O_CLOEXEC));
    struct stat status {};
    if (file.Get() < 0 || fstat(file.Get(), &status) != 0 || status.st_size == 0) return false;
    off_t end = status.st_size;
    char block[65536];
    while (end > 0) {
        const off_t start = std::max<off_t>(0, end - static_cast<off_t>(sizeof block));
        const ssize_t got = pread(file.Get(), block, static_cast<std::size_t>(end - start), start);
        if (got != end - start) return false;
        const char* last = block + got;
        while (last > block && last[-1] == '\0') --last;
        if (last > block) {
            end = start + (last - block);
            break;
        }
        end = start;
    }
    return end < status.st_size && ftruncate(file.Get(), end) == 0;
}

// "cpu_" or "cpu_gpu_", then a 12-digit stamp.
bool IsRunDirectoryName(const std::string& name) {
    const std::size_t prefix = name.rfind("cpu_gpu_", 0) == 0 ? 8 : name.rfind("cpu_", 0) == 0 ? 4 : 0;
    return prefix != 0 && name.size() == prefix + kStampLength &&
           std::all_of(name.begin() + static_cast<long>(prefix), name.end(), ::isdigit);
}

bool IsResultFile(const std::filesystem::directory_entry& entry) {
    std::error_code error;
    const auto extension = entry.path().extension();
    return entry.is_regular_file(error) && (extension == ".csv" || extension == ".txt");
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

bool CreateLogDirectory(const std::string& logDirectory, bool withParents, const std::string& hint) {
    if (MakeDirectory(logDirectory, withParents)) return true;
    ReportFailure(logDirectory, hint);
    return false;
}

RunDirectory::~RunDirectory() {
    if (lockDescriptor >= 0) close(lockDescriptor);
}

bool RunDirectory::Claim(const std::string& preferred, const std::string& hint) {
    std::string candidate = preferred.back() == '/' ? preferred.substr(0, preferred.size() - 1) : preferred;
    for (int attempt = 0;; ++attempt) {
        if (mkdir(candidate.c_str(), 0777) == 0) break;
        // A directory of that name belongs to another run; anything else is ours to report.
        const bool taken = errno == EEXIST && IsDirectory(candidate);
        const std::string next =
            candidate.size() < kStampLength ? "" : NextStamp(candidate.substr(candidate.size() - kStampLength));
        if (!taken || next.empty() || attempt + 1 == kMaxStampAttempts) {
            ReportFailure(candidate + "/", hint);
            return false;
        }
        candidate.replace(candidate.size() - kStampLength, kStampLength, next);
    }
    path = candidate + "/";
    lockDescriptor = OpenLockFile(path);
    // Blocking: a starting run's repair may hold the lock for a moment.
    if (lockDescriptor < 0 || flock(lockDescriptor, LOCK_EX) != 0) {
        std::printf("Cannot lock the run directory %s%s: %s\n", path.c_str(), kRunLockFileName, std::strerror(errno));
        std::fflush(stdout);
        return false;
    }
    return true;
}

std::vector<std::string> RepairInterruptedRuns(const std::string& logDirectory) {
    std::vector<std::string> repaired;
    std::error_code error;
    for (const auto& run : std::filesystem::directory_iterator(logDirectory, error)) {
        if (!run.is_directory(error) || !IsRunDirectoryName(run.path().filename().string())) continue;
        const std::string directory = run.path().string() + "/";
        const Descriptor lock(OpenLockFile(directory));
        // A held lock is a live run: its padding is where its next cells go.
        if (lock.Get() < 0 || flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) continue;
        bool trimmed = false;
        for (const auto& file : std::filesystem::directory_iterator(directory, error)) {
            if (IsResultFile(file)) trimmed = TrimTrailingZeros(file.path().string()) || trimmed;
        }
        if (trimmed) repaired.push_back(directory);
    }
    std::sort(repaired.begin(), repaired.end());
    return repaired;
}
