#pragma once

#include "driver/command_line/RunPlan.h"
#include "driver/output/JsonResults.h"
#include "driver/output/ResultFiles.h"
#include "driver/reporting/ConsoleReporter.h"
#include "driver/reporting/RunManifest.h"

// The run's files closed once measuring has ended with `status`: the -JSON
// document written (`json`, null without -JSON; a run that measured nothing
// leaves an earlier file at the path as it was), the result files closed, then
// run.json's ending stored with the exit status and every write that failed,
// and the console's closing lines on what the disk did not take. A run that
// would end complete ends kExitIncomplete when any of these lacks something;
// returns the status the run ends with.
int CloseRunFiles(int status, const RunPlan& plan, const std::string& runDirectory, JsonResults* json,
                  ResultFiles& results, RunManifest& manifest, ConsoleReporter& console);
