#include "driver/Benchmark.h"

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <numeric>

#include <unistd.h>

#include "cpu_sort/RadixSort32.h"
#include "cpu_sort/RadixSort64.h"
#include "driver/AppTimer.h"
#include "driver/ConsoleText.h"
#include "driver/GpuColumns.h"
#include "driver/Interruption.h"
#include "driver/LogCPU.h"
#include "driver/MemoryBudget.h"
#include "driver/ResultFiles.h"
#include "driver/RunConditions.h"
#include "driver/RunDirectory.h"
#include "driver/TestData.h"
#include "driver/TimingStats.h"
#include "support/CharBuffer.h"
#include "support/HugePages.h"

namespace {

// What the loop needs to know of one data type.
template <typename Element>
struct DataType {
    const char* name;  // verbatim in banners, console lines and file names
    Element* (*generate)(std::uint64_t, AppCore::CharBuffer&);
};

constexpr DataType<std::int32_t> kINT{"INT", GenerateINT};
constexpr DataType<float> kFLOAT{"FLOAT", GenerateFLOAT};
constexpr DataType<std::int64_t> kBIGINT{"BIGINT", GenerateBIGINT};
constexpr DataType<double> kBIGFLOAT{"BIGFLOAT", GenerateBIGFLOAT};

// Indices are 32-bit, so a data set holds at most this many records.
constexpr std::uint64_t kMaxRecords = std::numeric_limits<std::uint32_t>::max();

enum class Outcome { Continue, Stop };

double Gibibytes(std::uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0 * 1024.0); }

// Owns everything one run creates. Members are declared in the order the run
// creates them, so they are released in the reverse order: sorters before result
// files, result files before the data and index buffers.
class BenchmarkRun {
public:
    explicit BenchmarkRun(const RunPlan& plan) : plan(plan) {}

    int Run() {
        if (!ClaimRunDirectory()) return kExitNoDirectory;

        timer.restart();

        if (!results.Open(runDirectory.Path(), plan.columnNames)) return kExitNoDirectory;
        if (plan.repetitions > 1 && !results.OpenStats(runDirectory.Path(), StatsHeader())) return kExitNoDirectory;
        const int status = Benchmark();
        return Finish(status);
    }

private:
    bool ClaimRunDirectory() {
        // Without root the default place is out of reach; say how to choose another.
        const bool hintOutput = !plan.customLogDirectory && geteuid() != 0;
        if (!CreateLogDirectory(plan.logDirectory, plan.customLogDirectory,
                                hintOutput ? " (not root: use -O DIR to put the results elsewhere)" : ""))
            return false;
        for (const std::string& repaired : RepairInterruptedRuns(plan.logDirectory))
            std::printf("Repaired the result files of an interrupted run: %s\n", repaired.c_str());
        if (!runDirectory.Claim(plan.runDirectory)) return false;
        SetInterruptedResultsLocation(runDirectory.Path());
        return true;
    }

    // Closes the result files and reports cells the disk did not take: the run
    // then counts as incomplete, whatever else it achieved.
    int Finish(int status) {
        gpu.reset();
        ReleaseScratch(radix32);
        ReleaseScratch(radix64);
        if (plan.repetitions > 1) ReportNoise();
        std::uint64_t missing = 0;
        std::string files;
        for (const auto& file : results.Close()) {
            missing += file.cells;
            files += (files.empty() ? "" : ", ") + file.fileName + " " + std::to_string(file.cells);
        }
        if (missing == 0) return status;
        std::printf("Results incomplete: %" PRIu64 " cells could not be written to %s (%s)\n", missing,
                    runDirectory.Path().c_str(), files.c_str());
        return status == kExitComplete ? kExitStopped : status;
    }

