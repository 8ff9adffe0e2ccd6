#include "driver/Benchmark.h"

#include <unistd.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <numeric>

#include "cpu_sort/RadixSort32.h"
#include "cpu_sort/RadixSort64.h"
#include "cpu_sort/SortKey.h"
#include "driver/measuring/AppTimer.h"
#include "driver/output/ConsoleText.h"
#include "driver/sorters/GpuColumns.h"
#include "driver/output/Interruption.h"
#include "driver/output/JsonResults.h"
#include "driver/measuring/KeyDistributions.h"
#include "driver/output/LogCPU.h"
#include "driver/measuring/MemoryBudget.h"
#include "driver/sorters/PeerSorters.h"
#include "driver/sorters/PermutationCheck.h"
#include "driver/output/ResultFiles.h"
#include "driver/output/RunConditions.h"
#include "driver/output/RunDirectory.h"
#include "driver/measuring/SorterRounds.h"
#include "driver/measuring/TimingStats.h"
#include "support/CharBuffer.h"
#include "support/HugePages.h"

namespace {

// What the loop needs to know of one data type.
template <typename Element>
struct DataType {
    const char* name;  // verbatim in banners, console lines and file names
};

constexpr DataType<std::int32_t> kINT{"INT"};
constexpr DataType<float> kFLOAT{"FLOAT"};
constexpr DataType<std::int64_t> kBIGINT{"BIGINT"};
constexpr DataType<double> kBIGFLOAT{"BIGFLOAT"};

// Indices are 32-bit, so a data set holds at most this many records.
constexpr std::uint64_t kMaxRecords = std::numeric_limits<std::uint32_t>::max();

double Gibibytes(std::uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0 * 1024.0); }

// The result files of a data type and key distribution: "INT" for uniform keys
// (today's file names), "INT_sorted" for the others.
std::string SeriesKey(const char* typeName, Distribution distribution) {
    if (distribution == Distribution::Uniform) return typeName;
    return std::string(typeName) + "_" + DistributionName(distribution);
}

// Owns everything one run creates. Members are declared in the order the run
// creates them, so they are released in the reverse order: sorters before result
// files, result files before the data and index buffers.
class BenchmarkRun {
public:
    BenchmarkRun(const RunPlan& plan, const GpuColumns::Seams& gpuSeams) : plan(plan), gpuSeams(gpuSeams) {}

    int Run() {
        if (!plan.jsonPath.empty() && !JsonResults::CanWrite(plan.jsonPath)) return kExitStopped;
        if (!ClaimRunDirectory()) return kExitNoDirectory;

        timer.restart();

        std::vector<std::string> keys;
        for (const std::string& type : DataTypeNames()) {
            for (const Distribution distribution : plan.distributions)
                keys.push_back(SeriesKey(type.c_str(), distribution));
        }
        if (!results.Open(runDirectory.Path(), plan.columnNames, keys)) return kExitNoDirectory;
        if (plan.repetitions > 1 && !results.OpenStats(runDirectory.Path(), StatsHeader(), keys))
            return kExitNoDirectory;
        if (!plan.jsonPath.empty())
            json = std::make_unique<JsonResults>(plan.jsonPath, plan.programPath,
                                                 static_cast<std::size_t>(plan.repetitions));
        const int status = Benchmark();
        return Finish(status);
    }

private:
    bool ClaimRunDirectory() {
        // Without root the default place is out of reach; say how to choose another.
        const std::string hint = !plan.customLogDirectory && geteuid() != 0
                                     ? " (not root: use -O DIR to put the results elsewhere)"
                                     : "";
        if (!CreateLogDirectory(plan.logDirectory, plan.customLogDirectory, hint)) return false;
        for (const std::string& repaired : RepairInterruptedRuns(plan.logDirectory))
            std::printf("Repaired the result files of an interrupted run: %s\n", repaired.c_str());
        if (!runDirectory.Claim(plan.runDirectory, hint)) return false;
        SetInterruptedResultsLocation(runDirectory.Path());
        return true;
    }

