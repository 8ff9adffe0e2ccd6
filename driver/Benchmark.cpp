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
#include "driver/RunDirectory.h"
#include "driver/TestData.h"
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
    ResultFiles results;
    EvalCore::RadixSort32 radix32{0};
    EvalCore::RadixSort64 radix64{0};
    std::unique_ptr<GpuColumns> gpu;  // last, so released first
};

}  // namespace

int RunBenchmark(const RunPlan& plan) { return BenchmarkRun(plan).Run(); }