    int Benchmark() {
        LogCPU().Log();
        if (plan.repetitions > 1) ReportRunConditions();
        std::printf("----------------------------- GPU INFO -----------------------------\n");
        gpu = std::make_unique<GpuColumns>(plan.shaderPath);

        if (plan.infoOnly) return kExitStopped;
        if (plan.gpuEnabled && !gpu->Unavailable().empty()) {
            std::printf("GPU sorting unavailable: %s\n", gpu->Unavailable().c_str());
            return kExitStopped;
        }

        if (RunDataType(kINT) == Outcome::Stop) return kExitStopped;
        if (RunDataType(kFLOAT) == Outcome::Stop) return kExitStopped;
        if (RunDataType(kBIGINT) == Outcome::Stop) return kExitStopped;
        if (RunDataType(kBIGFLOAT) == Outcome::Stop) return kExitStopped;
        return kExitComplete;
    }

    template <typename Element>
    Outcome RunDataType(const DataType<Element>& type) {
        std::printf("================================= Running %s Benchmark =================================\n",
                    type.name);
        const int listLength = static_cast<int>(plan.counts.size());
        for (int position = 1; position <= listLength; ++position) {
            const std::uint64_t count = plan.counts[position - 1];
            std::printf("------- Count: %s, %i/%i -------\n", FormatWithCommas(count).c_str(), position, listLength);
            if (!Fits(type, count)) return Outcome::Stop;
            try {
                if (RunDataSet(type, count) == Outcome::Stop) return Outcome::Stop;
            } catch (const std::bad_alloc&) {
                std::printf("Cannot benchmark %" PRIu64 " %s records: out of memory (needs %.1f GiB)\n", count,
                            type.name, Gibibytes(PeakBytes<Element>(count)));
                return Outcome::Stop;
            }
        }
        return Outcome::Continue;
    }

    template <typename Element>
    std::uint64_t PeakBytes(std::uint64_t count) const {
        return DataSetPeakBytes(count, sizeof(Element), plan.gpuEnabled && plan.qaEnabled);
    }

    // A data set that cannot be held ends the run with one line instead of a wrapped
    // index or an out-of-memory kill.
    template <typename Element>
    bool Fits(const DataType<Element>& type, std::uint64_t count) {
        const double neededGiB = Gibibytes(PeakBytes<Element>(count));
        if (count > kMaxRecords) {
            std::printf("Cannot benchmark %" PRIu64 " %s records: indices are 32-bit, at most %" PRIu64
                        " records (would need %.1f GiB)\n",
                        count, type.name, kMaxRecords, neededGiB);
            return false;
        }
        // The buffers already held are reused for this data set.
        const std::uint64_t held = data.size + indices.size;
        const std::uint64_t available = AvailableMemoryBytes();
        if (available != std::numeric_limits<std::uint64_t>::max() &&
            PeakBytes<Element>(count) > available + held) {
            std::printf("Cannot benchmark %" PRIu64 " %s records: out of memory (needs %.1f GiB, %.1f GiB available)\n",
                        count, type.name, neededGiB, Gibibytes(available + held));
            return false;
        }
        return true;
    }

    template <typename Element>
    Outcome RunDataSet(const DataType<Element>& type, std::uint64_t count) {
        // Sized here rather than in the generator so that the huge-page hint comes
        // before the first touch; the generator's own resize is then a no-op.
        indices.Resize(count * sizeof(std::uint32_t));
        data.Resize(count * sizeof(Element));
        AppCore::AdviseHugePages(indices.data, indices.size);
        AppCore::AdviseHugePages(data.data, data.size);
        const Element* values = type.generate(count, data);
        auto* permutation = reinterpret_cast<std::uint32_t*>(indices.data);

        // Stable, and started from 0, 1, 2, ...: equal keys stay in index order, the
        // order every other sorter must reproduce.
        const auto standardSort = [&] {
            std::iota(permutation, permutation + count, 0u);
            std::stable_sort(permutation, permutation + count,
                             [values](std::uint32_t a, std::uint32_t b) { return values[a] < values[b]; });
        };
        if (plan.repetitions > 1) return RunRepeatedDataSet(type, values, count, standardSort);

        standardSort();  // warm-up
        ClearIndices();
        timer.restart();
        standardSort();
        const double standardMs = timer.elapse_millisecond();
        // The row starts only now: a cell append waits for the disk, which is no
        // part of the sort's time.
        results.AppendCount(type.name, count);
        results.AppendTime(type.name, standardMs);
        std::printf("%s CPU - %f ms\n", type.name, standardMs);

        RunRadixColumns(type, values, count);
        if (plan.gpuEnabled && !gpu->Run(type.name, values, count, indices, timer, results, plan.qaEnabled))
            return Outcome::Stop;
        return Outcome::Continue;
    }

