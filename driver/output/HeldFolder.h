#pragma once

#include <optional>
#include <string>

// A folder resolved once and held open, so that every file the run reads or
// writes there is reached through the descriptor: renaming the folder, or
// swapping it or one of its parents for a link while the run lives, redirects
// nothing.
//
// Paths are resolved one name at a time. A symbolic link on the way is followed
// only when its owner is the running user or root (the rule the kernel's
// protected_symlinks applies in sticky folders, applied everywhere): another
// user's link could otherwise steer a root run to any file.
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
