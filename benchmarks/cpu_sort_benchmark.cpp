// The CPU radix sorters against two peers on the same seeded data:
//   "CPU Standard"  std::stable_sort of the indices 0 ... n-1 by data[a] < data[b]
//                   (the benchmark's baseline column),
//   "Radix T"       RadixSort32 / RadixSort64 with T = 1, 2, 4, 8 worker threads,
//   "vqsort"        Highway's vectorised quicksort of packed (sort key, index)
//                   pairs; distinct pairs make it yield the same permutation.
// Every sorter's permutation is checked once per data set against the first
// one computed on it (normally the baseline's). Times are wall-clock; the
// counter x_standard and the closing summary give each column as a speed-up
// over the baseline measured in the same run (with --benchmark_repetitions=N,
// the fastest repetition of each column).
//
// On a shared machine whose speed drifts over minutes, run one type and size
// with --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true:
// the columns' repetitions then take turns, and a slow spell no longer lands
// on one column alone.
//
// Options (before Google Benchmark's own):
//   --sizes=N,N,...   record counts (default 1000000,10000000,100000000;
//                     100M records need about 4 GB and a few minutes)
//   --types=T,T,...   any of INT,FLOAT,BIGINT,BIGFLOAT (default all four)
//   --no-huge-pages   take every large buffer from the plain allocator; by
//                     default every large buffer of every column (data,
//                     indices, pairs) is advised for transparent huge pages,
//                     as the driver advises its data and index buffers
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <numeric>
#include <set>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include <benchmark/benchmark.h>
#include <hwy/contrib/sort/vqsort.h>

#include "benchmarks/DriverKeys.h"
#include "benchmarks/LargeBuffer.h"
#include "benchmarks/ListArgument.h"
#include "cpu_sort/RadixSort32.h"
#include "cpu_sort/RadixSort64.h"
#include "cpu_sort/SortKey.h"
#include "support/DataTypes.h"

namespace {

constexpr unsigned long kThreadCounts[] = {1, 2, 4, 8};

struct Column {
    std::string label;
    double milliseconds = 0;  // 0 until measured
};

constexpr const char* kBaseline = "CPU Standard";

// type name -> count -> columns, in the order they were registered.
std::map<std::string, std::map<unsigned long, std::vector<Column>>> results;

template <class Value>
const char* TypeName() {
    return AppCore::DataTypeName<Value>();
}

// Sorter state shared by the columns; released with every new data set so
// that a 100M run holds one data set's memory at a time.
struct Workspace {
    EvalCore::RadixSort32 sorter32{0};
    EvalCore::RadixSort64 sorter64{0};
    Buffer<std::uint64_t> pairs64;
    Buffer<hwy::uint128_t> pairs128;
    const hwy::Sorter vqsort;

    void Release() {
        sorter32.ReleaseScratch();
        sorter64.ReleaseScratch();
        pairs64 = {};
        pairs128 = {};
    }
};

Workspace& Shared() {
    static Workspace workspace;
    return workspace;
}

template <class Value>
struct DataSet {
    unsigned long count = ~0ul;
    Buffer<Value> values;
    Buffer<unsigned> reference;      // the baseline's permutation
    std::set<std::string> verified;  // columns whose warm-up matched it

    static DataSet& Current() {
        static DataSet set;
        return set;
    }

    // The columns of one (type, count) run back to back, so each set is
    // generated once.
    static DataSet& For(unsigned long n);
};

void ReleaseDataSets() {
    DataSet<int>::Current() = {};
    DataSet<float>::Current() = {};
    DataSet<long>::Current() = {};
    DataSet<double>::Current() = {};
    Shared().Release();
}

template <class Value>
DataSet<Value>& DataSet<Value>::For(unsigned long n) {
    DataSet& set = Current();
    if (set.count == n) return set;
    ReleaseDataSets();
    set.count = n;
    set.values.resize(n);
    FillDriverKeys(set.values.data(), n, n);
    return set;
}

double Milliseconds(std::chrono::steady_clock::duration elapsed) {
    return std::chrono::duration<double, std::milli>(elapsed).count();
}

// Times `sort` (which fills `indices`); the first call per data set and
// column is preceded by an untimed warm-up whose result must equal the
// baseline's. Records the mean time under `label`.
template <class Value, class Sort>
void Measure(benchmark::State& state, const std::string& label, Sort sort) {
    const unsigned long n = state.range(0);
    DataSet<Value>& set = DataSet<Value>::For(n);
    Buffer<unsigned> indices(n);
    if (set.verified.count(label) == 0) {
        sort(set.values.data(), n, indices.data());
        if (set.reference.empty() && n > 0) set.reference = indices;
        if (indices != set.reference) {
            state.SkipWithError((label + ": permutation differs from the baseline's").c_str());
            return;
        }
        set.verified.insert(label);
    }
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        sort(set.values.data(), n, indices.data());
        const double ms = Milliseconds(std::chrono::steady_clock::now() - start);
        state.SetIterationTime(ms / 1e3);
        total += ms;
        benchmark::DoNotOptimize(indices.data());
    }
    const double mean = total / state.iterations();
    // Repetitions (--benchmark_repetitions) keep the fastest run: on a shared
    // machine the noise only ever adds time.
    auto& columns = results[TypeName<Value>()][n];
    const auto column = [&](const std::string& name) {
        return std::find_if(columns.begin(), columns.end(), [&](const Column& c) { return c.label == name; });
    };
    const auto known = column(label);
    known->milliseconds = known->milliseconds == 0 ? mean : std::min(known->milliseconds, mean);
    const double baseline = column(kBaseline)->milliseconds;
    if (baseline > 0) state.counters["x_standard"] = baseline / mean;
    state.SetItemsProcessed(state.iterations() * n);
}

