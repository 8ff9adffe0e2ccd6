#pragma once

#include "driver/command_line/RunPlan.h"
#include "driver/sorters/GpuColumns.h"

// Exit statuses of a run.
inline constexpr int kExitComplete = 0;     // every data type benchmarked
inline constexpr int kExitStopped = 1;      // "-INFO", a failed QA check, or a data set that cannot be held
inline constexpr int kExitNoDirectory = 255;  // the log or run directory cannot be created

// The whole benchmark run for `plan`: directories and result files, system report,
// then every data type and count with every sorter. Prints its progress on
// standard output and returns the exit status. Everything the run creates is
// released before it returns, and result files written so far stay on disk.
// `seams` reach the GPU columns (tests only).
int RunBenchmark(const RunPlan& plan, const GpuColumns::Seams& seams = {});
