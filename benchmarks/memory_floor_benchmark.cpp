// The memory floor (driver/measuring/MemoryFloor.h) against what it bounds:
//   "Probe/exact"    ProbeDataSetLimits for every data set, at its own
//                    sizes, as a run with floors prices it;
//   "Probe/ladder"   ProbeCpuLimits with its defaults, as -LIMITS takes it,
//                    for the floor priced as before 2026-12-08 (each figure
//                    at the largest size no larger than the array);
//   "Stripped pass"  one thread making the third pass's loads and stores with
//                    none of its digit logic: n indices read in order (the
//                    order the first two passes left), n keys loaded through
//                    them with the sort's prefetch, n indices stored to the
//                    slots the pass gives them (read from an array computed
//                    before timing). The floor's model predicts it as
//                    n / M(4n), the probe's moves over random positions and
//                    random fronts: its charge for a pass through the indices
//                    with the slot reads the probe made as well (n / G(4n),
//                    loads alone, for a digit outside the spread bits). The
//                    summary also shows what loads and stores timed apart
//                    predict;
//   "Radix pass"     that pass as the sort makes it (ScatterBackwards), for
//                    the cost of the digit logic;
//   "Radix T"        RadixSort32 / RadixSort64 SortINT on T = 1, 2, 4, 8
//                    threads with initIndices, held against RadixSortFloorMs.
// The summary gives medians over the repetitions, probe figures included (each
// the best of 3 within its repetition). Target: every stripped pass over a
// spread digit within 20% of its prediction; the exit status is 1 when one is
// not. Over a digit outside the spread bits the prediction is a bound only.
//
// Keys are uniform over the whole key range; --narrow-keys draws them below
// 2^24 in magnitude, as the driver does, and tells the floor they spread over
// 24 bits: the stripped pass of 8-byte keys is then predicted by its loads
// alone, its digit having two values.
//
// Unless given, --benchmark_repetitions=5 and
// --benchmark_enable_random_interleaving=true are added: the machine is shared,
// and interleaved repetitions spread a slow spell over every column.
//
// Options (before Google Benchmark's own):
//   --sizes=N,N,...   record counts (default 1000000,10000000)
//   --narrow-keys     keys below 2^24 in magnitude
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <numeric>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include <benchmark/benchmark.h>

#include "benchmarks/ListArgument.h"
#include "cpu_sort/RadixPassKernels.h"
#include "cpu_sort/RadixSort32.h"
#include "cpu_sort/RadixSort64.h"
#include "driver/machine/AccessPatterns.h"
#include "driver/machine/LimitsProbe.h"
#include "driver/machine/LimitsText.h"
#include "driver/measuring/MemoryFloor.h"
#include "support/CharBuffer.h"
#include "support/DataTypes.h"
#include "support/SecondsSince.h"

namespace {

constexpr unsigned kThreadCounts[] = {1, 2, 4, 8};
constexpr double kTolerance = 0.20;
constexpr unsigned kStrippedPass = 2;  // the third pass: its indices follow no memory order

std::vector<std::uint64_t> sizes = {1'000'000, 10'000'000};
bool narrowKeys = false;
constexpr unsigned kNarrowSpreadBits = 24;

unsigned SpreadBits() { return narrowKeys ? kNarrowSpreadBits : kAllKeyBits; }

// An owned array advised for huge pages and written once, so that no timing
// takes its page faults.
template <class T>
class Array {
public:
    explicit Array(std::size_t count) : buffer(count * sizeof(T)) {
        if (count > 0 && buffer.data == nullptr) throw std::bad_alloc();
        std::memset(buffer.data, 0, buffer.size);
    }
    T* data() { return reinterpret_cast<T*>(buffer.data); }
    T& operator[](std::size_t i) { return data()[i]; }

private:
    AppCore::CharBuffer buffer;
};

template <class Key>
using Layout = EvalCore::Detail::DigitLayout<Key>;

// Counts of digit `pass` over the keys of entries[0, n), summed so that
// ends[d] is one past the last slot of digit d, as ScatterBackwards takes them.
template <class Key>
std::vector<std::uint32_t> SlotEnds(const Key* keys, const std::uint32_t* entries, std::size_t n, unsigned pass) {
    std::vector<std::uint32_t> ends(Layout<Key>::radix, 0);
    for (std::size_t p = 0; p < n; ++p) ++ends[Layout<Key>::Digit(keys[entries[p]], pass * Layout<Key>::bits)];
    std::partial_sum(ends.begin(), ends.end(), ends.begin());
    return ends;
}

// One data set, and the third pass of its sort laid out before any timing.
template <class Key>
struct DataSet {
    std::size_t n;
    Array<Key> keys;
    Array<std::uint32_t> source;  // the order the first two passes leave
    Array<std::uint32_t> slots;   // where the third pass puts each of those entries
    Array<std::uint32_t> destination, sorted;
    std::vector<std::uint32_t> passEnds;  // the third pass's slot ends
    std::vector<std::uint32_t> slotEnds;  // their copy, which a timed pass counts down

