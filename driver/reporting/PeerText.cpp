#include "driver/reporting/PeerText.h"

std::string PeerThreadsLine(unsigned parallelThreads) {
    return "Peer threads: " + std::to_string(parallelThreads) +
           " for the parallel peers (every online CPU), 1 for the others";
}

std::string SkippedCellLine(const DataSetRecord& set, const SkippedCellRecord& cell) {
    return std::string(set.typeName) + " " + FactsOf(cell.column).consoleLabel + " - skipped: " + cell.reason;
}
