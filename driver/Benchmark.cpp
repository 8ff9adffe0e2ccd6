#include "driver/Benchmark.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "driver/DataSetLoop.h"
#include "driver/RunEnding.h"
#include "driver/RunEstimate.h"
#include "driver/RunFolder.h"
#include "driver/machine/LimitsProbe.h"
#include "driver/machine/LimitsText.h"
#include "driver/machine/MachineFacts.h"
#include "driver/machine/MachineReference.h"
#include "driver/machine/RunProbeOptions.h"
#include "driver/measuring/OwnSizeProbes.h"
#include "driver/measuring/TestData.h"
#include "driver/output/JsonResults.h"
#include "driver/output/LogCPU.h"
#include "driver/output/ReplacedFile.h"
#include "driver/output/ResultFiles.h"
#include "driver/output/RunDirectory.h"
#include "driver/reporting/ConsoleReporter.h"
#include "driver/reporting/JsonReporter.h"
#include "driver/reporting/PeerSummary.h"
#include "driver/reporting/ProgressLine.h"
#include "driver/reporting/ResultFilesReporter.h"
#include "driver/reporting/RunConditions.h"
#include "driver/reporting/RunConditionsFile.h"
#include "driver/reporting/RunManifest.h"
#include "driver/reporting/RunRecords.h"
#include "driver/reporting/RunReporter.h"
#include "driver/sorters/Columns.h"
#include "driver/sorters/DataSetSorters.h"
#include "driver/sorters/GpuColumns.h"
#include "driver/sorters/Peers.h"
#include "support/CharBuffer.h"
#include "support/DataTypes.h"
#include "support/SecondsSince.h"
#include "support/StatusLine.h"

namespace {

using Clock = std::chrono::steady_clock;

// Owns everything one run creates. Members are declared in the order the run
// creates them, so they are released in the reverse order: sorters before result
// files, result files before the data and index buffers.
class BenchmarkRun {
public:
    BenchmarkRun(const RunPlan& plan, const GpuColumns::Seams& gpuSeams) : plan(plan), gpuSeams(gpuSeams) {}

    int Run() {
        // The recorded seed, given back with -SEED, makes the same keys for the same plan.
        ReseedTestData(plan.seed);
        // -R auto promises an estimate before it measures: a data set it could
        // never hold is refused before any folder, probe or pilot.
        if (plan.repetition.untilSure) {
            if (const int status = loop.RefuseWhatCannotFit(console); status != kExitComplete) return status;
        }
        if (!plan.jsonPath.empty()) {
            std::optional<ReplacedFile> claimed = ReplacedFile::Claim(plan.jsonPath);
            if (!claimed) return kExitBadOption;
            jsonTarget.emplace(std::move(*claimed));
        }
        if (const int status = ClaimRunDirectory(plan, runDirectory, console); status != kExitComplete) return status;
        runStarted = Clock::now();
        workspace.timer.restart();
        results.ReachFilesThrough(runDirectory.ReachedPath());
        if (!OpenResultFiles(plan, runDirectory, results)) return kExitNoDirectory;
        manifest = std::make_unique<RunManifest>(plan, runDirectory);
        machine = ReadMachineFacts();
        tools.peerThreads = ParallelPeerThreads(machine.onlineCpus);
        return Finish(Benchmark());
    }

private:
    // Closes the result files and reports cells the disk did not take: the run
    // then counts as incomplete, whatever else it achieved.
    int Finish(int status) {
        AppCore::StatusLine::OnStandardError().Clear();
        gpu.reset();
        tools.gpu = nullptr;
        ReleaseScratch(tools);
        const bool measured = plan.repetition.Repeated() && loop.DataSetsRun() != 0;
        reporters.MeasuringEnded({.status = status,
                                  .memoryLooked = measured,
                                  .largestMemory = loop.LargestMemory(),
                                  .ownSizeProbes = measured && !ownSizeProbes.Probed().empty()
                                                       ? std::optional(ownSizeProbes.Probed())
                                                       : std::nullopt,
                                  .runSeconds = AppCore::SecondsSince(runStarted)});
        return CloseRunFiles(status, plan, runDirectory.Path(), json.get(), results, *manifest, console);
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
            start.conditions = RunConditionsOf(machine, plan.arguments, plan.seed);
            cpuLimits = ProbeCpuLimits(RunProbeOptions());
            limitsContext = LimitsContextFields(cpuLimits);
            start.cpuLimits = cpuLimits;
            // The radix and pair columns' floors are priced at the data sets' own sizes.
            const bool priced =
                HasColumnOf(plan.columns, ColumnSorter::RadixSort) || HasColumnOf(plan.columns, ColumnSorter::PairSort);
            if (priced && cpuLimits.Measured()) {
                LimitsProbeOptions ownSizes = RunProbeOptions();
                ownSizes.pairFigures = HasColumnOf(plan.columns, ColumnSorter::PairSort);
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
        manifestStoreMs = AppCore::SecondsSince(storeStarted) * 1000.0;
        reporters.Add(*manifest);
        if (plan.infoOnly) return kExitInfoOnly;
        if (plan.gpuEnabled && !gpu->Unavailable().empty()) {
            reporters.RunStopped("GPU sorting unavailable: " + gpu->Unavailable());
            return kExitNoGpu;
        }
        if (plan.repetition.untilSure) {
            if (const int status = EstimateRun(plan, loop, reference.get(), ownSizeProbes, manifestStoreMs, reporters);
                status != kExitComplete)
                return status;
        }
        for (const AppCore::DataType type : plan.types) {
            if (const int status = loop.RunDataType(type); status != kExitComplete) return status;
        }
        return kExitComplete;
    }

    const RunPlan& plan;
    const GpuColumns::Seams& gpuSeams;
    double manifestStoreMs = 0.0;                 // the manifest's first store, for -R auto's estimate
    MachineFacts machine;                         // read once, rendered by the run conditions and the JSON context
    Clock::time_point runStarted;                 // once the run directory is claimed
    CpuLimits cpuLimits;                          // measured with the run conditions; unmeasured without repetitions
    OwnSizeProbes ownSizeProbes;                  // with floors, set once the limits are measured
    GpuLimits gpuLimits;                          // measured after the GPU report with -GPU and repetitions
    JsonResults::ContextFields limitsContext;     // both limits as the JSON context gives them, once measured
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
    // Each part a type of its own, so that no two can trade places.
    DataSetLoop loop{{plan, reporters, progressLine, data, tools, ownSizeProbes, gpuLimits, reference}};
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
