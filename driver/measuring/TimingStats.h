#pragma once

#include <cstddef>
#include <vector>

// Statistics over the repeated timings (milliseconds) of one sorter on one data
// set. Their text lives with what writes it: the stats and speed-up files
// (driver/output/StatsFiles.h) and the console (driver/reporting/CellReportText.h).

struct TimingSummary {
    std::size_t runs;
    double min, median, mean, max, stdDev;

    // Coefficient of variation stdDev / mean; 0 when mean is 0.
    double Cv() const;
};

// Summary of `times`, which must not be empty. The median is the middle value of
// the sorted times, the mean of the two middle ones for an even count. stdDev is
// the sample standard deviation (divides by n - 1, like Google Benchmark's stddev
// aggregate), 0 for a single run. The caller's vector keeps its order.
TimingSummary Summarize(const std::vector<double>& times);

// The paired speed-ups standard[r] / times[r] for every round r both have.
std::vector<double> PairedRatios(const std::vector<double>& standard, const std::vector<double>& times);
