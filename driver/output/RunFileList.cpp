#include "driver/output/RunFileList.h"

#include <algorithm>

#include "driver/output/ResultFiles.h"
#include "driver/output/StatsFiles.h"
#include "support/DataTypes.h"

std::vector<RunSeriesFile> RunSeriesFiles(const std::vector<AppCore::DataType>& types,
                                          const std::vector<Distribution>& distributions, const Repetition& repetition,
                                          const std::vector<Column>& columns) {
    const bool standardTimed = std::find(columns.begin(), columns.end(), Column::CpuStandard) != columns.end();
    const struct {
        RunFileKind kind;
        std::string header;
    } kinds[] = {{RunFileKind::Results, ResultHeader(columns)},
                 {RunFileKind::Stats, StatsFileHeader(repetition.untilSure)},
                 {RunFileKind::Speedups, SpeedupHeader()}};
    std::vector<RunSeriesFile> files;
    for (const auto& kind : kinds) {
        if (!repetition.Repeated() && kind.kind != RunFileKind::Results) continue;
        if (!standardTimed && kind.kind == RunFileKind::Speedups) continue;
        for (const AppCore::DataType type : types) {
            const char* name = AppCore::DataTypeName(type);
            for (const Distribution distribution : distributions)
                files.push_back({kind.kind, SeriesKey(name, distribution), name, distribution, kind.header});
        }
    }
    return files;
}
