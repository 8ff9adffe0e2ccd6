#pragma once

#include "gpu/DeviceLimitsRecord.h"

// What the GPU's memory and its link to the host allow, as the run reports it
// and the GPU on-card floor (driver/measuring/MemoryFloor.h) prices with: the
// figures of the device limits probe (gpu/DeviceLimits.h says how each is
// timed), reached through GpuColumns::ProbeLimits.
using GpuLimitsOptions = QVEvalCore::DeviceLimitsOptions;
using GpuLimits = QVEvalCore::DeviceLimits;
