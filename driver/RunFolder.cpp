#include "driver/RunFolder.h"

#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "driver/ExitStatus.h"
#include "driver/output/Interruption.h"
#include "driver/output/RunFileList.h"
#include "driver/sorters/Columns.h"
#include "strings/EscapedText.h"

int ClaimRunDirectory(const RunPlan& plan, RunDirectory& runDirectory, ConsoleReporter& console) {
    // Without root the default place is out of reach; say how to choose another.
    const std::string hint =
        !plan.customLogDirectory && geteuid() != 0 ? " (not root: use -O DIR to put the results elsewhere)" : "";
    bool refused = false;
    // Resolved once, as it is made: the repair and the claim happen in the folder just made or found.
    std::optional<LogDirectory> logs = CreateLogDirectory(plan.logDirectory, plan.customLogDirectory, refused, hint);
    if (!logs) return refused ? kExitBadOption : kExitNoDirectory;
    console.RunsRepaired(RepairInterruptedRuns(logs->folder));
    if (!runDirectory.Claim(logs->folder, plan.runName, hint)) return kExitNoDirectory;
    logs->created.Keep();
    SetInterruptedResultsLocation(SLib::EscapedControls(runDirectory.Path()));
    return kExitComplete;
}

bool OpenResultFiles(const RunPlan& plan, const RunDirectory& runDirectory, ResultFiles& results) {
    const std::vector<RunSeriesFile> files =
        RunSeriesFiles(plan.types, plan.distributions, plan.repetition, plan.columns);
    for (const RunFileKindFacts& kind : kRunFileKinds) {
        std::vector<std::string> series;
        std::string header;  // the same for every file of a kind
        for (const RunSeriesFile& file : files) {
            if (file.kind != kind.kind) continue;
            series.push_back(file.series);
            header = file.header;
        }
        if (series.empty()) continue;
        const std::string& folder = runDirectory.Path();
        const bool opened = kind.kind == RunFileKind::Results ? results.Open(folder, header, series)
                            : kind.kind == RunFileKind::Stats ? results.OpenStats(folder, header, series)
                                                              : results.OpenSpeedups(folder, header, series);
        if (!opened) return false;
    }
    return true;
}
