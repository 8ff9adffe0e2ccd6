#include "driver/output/ResultFiles.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "driver/measuring/TimingStats.h"
#include "driver/output/StatsFiles.h"
#include "strings/EscapedText.h"
#include "strings/NumberText.h"
#include "support/DataTypes.h"
#include "support/StatusLine.h"

namespace {

// Every cell starts with its separator: "\n" before a count, "," before a time.
std::uint64_t CellsIn(const std::string& text) {
    return static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n') +
                                      std::count(text.begin(), text.end(), ','));
}

}  // namespace

std::string CountCell(std::uint64_t count) {
    if (count <= static_cast<std::uint64_t>(INT_MAX)) return SLib::STR_FromNum(static_cast<int>(count));
    // A signed 32-bit cell would wrap to a negative number here.
    return std::to_string(count);
}

std::string SeriesKey(const char* typeName, Distribution distribution) {
    if (distribution == Distribution::Uniform) return typeName;
    return std::string(typeName) + "_" + DistributionName(distribution);
}

const std::vector<std::string>& DataTypeNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all;
        for (const AppCore::DataTypeFacts& type : AppCore::kDataTypes) all.push_back(type.name);
        return all;
    }();
    return names;
}

ResultFiles::~ResultFiles() { (void)Close(); }

bool ResultFiles::Open(FileSet& set, const std::string& runDirectory, const std::string& header,
                       const std::vector<std::string>& keys) {
    for (const std::string& key : keys) {
        set.keys.push_back(key);
        set.managers.push_back(std::make_unique<LogManager>());
        set.failing.push_back(false);
        LogManager& manager = *set.managers.back();
        if (!manager.Init(runDirectory, RunFileName(set.kind, key), 'n', reached)) return false;
        manager += header;
        if (!manager.PendingText().empty()) {
            AppCore::ConsolePrintf("Failed to write the header of %s: %s\n",
                                   SLib::EscapedControls(manager.FilePath()).c_str(),
                                   std::strerror(manager.LastError()));
            std::fflush(stdout);
            return false;
        }
    }
    return true;
}

bool ResultFiles::Open(const std::string& runDirectory, const std::string& header,
                       const std::vector<std::string>& keys) {
    return Open(files, runDirectory, header, keys);
}

bool ResultFiles::OpenStats(const std::string& runDirectory, const std::string& header,
                            const std::vector<std::string>& keys) {
    return Open(stats, runDirectory, header, keys);
}

void ResultFiles::Close(FileSet& set, std::vector<Unwritten>& unwritten) {
    for (size_t i = set.managers.size(); i-- > 0;) set.managers[i]->Close();
    for (size_t i = 0; i < set.managers.size(); ++i) {
        const std::uint64_t cells = CellsIn(set.managers[i]->PendingText());
        if (cells != 0) unwritten.push_back({RunFileName(set.kind, set.keys[i]), cells, set.managers[i]->LastError()});
    }
}

std::vector<ResultFiles::Unwritten> ResultFiles::Close() {
    std::vector<Unwritten> unwritten;
    if (closed) return unwritten;
    closed = true;
    Close(files, unwritten);
    Close(stats, unwritten);
    Close(speedups, unwritten);
    return unwritten;
}

void ResultFiles::Append(FileSet& set, size_t file, const std::string& cell) {
    LogManager& manager = *set.managers[file];
    manager += cell;
    const bool refused = !manager.FilePath().empty() && !manager.PendingText().empty();
    if (refused && !set.failing[file]) {
        AppCore::ConsolePrintf(
            "Cannot write to %s: %s; its cells stay on the console and are retried with every new cell\n",
            SLib::EscapedControls(manager.FilePath()).c_str(), std::strerror(manager.LastError()));
        std::fflush(stdout);
    }
    set.failing[file] = refused;
}

size_t ResultFiles::IndexOf(const FileSet& set, const std::string& key) {
    for (size_t i = 0; i < set.keys.size(); ++i) {
        if (key == set.keys[i]) return i;
    }
    throw std::out_of_range(std::string("no ") + FactsOf(set.kind).prefix + "file for " + key);
}

LogManager& ResultFiles::File(const std::string& key) { return *files.managers[IndexOf(files, key)]; }

void ResultFiles::AppendCount(const std::string& key, std::uint64_t count) {
    // Built by append: "\n" + text trips a false -Wrestrict in GCC 12.
    std::string cell(1, '\n');
    cell += CountCell(count);
    Append(files, IndexOf(files, key), cell);
}

void ResultFiles::AppendTime(const std::string& key, double milliseconds) {
    std::string cell(1, ',');
    cell += TimeCell(milliseconds);
    Append(files, IndexOf(files, key), cell);
}

void ResultFiles::AppendEmpty(const std::string& key) { Append(files, IndexOf(files, key), ","); }

void ResultFiles::AppendStatsRow(const std::string& key, const std::string& row) {
    Append(stats, IndexOf(stats, key), row);
}

bool ResultFiles::OpenSpeedups(const std::string& runDirectory, const std::string& header,
                               const std::vector<std::string>& keys) {
    return Open(speedups, runDirectory, header, keys);
}

void ResultFiles::AppendSpeedupRow(const std::string& key, const std::string& row) {
    if (!row.empty()) Append(speedups, IndexOf(speedups, key), row);
}
