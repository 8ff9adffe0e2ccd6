#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "driver/sorters/Peers.h"

// The timed columns a run can have, in the order they appear in every row: our
// own (the index radix sorts, the GPU's, then the key-carrying radix sort's of
// -PAIRS), then one per peer (Peers.h) in the peers' table order (PeerColumn).
enum class Column {
    CpuStandard,
    Cpu1Thread,
    Cpu2Thread,
    Cpu4Thread,
    Cpu8Thread,
    Gpu,
    GpuOnCard,
    GpuTransfer,
    PairRadix1Thread,
    PairRadixAllCpus,
    FirstPeer,
};

// The sorters that fill columns. One sort of the GPU sorter fills three.
// PairSort: the key-carrying radix sort (cpu_sort/pairs/PairRadixSorter.h).
enum class ColumnSorter { StandardSort, RadixSort, GpuSort, PairSort, PeerSort };

// What the program knows of a column. Result file headers, console lines,
// stats rows, JSON names and the sorters of a data set all come from this one
// table: a new sorter is one entry.
struct ColumnFacts {
    Column column;
    const char* name;          // result file header, stats files and JSON: "CPU 2 Thread", "GPU On Card"
    const char* consoleLabel;  // console lines: "CPU", "CPU 2 Thread", "GPU_On_Card"
    ColumnSorter sorter;
    // Worker threads of a radix or pair column, 0 for a pair column on every
    // online CPU (ColumnThreads); 0 for the others (a peer's are in kPeers).
    unsigned threads;
    std::size_t output;  // which of its sorter's times a sort fills it with
};

// Our own columns, one a row, wrapped by hand.
// clang-format off
inline constexpr std::array<ColumnFacts, 10> kOwnColumns{{
    {.column = Column::CpuStandard, .name = "CPU Standard", .consoleLabel = "CPU",
     .sorter = ColumnSorter::StandardSort, .threads = 0, .output = 0},
    {.column = Column::Cpu1Thread, .name = "CPU 1 Thread", .consoleLabel = "CPU 1 Thread",
     .sorter = ColumnSorter::RadixSort, .threads = 1, .output = 0},
    {.column = Column::Cpu2Thread, .name = "CPU 2 Thread", .consoleLabel = "CPU 2 Thread",
     .sorter = ColumnSorter::RadixSort, .threads = 2, .output = 0},
    {.column = Column::Cpu4Thread, .name = "CPU 4 Thread", .consoleLabel = "CPU 4 Thread",
     .sorter = ColumnSorter::RadixSort, .threads = 4, .output = 0},
    {.column = Column::Cpu8Thread, .name = "CPU 8 Thread", .consoleLabel = "CPU 8 Thread",
     .sorter = ColumnSorter::RadixSort, .threads = 8, .output = 0},
    // Host wall time of a whole GPU sort, its GPU timestamps, and their difference.
    {.column = Column::Gpu, .name = "GPU", .consoleLabel = "GPU", .sorter = ColumnSorter::GpuSort, .threads = 0,
     .output = 0},
    {.column = Column::GpuOnCard, .name = "GPU On Card", .consoleLabel = "GPU_On_Card",
     .sorter = ColumnSorter::GpuSort, .threads = 0, .output = 1},
    {.column = Column::GpuTransfer, .name = "GPU Transfer", .consoleLabel = "GPU_Transfer",
     .sorter = ColumnSorter::GpuSort, .threads = 0, .output = 2},
    // -PAIRS: named apart from the index radix columns ("CPU 1 Thread") and the peers ("Peer ...").
    {.column = Column::PairRadix1Thread, .name = "Pair Radix 1 Thread", .consoleLabel = "Pair Radix 1 Thread",
     .sorter = ColumnSorter::PairSort, .threads = 1, .output = 0},
    {.column = Column::PairRadixAllCpus, .name = "Pair Radix All CPUs", .consoleLabel = "Pair Radix All CPUs",
     .sorter = ColumnSorter::PairSort, .threads = 0, .output = 0},
}};
// clang-format on
static_assert(kOwnColumns.size() == static_cast<std::size_t>(Column::FirstPeer));

constexpr Column PeerColumn(Peer peer) {
    return static_cast<Column>(static_cast<std::size_t>(Column::FirstPeer) + static_cast<std::size_t>(peer));
}

// The peer of a peer's column; `column` must be one (FactsOf(column).sorter == ColumnSorter::PeerSort).
constexpr Peer PeerOf(Column column) {
    return static_cast<Peer>(static_cast<std::size_t>(column) - static_cast<std::size_t>(Column::FirstPeer));
}

// Every column: our own, then the peers', named by their table.
inline constexpr std::array<ColumnFacts, kOwnColumns.size() + kPeers.size()> kColumns = [] {
    std::array<ColumnFacts, kOwnColumns.size() + kPeers.size()> columns{};
    for (std::size_t i = 0; i < kOwnColumns.size(); ++i) columns[i] = kOwnColumns[i];
    for (const PeerFacts& peer : kPeers) {
        columns[static_cast<std::size_t>(PeerColumn(peer.peer))] = {.column = PeerColumn(peer.peer),
                                                                    .name = peer.column,
                                                                    .consoleLabel = peer.column,
                                                                    .sorter = ColumnSorter::PeerSort,
                                                                    .threads = 0,
                                                                    .output = 0};
    }
    return columns;
}();

constexpr const ColumnFacts& FactsOf(Column column) { return kColumns[static_cast<std::size_t>(column)]; }

// The threads a radix or pair column sorts on when the columns on every online
// CPU get `everyCpu` (ParallelPeerThreads, as the parallel peers); 0 for the others.
constexpr unsigned ColumnThreads(Column column, unsigned everyCpu) {
    const ColumnFacts& facts = FactsOf(column);
    if (facts.sorter == ColumnSorter::PairSort && facts.threads == 0) return everyCpu;
    return facts.threads;
}

// Whether `columns` has one that sorts with `sorter`: -COLUMNS may leave
// out every column of an option that is on.
inline bool HasColumnOf(const std::vector<Column>& columns, ColumnSorter sorter) {
    return std::any_of(columns.begin(), columns.end(),
                       [sorter](Column column) { return FactsOf(column).sorter == sorter; });
}

// The columns of a run in row order: the CPU ones always, the GPU ones with
// `gpu`, the pair columns with `pairs`, then those of `peers` in table order
// (whatever order they are given in).
std::vector<Column> RunColumns(bool gpu, const std::vector<Peer>& peers, bool pairs = false);
// The same with every peer when `peers`, none otherwise.
std::vector<Column> RunColumns(bool gpu, bool peers, bool pairs = false);

// The first line of a result file: "NbRecords", then every column's name, joined by ",".
std::string ResultHeader(const std::vector<Column>& columns);
