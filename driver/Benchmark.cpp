#include "driver/Benchmark.h"

#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>

#include "cpu_sort/RadixSort32.h"
#include "cpu_sort/RadixSort64.h"
#include "driver/machine/AvailableMemory.h"
#include "driver/machine/LimitsProbe.h"
#include "driver/machine/LimitsText.h"
#include "driver/machine/MachineFacts.h"
#include "driver/machine/ProcessMemory.h"
#include "driver/measuring/AppTimer.h"
#include "driver/measuring/KeyDistributions.h"
#include "driver/measuring/MedianInterval.h"
#include "driver/measuring/MemoryBudget.h"
#include "driver/measuring/RunProgress.h"
#include "driver/measuring/SorterRounds.h"
#include "driver/measuring/TimingStats.h"
#include "driver/output/ConsoleText.h"
#include "driver/output/Interruption.h"
#include "driver/output/JsonResults.h"
#include "driver/output/LogCPU.h"
#include "driver/output/ResultFiles.h"
#include "driver/output/RunConditions.h"
#include "driver/output/RunDirectory.h"
#include "driver/sorters/ColumnFloors.h"
#include "driver/sorters/DataSetSorters.h"
#include "driver/sorters/GpuColumns.h"
#include "driver/sorters/PeerSorters.h"
#include "support/CharBuffer.h"
#include "support/DataTypes.h"
#include "support/StatusLine.h"

namespace {

using AppCore::DataType;

// Indices are 32-bit, so a data set holds at most this many records.
constexpr std::uint64_t kMaxRecords = std::numeric_limits<std::uint32_t>::max();

double Gibibytes(std::uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0 * 1024.0); }

// The result files of a data type and key distribution: "INT" for uniform keys,
// "INT_sorted" for the others.
std::string SeriesKey(const char* typeName, Distribution distribution) {
    if (distribution == Distribution::Uniform) return typeName;
    return std::string(typeName) + "_" + DistributionName(distribution);
}

constexpr const char* kGpuInfoBanner = "----------------------------- GPU INFO -----------------------------";

// The probe of a run. SORTBENCH_QUICK_LIMITS, set to anything, shrinks it to
// arrays that stay in the caches, timed once: for whole-run tests, which check
// where its figures go, not what they are. The sizes appear in the limits
// lines, so figures measured that way cannot pass for the real ones.
bool QuickLimits() {
    const char* quick = std::getenv("SORTBENCH_QUICK_LIMITS");
    return quick != nullptr && *quick != '\0';
}

LimitsProbeOptions RunProbeOptions() {
    LimitsProbeOptions options;
    if (QuickLimits()) {
        options.arrayBytes = {64 << 10, 256 << 10};
        options.repeats = 1;
    }
    return options;
}

GpuLimitsOptions RunGpuProbeOptions() {
    GpuLimitsOptions options;
    options.availableBytes = AvailableMemoryBytes();
    if (QuickLimits()) {
        options.bufferBytes = 1 << 20;
        options.repeats = 1;
    }
    return options;
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
        if (!plan.jsonPath.empty() && !JsonResults::CanWrite(plan.jsonPath)) return kExitBadOption;
        if (!ClaimRunDirectory()) return kExitNoDirectory;
        timer.restart();
        if (!OpenResultFiles()) return kExitNoDirectory;
        machine = ReadMachineFacts();
        return Finish(Benchmark());
    }

