// Start-up of the GPU core on the software device: report lines, selection
// with and without allowCpuDevices, logical device, Init, ranking.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "gpu/QVEvalCore.h"
#include "gpu/ReportText.h"
#include "strings/GroupedNumber.h"
#include "tests/gpu/GpuTestSupport.h"

namespace {

using GpuTest::CheckedCore;
using GpuTest::CoutCapture;
using GpuTest::Lines;
using GpuTest::SoftwareDevice;
using QVEvalCore::QVCore;

TEST(CoreStartup, software_device_is_skipped_without_the_switch) {
    CoutCapture output;
    CheckedCore<> core("startup", GpuTest::ReportingToCout());
    const std::vector<std::string> lines = Lines(output.Text());
    ASSERT_EQ(lines.size(), 6u) << output.Text();
    const std::string found = "Found physical device: ";
    ASSERT_EQ(lines[3].rfind(found, 0), 0u);
    const std::string name = lines[3].substr(found.size());
    EXPECT_EQ(name.rfind("llvmpipe", 0), 0u) << "not the software device: " << name;
    const std::vector<std::string> expected = {
        ">>> Initializing: startup",
        "Loaded Vulkan Library",
        "Successfully Created Vulkan Instance (Version " + QVEvalCore::VersionText(core->InstanceVersion()) + ")",
        found + name,
        "    deviceType: Cpu",
        "Skipping physical device: " + name + " - Not Discrete or Integrated",
    };
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(core->Failure(), "Could not find any physical devices available for compute!\n");

    EXPECT_FALSE(core->VulkanReady());
    EXPECT_TRUE(core->Instance());
    EXPECT_TRUE(core->PhysicalDevices().empty());
    EXPECT_TRUE(core->Devices().empty());
    EXPECT_FALSE(core->Init());
    EXPECT_FALSE(core->PipelinesReady());
    EXPECT_EQ(Lines(output.Text()).size(), 6u) << "Init of a core that is not ready prints nothing";
}

TEST(CoreStartup, software_device_starts_up_with_the_switch) {
    CoutCapture output;
    CheckedCore<> core("startup", SoftwareDevice());
    ASSERT_TRUE(core->VulkanReady()) << output.Text();
    ASSERT_EQ(core->PhysicalDevices().size(), 1u);
    const QVCore::PhysicalDeviceInfo& device = core->PhysicalDevices()[0];

    uint64_t local = 0;
    uint64_t other = 0;
    for (uint32_t i = 0; i < device.memoryProperties.memoryHeapCount; ++i) {
        const vk::MemoryHeap& heap = device.memoryProperties.memoryHeaps[i];
        const bool deviceLocal = (heap.flags & vk::MemoryHeapFlagBits::eDeviceLocal) &&
                                 !(heap.flags & vk::MemoryHeapFlagBits::eMultiInstance);
        (deviceLocal ? local : other) += heap.size;
    }
    const std::vector<std::string> expected = {
        ">>> Initializing: startup",
        "Loaded Vulkan Library",
        "Successfully Created Vulkan Instance (Version " + QVEvalCore::VersionText(core->InstanceVersion()) + ")",
        "Found physical device: " + device.name,
        "    deviceType: Cpu",
        "    deviceID: MesaLlvmpipe",
        "    api version: " + QVEvalCore::VersionText(device.apiVersion),
        "    driver version: " + std::to_string(device.driverVersion),
        "    device local memory: " + SLib::GroupedNumber(local),
        "    other heap memory:   " + SLib::GroupedNumber(other),
        "    max allocation:      " + SLib::GroupedNumber(device.maxAllocation),
        "    compute queue:  " + std::to_string(device.computeQueueFamily),
        "    transfer queue: " + std::to_string(device.transferQueueFamily),
        "Sorted physical devices:",
        "  [0] " + device.name,
        "Successfully created a logical device from: " + device.name,
        "Successfully intialized command resources for logical device 0",
        "Successfully initialized Vulkan",
    };
    EXPECT_EQ(Lines(output.Text()), expected);
    EXPECT_EQ(core->Failure(), "");

    EXPECT_EQ(device.totalMemory, local + other);
    EXPECT_LE(device.maxAllocation, 4'294'967'296u);
    // The software device has one queue family, which serves both roles.
    EXPECT_EQ(device.transferQueueFamily, device.computeQueueFamily);
    ASSERT_EQ(device.enabledExtensions.size(), 2u);
    EXPECT_STREQ(device.enabledExtensions[0], "VK_EXT_inline_uniform_block");
    EXPECT_STREQ(device.enabledExtensions[1], "VK_EXT_shader_atomic_float");
    EXPECT_TRUE(device.enabledFeatures.get<vk::PhysicalDeviceVulkan12Features>().bufferDeviceAddress);
    EXPECT_FALSE(device.enabledFeatures.get<vk::PhysicalDeviceVulkan12Features>().samplerMirrorClampToEdge)
        << "only the required features are enabled";

    const QVCore::DeviceInfo& selected = core->SelectedDevice();
    EXPECT_TRUE(selected.device && selected.computeCommandPool && selected.transferCommandPool &&
                selected.computeCommandBuffer && selected.transferCommandBuffer);
    ASSERT_EQ(core->Devices().size(), 1u);
    EXPECT_EQ(selected.device, core->Devices()[0].device);
    EXPECT_EQ(selected.transferCommandBuffer, core->Devices()[0].transferCommandBuffer);
    EXPECT_EQ(core->SelectedPhysicalDevice().name, device.name);
    EXPECT_EQ(core->MaxStorageBuffers(), 8u);
}

// The core's device steps, as a derived client reaches them.
class DeviceSteps : public QVCore {
public:
    DeviceSteps() : QVCore("startup", SoftwareDevice()) {}
    using QVCore::CreateCommandResources;
    using QVCore::CreateDevice;
};

TEST(CoreStartup, repeated_device_creation_reports_the_existing_device) {
    CheckedCore<DeviceSteps> core;
    ASSERT_TRUE(core->VulkanReady());
    const vk::Device first = core->Devices()[0].device;

    CoutCapture output;
    EXPECT_TRUE(core->CreateDevice(0));
    EXPECT_TRUE(core->CreateDevice(5)) << "an index past the list means the last device";
    EXPECT_FALSE(core->CreateCommandResources(3));
    EXPECT_EQ(output.Text(),
              "Logical device 0 has already been created.\n"
              "Logical device 0 has already been created.\n");
    EXPECT_EQ(core->Failure(), "Unable to allocate resources for logical device 3\n");
    ASSERT_EQ(core->Devices().size(), 1u);
    EXPECT_EQ(core->Devices()[0].device, first);
}

// Records which of the client's three steps Init called; step `failing` fails.
class RecordingCore : public QVCore {
public:
    explicit RecordingCore(int failing) : QVCore("recording", SoftwareDevice()), failing(failing) {}
    std::vector<int> calls;

protected:
    bool CreateDescriptorSets() override { return Step(1); }
    bool CreatePipelineLayout() override { return Step(2); }
    bool CreatePipelines() override { return Step(3); }

private:
    bool Step(int step) {
        calls.push_back(step);
        return step != failing;
    }
    int failing;
};

TEST(CoreStartup, init_runs_the_client_steps_in_order_until_one_fails) {
    for (int failing = 1; failing <= 4; ++failing) {
        CheckedCore<RecordingCore> core(failing);
        ASSERT_TRUE(core->VulkanReady());
        CoutCapture output;
        const bool succeeded = core->Init();
        std::vector<int> expected;
        for (int step = 1; step <= std::min(failing, 3); ++step) {
            expected.push_back(step);
        }
        EXPECT_EQ(core->calls, expected) << "step " << failing << " failing";
        EXPECT_EQ(succeeded, failing == 4);
        EXPECT_EQ(core->PipelinesReady(), failing == 4);
        EXPECT_EQ(output.Text(), failing == 4 ? "Successfully initialized Pipelines\n" : "");
    }
}

TEST(CoreStartup, validation_layer_reports_misuse) {
    GpuTest::TakeValidationLog();
    {
        QVCore core("misuse", SoftwareDevice());
        ASSERT_TRUE(core.VulkanReady());
        VkBufferCreateInfo empty{};
        empty.sType = VK_STRUCTURE_TYPE_BUFFER_CREATE_INFO;
        empty.usage = VK_BUFFER_USAGE_STORAGE_BUFFER_BIT;
        VkBuffer buffer = VK_NULL_HANDLE;
        const VkDevice device = core.SelectedDevice().device;
        VULKAN_HPP_DEFAULT_DISPATCHER.vkCreateBuffer(device, &empty, nullptr, &buffer);
        VULKAN_HPP_DEFAULT_DISPATCHER.vkDestroyBuffer(device, buffer, nullptr);
    }
    // The other tests trust an empty log; this shows an empty log means something.
    EXPECT_NE(GpuTest::TakeValidationLog().find("VUID-VkBufferCreateInfo-size-00912"), std::string::npos);
}

TEST(CoreStartup, synchronization_validation_reports_a_missing_barrier) {
    if (!GpuTest::SynchronizationValidation()) {
        GTEST_SKIP() << "synchronization validation is off under AddressSanitizer";
    }
    GpuTest::TakeValidationLog();
    {
        QVCore core("hazard", SoftwareDevice());
        ASSERT_TRUE(core.VulkanReady());
        QVCore::BufferGroup group;
        core.CreateBufferGroup(0, 64, 4, group, vk::BufferUsageFlagBits::eTransferDst,
                               vk::MemoryPropertyFlagBits::eDeviceLocal, {});
        const vk::CommandBuffer commands = core.SelectedDevice().computeCommandBuffer;
        commands.begin(vk::CommandBufferBeginInfo());
        commands.fillBuffer(group.buffers.at(0), 0, VK_WHOLE_SIZE, 1);
        commands.fillBuffer(group.buffers.at(0), 0, VK_WHOLE_SIZE, 2);
        commands.end();
        group.Clear(core.SelectedDevice().device);
    }
    // Two writes without a barrier between them: the sort's tests rely on
    // synchronization validation being on to trust their barriers.
    EXPECT_NE(GpuTest::TakeValidationLog().find("SYNC-HAZARD-WRITE-AFTER-WRITE"), std::string::npos);
}

QVCore::PhysicalDeviceInfo Record(const char* name, vk::PhysicalDeviceType type, uint64_t totalMemory) {
    QVCore::PhysicalDeviceInfo info;
    info.name = name;
    info.deviceType = type;
    info.totalMemory = totalMemory;
    return info;
}

TEST(DeviceRanking, discrete_before_integrated_before_software_then_by_memory) {
    using Type = vk::PhysicalDeviceType;
    constexpr uint64_t kGiB = 1ull << 30;
    std::vector<QVCore::PhysicalDeviceInfo> list = {
        Record("integrated 16", Type::eIntegratedGpu, 16 * kGiB), Record("software 64", Type::eCpu, 64 * kGiB),
        Record("discrete 8 a", Type::eDiscreteGpu, 8 * kGiB),     Record("discrete 8 b", Type::eDiscreteGpu, 8 * kGiB),
        Record("discrete 12", Type::eDiscreteGpu, 12 * kGiB),
    };
    QVCore::RankPhysicalDevices(list);
    std::vector<std::string> names;
    for (const QVCore::PhysicalDeviceInfo& info : list) {
        names.push_back(info.name);
        // Sorting copies records; each copy's chains must link its own structures.
        EXPECT_EQ(info.properties.get<vk::PhysicalDeviceProperties2>().pNext,
                  &info.properties.get<vk::PhysicalDeviceDriverProperties>());
        EXPECT_EQ(info.enabledFeatures.get<vk::PhysicalDeviceVulkan12Features>().pNext,
                  &info.enabledFeatures.get<vk::PhysicalDeviceInlineUniformBlockFeaturesEXT>());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"discrete 12", "discrete 8 a", "discrete 8 b", "integrated 16",
                                               "software 64"}));
}

