#include "driver/reporting/PeerText.h"

std::string PeerThreadsLine(unsigned parallelThreads) {
    return "Peer threads: " + std::to_string(parallelThreads) +
           " for the parallel peers (every online CPU), 1 for the others";
}

std::string PairThreadsLine(unsigned everyCpu) {
    return "Pair Radix threads: " + std::to_string(ColumnThreads(Column::PairRadixAllCpus, everyCpu)) + " for " +
           FactsOf(Column::PairRadixAllCpus).name + " (every online CPU), " +
           std::to_string(ColumnThreads(Column::PairRadix1Thread, everyCpu)) + " for " +
           FactsOf(Column::PairRadix1Thread).name;
}

std::string SkippedCellLine(const DataSetRecord& set, const SkippedCellRecord& cell) {
    return std::string(set.typeName) + " " + FactsOf(cell.column).consoleLabel + " - skipped: " + cell.reason;
}
