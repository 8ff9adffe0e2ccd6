#include "driver/Benchmark.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>
#include <type_traits>

#include "cpu_sort/RadixSort32.h"
#include "cpu_sort/RadixSort64.h"
#include "cpu_sort/pairs/PairRadixSorter.h"
#include "driver/machine/LimitsProbe.h"
#include "driver/machine/LimitsText.h"
#include "driver/machine/MachineFacts.h"
#include "driver/machine/MachineReference.h"
#include "driver/machine/ProcessMemory.h"
#include "driver/machine/RunProbeOptions.h"
#include "driver/measuring/AppTimer.h"
#include "driver/measuring/KeyDistributions.h"
#include "driver/measuring/OwnSizeProbes.h"
#include "driver/measuring/RunProgress.h"
#include "driver/measuring/SorterRounds.h"
#include "driver/output/Interruption.h"
#include "driver/output/JsonResults.h"
#include "driver/output/LogCPU.h"
#include "driver/output/ResultFiles.h"
#include "driver/output/RunDirectory.h"
#include "driver/output/StatsFiles.h"
#include "driver/reporting/ConsoleReporter.h"
#include "driver/reporting/JsonReporter.h"
#include "driver/reporting/PeerSummary.h"
#include "driver/reporting/ProgressLine.h"
#include "driver/reporting/ResultFilesReporter.h"
#include "driver/reporting/RoundObservers.h"
#include "driver/reporting/RunConditions.h"
#include "driver/reporting/RunConditionsFile.h"
#include "driver/reporting/RunManifest.h"
#include "driver/reporting/RunRecords.h"
#include "driver/reporting/RunReporter.h"
#include "driver/sorters/DataSetMemory.h"
#include "driver/sorters/DataSetSorters.h"
#include "driver/sorters/GpuColumns.h"
#include "driver/sorters/PeerSorters.h"
#include "driver/sorters/Peers.h"
#include "strings/EscapedText.h"
#include "strings/MemoryText.h"
#include "support/CharBuffer.h"
#include "support/DataTypes.h"
#include "support/StatusLine.h"

namespace {

using AppCore::DataType;

using SLib::MemoryText;

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

// The exit status a data set's outcome ends the run with.
int ExitStatusOf(Outcome outcome) {
    switch (outcome) {
    case Outcome::Continue: return kExitComplete;
    case Outcome::SortFailed: return kExitGpuSortFailed;
    case Outcome::CheckFailed: return kExitCheckFailed;
    }
    return kExitComplete;
}

// Owns everything one run creates. Members are declared in the order the run
// creates them, so they are released in the reverse order: sorters before result
// files, result files before the data and index buffers.
class BenchmarkRun {
public:
    BenchmarkRun(const RunPlan& plan, const GpuColumns::Seams& gpuSeams) : plan(plan), gpuSeams(gpuSeams) {}

    int Run() {
        // -R auto promises an estimate before it measures: a data set it could
        // never hold is refused before any folder, probe or pilot.
        if (plan.repetition.untilSure) {
            if (const int status = RefuseWhatCannotFit(); status != kExitComplete) return status;
        }
        if (!plan.jsonPath.empty()) {
            std::optional<ReplacedFile> claimed = ReplacedFile::Claim(plan.jsonPath);
            if (!claimed) return kExitBadOption;
            jsonTarget.emplace(std::move(*claimed));
        }
        if (const int status = ClaimRunDirectory(); status != kExitComplete) return status;
        runStarted = Clock::now();
        workspace.timer.restart();
        results.ReachFilesThrough(runDirectory.ReachedPath());
        if (!OpenResultFiles()) return kExitNoDirectory;
        manifest = std::make_unique<RunManifest>(plan, plan.arguments, runDirectory);
        machine = ReadMachineFacts();
        tools.peerThreads = ParallelPeerThreads(machine.onlineCpus);
        return Finish(Benchmark());
    }

private:
    // kExitComplete, or the status the run ends with: kExitBadOption when the
    // owner rule refused a link on the log directory's path, as for a bad value.
    int ClaimRunDirectory() {
        // Without root the default place is out of reach; say how to choose another.
        const std::string hint =
            !plan.customLogDirectory && geteuid() != 0 ? " (not root: use -O DIR to put the results elsewhere)" : "";
        bool refused = false;
        // Resolved once, as it is made: the repair and the claim happen in the folder just made or found.
        std::optional<LogDirectory> logs =
            CreateLogDirectory(plan.logDirectory, plan.customLogDirectory, refused, hint);
        if (!logs) return refused ? kExitBadOption : kExitNoDirectory;
        console.RunsRepaired(RepairInterruptedRuns(logs->folder));
        std::string name = plan.runDirectory.substr(plan.logDirectory.size());
        if (!name.empty() && name.back() == '/') name.pop_back();
        if (!runDirectory.Claim(logs->folder, name, hint)) return kExitNoDirectory;
        logs->created.Keep();
        SetInterruptedResultsLocation(SLib::EscapedControls(runDirectory.Path()));
        return kExitComplete;
    }

