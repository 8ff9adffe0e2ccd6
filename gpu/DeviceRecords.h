#pragma once

// What the core knows of a device: the records device examination fills and
// selection ranks, the extensions it requires and the limits the sort needs.

#include <cstdint>
#include <string>
#include <vector>

#include "gpu/VulkanDispatch.h"
#include "gpu/shaders/sort_constants.h"

namespace QVEvalCore {

// Device extensions required on every device.
extern const std::vector<const char*> kDeviceExtensions;
// Device extensions required only on the NVIDIA proprietary driver.
extern const std::vector<const char*> kNvidiaDeviceExtensions;

// True when the device reports API major version 1 and minor version 2 or more.
bool IsVulkan12OrBetter(vk::PhysicalDeviceProperties2& properties);

// True when some entry's extensionName equals name byte for byte.
bool CheckExtensionAvailability(const char* name, const std::vector<vk::ExtensionProperties>& extensions);

using PropertyChain =
    vk::StructureChain<vk::PhysicalDeviceProperties2, vk::PhysicalDeviceDriverProperties,
                       vk::PhysicalDeviceMaintenance3Properties, vk::PhysicalDeviceInlineUniformBlockPropertiesEXT>;

// The device limits the sort's descriptor sets, pipeline layout and shaders
// rely on. A device below any of them is skipped during selection. The
// figures come from the constants the shaders are built with.
struct SortNeeds {
    // Set 0: the key buffers; set 1: counter, offset and address tables.
    static constexpr uint32_t kStorageBuffers = SORT_KEY_BUFFERS + 3;
    static constexpr uint32_t kDescriptorSets = 2;
    static constexpr uint32_t kInlineUniformBlockBytes = SORT_BLOCK_WORDS * 4;
    static constexpr uint32_t kInlineUniformBlocks = 1;
    static constexpr uint32_t kPushConstantBytes = SORT_PUSH_CONSTANT_WORDS * 4;
    static constexpr uint32_t kWorkgroupSize = SORT_WORKGROUP_SIZE;
    static constexpr uint32_t kWorkgroupCount = SORT_WORKGROUP_COUNT;
    // The largest shader's shared arrays (scattering, ranking with masks).
    static constexpr uint32_t kSharedMemoryBytes = SORT_MASK_SCRATCH_WORDS * 4;
    // The counter and offset tables, bound whole: one row of counters per
    // digit and workgroup and a row of totals. Split key buffers are kept
    // within the device's range by the sorter itself.
    static constexpr uint32_t kStorageBufferRange = (kWorkgroupCount + 1) * SORT_RADIX * 4;
};

using FeatureChain =
    vk::StructureChain<vk::PhysicalDeviceFeatures2, vk::PhysicalDeviceVulkan11Features,
                       vk::PhysicalDeviceVulkan12Features, vk::PhysicalDeviceInlineUniformBlockFeaturesEXT,
                       vk::PhysicalDeviceShaderAtomicFloatFeaturesEXT>;

// One accepted physical device. The chains link their own structures; a copy
// or move re-links the copy's chains to the copy (vk::StructureChain does).
struct PhysicalDeviceInfo {
    vk::PhysicalDevice physicalDevice;
    std::string name;
    vk::PhysicalDeviceType deviceType = vk::PhysicalDeviceType::eOther;
    uint64_t totalMemory = 0;    // bytes over all heaps
    uint64_t maxAllocation = 0;  // bytes, at most 4 GiB
    uint32_t computeQueueFamily = 0;
    // Differs from computeQueueFamily, except on a device accepted through
    // allowCpuDevices whose one transfer-capable family is its compute family.
    uint32_t transferQueueFamily = 0;
    vk::DriverId driverID = {};
    vk::PhysicalDeviceLimits limits;
    vk::PhysicalDeviceMemoryProperties memoryProperties;
    std::vector<vk::QueueFamilyProperties> queueFamilies;
    uint32_t apiVersion = 0;
    uint32_t driverVersion = 0;
    PropertyChain properties;
    std::vector<vk::ExtensionProperties> extensions;
    FeatureChain supportedFeatures;
    std::vector<const char*> enabledExtensions;  // points into the two extension lists
    FeatureChain enabledFeatures;                // exactly the required features set
};

// One logical device with a command pool and a primary command buffer per
// queue family. Null handles in a default record.
struct DeviceInfo {
    vk::Device device;
    vk::CommandPool computeCommandPool;
    vk::CommandPool transferCommandPool;
    vk::CommandBuffer computeCommandBuffer;
    vk::CommandBuffer transferCommandBuffer;
};

}  // namespace QVEvalCore
