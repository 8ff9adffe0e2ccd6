// The GPU radix sort next to the one-thread CPU radix sort, on the driver's
// test data (seeded, so every run sorts the same keys):
//   "CPU Radix 1T"  RadixSort32 (INT) / RadixSort64 (BIGINT), one thread,
//   "GPU"           QVRadixSort Sort + WaitToFinish as the host sees it
//                   (uploads, buffers, submission, wait, read-back), with the
//                   counter on_card_ms from the sort's GPU timestamps, split
//                   into counting_ms, partition_ms and scattering_ms (summed
//                   over the passes).
// The GPU columns also report gpu_per_cpu and on_card_per_cpu: their times
// over the CPU sort of the same data measured in the same run (the median of
// three).
//
// Without a GPU the software device (lavapipe) stands in: its figures are no
// GPU figures, but they show the shaders' work per key and catch regressions.
// Each GPU permutation is checked against the CPU one once per data set.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "cpu_sort/RadixSort32.h"
#include "cpu_sort/RadixSort64.h"
#include "driver/measuring/TestData.h"
#include "gpu/QVRadixSort.h"
#include "support/CharBuffer.h"

namespace {

constexpr std::uint64_t kSeed = 20261207;

std::unique_ptr<QVEvalCore::QVRadixSort> sorter;
std::string gpuUnavailable;

template <class Value>
struct DataSet {
    AppCore::CharBuffer buffer;
    const Value* values = nullptr;
    std::vector<std::uint32_t> cpuPermutation;
    double cpuMs = 0;
};

const std::int32_t* Generate(std::uint64_t n, AppCore::CharBuffer& buffer, std::int32_t*) {
    return GenerateINT(n, buffer);
}
const std::int64_t* Generate(std::uint64_t n, AppCore::CharBuffer& buffer, std::int64_t*) {
    return GenerateBIGINT(n, buffer);
}

void CpuSort(const std::int32_t* values, std::uint64_t n, std::uint32_t* out) {
    static EvalCore::RadixSort32 radix(0);
    radix.SortINT(values, n, out, true, 1);
}
void CpuSort(const std::int64_t* values, std::uint64_t n, std::uint32_t* out) {
    static EvalCore::RadixSort64 radix(0);
    radix.SortINT(reinterpret_cast<const long*>(values), n, out, true, 1);
}

double Milliseconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The data set of (Value, n), made once, with its CPU permutation and time.
template <class Value>
const DataSet<Value>& Data(std::uint64_t n) {
    static std::uint64_t madeFor = 0;
    static DataSet<Value> set;
    if (madeFor != n || set.values == nullptr) {
        ReseedTestData(kSeed);
        set.values = Generate(n, set.buffer, static_cast<Value*>(nullptr));
        set.cpuPermutation.assign(n, 0);
        // The ratios' denominator: the median of three sorts, as one sort
        // alone swings with the machine's drift.
        std::array<double, 3> times{};
        for (double& ms : times) {
            const auto start = std::chrono::steady_clock::now();
            CpuSort(set.values, n, set.cpuPermutation.data());
            ms = Milliseconds(std::chrono::steady_clock::now() - start);
        }
        std::sort(times.begin(), times.end());
        set.cpuMs = times[1];
        madeFor = n;
    }
    return set;
}

template <class Value>
void CpuRadix1T(benchmark::State& state) {
    const auto n = static_cast<std::uint64_t>(state.range(0));
    const DataSet<Value>& data = Data<Value>(n);
    std::vector<std::uint32_t> out(n);
    for (auto _ : state) {
        CpuSort(data.values, n, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
}

// Milliseconds of counting, partition and scattering in the latest sort, summed
// over its passes, from the sorter's four timestamps per pass.
std::array<double, 3> DispatchMs(const QVEvalCore::QVRadixSort& gpu) {
    const QVEvalCore::QVRadixSort::Layout layout = gpu.LatestLayout();
    std::array<std::uint64_t, QVEvalCore::QVRadixSort::kQueryCapacity> stamps{};
    (void)gpu.SelectedDevice().device.getQueryPoolResults(layout.queryPool, 0, layout.queryCount, sizeof(stamps),
                                                          stamps.data(), sizeof(std::uint64_t),
                                                          vk::QueryResultFlagBits::e64);
    const double period = gpu.SelectedPhysicalDevice().limits.timestampPeriod / 1e6;
    std::array<double, 3> ms{};
    for (std::uint32_t pass = layout.firstPass; pass < layout.endPass; ++pass) {
        for (std::uint32_t step = 0; step < 3; ++step) {
            ms[step] += static_cast<double>(stamps[4 * pass + step + 1] - stamps[4 * pass + step]) * period;
        }
    }
    return ms;
}

template <class Value>
void Gpu(benchmark::State& state) {
    if (!sorter) {
        state.SkipWithError(("no GPU sorter: " + gpuUnavailable).c_str());
        return;
    }
    const auto n = static_cast<std::uint64_t>(state.range(0));
    const DataSet<Value>& data = Data<Value>(n);
    std::vector<std::uint32_t> out(n);
    double onCardMs = 0;
    double hostMs = 0;
    std::array<double, 3> dispatchMs{};
    sorter->Sort(data.values, n, out.data(), true);  // builds the pipelines for the type
    sorter->WaitToFinish();
    sorter->TakeProgress();
    if (out != data.cpuPermutation) {
        state.SkipWithError("the GPU permutation differs from the CPU radix sort's");
        return;
    }
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        sorter->Sort(data.values, n, out.data(), true);
        sorter->WaitToFinish();
        const double ms = Milliseconds(std::chrono::steady_clock::now() - start);
        sorter->TakeProgress();
        state.SetIterationTime(ms / 1000.0);
        hostMs += ms;
        onCardMs += sorter->GpuTimeMs();
        const std::array<double, 3> steps = DispatchMs(*sorter);
        for (std::size_t step = 0; step < steps.size(); ++step) {
            dispatchMs[step] += steps[step];
        }
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["on_card_ms"] = onCardMs / iterations;
    state.counters["on_card_per_cpu"] = onCardMs / iterations / data.cpuMs;
    state.counters["gpu_per_cpu"] = hostMs / iterations / data.cpuMs;
    state.counters["counting_ms"] = dispatchMs[0] / iterations;
    state.counters["partition_ms"] = dispatchMs[1] / iterations;
    state.counters["scattering_ms"] = dispatchMs[2] / iterations;
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
}

void Sizes(benchmark::internal::Benchmark* b) { b->Arg(1'000'000)->Arg(10'000'000)->Unit(benchmark::kMillisecond); }

BENCHMARK(CpuRadix1T<std::int32_t>)->Name("INT/CPU Radix 1T")->Apply(Sizes);
BENCHMARK(Gpu<std::int32_t>)->Name("INT/GPU")->Apply(Sizes)->UseManualTime()->Iterations(3);
BENCHMARK(CpuRadix1T<std::int64_t>)->Name("BIGINT/CPU Radix 1T")->Apply(Sizes);
BENCHMARK(Gpu<std::int64_t>)->Name("BIGINT/GPU")->Apply(Sizes)->UseManualTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    QVEvalCore::QVCore::shaderPath = SORTBENCH_SHADER_DIR;
    // Software devices are accepted here (ranked below any GPU).
    QVEvalCore::QVRadixSort::Options options;
    options.core.allowCpuDevices = true;
    try {
        auto made = std::make_unique<QVEvalCore::QVRadixSort>(options);
        if (made->Init()) {
            sorter = std::move(made);
        } else {
            gpuUnavailable = made->VulkanReady() ? "shaders missing in " SORTBENCH_SHADER_DIR : "no Vulkan device";
        }
    } catch (const std::exception& error) {
        gpuUnavailable = error.what();
    }
    if (sorter) {
        std::printf("GPU sorter on: %s, scattering ranks with %s\n", sorter->SelectedPhysicalDevice().name.c_str(),
                    sorter->RanksWithBallots() ? "subgroup ballots" : "shared masks");
    }

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    sorter.reset();
    return 0;
}
