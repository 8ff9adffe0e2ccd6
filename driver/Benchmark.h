#pragma once

#include "driver/ExitStatus.h"
#include "driver/command_line/RunPlan.h"
#include "driver/sorters/GpuColumns.h"

// The whole benchmark run for `plan`: directories and result files, system report,
// then every data type and count with every sorter. Prints its progress on
// standard output and returns the exit status. Everything the run creates is
// released before it returns, and result files written so far stay on disk.
// `seams` reach the GPU columns (tests only).
int RunBenchmark(const RunPlan& plan, const GpuColumns::Seams& seams = {});
