#include "driver/measuring/SorterRounds.h"

#include <algorithm>

#include "driver/measuring/MedianInterval.h"
#include "driver/measuring/TimingStats.h"

namespace {

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

Outcome RunOnce(const std::vector<Sorter>& sorters, RoundsObserver& observer, const BeforeSort& beforeSort) {
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
        if (!rowStarted) observer.RowStarted();
        rowStarted = true;
        for (std::size_t i = 0; i < sorter.labels.size(); ++i) observer.CellMeasured(column + i, {(*times)[i]});
        column += sorter.labels.size();
        if (sorter.afterSingleRun) sorter.afterSingleRun();
        if (!sorter.check) continue;
        const std::string problem = sorter.check();
        if (!problem.empty()) {
            observer.CheckFailed(problem);
            return Outcome::CheckFailed;
        }
        if (sorter.reportsPass) observer.CheckPassed();
    }
    return Outcome::Continue;
}

RoundsResult RunRounds(const std::vector<Sorter>& sorters, const RoundsPlan& plan, RoundsObserver& observer) {
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

    observer.RowStarted();
    std::size_t column = 0;
    for (std::size_t s = 0; s < sorters.size() && !times[s][0].empty(); ++s) {
        for (std::size_t i = 0; i < sorters[s].labels.size(); ++i, ++column) observer.CellMeasured(column, times[s][i]);
    }
    if (failed) {
        result.outcome = Outcome::SortFailed;
        return result;
    }
    if (!problem.empty()) {
        observer.CheckFailed(problem);
        result.outcome = Outcome::CheckFailed;
        return result;
    }
    for (const Sorter& sorter : sorters) {
        if (sorter.reportsPass) observer.CheckPassed();
    }
    return result;
}
