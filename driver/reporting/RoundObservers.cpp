#include "driver/reporting/RoundObservers.h"

#include "driver/machine/MachineReference.h"
#include "driver/measuring/MedianInterval.h"
#include "driver/measuring/TimingStats.h"
#include "driver/sorters/ColumnFloors.h"

void DataSetCells::CellMeasured(std::size_t column, const std::vector<double>& times) {
    CellRecord cell{.index = column,
                    .column = columns[column],
                    .times = times,
                    .summary = Summarize(times),
                    .interval = MedianConfidenceInterval(times),
                    .floorMs = std::nullopt,
                    .pairedRatios = std::nullopt,
                    .referenceMs = referenceMs,
                    .drift = drift};
    // Runs with one repetition measure no limits and keep their files as they were.
    if (repetition.Repeated()) {
        cell.floorMs =
            ColumnFloorMs(cell.column, set.type, set.distribution, set.count, cpuLimits, gpuLimits, everyCpu);
        // The standard sort's column comes first in every row.
        if (cell.column == Column::CpuStandard) {
            standardTimes = times;
        } else {
            cell.pairedRatios = PairedRatios(standardTimes, times);
        }
    }
    reporters.CellMeasured(set, cell);
}

void DataSetCells::ReferenceMeasured(const std::vector<double>& times) {
    referenceMs = times;
    drift = ReferenceDrift(times);
}