    explicit DataSet(std::size_t count)
        : n(count), keys(count), source(count), slots(count), destination(count), sorted(count) {
        std::mt19937_64 random(count * sizeof(Key));
        std::uniform_int_distribution<Key> narrow(-16'777'215, 16'777'215);
        for (std::size_t i = 0; i < n; ++i) keys[i] = narrowKeys ? narrow(random) : static_cast<Key>(random());
        std::iota(destination.data(), destination.data() + n, 0u);
        for (unsigned pass = 0; pass < kStrippedPass; ++pass) {
            std::uint32_t* from = pass % 2 == 0 ? destination.data() : source.data();
            std::uint32_t* to = pass % 2 == 0 ? source.data() : destination.data();
            std::vector<std::uint32_t> ends = SlotEnds(keys.data(), from, n, pass);
            EvalCore::Detail::ScatterBackwards(keys.data(), from, 0, n, pass * Layout<Key>::bits, ends.data(), to,
                                               [](Key, std::uint32_t) {});
        }
        if (kStrippedPass % 2 == 0) std::memcpy(source.data(), destination.data(), n * sizeof(std::uint32_t));
        passEnds = SlotEnds(keys.data(), source.data(), n, kStrippedPass);
        slotEnds = passEnds;
        std::vector<std::uint32_t> ends = passEnds;
        for (std::size_t p = n; p > 0; --p)
            slots[p - 1] = --ends[Layout<Key>::Digit(keys[source[p - 1]], kStrippedPass * Layout<Key>::bits)];
    }

    static DataSet& For(std::size_t n) {
        static std::map<std::size_t, std::unique_ptr<DataSet>> sets;
        std::unique_ptr<DataSet>& set = sets[n];
        if (!set) set = std::make_unique<DataSet>(n);
        return *set;
    }
};

// Every timing of a benchmark, in milliseconds, by its name.
std::map<std::string, std::vector<double>> times;
std::vector<std::vector<DataSetLimits>> exactProbes;  // per repetition, one table per size
std::vector<CpuLimits> ladderProbes;

double Median(std::vector<double> values) {
    if (values.empty()) return std::nan("");
    std::sort(values.begin(), values.end());
    const std::size_t half = values.size() / 2;
    return values.size() % 2 == 1 ? values[half] : (values[half - 1] + values[half]) / 2;
}

// Times `work` per iteration. A warm-up run first, untimed, builds the data
// set and grows the sorters' scratch, so no timing holds an allocation or a
// first touch.
template <class Work>
void Time(benchmark::State& state, const std::string& name, Work work, bool warmUp = true) {
    if (warmUp) work();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const double seconds = AppCore::SecondsSince(start);
        state.SetIterationTime(seconds);
        times[name].push_back(seconds * 1e3);
    }
}

void Probe(benchmark::State& state, bool exact) {
    if (exact) {
        std::vector<DataSetLimits> tables;
        Time(
            state, "Probe/exact",
            [&] {
                tables.clear();
                for (const std::uint64_t n : sizes) tables.push_back(ProbeDataSetLimits(n));
            },
            false);
        for (const DataSetLimits& table : tables)
            if (!table.Measured()) state.SkipWithError(("probe skipped: " + table.skipped).c_str());
        exactProbes.push_back(tables);
        return;
    }
    CpuLimits limits;
    Time(
        state, "Probe/ladder", [&] { limits = ProbeCpuLimits(); }, false);
    if (!limits.Measured()) state.SkipWithError(("probe skipped: " + limits.skipped).c_str());
    ladderProbes.push_back(limits);
}

