#include "driver/reporting/ProgressLine.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "driver/output/ConsoleText.h"
#include "strings/GroupedNumber.h"
#include "support/DataTypes.h"
#include "support/SecondsSince.h"
#include "support/StatusLine.h"

RunProgress ProgressModel(const RunPlan& plan) {
    std::vector<Growth> growth;
    for (const Column column : plan.columns) {
        const ColumnSorter sorter = FactsOf(column).sorter;
        // Most peers compare; spreadsort's radix splits end in comparison sorts too.
        const bool comparisons = sorter == ColumnSorter::StandardSort || sorter == ColumnSorter::PeerSort;
        growth.push_back(comparisons ? Growth::Linearithmic : Growth::Linear);
    }
    std::vector<std::uint64_t> counts;
    for (std::size_t series = 0; series < plan.types.size() * plan.distributions.size(); ++series)
        counts.insert(counts.end(), plan.counts.begin(), plan.counts.end());
    // -R auto runs at least the rounds an interval needs: a first guess until one data set shows.
    return RunProgress(growth, counts, plan.repetition.FewestRounds(),
                       plan.repetition.untilSure ? plan.repetition.budgetSeconds : 0.0);
}

void LearnFromPilot(RunProgress& model, const RunEstimateRecord& estimate) {
    model.RoundOverhead(estimate.roundOverheadMs / 1000.0);
    model.DataSetOverhead(estimate.dataSetOverheadMs / 1000.0);
    model.SetupPerRecord(estimate.setupMs / 1000.0 /
                         static_cast<double>(std::max<std::uint64_t>(estimate.pilotCount, 1)));
    model.ProbesAt(estimate.probingDataSets, estimate.probeMsPerRecord / 1000.0);
    for (std::size_t column = 0; column < estimate.fixedMs.size(); ++column)
        model.FixedCost(column, estimate.fixedMs[column] / 1000.0);
    for (std::size_t column = 0; column < estimate.pilotMs.size(); ++column)
        model.MeasuredAt(column, estimate.pilotCount, estimate.pilotMs[column]);
}

namespace {

using AppCore::SecondsSince;

}  // namespace

ProgressLine::ProgressLine(RunProgress model, const Repetition& repetition)
    : repetition(repetition), progress(std::move(model)) {}

void ProgressLine::DataSetStarted(const DataSetRecord&) {
    if (dataSets == 0) runStarted = Clock::now();
    progress.StartDataSet(dataSets++);
    dataSetStarted = Clock::now();
}

void ProgressLine::RunEstimated(const RunEstimateRecord& estimate) { LearnFromPilot(progress, estimate); }

void ProgressLine::CellMeasured(const DataSetRecord&, const CellRecord& cell) {
    progress.Measured(cell.index, cell.stats.summary.median);
}

void ProgressLine::DataSetEnded(const DataSetRecord&, const DataSetEndRecord& end) {
    if (repetition.untilSure) progress.RoundsTaken(end.rounds);
}

void ProgressLine::BeforeSort(const DataSetRecord& set, const std::string& sorter, int round) {
    AppCore::StatusLine& status = AppCore::StatusLine::OnStandardError();
    if (status.Active()) status.Show(Text(set, sorter, round, SecondsSince(runStarted), SecondsSince(dataSetStarted)));
}

std::string ProgressLine::Text(const DataSetRecord& set, const std::string& sorter, int round, double runSeconds,
                               double dataSetSeconds) const {
    std::string text = set.typeName;
    if (set.distribution != Distribution::Uniform) text += std::string(" ") + DistributionName(set.distribution);
    // Appended piece by piece: " " + text trips a false -Wrestrict in GCC 12.
    text += ' ';
    text += std::to_string(set.position);
    text += '/';
    text += std::to_string(set.counts);
    text += " (";
    text += SLib::GroupedNumber(set.count);
    text += "): ";
    text += sorter;
    text += ", ";
    if (round == 0) {
        text += "warm-up";
    } else {
        text += "round " + std::to_string(round);
        if (repetition.Mode() == RepetitionMode::FixedRounds) text += " of " + std::to_string(repetition.count);
    }
    text += " | " + DurationText(runSeconds) + " elapsed";
    const std::optional<double> left = progress.SecondsLeft(dataSetSeconds);
    text += left ? ", about " + DurationText(*left) + " left" : ", estimating the time left";
    return text;
}
