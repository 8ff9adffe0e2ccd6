#pragma once

#include "driver/measuring/MedianInterval.h"

// -R auto's defaults: the interval's half-width, as a fraction of the median,
// and the seconds a data set may take.
inline constexpr double kDefaultIntervalTarget = 0.01;
inline constexpr double kDefaultBudgetSeconds = 10.0;

// How a run times each sorter: once; a fixed number of rounds (-R N, N > 1),
// with statistics, stats files and floors; or until every median's interval
// is narrow enough (-R auto), which also times the machine reference.
enum class RepetitionMode { Single, FixedRounds, UntilSure };

// What -R, -CI and -T decide, named once: the run and the reporters that
// render by it are handed this rather than the whole command line.
struct Repetition {
    int count = 1;           // "-R N": timed sorts per sorter and data set, 1 to 1000; the cap with -R auto
    bool untilSure = false;  // "-R auto": rounds until every median's interval is narrow enough
    double intervalTarget = kDefaultIntervalTarget;  // "-CI PCT": the interval's half-width, as a fraction
    double budgetSeconds = kDefaultBudgetSeconds;    // "-T SECONDS": one data set's time, warm-ups included

    RepetitionMode Mode() const {
        return untilSure ? RepetitionMode::UntilSure : count > 1 ? RepetitionMode::FixedRounds : RepetitionMode::Single;
    }
    // Repeated rounds of either kind: statistics, stats files, floors.
    bool Repeated() const { return Mode() != RepetitionMode::Single; }
    // The timed rounds a data set takes at least: count, or with untilSure
    // the rounds a median's 95% interval needs.
    int FewestRounds() const { return untilSure ? static_cast<int>(MinimumSamplesFor()) : count; }
};
