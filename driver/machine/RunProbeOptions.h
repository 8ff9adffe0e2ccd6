#pragma once

#include "driver/machine/GpuLimits.h"
#include "driver/machine/LimitsProbe.h"

// How a run and -LIMITS probe the machine. SORTBENCH_QUICK_LIMITS, set to
// anything, shrinks the probes to arrays that stay in the caches, timed once:
// for whole-run tests, which check where the figures go, not what they are.
// The sizes appear in the limits lines, so figures measured that way cannot
// pass for the real ones.

LimitsProbeOptions RunProbeOptions();

// The GPU's probe, bounded by the memory available now.
GpuLimitsOptions RunGpuProbeOptions();