template <class Value>
void StandardSort(const Value* values, unsigned long n, unsigned* indices) {
    std::iota(indices, indices + n, 0u);
    std::stable_sort(indices, indices + n, [values](unsigned a, unsigned b) { return values[a] < values[b]; });
}

template <class Value>
void RadixSort(const Value* values, unsigned long n, unsigned* indices, unsigned long threads) {
    Workspace& shared = Shared();
    if constexpr (std::is_same_v<Value, int>) shared.sorter32.SortINT(values, n, indices, true, threads);
    if constexpr (std::is_same_v<Value, float>) shared.sorter32.SortFLT(values, n, indices, true, threads);
    if constexpr (std::is_same_v<Value, long>) shared.sorter64.SortINT(values, n, indices, true, threads);
    if constexpr (std::is_same_v<Value, double>) shared.sorter64.SortFLT(values, n, indices, true, threads);
}

// (key, index) pairs are all distinct, so any correct sort of them gives the
// stable permutation: 64-bit words key << 32 | index for 32-bit keys, 128-bit
// words (key, index) for 64-bit keys.
template <class Value>
void VqSort(const Value* values, unsigned long n, unsigned* indices) {
    Workspace& shared = Shared();
    if constexpr (sizeof(Value) == 4) {
        Buffer<std::uint64_t>& pairs = shared.pairs64;
        pairs.resize(n);
        for (unsigned long i = 0; i < n; ++i) pairs[i] = std::uint64_t{EvalCore::SortKey(values[i])} << 32 | i;
        shared.vqsort(pairs.data(), n, hwy::SortAscending());
        for (unsigned long i = 0; i < n; ++i) indices[i] = static_cast<unsigned>(pairs[i]);
    } else {
        Buffer<hwy::uint128_t>& pairs = shared.pairs128;
        pairs.resize(n);
        for (unsigned long i = 0; i < n; ++i) pairs[i] = {i, EvalCore::SortKey(values[i])};
        shared.vqsort(pairs.data(), n, hwy::SortAscending());
        for (unsigned long i = 0; i < n; ++i) indices[i] = static_cast<unsigned>(pairs[i].lo);
    }
}

template <class Value>
void Register(unsigned long n) {
    const std::string type = TypeName<Value>();
    const auto add = [&](const std::string& label, auto sort) {
        results[type][n].push_back({label});
        benchmark::RegisterBenchmark((type + "/" + label).c_str(),
                                     [label, sort](benchmark::State& state) { Measure<Value>(state, label, sort); })
            ->Arg(static_cast<std::int64_t>(n))
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    };
    add(kBaseline, StandardSort<Value>);
    for (unsigned long threads : kThreadCounts)
        add("Radix " + std::to_string(threads) + " Thread",
            [threads](const Value* v, unsigned long count, unsigned* i) { RadixSort(v, count, i, threads); });
    add("vqsort", VqSort<Value>);
}

void PrintSummary() {
    std::printf("\nSpeed-up over CPU Standard (same run); radix thread scaling relative to 2 threads\n");
    for (const auto& [type, counts] : results)
        for (const auto& [n, columns] : counts) {
            std::printf("%-8s %11lu:", type.c_str(), n);
            double two = 0, one = 0, baseline = 0;
            for (const Column& column : columns)
                if (column.label == kBaseline) baseline = column.milliseconds;
            for (const Column& column : columns) {
                if (column.milliseconds == 0) continue;
                std::printf("  %s %.1f ms", column.label.c_str(), column.milliseconds);
                if (baseline > 0) std::printf(" (%.2fx)", baseline / column.milliseconds);
                if (column.label == "Radix 1 Thread") one = column.milliseconds;
                if (column.label == "Radix 2 Thread") two = column.milliseconds;
            }
            std::printf("\n");
            if (one > 0 && two > 0) {
                std::printf("%21s  2 threads vs 1: %.2fx", "", one / two);
                for (const Column& column : columns) {
                    const bool more = column.label == "Radix 4 Thread" || column.label == "Radix 8 Thread";
                    if (more && column.milliseconds > 0)
                        std::printf(", %s %+.0f%% vs 2", column.label.c_str(), (column.milliseconds / two - 1) * 100);
                }
                std::printf("\n");
            }
        }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> sizes = {"1000000", "10000000", "100000000"};
    std::vector<std::string> types;
    for (const AppCore::DataTypeFacts& type : AppCore::kDataTypes) types.emplace_back(type.name);
    std::vector<char*> passOn = {argv[0]};
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("--sizes=", 0) == 0)
            sizes = SplitList(argument.substr(8));
        else if (argument.rfind("--types=", 0) == 0)
            types = SplitList(argument.substr(8));
        else if (argument == "--no-huge-pages")
            largeBuffersOnHugePages = false;
        else
            passOn.push_back(argv[i]);
    }
    for (const std::string& type : types)
        for (const std::string& size : sizes) {
            const unsigned long n = std::stoul(size);
            if (type == TypeName<int>())
                Register<int>(n);
            else if (type == TypeName<float>())
                Register<float>(n);
            else if (type == TypeName<long>())
                Register<long>(n);
            else if (type == TypeName<double>())
                Register<double>(n);
            else {
                std::fprintf(stderr, "Unknown type \"%s\": expected INT, FLOAT, BIGINT or BIGFLOAT\n", type.c_str());
                return 2;
            }
        }
    int passOnCount = static_cast<int>(passOn.size());
    benchmark::Initialize(&passOnCount, passOn.data());
    if (benchmark::ReportUnrecognizedArguments(passOnCount, passOn.data())) return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintSummary();
    return 0;
}
