#include "driver/measuring/TimingStats.h"

#include <algorithm>
#include <cmath>

double TimingSummary::Cv() const { return mean == 0.0 ? 0.0 : stdDev / mean; }

TimingSummary Summarize(const std::vector<double>& times) {
    std::vector<double> sorted(times);
    std::sort(sorted.begin(), sorted.end());
    const std::size_t n = sorted.size();

    TimingSummary summary{};
    summary.runs = n;
    summary.min = sorted.front();
    summary.max = sorted.back();
    summary.median = n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;

    double sum = 0.0;
    for (double t : sorted) sum += t;
    summary.mean = sum / static_cast<double>(n);

    // Two passes: subtracting the mean first keeps the squares small, where
    // sum-of-squares minus square-of-sum would cancel away the digits that matter.
    if (n > 1) {
        double squares = 0.0;
        for (double t : sorted) squares += (t - summary.mean) * (t - summary.mean);
        summary.stdDev = std::sqrt(squares / static_cast<double>(n - 1));
    }
    return summary;
}

std::vector<double> PairedRatios(const std::vector<double>& standard, const std::vector<double>& times) {
    std::vector<double> ratios;
    for (std::size_t r = 0; r < std::min(standard.size(), times.size()); ++r) ratios.push_back(standard[r] / times[r]);
    return ratios;
}
