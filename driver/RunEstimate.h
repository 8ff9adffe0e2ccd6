#pragma once

#include "driver/DataSetLoop.h"
#include "driver/command_line/RunPlan.h"
#include "driver/machine/MachineReference.h"
#include "driver/measuring/OwnSizeProbes.h"
#include "driver/reporting/RunReporter.h"

// -R auto runs as long as its data sets need, which nothing tells before
// they run: one sort of every column on a pilot data set of the narrowest
// and of the widest type, the slower of the two scaled to every data set by
// the status line's model, says beforehand about how long. The pilot is
// big enough to leave the caches, as the large data sets that dominate a
// long run do, yet no larger than the run's largest.
//
// Sorts the pilots through `loop`, times `reference` (when there is one) once
// and hands the estimate to `reporters`. `manifestStoreMs`: what storing the
// manifest took, which every data set adds. Returns kExitComplete, also when
// a pilot could not be held (the run then goes on unestimated), or the status
// a failed sort or check ends the run with.
int EstimateRun(const RunPlan& plan, DataSetLoop& loop, MachineReference* reference, OwnSizeProbes& ownSizeProbes,
                double manifestStoreMs, RunReporters& reporters);
