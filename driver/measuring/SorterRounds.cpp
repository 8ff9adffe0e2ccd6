#include "driver/measuring/SorterRounds.h"

#include <algorithm>

#include "driver/measuring/CellStatistics.h"
#include "driver/measuring/MedianInterval.h"
#include "driver/measuring/TimingStats.h"

namespace {

// times[s][i]: every time of label i of sorter s.
using SorterTimes = std::vector<std::vector<std::vector<double>>>;

// Whether every timed column's median has a 95% interval within `target` of it.
bool EveryIntervalWithin(const std::vector<Sorter>& sorters, const SorterTimes& times, double target) {
    for (std::size_t s = 0; s < sorters.size(); ++s) {
        if (!sorters[s].skipped.empty()) continue;
        for (const std::vector<double>& column : times[s]) {
            if (!IntervalWithin(MedianConfidenceInterval(column), Summarize(column).median, target)) return false;
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
        if (!sorter.skipped.empty()) {
            if (!rowStarted) observer.RowStarted();
            rowStarted = true;
            for (std::size_t i = 0; i < sorter.labels.size(); ++i) observer.CellSkipped(column + i, sorter.skipped);
            column += sorter.labels.size();
            continue;
        }
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

namespace {

bool WarmUpEvery(const std::vector<Sorter>& sorters, const RoundsPlan& plan) {
    for (std::size_t s = 0; s < sorters.size(); ++s) {
        if (!sorters[s].skipped.empty()) continue;
        if (plan.beforeSort) plan.beforeSort(s, 0);
        if (!sorters[s].warmUp()) return false;
    }
    return true;
}

// Round `round` (from 0): every sorter timed once in the round's order, each
// checked right after its sort. SortFailed or CheckFailed (with `problem`)
// stop it at once.
Outcome TimeRound(const std::vector<Sorter>& sorters, const RoundsPlan& plan, int round, SorterTimes& times,
                  std::string& problem) {
    for (const std::size_t s : RoundOrder(sorters.size(), static_cast<std::size_t>(round))) {
        if (!sorters[s].skipped.empty()) continue;
        if (plan.beforeSort) plan.beforeSort(s, round + 1);
        const std::optional<std::vector<double>> measured = sorters[s].timed();
        if (!measured) return Outcome::SortFailed;
        for (std::size_t i = 0; i < measured->size(); ++i) times[s][i].push_back((*measured)[i]);
        if (sorters[s].check) problem = sorters[s].check();
        if (!problem.empty()) return Outcome::CheckFailed;
    }
    return Outcome::Continue;
}

// The row, with every column that has times, then how the checks ended.
void ObserveRow(const std::vector<Sorter>& sorters, const SorterTimes& times, Outcome outcome,
                const std::string& problem, RoundsObserver& observer) {
    observer.RowStarted();
    std::size_t column = 0;
    for (std::size_t s = 0; s < sorters.size(); ++s) {
        const bool skipped = !sorters[s].skipped.empty();
        if (!skipped && times[s][0].empty()) break;
        for (std::size_t i = 0; i < sorters[s].labels.size(); ++i, ++column) {
            if (skipped) {
                observer.CellSkipped(column, sorters[s].skipped);
            } else {
                observer.CellMeasured(column, times[s][i]);
            }
        }
    }
    if (outcome == Outcome::CheckFailed) observer.CheckFailed(problem);
    if (outcome != Outcome::Continue) return;
    for (const Sorter& sorter : sorters) {
        if (sorter.reportsPass) observer.CheckPassed();
    }
}

}  // namespace

RoundsResult RunRounds(const std::vector<Sorter>& sorters, const RoundsPlan& plan, RoundsObserver& observer) {
    RoundsResult result;
    if (!WarmUpEvery(sorters, plan)) {
        result.outcome = Outcome::SortFailed;
        return result;
    }
    SorterTimes times(sorters.size());
    for (std::size_t s = 0; s < sorters.size(); ++s) times[s].resize(sorters[s].labels.size());

    std::string problem;
    const auto fewestSureRounds = static_cast<int>(MinimumSamplesFor());
    for (int round = 0; round < plan.repetition.count; ++round) {
        result.outcome = TimeRound(sorters, plan, round, times, problem);
        if (result.outcome != Outcome::Continue) break;
        result.rounds = round + 1;
        if (plan.referenceMs) result.referenceMs.push_back(plan.referenceMs());
        if (!plan.repetition.untilSure) continue;
        const double elapsed = plan.elapsedSeconds();
        result.seconds = elapsed;
        if (result.rounds < fewestSureRounds) continue;
        if (EveryIntervalWithin(sorters, times, plan.repetition.intervalTarget) ||
            elapsed >= plan.repetition.budgetSeconds)
            break;
    }
    if (plan.repetition.untilSure)
        result.intervalReached = EveryIntervalWithin(sorters, times, plan.repetition.intervalTarget);
    if (plan.afterRounds) plan.afterRounds();
    if (plan.referenceMs) observer.ReferenceMeasured(result.referenceMs);
    ObserveRow(sorters, times, result.outcome, problem, observer);
    return result;
}

std::vector<std::size_t> RoundOrder(std::size_t sorters, std::size_t round) {
    std::vector<std::size_t> order(sorters);
    for (std::size_t j = 0; j < sorters; ++j) order[j] = (round % sorters + j) % sorters;
    return order;
}