// The table the floor took from the ladder before 2026-12-08: each figure at
// the largest probed size of at most the array's, for comparison.
DataSetLimits LadderTable(const CpuLimits& limits, std::uint64_t n) {
    const auto atMost = [&](std::uint64_t bytes) -> const ArrayLimits* {
        const ArrayLimits* largest = nullptr;
        for (const ArrayLimits& array : limits.arrays)
            if (array.arrayBytes <= bytes) largest = &array;
        return largest;
    };
    DataSetLimits table;
    table.records = n;
    const ArrayLimits* index = atMost(n * sizeof(std::uint32_t));
    const ArrayLimits* wide = atMost(n * sizeof(std::uint64_t));
    if (!limits.Measured() || !index || !wide) {
        table.skipped = "no probed size as small as the arrays";
        return table;
    }
    table.indexArrays = *index;
    table.wideKeys = *wide;
    return table;
}

// The table of n in one repetition of the exact probe, if it has one.
const DataSetLimits* ExactTable(const std::vector<DataSetLimits>& tables, std::uint64_t n) {
    for (const DataSetLimits& table : tables)
        if (table.records == n) return &table;
    return nullptr;
}

template <class Key>
const char* TypeName() {
    return AppCore::DataTypeName<Key>();
}

template <class Key>
std::string Name(const std::string& column, std::uint64_t n) {
    return std::string(TypeName<Key>()) + "/" + column + "/" + std::to_string(n);
}

template <class Key>
void Sort(std::size_t n, unsigned threads) {
    DataSet<Key>& set = DataSet<Key>::For(n);
    static std::conditional_t<sizeof(Key) == 4, EvalCore::RadixSort32, EvalCore::RadixSort64> sorter(0);
    sorter.SortINT(set.keys.data(), n, set.sorted.data(), true, threads);
}

