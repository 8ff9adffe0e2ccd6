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

// ",<low>,<high>" of the median's 95% interval; ",," without one.
std::string IntervalCells(const std::optional<MedianInterval>& interval) {
    if (!interval) return ",,";
    std::string cells(1, ',');
    cells += TimeCell(interval->low);
    cells += ',';
    cells += TimeCell(interval->high);
    return cells;
}

constexpr const char* kTimes = "\u00d7";  // "×"

// ", <note>" inside a suffix's brackets; nothing for no note.
std::string NoteCell(const std::string& note) { return note.empty() ? note : ", " + note; }

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

std::string SpreadSuffix(const TimingSummary& summary, const std::string& note) {
    return " (median of " + std::to_string(summary.runs) + ", " + Range(summary) + ", cv " + PercentText(summary.Cv()) +
           NoteCell(note) + ")";
}

std::string SureSpreadSuffix(const TimingSummary& summary, const std::optional<MedianInterval>& interval,
                             const std::string& note) {
    std::string suffix = SpreadSuffix(summary);
    suffix.pop_back();
    if (!interval)
        return suffix + ", no 95% CI below " + std::to_string(MinimumSamplesFor()) + " runs" + NoteCell(note) + ")";
    return suffix + ", 95% CI " + SignificantDigits(interval->low, kSpreadDigits) + kEllipsis +
           SignificantDigits(interval->high, kSpreadDigits) + NoteCell(note) + ")";
}

std::string FloorNote(double medianMs, double floorMs) {
    return SignificantDigits(medianMs / floorMs, 2) + kTimes + " its memory floor";
}

std::string StatsLimitsCells(std::uint64_t count, double medianMs, std::optional<double> floorMs) {
    std::string cells(1, ',');
    if (medianMs > 0.0) cells += Printed("%.*f", 0, static_cast<double>(count) / (medianMs / 1000.0));
    cells += ',';
    if (floorMs && *floorMs > 0.0) {
        cells += TimeCell(*floorMs);
        cells += ',';
        cells += TimeCell(medianMs / *floorMs);
    } else {
        cells += ',';
    }
    return cells;
}

std::string StatsReferenceCells(const std::vector<double>& referenceMs) {
    std::string cells(1, ',');
    for (std::size_t i = 0; i < referenceMs.size(); ++i) {
        if (i > 0) cells += ';';
        cells += TimeCell(referenceMs[i]);
    }
    return cells;
}

std::string StatsFileHeader(bool untilSure) {
    return StatsHeader(untilSure) + kStatsLimitsHeader + (untilSure ? kStatsReferenceHeader : "");
}

std::string StatsHeader(bool withInterval) {
    return std::string("NbRecords,Column,Runs,Min,Median,Mean,Max,StdDev,Times") +
           (withInterval ? ",CiLow,CiHigh" : "");
}

std::string StatsRow(std::uint64_t count, const std::string& column, const std::vector<double>& times,
                     const TimingSummary& summary, bool withInterval, const std::optional<MedianInterval>& interval) {
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
    if (withInterval) row += IntervalCells(interval);
    return row;
}

std::string SpeedupHeader() { return "NbRecords,Column,Runs,Median,CiLow,CiHigh,Ratios"; }

std::vector<double> PairedRatios(const std::vector<double>& standard, const std::vector<double>& times) {
    std::vector<double> ratios;
    for (std::size_t r = 0; r < std::min(standard.size(), times.size()); ++r) ratios.push_back(standard[r] / times[r]);
    return ratios;
}

std::string SpeedupRow(std::uint64_t count, const std::string& column, const std::vector<double>& ratios) {
    if (ratios.empty()) return {};
    std::string row(1, '\n');
    row += std::to_string(count);
    row += ',';
    row += column;
    row += ',';
    row += std::to_string(ratios.size());
    row += ',';
    row += TimeCell(Summarize(ratios).median);
    row += IntervalCells(MedianConfidenceInterval(ratios));
    row += ',';
    for (std::size_t i = 0; i < ratios.size(); ++i) {
        if (i > 0) row += ';';
        row += TimeCell(ratios[i]);
    }
    return row;
}

std::vector<std::string> NoiseReportLines(const std::vector<NoisyCell>& cells, double cvLimit) {
    std::vector<std::string> lines;
    for (const NoisyCell& cell : cells) {
        const TimingSummary& s = cell.summary;
        if (!(s.Cv() > cvLimit)) continue;
        if (lines.empty()) {
            lines.push_back("Noisy cells (coefficient of variation above " + SLib::STR_Typed(cvLimit * 100.0) + "%):");
        }
        lines.push_back("  " + cell.dataType + " " + std::to_string(cell.count) + " " + cell.column + ": cv " +
                        PercentText(s.Cv()) + " (median " + SignificantDigits(s.median, kSpreadDigits) + " ms, " +
                        Range(s) + ")");
    }
    if (!lines.empty()) lines.push_back("Close other programs or raise -R for steadier medians.");
    return lines;
}