    // One result file per data type and key distribution, and with repetitions a
    // stats file beside each.
    bool OpenResultFiles() {
        std::vector<std::string> keys;
        for (const AppCore::DataTypeFacts& type : AppCore::kDataTypes) {
            for (const Distribution distribution : plan.distributions)
                keys.push_back(SeriesKey(type.name, distribution));
        }
        if (!results.Open(runDirectory.Path(), ResultHeader(plan.columns), keys)) return false;
        return !plan.repetition.Repeated() ||
               (results.OpenStats(runDirectory.Path(), StatsFileHeader(plan.repetition.untilSure), keys) &&
                results.OpenSpeedups(runDirectory.Path(), SpeedupHeader(), keys));
    }

    // Closes the result files and reports cells the disk did not take: the run
    // then counts as incomplete, whatever else it achieved.
    int Finish(int status) {
        AppCore::StatusLine::OnStandardError().Clear();
        gpu.reset();
        tools.gpu = nullptr;
        ReleaseScratch(tools);
        const bool measured = plan.repetition.Repeated() && dataSetsRun != 0;
        reporters.MeasuringEnded({.status = status,
                                  .memoryLooked = measured,
                                  .largestMemory = largestMemory,
                                  .ownSizeProbes = measured && !ownSizeProbes.Probed().empty()
                                                       ? std::optional(ownSizeProbes.Probed())
                                                       : std::nullopt,
                                  .runSeconds = SecondsSince(runStarted)});
        RunClosedRecord closed{.runDirectory = runDirectory.Path(),
                               .jsonPath = {},
                               .jsonProblem = {},
                               .unwrittenCells = 0,
                               .unwrittenFiles = {},
                               .manifestPath = {},
                               .manifestProblem = {}};
        // What run.json's ending names, so that a reader learns which write failed and why.
        std::vector<FailedWrite> failedWrites;
        // A run that measured nothing leaves an earlier file at the path as it was.
        if (json && json->HasEntries()) {
            closed.jsonProblem = json->TryWrite();
            if (!closed.jsonProblem.empty()) {
                closed.jsonPath = plan.jsonPath;
                failedWrites.push_back({plan.jsonPath, closed.jsonProblem});
                if (status == kExitComplete) status = kExitIncomplete;
            }
        }
        for (const auto& file : results.Close()) {
            closed.unwrittenCells += file.cells;
            closed.unwrittenFiles +=
                (closed.unwrittenFiles.empty() ? "" : ", ") + file.fileName + " " + std::to_string(file.cells);
            failedWrites.push_back({file.fileName, file.error != 0 ? std::strerror(file.error) : "", file.cells});
        }
        if (closed.unwrittenCells != 0 && status == kExitComplete) status = kExitIncomplete;
        // The manifest records the status the run ends with, before the last lines.
        if (!manifest->RunEnded(status, std::move(failedWrites))) {
            closed.manifestPath = manifest->Path();
            closed.manifestProblem = manifest->Problem();
            if (status == kExitComplete) status = kExitIncomplete;
        }
        console.RunClosed(closed);
        return status;
    }

