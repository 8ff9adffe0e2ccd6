#include "driver/reporting/RoundObservers.h"

#include "driver/machine/MachineReference.h"
#include "driver/measuring/CellStatistics.h"
#include "driver/sorters/ColumnFloors.h"

void DataSetCells::CellMeasured(std::size_t column, const std::vector<double>& times) {
    const Column timed = columns[column];
    CellContext context{.intervalTarget = std::nullopt,
                        .floorMs = std::nullopt,
                        .floorSpread = std::nullopt,
                        .standardTimes = std::nullopt,
                        .drift = drift};
    if (repetition.untilSure) context.intervalTarget = repetition.intervalTarget;
    // Runs with one repetition measure no limits and keep their files as they were.
    if (repetition.Repeated()) {
        const PricedFloor floor =
            PriceColumnFloor(timed, set.type, set.distribution, set.count, probes, gpuLimits, everyCpu);
        context.floorMs = floor.ms;
        context.floorSpread = floor.spread;
        // The standard sort's column comes first in every row.
        if (timed == Column::CpuStandard) {
            standardTimes = times;
        } else {
            context.standardTimes = standardTimes;
        }
    }
    reporters.CellMeasured(set, {.index = column,
                                 .column = timed,
                                 .times = times,
                                 .stats = CellStatisticsOf(times, context),
                                 .referenceMs = referenceMs});
}

void DataSetCells::ReferenceMeasured(const std::vector<double>& times) {
    referenceMs = times;
    drift = ReferenceDrift(times);
}
