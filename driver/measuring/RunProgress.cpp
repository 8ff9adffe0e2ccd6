#include "driver/measuring/RunProgress.h"

#include <algorithm>
#include <cmath>

#include "driver/measuring/MedianInterval.h"

RunProgress::RunProgress(std::vector<Growth> growth, std::vector<std::uint64_t> counts, int rounds,
                         double budgetSeconds)
    : growth(std::move(growth)),
      counts(std::move(counts)),
      rounds(std::max(rounds, 1)),
      budgetSeconds(budgetSeconds),
      secondsPerWork(this->growth.size()),
      fixedSeconds(this->growth.size(), 0.0) {}

void RunProgress::StartDataSet(std::size_t index) { current = index; }

double RunProgress::Work(std::size_t column, std::uint64_t count) const {
    const double n = static_cast<double>(std::max<std::uint64_t>(count, 2));
    return growth[column] == Growth::Linearithmic ? n * std::log2(n) : n;
}

void RunProgress::Measured(std::size_t column, double milliseconds) {
    if (current < counts.size()) MeasuredAt(column, counts[current], milliseconds);
}

void RunProgress::MeasuredAt(std::size_t column, std::uint64_t count, double milliseconds) {
    if (column >= secondsPerWork.size()) return;
    const double seconds = milliseconds / 1000.0;
    const double fixed = fixedSeconds[column];
    if (fixed > 0.0 && seconds <= 2.0 * fixed) {
        if (!secondsPerWork[column]) secondsPerWork[column] = 0.0;
        return;
    }
    secondsPerWork[column] = (seconds - fixed) / Work(column, count);
}

void RunProgress::FixedCost(std::size_t column, double seconds) {
    if (column < fixedSeconds.size()) fixedSeconds[column] = std::max(seconds, 0.0);
}

void RunProgress::RoundsTaken(int taken) { rounds = std::max(taken, 1); }

void RunProgress::RoundOverhead(double seconds) { roundOverheadSeconds = std::max(seconds, 0.0); }

void RunProgress::SetupPerRecord(double seconds) { setupSecondsPerRecord = std::max(seconds, 0.0); }

void RunProgress::DataSetOverhead(double seconds) { dataSetOverheadSeconds = std::max(seconds, 0.0); }

void RunProgress::ProbesAt(const std::vector<std::size_t>& dataSets, double secondsPerRecord) {
    probeSeconds.assign(counts.size(), 0.0);
    for (const std::size_t index : dataSets) {
        if (index < counts.size())
            probeSeconds[index] += std::max(secondsPerRecord, 0.0) * static_cast<double>(counts[index]);
    }
}

double RunProgress::DataSetSeconds(std::size_t index) const {
    const std::uint64_t count = counts[index];
    double sorts = 0.0;
    for (std::size_t column = 0; column < secondsPerWork.size(); ++column) {
        if (secondsPerWork[column]) sorts += fixedSeconds[column] + *secondsPerWork[column] * Work(column, count);
    }
    // Every round times each sorter once; the warm-up is one more sort of each.
    // With a budget the rounds an interval needs run whatever it says, and the
    // round that crosses the budget runs to its end.
    const double round = sorts + roundOverheadSeconds;
    const double fewest = sorts + round * static_cast<double>(MinimumSamplesFor());
    const double planned = sorts + round * rounds;
    const double probe = index < probeSeconds.size() ? probeSeconds[index] : 0.0;
    const double setup = dataSetOverheadSeconds + setupSecondsPerRecord * static_cast<double>(count) + probe;
    return setup + (budgetSeconds > 0.0 ? std::max(std::min(planned, budgetSeconds + round), fewest) : planned);
}

std::optional<double> RunProgress::SecondsLeft(double spentInDataSet) const {
    const bool measured = std::any_of(secondsPerWork.begin(), secondsPerWork.end(),
                                      [](const std::optional<double>& cost) { return cost.has_value(); });
    if (!measured || current >= counts.size()) return std::nullopt;
    double seconds = std::max(DataSetSeconds(current) - spentInDataSet, 0.0);
    for (std::size_t next = current + 1; next < counts.size(); ++next) seconds += DataSetSeconds(next);
    return seconds;
}
