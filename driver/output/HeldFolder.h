#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

// A folder resolved once and held open, so that every file the run reads or
// writes there is reached through the descriptor: renaming the folder, or
// swapping it or one of its parents for a link while the run lives, redirects
// nothing.
//
// Paths are resolved one name at a time. A symbolic link on the way is followed
// only when its owner is the running user or root (the rule the kernel's
// protected_symlinks applies in sticky folders, applied everywhere): another
// user's link could otherwise steer a root run to any file.

// The refusal of a link by the owner rule, as `problem` gives it.
inline constexpr const char* kOthersLink = "a symbolic link owned by another user";
// The refusal of a file by the hard-link rule (RefusedHardLink).
inline constexpr const char* kOthersHardLink = "a hard link to a file owned by another user";

// The owner rule: a link is followed only when `owner` is the running user or root.
bool TrustedOwner(uid_t owner);

// The hard-link rule, the owner rule's counterpart for hard links, which the
// program applies itself rather than rely on the kernel's protected_hardlinks:
// where that is off, anyone may link a file they do not own into a folder they
// control. A regular file with more than one link whose owner is neither the
// running user nor root is refused, for reading as for writing. A file changed
// in place (the repair's trim) is refused whenever it has a second link,
// whoever owns it: root's files and the running user's can be linked by anyone
// too, and a run's own files never have a second name.
bool RefusedHardLink(const struct stat& status, bool changedInPlace = false);

// Folders are made readable and enterable by all, writable by their owner
// alone: a folder others could write to would let them plant names in it. The
// umask can only take bits away, so no umask makes one world-writable.
inline constexpr mode_t kFolderMode = 0755;

// The folders HeldFolder::Make made, innermost last, each with the held folder
// it was made in. Unless told the run got its directory (Keep), the owner
// removes them again, innermost first, through those held folders and only
// while empty and still the folder it made: a folder renamed away or swapped
// meanwhile is never reached by its path.
class CreatedDirectories {
public:
    CreatedDirectories() = default;
    CreatedDirectories(CreatedDirectories&& other) noexcept : made(std::move(other.made)) { other.made.clear(); }
    CreatedDirectories& operator=(CreatedDirectories&&) = delete;
    ~CreatedDirectories();

    // Records `name`, just made in the folder open at `parent` (duplicated here).
    void Add(int parent, const std::string& name);
    void Keep();

private:
    struct Made {
        int parent;
        std::string name;
        dev_t device;
        ino_t inode;
    };
    std::vector<Made> made;
};

class HeldFolder {
public:
    HeldFolder(const HeldFolder&) = delete;
    HeldFolder& operator=(const HeldFolder&) = delete;
    HeldFolder(HeldFolder&& other) noexcept;
    HeldFolder& operator=(HeldFolder&& other) noexcept;
    ~HeldFolder();

    // The folder at `path` (absolute, or relative to the working folder), or
    // nothing with the reason in `problem`: strerror's text, or "a symbolic
    // link owned by another user".
    static std::optional<HeldFolder> Open(const std::string& path, std::string& problem);

    // The folder at `path` as Open finds it, made first where missing (kFolderMode),
    // one name at a time in the held folder before it, with the owner rule
    // applied before each step: nothing is made beyond a link the rule refuses.
    // Only the last name is made unless `withParents`; a name a trusted link
    // leads to is never made ("a symbolic link to nothing"). Every folder it
    // makes goes to `made`, also when it fails afterwards (`made` then removes them).
    static std::optional<HeldFolder> Make(const std::string& path, bool withParents, CreatedDirectories& made,
                                          std::string& problem);

    // The folder `name` inside this one, never through a link; with an empty
    // name, this folder again (a descriptor of its own).
    std::optional<HeldFolder> OpenChild(const std::string& name, std::string& problem) const;

    int Descriptor() const { return descriptor; }
    // The path as the user named it, for messages.
    const std::string& Path() const { return shownPath; }
    // A path prefix ("/proc/self/fd/N/") that the kernel resolves through the
    // held descriptor, for code that can only open by path; empty where /proc
    // does not lead to the held folder, and the caller then opens by Path().
    std::string ReachedPath() const;

private:
    friend std::optional<struct ResolvedFile> ResolveFilePath(const std::string& path, std::string& problem);
    HeldFolder(int descriptor, std::string shownPath) : descriptor(descriptor), shownPath(std::move(shownPath)) {}

    int descriptor = -1;
    std::string shownPath;
};

// Where a file path leads: the held folder it ends in and the name there, with
// the trusted links on the way, the last name's included, followed.
struct ResolvedFile {
    HeldFolder folder;
    std::string name;
    bool throughLink;  // the last name was a link: nothing at its end is "a symbolic link to nothing"
};

// Resolves `path` to its folder and final name under the owner rule above.
// Nothing, with the reason in `problem`, when a folder on the way is missing or
// not a folder, a link is another user's, or the links loop.
std::optional<ResolvedFile> ResolveFilePath(const std::string& path, std::string& problem);
