#include "driver/machine/RunProbeOptions.h"

#include <cstdlib>

#include "driver/machine/AvailableMemory.h"

namespace {

bool QuickLimits() {
    const char* quick = std::getenv("SORTBENCH_QUICK_LIMITS");
    return quick != nullptr && *quick != '\0';
}

}  // namespace

LimitsProbeOptions RunProbeOptions() {
    LimitsProbeOptions options;
    if (QuickLimits()) {
        options.arrayBytes = {64 << 10, 256 << 10};
        options.repeats = 1;
    }
    return options;
}

GpuLimitsOptions RunGpuProbeOptions() {
    GpuLimitsOptions options;
    options.availableBytes = AvailableMemoryBytes();
    if (QuickLimits()) {
        options.bufferBytes = 1 << 20;
        options.repeats = 1;
    }
    return options;
}
