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

const DataSetLimits& OwnSizeProbes::After(Distribution distribution, std::uint64_t count) {
    static const DataSetLimits unpriced;
    if (distribution != Distribution::Uniform || !Prices(count)) return unpriced;
    return Probe(count);
}

const DataSetLimits& OwnSizeProbes::At(std::uint64_t count) {
    // A probe after the rounds may be skipped where the one before them was not.
    const DataSetLimits* latest = nullptr;
    for (auto limits = probed.rbegin(); limits != probed.rend(); ++limits) {
        if (limits->records != count) continue;
        if (limits->Measured()) return *limits;
        if (!latest) latest = &*limits;
    }
    return latest ? *latest : Probe(count);
}

const DataSetLimits& OwnSizeProbes::Probe(std::uint64_t count) {
    probed.push_back(ProbeDataSetLimits(count, options));
    return probed.back();
}

OwnSizeProbes::Estimate OwnSizeProbes::EstimateFor(const std::vector<std::uint64_t>& counts,
                                                   const std::vector<Distribution>& distributions, std::size_t types,
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
    for (std::size_t type = 0; type < types; ++type) {
        for (std::size_t position = 0; position < counts.size(); ++position) {
            if (!Prices(counts[position])) continue;
            const std::size_t dataSet = (type * distributions.size() + series) * counts.size() + position;
            // The count timed here is probed already.
            if (type == 0 && counts[position] != timedCount) estimate.probingDataSets.push_back(dataSet);
            estimate.probingDataSets.push_back(dataSet);
        }
    }
    return estimate;
}
