#include "driver/sorters/DataSetSorters.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <utility>

#include "cpu_sort/SortKey.h"
#include "driver/sorters/PermutationCheck.h"
#include "support/DataTypes.h"

namespace {

// The console labels of `columns`.
std::vector<std::string> LabelsOf(std::initializer_list<Column> columns) {
    std::vector<std::string> labels;
    for (const Column column : columns) labels.emplace_back(FactsOf(column).consoleLabel);
    return labels;
}

void ClearIndices(AppCore::CharBuffer& indices) {
    if (indices.size != 0) std::memset(indices.data, 0, indices.size);
}

// A CPU sorter of one column: `sort` fills the index buffer; the timed run
// starts from a cleared one.
Sorter CpuSorter(Column column, SorterTools& tools, std::function<void()> sort) {
    return Sorter{
        .labels = LabelsOf({column}),
        .warmUp =
            [sort] {
                sort();
                return true;
            },
        .timed =
            [&tools, sort] {
                ClearIndices(tools.indices);
                tools.timer.restart();
                sort();
                return std::optional<std::vector<double>>(std::vector<double>{tools.timer.elapse_millisecond()});
            },
        .check = nullptr,
        .reportsPass = false,
        .afterSingleRun = nullptr,
        .skipped = {}};
}

// Stable, and started from 0, 1, 2, ...: equal keys stay in index order, the
// order every other sorter must reproduce.
template <typename Element>
Sorter StandardSorter(SorterTools& tools, const Element* values, std::uint64_t count) {
    auto* permutation = reinterpret_cast<std::uint32_t*>(tools.indices.data);
    return CpuSorter(Column::CpuStandard, tools, [=] {
        std::iota(permutation, permutation + count, 0u);
        std::stable_sort(permutation, permutation + count,
                         [values](std::uint32_t a, std::uint32_t b) { return values[a] < values[b]; });
    });
}

template <typename Element>
void RadixSort(SorterTools& tools, const Element* values, std::uint64_t n, std::uint32_t* out, unsigned long threads) {
    constexpr AppCore::DataType type = AppCore::DataTypeOf<Element>();
    if constexpr (type == AppCore::DataType::INT) tools.radix32.SortINT(values, n, out, true, threads);
    if constexpr (type == AppCore::DataType::FLOAT) tools.radix32.SortFLT(values, n, out, true, threads);
    if constexpr (type == AppCore::DataType::BIGINT) tools.radix64.SortINT(values, n, out, true, threads);
    if constexpr (type == AppCore::DataType::BIGFLOAT) tools.radix64.SortFLT(values, n, out, true, threads);
}

// Keeps its scratch between repetitions: the rounds allocate nothing.
template <typename Element>
Sorter RadixSorter(Column column, SorterTools& tools, const Element* values, std::uint64_t count) {
    auto* permutation = reinterpret_cast<std::uint32_t*>(tools.indices.data);
    const unsigned long threads = FactsOf(column).threads;
    return CpuSorter(column, tools, [&tools, values, count, permutation, threads] {
        RadixSort(tools, values, count, permutation, threads);
    });
}

// One sort fills the three GPU columns. Its warm-up comes right after the
// 8-thread radix sorter's, whose permutation the index buffer then holds: the
// QA reference is taken there.
template <typename Element>
Sorter GpuSorter(SorterTools& tools, const Element* values, std::uint64_t count) {
    const char* typeName = AppCore::DataTypeName<Element>();
    auto* permutation = reinterpret_cast<std::uint32_t*>(tools.indices.data);
    Sorter sorter{.labels = LabelsOf({Column::Gpu, Column::GpuOnCard, Column::GpuTransfer}),
                  .warmUp =
                      [&tools, typeName, values, count, permutation] {
                          if (tools.qa) {
                              tools.qaReference.Resize(tools.indices.size);
                              if (tools.indices.size != 0)
                                  std::memcpy(tools.qaReference.data, tools.indices.data, tools.indices.size);
                          }
                          return tools.gpu->WarmUp(typeName, values, count, permutation);
                      },
                  .timed = [&tools, typeName, values, count]() -> std::optional<std::vector<double>> {
                      const auto times = tools.gpu->TimedSort(typeName, values, count, tools.indices, tools.timer);
                      if (!times) return std::nullopt;
                      return std::vector<double>{times->hostMs, times->onCardMs, times->hostMs - times->onCardMs};
                  },
                  .check = nullptr,
                  .reportsPass = tools.qa,
                  .afterSingleRun = nullptr,
                  .skipped = {}};
    if (tools.qa) {
        sorter.check = [&tools, count] {
            return GpuColumns::SamePermutation(tools.qaReference, tools.indices, count)
                       ? std::string()
                       : std::string("QA ERROR: GPU Results do not match CPU Results");
        };
    }
    return sorter;
}

// Empty when a peer's or pair column's permutation is the stable ascending one (`wrongAt` is
// `count`); otherwise its QA line, which says where: the first position out of
// order, or the first that differs from ours.
std::string PeerProblem(const char* peer, std::uint64_t wrongAt, std::uint64_t count, const char* how) {
    if (wrongAt == count) return std::string();
    return std::string("QA ERROR: ") + peer + " Results do not match CPU Results (first " + how + " at position " +
           std::to_string(wrongAt) + ")";
}

// Whether the data set's peers have the radix permutation to compare with:
// set once the last radix sorter's copy is taken, shared by those sorters.
using ReferenceTaken = std::shared_ptr<bool>;

// Makes `sorter`, of column `column`, check its first timed sort of the data
// set against the radix permutation when the data set keeps one, by order
// otherwise. Checking every round would add what the check costs once per round.
template <typename Element>
void ChecksFirstSort(Sorter& sorter, Column column, SorterTools& tools, const Element* values, std::uint64_t count,
                     const ReferenceTaken& referenceTaken) {
    const auto* permutation = reinterpret_cast<const std::uint32_t*>(tools.indices.data);
    const char* label = FactsOf(column).consoleLabel;
    const auto less = [](Element a, Element b) { return EvalCore::SortKey(a) < EvalCore::SortKey(b); };
    auto checked = std::make_shared<bool>(false);
    sorter.check = [=, &tools] {
        if (*checked) return std::string();
        *checked = true;
        if (referenceTaken && *referenceTaken) {
            const auto* reference = reinterpret_cast<const std::uint32_t*>(tools.peerReference.data);
            return PeerProblem(label, FirstDifference(reference, permutation, count), count, "different");
        }
        return PeerProblem(label, FirstOutOfOrder(values, permutation, count, less), count, "out of order");
    };
}

// A peer's sort on its threads; its permutation must be our radix sorters'.
template <typename Element>
Sorter PeerSorter(Column column, SorterTools& tools, const Element* values, std::uint64_t count,
                  const ReferenceTaken& referenceTaken) {
    auto* permutation = reinterpret_cast<std::uint32_t*>(tools.indices.data);
    const Peer peer = PeerOf(column);
    const PeerSort<Element> sort = SortOf<Element>(FactsOf(peer));
    const unsigned threads = PeerThreadCount(peer, tools.peerThreads);
    Sorter sorter = CpuSorter(column, tools, [&tools, sort, values, count, permutation, threads] {
        sort(values, count, permutation, tools.peerScratch, threads);
    });
    ChecksFirstSort(sorter, column, tools, values, count, referenceTaken);
    return sorter;
}

// The key-carrying radix sort on its column's threads, checked as a peer is.
// Its scratch stays between rounds: the rounds allocate nothing.
template <typename Element>
Sorter PairSorter(Column column, SorterTools& tools, const Element* values, std::uint64_t count,
                  const ReferenceTaken& referenceTaken) {
    auto* permutation = reinterpret_cast<std::uint32_t*>(tools.indices.data);
    const unsigned threads = ColumnThreads(column, tools.peerThreads);
    Sorter sorter = CpuSorter(column, tools, [&tools, values, count, permutation, threads] {
        tools.pairs.Sort(values, count, permutation, threads);
    });
    ChecksFirstSort(sorter, column, tools, values, count, referenceTaken);
    return sorter;
}

// Makes `sorter` (the data set's last radix sorter) copy its permutation for
// the peers after its first timed sort; with a single repetition that comes
// after its afterSingleRun, which releases the previous copy's memory.
void KeepsPeerReference(Sorter& sorter, SorterTools& tools, const ReferenceTaken& referenceTaken) {
    sorter.check = [&tools, referenceTaken] {
        if (*referenceTaken) return std::string();
        tools.peerReference.Resize(tools.indices.size);
        if (tools.indices.size != 0) std::memcpy(tools.peerReference.data, tools.indices.data, tools.indices.size);
        *referenceTaken = true;
        return std::string();
    };
}

}  // namespace

