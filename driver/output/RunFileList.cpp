#include "driver/output/RunFileList.h"

#include "driver/output/ResultFiles.h"
#include "driver/output/StatsFiles.h"
#include "support/DataTypes.h"

std::vector<RunSeriesFile> RunSeriesFiles(const std::vector<Distribution>& distributions, const Repetition& repetition,
                                          const std::string& resultHeader) {
    const struct {
        RunFileKind kind;
        std::string header;
    } kinds[] = {{RunFileKind::Results, resultHeader},
                 {RunFileKind::Stats, StatsFileHeader(repetition.untilSure)},
                 {RunFileKind::Speedups, SpeedupHeader()}};
    std::vector<RunSeriesFile> files;
    for (const auto& kind : kinds) {
        if (!repetition.Repeated() && kind.kind != RunFileKind::Results) continue;
        for (const AppCore::DataTypeFacts& type : AppCore::kDataTypes) {
            for (const Distribution distribution : distributions)
                files.push_back({kind.kind, SeriesKey(type.name, distribution), type.name, distribution, kind.header});
        }
    }
    return files;
}
