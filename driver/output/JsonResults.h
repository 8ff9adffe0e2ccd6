#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "driver/machine/MachineFacts.h"
#include "driver/measuring/CellStatistics.h"
#include "driver/output/ReplacedFile.h"

// The results of a run as a Google Benchmark JSON document, so that two runs can
// be compared with Google Benchmark's `compare.py benchmarks A.json B.json`.
//
// The document holds a "context" object (date, host, executable, CPUs, caches,
// load average, build type), rendered from the machine's facts when the object
// is constructed, and a
// "benchmarks" array. Each result cell adds one "iteration" entry per measured
// time, named "TYPE/COLUMN/COUNT" (e.g. "INT/CPU 2 Thread/10000000"), with
// real_time = cpu_time = the wall time in milliseconds and items_per_second =
// COUNT / seconds. With more than one repetition the cell's entries are followed
// by the aggregates "<name>_mean", "<name>_median" and "<name>_stddev" (sample
// standard deviation), laid out as Google Benchmark 1.7 writes them. Families
// are the distinct TYPE/COLUMN pairs, numbered in first-seen order; instances are
// the distinct counts of a family, numbered in first-seen order.
//
// The complete document (everything added so far) is kept rendered at all times,
// so that WriteFromSignalHandler can write it without allocating. At most one
// JsonResults may exist at a time.
class JsonResults {
public:
    // `outputPath` is the file Write replaces; `executable` and `machine` go
    // into the context; `repetitions` (at least 1) is how many times each cell
    // was measured. With `medianIntervals` (-R auto) each cell's own count of
    // times is its repetitions, and its median aggregate carries the median's
    // 95% interval as the counters "CiLow" and "CiHigh" (ms), from 6 times on.
    // `context` holds further key and value texts for the context object, after
    // the machine's facts (the probed limits).
    using ContextFields = std::vector<std::pair<std::string, std::string>>;
    JsonResults(const std::string& outputPath, const std::string& executable, std::size_t repetitions,
                const MachineFacts& machine, bool medianIntervals = false, const ContextFields& context = {});
    // The same for a target a run has claimed (ReplacedFile::Claim), which the
    // document keeps until it is destroyed.
    JsonResults(ReplacedFile claimed, const std::string& executable, std::size_t repetitions,
                const MachineFacts& machine, bool medianIntervals = false, const ContextFields& context = {});
    JsonResults(const JsonResults&) = delete;
    JsonResults& operator=(const JsonResults&) = delete;
    // Withdraws the document from WriteFromSignalHandler.
    ~JsonResults();

    // One result cell: its times in milliseconds in measured order, one per
    // repetition, and its record (CellStatistics.h). `dataType` is a series
    // key ("INT", "INT_zipf"); `column` a sorter column such as "CPU 8 Thread".
    // An empty `timesMs` adds nothing. With more than one repetition and a
    // floor ratio the median aggregate carries the counters "MemoryFloor" (ms)
    // and "FloorRatio" (median over floor). `referenceMs` (-R auto) holds the
    // machine reference's time after each round: the iteration entry of round
    // r carries its r-th as the counter "ReferenceMs".
    // Must be called on the thread on which WriteFromSignalHandler may run.
    void Add(const std::string& dataType, const std::string& column, std::uint64_t count,
             const std::vector<double>& timesMs, const CellStatistics& cell,
             const std::vector<double>& referenceMs = {});
    // The same for a cell of `timesMs` alone, with `floorMs` as its memory floor.
    void Add(const std::string& dataType, const std::string& column, std::uint64_t count,
             const std::vector<double>& timesMs, std::optional<double> floorMs = std::nullopt);

    // The document as Write stores it.
    const std::string& Text() const;
    // Whether a cell has been added.
    bool HasEntries() const;

    // Replaces the target atomically: the output path, or the file a symbolic
    // link there led to when the object was made (the link stays). Only a
    // regular file or nothing is replaced. The document goes to a new temporary
    // file "<target dir>/.<target name>.<pid>.<n>.tmp", created exclusively
    // without following links, given the target's permissions (and, for root,
    // its owner), fsync'd and renamed over the target. On failure prints
    // "Cannot write <path>: <reason>" on standard output, leaves no temporary
    // file and returns false. The interrupting signals wait until it is done.
    bool Write() const;
    // Write without the line: why the store failed, or empty.
    std::string TryWrite() const;

    // Whether Write could store a document at `outputPath` and no other running
    // sortbench has claimed it, by ReplacedFile::Claim's rules (not a folder,
    // nothing in a run directory, nothing read-only, ...; the claim is given up
    // again on return). Otherwise prints "Cannot write <path>: <reason>" on
    // standard error and returns false.
    static bool CanWrite(const std::string& outputPath);
    // Write for a signal handler: the same target, the same steps, only
    // async-signal-safe calls, no output; nothing at all before the first cell,
    // so an interruption at start leaves an earlier file at the path as it was.
    // Does nothing when no JsonResults exists. Must run on the thread that calls
    // Add; errno is kept.
    static void WriteFromSignalHandler();

private:
    std::string EntriesFor(const std::string& dataType, const std::string& column, std::uint64_t count,
                           const std::vector<double>& timesMs, const CellStatistics& cell,
                           const std::vector<double>& referenceMs);

    const ReplacedFile file;
    const std::size_t repetitions;
    const bool medianIntervals;

    // Two renderings of the document; `published` names the complete one, the
    // other is brought up to date by Add and then published. `behind` is the text
    // of entries the unpublished one still lacks.
    std::string documents[2];
    std::atomic<int> published{0};
    std::atomic<bool> entriesPublished{false};
    std::string behind;
    bool hasEntries = false;

    std::map<std::string, int> families;                     // "TYPE/COLUMN" -> family_index
    std::map<std::pair<int, std::uint64_t>, int> instances;  // (family, count) -> instance
    std::vector<int> instancesPerFamily;
};