    int Benchmark() {
        reporters.Add(files);
        reporters.Add(progressLine);
        reporters.Add(console);
        // After the console, so that the summary ends the run's lines.
        if (plan.peersEnabled) reporters.Add(peerSummary);
        reporters.Add(conditionsFile);
        RunStartRecord start{.machine = machine, .conditions = std::nullopt, .cpuLimits = std::nullopt};
        const auto parallel = [](Peer peer) { return FactsOf(peer).threads == PeerThreads::EveryCpu; };
        if (std::any_of(plan.peers.begin(), plan.peers.end(), parallel)) start.parallelPeerThreads = tools.peerThreads;
        if (plan.pairsEnabled) start.pairThreads = tools.peerThreads;
        if (plan.repetition.Repeated()) {
            // Measured before any data set: the floors of the cells are priced at these rates.
            start.conditions = RunConditionsOf(machine, plan.options);
            cpuLimits = ProbeCpuLimits(RunProbeOptions());
            limitsContext = LimitsContextFields(cpuLimits);
            start.cpuLimits = cpuLimits;
            // The radix and pair columns' floors are priced at the data sets' own sizes.
            const bool priced = std::any_of(plan.columns.begin(), plan.columns.end(), [](Column column) {
                return FactsOf(column).sorter == ColumnSorter::RadixSort ||
                       FactsOf(column).sorter == ColumnSorter::PairSort;
            });
            if (priced && cpuLimits.Measured()) {
                LimitsProbeOptions ownSizes = RunProbeOptions();
                ownSizes.pairFigures = plan.pairsEnabled;
                ownSizeProbes = OwnSizeProbes(cpuLimits.arrays.front().arrayBytes, ownSizes);
            }
        }
        reporters.RunStarted(start);
        if (plan.repetition.untilSure) reference = std::make_unique<MachineReference>();
        reporters.GpuExamining();
        gpu = std::make_unique<GpuColumns>(plan.shaderPath, gpuSeams,
                                           [this](const std::string& lines) { reporters.SorterSaid(lines); });
        reporters.GpuExamined(gpu->Report());
        if (plan.gpuEnabled) tools.gpu = gpu.get();
        if (plan.gpuEnabled && plan.repetition.Repeated() && gpu->Unavailable().empty()) {
            gpuLimits = gpu->ProbeLimits(RunGpuProbeOptions());
            for (auto& field : GpuLimitsContextFields(gpuLimits)) limitsContext.push_back(std::move(field));
            reporters.GpuLimitsMeasured(gpuLimits);
        }
        if (!plan.jsonPath.empty()) {
            json = std::make_unique<JsonResults>(std::move(*jsonTarget), plan.programPath,
                                                 static_cast<std::size_t>(plan.repetition.count), machine,
                                                 plan.repetition.untilSure, limitsContext);
            jsonReporter = std::make_unique<JsonReporter>(*json);
            reporters.Add(*jsonReporter);
        }
        // The manifest is stored again after every data set: part of what each costs besides its sorts.
        const Clock::time_point storeStarted = Clock::now();
        manifest->MeasuringStarted(machine, limitsContext);
        manifestStoreMs = SecondsSince(storeStarted) * 1000.0;
        reporters.Add(*manifest);
        if (plan.infoOnly) return kExitInfoOnly;
        if (plan.gpuEnabled && !gpu->Unavailable().empty()) {
            reporters.RunStopped("GPU sorting unavailable: " + gpu->Unavailable());
            return kExitNoGpu;
        }
        if (plan.repetition.untilSure) {
            if (const int status = EstimateRun(); status != kExitComplete) return status;
        }
        for (const AppCore::DataTypeFacts& type : AppCore::kDataTypes) {
            if (const int status = RunDataType(type.type); status != kExitComplete) return status;
        }
        return kExitComplete;
    }

