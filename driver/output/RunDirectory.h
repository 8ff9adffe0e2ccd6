#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "driver/output/HeldFolder.h"
#include "driver/output/RunFileNames.h"

// A run directory that belongs to one run alone, and the repair of the ones
// whose runs died without trimming their files.
//
// A run holds an exclusive flock on the lock file "run.lock" in its directory, and
// one on the directory itself, for as long as it lives; the kernel drops them
// however the process ends, so free locks mean nobody writes there any more. The
// directory's own lock stays the run's even when its lock file is removed or
// replaced.
class RunDirectory {
public:
    RunDirectory() = default;
    RunDirectory(const RunDirectory&) = delete;
    RunDirectory& operator=(const RunDirectory&) = delete;
    // Releases the lock; the lock file stays (removing it would race a repair).
    ~RunDirectory();

    // Creates `preferred` ("<log dir>/cpu_[gpu_]YYMMDDhhmmss/") exclusively in the
    // log folder, held open from here on (a link on the way is followed only when
    // the running user or root owns it). When another run owns that name, the
    // stamp is advanced a second at a time to the first free one. Then holds the
    // new directory open, creates the lock file in it (exclusively) and takes the
    // lock. On failure prints "Failed to create directory: <path>: <reason>"
    // followed by `hint`, and returns false, leaving nothing it made behind.
    bool Claim(const std::string& preferred, const std::string& hint = "");
    // The same in a log folder the caller holds; `name` is the preferred directory name.
    bool Claim(const HeldFolder& logs, const std::string& name, const std::string& hint = "");

    // The claimed directory, ending with "/"; empty before a successful Claim.
    const std::string& Path() const { return path; }
    // The claimed directory, held open: every file of the run is reached through it.
    const HeldFolder& Folder() const { return *folder; }
    // A path prefix the kernel resolves through the held directory, for code that
    // can only open by path; empty before a successful Claim.
    std::string ReachedPath() const { return folder ? folder->ReachedPath() : std::string(); }

private:
    std::string path;
    std::optional<HeldFolder> folder;
    int lockDescriptor = -1;
};

// The log folder, held open, and the folders made for it.
struct LogDirectory {
    HeldFolder folder;
    CreatedDirectories created;
};

// The log directory, the parent of every run directory, made where missing and
// held open (HeldFolder::Make: one name at a time, a link on the way followed
// only when the running user or root owns it, nothing made beyond one it
// refuses); one level deep unless `withParents`. Its `created` are to be kept
// once the run has claimed its own directory. When it cannot be had (missing
// parent, no permission, a file, a symbolic link to nothing or a link loop in
// the way, a path too long) removes what it made, prints
// "Failed to create directory: <path>: <reason>" followed by `hint` and returns
// nothing. `refused` then tells a link the owner rule refuses (the line went to
// standard error: the path is a value the run may not use) from a folder that
// could not be made (standard output).
std::optional<LogDirectory> CreateLogDirectory(const std::string& logDirectory, bool withParents, bool& refused,
                                               const std::string& hint = "");

// The log folder at `logDirectory`, held open (a link on the way is followed
// only when the running user or root owns it). Otherwise prints "Failed to
// create directory: <path>: <reason>" followed by `hint`, on standard error
// when the owner rule refused a link.
std::optional<HeldFolder> OpenLogDirectory(const std::string& logDirectory, const std::string& hint = "");

// The stamp a second after `stamp` ("%y%m%d%H%M%S"); empty when `stamp` is not
// such a stamp.
std::string NextStamp(const std::string& stamp);

// Whether `name` is a file a run writes into its directory: "bench_<series>.csv",
// "stats_<series>.csv" or "speedup_<series>.csv" (series: a data type, or a data type, "_" and a key
// distribution) or "run_conditions.txt".
bool IsRunFileName(const std::string& name);

// Every run directory ("cpu_[gpu_]<12 digits>") below `logDirectory` that is a
// real directory (not a link) with a regular lock file, where neither the lock
// file's lock nor the directory's own is held, gets the
// files the run wrote (IsRunFileName) cut back to their last non-zero byte, when
// they are regular files (never followed through a link) that end in zero bytes.
// Nothing else is opened for writing. Returns the repaired directories, each
// ending with "/". Directories it cannot open or lock are left alone.
std::vector<std::string> RepairInterruptedRuns(const std::string& logDirectory);
// The same in a log folder the caller holds.
std::vector<std::string> RepairInterruptedRuns(const HeldFolder& logs);

// Whether `folder` is a run directory, live or not, whose files are no other
// program's to write: it holds "run.lock" or "run.json" (of any kind) and is named
// like one ("cpu_[gpu_]<12 digits>", the name its parent lists, whatever path led
// there), or a live run holds it locked under any name.
bool IsRunDirectory(const HeldFolder& folder);
