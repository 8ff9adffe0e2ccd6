#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What the GPU's memory and its link to the host allow, as the run reports it
// and the GPU on-card floor (driver/measuring/MemoryFloor.h) prices with; the
// probe itself is GpuColumns::ProbeLimits (gpu/DeviceLimits.h says how each
// figure is timed). No Vulkan here.

struct GpuLimitsOptions {
    // Each of the probe's four buffers (two on the device, one staging, one on
    // the host); lowered to what the device and the budget allow, in whole MiB,
    // at least 1 MiB.
    std::uint64_t bufferBytes = std::uint64_t{64} << 20;
    unsigned repeats = 3;  // timings per figure, the best kept; 0 is taken as 1
    // The memory the probe may take, host and device together; unset: only the
    // device's limits bound it.
    std::optional<std::uint64_t> availableBytes;
};

struct GpuLimits {
    std::string skipped;             // why nothing was measured, one line; empty otherwise
    std::string device;              // the device's name, where one was selected
    std::uint64_t bufferBytes = 0;   // each buffer, as measured
    unsigned repeats = 0;            // timings per figure
    double copyBytes = 0;            // device memory to device memory: bytes read plus written per second
    double uploadBytes = 0;          // host to device, staged as the sorter uploads keys: bytes per second
    double readBackBytes = 0;        // device to host, staged as the sorter reads back indices: bytes per second

    bool Measured() const { return skipped.empty() && copyBytes > 0 && uploadBytes > 0 && readBackBytes > 0; }
};
