// Where the one-thread radix sort's time goes, phase by phase, on the keys the
// driver draws (uniform below 2^24 in magnitude): the one sweep that counts
// every pass's digits, then each pass's scatter. Each benchmark sorts once per
// iteration, timing every phase apart; the counters give each phase's mean
// milliseconds:
//   count_ms           CountEveryDigit over the keys in memory order
//   pass0_ms ... 3     ScatterBackwards of that pass (pass 0 from the identity)
//   recount_ms         for comparison, not part of the sort: counting passes 1
//                      to 3 by sweeps of their own through the permuted
//                      indices, as the sort of 8-byte keys once did
// The wall time of an iteration (manual time) is the sort's phases alone.
//
// With --threads, the multi-threaded sort on that many workers as well
// ("TYPE/N/T threads"): pass0_ms ... 3 are then whole passes, each its count
// phase, the sum over the chunks and its scatter.
//
// Options (before Google Benchmark's own):
//   --sizes=N,N,...   record counts (default 1000000,10000000)
//   --threads=T,...   worker counts of 2 or more for the multi-threaded sort
//                     (default none)
//   --no-huge-pages   keys and indices from the plain allocator; by default
//                     they are advised for transparent huge pages, as the
//                     driver advises its buffers
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "benchmarks/DriverKeys.h"
#include "benchmarks/LargeBuffer.h"
#include "benchmarks/ListArgument.h"
#include "cpu_sort/IndexRadixSort.h"
#include "cpu_sort/MultiThreadedRadixSort.h"

namespace {

using namespace EvalCore::Detail;
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// pass0_ms ... pass3_ms: each pass's mean time over the iterations.
void SetPassCounters(benchmark::State& state, const double (&passMs)[4]) {
    const double iterations = static_cast<double>(state.iterations());
    for (unsigned pass = 0; pass < 4; ++pass)
        state.counters["pass" + std::to_string(pass) + "_ms"] = passMs[pass] / iterations;
}

template <class Value>
void Phases(benchmark::State& state, std::size_t n) {
    using Layout = DigitLayout<Value>;
    Buffer<Value> values(n);
    FillDriverKeys(values.data(), n, n);
    Buffer<std::uint32_t> indices(n), scratch(n);
    std::vector<std::uint32_t> histogram(Layout::radix), passCounts(4 * Layout::radix), recount(Layout::radix);
    double count = 0, passes[4] = {}, recounts = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        std::fill(passCounts.begin(), passCounts.end(), 0u);
        CountEveryDigit(values.data(), IdentityEntries{}, 0, n, passCounts.data());
        double sortMs = MsSince(start);
        count += sortMs;
        for (unsigned pass = 0; pass < Layout::passes; ++pass) {
            const std::uint32_t* source = pass % 2 == 0 ? indices.data() : scratch.data();
            std::uint32_t* destination = pass % 2 == 0 ? scratch.data() : indices.data();
            if (pass > 0) {
                std::fill(recount.begin(), recount.end(), 0u);
                start = Clock::now();
                CountDigits(values.data(), source, 0, n, pass * Layout::bits, recount.data());
                recounts += MsSince(start);
            }
            start = Clock::now();
            SingleThreadedPass(values.data(), n, pass, pass == 0, source, destination, passCounts.data(),
                               histogram.data());
            const double ms = MsSince(start);
            passes[pass] += ms;
            sortMs += ms;
        }
        state.SetIterationTime(sortMs / 1e3);
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["count_ms"] = count / iterations;
    SetPassCounters(state, passes);
    state.counters["recount_ms"] = recounts / iterations;
}

template <class Value>
void MultiThreadedPhases(benchmark::State& state, std::size_t n, unsigned long threads) {
    Buffer<Value> values(n);
    FillDriverKeys(values.data(), n, n);
    Buffer<std::uint32_t> indices(n), scratch(n);
    std::vector<std::uint32_t> histograms(threads * DigitLayout<Value>::radix);
    // Kept across iterations, as the sorter keeps them across calls.
    AppCore::CharBuffer workerTables;
    std::uint32_t* tables = GrowWorkerTables<Value>(workerTables, n, threads);
    double passes[4] = {};
    for (auto _ : state) {
        double sortMs = 0;
        MultiThreadedSort<Value> sort(values.data(), n, indices.data(), true, scratch.data(), histograms.data(), tables,
                                      threads);
        for (unsigned pass = 0; pass < DigitLayout<Value>::passes; ++pass) {
            const auto start = Clock::now();
            sort.RunPass(pass);
            const double ms = MsSince(start);
            passes[pass] += ms;
            sortMs += ms;
        }
        state.SetIterationTime(sortMs / 1e3);
    }
    SetPassCounters(state, passes);
}

template <class Value>
void Register(const char* type, std::size_t n, const std::vector<unsigned long>& threadCounts) {
    const std::string name = std::string(type) + "/" + std::to_string(n);
    benchmark::RegisterBenchmark(name.c_str(), [n](benchmark::State& state) { Phases<Value>(state, n); })
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    for (const unsigned long threads : threadCounts) {
        benchmark::RegisterBenchmark(
            (name + "/" + std::to_string(threads) + " threads").c_str(),
            [n, threads](benchmark::State& state) { MultiThreadedPhases<Value>(state, n, threads); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::size_t> sizes{1'000'000, 10'000'000};
    std::vector<unsigned long> threadCounts;
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--sizes=", 8) == 0) {
            sizes.clear();
            for (const std::string& item : SplitList(argv[i] + 8)) sizes.push_back(std::stoull(item));
        } else if (std::strncmp(argv[i], "--threads=", 10) == 0) {
            for (const std::string& item : SplitList(argv[i] + 10))
                if (const unsigned long threads = std::stoul(item); threads >= 2) threadCounts.push_back(threads);
        } else if (std::strcmp(argv[i], "--no-huge-pages") == 0) {
            largeBuffersOnHugePages = false;
        } else {
            rest.push_back(argv[i]);
        }
    }
    for (const std::size_t n : sizes) {
        Register<std::int32_t>("INT", n, threadCounts);
        Register<float>("FLOAT", n, threadCounts);
        Register<std::int64_t>("BIGINT", n, threadCounts);
        Register<double>("BIGFLOAT", n, threadCounts);
    }
    int restCount = static_cast<int>(rest.size());
    benchmark::Initialize(&restCount, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
