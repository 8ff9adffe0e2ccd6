#pragma once

#include "driver/output/JsonResults.h"
#include "driver/reporting/RunReporter.h"

// The cells into the -JSON document, each as Google Benchmark's entries.
class JsonReporter : public RunReporter {
public:
    explicit JsonReporter(JsonResults& document) : document(document) {}

    void CellMeasured(const DataSetRecord& set, const CellRecord& cell) override {
        document.Add(set.series, FactsOf(cell.column).name, set.count, cell.times, cell.stats, cell.referenceMs);
    }

private:
    JsonResults& document;
};