    // -R auto runs as long as its data sets need, which nothing tells before
    // they run: one sort of every column on a pilot data set of the narrowest
    // and of the widest type, the slower of the two scaled to every data set by
    // the status line's model, says beforehand about how long. The pilot is
    // big enough to leave the caches, as the large data sets that dominate a
    // long run do, yet no larger than the run's largest.
    int EstimateRun() {
        constexpr std::uint64_t kPilotRecords = 4'000'000;
        const std::uint64_t count = std::min(kPilotRecords, *std::max_element(plan.counts.begin(), plan.counts.end()));
        Outcome outcome = Outcome::Continue;
        std::optional<PilotTimes> narrow = Pilot<AppCore::ElementOf<DataType::INT>>(count, outcome);
        if (outcome != Outcome::Continue) return ExitStatusOf(outcome);
        std::optional<PilotTimes> wide = Pilot<AppCore::ElementOf<DataType::BIGFLOAT>>(count, outcome);
        if (outcome != Outcome::Continue) return ExitStatusOf(outcome);
        // Without the pilot's times the run goes on unestimated; the first data
        // set meets the same shortage and says so.
        // Sorts of a few records cost what every sort pays, whatever its size: starting threads above all.
        std::optional<PilotTimes> tiny = Pilot<AppCore::ElementOf<DataType::BIGFLOAT>>(kFixedCostRecords, outcome);
        if (outcome != Outcome::Continue) return ExitStatusOf(outcome);
        if (!narrow || !wide || !tiny) return kExitComplete;
        for (std::size_t column = 0; column < narrow->ms.size(); ++column)
            narrow->ms[column] = std::max(narrow->ms[column], wide->ms[column]);
        // The reference's whole call: it keeps the best of its timings, but every round pays for all of them.
        const Clock::time_point referenceStarted = Clock::now();
        if (reference) (void)reference->TimeMs();
        const double referenceMs = reference ? SecondsSince(referenceStarted) * 1000.0 : 0.0;
        RunEstimateRecord estimate{.typeName = std::string(AppCore::DataTypeName<AppCore::ElementOf<DataType::INT>>()) +
                                               " and " +
                                               AppCore::DataTypeName<AppCore::ElementOf<DataType::BIGFLOAT>>(),
                                   .pilotCount = count,
                                   .roundOverheadMs = referenceMs,
                                   .setupMs = std::max(narrow->setupMs, wide->setupMs),
                                   .dataSetOverheadMs = manifestStoreMs,
                                   .pilotMs = narrow->ms,
                                   .fixedMs = tiny->ms,
                                   .seconds = 0.0};
        const OwnSizeProbes::Estimate probes = ownSizeProbes.EstimateFor(plan.counts, plan.distributions, count);
        estimate.probeMsPerRecord = probes.msPerRecord;
        estimate.probingDataSets = probes.probingDataSets;
        RunProgress model = ProgressModel(plan);
        LearnFromPilot(model, estimate);
        // Before any data set shows how soon its intervals close, each is
        // taken to run to its budget or its six rounds, whichever is longer:
        // small data sets often do, and the estimate is then an upper one.
        model.RoundsTaken(plan.repetition.count);
        estimate.seconds = model.SecondsLeft(0.0).value_or(0.0) * kEstimateDriftMargin;
        reporters.RunEstimated(estimate);
        return kExitComplete;
    }

    // One sort per column cannot see the machine's speed move, and on shared
    // machines it moves by up to 30% within minutes: the estimate allows for that.
    // It is no bound: load that arrives after the pilot has slowed a run to 1.42
    // times its estimate.
    static constexpr double kEstimateDriftMargin = 1.3;
    // The least count of the standard ladder: its sorts are all fixed cost.
    static constexpr std::uint64_t kFixedCostRecords = 100;

    struct PilotTimes {
        std::vector<double> ms;  // one sort of each column, in column order
        double setupMs;          // what the data set took besides its warm-ups and sorts
    };

    // One sort of every column on `count` uniform keys of Element; nothing when
    // the data set cannot be held or sorted.
    template <typename Element>
    std::optional<PilotTimes> Pilot(std::uint64_t count, Outcome& outcome) {
        if (!memory.FitProblem(count, sizeof(Element), HeldBytes()).empty()) return std::nullopt;
        const DataSetRecord pilot{.type = AppCore::DataTypeOf<Element>(),
                                  .typeName = AppCore::DataTypeName<Element>(),
                                  .distribution = Distribution::Uniform,
                                  .series = {},
                                  .count = count,
                                  .position = 0,
                                  .counts = 0};
        PilotCells cells(reporters, pilot);
        const Clock::time_point started = Clock::now();
        try {
            workspace.indices.Resize(count * sizeof(std::uint32_t));
            const Element* values = GenerateKeys<Element>(Distribution::Uniform, count, data);
            outcome = RunOnce(SortersFor(plan.columns, tools, values, count), cells);
        } catch (const std::bad_alloc&) {
            cells.ms.clear();
        } catch (const std::system_error&) {
            cells.ms.clear();
        }
        ReleaseScratch(tools);
        if (cells.ms.empty()) return std::nullopt;
        double sortsMs = 0.0;
        for (const double ms : cells.ms) sortsMs += 2.0 * ms;
        return PilotTimes{.ms = cells.ms, .setupMs = std::max(SecondsSince(started) * 1000.0 - sortsMs, 0.0)};
    }

