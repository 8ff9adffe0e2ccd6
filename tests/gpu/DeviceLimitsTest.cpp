// The device limits probe on the software device, watched by the validation
// layer, which also reports any object the probe leaves behind.
#include "gpu/DeviceLimits.h"

#include <cmath>
#include <optional>

#include <gtest/gtest.h>

#include "tests/gpu/GpuTestSupport.h"

namespace {

using QVEvalCore::DeviceLimits;
using QVEvalCore::DeviceLimitsOptions;
using QVEvalCore::ProbeDeviceLimits;
using SLib::kMiB;

TEST(DeviceLimits, measures_finite_positive_rates_with_buffers_of_whole_mib) {
    GpuTest::CheckedCore<> core("limits", GpuTest::SoftwareDevice());
    ASSERT_TRUE(core->VulkanReady()) << core->Failure();
    // The budget holds four buffers of 3 MiB and a little more.
    const DeviceLimits limits = ProbeDeviceLimits(
        *core, {.bufferBytes = 8 * SLib::kMiB, .repeats = 2, .availableBytes = 12 * SLib::kMiB + 4095});
    ASSERT_EQ(limits.skipped, "");
    EXPECT_EQ(limits.device, core->SelectedPhysicalDevice().name);
    EXPECT_EQ(limits.bufferBytes, 3 * SLib::kMiB);
    EXPECT_EQ(limits.repeats, 2u);
    for (const double rate : {limits.copyBytes, limits.uploadBytes, limits.readBackBytes}) {
        EXPECT_TRUE(std::isfinite(rate) && rate > 0) << rate;
    }
}

struct SkipCase {
    DeviceLimitsOptions options;
    const char* skipped;
};

TEST(DeviceLimits, options_that_leave_no_buffer_of_a_mib_skip_the_probe) {
    const SkipCase cases[] = {
        {{.availableBytes = 4 * SLib::kMiB - 1}, "needs at least 4 MiB of memory, 3 MiB available"},
        {{.availableBytes = 0}, "needs at least 4 MiB of memory, 0 MiB available"},
        {{.bufferBytes = SLib::kMiB - 1, .availableBytes = std::nullopt}, "buffers of 1048575 bytes, under 1 MiB"},
    };
    GpuTest::CheckedCore<> core("limits", GpuTest::SoftwareDevice());
    for (const SkipCase& c : cases) {
        const DeviceLimits limits = ProbeDeviceLimits(*core, c.options);
        EXPECT_EQ(limits.skipped, c.skipped);
        EXPECT_EQ(limits.copyBytes, 0.0);
    }
}

}  // namespace
