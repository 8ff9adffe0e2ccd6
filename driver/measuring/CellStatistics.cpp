#include "driver/measuring/CellStatistics.h"

#include <utility>

bool IntervalWithin(const std::optional<MedianInterval>& interval, double median, double target) {
    return interval && RelativeHalfWidth(*interval, median) <= target;
}

CellStatistics CellStatisticsOf(const std::vector<double>& times, const CellContext& context) {
    CellStatistics cell;
    cell.summary = Summarize(times);
    const double median = cell.summary.median;
    cell.interval = MedianConfidenceInterval(times);
    if (cell.interval) cell.halfWidth = RelativeHalfWidth(*cell.interval, median);
    cell.noisy = cell.summary.Cv() > kNoisyCvLimit;
    cell.floorMs = context.floorMs;
    if (context.floorMs && *context.floorMs > 0.0) {
        cell.floorRatio = median / *context.floorMs;
        cell.belowFloor = median < *context.floorMs;
        if (const std::optional<FloorSpread>& spread = context.floorSpread;
            spread && spread->lowestMs > 0.0 && spread->highestMs >= spread->lowestMs) {
            cell.floorRatioRange = RatioRange{.low = median / spread->highestMs, .high = median / spread->lowestMs};
            cell.floorUnreliable = spread->highestMs > kFloorProbesApart * spread->lowestMs;
        }
    }
    if (context.standardTimes) {
        PairedSpeedups paired{.ratios = PairedRatios(*context.standardTimes, times), .median = 0.0, .interval = {}};
        if (!paired.ratios.empty()) {
            paired.median = Summarize(paired.ratios).median;
            paired.interval = MedianConfidenceInterval(paired.ratios);
        }
        cell.paired = std::move(paired);
    }
    cell.drift = context.drift;
    if (context.intervalTarget) {
        cell.intervalReached = IntervalWithin(cell.interval, median, *context.intervalTarget);
        cell.drifted = context.drift && *context.drift > kDriftTargets * *context.intervalTarget;
    }
    return cell;
}
