#include "driver/measuring/MedianInterval.h"

#include <algorithm>
#include <cmath>

std::size_t IntervalRank(std::size_t n, double confidence) {
    if (n == 0) return 0;
    // P(B = i) term by term from P(B = 0) = 2^-n, which stays a normal double up
    // to n = 1021; beyond that no rank could change anyway at 95%.
    const double alpha = (1.0 - confidence) / 2.0;
    double term = std::exp(-static_cast<double>(n) * std::log(2.0));
    double below = 0.0;  // P(B < k) for the k under test
    std::size_t rank = 0;
    for (std::size_t k = 1; 2 * k <= n + 1; ++k) {
        below += term;  // now P(B < k) = P(B <= k - 1)
        if (below > alpha) break;
        rank = k;
        term *= static_cast<double>(n - (k - 1)) / static_cast<double>(k);
    }
    return rank;
}

std::size_t MinimumSamplesFor(double confidence) {
    std::size_t n = 1;
    while (IntervalRank(n, confidence) == 0) ++n;
    return n;
}

std::optional<MedianInterval> MedianConfidenceInterval(const std::vector<double>& times, double confidence) {
    const std::size_t rank = IntervalRank(times.size(), confidence);
    if (rank == 0) return std::nullopt;
    std::vector<double> sorted(times);
    std::sort(sorted.begin(), sorted.end());
    return MedianInterval{sorted[rank - 1], sorted[sorted.size() - rank]};
}

double RelativeHalfWidth(const MedianInterval& interval, double median) {
    if (median == 0.0) return interval.low == interval.high ? 0.0 : HUGE_VAL;
    return std::max(median - interval.low, interval.high - median) / std::abs(median);
}
