// The core in processes whose Vulkan loader is missing or a stand-in.
#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "driver/Benchmark.h"
#include "driver/command_line/RunPlan.h"
#include "gpu/QVEvalCore.h"
#include "tests/gpu/GpuTestSupport.h"

namespace {

using GpuTest::ChildReport;
using GpuTest::CoutCapture;
using GpuTest::RunWithLoaderReplaced;
using QVEvalCore::QVCore;

// Constructs a core in the child and describes what happened in one text:
// the report it printed, then its failure, as a caller prints them.
std::string DescribeStartup(const char* fakeMode) {
    if (fakeMode != nullptr) {
        setenv("SORTBENCH_FAKE_VULKAN", fakeMode, 1);
    }
    std::ostringstream description;
    {
        CoutCapture output;
        std::string failure;
        try {
            QVCore core("loader", GpuTest::ReportingToCout());
            description << "ready=" << core.VulkanReady() << " instance=" << static_cast<bool>(core.Instance())
                        << " library=" << core.LibraryLoaded() << " init=" << core.Init();
            failure = core.Failure();
        } catch (const vk::SystemError& error) {
            description << "vk::SystemError: " << error.what();
        } catch (const std::runtime_error& error) {
            description << "runtime_error: " << error.what();
        }
        description << '\n' << output.Text() << failure;
    }
    // After the core is gone, whatever it opened must be closed again.
    if (dlopen("libvulkan.so.1", RTLD_NOW | RTLD_NOLOAD) != nullptr) {
        description << "the loader library is still open\n";
    }
    return description.str();
}

class LoaderTest : public testing::Test {
protected:
    static std::string EmptyFile() {
        const std::filesystem::path path =
            std::filesystem::temp_directory_path() / ("sortbench-empty-loader-" + std::to_string(getpid()));
        std::ofstream{path};
        created.push_back(path);
        return path.string();
    }
    static void TearDownTestSuite() {
        for (const std::filesystem::path& path : created) {
            std::filesystem::remove(path);
        }
    }
    static inline std::vector<std::filesystem::path> created;
};

#define SKIP_IF_SKIPPED(report)        \
    if ((report).skipped) {            \
        GTEST_SKIP() << (report).text; \
    }

TEST_F(LoaderTest, missing_loader_throws_after_the_initializing_line_only) {
    const ChildReport report = RunWithLoaderReplaced(EmptyFile(), [] { return DescribeStartup(nullptr); });
    SKIP_IF_SKIPPED(report);
    EXPECT_EQ(report.text, "runtime_error: Failed to load vulkan library!\n>>> Initializing: loader\n");
}

TEST_F(LoaderTest, vulkan_1_0_loader_leaves_a_core_that_is_not_ready) {
    const ChildReport report = RunWithLoaderReplaced(SORTBENCH_FAKE_LOADER, [] { return DescribeStartup("1.0"); });
    SKIP_IF_SKIPPED(report);
    EXPECT_EQ(report.text,
              "ready=0 instance=0 library=1 init=0\n"
              ">>> Initializing: loader\n"
              "Loaded Vulkan Library\n"
              "Vulkan implementation is version 1.0.  Version 1.1 or higher is required.\n");
}

TEST_F(LoaderTest, instance_version_is_reported_and_no_devices_stop_start_up) {
    const ChildReport report = RunWithLoaderReplaced(SORTBENCH_FAKE_LOADER, [] { return DescribeStartup("1.3.250"); });
    SKIP_IF_SKIPPED(report);
    EXPECT_EQ(report.text,
              "ready=0 instance=1 library=1 init=0\n"
              ">>> Initializing: loader\n"
              "Loaded Vulkan Library\n"
              "Successfully Created Vulkan Instance (Version 1.3.250)\n"
              "Could not find any physical devices!\n");
}

TEST_F(LoaderTest, failing_instance_creation_throws_and_closes_the_loader) {
    const ChildReport report = RunWithLoaderReplaced(SORTBENCH_FAKE_LOADER, [] { return DescribeStartup("fail"); });
    SKIP_IF_SKIPPED(report);
    EXPECT_EQ(report.text,
              "vk::SystemError: vk::createInstance: ErrorIncompatibleDriver\n"
              ">>> Initializing: loader\n"
              "Loaded Vulkan Library\n");
}

// A device one short of a limit the sort relies on is skipped with a line
// naming the limit, its value and the need; a device exactly at every need is
// chosen (and then fails at device creation, which the stand-in refuses).
TEST_F(LoaderTest, devices_are_checked_against_the_sorts_limits) {
    const std::string skip = "Skipping physical device: Fake GPU - Limit ";
    const std::string none = "Could not find any physical devices available for compute!";
    const std::string chosen = "  [0] Fake GPU";
    const struct {
        const char* setting;
        std::string expected;
    } cases[] = {
        {"", chosen},
        {"maxPerStageDescriptorStorageBuffers=10",
         skip + "maxPerStageDescriptorStorageBuffers is 10, needs at least 11"},
        {"maxPerStageDescriptorStorageBuffers=11", chosen},
        {"maxDescriptorSetStorageBuffers=4", skip + "maxDescriptorSetStorageBuffers is 4, needs at least 11"},
        {"maxBoundDescriptorSets=1", skip + "maxBoundDescriptorSets is 1, needs at least 2"},
        {"maxInlineUniformBlockSize=8", skip + "maxInlineUniformBlockSize is 8, needs at least 12"},
        {"maxPerStageDescriptorInlineUniformBlocks=0",
         skip + "maxPerStageDescriptorInlineUniformBlocks is 0, needs at least 1"},
        {"maxDescriptorSetInlineUniformBlocks=0", skip + "maxDescriptorSetInlineUniformBlocks is 0, needs at least 1"},
        {"maxPushConstantsSize=12", skip + "maxPushConstantsSize is 12, needs at least 16"},
        {"maxComputeSharedMemorySize=4096", skip + "maxComputeSharedMemorySize is 4096, needs at least " +
                                                std::to_string(QVCore::SortNeeds::kSharedMemoryBytes)},
        {"maxComputeWorkGroupSize[0]=128", skip + "maxComputeWorkGroupSize[0] is 128, needs at least " +
                                               std::to_string(QVCore::SortNeeds::kWorkgroupSize)},
        {"maxComputeWorkGroupInvocations=128", skip + "maxComputeWorkGroupInvocations is 128, needs at least " +
                                                   std::to_string(QVCore::SortNeeds::kWorkgroupSize)},
        {"maxComputeWorkGroupCount[0]=64", skip + "maxComputeWorkGroupCount[0] is 64, needs at least 108"},
        {"maxStorageBufferRange=65536", skip + "maxStorageBufferRange is 65536, needs at least 111616"},
    };
    for (const auto& check : cases) {
        const ChildReport report = RunWithLoaderReplaced(SORTBENCH_FAKE_LOADER, [&] {
            setenv("SORTBENCH_FAKE_LIMIT", check.setting, 1);
            return DescribeStartup("device");
        });
        SKIP_IF_SKIPPED(report);
        const std::vector<std::string> lines = GpuTest::Lines(report.text);
        ASSERT_GE(lines.size(), 2u) << report.text;
        if (check.expected == chosen) {
            EXPECT_EQ(lines.back(), chosen) << check.setting << '\n' << report.text;
            EXPECT_EQ(lines.front(), "vk::SystemError: vk::PhysicalDevice::createDevice: ErrorInitializationFailed")
                << check.setting;
        } else {
            EXPECT_EQ(lines[lines.size() - 2], check.expected) << check.setting << '\n' << report.text;
            EXPECT_EQ(lines.back(), none) << check.setting;
        }
    }
}

TEST_F(LoaderTest, benchmark_without_a_loader_reports_it_and_runs_the_cpu_columns) {
    const ChildReport report = RunWithLoaderReplaced(EmptyFile(), [] {
        const std::filesystem::path logs =
            std::filesystem::temp_directory_path() / ("sortbench-no-loader-logs-" + std::to_string(getpid()));
        const char* const args[] = {"sortbench", "-S", "3"};
        const RunPlan plan = ParseCommandLine(3, args, "261207090000", logs.string() + "/");
        testing::internal::CaptureStdout();
        const int status = RunBenchmark(plan);
        const std::vector<std::string> lines = GpuTest::Lines(testing::internal::GetCapturedStdout());
        std::filesystem::remove_all(logs);

        std::ostringstream description;
        description << "status " << status << '\n';
        const auto banner = std::find(lines.begin(), lines.end(),
                                      "----------------------------- GPU INFO -----------------------------");
        for (auto line = banner; line != lines.end() && line - banner < 3; ++line) {
            description << *line << '\n';
        }
        for (const std::string& line : lines) {
            if (line.rfind("INT CPU 8 Thread - ", 0) == 0) {
                description << "INT CPU 8 Thread\n";
            }
        }
        return description.str();
    });
    SKIP_IF_SKIPPED(report);
    EXPECT_EQ(report.text,
              "status 0\n"
              "----------------------------- GPU INFO -----------------------------\n"
              ">>> Initializing: QVRadixSort\n"
              "Failed to load vulkan library!\n"
              "INT CPU 8 Thread\n");
}

}  // namespace
