// The key-carrying radix sort (cpu_sort/pairs/PairRadixSorter.h) against the
// columns its targets name, on the driver's own data sets (TestData.cpp and
// KeyDistributions.cpp, seeded): Highway's vqsort as the driver's peer runs it
// (packed pairs built, sorted and unpacked, one thread), our index radix sort
// on 1 and on --threads workers, and the driver's parallel peers. Every
// round runs each column once, the columns' order rotating from round to
// round, so a slow spell of the shared machine spreads over all of them; each
// column's median over the rounds is printed with the ratios the targets are
// stated in. Every permutation is checked against vqsort's first.
//
// Wall time is what the targets are stated in; on a machine shared by many
// builds it mostly measures the others. --cpu-time times the one-thread
// columns by the process's CPU time instead (the time the sort ran, not the
// time it waited for a core); parallel columns are always wall time.
//
// Options:
//   --sizes=N,...          record counts (default 1000000,10000000)
//   --types=T,...          INT, FLOAT, BIGINT, BIGFLOAT (default all four)
//   --distributions=D,...  KeyDistributions names or "all" (default uniform)
//   --threads=T            workers of the parallel columns (default: online CPUs)
//   --rounds=R             rounds (default 5)
//   --parallel-peers       the driver's parallel peers too (slow to run)
//   --cpu-time             one-thread columns by CPU time, see above
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "benchmarks/LargeBuffer.h"
#include "benchmarks/ListArgument.h"
#include "cpu_sort/RadixSort32.h"
#include "cpu_sort/RadixSort64.h"
#include "cpu_sort/pairs/PairRadixSorter.h"
#include "driver/measuring/KeyDistributions.h"
#include "driver/measuring/TestData.h"
#include "driver/sorters/PeerSorters.h"
#include "support/CharBuffer.h"
#include "support/DataTypes.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    std::vector<unsigned long> sizes{1000000, 10000000};
    std::vector<std::string> types{"INT", "FLOAT", "BIGINT", "BIGFLOAT"};
    std::vector<Distribution> distributions{Distribution::Uniform};
    unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    unsigned rounds = 5;
    bool parallelPeers = false;
    bool cpuTime = false;
};

struct Column {
    std::string label;
    bool oneThread;
    std::function<void(std::uint32_t*)> sort;
    std::vector<double> ms;
    double Median() const {
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        const std::size_t m = sorted.size();
        return m == 0 ? 0 : m % 2 ? sorted[m / 2] : (sorted[m / 2 - 1] + sorted[m / 2]) / 2;
    }
};

// The process's CPU time so far, in milliseconds.
double CpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec * 1e-6;
}

double Median(const std::vector<Column>& columns, const std::string& label) {
    for (const Column& column : columns)
        if (column.label == label) return column.Median();
    return 0;
}

template <class Value>
void RadixColumn(const Value* values, unsigned long n, std::uint32_t* indices, unsigned long threads) {
    using Sorter = std::conditional_t<sizeof(Value) == 4, EvalCore::RadixSort32, EvalCore::RadixSort64>;
    static Sorter sorter{0};
    if constexpr (std::is_integral_v<Value>) {
        if (threads <= 1)
            sorter.SortINT(values, n, indices, true);
        else
            sorter.SortINT(values, n, indices, true, threads);
    } else {
        if (threads <= 1)
            sorter.SortFLT(values, n, indices, true);
        else
            sorter.SortFLT(values, n, indices, true, threads);
    }
}

