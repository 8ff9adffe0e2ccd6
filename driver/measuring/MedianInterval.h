#pragma once

#include <cstddef>
#include <optional>
#include <vector>

// A distribution-free confidence interval of the median of repeated timings.
//
// For n independent samples of any continuous distribution, the median lies
// between the k-th smallest and the k-th largest sample with probability
// 1 - 2 P(B < k), B ~ Binomial(n, 1/2). The interval takes the largest k whose
// coverage is still at least the confidence asked for, so it assumes nothing
// about the shape of the timings (they are skewed and often bimodal).

struct MedianInterval {
    double low;
    double high;
};

// The smallest number of samples that gives an interval at `confidence`:
// 6 for 95% (with 5 even [min, max] covers only 93.75%).
std::size_t MinimumSamplesFor(double confidence = 0.95);

// The 1-based rank k of the interval's ends for n samples: [x(k), x(n + 1 - k)];
// 0 when n samples cannot give one at `confidence`.
std::size_t IntervalRank(std::size_t n, double confidence = 0.95);

// The interval of `times` (in any order); nullopt with fewer samples than
// MinimumSamplesFor(confidence).
std::optional<MedianInterval> MedianConfidenceInterval(const std::vector<double>& times, double confidence = 0.95);

// The interval's larger distance from `median`, as a fraction of the median:
// 0.01 means the median is known to within ±1%.
double RelativeHalfWidth(const MedianInterval& interval, double median);
