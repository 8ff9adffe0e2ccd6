#pragma once

#include <optional>
#include <vector>

#include "driver/measuring/MedianInterval.h"
#include "driver/measuring/TimingStats.h"

// A cell's figures and the verdicts on them, computed once from its times:
// the console's lines, the result, stats and speed-up files, the -JSON
// document and run.json render this record, and none of them applies a rule
// of its own, so a threshold changed here changes every one of them.

// Above this spread the median of a few runs can shift by more than the gaps
// between close sorters, so the comparison is no longer trustworthy.
inline constexpr double kNoisyCvLimit = 0.05;

// A drift of the machine above this many interval targets moves a whole data
// set's medians by more than the width of the intervals aimed at (±target).
inline constexpr double kDriftTargets = 2.0;

// Probes around a data set's rounds that price one floor further apart than
// this factor saw the machine change more than the floor ratios are meant to
// hold still across runs: that cell's floor could not be priced reliably.
inline constexpr double kFloorProbesApart = 1.3;

// The floors one cell gets from the probes around its rounds, each pricing it
// alone (milliseconds): the lowest at the fastest probe, the highest at the slowest.
struct FloorSpread {
    double lowestMs = 0.0;
    double highestMs = 0.0;
};

// A ratio to the floor at the slowest probe (`low`) and at the fastest (`high`).
struct RatioRange {
    double low = 0.0;
    double high = 0.0;
};

// Whether `interval` lies within `target` (a fraction) of `median`: false
// without one. The stopping rule of -R auto and the cells' verdicts both ask this.
bool IntervalWithin(const std::optional<MedianInterval>& interval, double median, double target);

// The paired speed-ups of a column over CPU Standard (PairedRatios), their
// median and its 95% interval (none below 6 ratios).
struct PairedSpeedups {
    std::vector<double> ratios;
    double median = 0.0;
    std::optional<MedianInterval> interval;
};

// What a cell is measured against, besides its times.
struct CellContext {
    // -R auto's target for the median's interval, a fraction of it; none when
    // the run aims at no interval.
    std::optional<double> intervalTarget;
    std::optional<double> floorMs;  // the column's memory floor, when it has one
    // With a floor: its spread over the probes around the rounds; none for
    // floors priced at one probe, which have none to show.
    std::optional<FloorSpread> floorSpread;
    // CPU Standard's time of each round, for the columns after it; none for
    // CPU Standard itself and without repetitions.
    std::optional<std::vector<double>> standardTimes;
    // With -R auto: how far the machine drifted over the data set's rounds (ReferenceDrift).
    std::optional<double> drift;
};

struct CellStatistics {
    TimingSummary summary{};
    std::optional<MedianInterval> interval;  // the median's 95% interval, from 6 times on
    std::optional<double> halfWidth;         // RelativeHalfWidth of the interval, when there is one
    bool noisy = false;                      // its coefficient of variation is above kNoisyCvLimit
    // With an interval target: whether the interval lies within it (no interval: false).
    std::optional<bool> intervalReached;
    std::optional<double> floorMs;     // as given
    std::optional<double> floorRatio;  // the median over a positive floor
    bool belowFloor = false;           // the median lies below the floor, which no sort can beat
    // With a floor spread: the ratio at each end of it, and whether its ends lie
    // more than kFloorProbesApart apart.
    std::optional<RatioRange> floorRatioRange;
    bool floorUnreliable = false;
    std::optional<PairedSpeedups> paired;
    std::optional<double> drift;  // as given
    bool drifted = false;         // with an interval target: drift above kDriftTargets targets
};

// The record of a cell whose `times` (milliseconds, one per round, at least
// one) were measured in `context`.
CellStatistics CellStatisticsOf(const std::vector<double>& times, const CellContext& context);
