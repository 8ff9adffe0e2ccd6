#pragma once

#include <string>
#include <vector>

#include "driver/reporting/RunRecords.h"

// What renders a run's records: the console lines, the result, stats and
// speed-up files, the JSON document, the manifest. The runner calls every
// reporter in the order they were added, between sorts, never inside a timed
// section. A reporter overrides what it renders; the rest does nothing.
class RunReporter {
public:
    virtual ~RunReporter() = default;

    virtual void RunStarted(const RunStartRecord&) {}
    // The GPU is examined next (the GPU sorter reports what it finds itself).
    virtual void GpuExamining() {}
    // The GPU report's lines (GpuColumns::Report), once the core has started or failed to.
    virtual void GpuExamined(const std::string& report) { (void)report; }
    virtual void GpuLimitsMeasured(const GpuLimits&) {}
    // The run stops before its first data set: `reason` says why.
    virtual void RunStopped(const std::string& /*reason*/) {}
    // With -R auto, before the first data set: the run's estimated time.
    virtual void RunEstimated(const RunEstimateRecord&) {}
    // A data set is about to be generated and measured.
    virtual void DataSetStarted(const DataSetRecord&) {}
    // A data set the run cannot measure: `reason` says why ("Cannot benchmark
    // ..."); the run ends after it.
    virtual void DataSetRefused(const DataSetRecord&, const std::string& /*reason*/) {}
    // The data set's row starts; once, before its first cell.
    virtual void RowStarted(const DataSetRecord&) {}
    virtual void CellMeasured(const DataSetRecord&, const CellRecord&) {}
    virtual void CellSkipped(const DataSetRecord&, const SkippedCellRecord&) {}
    // A sorter's check: `problem` is its "QA ERROR: ..." line, empty when a
    // check whose passing is reported (the GPU's -QA check) passed.
    virtual void CheckEnded(const DataSetRecord&, const std::string& /*problem*/) {}
    // Lines a sorter says as it sorts, each ending in a line break: the GPU
    // sort's progress, why a GPU sort failed.
    virtual void SorterSaid(const std::string& /*lines*/) {}
    virtual void DataSetEnded(const DataSetRecord&, const DataSetEndRecord&) {}
    // The last data set has ended, or the run stops early.
    virtual void MeasuringEnded(const MeasuringEndRecord&) {}
};

// Reporters called in turn, as one.
class RunReporters : public RunReporter {
public:
    void Add(RunReporter& reporter) { reporters.push_back(&reporter); }

    void RunStarted(const RunStartRecord& start) override {
        for (RunReporter* r : reporters) r->RunStarted(start);
    }
    void GpuExamining() override {
        for (RunReporter* r : reporters) r->GpuExamining();
    }
    void GpuExamined(const std::string& report) override {
        for (RunReporter* r : reporters) r->GpuExamined(report);
    }
    void GpuLimitsMeasured(const GpuLimits& limits) override {
        for (RunReporter* r : reporters) r->GpuLimitsMeasured(limits);
    }
    void RunStopped(const std::string& reason) override {
        for (RunReporter* r : reporters) r->RunStopped(reason);
    }
    void RunEstimated(const RunEstimateRecord& estimate) override {
        for (RunReporter* r : reporters) r->RunEstimated(estimate);
    }
    void DataSetStarted(const DataSetRecord& set) override {
        for (RunReporter* r : reporters) r->DataSetStarted(set);
    }
    void DataSetRefused(const DataSetRecord& set, const std::string& reason) override {
        for (RunReporter* r : reporters) r->DataSetRefused(set, reason);
    }
    void RowStarted(const DataSetRecord& set) override {
        for (RunReporter* r : reporters) r->RowStarted(set);
    }
    void CellMeasured(const DataSetRecord& set, const CellRecord& cell) override {
        for (RunReporter* r : reporters) r->CellMeasured(set, cell);
    }
    void CellSkipped(const DataSetRecord& set, const SkippedCellRecord& cell) override {
        for (RunReporter* r : reporters) r->CellSkipped(set, cell);
    }
    void CheckEnded(const DataSetRecord& set, const std::string& problem) override {
        for (RunReporter* r : reporters) r->CheckEnded(set, problem);
    }
    void SorterSaid(const std::string& lines) override {
        for (RunReporter* r : reporters) r->SorterSaid(lines);
    }
    void DataSetEnded(const DataSetRecord& set, const DataSetEndRecord& end) override {
        for (RunReporter* r : reporters) r->DataSetEnded(set, end);
    }
    void MeasuringEnded(const MeasuringEndRecord& end) override {
        for (RunReporter* r : reporters) r->MeasuringEnded(end);
    }

private:
    std::vector<RunReporter*> reporters;
};
