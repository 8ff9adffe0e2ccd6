#include "driver/output/ReplacedFile.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <utility>

#include "strings/EscapedText.h"

namespace {

// Room for a temporary file's name: a target name of up to NAME_MAX and a suffix.
constexpr std::size_t kTempNameCapacity = 256 + 64;

// A target that exists but is no regular file: rename would put the document in
// place of a device, a FIFO, a socket or a link, which is never ours to replace.
constexpr int kNotRegularFile = -1;
// A trusted link at the path leads to nothing.
constexpr int kLinkToNothing = -2;

// Why a document cannot take the place of `name` in `folder` as it is now (never
// following a link), or 0: nothing there, or a regular file (then in `existing`).
// Async-signal-safe.
int TargetProblem(int folder, const char* name, bool throughLink, struct stat& existing, bool& exists) {
    exists = fstatat(folder, name, &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists) return errno != ENOENT ? errno : throughLink ? kLinkToNothing : 0;
    if (S_ISDIR(existing.st_mode)) return EISDIR;
    return S_ISREG(existing.st_mode) ? 0 : kNotRegularFile;
}

std::string ProblemText(int problem) {
    if (problem == kNotRegularFile) return "not a regular file";
    if (problem == kLinkToNothing) return "a symbolic link to nothing";
    return std::strerror(problem);
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

// Creates a temporary file "<prefix><pid>.<n>.tmp" in `folder` that did not
// exist before: exclusively, never through a link, so a name planted by another
// user is never opened. Returns the descriptor, or -1 with errno set; `name`
// holds the name. Async-signal-safe.
int CreateTemporary(int folder, const std::string& prefix, char (&name)[kTempNameCapacity], mode_t mode) {
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
        const int fd = openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

// A write lock on the whole file open at `fd`, without waiting. Async-signal-safe.
bool LockForWriting(int fd) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    return fcntl(fd, F_SETLK, &lock) == 0;
}

// Where a store goes and what it hands on.
struct Store {
    int folder;
    const char* name;
    bool throughLink;
    const std::string& tempPrefix;
    int& claim;  // a descriptor holding the target's write lock, or -1
    bool& placeholder;
};

// 0, or the errno (kNotRegularFile, kLinkToNothing) of the step that failed.
// The document goes to a fresh temporary file beside the target, with the
// target's permissions and owner when it exists, and is renamed over it; a
// claim moves to the new file. Async-signal-safe.
int StoreFile(const Store& store, const char* data, std::size_t size) {
    struct stat existing {};
    bool exists = false;
    if (const int problem = TargetProblem(store.folder, store.name, store.throughLink, existing, exists); problem != 0)
        return problem;
    char tempName[kTempNameCapacity];
    // Until it holds the target's permissions, the copy is readable by its owner
    // only; a new file is never writable by others, whatever the umask.
    const int fd = CreateTemporary(store.folder, store.tempPrefix, tempName, exists ? 0600 : 0644);
    if (fd < 0) return errno;
    int error = 0;
    if (exists) {
        if (fchmod(fd, existing.st_mode & 07777) != 0) error = errno;
        // Only root can give the file back to its owner; anyone else keeps it as theirs.
        if (geteuid() == 0) (void)!fchown(fd, existing.st_uid, existing.st_gid);
    }
    // The new file is locked before it takes the target's name, so the claim never lapses.
    if (store.claim >= 0 && !LockForWriting(fd)) error = errno;
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
    if (error == 0 && renameat(store.folder, tempName, store.folder, store.name) != 0) error = errno;
    if (error != 0) (void)unlinkat(store.folder, tempName, 0);
    if (error == 0 && store.claim >= 0) {
        // The replaced file's lock goes with its last descriptor.
        close(store.claim);
        store.claim = fd;
        store.placeholder = false;
        return 0;
    }
    // Linux releases the descriptor even when close reports EINTR.
    if (close(fd) != 0 && error == 0 && errno != EINTR) error = errno;
    if (error == 0) store.placeholder = false;
    return error;
}

// Why rename could not replace an existing `name` that another user owns in a
// sticky folder such as /tmp, or empty.
std::string StickyProblem(int folder, const char* name) {
    if (geteuid() == 0) return {};
    struct stat file {};
    if (fstatat(folder, name, &file, AT_SYMLINK_NOFOLLOW) != 0 || file.st_uid == geteuid()) return {};
    struct stat parent {};
    if (fstat(folder, &parent) != 0 || (parent.st_mode & S_ISVTX) == 0 || parent.st_uid == geteuid()) return {};
    return std::strerror(EPERM);
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

// Whether `fd` is still the file `name` in `folder`: nothing replaced it meanwhile.
bool StillNamed(int folder, const char* name, int fd) {
    struct stat named {};
    struct stat held {};
    return fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && fstat(fd, &held) == 0 &&
           named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

}  // namespace

ReplacedFile::ReplacedFile(const std::string& outputPath) : path(outputPath) {
    if (std::optional<ResolvedFile> resolved = ResolveFilePath(outputPath, problem)) {
        folder = std::move(resolved->folder);
        name = std::move(resolved->name);
        throughLink = resolved->throughLink;
        tempPrefix = "." + name + ".";
    }
}

ReplacedFile::ReplacedFile(const HeldFolder& held, const std::string& fileName, std::string shownPath)
    : path(std::move(shownPath)), name(fileName), tempPrefix("." + name + ".") {
    folder = held.OpenChild("", problem);
}

ReplacedFile::ReplacedFile(ReplacedFile&& other) noexcept
    : path(std::move(other.path)),
      folder(std::move(other.folder)),
      name(std::move(other.name)),
      tempPrefix(std::move(other.tempPrefix)),
      problem(std::move(other.problem)),
      throughLink(other.throughLink),
      claimDescriptor(std::exchange(other.claimDescriptor, -1)),
      placeholder(std::exchange(other.placeholder, false)) {
    other.folder.reset();
}

ReplacedFile::~ReplacedFile() {
    if (claimDescriptor < 0) return;
    DropPlaceholderFromSignalHandler();
    close(claimDescriptor);
}

void ReplacedFile::DropPlaceholderFromSignalHandler() const {
    if (!placeholder || !folder || claimDescriptor < 0) return;
    const int savedErrno = errno;
    struct stat held {};
    if (StillNamed(folder->Descriptor(), name.c_str(), claimDescriptor) && fstat(claimDescriptor, &held) == 0 &&
        held.st_size == 0)
        (void)unlinkat(folder->Descriptor(), name.c_str(), 0);
    placeholder = false;
    errno = savedErrno;
}

std::string ReplacedFile::TryReplace(const std::string& data) const {
    if (!folder) return problem;
    int error = 0;
    {
        const InterruptionsHeld held;
        error = StoreFile({folder->Descriptor(), name.c_str(), throughLink, tempPrefix, claimDescriptor, placeholder},
                          data.data(), data.size());
    }
    return error == 0 ? std::string() : ProblemText(error);
}

bool ReplacedFile::Replace(const std::string& data) const {
    const std::string why = TryReplace(data);
    if (why.empty()) return true;
    std::printf("Cannot write %s: %s\n", SLib::EscapedControls(path).c_str(), why.c_str());
    std::fflush(stdout);
    return false;
}

void ReplacedFile::ReplaceFromSignalHandler(const char* data, std::size_t size) const {
    if (!folder) return;
    const int savedErrno = errno;
    (void)StoreFile({folder->Descriptor(), name.c_str(), throughLink, tempPrefix, claimDescriptor, placeholder}, data,
                    size);
    errno = savedErrno;
}

std::string ReplacedFile::StoreProblem() const {
    if (!folder) return problem;
    const int at = folder->Descriptor();
    struct stat existing {};
    bool exists = false;
    if (const int error = TargetProblem(at, name.c_str(), throughLink, existing, exists); error != 0)
        return ProblemText(error);
    if (exists && RefusedHardLink(existing)) return kOthersHardLink;
    // Rename needs no right to the file itself, but a file its owner made
    // read-only is not ours to replace.
    if (exists && faccessat(at, name.c_str(), W_OK, AT_EACCESS) != 0) return std::strerror(errno);
    char probe[kTempNameCapacity];
    const int fd = CreateTemporary(at, tempPrefix, probe, 0600);
    if (fd < 0) return std::strerror(errno);
    close(fd);
    unlinkat(at, probe, 0);
    return StickyProblem(at, name.c_str());
}

bool ReplacedFile::TakeClaim() {
    const int at = folder->Descriptor();
    int fd = openat(at, name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        fd = openat(at, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        placeholder = fd >= 0;
    }
    // A file that cannot be opened for the lock was refused by StoreProblem already,
    // or changed since: the store itself will say what it is.
    if (fd < 0) return true;
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || !LockForWriting(fd)) {
        const bool held = S_ISREG(status.st_mode) && (errno == EAGAIN || errno == EACCES);
        if (placeholder) (void)unlinkat(at, name.c_str(), 0);
        placeholder = false;
        close(fd);
        return !held;
    }
    claimDescriptor = fd;
    return true;
}

std::optional<ReplacedFile> ReplacedFile::Claim(const std::string& outputPath) {
    std::optional<ReplacedFile> file;
    std::string why;
    {
        const InterruptionsHeld held;
        file.emplace(outputPath);
        why = file->StoreProblem();
        if (why.empty() && !file->TakeClaim()) why = "another running sortbench writes its results there";
    }
    if (why.empty()) return file;
    std::fprintf(stderr, "Cannot write %s: %s\n", SLib::EscapedControls(outputPath).c_str(), why.c_str());
    return std::nullopt;
}
