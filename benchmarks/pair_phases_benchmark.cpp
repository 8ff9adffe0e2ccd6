// Where the key-carrying radix sort's time goes on one thread, phase by phase
// (cpu_sort/pairs/PairRadixSorter.h, TimePhases: the thread's CPU time, so a
// busy machine's waits for a core stay out), beside what its floor
// (driver/measuring/PairSortFloor.h) prices each phase at on this machine,
// on the keys the driver draws (uniform below 2^24 in magnitude). Each
// iteration sorts once; the counters are nanoseconds per key, means over the
// iterations:
//   range_ns, plan_ns, scatter_ns, buckets_ns   the sort's phases
//   large_ns                                    the part of buckets_ns spent
//                                               splitting large buckets
//   floor_range_ns ... floor_buckets_ns         the floor's price of each
//   over_floor                                  the sort's time over its floor
// The floor's rates come from the limits probe at each size's own arrays,
// its pair figures included, measured once per size before the sorts (about
// a second at 10M); the label gives the one-thread figures used.
//
// Memory: a size of n takes about 40n bytes while it sorts (8-byte keys,
// indices and 16-byte pairs) and 16n while it probes: 100M needs 4 GB, which
// is why it is not among the defaults.
//
// Options (before Google Benchmark's own):
//   --sizes=N,N,...   record counts (default 1000000,10000000)
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "benchmarks/DriverKeys.h"
#include "benchmarks/LargeBuffer.h"
#include "benchmarks/ListArgument.h"
#include "cpu_sort/pairs/PairRadixSorter.h"
#include "driver/machine/LimitsProbe.h"
#include "driver/measuring/PairSortFloor.h"
#include "driver/measuring/TestData.h"
#include "support/DataTypes.h"

namespace {

// Each size's probe, taken once when its first benchmark runs.
const DataSetLimits& LimitsFor(std::uint64_t n) {
    static std::map<std::uint64_t, DataSetLimits> probed;
    const auto found = probed.find(n);
    if (found != probed.end()) return found->second;
    LimitsProbeOptions options;
    options.pairFigures = true;
    return probed.emplace(n, ProbeDataSetLimits(n, options)).first->second;
}

template <class Value>
void Phases(benchmark::State& state, std::size_t n, AppCore::DataType type) {
    Buffer<Value> values(n);
    FillDriverKeys(values.data(), n, n);
    Buffer<std::uint32_t> indices(n);
    const DataSetLimits& limits = LimitsFor(n);
    EvalCore::PairRadixSorter sorter;
    sorter.Sort(values.data(), n, indices.data(), 1);  // the scratch, allocated before the timings
    EvalCore::PairPhaseSeconds phases;
    sorter.TimePhases(&phases);
    for (auto _ : state) {
        const EvalCore::PairPhaseSeconds before = phases;
        sorter.Sort(values.data(), n, indices.data(), 1);
        state.SetIterationTime((phases.range - before.range) + (phases.plan - before.plan) +
                               (phases.scatter - before.scatter) + (phases.buckets - before.buckets));
    }
    sorter.TimePhases(nullptr);

    const double perKey = 1e9 / static_cast<double>(state.iterations()) / static_cast<double>(n);
    state.counters["range_ns"] = phases.range * perKey;
    state.counters["plan_ns"] = phases.plan * perKey;
    state.counters["scatter_ns"] = phases.scatter * perKey;
    state.counters["buckets_ns"] = phases.buckets * perKey;
    state.counters["large_ns"] = phases.largeBuckets * perKey;
    const std::optional<PairFloorPhases> floor =
        PairSortFloorPhasesMs(sizeof(Value), n, 1, limits, UniformKeySpreadBits(type));
    if (!floor) {
        state.SetLabel("no floor: " + (limits.skipped.empty() ? std::string("no pair figures") : limits.skipped));
        return;
    }
    const double floorPerKey = 1e6 / static_cast<double>(n);
    state.counters["floor_range_ns"] = floor->range * floorPerKey;
    state.counters["floor_plan_ns"] = floor->plan * floorPerKey;
    state.counters["floor_scatter_ns"] = floor->scatter * floorPerKey;
    state.counters["floor_buckets_ns"] = floor->buckets * floorPerKey;
    const PairRates& rates = limits.pairs.oneThread;
    char label[160];
    std::snprintf(label, sizeof label,
                  "probe: copy %.1f GB/s at 4n, %.1f at 8n; M/s: keys planned %.0f, pairs scattered %.0f, counted "
                  "%.0f, moved %.0f",
                  limits.indexArrays.oneThread.copyBytes / 1e9, limits.wideKeys.oneThread.copyBytes / 1e9,
                  rates.planned / 1e6, rates.scattered / 1e6, rates.counts / 1e6, rates.moves / 1e6);
    state.SetLabel(label);
    const double sortNs = (phases.range + phases.plan + phases.scatter + phases.buckets) * perKey;
    state.counters["over_floor"] = sortNs / (floor->Total() * floorPerKey);
}

template <class Value>
void Register(const char* name, AppCore::DataType type, std::size_t n) {
    benchmark::RegisterBenchmark((std::string(name) + "/" + std::to_string(n)).c_str(),
                                 [n, type](benchmark::State& state) { Phases<Value>(state, n, type); })
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::size_t> sizes{1'000'000, 10'000'000};
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--sizes=", 8) == 0) {
            sizes.clear();
            for (const std::string& item : SplitList(argv[i] + 8)) sizes.push_back(std::stoull(item));
        } else {
            rest.push_back(argv[i]);
        }
    }
    using AppCore::DataType;
    for (const std::size_t n : sizes) {
        Register<std::int32_t>("INT", DataType::INT, n);
        Register<float>("FLOAT", DataType::FLOAT, n);
        Register<std::int64_t>("BIGINT", DataType::BIGINT, n);
        Register<double>("BIGFLOAT", DataType::BIGFLOAT, n);
    }
    int restCount = static_cast<int>(rest.size());
    benchmark::Initialize(&restCount, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
