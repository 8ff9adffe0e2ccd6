#include "driver/RunEnding.h"

#include <cstring>
#include <string>
#include <vector>

#include "driver/ExitStatus.h"

int CloseRunFiles(int status, const RunPlan& plan, const std::string& runDirectory, JsonResults* json,
                  ResultFiles& results, RunManifest& manifest, ConsoleReporter& console) {
    RunClosedRecord closed{.runDirectory = runDirectory,
                           .jsonPath = {},
                           .jsonProblem = {},
                           .unwrittenCells = 0,
                           .unwrittenFiles = {},
                           .manifestPath = {},
                           .manifestProblem = {}};
    // What run.json's ending names, so that a reader learns which write failed and why.
    std::vector<FailedWrite> failedWrites;
    if (json && json->HasEntries()) {
        closed.jsonProblem = json->TryWrite();
        if (!closed.jsonProblem.empty()) {
            closed.jsonPath = plan.jsonPath;
            failedWrites.push_back({plan.jsonPath, closed.jsonProblem});
            if (status == kExitComplete) status = kExitIncomplete;
        }
    }
    for (const auto& file : results.Close()) {
        closed.unwrittenCells += file.cells;
        closed.unwrittenFiles +=
            (closed.unwrittenFiles.empty() ? "" : ", ") + file.fileName + " " + std::to_string(file.cells);
        failedWrites.push_back({file.fileName, file.error != 0 ? std::strerror(file.error) : "", file.cells});
    }
    if (closed.unwrittenCells != 0 && status == kExitComplete) status = kExitIncomplete;
    // The manifest records the status the run ends with, before the last lines.
    if (!manifest.RunEnded(status, std::move(failedWrites))) {
        closed.manifestPath = manifest.Path();
        closed.manifestProblem = manifest.Problem();
        if (status == kExitComplete) status = kExitIncomplete;
    }
    console.RunClosed(closed);
    return status;
}
