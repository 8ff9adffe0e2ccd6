#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

// The timed columns a run can have, in the order they appear in every row.
enum class Column {
    CpuStandard,
    Cpu1Thread,
    Cpu2Thread,
    Cpu4Thread,
    Cpu8Thread,
    Gpu,
    GpuOnCard,
    GpuTransfer,
    PeerVqsort,
    PeerParallelStableSort,
};

// The sorters that fill columns. One sort of the GPU sorter fills three.
enum class ColumnSorter { StandardSort, RadixSort, GpuSort, Vqsort, ParallelStableSort };

// What the program knows of a column. Result file headers, console lines,
// stats rows, JSON names and the sorters of a data set all come from this one
// table: a new sorter is one entry.
struct ColumnFacts {
    Column column;
    const char* name;          // result file header, stats files and JSON: "CPU 2 Thread", "GPU On Card"
    const char* consoleLabel;  // console lines: "CPU", "CPU 2 Thread", "GPU_On_Card"
    ColumnSorter sorter;
    unsigned threads;    // worker threads of a radix column; 0 for the others
    std::size_t output;  // which of its sorter's times a sort fills it with
};

// One column a row, wrapped by hand.
// clang-format off
inline constexpr std::array<ColumnFacts, 10> kColumns{{
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
    {.column = Column::PeerVqsort, .name = "Peer vqsort", .consoleLabel = "Peer vqsort",
     .sorter = ColumnSorter::Vqsort, .threads = 0, .output = 0},
    {.column = Column::PeerParallelStableSort, .name = "Peer parallel stable sort",
     .consoleLabel = "Peer parallel stable sort", .sorter = ColumnSorter::ParallelStableSort, .threads = 0,
     .output = 0},
}};
// clang-format on

constexpr const ColumnFacts& FactsOf(Column column) { return kColumns[static_cast<std::size_t>(column)]; }

// The columns of a run in row order: the CPU ones always, the GPU ones with
// `gpu`, the peers' with `peers` (last).
std::vector<Column> RunColumns(bool gpu, bool peers);

// The first line of a result file: "NbRecords", then every column's name, joined by ",".
std::string ResultHeader(const std::vector<Column>& columns);
