#pragma once

#include "driver/command_line/RunPlan.h"
#include "driver/output/ResultFiles.h"
#include "driver/output/RunDirectory.h"
#include "driver/reporting/ConsoleReporter.h"

// The run's folder, before anything is measured.

// Makes or finds the plan's log directory, repairs the interrupted runs' files
// in it (naming them on `console`), claims the plan's run directory inside it
// into `runDirectory` and points the interruption handler's message at it.
// kExitComplete, kExitNoDirectory, or kExitBadOption when the owner rule
// refused a link on the log directory's path, as for a bad value. Without
// root and with the default place, each failure's line says how to choose
// another.
int ClaimRunDirectory(const RunPlan& plan, RunDirectory& runDirectory, ConsoleReporter& console);

// Opens the run's per-series files (RunSeriesFiles) in `runDirectory` into
// `results`, in order; false at the first that cannot be opened, which has
// said why.
bool OpenResultFiles(const RunPlan& plan, const RunDirectory& runDirectory, ResultFiles& results);