template <class Value>
void RunDataSet(const Options& options, unsigned long n, Distribution distribution) {
    AppCore::CharBuffer drawn;
    ReseedTestData(n);
    const Value* generated = GenerateKeys<Value>(distribution, n, drawn);
    Buffer<Value> values(generated, generated + n);
    drawn = {};
    Buffer<std::uint32_t> reference(n), indices(n);
    PeerScratch peers;
    EvalCore::PairRadixSorter pairs;
    const Value* v = values.data();
    const unsigned T = options.threads;

    std::vector<Column> columns;
    const auto add = [&](std::string label, bool oneThread, std::function<void(std::uint32_t*)> sort) {
        columns.push_back({std::move(label), oneThread, std::move(sort), {}});
    };
    add("vqsort", true, [&](std::uint32_t* out) { PeerVqsort(v, n, out, peers, 1); });
    add("CPU 1 Thread", true, [&](std::uint32_t* out) { RadixColumn(v, n, out, 1); });
    add("CPU T Thread", false, [&](std::uint32_t* out) { RadixColumn(v, n, out, T); });
    add("pairs 1", true, [&](std::uint32_t* out) { pairs.Sort(v, n, out, 1); });
    add("pairs T", false, [&](std::uint32_t* out) { pairs.Sort(v, n, out, T); });
    if (options.parallelPeers) {
        add("block-indirect", false, [&](std::uint32_t* out) { PeerBlockIndirectSort(v, n, out, peers, T); });
        add("tbb", false, [&](std::uint32_t* out) { PeerTbbSort(v, n, out, peers, T); });
        add("sample", false, [&](std::uint32_t* out) { PeerSampleSort(v, n, out, peers, T); });
        add("gnu-parallel", false, [&](std::uint32_t* out) { PeerGnuParallelSort(v, n, out, peers, T); });
    }

    // Warm-up and check: every column's permutation equals vqsort's.
    for (Column& column : columns) {
        column.sort(&column == &columns[0] ? reference.data() : indices.data());
        if (&column != &columns[0] && indices != reference) {
            std::printf("%s %lu %s: %s's permutation differs from vqsort's\n", AppCore::DataTypeName<Value>(), n,
                        DistributionName(distribution), column.label.c_str());
            return;
        }
    }
    for (unsigned round = 0; round < options.rounds; ++round) {
        for (std::size_t k = 0; k < columns.size(); ++k) {
            Column& column = columns[(k + round) % columns.size()];
            const bool cpu = options.cpuTime && column.oneThread;
            const auto start = Clock::now();
            const double cpuStart = CpuMs();
            column.sort(indices.data());
            column.ms.push_back(cpu ? CpuMs() - cpuStart
                                    : std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
    }
    double bestParallel = Median(columns, "CPU T Thread");
    for (const char* peer : {"block-indirect", "tbb", "sample", "gnu-parallel"})
        if (const double ms = Median(columns, peer); ms > 0) bestParallel = std::min(bestParallel, ms);
    std::printf("%-8s %10lu %-13s", AppCore::DataTypeName<Value>(), n, DistributionName(distribution));
    for (const Column& column : columns) std::printf(" | %s %.1f", column.label.c_str(), column.Median());
    const double one = Median(columns, "pairs 1"), all = Median(columns, "pairs T");
    std::printf(" || 1/vq %.2f 1/cpu1 %.2f T/bestpar %.2f 1/T %.2f\n", one / Median(columns, "vqsort"),
                one / Median(columns, "CPU 1 Thread"), all / bestParallel, one / all);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        const auto value = [&](const char* name) -> const char* {
            const std::size_t length = std::strlen(name);
            return arg.compare(0, length, name) == 0 ? arg.c_str() + length : nullptr;
        };
        if (const char* list = value("--sizes=")) {
            options.sizes.clear();
            for (const std::string& item : SplitList(list)) options.sizes.push_back(std::stoul(item));
        } else if (const char* list = value("--types=")) {
            options.types = SplitList(list);
        } else if (const char* list = value("--distributions=")) {
            std::string error;
            if (!ParseDistributionList(list, options.distributions, error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
                return 1;
            }
        } else if (const char* count = value("--threads=")) {
            options.threads = static_cast<unsigned>(std::stoul(count));
        } else if (const char* count = value("--rounds=")) {
            options.rounds = static_cast<unsigned>(std::stoul(count));
        } else if (arg == "--cpu-time") {
            options.cpuTime = true;
        } else if (arg == "--parallel-peers") {
            options.parallelPeers = true;
        } else {
            std::fprintf(stderr, "pair_sort_benchmark: unknown option '%s'\n", arg.c_str());
            return 1;
        }
    }
    std::printf("medians of %u interleaved rounds, ms (one-thread columns %s); T = %u\n", options.rounds,
                options.cpuTime ? "CPU time" : "wall time", options.threads);
    for (unsigned long n : options.sizes)
        for (const std::string& type : options.types)
            for (Distribution distribution : options.distributions) {
                if (type == "INT") RunDataSet<std::int32_t>(options, n, distribution);
                if (type == "FLOAT") RunDataSet<float>(options, n, distribution);
                if (type == "BIGINT") RunDataSet<std::int64_t>(options, n, distribution);
                if (type == "BIGFLOAT") RunDataSet<double>(options, n, distribution);
            }
    return 0;
}
