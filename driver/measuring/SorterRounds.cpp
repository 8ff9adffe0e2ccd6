#include "driver/measuring/SorterRounds.h"

#include <algorithm>
#include <cstdio>

#include "driver/measuring/MedianInterval.h"
#include "driver/measuring/TimingStats.h"
#include "support/StatusLine.h"

namespace {

constexpr const char* kQaPassLine = "QA Test Passed: CPU & GPU Numbers match";
constexpr const char* kAbortLine = "ABORTING BENCH TEST";

void ReportFailedCheck(const std::string& problem) {
    AppCore::ConsolePrintf("%s\n%s\n", problem.c_str(), kAbortLine);
}

// Whether every column's median has a 95% interval within `target` of it.
bool EveryIntervalWithin(const std::vector<std::vector<std::vector<double>>>& times, double target) {
    for (const auto& sorter : times) {
        for (const std::vector<double>& column : sorter) {
            const std::optional<MedianInterval> interval = MedianConfidenceInterval(column);
            if (!interval || RelativeHalfWidth(*interval, Summarize(column).median) > target) return false;
        }
    }
    return true;
}

}  // namespace

Outcome RunOnce(const char* typeName, const std::vector<Sorter>& sorters, CellWriter& cells,
                const BeforeSort& beforeSort) {
    bool rowStarted = false;
    std::size_t column = 0;
    for (std::size_t s = 0; s < sorters.size(); ++s) {
        const Sorter& sorter = sorters[s];
        if (beforeSort) beforeSort(s, 0);
        if (!sorter.warmUp()) return Outcome::SortFailed;
        if (beforeSort) beforeSort(s, 1);
        const std::optional<std::vector<double>> times = sorter.timed();
        if (!times) return Outcome::SortFailed;
        // The row starts only now: a cell append waits for the disk, which is no
        // part of any sort's time.
        if (!rowStarted) cells.StartRow();
        rowStarted = true;
        for (std::size_t i = 0; i < sorter.labels.size(); ++i) {
            cells.Cell(column + i, {(*times)[i]});
            AppCore::ConsolePrintf("%s %s - %f ms\n", typeName, sorter.labels[i].c_str(), (*times)[i]);
        }
        column += sorter.labels.size();
        if (sorter.afterSingleRun) sorter.afterSingleRun();
        if (!sorter.check) continue;
        const std::string problem = sorter.check();
        if (!problem.empty()) {
            ReportFailedCheck(problem);
            return Outcome::CheckFailed;
        }
        if (sorter.reportsPass) AppCore::ConsolePrintf("%s\n", kQaPassLine);
    }
    return Outcome::Continue;
}

RoundsResult RunRounds(const char* typeName, const std::vector<Sorter>& sorters, const RoundsPlan& plan,
                       CellWriter& cells) {
    RoundsResult result;
    for (std::size_t s = 0; s < sorters.size(); ++s) {
        if (plan.beforeSort) plan.beforeSort(s, 0);
        if (!sorters[s].warmUp()) {
            result.outcome = Outcome::SortFailed;
            return result;
        }
    }
    // times[s][i]: every time of label i of sorter s.
    std::vector<std::vector<std::vector<double>>> times(sorters.size());
    for (std::size_t s = 0; s < sorters.size(); ++s) times[s].resize(sorters[s].labels.size());

    bool failed = false;
    std::string problem;
    const auto fewestSureRounds = static_cast<int>(MinimumSamplesFor());
    for (int round = 0; round < plan.rounds && !failed && problem.empty(); ++round) {
        for (const std::size_t s : RoundOrder(sorters.size(), static_cast<std::size_t>(round))) {
            if (plan.beforeSort) plan.beforeSort(s, round + 1);
            const std::optional<std::vector<double>> measured = sorters[s].timed();
            if (!measured) {
                failed = true;
                break;
            }
            for (std::size_t i = 0; i < measured->size(); ++i) times[s][i].push_back((*measured)[i]);
            if (sorters[s].check) problem = sorters[s].check();
            if (!problem.empty()) break;
        }
        if (failed || !problem.empty()) break;
        result.rounds = round + 1;
        if (!plan.untilSure) continue;
        const double elapsed = plan.elapsedSeconds();
        result.seconds = elapsed;
        if (result.rounds < fewestSureRounds) continue;
        if (EveryIntervalWithin(times, plan.intervalTarget) || elapsed >= plan.budgetSeconds) break;
    }
    if (plan.untilSure) result.intervalReached = EveryIntervalWithin(times, plan.intervalTarget);

    cells.StartRow();
    std::size_t column = 0;
    for (std::size_t s = 0; s < sorters.size() && !times[s][0].empty(); ++s) {
        for (std::size_t i = 0; i < sorters[s].labels.size(); ++i, ++column) {
            const TimingSummary summary = Summarize(times[s][i]);
            const std::string note = cells.Cell(column, times[s][i]);
            const std::string suffix = plan.untilSure
                                           ? SureSpreadSuffix(summary, MedianConfidenceInterval(times[s][i]), note)
                                           : SpreadSuffix(summary, note);
            AppCore::ConsolePrintf("%s %s - %f ms%s\n", typeName, sorters[s].labels[i].c_str(), summary.median, suffix.c_str());
        }
    }
    if (failed) {
        result.outcome = Outcome::SortFailed;
        return result;
    }
    if (!problem.empty()) {
        ReportFailedCheck(problem);
        result.outcome = Outcome::CheckFailed;
        return result;
    }
    for (const Sorter& sorter : sorters) {
        if (sorter.reportsPass) AppCore::ConsolePrintf("%s\n", kQaPassLine);
    }
    return result;
}
