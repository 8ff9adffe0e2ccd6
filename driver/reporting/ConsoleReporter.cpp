#include "driver/reporting/ConsoleReporter.h"

#include <cinttypes>
#include <cstdio>

#include "driver/machine/LimitsText.h"
#include "driver/output/ConsoleText.h"
#include "driver/output/LogCPU.h"
#include "driver/output/SectionBanners.h"
#include "driver/reporting/CellReportText.h"
#include "driver/reporting/PeerText.h"
#include "strings/EscapedText.h"
#include "strings/GroupedNumber.h"
#include "strings/NumberText.h"
#include "support/StatusLine.h"

namespace {

constexpr const char* kQaPassLine = "QA Test Passed: CPU & GPU Numbers match";
constexpr const char* kAbortLine = "ABORTING BENCH TEST";

void PrintLines(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) AppCore::ConsolePrintf("%s\n", line.c_str());
}

}  // namespace

void ConsoleReporter::RunStarted(const RunStartRecord& start) {
    LogCPU::Log(start.machine);
    if (start.conditions) PrintLines(RunConditionLines(*start.conditions));
    if (start.conditions && start.parallelPeerThreads)
        AppCore::ConsolePrintf("%s\n", PeerThreadsLine(*start.parallelPeerThreads).c_str());
    if (start.conditions && start.pairThreads)
        AppCore::ConsolePrintf("%s\n", PairThreadsLine(*start.pairThreads).c_str());
    if (start.cpuLimits) PrintLines(LimitsLines(*start.cpuLimits));
    if (start.conditions) PrintLines(RunConditionWarnings(*start.conditions));
}

void ConsoleReporter::RunsRepaired(const std::vector<std::string>& runDirectories) {
    for (const std::string& repaired : runDirectories)
        AppCore::ConsolePrintf("Repaired the result files of an interrupted run: %s\n",
                               SLib::EscapedControls(repaired).c_str());
}

void ConsoleReporter::RunRefused(const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }

void ConsoleReporter::RunClosed(const RunClosedRecord& closed) {
    if (!closed.jsonPath.empty()) {
        AppCore::ConsolePrintf("Cannot write %s: %s\n", SLib::EscapedControls(closed.jsonPath).c_str(),
                               closed.jsonProblem.c_str());
    }
    if (closed.unwrittenCells != 0) {
        AppCore::ConsolePrintf("Results incomplete: %" PRIu64 " cells could not be written to %s (%s)\n",
                               closed.unwrittenCells, SLib::EscapedControls(closed.runDirectory).c_str(),
                               closed.unwrittenFiles.c_str());
    }
    // The scripts read run.json first: say at the end that it lags behind the result files.
    if (!closed.manifestPath.empty()) {
        AppCore::ConsolePrintf("Manifest out of date: %s could not be written at the end of the run (%s)\n",
                               SLib::EscapedControls(closed.manifestPath).c_str(), closed.manifestProblem.c_str());
    }
}

void ConsoleReporter::GpuExamining() { AppCore::ConsolePrintf("%s\n", SectionBanner("GPU INFO").c_str()); }

void ConsoleReporter::GpuExamined(const std::string& report) {
    if (!report.empty()) AppCore::ConsolePrintf("%s", report.c_str());
}

void ConsoleReporter::GpuLimitsMeasured(const GpuLimits& limits) { PrintLines(GpuLimitsLines(limits)); }

void ConsoleReporter::LimitsMeasured(const CpuLimits& limits, std::uint64_t smallestProbedBytes) {
    AppCore::ConsolePrintf("%s\n", SectionBanner("LIMITS", kLimitsSectionDashes).c_str());
    PrintLines(LimitsLines(limits));
    AppCore::ConsolePrintf("%s\n", OwnSizePricingLine(smallestProbedBytes).c_str());
}

void ConsoleReporter::SorterSaid(const std::string& lines) { AppCore::ConsolePrintf("%s", lines.c_str()); }

void ConsoleReporter::RunStopped(const std::string& reason) { AppCore::ConsolePrintf("%s\n", reason.c_str()); }

