#pragma once

// The options and the figures of the device limits probe (gpu/DeviceLimits.h),
// without Vulkan, so that the code pricing a GPU sort with them needs none.

#include <cstdint>
#include <optional>
#include <string>

#include "strings/MemoryText.h"

namespace QVEvalCore {

struct DeviceLimitsOptions {
    uint64_t bufferBytes = 64 * SLib::kMiB;  // each buffer; lowered as gpu/DeviceLimits.h says, at least 1 MiB
    unsigned repeats = 3;                    // timings per figure, the best kept; 0 is taken as 1
    // The memory the probe may take, host and device together; unset: only
    // the device's limits bound it.
    std::optional<uint64_t> availableBytes;
};

struct DeviceLimits {
    std::string skipped;       // why nothing was measured, one line; empty otherwise
    std::string device;        // the selected device's name, once the core has one
    uint64_t bufferBytes = 0;  // each buffer, as measured
    unsigned repeats = 0;
    double copyBytes = 0;      // bytes read plus written per second
    double uploadBytes = 0;    // bytes per second
    double readBackBytes = 0;  // bytes per second

    bool Measured() const { return skipped.empty() && copyBytes > 0 && uploadBytes > 0 && readBackBytes > 0; }
};

}  // namespace QVEvalCore
