#include "driver/output/HeldFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <utility>
#include <vector>

namespace {

// As many links as the kernel follows in one path before it reports ELOOP.
constexpr int kMaxLinks = 40;

constexpr const char* kLinkToNothing = "a symbolic link to nothing";

// The names of `path` in order, without empty ones and ".".
std::deque<std::string> NamesOf(const std::string& path) {
    std::deque<std::string> names;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string name = path.substr(start, end - start);
        if (!name.empty() && name != ".") names.push_back(std::move(name));
        start = end + 1;
    }
    return names;
}

// An owned descriptor for the walk; -1 when empty.
class Walker {
public:
    Walker(const Walker&) = delete;
    Walker& operator=(const Walker&) = delete;
    Walker() = default;
    ~Walker() { Reset(-1); }

    void Reset(int next) {
        if (fd >= 0) close(fd);
        fd = next;
    }
    int Release() { return std::exchange(fd, -1); }
    int fd = -1;
};

bool StartAt(Walker& at, const std::string& path, std::string& problem) {
    at.Reset(open(!path.empty() && path[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (at.fd < 0) problem = std::strerror(errno);
    return at.fd >= 0;
}

// Reads the link `name` in the folder `at` and puts its names before `names`;
// an absolute link starts again at the root.
bool FollowLink(Walker& at, const std::string& name, std::deque<std::string>& names, std::string& problem) {
    std::vector<char> target(4096);
    const ssize_t length = readlinkat(at.fd, name.c_str(), target.data(), target.size());
    if (length < 0 || static_cast<std::size_t>(length) >= target.size()) {
        problem = std::strerror(length < 0 ? errno : ENAMETOOLONG);
        return false;
    }
    const std::string text(target.data(), static_cast<std::size_t>(length));
    std::deque<std::string> linked = NamesOf(text);
    names.insert(names.begin(), linked.begin(), linked.end());
    return text[0] != '/' || StartAt(at, text, problem);
}

// Makes the folder `name` in the folder `at`. One a racing creator made is as
// good as ours, but not ours to remove.
bool MakeFolder(int at, const std::string& name, bool linked, CreatedDirectories& made, std::string& problem) {
    // Where a trusted link leads is its owner's to make; a link to nothing stays one.
    if (linked) {
        problem = kLinkToNothing;
        return false;
    }
    if (mkdirat(at, name.c_str(), kFolderMode) == 0) {
        made.Add(at, name);
        return true;
    }
    if (errno == EEXIST) return true;
    problem = std::strerror(errno);
    return false;
}

// How Walk treats missing folders: left missing, or made (into `made`), the
// last name only or every one.
struct Making {
    CreatedDirectories* made = nullptr;
    bool withParents = false;
};

// Walks `path` to the folder holding its last name, following trusted links
// (the last name's too, when `followLast`) and making missing folders as
// `making` says. On success `at` holds that folder and `last` the name ("" for
// the root itself).
bool Walk(const std::string& path, bool followLast, Walker& at, std::string& last, bool& throughLink,
          std::string& problem, const Making& making = {}) {
    // The kernel would refuse it whole; made one name at a time it would not be.
    if (path.size() >= PATH_MAX) {
        problem = std::strerror(ENAMETOOLONG);
        return false;
    }
    if (!StartAt(at, path, problem)) return false;
    std::deque<std::string> names = NamesOf(path);
    // How many names at the front a link put there.
    std::size_t linkedNames = 0;
    throughLink = false;
    last.clear();
    int links = 0;
    while (!names.empty()) {
        std::string name = std::move(names.front());
        names.pop_front();
        const bool linked = linkedNames > 0;
        if (linked) --linkedNames;
        const bool isLast = names.empty();
        struct stat status {};
        const bool exists = fstatat(at.fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
        if (exists && S_ISLNK(status.st_mode) && (!isLast || followLast)) {
            if (!TrustedOwner(status.st_uid)) {
                problem = kOthersLink;
                return false;
            }
            if (++links > kMaxLinks) {
                problem = std::strerror(ELOOP);
                return false;
            }
            const std::size_t before = names.size();
            if (!FollowLink(at, name, names, problem)) return false;
            linkedNames += names.size() - before;
            throughLink = isLast;
            if (names.empty()) return true;  // a link to the root
            continue;
        }
        if (!exists && making.made != nullptr && (isLast || making.withParents) &&
            !MakeFolder(at.fd, name, linked, *making.made, problem))
            return false;
        if (isLast) {
            last = std::move(name);
            return true;
        }
        throughLink = false;
        const int next = openat(at.fd, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            problem = std::strerror(errno);
            return false;
        }
        at.Reset(next);
    }
    return true;
}

// `folder` opened for listing and locking, from a descriptor the walk holds.
int OpenFolder(int at, const std::string& name, std::string& problem) {
    const int fd = openat(at, name.empty() ? "." : name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) problem = std::strerror(errno);
    return fd;
}

}  // namespace

bool TrustedOwner(uid_t owner) { return owner == geteuid() || owner == 0; }

bool RefusedHardLink(const struct stat& status, bool changedInPlace) {
    if (!S_ISREG(status.st_mode) || status.st_nlink <= 1) return false;
    return changedInPlace || !TrustedOwner(status.st_uid);
}

void CreatedDirectories::Add(int parent, const std::string& name) {
    struct stat status {};
    const int held = fcntl(parent, F_DUPFD_CLOEXEC, 0);
    if (held < 0) return;
    if (fstatat(held, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        close(held);
        return;
    }
    made.push_back({.parent = held, .name = name, .device = status.st_dev, .inode = status.st_ino});
}

void CreatedDirectories::Keep() {
    for (const Made& folder : made) close(folder.parent);
    made.clear();
}

CreatedDirectories::~CreatedDirectories() {
    for (auto folder = made.rbegin(); folder != made.rend(); ++folder) {
        struct stat status {};
        // Removing takes only an empty folder: one another run has begun to fill stays.
        if (fstatat(folder->parent, folder->name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            status.st_dev == folder->device && status.st_ino == folder->inode)
            (void)unlinkat(folder->parent, folder->name.c_str(), AT_REMOVEDIR);
        close(folder->parent);
    }
}

HeldFolder::HeldFolder(HeldFolder&& other) noexcept
    : descriptor(std::exchange(other.descriptor, -1)), shownPath(std::move(other.shownPath)) {}

HeldFolder& HeldFolder::operator=(HeldFolder&& other) noexcept {
    if (this != &other) {
        if (descriptor >= 0) close(descriptor);
        descriptor = std::exchange(other.descriptor, -1);
        shownPath = std::move(other.shownPath);
    }
    return *this;
}

HeldFolder::~HeldFolder() {
    if (descriptor >= 0) close(descriptor);
}

std::optional<HeldFolder> HeldFolder::Open(const std::string& path, std::string& problem) {
    Walker at;
    std::string last;
    bool throughLink = false;
    if (!Walk(path, true, at, last, throughLink, problem)) return std::nullopt;
    const int fd = OpenFolder(at.fd, last, problem);
    if (fd < 0) return std::nullopt;
    return HeldFolder(fd, path);
}

std::optional<HeldFolder> HeldFolder::Make(const std::string& path, bool withParents, CreatedDirectories& made,
                                           std::string& problem) {
    Walker at;
    std::string last;
    bool throughLink = false;
    if (!Walk(path, true, at, last, throughLink, problem, {.made = &made, .withParents = withParents}))
        return std::nullopt;
    const int fd = OpenFolder(at.fd, last, problem);
    if (fd < 0) return std::nullopt;
    return HeldFolder(fd, path);
}

std::optional<HeldFolder> HeldFolder::OpenChild(const std::string& name, std::string& problem) const {
    const int fd = OpenFolder(descriptor, name, problem);
    if (fd < 0) return std::nullopt;
    if (name.empty()) return HeldFolder(fd, shownPath);
    const bool slash = !shownPath.empty() && shownPath.back() == '/';
    return HeldFolder(fd, shownPath + (slash ? "" : "/") + name);
}

std::string HeldFolder::ReachedPath() const {
    const std::string reached = "/proc/self/fd/" + std::to_string(descriptor) + "/";
    // Without /proc (a bare container) the folder is reached by its path, as before.
    struct stat through {};
    struct stat held {};
    const bool same = stat(reached.c_str(), &through) == 0 && fstat(descriptor, &held) == 0 &&
                      through.st_dev == held.st_dev && through.st_ino == held.st_ino;
    return same ? reached : std::string();
}

std::optional<ResolvedFile> ResolveFilePath(const std::string& path, std::string& problem) {
    Walker at;
    std::string last;
    bool throughLink = false;
    if (!Walk(path, true, at, last, throughLink, problem)) return std::nullopt;
    if (last.empty()) {
        problem = std::strerror(EISDIR);
        return std::nullopt;
    }
    const int fd = OpenFolder(at.fd, "", problem);
    if (fd < 0) return std::nullopt;
    // The folder is named for messages by the path as given, up to its last name.
    const std::size_t slash = path.rfind('/');
    std::string shown = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    return ResolvedFile{
        .folder = HeldFolder(fd, std::move(shown)), .name = std::move(last), .throughLink = throughLink};
}
