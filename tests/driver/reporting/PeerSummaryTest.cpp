#include "driver/reporting/PeerSummary.h"

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

DataSetRecord Set(AppCore::DataType type, const char* series) {
    return {.type = type,
            .typeName = AppCore::DataTypeName(type),
            .distribution = Distribution::Uniform,
            .series = series,
            .count = 500,
            .position = 1,
            .counts = 1};
}

void Measure(PeerSummary& summary, const DataSetRecord& set, const std::vector<std::pair<Column, double>>& cells) {
    std::size_t index = 0;
    for (const auto& [column, ms] : cells) {
        summary.CellMeasured(set, {.index = index++,
                                   .column = column,
                                   .times = {ms},
                                   .stats = CellStatisticsOf({ms}, {}),
                                   .referenceMs = {}});
    }
}

}  // namespace

TEST(PeerSummary, names_the_fastest_and_sets_ours_against_the_fastest_peer_of_each_kind) {
    PeerSummary summary;
    EXPECT_TRUE(summary.Lines().empty());
    Measure(summary, Set(AppCore::DataType::INT, "INT"),
            {{Column::CpuStandard, 10},
             {Column::Cpu1Thread, 2},
             {Column::Cpu2Thread, 1.5},
             {Column::Cpu4Thread, 1.2},
             {Column::Cpu8Thread, 3},
             {PeerColumn(Peer::Vqsort), 4},
             {PeerColumn(Peer::Pdqsort), 5},
             {PeerColumn(Peer::Tbb), 0.6},
             {PeerColumn(Peer::ParallelStableSort), 8}});
    // Only one-thread peers ran (the others were not asked for, or skipped): no every-CPU comparison.
    Measure(summary, Set(AppCore::DataType::BIGINT, "BIGINT_zipf"),
            {{Column::CpuStandard, 10},
             {Column::Cpu1Thread, 3},
             {Column::Cpu2Thread, 2},
             {Column::Cpu4Thread, 2.5},
             {Column::Cpu8Thread, 4},
             {PeerColumn(Peer::Spreadsort), 1.5}});
    const std::vector<std::string> lines = summary.Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "----------------------------- PEERS -----------------------------");
    EXPECT_EQ(lines[2],
              "INT 500: fastest Peer tbb 0.600 ms; one thread: CPU 1 Thread/Peer vqsort 0.50; every CPU: CPU 4 "
              "Thread/Peer tbb 2.00");
    EXPECT_EQ(lines[3],
              "BIGINT_zipf 500: fastest Peer spreadsort 1.500 ms; one thread: CPU 1 Thread/Peer spreadsort 2.00");
}

TEST(PeerSummary, sets_each_pair_column_against_the_fastest_peer_on_as_many_threads) {
    PeerSummary summary;
    // The all-CPU pair column was skipped: its comparison is left out.
    Measure(summary, Set(AppCore::DataType::FLOAT, "FLOAT"),
            {{Column::CpuStandard, 10},
             {Column::Cpu1Thread, 2},
             {Column::Cpu2Thread, 1.5},
             {Column::PairRadix1Thread, 0.5},
             {PeerColumn(Peer::Vqsort), 1},
             {PeerColumn(Peer::Tbb), 0.8}});
    const std::vector<std::string> lines = summary.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2],
              "FLOAT 500: fastest Pair Radix 1 Thread 0.500 ms; one thread: CPU 1 Thread/Peer vqsort 2.00; every CPU: "
              "CPU 2 Thread/Peer tbb 1.88; pairs one thread: Pair Radix 1 Thread/Peer vqsort 0.50");
}
