#include "driver/DataSetLoop.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <system_error>
#include <type_traits>

#include "cpu_sort/pairs/PairRadixSorter.h"
#include "driver/ExitStatus.h"
#include "driver/measuring/KeyDistributions.h"
#include "driver/output/ResultFiles.h"
#include "driver/reporting/RoundObservers.h"
#include "strings/MemoryText.h"
#include "support/SecondsSince.h"

namespace {

using AppCore::DataType;
using AppCore::SecondsSince;
using Clock = std::chrono::steady_clock;

// `visit(std::type_identity<Element>{})` for the element type of `type`: the
// one switch from a data type to the templates that take its elements.
template <typename Visit>
auto WithElementOf(DataType type, Visit visit) {
    switch (type) {
    case DataType::INT: return visit(std::type_identity<AppCore::ElementOf<DataType::INT>>{});
    case DataType::FLOAT: return visit(std::type_identity<AppCore::ElementOf<DataType::FLOAT>>{});
    case DataType::BIGINT: return visit(std::type_identity<AppCore::ElementOf<DataType::BIGINT>>{});
    case DataType::BIGFLOAT: break;
    }
    return visit(std::type_identity<AppCore::ElementOf<DataType::BIGFLOAT>>{});
}

// The line that ends the run at a data set it cannot benchmark.
std::string CannotBenchmark(const DataSetRecord& set, const std::string& reason) {
    return "Cannot benchmark " + std::to_string(set.count) + " " + set.typeName + " records: " + reason;
}

RoundsPlan RoundsPlanFor(const Repetition& repetition, Clock::time_point started) {
    return RoundsPlan{.repetition = repetition,
                      .elapsedSeconds = [started] { return SecondsSince(started); },
                      .beforeSort = nullptr,
                      .referenceMs = nullptr,
                      .afterRounds = nullptr};
}

// Whether `columns` has the GPU's: -COLUMNS may leave them out of a -GPU run, and with them the QA reference.
bool TimesGpu(const std::vector<Column>& columns) {
    return std::find(columns.begin(), columns.end(), Column::Gpu) != columns.end();
}

}  // namespace

int ExitStatusOf(Outcome outcome) {
    switch (outcome) {
    case Outcome::Continue: return kExitComplete;
    case Outcome::SortFailed: return kExitGpuSortFailed;
    case Outcome::CheckFailed: return kExitCheckFailed;
    }
    return kExitComplete;
}

DataSetLoop::DataSetLoop(const RunParts& parts)
    : parts(parts),
      memory{parts.plan.columns, (parts.plan.gpuEnabled && parts.plan.qaEnabled && TimesGpu(parts.plan.columns)),
             1 + static_cast<std::uint64_t>(parts.plan.repetition.FewestRounds()), !parts.plan.repetition.Repeated()} {}

std::uint64_t DataSetLoop::HeldBytes() const { return parts.data.size + parts.tools.indices.size; }

int DataSetLoop::RefuseWhatCannotFit(ConsoleReporter& console) const {
    for (const DataType typeRun : parts.plan.types) {
        const AppCore::DataTypeFacts& type = AppCore::FactsOf(typeRun);
        for (const std::uint64_t count : parts.plan.counts) {
            const std::string problem = memory.FitProblem(count, type.keyBytes, HeldBytes());
            if (problem.empty()) continue;
            const DataSetRecord set{.type = type.type,
                                    .typeName = type.name,
                                    .distribution = Distribution::Uniform,
                                    .series = {},
                                    .count = count,
                                    .position = 0,
                                    .counts = 0};
            console.RunRefused(CannotBenchmark(set, problem));
            return kExitTooLarge;
        }
    }
    return kExitComplete;
}

int DataSetLoop::RunDataType(DataType type) {
    return WithElementOf(type, [this](auto element) { return RunDataType<typename decltype(element)::type>(); });
}

template <typename Element>
int DataSetLoop::RunDataType() {
    const RunPlan& plan = parts.plan;
    const char* typeName = AppCore::DataTypeName<Element>();
    for (const Distribution distribution : plan.distributions) {
        const int listLength = static_cast<int>(plan.counts.size());
        for (int position = 1; position <= listLength; ++position) {
            const std::uint64_t count = plan.counts[position - 1];
            const DataSetRecord set{.type = AppCore::DataTypeOf<Element>(),
                                    .typeName = typeName,
                                    .distribution = distribution,
                                    .series = SeriesKey(typeName, distribution),
                                    .count = count,
                                    .position = position,
                                    .counts = listLength};
            parts.reporters.DataSetStarted(set);
            if (const std::string problem = memory.FitProblem(count, sizeof(Element), HeldBytes()); !problem.empty()) {
                parts.reporters.DataSetRefused(set, CannotBenchmark(set, problem));
                return kExitTooLarge;
            }
            try {
                const Outcome outcome = RunDataSet<Element>(set);
                if (outcome != Outcome::Continue) return ExitStatusOf(outcome);
            } catch (const std::bad_alloc&) {
                ReleaseScratch(parts.tools);
                parts.reporters.DataSetRefused(
                    set, CannotBenchmark(set, "out of memory (needs " +
                                                  SLib::MemoryText(memory.PeakBytes(count, sizeof(Element))) + ")"));
                return kExitTooLarge;
            } catch (const std::system_error& error) {
                // No thread to be had (a process or memory limit): the cells
                // measured so far stay, the run ends like any other.
                ReleaseScratch(parts.tools);
                parts.reporters.DataSetRefused(
                    set, CannotBenchmark(set, "cannot start a thread (" + error.code().message() + ")"));
                return kExitNoThreads;
            }
        }
    }
    return kExitComplete;
}