void ReleaseScratch(SorterTools& tools) {
    tools.radix32.ReleaseScratch();
    tools.radix64.ReleaseScratch();
    tools.pairs.Release();
    tools.peerScratch.Release();
    tools.qaReference.Clear();
    tools.peerReference.Clear();
}

template <typename Element>
std::vector<Sorter> SortersFor(const std::vector<Column>& columns, SorterTools& tools, const Element* values,
                               std::uint64_t count, const std::vector<SkippedColumn>& skipped, PeerCheck peerCheck) {
    std::vector<Sorter> sorters;
    std::size_t lastRadix = 0;
    std::size_t lastPair = 0;
    bool checkedRun = false;  // a peer or a pair column runs: both check against the radix permutation
    const ReferenceTaken referenceTaken =
        peerCheck == PeerCheck::RadixPermutation ? std::make_shared<bool>(false) : nullptr;
    for (const Column column : columns) {
        const ColumnFacts& facts = FactsOf(column);
        // One sort fills every column of its sorter; it is listed at the first.
        if (facts.output != 0) continue;
        const auto skip = std::find_if(skipped.begin(), skipped.end(),
                                       [column](const SkippedColumn& s) { return s.column == column; });
        if (skip != skipped.end()) {
            sorters.push_back(Sorter{.labels = LabelsOf({column}),
                                     .warmUp = nullptr,
                                     .timed = nullptr,
                                     .check = nullptr,
                                     .reportsPass = false,
                                     .afterSingleRun = nullptr,
                                     .skipped = skip->reason});
            continue;
        }
        switch (facts.sorter) {
        case ColumnSorter::StandardSort: sorters.push_back(StandardSorter(tools, values, count)); break;
        case ColumnSorter::RadixSort:
            sorters.push_back(RadixSorter(column, tools, values, count));
            lastRadix = sorters.size();
            break;
        case ColumnSorter::GpuSort: sorters.push_back(GpuSorter(tools, values, count)); break;
        case ColumnSorter::PairSort:
            sorters.push_back(PairSorter(column, tools, values, count, referenceTaken));
            lastPair = sorters.size();
            checkedRun = true;
            break;
        case ColumnSorter::PeerSort:
            sorters.push_back(PeerSorter(column, tools, values, count, referenceTaken));
            checkedRun = true;
            break;
        }
    }
    if (lastRadix != 0) sorters[lastRadix - 1].afterSingleRun = [&tools] { ReleaseScratch(tools); };
    // The peers after it then have the room the memory guard gave them (PairScratchUse).
    if (lastPair != 0) sorters[lastPair - 1].afterSingleRun = [&tools] { tools.pairs.Release(); };
    // Without a radix sorter before them the peers and pair columns keep to the order check.
    if (lastRadix != 0 && checkedRun && referenceTaken)
        KeepsPeerReference(sorters[lastRadix - 1], tools, referenceTaken);
    return sorters;
}

#define INSTANTIATE(Element)                                                                                         \
    template std::vector<Sorter> SortersFor(const std::vector<Column>&, SorterTools&, const Element*, std::uint64_t, \
                                            const std::vector<SkippedColumn>&, PeerCheck);
SORTBENCH_FOR_EACH_ELEMENT(INSTANTIATE)
#undef INSTANTIATE