void ConsoleReporter::RunEstimated(const RunEstimateRecord& estimate) {
    AppCore::ConsolePrintf(
        "Estimated run time: about %s (one sort of each column on %s %s records, scaled to every data set; "
        "longer if the machine gets busier)\n",
        DurationText(estimate.seconds).c_str(), SLib::GroupedNumber(estimate.pilotCount).c_str(),
        estimate.typeName.c_str());
}

void ConsoleReporter::DataSetStarted(const DataSetRecord& set) {
    if (set.position == 1) {
        const std::string keys = set.distribution == Distribution::Uniform
                                     ? std::string()
                                     : std::string(" (") + DistributionName(set.distribution) + " keys)";
        AppCore::ConsolePrintf(
            "================================= Running %s Benchmark%s "
            "=================================\n",
            set.typeName, keys.c_str());
    }
    AppCore::ConsolePrintf("------- Count: %s, %i/%i -------\n", SLib::GroupedNumber(set.count).c_str(), set.position,
                           set.counts);
}

void ConsoleReporter::DataSetRefused(const DataSetRecord&, const std::string& reason) {
    AppCore::ConsolePrintf("%s\n", reason.c_str());
}

void ConsoleReporter::CellMeasured(const DataSetRecord& set, const CellRecord& cell) {
    const ColumnFacts& facts = FactsOf(cell.column);
    if (!repetition.Repeated()) {
        AppCore::ConsolePrintf("%s %s - %f ms\n", set.typeName, facts.consoleLabel, cell.times.front());
        return;
    }
    const CellStatistics& stats = cell.stats;
    const std::string note = stats.floorRatio ? FloorNote(*stats.floorRatio) : std::string();
    const std::string suffix = repetition.untilSure ? SureSpreadSuffix(stats.summary, stats.interval, note)
                                                    : SpreadSuffix(stats.summary, note);
    AppCore::ConsolePrintf("%s %s - %f ms%s\n", set.typeName, facts.consoleLabel, stats.summary.median, suffix.c_str());
    cells.push_back({set.series, set.count, facts.name, stats});
}

void ConsoleReporter::CellSkipped(const DataSetRecord& set, const SkippedCellRecord& cell) {
    AppCore::ConsolePrintf("%s\n", SkippedCellLine(set, cell).c_str());
}

void ConsoleReporter::CheckEnded(const DataSetRecord&, const std::string& problem) {
    if (problem.empty()) {
        AppCore::ConsolePrintf("%s\n", kQaPassLine);
    } else {
        AppCore::ConsolePrintf("%s\n%s\n", problem.c_str(), kAbortLine);
    }
}

void ConsoleReporter::DataSetEnded(const DataSetRecord& set, const DataSetEndRecord& end) {
    if (!repetition.untilSure || end.outcome != Outcome::Continue) return;
    const std::string drift = end.drift ? ", machine drift " + PercentText(*end.drift) : std::string();
    AppCore::ConsolePrintf("%s %" PRIu64 ": %s median's 95%% interval within %s%% after %d rounds (%.2f s of %g s%s)\n",
                           set.series.c_str(), set.count, end.intervalReached ? "every" : "not every",
                           SLib::STR_Typed(repetition.intervalTarget * 100.0).c_str(), end.rounds, end.seconds,
                           repetition.budgetSeconds, drift.c_str());
}

void ConsoleReporter::MeasuringEnded(const MeasuringEndRecord& end) {
    if (!repetition.Repeated()) return;
    if (repetition.untilSure) {
        PrintLines(IntervalReportLines(cells, repetition.intervalTarget));
    } else {
        const std::vector<std::string> lines = NoiseReportLines(cells);
        if (lines.empty() && !cells.empty()) {
            AppCore::ConsolePrintf("Every cell's coefficient of variation is at most %g%%.\n", kNoisyCvLimit * 100);
        }
        PrintLines(lines);
    }
    PrintLines(BelowFloorReportLines(cells));
    // Only when a floor could not be priced reliably; other runs' lines stay as they were.
    if (const std::string note = UnreliableFloorsLine(cells); !note.empty())
        AppCore::ConsolePrintf("%s\n", note.c_str());
    if (end.ownSizeProbes)
        AppCore::ConsolePrintf("%s\n", OwnSizeProbesLine(*end.ownSizeProbes, end.runSeconds).c_str());
    if (end.memoryLooked) AppCore::ConsolePrintf("%s\n", HugePagesLine(end.largestMemory).c_str());
}