    // The radix sort at every thread count of the plan, one cell each. Afterwards the
    // index buffer holds the last (8-thread) permutation and the sorters' scratch is
    // released, so the next data set and the GPU columns start with that memory free.
    template <typename Element>
    void RunRadixColumns(const DataType<Element>& type, const Element* values, std::uint64_t count) {
        auto* permutation = reinterpret_cast<unsigned int*>(indices.data);
        for (size_t k = 0; k < plan.threadCounts.size(); ++k) {
            const auto threads = static_cast<unsigned long>(plan.threadCounts[k]);
            RadixSort(values, count, permutation, threads);  // warm-up
            ClearIndices();
            timer.restart();
            RadixSort(values, count, permutation, threads);
            const double ms = timer.elapse_millisecond();
            results.AppendTime(type.name, ms);
            std::printf("%s CPU %s - %f ms\n", type.name, plan.threadLabels[k].c_str(), ms);
        }
        ReleaseScratch(radix32);
        ReleaseScratch(radix64);
    }

    // With repetitions: one warm-up per sorter, then plan.repetitions rounds that
    // time every sorter once, each round in the order of the last rotated by one
    // (RoundOrder), so that a slow spell of the machine falls on every column alike
    // and no sorter always inherits the caches of the same neighbour. Every timed
    // sort fills the whole permutation; with -QA every GPU one is checked.
    template <typename Element, typename StandardSort>
    Outcome RunRepeatedDataSet(const DataType<Element>& type, const Element* values, std::uint64_t count,
                               const StandardSort& standardSort) {
        auto* permutation = reinterpret_cast<unsigned int*>(indices.data);
        const size_t cpuSorters = 1 + plan.threadCounts.size();
        const auto runCpuSorter = [&](size_t sorter) {
            if (sorter == 0) {
                standardSort();
            } else {
                RadixSort(values, count, permutation, static_cast<unsigned long>(plan.threadCounts[sorter - 1]));
            }
        };
        for (size_t sorter = 0; sorter < cpuSorters; ++sorter) runCpuSorter(sorter);  // warm-ups
        const bool qaEnabled = plan.gpuEnabled && plan.qaEnabled;
        if (qaEnabled) {
            // The warm-ups end with the 8-thread radix permutation, the GPU's reference.
            qaReference.Resize(indices.size);
            if (indices.size != 0) std::memcpy(qaReference.data, indices.data, indices.size);
        }
        if (plan.gpuEnabled && !gpu->WarmUp(type.name, values, count, permutation)) return Outcome::Stop;

        // One series per timed column; the GPU sorter fills its three at once.
        std::vector<std::vector<double>> times(plan.columnNames.size() - 1);
        const size_t sorters = cpuSorters + (plan.gpuEnabled ? 1 : 0);
        bool gpuFailed = false;
        bool qaMatch = true;
        for (int round = 0; round < plan.repetitions && !gpuFailed && qaMatch; ++round) {
            for (const size_t sorter : RoundOrder(sorters, static_cast<size_t>(round))) {
                if (sorter < cpuSorters) {
                    ClearIndices();
                    timer.restart();
                    runCpuSorter(sorter);
                    times[sorter].push_back(timer.elapse_millisecond());
                    continue;
                }
                const auto gpuTimes = gpu->TimedSort(type.name, values, count, indices, timer);
                if (!gpuTimes) {
                    gpuFailed = true;
                    break;
                }
                times[cpuSorters].push_back(gpuTimes->hostMs);
                times[cpuSorters + 1].push_back(gpuTimes->onCardMs);
                times[cpuSorters + 2].push_back(gpuTimes->hostMs - gpuTimes->onCardMs);
                if (qaEnabled && !GpuColumns::SamePermutation(qaReference, indices, count)) {
                    qaMatch = false;
                    break;
                }
            }
        }
        ReleaseScratch(radix32);
        ReleaseScratch(radix64);
        qaReference.Clear();

        WriteMedianRow(type.name, count, times);
        if (gpuFailed) return Outcome::Stop;
        if (qaEnabled) GpuColumns::ReportQa(qaMatch);
        return qaMatch ? Outcome::Continue : Outcome::Stop;
    }

