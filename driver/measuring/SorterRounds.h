#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "driver/measuring/Repetition.h"

// The order in which round `round` (0-based) runs a data set's `sorters` columns:
// element j is (round + j) mod sorters, i.e. 0..sorters-1 rotated left by round.
// Over `sorters` consecutive rounds each sorter runs once in every position, so no
// sorter always inherits the caches or clock state left by the same neighbour.
// Empty for 0 sorters.
std::vector<std::size_t> RoundOrder(std::size_t sorters, std::size_t round);

// One sorter of a data set as the benchmark loop times it. A sorter fills one
// column or several (the GPU sorter's host, on-card and transfer times).
struct Sorter {
    std::vector<std::string> labels;  // console label of each column it fills: "CPU 2 Thread", "GPU_On_Card"
    // Untimed; false ends the run (the sorter has said why).
    std::function<bool()> warmUp;
    // One timed sort into the index buffer, which it clears first: one time per
    // label, or nothing when the run must end (the sorter has said why).
    std::function<std::optional<std::vector<double>>()> timed;
    // After each timed sort: empty when the permutation is right, otherwise the
    // "QA ERROR: ..." line. Null for sorters whose result is the reference.
    std::function<std::string()> check;
    bool reportsPass = false;  // a passing check prints "QA Test Passed: ..." (the GPU's -QA check)
    // With one repetition, after the sorter's cells: frees what later sorters need.
    std::function<void()> afterSingleRun;
    // Not empty: the sorter does not run on this data set (it would not fit in
    // memory), and this says why. Its cells are observed as skipped, in their
    // place; nothing of it is called.
    std::string skipped;
};

// Called before each warm-up (round 0) and each timed sort (rounds 1, 2, ...) of
// sorter `sorter`, outside every timed section: where a status line is drawn.
using BeforeSort = std::function<void(std::size_t sorter, int round)>;

// What the rounds of a data set report as they go. The loops below print and
// write nothing themselves: reporters render what they observe.
class RoundsObserver {
public:
    virtual ~RoundsObserver() = default;
    // The row of this data set starts; called once, before its first cell.
    virtual void RowStarted() = 0;
    // Column `column` (0 = the first timed column) measured `times`, one per
    // repetition, in measured order.
    virtual void CellMeasured(std::size_t column, const std::vector<double>& times) = 0;
    // Column `column` of a skipped sorter (Sorter::skipped) has no times: `reason` says why.
    virtual void CellSkipped(std::size_t /*column*/, const std::string& /*reason*/) {}
    // A sorter's check found a wrong permutation: `problem` is its "QA ERROR: ..." line.
    virtual void CheckFailed(const std::string& problem) = 0;
    // A sorter whose passing check is reported (the GPU's -QA check) passed.
    virtual void CheckPassed() = 0;
    // With a machine reference: its time after each round, in milliseconds,
    // once the rounds end and before the row starts.
    virtual void ReferenceMeasured(const std::vector<double>& /*referenceMs*/) {}
};

// How a data set's sorts ended: all done, or the run must end because a sort
// failed (the sorter has said why) or a check found a wrong permutation.
enum class Outcome { Continue, SortFailed, CheckFailed };

// One repetition: each sorter in order runs its warm-up, then its timed sort,
// and its cells are observed at once, then its check. A failed check stops.
// A skipped sorter's cells are observed as skipped in its turn.
Outcome RunOnce(const std::vector<Sorter>& sorters, RoundsObserver& observer, const BeforeSort& beforeSort = nullptr);

// How many rounds a data set gets.
struct RoundsPlan {
    // With Repeated(): count rounds, or with untilSure as many as its
    // stopping rule takes, at most count.
    Repetition repetition{.count = 2};
    // Seconds since the data set's first warm-up began.
    std::function<double()> elapsedSeconds;
    BeforeSort beforeSort;
    // Times the machine reference (MachineReference.h) in milliseconds after
    // every round, outside every timed section; null for none.
    std::function<double()> referenceMs;
    // Once the rounds end (a failed warm-up ends them before any), before
    // anything of them is observed: what must be measured around them to price their cells; null for nothing.
    std::function<void()> afterRounds = nullptr;
};

// How the rounds of a data set ended.
struct RoundsResult {
    Outcome outcome = Outcome::Continue;
    int rounds = 0;                   // rounds that timed every sorter
    bool intervalReached = true;      // with untilSure: every column's interval met the target
    double seconds = 0.0;             // with untilSure: elapsed when the last round ended
    std::vector<double> referenceMs;  // with a reference: its time after each round
};

// Rounds of a data set: every sorter's warm-up first, in order; then each round
// times every sorter once, in the order of the round before rotated by one, so
// that a slow spell of the machine falls on every column alike and no sorter
// always follows the same neighbour. The cells, with every time of their
// column, are observed once the rounds end, then the checks' outcomes.
//
// A fixed plan runs plan.repetition.count rounds. With untilSure every column first gets
// the rounds its 95% interval needs (MinimumSamplesFor(), however long a round
// takes, so that every cell has an interval); the rounds then go on until every
// column's interval lies within the plan's intervalTarget of its median, or the
// elapsed time reaches the budget, or its count of rounds have run. A data set
// thus ends within its budget plus one round, or at the minimum, whichever is
// later.
//
// With plan.referenceMs the machine reference is timed after every round, its
// times observed once the rounds end, before the row. plan.afterRounds runs
// before either.
//
// A failed sort or check ends the rounds; the row is still completed with the
// columns that have times, then the failed check is observed.
//
// Skipped sorters (Sorter::skipped) take no part in the rounds or the stopping
// rule; their cells are observed as skipped in their place in the row.
RoundsResult RunRounds(const std::vector<Sorter>& sorters, const RoundsPlan& plan, RoundsObserver& observer);