    int RunDataType(DataType type) {
        return WithElementOf(type, [this](auto element) { return RunDataType<typename decltype(element)::type>(); });
    }

    // Every key distribution and count of one data type, in order.
    template <typename Element>
    int RunDataType() {
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
                reporters.DataSetStarted(set);
                if (const std::string problem = memory.FitProblem(count, sizeof(Element), HeldBytes());
                    !problem.empty()) {
                    reporters.DataSetRefused(set, CannotBenchmark(set, problem));
                    return kExitTooLarge;
                }
                try {
                    const Outcome outcome = RunDataSet<Element>(set);
                    if (outcome != Outcome::Continue) return ExitStatusOf(outcome);
                } catch (const std::bad_alloc&) {
                    ReleaseScratch(tools);
                    reporters.DataSetRefused(
                        set, CannotBenchmark(set, "out of memory (needs " +
                                                      MemoryText(memory.PeakBytes(count, sizeof(Element))) + ")"));
                    return kExitTooLarge;
                } catch (const std::system_error& error) {
                    // No thread to be had (a process or memory limit): the cells
                    // measured so far stay, the run ends like any other.
                    ReleaseScratch(tools);
                    reporters.DataSetRefused(
                        set, CannotBenchmark(set, "cannot start a thread (" + error.code().message() + ")"));
                    return kExitNoThreads;
                }
            }
        }
        return kExitComplete;
    }

    // The first data set of the run that cannot be held, refused with the line a
    // plain run gives when it reaches it, on standard error; kExitComplete when
    // every one fits.
    int RefuseWhatCannotFit() {
        for (const AppCore::DataTypeFacts& type : AppCore::kDataTypes) {
            for (const std::uint64_t count : plan.counts) {
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

    // The buffers already held, which the next data set reuses.
    std::uint64_t HeldBytes() const { return data.size + workspace.indices.size; }

    // The line that ends the run at a data set it cannot benchmark.
    static std::string CannotBenchmark(const DataSetRecord& set, const std::string& reason) {
        return "Cannot benchmark " + std::to_string(set.count) + " " + set.typeName + " records: " + reason;
    }

    using Clock = std::chrono::steady_clock;

    static double SecondsSince(Clock::time_point start) {
        return std::chrono::duration<double>(Clock::now() - start).count();
    }

    RoundsPlan RoundsPlanFor(Clock::time_point started) const {
        return RoundsPlan{.repetition = plan.repetition,
                          .elapsedSeconds = [started] { return SecondsSince(started); },
                          .beforeSort = nullptr,
                          .referenceMs = nullptr};
    }

    template <typename Element>
    Outcome RunDataSet(const DataSetRecord& set) {
        // Before the data set's buffers grow: the probe's own come and go first.
        const DataSetLimits& ownSizes = ownSizeProbes.For(set.distribution, set.count);
        const DataSetMemory::Room room = memory.RoomNow(HeldBytes());
        workspace.indices.Resize(set.count * sizeof(std::uint32_t));
        const Element* values = GenerateKeys<Element>(set.distribution, set.count, data);
        // The pair columns' scratch as these keys take it: 8-byte keys of a narrow range travel as 8-byte pairs.
        const unsigned pairBytes = plan.pairsEnabled ? EvalCore::PairRadixSorter::PairBytes(values, set.count) : 0;
        const DataSetMemory::PeerRoom peers =
            memory.RoomForPeers(set.count, sizeof(Element), room, tools.peerThreads, pairBytes);

        DataSetCells cells(reporters, plan.columns, plan.repetition, ownSizes, gpuLimits, set, tools.peerThreads);
        const std::vector<Sorter> sorters =
            SortersFor(plan.columns, tools, values, set.count, peers.skipped, peers.check);
        // The budget of -R auto counts from here: warm-ups are part of a data set's time.
        const Clock::time_point started = Clock::now();
        ++dataSetsRun;
        const BeforeSort showStatus = [&](std::size_t sorter, int round) {
            progressLine.BeforeSort(set, sorters[sorter].labels.front(), round);
        };
        if (!plan.repetition.Repeated()) {
            const Outcome outcome = RunOnce(sorters, cells, showStatus);
            ReleaseScratch(tools);
            reporters.DataSetEnded(set, {.outcome = outcome,
                                         .rounds = 1,
                                         .intervalReached = true,
                                         .seconds = 0.0,
                                         .referenceMs = {},
                                         .drift = {}});
            return outcome;
        }
        RoundsPlan rounds = RoundsPlanFor(started);
        // Rounds beyond the fewest (-R auto's) would let the leaking peers lose more than was counted.
        rounds.repetition.count = static_cast<int>(
            std::min<std::uint64_t>(static_cast<std::uint64_t>(rounds.repetition.count), peers.mostSorts - 1));
        rounds.beforeSort = showStatus;
        if (reference) rounds.referenceMs = [this] { return reference->TimeMs(); };
        const RoundsResult ended = RunRounds(sorters, rounds, cells);
        NoteProcessMemory();
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
    void NoteProcessMemory() {
        if (!plan.repetition.Repeated()) return;
        const std::optional<ProcessMemory> now = ReadProcessMemory();
        if (!now) return;
        if (!largestMemory || now->anonymousBytes > largestMemory->anonymousBytes) largestMemory = now;
    }

    const RunPlan& plan;
    const GpuColumns::Seams& gpuSeams;
    std::size_t dataSetsRun = 0;   // data sets whose sorts began
    double manifestStoreMs = 0.0;  // the manifest's first store, for -R auto's estimate
    MachineFacts machine;          // read once, rendered by the run conditions and the JSON context
    Clock::time_point runStarted;  // once the run directory is claimed
    CpuLimits cpuLimits;           // measured with the run conditions; unmeasured without repetitions
    OwnSizeProbes ownSizeProbes;   // with floors, set once the limits are measured
    // Each column's sorts in a data set: what a leaking peer loses there.
    const DataSetMemory memory{plan.columns, (plan.gpuEnabled && plan.qaEnabled),
                               1 + static_cast<std::uint64_t>(plan.repetition.FewestRounds()),
                               !plan.repetition.Repeated()};
    GpuLimits gpuLimits;                       // measured after the GPU report with -GPU and repetitions
    JsonResults::ContextFields limitsContext;  // both limits as the JSON context gives them, once measured
    std::optional<ProcessMemory> largestMemory;
    std::unique_ptr<MachineReference> reference;  // with -R auto, timed after every round
    std::optional<ReplacedFile> jsonTarget;       // the -JSON file, claimed before anything else, then handed to `json`
    RunDirectory runDirectory;
    AppCore::CharBuffer data;
    SorterWorkspace workspace;
    ResultFiles results;
    std::unique_ptr<JsonResults> json;
    ConsoleReporter console{plan.repetition};
    PeerSummary peerSummary;
    ResultFilesReporter files{plan.repetition, results};
    ProgressLine progressLine{ProgressModel(plan), plan.repetition};
    RunConditionsFile conditionsFile{runDirectory};
    std::unique_ptr<JsonReporter> jsonReporter;
    std::unique_ptr<RunManifest> manifest;  // run.json, from the run directory's claim on
    RunReporters reporters;                 // the seven above, in turn
    SorterTools tools = workspace.Tools(nullptr, plan.gpuEnabled&& plan.qaEnabled);
    std::unique_ptr<GpuColumns> gpu;  // last, so released first
};

// -LIMITS: the system report's CPU and GPU parts, then the limits. Creates no
// directory and writes no file.
int ReportLimits(const RunPlan& plan, const GpuColumns::Seams& seams) {
    ConsoleReporter console(plan.repetition);
    LogCPU::Log(ReadMachineFacts());
    console.GpuExamining();
    const GpuColumns gpu(plan.shaderPath, seams);
    console.GpuExamined(gpu.Report());
    const LimitsProbeOptions options = RunProbeOptions();
    console.LimitsMeasured(ProbeCpuLimits(options),
                           *std::min_element(options.arrayBytes.begin(), options.arrayBytes.end()));
    console.GpuLimitsMeasured(gpu.ProbeLimits(RunGpuProbeOptions()));
    return kExitComplete;
}

}  // namespace

int RunBenchmark(const RunPlan& plan, const GpuColumns::Seams& seams) {
    if (plan.limitsOnly) return ReportLimits(plan, seams);
    return BenchmarkRun(plan, seams).Run();
}