template <typename Element>
Outcome DataSetLoop::RunDataSet(const DataSetRecord& set) {
    const RunPlan& plan = parts.plan;
    SorterTools& tools = parts.tools;
    RunReporters& reporters = parts.reporters;
    // Before the data set's buffers grow: the probe's own come and go first.
    const DataSetLimits& ownSizes = parts.ownSizeProbes.For(set.distribution, set.count);
    const DataSetMemory::Room room = memory.RoomNow(HeldBytes());
    parts.tools.indices.Resize(set.count * sizeof(std::uint32_t));
    const Element* values = GenerateKeys<Element>(set.distribution, set.count, parts.data);
    // The pair columns' scratch as these keys take it: 8-byte keys of a narrow range travel as 8-byte pairs.
    const unsigned pairBytes =
        HasColumnOf(plan.columns, ColumnSorter::PairSort) ? EvalCore::PairRadixSorter::PairBytes(values, set.count) : 0;
    const DataSetMemory::PeerRoom peers =
        memory.RoomForPeers(set.count, sizeof(Element), room, tools.peerThreads, pairBytes);

    DataSetCells cells(reporters, plan.columns, plan.repetition, ownSizes, parts.gpuLimits, set, tools.peerThreads);
    const std::vector<Sorter> sorters = SortersFor(plan.columns, tools, values, set.count, peers.skipped, peers.check);
    // The budget of -R auto counts from here: warm-ups are part of a data set's time.
    const Clock::time_point started = Clock::now();
    ++dataSetsRun;
    const BeforeSort showStatus = [&](std::size_t sorter, int round) {
        parts.progressLine.BeforeSort(set, sorters[sorter].labels.front(), round);
    };
    if (!plan.repetition.Repeated()) {
        const Outcome outcome = RunOnce(sorters, cells, showStatus);
        ReleaseScratch(tools);
        reporters.DataSetEnded(
            set,
            {.outcome = outcome, .rounds = 1, .intervalReached = true, .seconds = 0.0, .referenceMs = {}, .drift = {}});
        return outcome;
    }
    RoundsPlan rounds = RoundsPlanFor(plan.repetition, started);
    // Rounds beyond the fewest (-R auto's) would let the leaking peers lose more than was counted.
    rounds.repetition.count = static_cast<int>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(rounds.repetition.count), peers.mostSorts - 1));
    rounds.beforeSort = showStatus;
    if (parts.reference) rounds.referenceMs = [this] { return parts.reference->TimeMs(); };
    // The machine's rates around the rounds, not only before them, price the
    // cells: the count is probed again before they are reported. The sorters'
    // scratch goes first, as it did before the probe ahead of them.
    bool memoryNoted = false;
    rounds.afterRounds = [&] {
        NoteProcessMemory();
        memoryNoted = true;
        ReleaseScratch(tools);
        cells.ProbedAfter(parts.ownSizeProbes.After(set.distribution, set.count));
    };
    const RoundsResult ended = RunRounds(sorters, rounds, cells);
    if (!memoryNoted) NoteProcessMemory();
    ReleaseScratch(tools);
    reporters.DataSetEnded(set, {.outcome = ended.outcome,
                                 .rounds = ended.rounds,
                                 .intervalReached = ended.intervalReached,
                                 .seconds = ended.seconds,
                                 .referenceMs = ended.referenceMs,
                                 .drift = cells.Drift()});
    return ended.outcome;
}

// After a data set's sorts, outside every timing: the reading taken while
// the process held the most memory is the one reported.
void DataSetLoop::NoteProcessMemory() {
    if (!parts.plan.repetition.Repeated()) return;
    const std::optional<ProcessMemory> now = ReadProcessMemory();
    if (!now) return;
    if (!largestMemory || now->anonymousBytes > largestMemory->anonymousBytes) largestMemory = now;
}

std::optional<DataSetLoop::PilotTimes> DataSetLoop::Pilot(DataType type, std::uint64_t count, Outcome& outcome) {
    return WithElementOf(type, [&](auto element) { return PilotOf<typename decltype(element)::type>(count, outcome); });
}

template <typename Element>
std::optional<DataSetLoop::PilotTimes> DataSetLoop::PilotOf(std::uint64_t count, Outcome& outcome) {
    if (!memory.FitProblem(count, sizeof(Element), HeldBytes()).empty()) return std::nullopt;
    const DataSetRecord pilot{.type = AppCore::DataTypeOf<Element>(),
                              .typeName = AppCore::DataTypeName<Element>(),
                              .distribution = Distribution::Uniform,
                              .series = {},
                              .count = count,
                              .position = 0,
                              .counts = 0};
    PilotCells cells(parts.reporters, pilot);
    const Clock::time_point started = Clock::now();
    try {
        parts.tools.indices.Resize(count * sizeof(std::uint32_t));
        const Element* values = GenerateKeys<Element>(Distribution::Uniform, count, parts.data);
        outcome = RunOnce(SortersFor(parts.plan.columns, parts.tools, values, count), cells);
    } catch (const std::bad_alloc&) {
        cells.ms.clear();
    } catch (const std::system_error&) {
        cells.ms.clear();
    }
    ReleaseScratch(parts.tools);
    if (cells.ms.empty()) return std::nullopt;
    double sortsMs = 0.0;
    for (const double ms : cells.ms) sortsMs += 2.0 * ms;
    return PilotTimes{.ms = cells.ms, .setupMs = std::max(SecondsSince(started) * 1000.0 - sortsMs, 0.0)};
}
