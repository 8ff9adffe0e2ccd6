#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

#include "driver/machine/LimitsProbe.h"
#include "driver/measuring/KeyDistributions.h"

// The memory figures at the data sets' own sizes that price their radix
// cells' floors (MemoryFloor.h): probed before the first uniform data set of
// each record count and again after every priced data set's rounds, so that
// a data set's floor is priced from the probes around its rounds, the one
// last taken for its count before them and the one right after
// (PriceColumnFloor). Data sets whose index array is smaller than the fixed
// probe's smallest array get none, as before those figures existed.
class OwnSizeProbes {
public:
    // Prices nothing: a run without floors.
    OwnSizeProbes() = default;
    // `smallestArrayBytes`: the fixed probe's smallest index array;
    // `options`: how each data set's probe runs.
    OwnSizeProbes(std::uint64_t smallestArrayBytes, LimitsProbeOptions options)
        : prices(true), smallestArrayBytes(smallestArrayBytes), options(std::move(options)) {}

    // Whether uniform data sets of `count` records are priced at their own sizes.
    bool Prices(std::uint64_t count) const;
    // The figures of a data set of `count` records with `distribution`
    // before its rounds: the last table measured for its count (or the last
    // skipped when none was), probed now when there is none; the empty, unmeasured table when it is not priced.
    const DataSetLimits& For(Distribution distribution, std::uint64_t count);
    // After that data set's rounds: its count probed again, or the empty
    // table when it is not priced. References stay valid for the run.
    const DataSetLimits& After(Distribution distribution, std::uint64_t count);
    // Every table probed, in the order probed.
    std::vector<DataSetLimits> Probed() const { return {probed.begin(), probed.end()}; }

    // What the probes still to come will take, for -R auto's estimate: the
    // time per record, timed on the largest priced count up to `pilotCount`
    // (probed here and kept for that count's first data set, so nothing is
    // probed twice), and the data sets that will probe, in run order (0 =
    // the first), once for each probe: every type's priced uniform data set
    // after its rounds, and the first type's before them too, as the first
    // of its count. None when the run prices no data set.
    struct Estimate {
        double msPerRecord = 0.0;
        std::vector<std::size_t> probingDataSets;
    };
    Estimate EstimateFor(const std::vector<std::uint64_t>& counts, const std::vector<Distribution>& distributions,
                         std::size_t types, std::uint64_t pilotCount);

private:
    const DataSetLimits& At(std::uint64_t count);
    const DataSetLimits& Probe(std::uint64_t count);

    bool prices = false;
    std::uint64_t smallestArrayBytes = 0;
    LimitsProbeOptions options;
    std::deque<DataSetLimits> probed;  // a deque: the tables handed out stay where they are
};
