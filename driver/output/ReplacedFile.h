#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "driver/output/HeldFolder.h"

// A file the program replaces whole, never in place: the -JSON results and the
// run manifest. The rules are those of a program that may run as root in a
// folder others can write to:
// - the path is resolved once, when the object is made, and its folder held
//   (HeldFolder): a link on the way is followed only when its owner is the
//   running user or root, and renaming or swapping a folder afterwards
//   redirects nothing;
// - only nothing or a regular file is replaced (a link to one stays, as editors
//   keep it, and the file it leads to is replaced); never a folder, device,
//   FIFO, socket or a link that leads nowhere;
// - the bytes go to a new temporary file ".<target name>.<pid>.<n>.tmp" in the
//   target's folder, created exclusively without following links, so a name
//   planted by another user is never opened; it gets the target's permissions
//   (and, for root, its owner), is fsync'd and renamed over the target only when
//   complete;
// - on any failure no temporary file stays.
class ReplacedFile {
public:
    // `outputPath`, resolved now. A path that cannot be resolved makes every
    // Replace fail with the reason.
    explicit ReplacedFile(const std::string& outputPath);
    // `name` in a folder the run already holds; `shownPath` names it in messages.
    ReplacedFile(const HeldFolder& folder, const std::string& name, std::string shownPath);
    ReplacedFile(ReplacedFile&& other) noexcept;
    ReplacedFile& operator=(ReplacedFile&&) = delete;
    ReplacedFile(const ReplacedFile&) = delete;
    // Gives up the claim; an empty file Claim made for it and nothing replaced
    // since is removed again.
    ~ReplacedFile();

    // Stores `data` at the target. On failure prints "Cannot write <path>:
    // <reason>" on standard output and returns false. The interrupting signals
    // wait meanwhile: their handler may store again and end the process, which
    // would leave this store's temporary file behind.
    bool Replace(const std::string& data) const;
    // Replace without the line: why the store failed, or empty.
    std::string TryReplace(const std::string& data) const;
    // The path as given, for messages.
    const std::string& Path() const { return path; }
    // Replace for a signal handler: only async-signal-safe calls, no output;
    // errno is kept.
    void ReplaceFromSignalHandler(const char* data, std::size_t size) const;
    // For a signal handler that ends the run before anything was stored: the
    // empty file Claim made is removed, so the path is as the run found it.
    void DropPlaceholderFromSignalHandler() const;

    // The file at `outputPath`, when a document could be stored there: it is
    // nothing yet, a regular file the user may write or a trusted link to one, a
    // temporary file can be created beside the target (it is removed again),
    // and rename may replace the target. The target is claimed for as long as
    // the object lives, by a write lock on the file itself (an empty one is made
    // when nothing is there yet), which moves to each file that replaces it: a
    // second run given the same file, however spelled, is refused, and no other
    // user can take the claim first, since a write lock needs the right to
    // write the file. Otherwise prints "Cannot write <path>: <reason>" on
    // standard error and returns nothing. Asked before a run, so that a bad path
    // is known before hours of measuring.
    static std::optional<ReplacedFile> Claim(const std::string& outputPath);

private:
    // Why the target cannot take a document now, or empty.
    std::string StoreProblem() const;
    // Takes the claim; false when another process holds it.
    bool TakeClaim();

    std::string path;                  // as the user gave it, for messages
    std::optional<HeldFolder> folder;  // the target's folder; nothing when the path did not resolve
    std::string name;                  // the target's name in `folder`
    std::string tempPrefix;            // ".<name>.": where the temporary files' names begin
    std::string problem;               // why the path did not resolve
    bool throughLink = false;          // the path's last name was a link
    // The claim: a descriptor of the current target holding a write lock, or
    // -1. Each store hands it on to the file that replaced the target.
    mutable int claimDescriptor = -1;
    mutable bool placeholder = false;  // the target is the empty file Claim made
};