    // The row of medians, a console line with the spread and a stats row per column,
    // in column order; a run cut short writes the columns that have times.
    void WriteMedianRow(const char* typeName, std::uint64_t count, const std::vector<std::vector<double>>& times) {
        std::vector<std::string> labels{"CPU"};
        for (const std::string& threads : plan.threadLabels) labels.push_back("CPU " + threads);
        labels.insert(labels.end(), {"GPU", "GPU_On_Card", "GPU_Transfer"});

        results.AppendCount(typeName, count);
        for (size_t column = 0; column < times.size() && !times[column].empty(); ++column) {
            const TimingSummary summary = Summarize(times[column]);
            results.AppendTime(typeName, summary.median);
            std::printf("%s %s - %f ms%s\n", typeName, labels[column].c_str(), summary.median,
                        SpreadSuffix(summary).c_str());
            const std::string& name = plan.columnNames[column + 1];
            results.AppendStatsRow(typeName, StatsRow(count, name, times[column]));
            cellSpreads.push_back({typeName, count, name, summary});
        }
    }

    void ReportRunConditions() {
        const RunConditions conditions = ReadRunConditions(plan.options);
        std::string text;
        for (const std::string& line : RunConditionLines(conditions)) {
            std::printf("%s\n", line.c_str());
            text += line + "\n";
        }
        for (const std::string& warning : RunConditionWarnings(conditions)) {
            std::printf("%s\n", warning.c_str());
            text += warning + "\n";
        }
        // Context for the numbers, not a measurement: a failure is reported and the run goes on.
        LogManager file;
        if (file.Init(runDirectory.Path(), "run_conditions.txt", 'w')) file += text;
    }

    void ReportNoise() {
        const std::vector<std::string> lines = NoiseReportLines(cellSpreads);
        if (lines.empty() && !cellSpreads.empty()) {
            std::printf("Every cell's coefficient of variation is at most %g%%.\n", kNoisyCvLimit * 100);
        }
        for (const std::string& line : lines) std::printf("%s\n", line.c_str());
    }

    void RadixSort(const std::int32_t* values, std::uint64_t n, unsigned int* out, unsigned long threads) {
        radix32.SortINT(values, n, out, true, threads);
    }
    void RadixSort(const float* values, std::uint64_t n, unsigned int* out, unsigned long threads) {
        radix32.SortFLT(values, n, out, true, threads);
    }
    void RadixSort(const std::int64_t* values, std::uint64_t n, unsigned int* out, unsigned long threads) {
        radix64.SortINT(values, n, out, true, threads);
    }
    void RadixSort(const double* values, std::uint64_t n, unsigned int* out, unsigned long threads) {
        radix64.SortFLT(values, n, out, true, threads);
    }

    template <typename Sorter>
    static void ReleaseScratch(Sorter& sorter) {
        sorter.count = 0;
        sorter.indexScratch.Clear();
        sorter.histograms.Clear();
    }

    void ClearIndices() {
        if (indices.size != 0) std::memset(indices.data, 0, indices.size);
    }

    const RunPlan& plan;
    RunDirectory runDirectory;
    AppTimer timer;
    AppCore::CharBuffer data;
    AppCore::CharBuffer indices;
    AppCore::CharBuffer qaReference;      // with repetitions and -QA: the CPU permutation
    std::vector<NoisyCell> cellSpreads;  // every cell's spread, for the noise report
    ResultFiles results;
    EvalCore::RadixSort32 radix32{0};
    EvalCore::RadixSort64 radix64{0};
    std::unique_ptr<GpuColumns> gpu;  // last, so released first
};

}  // namespace

int RunBenchmark(const RunPlan& plan) { return BenchmarkRun(plan).Run(); }
