// The loop over a data set's sorters with fake sorters whose times and checks
// are given: the order they run in, what a row holds after a failure, and where
// the checks' outcomes fall.
#include "driver/measuring/SorterRounds.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// What the loop did, in order: "warm a", "time a", "row", "cell 0 x3",
// "QA ERROR: b", "QA passed".
struct Trace {
    std::vector<std::string> events;
};

class TracingCells : public RoundsObserver {
public:
    explicit TracingCells(Trace& trace) : trace(trace) {}
    void RowStarted() override { trace.events.push_back("row"); }
    void CellMeasured(std::size_t column, const std::vector<double>& times) override {
        trace.events.push_back("cell " + std::to_string(column) + " x" + std::to_string(times.size()));
    }
    void CellSkipped(std::size_t column, const std::string& reason) override {
        trace.events.push_back("skip " + std::to_string(column) + ": " + reason);
    }
    void CheckFailed(const std::string& problem) override { trace.events.push_back(problem); }
    void CheckPassed() override { trace.events.push_back("QA passed"); }
    void ReferenceMeasured(const std::vector<double>& ms) override {
        trace.events.push_back("reference x" + std::to_string(ms.size()));
    }

private:
    Trace& trace;
};

// A sorter named `name` whose timed sorts take 1 ms each; its check fails on
// the timed sort numbered `failAt` (1 = the first), never when 0.
Sorter Fake(Trace& trace, const std::string& name, int failAt = 0, bool reportsPass = false) {
    auto sorts = std::make_shared<int>(0);
    Sorter sorter{.labels = {name},
                  .warmUp =
                      [&trace, name] {
                          trace.events.push_back("warm " + name);
                          return true;
                      },
                  .timed =
                      [&trace, name, sorts] {
                          ++*sorts;
                          trace.events.push_back("time " + name);
                          return std::optional<std::vector<double>>(std::vector<double>{1.0});
                      },
                  .check = nullptr,
                  .reportsPass = reportsPass,
                  .afterSingleRun = nullptr,
                  .skipped = {}};
    if (failAt != 0 || reportsPass) {
        sorter.check = [name, sorts, failAt] { return *sorts == failAt ? "QA ERROR: " + name : std::string(); };
    }
    return sorter;
}

}  // namespace

TEST(SorterRounds, rounds_rotate_the_order_and_the_qa_pass_follows_the_row) {
    Trace trace;
    TracingCells cells(trace);
    const std::vector<Sorter> sorters{Fake(trace, "a"), Fake(trace, "b", 0, true), Fake(trace, "c")};
    EXPECT_EQ(RunRounds(sorters, {.repetition = {.count = 3}}, cells).outcome, Outcome::Continue);
    EXPECT_EQ(trace.events, (std::vector<std::string>{"warm a", "warm b", "warm c",  //
                                                      "time a", "time b", "time c",  // round 1
                                                      "time b", "time c", "time a",  // round 2
                                                      "time c", "time a", "time b",  // round 3
                                                      "row", "cell 0 x3", "cell 1 x3", "cell 2 x3", "QA passed"}));
}

TEST(SorterRounds, a_failed_check_ends_the_rounds_but_completes_the_row_before_it_is_reported) {
    Trace trace;
    TracingCells cells(trace);
    // b's second timed sort fails: round 2 runs b first, so c has one time.
    const std::vector<Sorter> sorters{Fake(trace, "a"), Fake(trace, "b", 2), Fake(trace, "c")};
    EXPECT_EQ(RunRounds(sorters, {.repetition = {.count = 5}}, cells).outcome, Outcome::CheckFailed);
    EXPECT_EQ(trace.events,
              (std::vector<std::string>{"warm a", "warm b", "warm c", "time a", "time b", "time c", "time b", "row",
                                        "cell 0 x1", "cell 1 x2", "cell 2 x1", "QA ERROR: b"}));
}

TEST(SorterRounds, one_repetition_reports_each_sorter_as_it_goes_and_stops_at_a_failed_check) {
    Trace trace;
    TracingCells cells(trace);
    const std::vector<Sorter> sorters{Fake(trace, "a", 0, true), Fake(trace, "b", 1), Fake(trace, "c")};
    EXPECT_EQ(RunOnce(sorters, cells), Outcome::CheckFailed);
    EXPECT_EQ(trace.events, (std::vector<std::string>{"warm a", "time a", "row", "cell 0 x1", "QA passed", "warm b",
                                                      "time b", "cell 1 x1", "QA ERROR: b"}));

    Trace failed;
    TracingCells noCells(failed);
    std::vector<Sorter> broken{Fake(failed, "a")};
    broken[0].timed = [] { return std::optional<std::vector<double>>(); };
    EXPECT_EQ(RunOnce(broken, noCells), Outcome::SortFailed);
    EXPECT_EQ(failed.events, (std::vector<std::string>{"warm a"})) << "no row for a data set that measured nothing";
}

