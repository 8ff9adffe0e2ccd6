#include "driver/measuring/TimingStats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "strings/NumberText.h"

namespace {

constexpr int kSpreadDigits = 4;
constexpr const char* kEllipsis = " \u2026 ";  // " … "

std::string Printed(const char* format, int precision, double value) {
    const int length = std::snprintf(nullptr, 0, format, precision, value);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, precision, value);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

std::string OneDecimal(double value) { return Printed("%.*f", 1, value); }

std::string TimeCell(double value) { return SLib::STR_FromNum(value, 0, 12, 15); }

std::string Range(const TimingSummary& summary) {
    return SignificantDigits(summary.min, kSpreadDigits) + kEllipsis + SignificantDigits(summary.max, kSpreadDigits);
}

}  // namespace

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

std::vector<std::size_t> RoundOrder(std::size_t sorters, std::size_t round) {
    std::vector<std::size_t> order(sorters);
    for (std::size_t j = 0; j < sorters; ++j) order[j] = (round % sorters + j) % sorters;
    return order;
}

std::string SignificantDigits(double value, int digits) {
    if (!std::isfinite(value)) return Printed("%.*f", 0, value);
    digits = std::max(digits, 1);
    // The exponent of the value as rounded to `digits` digits, so 999.96 at four
    // digits counts as 1000 and gets no decimal.
    const std::string scientific = Printed("%.*e", digits - 1, value);
    const int exponent = std::atoi(scientific.c_str() + scientific.find('e') + 1);
    return Printed("%.*f", std::max(digits - 1 - exponent, 0), value);
}

std::string SpreadSuffix(const TimingSummary& summary) {
    return " (median of " + std::to_string(summary.runs) + ", " + Range(summary) + ", cv " +
           OneDecimal(summary.Cv() * 100.0) + "%)";
}

std::string StatsHeader() { return "NbRecords,Column,Runs,Min,Median,Mean,Max,StdDev,Times"; }

std::string StatsRow(std::uint64_t count, const std::string& column, const std::vector<double>& times) {
    const TimingSummary summary = Summarize(times);
    // Built by append: "\n" + text trips a false -Wrestrict in GCC 12.
    std::string row(1, '\n');
    row += std::to_string(count);
    row += ',';
    row += column;
    row += ',';
    row += std::to_string(summary.runs);
    for (double value : {summary.min, summary.median, summary.mean, summary.max, summary.stdDev}) {
        row += ',';
        row += TimeCell(value);
    }
    row += ',';
    for (std::size_t i = 0; i < times.size(); ++i) {
        if (i > 0) row += ';';
        row += TimeCell(times[i]);
    }
    return row;
}

std::vector<std::string> NoiseReportLines(const std::vector<NoisyCell>& cells, double cvLimit) {
    std::vector<std::string> lines;
    for (const NoisyCell& cell : cells) {
        const TimingSummary& s = cell.summary;
        if (!(s.Cv() > cvLimit)) continue;
        if (lines.empty()) {
            lines.push_back("Noisy cells (coefficient of variation above " + Printed("%.*g", 6, cvLimit * 100.0) +
                            "%):");
        }
        lines.push_back("  " + cell.dataType + " " + std::to_string(cell.count) + " " + cell.column + ": cv " +
                        OneDecimal(s.Cv() * 100.0) + "% (median " + SignificantDigits(s.median, kSpreadDigits) +
                        " ms, " + Range(s) + ")");
    }
    if (!lines.empty()) lines.push_back("Close other programs or raise -R for steadier medians.");
    return lines;
}