private:
    bool ClaimRunDirectory() {
        // Without root the default place is out of reach; say how to choose another.
        const std::string hint = !plan.customLogDirectory && geteuid() != 0
                                     ? " (not root: use -O DIR to put the results elsewhere)"
                                     : "";
        std::optional<CreatedDirectories> created = CreateLogDirectory(plan.logDirectory, plan.customLogDirectory, hint);
        if (!created) return false;
        for (const std::string& repaired : RepairInterruptedRuns(plan.logDirectory))
            AppCore::ConsolePrintf("Repaired the result files of an interrupted run: %s\n", repaired.c_str());
        if (!runDirectory.Claim(plan.runDirectory, hint)) return false;
        created->Keep();
        SetInterruptedResultsLocation(runDirectory.Path());
        return true;
    }

    // One result file per data type and key distribution, and with repetitions a
    // stats file beside each.
    bool OpenResultFiles() {
        std::vector<std::string> keys;
        for (const AppCore::DataTypeFacts& type : AppCore::kDataTypes) {
            for (const Distribution distribution : plan.distributions) keys.push_back(SeriesKey(type.name, distribution));
        }
        if (!results.Open(runDirectory.Path(), ResultHeader(plan.columns), keys)) return false;
        return plan.repetitions == 1 || (results.OpenStats(runDirectory.Path(), StatsHeader(plan.untilSure) + kStatsLimitsHeader, keys) &&
                                         results.OpenSpeedups(runDirectory.Path(), SpeedupHeader(), keys));
    }

    // Closes the result files and reports cells the disk did not take: the run
    // then counts as incomplete, whatever else it achieved.
    int Finish(int status) {
        AppCore::StatusLine::OnStandardError().Clear();
        gpu.reset();
        tools.gpu = nullptr;
        ReleaseScratch(tools);
        if (plan.repetitions > 1) {
            ReportNoise();
            ReportBelowFloor();
            ReportHugePages();
        }
        // A run that measured nothing leaves an earlier file at the path as it was.
        if (json && json->HasEntries() && !json->Write() && status == kExitComplete) status = kExitIncomplete;
        std::uint64_t missing = 0;
        std::string files;
        for (const auto& file : results.Close()) {
            missing += file.cells;
            files += (files.empty() ? "" : ", ") + file.fileName + " " + std::to_string(file.cells);
        }
        if (missing == 0) return status;
        AppCore::ConsolePrintf("Results incomplete: %" PRIu64 " cells could not be written to %s (%s)\n", missing,
                    runDirectory.Path().c_str(), files.c_str());
        return status == kExitComplete ? kExitIncomplete : status;
    }

    int Benchmark() {
        LogCPU().Log();
        if (plan.repetitions > 1) ReportRunConditions();
        AppCore::ConsolePrintf("%s\n", kGpuInfoBanner);
        gpu = std::make_unique<GpuColumns>(plan.shaderPath, gpuSeams);
        if (plan.gpuEnabled) tools.gpu = gpu.get();
        if (plan.gpuEnabled && plan.repetitions > 1 && gpu->Unavailable().empty()) ReportGpuLimits();

        if (!plan.jsonPath.empty()) {
            json = std::make_unique<JsonResults>(plan.jsonPath, plan.programPath,
                                                 static_cast<std::size_t>(plan.repetitions), machine, plan.untilSure,
                                                 limitsContext);
        }
        if (plan.infoOnly) return kExitInfoOnly;
        if (plan.gpuEnabled && !gpu->Unavailable().empty()) {
            AppCore::ConsolePrintf("GPU sorting unavailable: %s\n", gpu->Unavailable().c_str());
            return kExitNoGpu;
        }
        runStarted = Clock::now();
        for (const AppCore::DataTypeFacts& type : AppCore::kDataTypes) {
            if (const int status = RunDataType(type.type); status != kExitComplete) return status;
        }
        return kExitComplete;
    }

    // The estimate of the time left follows every data set of the run in order.
    RunProgress ProgressModel() const {
        std::vector<Growth> growth;
        for (const Column column : plan.columns) {
            const ColumnSorter sorter = FactsOf(column).sorter;
            const bool comparisons = sorter == ColumnSorter::StandardSort || sorter == ColumnSorter::Vqsort ||
                                     sorter == ColumnSorter::ParallelStableSort;
            growth.push_back(comparisons ? Growth::Linearithmic : Growth::Linear);
        }
        std::vector<std::uint64_t> counts;
        for (std::size_t series = 0; series < AppCore::kDataTypes.size() * plan.distributions.size(); ++series)
            counts.insert(counts.end(), plan.counts.begin(), plan.counts.end());
        // -R auto runs at least the rounds an interval needs: a first guess until one data set shows.
        const int rounds = plan.untilSure ? static_cast<int>(MinimumSamplesFor()) : plan.repetitions;
        return RunProgress(growth, counts, rounds, plan.untilSure ? plan.budgetSeconds : 0.0);
    }

    // "INT zipf 5/17 (1,000,000): CPU 8 Thread, round 3 of 9 | 1:23 elapsed, about 4:10 left"
    std::string StatusText(const char* typeName, Distribution distribution, int position, std::uint64_t count,
                           const std::string& sorter, int round, double spentInDataSet) const {
        std::string text = typeName;
        if (distribution != Distribution::Uniform) text += std::string(" ") + DistributionName(distribution);
        // Appended piece by piece: " " + text trips a false -Wrestrict in GCC 12.
        text += ' ';
        text += std::to_string(position);
        text += '/';
        text += std::to_string(plan.counts.size());
        text += " (";
        text += FormatWithCommas(count);
        text += "): ";
        text += sorter;
        text += ", ";
        if (round == 0) {
            text += "warm-up";
        } else {
            text += "round " + std::to_string(round);
            if (!plan.untilSure && plan.repetitions > 1) text += " of " + std::to_string(plan.repetitions);
        }
        text += " | " + Duration(SecondsSince(runStarted)) + " elapsed";
        const std::optional<double> left = progress.SecondsLeft(spentInDataSet);
        text += left ? ", about " + Duration(*left) + " left" : ", estimating the time left";
        return text;
    }

    // "0:07", "12:03", "1:02:03".
    static std::string Duration(double seconds) {
        const auto whole = static_cast<long>(std::max(seconds, 0.0) + 0.5);
        char text[32];
        if (whole >= 3600) {
            std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
        } else {
            std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
        }
        return text;
    }

    int RunDataType(DataType type) {
        switch (type) {
        case DataType::INT: return RunDataType<AppCore::ElementOf<DataType::INT>>();
        case DataType::FLOAT: return RunDataType<AppCore::ElementOf<DataType::FLOAT>>();
        case DataType::BIGINT: return RunDataType<AppCore::ElementOf<DataType::BIGINT>>();
        case DataType::BIGFLOAT: return RunDataType<AppCore::ElementOf<DataType::BIGFLOAT>>();
        }
        return kExitComplete;
    }

    // Every key distribution and count of one data type: a banner per
    // distribution, a count line per data set.
    template <typename Element>
    int RunDataType() {
        const char* typeName = AppCore::DataTypeName<Element>();
        for (const Distribution distribution : plan.distributions) {
            const std::string keys = distribution == Distribution::Uniform
                                         ? std::string()
                                         : std::string(" (") + DistributionName(distribution) + " keys)";
            AppCore::ConsolePrintf("================================= Running %s Benchmark%s "
                        "=================================\n",
                        typeName, keys.c_str());
            const int listLength = static_cast<int>(plan.counts.size());
            for (int position = 1; position <= listLength; ++position) {
                const std::uint64_t count = plan.counts[position - 1];
                AppCore::ConsolePrintf("------- Count: %s, %i/%i -------\n", FormatWithCommas(count).c_str(), position,
                            listLength);
                if (!Fits<Element>(count)) return kExitTooLarge;
                try {
                    const Outcome outcome = RunDataSet<Element>(distribution, count, position);
                    if (outcome != Outcome::Continue) return ExitStatusOf(outcome);
                } catch (const std::bad_alloc&) {
                    ReleaseScratch(tools);
                    AppCore::ConsolePrintf("Cannot benchmark %" PRIu64 " %s records: out of memory (needs %.1f GiB)\n", count,
                                typeName, Gibibytes(PeakBytes<Element>(count)));
                    return kExitTooLarge;
                }
            }
        }
        return kExitComplete;
    }

    template <typename Element>
    std::uint64_t PeakBytes(std::uint64_t count) const {
        std::uint64_t bytes = DataSetPeakBytes(count, sizeof(Element), plan.gpuEnabled && plan.qaEnabled);
        // vqsort's packed pairs, and the parallel stable sort's buffer of indices.
        if (plan.peersEnabled) bytes += PeerScratchBytes(count, sizeof(Element)) + count * sizeof(std::uint32_t);
        return bytes;
    }

    // A data set that cannot be held ends the run with one line instead of a wrapped
    // index or an out-of-memory kill.
    template <typename Element>
    bool Fits(std::uint64_t count) {
        const char* typeName = AppCore::DataTypeName<Element>();
        const double neededGiB = Gibibytes(PeakBytes<Element>(count));
        if (count > kMaxRecords) {
            AppCore::ConsolePrintf("Cannot benchmark %" PRIu64 " %s records: indices are 32-bit, at most %" PRIu64
                        " records (would need %.1f GiB)\n",
                        count, typeName, kMaxRecords, neededGiB);
            return false;
        }
        // The buffers already held are reused for this data set.
        const std::uint64_t held = data.size + indices.size;
        const std::uint64_t available = AvailableMemoryBytes();
        if (available != std::numeric_limits<std::uint64_t>::max() &&
            PeakBytes<Element>(count) > available + held) {
            AppCore::ConsolePrintf("Cannot benchmark %" PRIu64 " %s records: out of memory (needs %.1f GiB, %.1f GiB available)\n",
                        count, typeName, neededGiB, Gibibytes(available + held));
            return false;
        }
        return true;
    }

    // Where the cells of one data set go: the result file, with repetitions the
    // stats file and the noise report, with -JSON the JSON document.
    class DataSetCells : public CellWriter {
    public:
        DataSetCells(BenchmarkRun& run, DataType type, Distribution distribution, std::uint64_t count)
            : run(run), type(type), distribution(distribution), key(SeriesKey(AppCore::DataTypeName(type), distribution)),
              count(count) {}
        void StartRow() override { run.results.AppendCount(key, count); }
        std::string Cell(std::size_t column, const std::vector<double>& times) override {
            const TimingSummary summary = Summarize(times);
            run.progress.Measured(column, summary.median);
            const ColumnFacts& facts = FactsOf(run.plan.columns[column]);
            const std::string name = facts.name;
            // Runs with one repetition measure no limits and keep their files as they were.
            std::optional<double> floor;
            if (run.plan.repetitions == 1) {
                run.results.AppendTime(key, times.front());
            } else {
                floor = ColumnFloorMs(facts.column, type, distribution, count, run.cpuLimits, run.gpuLimits);
                run.results.AppendTime(key, summary.median);
                run.results.AppendStatsRow(key, StatsRow(count, name, times, run.plan.untilSure) +
                                                    StatsLimitsCells(count, summary.median, floor));
                // The standard sort's column comes first in every row.
                if (facts.column == Column::CpuStandard) {
                    standardTimes = times;
                } else {
                    run.results.AppendSpeedupRow(key, SpeedupRow(count, name, standardTimes, times));
                }
                run.cellSpreads.push_back({key, count, name, summary, MedianConfidenceInterval(times), floor});
            }
            if (run.json) run.json->Add(key, name, count, times, floor);
            return floor ? FloorNote(summary.median, *floor) : std::string();
        }

    private:
        BenchmarkRun& run;
        const DataType type;
        const Distribution distribution;
        const std::string key;
        const std::uint64_t count;
        std::vector<double> standardTimes;  // CPU Standard's time in each round
    };

    using Clock = std::chrono::steady_clock;

    static double SecondsSince(Clock::time_point start) {
        return std::chrono::duration<double>(Clock::now() - start).count();
    }

    // "1", "0.5": the -CI target as the user wrote it.
    static std::string FormatPercent(double fraction) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", fraction * 100.0);
        return text;
    }

    RoundsPlan RoundsPlanFor(Clock::time_point started) const {
        return RoundsPlan{.rounds = plan.repetitions,
                          .untilSure = plan.untilSure,
                          .intervalTarget = plan.intervalTarget,
                          .budgetSeconds = plan.budgetSeconds,
                          .elapsedSeconds = [started] { return SecondsSince(started); },
                          .beforeSort = nullptr};
    }

    template <typename Element>
    Outcome RunDataSet(Distribution distribution, std::uint64_t count, int position) {
        const char* typeName = AppCore::DataTypeName<Element>();
        indices.Resize(count * sizeof(std::uint32_t));
        const Element* values = GenerateKeys<Element>(distribution, count, data);

        DataSetCells cells(*this, AppCore::DataTypeOf<Element>(), distribution, count);
        const std::vector<Sorter> sorters = SortersFor(plan.columns, tools, values, count);
        // The budget of -R auto counts from here: warm-ups are part of a data set's time.
        const Clock::time_point started = Clock::now();
        progress.StartDataSet(dataSetIndex++);
        AppCore::StatusLine& status = AppCore::StatusLine::OnStandardError();
        const BeforeSort showStatus = [&](std::size_t sorter, int round) {
            if (status.Active())
                status.Show(StatusText(typeName, distribution, position, count, sorters[sorter].labels.front(), round,
                                       SecondsSince(started)));
        };
        if (plan.repetitions == 1) {
            const Outcome outcome = RunOnce(typeName, sorters, cells, showStatus);
            ReleaseScratch(tools);
            return outcome;
        }
        RoundsPlan rounds = RoundsPlanFor(started);
        rounds.beforeSort = showStatus;
        const RoundsResult ended = RunRounds(typeName, sorters, rounds, cells);
        NoteProcessMemory();
        ReleaseScratch(tools);
        if (plan.untilSure) progress.RoundsTaken(ended.rounds);
        // What -R auto achieved, and the time it took against the budget.
        if (plan.untilSure && ended.outcome == Outcome::Continue) {
            AppCore::ConsolePrintf("%s %" PRIu64 ": %s median's 95%% interval within %s%% after %d rounds (%.2f s of %g s)\n",
                        SeriesKey(typeName, distribution).c_str(), count,
                        ended.intervalReached ? "every" : "not every", FormatPercent(plan.intervalTarget).c_str(),
                        ended.rounds, ended.seconds, plan.budgetSeconds);
        }
        return ended.outcome;
    }

    // The conditions, then what the machine's memory allows, measured now: the
    // floors of the cells are priced at these rates.
    void ReportRunConditions() {
        const RunConditions conditions = RunConditionsOf(machine, plan.options);
        std::string text;
        const auto say = [&text](const std::string& line) {
            AppCore::ConsolePrintf("%s\n", line.c_str());
            text += line + "\n";
        };
        for (const std::string& line : RunConditionLines(conditions)) say(line);
        cpuLimits = ProbeCpuLimits(RunProbeOptions());
        limitsContext = LimitsContextFields(cpuLimits);
        for (const std::string& line : LimitsLines(cpuLimits)) say(line);
        for (const std::string& warning : RunConditionWarnings(conditions)) say(warning);
        // Context for the numbers, not a measurement: a failure is reported and the run goes on.
        if (conditionsFile.Init(runDirectory.Path(), "run_conditions.txt", 'w')) conditionsFile += text;
    }

    // The GPU's figures follow its report, into the same run conditions.
    void ReportGpuLimits() {
        gpuLimits = gpu->ProbeLimits(RunGpuProbeOptions());
        for (auto& field : GpuLimitsContextFields(gpuLimits)) limitsContext.push_back(std::move(field));
        for (const std::string& line : GpuLimitsLines(gpuLimits)) ReportLateCondition(line);
    }

    // A run condition known only after run_conditions.txt was written: onto the
    // console and the end of the file.
    void ReportLateCondition(const std::string& line) {
        AppCore::ConsolePrintf("%s\n", line.c_str());
        conditionsFile += line + "\n";
    }

    // After a data set's sorts, outside every timing: the reading taken while
    // the process held the most memory is the one reported.
    void NoteProcessMemory() {
        if (plan.repetitions == 1) return;
        const std::optional<ProcessMemory> now = ReadProcessMemory();
        if (!now) return;
        if (!largestMemory || now->anonymousBytes > largestMemory->anonymousBytes) largestMemory = now;
    }

    void ReportHugePages() {
        if (dataSetIndex != 0) ReportLateCondition(HugePagesLine(largestMemory));
    }

    void ReportNoise() {
        if (plan.untilSure) {
            for (const std::string& line : IntervalReportLines(cellSpreads, plan.intervalTarget))
                AppCore::ConsolePrintf("%s\n", line.c_str());
            return;
        }
        const std::vector<std::string> lines = NoiseReportLines(cellSpreads);
        if (lines.empty() && !cellSpreads.empty()) {
            AppCore::ConsolePrintf("Every cell's coefficient of variation is at most %g%%.\n", kNoisyCvLimit * 100);
        }
        for (const std::string& line : lines) AppCore::ConsolePrintf("%s\n", line.c_str());
    }

    void ReportBelowFloor() {
        for (const std::string& line : BelowFloorReportLines(cellSpreads)) AppCore::ConsolePrintf("%s\n", line.c_str());
    }

    const RunPlan& plan;
    const GpuColumns::Seams& gpuSeams;
    RunProgress progress = ProgressModel();
    std::size_t dataSetIndex = 0;
    std::chrono::steady_clock::time_point runStarted = std::chrono::steady_clock::now();
    MachineFacts machine;  // read once, rendered by the run conditions and the JSON context
    CpuLimits cpuLimits;   // measured with the run conditions; unmeasured without repetitions
    GpuLimits gpuLimits;   // measured after the GPU report with -GPU and repetitions
    JsonResults::ContextFields limitsContext;  // both limits as the JSON context gives them, once measured
    std::optional<ProcessMemory> largestMemory;
    RunDirectory runDirectory;
    LogManager conditionsFile;  // run_conditions.txt, open until the run ends
    AppTimer timer;
    AppCore::CharBuffer data;
    AppCore::CharBuffer indices;
    AppCore::CharBuffer qaReference;     // with -QA: the CPU permutation the GPU's must equal
    std::vector<NoisyCell> cellSpreads;  // every cell's spread, for the noise report
    ResultFiles results;
    std::unique_ptr<JsonResults> json;
    EvalCore::RadixSort32 radix32{0};
    EvalCore::RadixSort64 radix64{0};
    PeerScratch peerScratch;
    SorterTools tools{.timer = timer,
                      .indices = indices,
                      .qaReference = qaReference,
                      .radix32 = radix32,
                      .radix64 = radix64,
                      .peerScratch = peerScratch,
                      .gpu = nullptr,
                      .qa = plan.gpuEnabled && plan.qaEnabled};
    std::unique_ptr<GpuColumns> gpu;  // last, so released first
};

// -LIMITS: the system report's CPU and GPU parts, then the limits. Creates no
// directory and writes no file.
int ReportLimits(const RunPlan& plan, const GpuColumns::Seams& seams) {
    LogCPU().Log();
    AppCore::ConsolePrintf("%s\n", kGpuInfoBanner);
    const GpuColumns gpu(plan.shaderPath, seams);
    AppCore::ConsolePrintf("------------------------------ LIMITS ------------------------------\n");
    for (const std::string& line : LimitsLines(ProbeCpuLimits(RunProbeOptions())))
        AppCore::ConsolePrintf("%s\n", line.c_str());
    for (const std::string& line : GpuLimitsLines(gpu.ProbeLimits(RunGpuProbeOptions())))
        AppCore::ConsolePrintf("%s\n", line.c_str());
    return kExitComplete;
}

}  // namespace

int RunBenchmark(const RunPlan& plan, const GpuColumns::Seams& seams) {
    if (plan.limitsOnly) return ReportLimits(plan, seams);
    return BenchmarkRun(plan, seams).Run();
}
