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
    // Gives up the claim; the placeholder Claim made or took over, when nothing
    // replaced it since, is removed again.
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
    // For a signal handler that ends the run: the empty placeholder a claim made
    // or took over (Claim) and no store has replaced yet is removed, so the path
    // is as the run found it. Only async-signal-safe calls; errno is kept.
    static void DropPlaceholderFromSignalHandler();

    // The file at `outputPath`, when a document could be stored there: the path
    // names a file, not a folder ("x.json/"); it is nothing yet, a regular file
    // with a write permission bit that the user may write, or a trusted link to
    // one; its folder is no run directory (IsRunDirectory); a temporary file can
    // be created beside the target (it is removed again), and rename may replace
    // the target. The target is claimed for as long as the object lives, by an
    // open file description's write lock on one byte of the file itself (an
    // empty placeholder is made when nothing is there yet), which moves to each
    // file that replaces it: a second run given the same file, however spelled,
    // is refused, and no other user can take the claim first, since a write lock
    // needs the right to write the file. A lock of any other kind in the way is
    // named as what it is. An empty file of the user's own with one link that
    // nobody holds is taken for the placeholder of a killed run and treated as
    // this claim's. Otherwise prints "Cannot write <path>: <reason>" on standard
    // error and returns nothing. Asked before a run, so that a bad path is known
    // before hours of measuring; the interrupting signals wait meanwhile, so
    // that the handler knows the placeholder as soon as it exists.
    static std::optional<ReplacedFile> Claim(const std::string& outputPath);

private:
    // Why the target cannot take a document now, or empty.
    std::string StoreProblem() const;
    // Takes the claim; empty, or why another process keeps it from the run.
    std::string TakeClaim();

    std::string path;                  // as the user gave it, for messages
    std::optional<HeldFolder> folder;  // the target's folder; nothing when the path did not resolve
    std::string name;                  // the target's name in `folder`
    std::string tempPrefix;            // ".<name>.": where the temporary files' names begin
    std::string problem;               // why the path did not resolve
    bool throughLink = false;          // the path's last name was a link
    // The claim: a descriptor of the current target holding a write lock, or
    // -1. Each store hands it on to the file that replaced the target.
    mutable int claimDescriptor = -1;
    mutable bool placeholder = false;  // the target is the empty file Claim made or took over
};