TEST(SorterRounds, a_skipped_sorter_runs_nothing_and_keeps_its_place_in_the_row) {
    Trace once;
    TracingCells onceCells(once);
    std::vector<Sorter> sorters{Fake(once, "a"), Fake(once, "b", 1), Fake(once, "c")};
    sorters[1].skipped = "too big";
    EXPECT_EQ(RunOnce(sorters, onceCells), Outcome::Continue);
    EXPECT_EQ(once.events, (std::vector<std::string>{"warm a", "time a", "row", "cell 0 x1", "skip 1: too big",
                                                     "warm c", "time c", "cell 2 x1"}));

    Trace rounds;
    TracingCells roundCells(rounds);
    double clock = 0.0;
    sorters = {Fake(rounds, "a"), Fake(rounds, "b", 1), Fake(rounds, "c")};
    sorters[1].skipped = "too big";
    // Steady times close every interval at six rounds: the skipped sorter's missing times hold nothing up.
    const RoundsPlan plan{
        .repetition = {.count = 1000, .untilSure = true, .intervalTarget = 0.01, .budgetSeconds = 1000},
        .elapsedSeconds = [&clock] { return clock; },
        .beforeSort = nullptr,
        .referenceMs = nullptr,
        .afterRounds = nullptr};
    const RoundsResult result = RunRounds(sorters, plan, roundCells);
    EXPECT_EQ(result.rounds, 6);
    EXPECT_TRUE(result.intervalReached);
    EXPECT_EQ(std::count(rounds.events.begin(), rounds.events.end(), "time b"), 0);
    EXPECT_EQ(std::vector<std::string>(rounds.events.end() - 4, rounds.events.end()),
              (std::vector<std::string>{"row", "cell 0 x6", "skip 1: too big", "cell 2 x6"}));
}

namespace {

// A sorter whose sorts take `times` milliseconds in turn (the warm-up the first
// of them) on a clock of the test's own.
Sorter Clocked(const std::string& name, std::vector<double> times, double& clockSeconds) {
    auto next = std::make_shared<std::size_t>(0);
    const auto take = [times, next, &clockSeconds] {
        const double ms = times[(*next)++ % times.size()];
        clockSeconds += ms / 1000.0;
        return ms;
    };
    return Sorter{.labels = {name},
                  .warmUp =
                      [take] {
                          (void)take();
                          return true;
                      },
                  .timed = [take] { return std::optional<std::vector<double>>(std::vector<double>{take()}); },
                  .check = nullptr,
                  .reportsPass = false,
                  .afterSingleRun = nullptr,
                  .skipped = {}};
}

}  // namespace

TEST(SorterRounds, auto_rounds_stop_at_the_interval_the_budget_or_the_cap_never_before_six) {
    const struct {
        const char* what;
        std::vector<double> times;  // milliseconds, in turn, for both sorters
        int cap;
        double budgetSeconds;
        int rounds;
        bool reached;
    } cases[] = {
        {"steady times reach the interval at 6 rounds", {10}, 1000, 10, 6, true},
        {"a 1% interval around 10 ms within 0.1 ms", {10, 10.05, 9.95}, 1000, 10, 6, true},
        {"noisy times spend the budget", {10, 20}, 1000, 1, 33, false},
        {"the cap ends noisy rounds", {10, 20}, 8, 100, 8, false},
        {"rounds longer than the whole budget still reach six", {1000, 2000}, 1000, 1, 6, false},
        {"steady long rounds reach the interval at six", {5000}, 1000, 1, 6, true},
    };
    for (const auto& c : cases) {
        double clock = 0.0;
        const std::vector<Sorter> sorters{Clocked("a", c.times, clock), Clocked("b", c.times, clock)};
        Trace trace;
        TracingCells cells(trace);
        const RoundsPlan plan{
            .repetition = {.count = c.cap, .untilSure = true, .intervalTarget = 0.01, .budgetSeconds = c.budgetSeconds},
            .elapsedSeconds = [&clock] { return clock; },
            .beforeSort = nullptr,
            .referenceMs = [] { return 3.0; }};
        const RoundsResult result = RunRounds(sorters, plan, cells);
        // The machine reference after every round, observed before the row.
        EXPECT_EQ(result.referenceMs, std::vector<double>(static_cast<std::size_t>(c.rounds), 3.0)) << c.what;
        const auto row = std::find(trace.events.begin(), trace.events.end(), "row");
        ASSERT_NE(row, trace.events.begin()) << c.what;
        EXPECT_EQ(*(row - 1), "reference x" + std::to_string(c.rounds)) << c.what;
        EXPECT_EQ(result.outcome, Outcome::Continue) << c.what;
        EXPECT_EQ(result.rounds, c.rounds) << c.what;
        EXPECT_EQ(result.intervalReached, c.reached) << c.what;
        EXPECT_EQ(trace.events.back(), "cell 1 x" + std::to_string(c.rounds)) << c.what;
    }
}
