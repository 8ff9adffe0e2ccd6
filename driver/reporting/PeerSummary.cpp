#include "driver/reporting/PeerSummary.h"

#include <cstdio>
#include <functional>
#include <optional>

#include "driver/output/ConsoleText.h"
#include "driver/output/SectionBanners.h"
#include "strings/GroupedNumber.h"
#include "support/StatusLine.h"

namespace {

using Cells = std::vector<std::pair<Column, double>>;

// The fastest of the cells whose column `counts`.
std::optional<std::pair<Column, double>> Fastest(const Cells& cells, const std::function<bool(Column)>& counts) {
    std::optional<std::pair<Column, double>> fastest;
    for (const auto& cell : cells) {
        if (counts(cell.first) && (!fastest || cell.second < fastest->second)) fastest = cell;
    }
    return fastest;
}

bool IsPeer(Column column, PeerThreads threads) {
    return FactsOf(column).sorter == ColumnSorter::PeerSort && FactsOf(PeerOf(column)).threads == threads;
}

// "; one thread: CPU 1 Thread/Peer spreadsort 0.62", or nothing without both sides.
std::string Comparison(const char* what, const std::optional<std::pair<Column, double>>& ours,
                       const std::optional<std::pair<Column, double>>& peer) {
    if (!ours || !peer) return {};
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%.2f", ours->second / peer->second);
    return std::string("; ") + what + ": " + FactsOf(ours->first).name + "/" + FactsOf(peer->first).name + " " + ratio;
}

}  // namespace

void PeerSummary::CellMeasured(const DataSetRecord& set, const CellRecord& cell) {
    if (dataSets.empty() || dataSets.back().series != set.series || dataSets.back().count != set.count)
        dataSets.push_back({set.series, set.count, {}});
    dataSets.back().cells.emplace_back(cell.column, cell.stats.summary.median);
}

std::vector<std::string> PeerSummary::Lines() const {
    if (dataSets.empty()) return {};
    std::vector<std::string> lines{SectionBanner("PEERS"),
                                   "The fastest column of each data set; ours over the fastest peer, by time "
                                   "(below 1, ours is faster):"};
    for (const DataSet& set : dataSets) {
        const Cells& cells = set.cells;
        // The GPU's on-card and transfer columns are parts of its whole sort, no sorter of their own.
        const auto fastest = Fastest(cells, [](Column c) { return FactsOf(c).output == 0; });
        const auto ourOne = Fastest(cells, [](Column c) { return c == Column::Cpu1Thread; });
        const auto ourMany = Fastest(
            cells, [](Column c) { return FactsOf(c).sorter == ColumnSorter::RadixSort && FactsOf(c).threads > 1; });
        const auto peerOne = Fastest(cells, [](Column c) { return IsPeer(c, PeerThreads::One); });
        const auto peerMany = Fastest(cells, [](Column c) { return IsPeer(c, PeerThreads::EveryCpu); });
        const auto pairOne = Fastest(cells, [](Column c) { return c == Column::PairRadix1Thread; });
        const auto pairMany = Fastest(cells, [](Column c) { return c == Column::PairRadixAllCpus; });
        // A data set is recorded with its first cell, and CPU Standard's comes first.
        char time[48];
        std::snprintf(time, sizeof time, "%.3f ms", fastest->second);
        lines.push_back(set.series + " " + SLib::GroupedNumber(set.count) + ": fastest " +
                        FactsOf(fastest->first).name + " " + time + Comparison("one thread", ourOne, peerOne) +
                        Comparison("every CPU", ourMany, peerMany) + Comparison("pairs one thread", pairOne, peerOne) +
                        Comparison("pairs every CPU", pairMany, peerMany));
    }
    return lines;
}

void PeerSummary::MeasuringEnded(const MeasuringEndRecord&) {
    for (const std::string& line : Lines()) AppCore::ConsolePrintf("%s\n", line.c_str());
}
