#include "driver/measuring/OwnSizeProbes.h"

#include <algorithm>

bool OwnSizeProbes::Prices(std::uint64_t count) const {
    return prices && count * sizeof(std::uint32_t) >= smallestArrayBytes;
}

const DataSetLimits& OwnSizeProbes::For(Distribution distribution, std::uint64_t count) {
    static const DataSetLimits unpriced;
    if (distribution != Distribution::Uniform || !Prices(count)) return unpriced;
    return At(count);
}

const DataSetLimits& OwnSizeProbes::At(std::uint64_t count) {
    for (const DataSetLimits& limits : probed)
        if (limits.records == count) return limits;
    probed.push_back(ProbeDataSetLimits(count, options));
    return probed.back();
}

OwnSizeProbes::Estimate OwnSizeProbes::EstimateFor(const std::vector<std::uint64_t>& counts,
                                                   const std::vector<Distribution>& distributions,
                                                   std::uint64_t pilotCount) {
    Estimate estimate;
    const auto uniform = std::find(distributions.begin(), distributions.end(), Distribution::Uniform);
    if (uniform == distributions.end()) return estimate;
    std::uint64_t timedCount = 0;
    for (const std::uint64_t count : counts) {
        if (count <= pilotCount && count > timedCount && Prices(count)) timedCount = count;
    }
    if (timedCount == 0) return estimate;
    const DataSetLimits& timed = At(timedCount);
    if (!timed.Measured()) return estimate;
    estimate.msPerRecord = timed.seconds * 1000.0 / static_cast<double>(timedCount);
    const auto series = static_cast<std::size_t>(uniform - distributions.begin());
    for (std::size_t position = 0; position < counts.size(); ++position) {
        // The count timed here is probed already.
        if (counts[position] != timedCount && Prices(counts[position]))
            estimate.probingDataSets.push_back(series * counts.size() + position);
    }
    return estimate;
}
