#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "driver/machine/GpuLimits.h"
#include "driver/machine/LimitsProbe.h"
#include "driver/machine/ProcessMemory.h"

// The probed limits as a run reports them: lines for the run conditions and
// fields for the JSON context. Numbers are written without regard to the
// locale.

// Lines starting "Limits: ". Measured, one line naming the sizes and one per
// figure with "one thread/all CPUs" for each size in that order, 3 significant
// digits:
//   Limits: best of 3, 1 thread/2 threads, for index arrays of 1 MiB, 4 MiB, 16 MiB, 64 MiB
//   Limits: sequential copy (GB/s read + written): 37.2/60.1, 32.0/55.0, 30.4/50.2, 16.4/21.0
//   Limits: random 4-byte loads (M/s): 780/1400, 569/1010, 312/588, 121/230
//   Limits: random 8-byte loads (M/s): ...
//   Limits: 4-byte stores into 256 fronts (M/s): ...
//   Limits: 4-byte stores into 65536 fronts (M/s): ...
//   Limits: moves, 4-byte keys into 256 fronts (M/s): ...
//   Limits: moves, 8-byte keys into 65536 fronts (M/s): ...
// On one CPU each size has the one figure ("best of 3, 1 thread, for ...").
// Skipped, the single line "Limits: not measured: <reason>".
std::vector<std::string> LimitsLines(const CpuLimits& limits);

// The line -LIMITS adds after the figures: a run with floors prices each data
// set at figures measured at its own sizes, not at the sizes above, from
// index arrays of `smallestBytes` on:
//   Limits: a run prices each data set at its own array sizes, probed around its sorts (index arrays of 1 MiB
//   or more)
std::string OwnSizePricingLine(std::uint64_t smallestBytes);

// The run's closing line on the probes at its data sets' own sizes
// (ProbeDataSetLimits) and their share of the run's `runSeconds`, then each
// record count that was not probed, with why:
//   Limits: data sets priced at their own sizes, probed for 3 record counts in 2.41 s, 1.2% of the run's 201.3 s
//   (...; not for 100000000 records: needs 1530 MiB of memory, 900 MiB available)
std::string OwnSizeProbesLine(const std::vector<DataSetLimits>& probes, double runSeconds);

// Key and value texts for the JSON context, as Google Benchmark keeps custom
// context: "limits" is "measured" or "skipped: <reason>"; when measured,
// "limits_cpus" and "limits_repeats", then per size, figure and thread count
// "limits_<figure>_per_second_<size>_<threads>t" (figure copy_bytes, loads4,
// loads8, stores256, stores65536, moves4 or moves8; size "64MiB", "256KiB" or "4000000B";
// threads 1 and, on more than one CPU, the CPUs) with the figure per second
// as a whole number.
std::vector<std::pair<std::string, std::string>> LimitsContextFields(const CpuLimits& limits);

// The GPU's figures as one line, 3 significant digits:
//   Limits: GPU <device>: device copy 412 GB/s read + written, upload 12.1 GB/s, read-back 11.8 GB/s (buffers of 64
//   MiB, best of 3)
// Skipped, "Limits: GPU not measured: <reason>".
std::vector<std::string> GpuLimitsLines(const GpuLimits& limits);

// The GPU's JSON context fields, in the style of LimitsContextFields:
// "gpu_limits" is "measured" or "skipped: <reason>"; when measured,
// "gpu_limits_device", "gpu_limits_buffer_bytes", "gpu_limits_repeats" and
// "gpu_limits_<figure>_bytes_per_second" (figure copy, upload or read_back) as
// whole numbers.
std::vector<std::pair<std::string, std::string>> GpuLimitsContextFields(const GpuLimits& limits);

// "Huge pages: 1830 MiB of 1907 MiB of anonymous memory (96%), at the largest
// data set": how much of the process's memory was on huge pages when it held
// the most (ProcessMemory.h); "Huge pages: unknown (no /proc/self/smaps_rollup)"
// without a reading.
std::string HugePagesLine(const std::optional<ProcessMemory>& largest);
