// What checking the peers' permutations adds to a -PEERS run: every peer sorts
// a data set of the driver's uniform keys twice, its warm-up and one timed sort
// as a run without repetitions does, and the permutation is checked once, as a
// run checks each peer's first timed sort of a data set. The counter
// check_share is the checks' time over the peers' sorts and checks together,
// the most the checks add to a -PEERS run (its other columns and more rounds
// only dilute it); the aim is 0.05 or less at 10M keys. It counts the check a
// run makes where memory allows: one copy of the radix permutation per data
// set, then each peer's compared with it (FirstDifference).
// order_check_share is the same for the check without that copy
// (FirstOutOfOrder under the sort key).
//
// RowWithoutPeers/INT: what the peers may add to a row of a run without
// -PEERS. Outside the sorts, their code sits where a row's sorters are made
// (SortersFor searches the skip list, which is empty, and the driver asks
// for free memory only with -PEERS), so making the row's sorters is timed
// apart from calling its sorts: make_us against sorts_us a row, make_share
// the first's part of both, at the ladder's least count, where the sorts
// are shortest.
//
//   build/benchmarks/peer_check_benchmark --size=10000000
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <benchmark/benchmark.h>

#include "cpu_sort/SortKey.h"
#include "driver/measuring/KeyDistributions.h"
#include "driver/measuring/TestData.h"
#include "driver/sorters/Columns.h"
#include "driver/sorters/DataSetSorters.h"
#include "driver/sorters/Peers.h"
#include "driver/sorters/PermutationCheck.h"
#include "support/CharBuffer.h"
#include "support/DataTypes.h"
#include "support/SecondsSince.h"

namespace {

std::uint64_t gSize = 10'000'000;

using AppCore::SecondsSince;

template <typename Element>
void PeersAndChecks(benchmark::State& state) {
    AppCore::CharBuffer data;
    AppCore::CharBuffer indices;
    const Element* values = GenerateKeys<Element>(Distribution::Uniform, gSize, data);
    auto* permutation = ResizeForElements<std::uint32_t>(gSize, indices);
    PeerScratch scratch;
    const unsigned threads = ParallelPeerThreads(static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)));
    const auto less = [](Element a, Element b) { return EvalCore::SortKey(a) < EvalCore::SortKey(b); };
    AppCore::CharBuffer referenceBuffer;
    double sortSeconds = 0;
    double checkSeconds = 0;
    double orderCheckSeconds = 0;
    for (auto _ : state) {
        // A run copies the radix permutation; the first peer's, checked by
        // order below, stands in for it, and its copy counts as a check.
        bool copied = false;
        for (const PeerFacts& peer : kPeers) {
            const auto sorted = std::chrono::steady_clock::now();
            for (int sort = 0; sort < 2; ++sort)
                SortOf<Element>(peer)(values, gSize, permutation, scratch, PeerThreadCount(peer.peer, threads));
            sortSeconds += SecondsSince(sorted);
            const auto checked = std::chrono::steady_clock::now();
            if (!copied) {
                auto* reference = ResizeForElements<std::uint32_t>(gSize, referenceBuffer);
                std::memcpy(reference, permutation, gSize * sizeof(std::uint32_t));
                copied = true;
            }
            const auto* reference = reinterpret_cast<const std::uint32_t*>(referenceBuffer.data);
            if (FirstDifference(reference, permutation, gSize) != gSize)
                state.SkipWithError("a peer's permutation differs from the first's");
            checkSeconds += SecondsSince(checked);
            const auto orderChecked = std::chrono::steady_clock::now();
            if (FirstOutOfOrder(values, permutation, gSize, less) != gSize)
                state.SkipWithError("a peer's permutation is wrong");
            orderCheckSeconds += SecondsSince(orderChecked);
        }
    }
    state.counters["check_share"] = checkSeconds / (sortSeconds + checkSeconds);
    state.counters["check_ms"] =
        benchmark::Counter(checkSeconds * 1e3 / static_cast<double>(kPeers.size()), benchmark::Counter::kAvgIterations);
    state.counters["order_check_share"] = orderCheckSeconds / (sortSeconds + orderCheckSeconds);
    state.counters["order_check_ms"] = benchmark::Counter(orderCheckSeconds * 1e3 / static_cast<double>(kPeers.size()),
                                                          benchmark::Counter::kAvgIterations);
}

void RowWithoutPeers(benchmark::State& state) {
    constexpr std::uint64_t kRecords = 100;
    constexpr int kRows = 200;
    AppCore::CharBuffer data;
    SorterWorkspace workspace;
    SorterTools tools = workspace.Tools();
    const auto* values = GenerateKeys<std::int32_t>(Distribution::Uniform, kRecords, data);
    workspace.indices.Resize(kRecords * sizeof(std::uint32_t));
    const std::vector<Column> columns = RunColumns(false, false);
    double makeSeconds = 0;
    double sortSeconds = 0;
    for (auto _ : state) {
        const auto made = std::chrono::steady_clock::now();
        for (int row = 0; row < kRows; ++row)
            benchmark::DoNotOptimize(SortersFor(columns, tools, values, kRecords, {}));
        makeSeconds += SecondsSince(made);
        const std::vector<Sorter> sorters = SortersFor(columns, tools, values, kRecords, {});
        const auto sorts = std::chrono::steady_clock::now();
        for (int row = 0; row < kRows; ++row) {
            for (const Sorter& sorter : sorters) {
                sorter.warmUp();
                sorter.timed();
            }
        }
        sortSeconds += SecondsSince(sorts);
        ReleaseScratch(tools);
    }
    const double rows = static_cast<double>(state.iterations()) * kRows;
    state.counters["make_us"] = makeSeconds * 1e6 / rows;
    state.counters["sorts_us"] = sortSeconds * 1e6 / rows;
    state.counters["make_share"] = makeSeconds / (makeSeconds + sortSeconds);
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--size=", 7) == 0) gSize = std::strtoull(argv[i] + 7, nullptr, 10);
    }
    benchmark::RegisterBenchmark("PeersAndChecks/INT", PeersAndChecks<std::int32_t>)
        ->Iterations(2)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("PeersAndChecks/BIGFLOAT", PeersAndChecks<double>)
        ->Iterations(2)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("RowWithoutPeers/INT", RowWithoutPeers)->Iterations(5)->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
