#include "driver/sorters/Columns.h"

#include <algorithm>

std::vector<Column> RunColumns(bool gpu, const std::vector<Peer>& peers, bool pairs) {
    std::vector<Column> columns;
    for (const ColumnFacts& facts : kOwnColumns) {
        if (facts.sorter == ColumnSorter::GpuSort && !gpu) continue;
        if (facts.sorter == ColumnSorter::PairSort && !pairs) continue;
        columns.push_back(facts.column);
    }
    for (const PeerFacts& facts : kPeers) {
        if (std::find(peers.begin(), peers.end(), facts.peer) != peers.end()) columns.push_back(PeerColumn(facts.peer));
    }
    return columns;
}

std::vector<Column> RunColumns(bool gpu, bool peers, bool pairs) {
    return RunColumns(gpu, peers ? AllPeers() : std::vector<Peer>{}, pairs);
}

std::string ResultHeader(const std::vector<Column>& columns) {
    std::string header = "NbRecords";
    for (const Column column : columns) {
        header += ',';
        header += FactsOf(column).name;
    }
    return header;
}
