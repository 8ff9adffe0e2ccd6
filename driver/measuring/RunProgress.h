#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// How long the rest of a run will take, estimated from the times measured so
// far: each column's latest median, divided by the work its sorter does at
// that count, gives its cost per unit of work; the data sets still to come
// cost their work times that, once per round and once more for the warm-up.
// A comparison sort does n log n work, the others n: the estimate follows each
// sorter's growth to the counts not measured yet. With a budget it is an upper
// bound as far as the costs measured hold: the budget is checked after each
// round, so a data set may run one round past it.

// How a sorter's time grows with the record count n.
enum class Growth { Linear, Linearithmic };

class RunProgress {
public:
    // `growth`: one per column, in column order. `counts`: the record count of
    // every data set of the run, in run order. `rounds`: timed rounds per data
    // set (for -R auto a first guess, refined by RoundsTaken). `budgetSeconds`:
    // with -R auto the most a data set takes past the rounds an interval needs
    // (0 for none).
    RunProgress(std::vector<Growth> growth, std::vector<std::uint64_t> counts, int rounds, double budgetSeconds = 0.0);

    // Data set `index` (into `counts`) starts.
    void StartDataSet(std::size_t index);
    // Column `column` of the current data set measured a median of `milliseconds`.
    void Measured(std::size_t column, double milliseconds);
    // Column `column` took `milliseconds` on `count` records outside the run's
    // data sets: a pilot sort, for an estimate before the first data set.
    // Beyond its fixed cost: a time no more than twice that says nothing of
    // the cost per record and leaves the one known.
    void MeasuredAt(std::size_t column, std::uint64_t count, double milliseconds);
    // Every sort of column `column` takes `seconds` whatever its size: starting
    // threads, a call's set-up. Set before the times it is taken out of.
    void FixedCost(std::size_t column, double seconds);
    // The current data set took `rounds` rounds (-R auto).
    void RoundsTaken(int rounds);
    // Each round also takes `seconds` besides its sorts (-R auto's machine
    // reference): what makes rounds of tiny data sets spend their budget.
    void RoundOverhead(double seconds);

    // Each data set also takes `seconds` per record besides its sorts: making
    // its keys, checking the permutations.
    void SetupPerRecord(double seconds);
    // And `seconds` whatever its size: the files written after it.
    void DataSetOverhead(double seconds);
    // The data sets `dataSets` (indices into `counts`) measure the memory at
    // their own sizes, which takes `secondsPerRecord` a record, once for
    // each time they are named: every data set whose floor is priced after
    // its rounds, the first of each record count before them too.
    void ProbesAt(const std::vector<std::size_t>& dataSets, double secondsPerRecord);

    // Seconds the run still needs after `spentInDataSet` seconds of the
    // current data set; nothing until some column has been measured.
    std::optional<double> SecondsLeft(double spentInDataSet) const;

private:
    double Work(std::size_t column, std::uint64_t count) const;
    // Seconds data set `index` takes by the costs known so far.
    double DataSetSeconds(std::size_t index) const;

    std::vector<Growth> growth;
    std::vector<std::uint64_t> counts;
    double rounds;
    double budgetSeconds;
    double roundOverheadSeconds = 0.0;
    double setupSecondsPerRecord = 0.0;
    double dataSetOverheadSeconds = 0.0;
    std::vector<double> probeSeconds;  // per data set, empty until ProbesAt
    std::size_t current = 0;
    std::vector<std::optional<double>> secondsPerWork;  // per column, from its latest median
    std::vector<double> fixedSeconds;                   // per column
};
