#include "driver/output/ReplacedFile.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

#include "driver/output/RunDirectory.h"
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

// The claim is a write lock on this one byte, the last but one a lock can name
// (the kernel reports a lock that reaches the very last as one to the end of the
// file): no other program locks it alone, so a write lock found exactly there is
// a sortbench's claim, and any other lock in the way is someone else's, which
// the refusal names as such. A write lock needs the right to write the file, so
// nobody who may not write it can claim it.
constexpr off_t kClaimByte = std::numeric_limits<off_t>::max() - 1;

struct flock ClaimLock() {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = kClaimByte;
    lock.l_len = 1;
    return lock;
}

// Takes the claim on the file open at `fd`, without waiting. An open file
// description's lock: closing another descriptor of the file never drops it.
// Async-signal-safe.
bool LockForWriting(int fd) {
    struct flock lock = ClaimLock();
    return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// Who holds the lock that kept the claim from the file open at `fd`.
std::string ClaimHolder(int fd) {
    struct flock lock = ClaimLock();
    if (fcntl(fd, F_OFD_GETLK, &lock) != 0 || lock.l_type == F_UNLCK) return "another process held a lock on it";
    if (lock.l_type == F_WRLCK && lock.l_start == kClaimByte && lock.l_len == 1)
        return "another running sortbench writes its results there";
    const std::string kind = lock.l_type == F_RDLCK ? "a read lock" : "a write lock";
    // Locks of open file descriptions have no process (-1).
    const std::string holder = lock.l_pid > 0 ? "process " + std::to_string(lock.l_pid) : "another process";
    return holder + " holds " + kind + " on it";
}

// An empty placeholder a claim made (or took over), for the interruption
// handler to remove: only plain data and a lock-free atomic, so a handler may
// read it.
struct PlaceholderSlot {
    std::atomic<int> claim{-1};  // the claim's descriptor while the placeholder stands, else -1
    int folder = -1;
    char name[NAME_MAX + 1] = {};
};
PlaceholderSlot registeredPlaceholder;
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler may only read lock-free atomics");

// Removes `name` in `folder` when it is still the empty file held at `claim`:
// nothing replaced it meanwhile. Async-signal-safe; errno is kept.
void RemovePlaceholder(int folder, const char* name, int claim) {
    const int savedErrno = errno;
    struct stat named {};
    struct stat held {};
    if (fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && fstat(claim, &held) == 0 &&
        named.st_dev == held.st_dev && named.st_ino == held.st_ino && held.st_size == 0)
        (void)unlinkat(folder, name, 0);
    errno = savedErrno;
}

// Forgets the placeholder held at `claim`, if it is the registered one.
void ForgetPlaceholder(int claim) {
    int expected = claim;
    (void)registeredPlaceholder.claim.compare_exchange_strong(expected, -1);
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

// Whether the path's last name is empty or ".": "x.json/" names a folder, though
// resolving it one name at a time would end at "x.json".
bool NamesFolder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return path == ".";
    const std::string_view last = std::string_view(path).substr(slash + 1);
    return last.empty() || last == ".";
}

}  // namespace