template <class Key>
void Register(std::uint64_t n) {
    const auto add = [&](const std::string& column, auto work) {
        const std::string name = Name<Key>(column, n);
        benchmark::RegisterBenchmark(name.c_str(), [name, work](benchmark::State& state) { Time(state, name, work); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    };
    add("Stripped pass", [n] {
        DataSet<Key>& set = DataSet<Key>::For(n);
        benchmark::DoNotOptimize(AccessPatterns::MoveThrough(set.keys.data(), set.source.data(), set.slots.data(),
                                                             set.destination.data(), n));
    });
    add("Radix pass", [n] {
        DataSet<Key>& set = DataSet<Key>::For(n);
        std::copy(set.passEnds.begin(), set.passEnds.end(), set.slotEnds.begin());
        EvalCore::Detail::ScatterBackwards(set.keys.data(), set.source.data(), 0, n, kStrippedPass * Layout<Key>::bits,
                                           set.slotEnds.data(), set.destination.data(), [](Key, std::uint32_t) {});
        benchmark::DoNotOptimize(set.destination.data());
    });
    for (const unsigned threads : kThreadCounts)
        add("Radix " + std::to_string(threads), [n, threads] { Sort<Key>(n, threads); });
}

// The median over the probes' repetitions of what `of` makes of the table of
// n records in each.
template <class Of>
double OverProbes(std::uint64_t n, Of of) {
    std::vector<double> values;
    for (const std::vector<DataSetLimits>& tables : exactProbes)
        if (const DataSetLimits* table = ExactTable(tables, n))
            if (const std::optional<double> value = of(*table)) values.push_back(*value);
    return Median(values);
}

template <class Of>
double OverLadders(std::uint64_t n, Of of) {
    std::vector<double> values;
    for (const CpuLimits& limits : ladderProbes)
        if (const std::optional<double> value = of(LadderTable(limits, n))) values.push_back(*value);
    return Median(values);
}

// Prints the checks; false when a stripped pass misses its prediction.
template <class Key>
bool Summarise(std::uint64_t n) {
    const unsigned w = sizeof(Key);
    const double stripped = Median(times[Name<Key>("Stripped pass", n)]);
    const bool spread = (kStrippedPass + 1) * Layout<Key>::bits <= SpreadBits();
    const double predicted = OverProbes(n, [&](const DataSetLimits& limits) -> std::optional<double> {
        const std::optional<FloorRates> rates = FloorRatesFor(w, n, 1, limits);
        if (!rates) return std::nullopt;
        return n / (spread ? rates->moves : rates->loads) * 1e3;
    });
    // What loads and stores timed apart would have predicted.
    const double added = OverProbes(n, [&](const DataSetLimits& limits) -> std::optional<double> {
        const AccessRates* rates = &limits.indexArrays.oneThread;
        return (n / (w == 4 ? rates->loads4 : rates->loads8) + n / (w == 4 ? rates->stores256 : rates->stores65536)) *
               1e3;
    });
    const double radixPass = Median(times[Name<Key>("Radix pass", n)]);
    const bool within = std::fabs(predicted / stripped - 1) <= kTolerance;
    const char* verdict = !spread ? "loads alone, a bound" : within ? "within 20%" : "OUTSIDE 20%";
    std::printf(
        "%-7s %10llu  stripped pass %8.2f ms  predicted %8.2f ms (%.2fx, %s)  loads + stores %8.2f ms (%.2fx)"
        "  radix pass %8.2f ms (%.2fx)\n",
        TypeName<Key>(), static_cast<unsigned long long>(n), stripped, predicted, predicted / stripped, verdict, added,
        added / stripped, radixPass, radixPass / stripped);
    for (const unsigned threads : kThreadCounts) {
        const double sort = Median(times[Name<Key>("Radix " + std::to_string(threads), n)]);
        const auto floorOf = [&](const DataSetLimits& limits) {
            return RadixSortFloorMs(w, n, threads, limits, SpreadBits());
        };
        const double floor = OverProbes(n, floorOf);
        const double ladder = OverLadders(n, floorOf);
        std::printf(
            "%-7s %10llu  Radix %u  %8.2f ms  floor %8.2f ms  ratio %5.2f   ladder floor %8.2f ms  ratio %5.2f\n",
            TypeName<Key>(), static_cast<unsigned long long>(n), threads, sort, floor, sort / floor, ladder,
            sort / ladder);
    }
    return within || !spread;
}

bool Given(const std::vector<char*>& arguments, const std::string& option) {
    return std::any_of(arguments.begin(), arguments.end(),
                       [&](const char* argument) { return std::string(argument).rfind(option, 0) == 0; });
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> passOn = {argv[0]};
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("--sizes=", 0) == 0) {
            sizes.clear();
            for (const std::string& size : SplitList(argument.substr(8))) sizes.push_back(std::stoull(size));
        } else if (argument == "--narrow-keys") {
            narrowKeys = true;
        } else {
            passOn.push_back(argv[i]);
        }
    }
    std::string repetitions = "--benchmark_repetitions=5";
    std::string interleaving = "--benchmark_enable_random_interleaving=true";
    if (!Given(passOn, "--benchmark_repetitions")) passOn.push_back(repetitions.data());
    if (!Given(passOn, "--benchmark_enable_random_interleaving")) passOn.push_back(interleaving.data());

    for (const bool exact : {true, false})
        benchmark::RegisterBenchmark(exact ? "Probe/exact" : "Probe/ladder",
                                     [exact](benchmark::State& state) { Probe(state, exact); })
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    for (const std::uint64_t n : sizes) {
        Register<std::int32_t>(n);
        Register<std::int64_t>(n);
    }
    int passOnCount = static_cast<int>(passOn.size());
    benchmark::Initialize(&passOnCount, passOn.data());
    if (benchmark::ReportUnrecognizedArguments(passOnCount, passOn.data())) return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf(
        "\nKeys %s; medians of the repetitions; floors from the probe over the data sets' own sizes,\n"
        "ladder floors from the probe's default sizes. Last probes:\n",
        narrowKeys ? "below 2^24 in magnitude" : "over the whole key range");
    if (!ladderProbes.empty())
        for (const std::string& line : LimitsLines(ladderProbes.back())) std::printf("  %s\n", line.c_str());
    bool allWithin = true;
    for (const std::uint64_t n : sizes) {
        allWithin = Summarise<std::int32_t>(n) && allWithin;
        allWithin = Summarise<std::int64_t>(n) && allWithin;
    }
    return allWithin ? 0 : 1;
}
