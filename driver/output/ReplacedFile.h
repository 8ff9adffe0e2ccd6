#pragma once

#include <cstddef>
#include <string>

// A file the program replaces whole, never in place: the -JSON results and the
// run manifest. The rules are those of a program that may run as root in a
// directory others can write to:
// - only nothing, a regular file or a symbolic link to one is replaced (the
//   link stays, as editors keep it, and the file it leads to is replaced);
//   never a directory, device, FIFO, socket or a link that leads nowhere;
// - the bytes go to a new temporary file "<target dir>/.<target name>.<pid>.<n>.tmp",
//   created exclusively without following links, so a name planted by another
//   user is never opened; it gets the target's permissions (and, for root, its
//   owner), is fsync'd and renamed over the target only when complete;
// - on any failure no temporary file stays.
class ReplacedFile {
public:
    // The target is resolved now: `outputPath`, or where a link there leads.
    explicit ReplacedFile(const std::string& outputPath);

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

    // Whether a file could be stored at `outputPath`: it is nothing yet, a
    // regular file the user may write or a link to one, a temporary file can
    // be created beside the target (it is removed again), and rename may
    // replace the target. Then claims the target for this process until it
    // ends, so that a second run given the same file, however spelled, is
    // refused instead of replacing the first one's results. Otherwise prints
    // "Cannot write <path>: <reason>" and returns false. Asked before a run,
    // so that a bad path is known before hours of measuring.
    static bool CanReplace(const std::string& outputPath);

private:
    std::string path;        // as the user gave it, for messages
    std::string target;      // the file replaced
    std::string tempPrefix;  // where the temporary files' names begin
};
