#include "driver/output/ReplacedFile.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "strings/EscapedText.h"

namespace {

// Room for a temporary file's path: a target path of up to PATH_MAX and a suffix.
constexpr std::size_t kTempNameCapacity = 4096 + 64;

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
    const int length =
        std::snprintf(name, sizeof name, "sortbench-output-%016llx", static_cast<unsigned long long>(hash));
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

ReplacedFile::ReplacedFile(const std::string& outputPath) : path(outputPath) {
    std::string problem;
    target = ResolveTarget(outputPath, problem);
    // A link that leads nowhere now is named as given, so Replace reports it.
    if (target.empty()) target = outputPath;
    tempPrefix = TempPrefixFor(target);
}

std::string ReplacedFile::TryReplace(const std::string& data) const {
    int error = 0;
    {
        const InterruptionsHeld held;
        error = StoreFile(tempPrefix, target.c_str(), data.data(), data.size());
    }
    return error == 0 ? std::string() : ProblemText(error);
}

bool ReplacedFile::Replace(const std::string& data) const {
    const std::string problem = TryReplace(data);
    if (problem.empty()) return true;
    std::printf("Cannot write %s: %s\n", SLib::EscapedControls(path).c_str(), problem.c_str());
    std::fflush(stdout);
    return false;
}

void ReplacedFile::ReplaceFromSignalHandler(const char* data, std::size_t size) const {
    const int savedErrno = errno;
    (void)StoreFile(tempPrefix, target.c_str(), data, size);
    errno = savedErrno;
}

bool ReplacedFile::CanReplace(const std::string& outputPath) {
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
