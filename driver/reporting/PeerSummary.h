#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "driver/reporting/RunReporter.h"

// With -PEERS, the run's last lines on the console: for each data set, the
// fastest column, then our one-thread radix column against the fastest
// one-thread peer and our fastest multi-threaded radix column against the
// fastest parallel peer, and with -PAIRS the pair columns against the same
// peers, as time ratios (ours over the peer's: below 1, ours is faster). Each
// figure is a cell's median (its time with one repetition); skipped and
// missing cells take no part, and a comparison without both sides is left out.
// Without -PEERS there is no summary: the row already sets the pair columns
// beside ours.
class PeerSummary : public RunReporter {
public:
    void CellMeasured(const DataSetRecord& set, const CellRecord& cell) override;
    void MeasuringEnded(const MeasuringEndRecord& end) override;

    // The lines MeasuringEnded prints: a banner, what the ratios mean, and one
    // line per data set with cells; none without a cell.
    std::vector<std::string> Lines() const;

private:
    struct DataSet {
        std::string series;  // "INT", "INT_zipf"
        std::uint64_t count;
        std::vector<std::pair<Column, double>> cells;  // each measured cell's median, in row order
    };
    std::vector<DataSet> dataSets;  // in the order they were measured
};