namespace {

// A data set the machine drifted in, and how many of its cells missed the target.
struct DriftedDataSet {
    std::string dataType;
    std::uint64_t count;
    double drift;
    int missed;
};

bool Drifted(const NoisyCell& cell, double target) { return cell.drift && *cell.drift > 2.0 * target; }

bool MissedTarget(const NoisyCell& cell, double target) {
    return !cell.interval || RelativeHalfWidth(*cell.interval, cell.summary.median) > target;
}

std::vector<std::string> DriftLines(const std::vector<NoisyCell>& cells, double target, const std::string& percent) {
    std::vector<DriftedDataSet> drifted;
    for (const NoisyCell& cell : cells) {
        if (!Drifted(cell, target)) continue;
        if (drifted.empty() || drifted.back().dataType != cell.dataType || drifted.back().count != cell.count)
            drifted.push_back({cell.dataType, cell.count, *cell.drift, 0});
        if (MissedTarget(cell, target)) ++drifted.back().missed;
    }
    if (drifted.empty()) return {};
    std::vector<std::string> lines{
        "Data sets during which the machine's own speed moved more than \u00b1" + percent +
        "% (the machine reference's best time in its later rounds against its earlier ones):"};
    for (const DriftedDataSet& set : drifted) {
        lines.push_back("  " + set.dataType + " " + std::to_string(set.count) + ": the machine's speed drifted " +
                        PercentText(set.drift) + ", " + std::to_string(set.missed) +
                        (set.missed == 1 ? " cell" : " cells") + " missed \u00b1" + percent + "%");
    }
    lines.push_back(
        "These medians may not repeat: other work on the machine or CPU frequency scaling moved its speed. "
        "Close other programs, fix the CPU's frequency, or raise -T.");
    return lines;
}

}  // namespace

std::vector<std::string> IntervalReportLines(const std::vector<NoisyCell>& cells, double target) {
    const std::string percent = SLib::STR_Typed(target * 100.0);
    std::vector<std::string> lines;
    for (const NoisyCell& cell : cells) {
        const double width = cell.interval ? RelativeHalfWidth(*cell.interval, cell.summary.median) : 0.0;
        if (!MissedTarget(cell, target) || Drifted(cell, target)) continue;
        if (lines.empty())
            lines.push_back("Cells whose 95% interval is wider than \u00b1" + percent + "% of the median:");
        std::string line = "  " + cell.dataType + " " + std::to_string(cell.count) + " " + cell.column + ": median " +
                           SignificantDigits(cell.summary.median, kSpreadDigits) + " ms, ";
        if (cell.interval) {
            line += "95% CI " + SignificantDigits(cell.interval->low, kSpreadDigits) + kEllipsis +
                    SignificantDigits(cell.interval->high, kSpreadDigits) + " (\u00b1" + PercentText(width) + ")";
        } else {
            line += "no 95% CI in " + std::to_string(cell.summary.runs) + " runs";
        }
        lines.push_back(line);
    }
    const bool anyMissed =
        std::any_of(cells.begin(), cells.end(), [&](const NoisyCell& cell) { return MissedTarget(cell, target); });
    if (!lines.empty()) {
        lines.push_back("Close other programs, or raise -T for these data sets, for narrower intervals.");
    } else if (!cells.empty() && !anyMissed) {
        lines.push_back("Every cell's 95% interval is within \u00b1" + percent + "% of its median.");
    }
    for (std::string& line : DriftLines(cells, target, percent)) lines.push_back(std::move(line));
    return lines;
}

std::vector<std::string> BelowFloorReportLines(const std::vector<NoisyCell>& cells) {
    std::vector<std::string> lines;
    for (const NoisyCell& cell : cells) {
        if (!cell.floorMs || !(cell.summary.median < *cell.floorMs)) continue;
        if (lines.empty()) lines.push_back("Cells measured below their memory floor, which no sort can beat:");
        lines.push_back("  " + cell.dataType + " " + std::to_string(cell.count) + " " + cell.column + ": median " +
                        SignificantDigits(cell.summary.median, kSpreadDigits) + " ms, floor " +
                        SignificantDigits(*cell.floorMs, kSpreadDigits) + " ms (" +
                        SignificantDigits(cell.summary.median / *cell.floorMs, 2) + kTimes + ")");
    }
    if (!lines.empty()) {
        lines.push_back("The floor's model does not hold for these cells: their ratios to it say nothing.");
    }
    return lines;
}

std::string PercentText(double fraction) { return Printed("%.*f", 1, fraction * 100.0) + "%"; }

std::string TimeCell(double value) { return SLib::STR_FromNum(value, 0, 12, 15); }
