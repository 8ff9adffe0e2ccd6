#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "driver/machine/LimitsProbe.h"
#include "driver/measuring/KeyDistributions.h"

// The memory figures at the data sets' own sizes that price their radix
// cells' floors (MemoryFloor.h): probed once per record count, before the
// first uniform data set of that count, and kept for every type. Data sets
// whose index array is smaller than the fixed probe's smallest array get
// none, as before those figures existed.
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
    // The figures of a data set of `count` records with `distribution`: the
    // empty, unmeasured table when it is not priced. The reference holds
    // until the next probe.
    const DataSetLimits& For(Distribution distribution, std::uint64_t count);
    // Every table probed, in the order probed.
    const std::vector<DataSetLimits>& Probed() const { return probed; }

    // What the probes still to come will take, for -R auto's estimate: the
    // time per record, timed on the largest priced count up to `pilotCount`
    // (probed here and kept for that count's data sets, so nothing is probed
    // twice), and the data sets that will probe, in run order (0 = the
    // first): the first type's uniform series holds the first data set of
    // every count. None when the run prices no data set.
    struct Estimate {
        double msPerRecord = 0.0;
        std::vector<std::size_t> probingDataSets;
    };
    Estimate EstimateFor(const std::vector<std::uint64_t>& counts, const std::vector<Distribution>& distributions,
                         std::uint64_t pilotCount);

private:
    const DataSetLimits& At(std::uint64_t count);

    bool prices = false;
    std::uint64_t smallestArrayBytes = 0;
    LimitsProbeOptions options;
    std::vector<DataSetLimits> probed;
};
