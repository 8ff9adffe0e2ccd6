#include "driver/reporting/CellReportText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "strings/NumberText.h"
#include "strings/SignificantDigits.h"

namespace {

using SLib::SignificantDigits;

constexpr int kSpreadDigits = 4;
constexpr const char* kEllipsis = " \u2026 ";  // " … "

constexpr const char* kTimes = "\u00d7";  // "×"

// ", <note>" inside a suffix's brackets; nothing for no note.
std::string NoteCell(const std::string& note) { return note.empty() ? note : ", " + note; }

std::string Range(const TimingSummary& summary) {
    return SignificantDigits(summary.min, kSpreadDigits) + kEllipsis + SignificantDigits(summary.max, kSpreadDigits);
}

}  // namespace

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

std::string FloorNote(double floorRatio) { return SignificantDigits(floorRatio, 2) + kTimes + " its memory floor"; }

std::vector<std::string> NoiseReportLines(const std::vector<NoisyCell>& cells) {
    std::vector<std::string> lines;
    for (const NoisyCell& cell : cells) {
        const TimingSummary& s = cell.stats.summary;
        if (!cell.stats.noisy) continue;
        if (lines.empty()) {
            lines.push_back("Noisy cells (coefficient of variation above " + SLib::STR_Typed(kNoisyCvLimit * 100.0) +
                            "%):");
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

bool MissedTarget(const NoisyCell& cell) { return !cell.stats.intervalReached.value_or(true); }

std::vector<std::string> DriftLines(const std::vector<NoisyCell>& cells, const std::string& percent) {
    std::vector<DriftedDataSet> drifted;
    for (const NoisyCell& cell : cells) {
        if (!cell.stats.drifted) continue;
        if (drifted.empty() || drifted.back().dataType != cell.dataType || drifted.back().count != cell.count)
            drifted.push_back({cell.dataType, cell.count, cell.stats.drift.value_or(0.0), 0});
        if (MissedTarget(cell)) ++drifted.back().missed;
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
        const CellStatistics& stats = cell.stats;
        if (!MissedTarget(cell) || stats.drifted) continue;
        if (lines.empty())
            lines.push_back("Cells whose 95% interval is wider than \u00b1" + percent + "% of the median:");
        std::string line = "  " + cell.dataType + " " + std::to_string(cell.count) + " " + cell.column + ": median " +
                           SignificantDigits(stats.summary.median, kSpreadDigits) + " ms, ";
        if (stats.interval) {
            line += "95% CI " + SignificantDigits(stats.interval->low, kSpreadDigits) + kEllipsis +
                    SignificantDigits(stats.interval->high, kSpreadDigits) + " (\u00b1" +
                    PercentText(stats.halfWidth.value_or(0.0)) + ")";
        } else {
            line += "no 95% CI in " + std::to_string(stats.summary.runs) + " runs";
        }
        lines.push_back(line);
    }
    const bool anyMissed = std::any_of(cells.begin(), cells.end(), MissedTarget);
    if (!lines.empty()) {
        lines.push_back("Close other programs, or raise -T for these data sets, for narrower intervals.");
    } else if (!cells.empty() && !anyMissed) {
        lines.push_back("Every cell's 95% interval is within \u00b1" + percent + "% of its median.");
    }
    for (std::string& line : DriftLines(cells, percent)) lines.push_back(std::move(line));
    return lines;
}

std::vector<std::string> BelowFloorReportLines(const std::vector<NoisyCell>& cells) {
    std::vector<std::string> lines;
    for (const NoisyCell& cell : cells) {
        const CellStatistics& stats = cell.stats;
        if (!stats.belowFloor) continue;
        if (lines.empty()) lines.push_back("Cells measured below their memory floor, which no sort can beat:");
        lines.push_back("  " + cell.dataType + " " + std::to_string(cell.count) + " " + cell.column + ": median " +
                        SignificantDigits(stats.summary.median, kSpreadDigits) + " ms, floor " +
                        SignificantDigits(stats.floorMs.value_or(0.0), kSpreadDigits) + " ms (" +
                        SignificantDigits(stats.floorRatio.value_or(0.0), 2) + kTimes + ")");
    }
    if (!lines.empty()) {
        lines.push_back("The floor's model does not hold for these cells: their ratios to it say nothing.");
    }
    return lines;
}

std::string UnreliableFloorsLine(const std::vector<NoisyCell>& cells) {
    const auto unreliable = static_cast<std::size_t>(
        std::count_if(cells.begin(), cells.end(), [](const NoisyCell& cell) { return cell.stats.floorUnreliable; }));
    if (unreliable == 0) return {};
    const bool one = unreliable == 1;
    return std::string("Note: the memory floor") +
           (one ? " of 1 cell" : "s of " + std::to_string(unreliable) + " cells") +
           " could not be priced reliably: the probes around " +
           (one ? "its rounds priced it" : "their rounds priced them") + " more than " +
           SignificantDigits(kFloorProbesApart, 2) + kTimes + " apart (floor_unreliable in run.json)";
}

std::string PercentText(double fraction) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f%%", fraction * 100.0);
    return text;
}