TEST(DeviceChecks, vulkan_1_2_means_major_1_and_minor_2_or_more) {
    vk::PhysicalDeviceProperties2 properties;
    const auto check = [&](uint32_t major, uint32_t minor, uint32_t patch) {
        properties.properties.apiVersion = VK_MAKE_API_VERSION(0, major, minor, patch);
        return QVEvalCore::IsVulkan12OrBetter(properties);
    };
    EXPECT_TRUE(check(1, 2, 0));
    EXPECT_TRUE(check(1, 3, 250));
    EXPECT_TRUE(check(1, 4, 305));
    EXPECT_FALSE(check(1, 1, 130));
    EXPECT_FALSE(check(2, 0, 0));

    std::vector<vk::ExtensionProperties> extensions(1);
    std::strcpy(extensions[0].extensionName.data(), "VK_KHR_maintenance3");
    EXPECT_TRUE(QVEvalCore::CheckExtensionAvailability("VK_KHR_maintenance3", extensions));
    EXPECT_FALSE(QVEvalCore::CheckExtensionAvailability("VK_KHR_maintenance", extensions));
    EXPECT_FALSE(QVEvalCore::CheckExtensionAvailability("VK_KHR_maintenance3", {}));
}

TEST(ReportText, versions_and_numbers) {
    EXPECT_EQ(QVEvalCore::VersionText(VK_MAKE_API_VERSION(0, 1, 3, 250)), "1.3.250");
    const char* saved = std::getenv("LC_ALL");
    const std::string previous = saved != nullptr ? saved : "";
    setenv("LC_ALL", "C", 1);
    EXPECT_EQ(SLib::GroupedNumber(8'589'934'592), "8589934592");
    // A locale the machine lacks must not stop the report.
    setenv("LC_ALL", "xx_XX.NOT-INSTALLED", 1);
    EXPECT_EQ(SLib::GroupedNumber(4'294'967'296), "4294967296");
    if (saved != nullptr) {
        setenv("LC_ALL", previous.c_str(), 1);
    } else {
        unsetenv("LC_ALL");
    }
}

}  // namespace