ReplacedFile::ReplacedFile(const std::string& outputPath) : path(outputPath) {
    std::optional<ResolvedFile> resolved = ResolveFilePath(outputPath, problem);
    if (resolved && NamesFolder(outputPath)) {
        // As open(2) says it of such a path: a file there is no folder; otherwise
        // the path asks for one.
        struct stat status {};
        const bool file =
            fstatat(resolved->folder.Descriptor(), resolved->name.c_str(), &status, 0) == 0 && !S_ISDIR(status.st_mode);
        problem = std::strerror(file ? ENOTDIR : EISDIR);
        resolved.reset();
    }
    if (resolved) {
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
    const InterruptionsHeld held;
    ForgetPlaceholder(claimDescriptor);
    if (placeholder && folder) RemovePlaceholder(folder->Descriptor(), name.c_str(), claimDescriptor);
    close(claimDescriptor);
}

void ReplacedFile::DropPlaceholderFromSignalHandler() {
    const int claim = registeredPlaceholder.claim.exchange(-1);
    if (claim >= 0) RemovePlaceholder(registeredPlaceholder.folder, registeredPlaceholder.name, claim);
}

std::string ReplacedFile::TryReplace(const std::string& data) const {
    if (!folder) return problem;
    int error = 0;
    {
        const InterruptionsHeld held;
        const int claim = claimDescriptor;
        error = StoreFile({folder->Descriptor(), name.c_str(), throughLink, tempPrefix, claimDescriptor, placeholder},
                          data.data(), data.size());
        if (!placeholder) ForgetPlaceholder(claim);
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
    const int claim = claimDescriptor;
    (void)StoreFile({folder->Descriptor(), name.c_str(), throughLink, tempPrefix, claimDescriptor, placeholder}, data,
                    size);
    if (!placeholder) ForgetPlaceholder(claim);
    errno = savedErrno;
}

std::string ReplacedFile::StoreProblem() const {
    if (!folder) return problem;
    const int at = folder->Descriptor();
    struct stat existing {};
    bool exists = false;
    if (const int error = TargetProblem(at, name.c_str(), throughLink, existing, exists); error != 0)
        return ProblemText(error);
    // Its files are the run's own, whether it lives or not; even the probe below
    // stays out of it.
    if (IsRunDirectory(*folder)) return "inside a sortbench run directory";
    if (exists && RefusedHardLink(existing)) return kOthersHardLink;
    // Rename needs no right to the file itself, but a file its owner made
    // read-only is not ours to replace: the mode says so even to root, whom
    // access() lets write anything.
    if (exists && (existing.st_mode & 0222) == 0) return std::strerror(EACCES);
    if (exists && faccessat(at, name.c_str(), W_OK, AT_EACCESS) != 0) return std::strerror(errno);
    char probe[kTempNameCapacity];
    const int fd = CreateTemporary(at, tempPrefix, probe, 0600);
    if (fd < 0) return std::strerror(errno);
    close(fd);
    unlinkat(at, probe, 0);
    return StickyProblem(at, name.c_str());
}

std::string ReplacedFile::TakeClaim() {
    const int at = folder->Descriptor();
    bool made = false;
    int fd = openat(at, name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        fd = openat(at, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        made = fd >= 0;
    }
    // A file that cannot be opened for the lock was refused by StoreProblem already,
    // or changed since: the store itself will say what it is.
    if (fd < 0) return {};
    struct stat status {};
    const bool regular = fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    const bool locked = regular && LockForWriting(fd);
    if (!locked) {
        // Where the file system takes no locks at all, the run goes on unclaimed, as it must.
        const std::string holder = regular && (errno == EAGAIN || errno == EACCES) ? ClaimHolder(fd) : std::string();
        if (made) (void)unlinkat(at, name.c_str(), 0);
        close(fd);
        return holder;
    }
    claimDescriptor = fd;
    // An empty file of ours that nobody holds is the placeholder of a run that was
    // killed: this run takes it over, to remove it as its own.
    placeholder = made || (status.st_size == 0 && status.st_uid == geteuid() && status.st_nlink == 1);
    if (placeholder && name.size() < sizeof registeredPlaceholder.name) {
        registeredPlaceholder.claim.store(-1);
        registeredPlaceholder.folder = at;
        std::copy(name.begin(), name.end(), registeredPlaceholder.name);
        registeredPlaceholder.name[name.size()] = '\0';
        registeredPlaceholder.claim.store(fd);
    }
    return {};
}

std::optional<ReplacedFile> ReplacedFile::Claim(const std::string& outputPath) {
    std::optional<ReplacedFile> file;
    std::string why;
    {
        // The placeholder is made and registered for the interruption handler
        // before any signal can end the process.
        const InterruptionsHeld held;
        file.emplace(outputPath);
        why = file->StoreProblem();
        if (why.empty()) why = file->TakeClaim();
    }
    if (why.empty()) return file;
    std::fprintf(stderr, "Cannot write %s: %s\n", SLib::EscapedControls(outputPath).c_str(), why.c_str());
    return std::nullopt;
}