    // Closes the result files and reports cells the disk did not take: the run
    // then counts as incomplete, whatever else it achieved.
    int Finish(int status) {
        gpu.reset();
        ReleaseScratch();
        if (plan.repetitions > 1) ReportNoise();
        // A run that measured nothing leaves an earlier file at the path as it was.
        if (json && json->HasEntries() && !json->Write() && status == kExitComplete) status = kExitStopped;
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
        gpu = std::make_unique<GpuColumns>(plan.shaderPath, gpuSeams);

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
        for (const Distribution distribution : plan.distributions) {
            const std::string keys = distribution == Distribution::Uniform
                                         ? std::string()
                                         : std::string(" (") + DistributionName(distribution) + " keys)";
            std::printf("================================= Running %s Benchmark%s "
                        "=================================\n",
                        type.name, keys.c_str());
            const int listLength = static_cast<int>(plan.counts.size());
            for (int position = 1; position <= listLength; ++position) {
                const std::uint64_t count = plan.counts[position - 1];
                std::printf("------- Count: %s, %i/%i -------\n", FormatWithCommas(count).c_str(), position,
                            listLength);
                if (!Fits(type, count)) return Outcome::Stop;
                try {
                    if (RunDataSet(type, distribution, count) == Outcome::Stop) return Outcome::Stop;
                } catch (const std::bad_alloc&) {
                    ReleaseScratch();
                    std::printf("Cannot benchmark %" PRIu64 " %s records: out of memory (needs %.1f GiB)\n", count,
                                type.name, Gibibytes(PeakBytes<Element>(count)));
                    return Outcome::Stop;
                }
            }
        }
        return Outcome::Continue;
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

    // Where the cells of one data set go: the result file, with repetitions the
    // stats file and the noise report, with -JSON the JSON document.
    class DataSetCells : public CellWriter {
    public:
        DataSetCells(BenchmarkRun& run, std::string key, std::uint64_t count)
            : run(run), key(std::move(key)), count(count) {}
        void StartRow() override { run.results.AppendCount(key, count); }
        void Cell(std::size_t column, const std::vector<double>& times) override {
            const std::string& name = run.plan.columnNames[column + 1];
            if (run.plan.repetitions == 1) {
                run.results.AppendTime(key, times.front());
            } else {
                const TimingSummary summary = Summarize(times);
                run.results.AppendTime(key, summary.median);
                run.results.AppendStatsRow(key, StatsRow(count, name, times));
                run.cellSpreads.push_back({key, count, name, summary});
            }
            if (run.json) run.json->Add(key, name, count, times);
        }

    private:
        BenchmarkRun& run;
        const std::string key;
        const std::uint64_t count;
    };

    template <typename Element>
    Outcome RunDataSet(const DataType<Element>& type, Distribution distribution, std::uint64_t count) {
        // Sized here rather than in the generator so that the huge-page hint comes
        // before the first touch; the generator's own resize is then a no-op.
        indices.Resize(count * sizeof(std::uint32_t));
        data.Resize(count * sizeof(Element));
        AppCore::AdviseHugePages(indices.data, indices.size);
        AppCore::AdviseHugePages(data.data, data.size);
        const Element* values = GenerateKeys<Element>(distribution, count, data);

        DataSetCells cells(*this, SeriesKey(type.name, distribution), count);
        const std::vector<Sorter> sorters = SortersFor(type, values, count);
        const Outcome outcome = plan.repetitions == 1 ? RunOnce(type.name, sorters, cells)
                                                      : RunRounds(type.name, sorters, plan.repetitions, cells);
        ReleaseScratch();
        return outcome;
    }

    // The data set's sorters in column order. Each fills the index buffer; the
    // radix sorters leave their scratch for the next repetition.
    template <typename Element>
    std::vector<Sorter> SortersFor(const DataType<Element>& type, const Element* values, std::uint64_t count) {
        auto* permutation = reinterpret_cast<std::uint32_t*>(indices.data);
        // `sort` fills the index buffer; the timed run starts from a cleared one.
        const auto cpuSorter = [this](std::string label, std::function<void()> sort) {
            return Sorter{{std::move(label)},
                          [sort] {
                              sort();
                              return true;
                          },
                          [this, sort] {
                              ClearIndices();
                              timer.restart();
                              sort();
                              return std::optional<std::vector<double>>(std::vector<double>{timer.elapse_millisecond()});
                          },
                          nullptr, false, nullptr};
        };

        std::vector<Sorter> sorters;
        // Stable, and started from 0, 1, 2, ...: equal keys stay in index order, the
        // order every other sorter must reproduce.
        sorters.push_back(cpuSorter("CPU", [=] {
            std::iota(permutation, permutation + count, 0u);
            std::stable_sort(permutation, permutation + count,
                             [values](std::uint32_t a, std::uint32_t b) { return values[a] < values[b]; });
        }));
        for (size_t k = 0; k < plan.threadCounts.size(); ++k) {
            const auto threads = static_cast<unsigned long>(plan.threadCounts[k]);
            sorters.push_back(cpuSorter("CPU " + plan.threadLabels[k],
                                        [=, this] { RadixSort(values, count, permutation, threads); }));
        }
        // One repetition: the next data set and the GPU start with that memory free.
        sorters.back().afterSingleRun = [this] { ReleaseScratch(); };

        if (plan.gpuEnabled) {
            const bool qa = plan.qaEnabled;
            Sorter gpuSorter{{"GPU", "GPU_On_Card", "GPU_Transfer"},
                             [=, this] {
                                 // The index buffer holds the 8-thread radix permutation here.
                                 if (qa) {
                                     qaReference.Resize(indices.size);
                                     if (indices.size != 0) std::memcpy(qaReference.data, indices.data, indices.size);
                                 }
                                 return gpu->WarmUp(type.name, values, count, permutation);
                             },
                             [=, this]() -> std::optional<std::vector<double>> {
                                 const auto times = gpu->TimedSort(type.name, values, count, indices, timer);
                                 if (!times) return std::nullopt;
                                 return std::vector<double>{times->hostMs, times->onCardMs,
                                                            times->hostMs - times->onCardMs};
                             },
                             nullptr, qa, nullptr};
            if (qa) {
                gpuSorter.check = [=, this] {
                    return GpuColumns::SamePermutation(qaReference, indices, count)
                               ? std::string()
                               : std::string("QA ERROR: GPU Results do not match CPU Results");
                };
            }
            sorters.push_back(std::move(gpuSorter));
        }

        if (plan.peersEnabled) {
            // A peer's permutation must be the stable ascending one under `less`.
            const auto peer = [&](const char* label, std::function<void()> sort, auto less) {
                Sorter sorter = cpuSorter(label, std::move(sort));
                sorter.check = [=] { return PeerProblem(label, FirstOutOfOrder(values, permutation, count, less), count); };
                return sorter;
            };
            sorters.push_back(peer("Peer vqsort", [=, this] { PeerVqsort(values, count, permutation, peerScratch); },
                                   [](Element a, Element b) { return EvalCore::SortKey(a) < EvalCore::SortKey(b); }));
            sorters.push_back(peer("Peer parallel stable sort",
                                   [=] { PeerParallelStableSort(values, count, permutation); },
                                   [](Element a, Element b) { return a < b; }));
        }
        return sorters;
    }

    // Empty when a peer's permutation is the stable ascending one (nothing out of
    // order before `count`); otherwise its QA line, which says where.
    static std::string PeerProblem(const char* peer, std::uint64_t outOfOrder, std::uint64_t count) {
        if (outOfOrder == count) return std::string();
        return std::string("QA ERROR: ") + peer + " Results do not match CPU Results (first out of order at position " +
               std::to_string(outOfOrder) + ")";
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

    template <typename RadixSorter>
    static void ReleaseScratch(RadixSorter& sorter) {
        sorter.count = 0;
        sorter.indexScratch.Clear();
        sorter.histograms.Clear();
    }

    // Memory only one data set needs: the radix and peer scratch and the QA reference.
    void ReleaseScratch() {
        ReleaseScratch(radix32);
        ReleaseScratch(radix64);
        peerScratch.Release();
        qaReference.Clear();
    }

    void ClearIndices() {
        if (indices.size != 0) std::memset(indices.data, 0, indices.size);
    }

    const RunPlan& plan;
    const GpuColumns::Seams& gpuSeams;
    RunDirectory runDirectory;
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
    std::unique_ptr<GpuColumns> gpu;  // last, so released first
};

}  // namespace

int RunBenchmark(const RunPlan& plan, const GpuColumns::Seams& seams) { return BenchmarkRun(plan, seams).Run(); }
