// Whether the work of the multi-threaded radix sort's pass 0 can run twice as
// fast on two workers on this machine, taken apart: each kernel on 10M
// records, once on one thread over all of them and once on two threads over
// half each, started together (manual time: the wall time of the call; the
// slower worker decides it). Set the 2-thread time of a kernel against its
// 1-thread time: about 0.5 where the workers share nothing.
//   PairCounts   pass 0's count with digit pairs (CountFirstDigitAndPairs):
//                the keys streamed in memory order, digit 0 into 256
//                counters and three digit pairs into a 768 KiB table per worker
//   DigitCounts  the stream alone: digit 0 of every key into 256 counters
//   Increments768KiB / Increments32KiB
//                random increments into a worker's table of that size, the
//                indices from a register generator: no stream
//   Arithmetic   eight independent multiply-add chains: no memory at all
//   Pass0Scatter pass 0's scatter (ScatterBackwards from the identity): the
//                keys streamed, each entry written to the slot its digit 0
//                and its worker's chunk give, the workers' slots disjoint
//
//   build/benchmarks/worker_scaling_benchmark --benchmark_repetitions=11
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "cpu_sort/DigitPairCounts.h"
#include "cpu_sort/RadixPassKernels.h"
#include "support/SecondsSince.h"

namespace {

using EvalCore::Detail::IdentityEntries;
using EvalCore::Detail::kPairTable;

constexpr std::size_t kRecords = 10'000'000;

// The driver's INT keys: uniform below 2^24 in magnitude.
const std::vector<std::int32_t>& Keys() {
    static const std::vector<std::int32_t> keys = [] {
        std::vector<std::int32_t> drawn(kRecords);
        std::mt19937 generator(7);
        std::uniform_int_distribution<std::int32_t> uniform(-(1 << 24), (1 << 24) - 1);
        for (std::int32_t& key : drawn) key = uniform(generator);
        return drawn;
    }();
    return keys;
}

// One worker's tables, apart from the other's.
struct WorkerTables {
    std::vector<std::uint32_t> pairs = std::vector<std::uint32_t>(kPairTable);
    std::vector<std::uint32_t> digits = std::vector<std::uint32_t>(256);
};

// Kernel(tables, first, last): the work of records [first, last).
using Kernel = std::function<void(WorkerTables&, std::size_t, std::size_t)>;

std::uint64_t Next(std::uint64_t x) { return x * 6364136223846793005ull + 1442695040888963407ull; }

void PairCounts(WorkerTables& tables, std::size_t first, std::size_t last) {
    std::fill(tables.pairs.begin(), tables.pairs.end(), 0u);
    std::fill(tables.digits.begin(), tables.digits.end(), 0u);
    EvalCore::Detail::CountFirstDigitAndPairs(Keys().data(), IdentityEntries{}, first, last, tables.digits.data(),
                                              tables.pairs.data());
}

void DigitCounts(WorkerTables& tables, std::size_t first, std::size_t last) {
    std::fill(tables.digits.begin(), tables.digits.end(), 0u);
    EvalCore::Detail::CountDigits(Keys().data(), IdentityEntries{}, first, last, 0, tables.digits.data());
}

template <std::size_t kCounters>
void Increments(WorkerTables& tables, std::size_t first, std::size_t last) {
    static_assert(kCounters <= kPairTable);
    std::fill(tables.pairs.begin(), tables.pairs.end(), 0u);
    std::uint32_t* counters = tables.pairs.data();
    std::uint64_t x = first;
    for (std::size_t i = first; i < last; ++i) {
        x = Next(x);
        ++counters[(x >> 40) % kCounters];
    }
    benchmark::DoNotOptimize(counters[0]);
}

void Arithmetic(WorkerTables&, std::size_t first, std::size_t last) {
    std::uint64_t x[8];
    for (std::uint64_t j = 0; j < 8; ++j) x[j] = first + j;
    for (std::size_t i = first; i < last; i += 2)
        for (std::uint64_t& chain : x) chain = Next(chain);
    for (std::uint64_t chain : x) benchmark::DoNotOptimize(chain);
}

// Where pass 0's scatter of records [0, last) ends each digit's slots, as the
// sort's sum over the chunks leaves them for the chunk that ends at `last`:
// the digit's run start over all records plus its count in [0, last).
// Computed before any benchmark runs, for the chunks of one and two workers.
const std::vector<std::uint32_t>& SlotEndsAt(std::size_t last) {
    static const auto ends = [] {
        const auto countsTo = [](std::size_t end) {
            std::vector<std::uint32_t> counts(256, 0);
            EvalCore::Detail::CountDigits(Keys().data(), IdentityEntries{}, 0, end, 0, counts.data());
            return counts;
        };
        const std::vector<std::uint32_t> total = countsTo(kRecords), half = countsTo(kRecords / 2);
        std::vector<std::uint32_t> halfEnds(256), wholeEnds(256);
        std::uint32_t start = 0;
        for (std::size_t d = 0; d < 256; ++d) {
            halfEnds[d] = start + half[d];
            wholeEnds[d] = start + total[d];
            start += total[d];
        }
        return std::pair{halfEnds, wholeEnds};
    }();
    return last == kRecords ? ends.second : ends.first;
}

std::vector<std::uint32_t>& Destination() {
    static std::vector<std::uint32_t> destination(kRecords);
    return destination;
}

void Pass0Scatter(WorkerTables& tables, std::size_t first, std::size_t last) {
    const std::vector<std::uint32_t>& ends = SlotEndsAt(last);
    std::copy(ends.begin(), ends.end(), tables.digits.begin());
    EvalCore::Detail::ScatterBackwards(Keys().data(), IdentityEntries{}, first, last, 0, tables.digits.data(),
                                       Destination().data(), [](std::int32_t, std::uint32_t) {});
}

void OnThreads(benchmark::State& state, const Kernel& kernel) {
    const auto threads = static_cast<std::size_t>(state.range(0));
    std::vector<WorkerTables> tables(threads);
    Keys();
    for (auto _ : state) {
        const auto started = std::chrono::steady_clock::now();
        std::vector<std::thread> workers;
        for (std::size_t t = 1; t < threads; ++t)
            workers.emplace_back(kernel, std::ref(tables[t]), kRecords * t / threads, kRecords * (t + 1) / threads);
        kernel(tables[0], 0, kRecords / threads);
        for (std::thread& worker : workers) worker.join();
        state.SetIterationTime(AppCore::SecondsSince(started));
    }
}

void Register(const char* name, Kernel kernel) {
    benchmark::RegisterBenchmark(name, [kernel](benchmark::State& state) { OnThreads(state, kernel); })
        ->Arg(1)
        ->Arg(2)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
    Register("PairCounts", PairCounts);
    Register("DigitCounts", DigitCounts);
    Register("Increments768KiB", Increments<kPairTable>);
    Register("Increments32KiB", Increments<8192>);
    Register("Arithmetic", Arithmetic);
    Register("Pass0Scatter", Pass0Scatter);
    SlotEndsAt(kRecords);
    Destination();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
