#include "driver/sorters/Columns.h"

std::vector<Column> RunColumns(bool gpu, bool peers) {
    std::vector<Column> columns;
    for (const ColumnFacts& facts : kColumns) {
        const bool isGpu = facts.sorter == ColumnSorter::GpuSort;
        const bool isPeer = facts.sorter == ColumnSorter::Vqsort || facts.sorter == ColumnSorter::ParallelStableSort;
        if ((isGpu && !gpu) || (isPeer && !peers)) continue;
        columns.push_back(facts.column);
    }
    return columns;
}

std::string ResultHeader(const std::vector<Column>& columns) {
    std::string header = "NbRecords";
    for (const Column column : columns) {
        header += ',';
        header += FactsOf(column).name;
    }
    return header;
}
