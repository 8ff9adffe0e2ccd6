// Discovery, checking and ranking of physical devices, with the device report.
#include "gpu/QVEvalCore.h"
#include "gpu/ReportText.h"

#include <algorithm>
#include <cstring>
#include <iostream>

namespace QVEvalCore {

const std::vector<const char*> extensions_GPUCOM = {"VK_EXT_inline_uniform_block", "VK_EXT_shader_atomic_float"};
const std::vector<const char*> extensions_GPUCOM_NV = {"VK_NV_shader_subgroup_partitioned",
                                                       "VK_NV_shader_sm_builtins"};

namespace {

// Per-allocation limit of the buffer groups, whatever the driver allows.
constexpr uint64_t MaxAllocationCap = 4'294'967'296;

using FeatureChain = QVCore::FeatureChain;

struct FeatureRequirement {
    const char* label;
    vk::Bool32& (*member)(FeatureChain& chain);
};

#define SORTBENCH_FEATURE(Structure, field, label)                                                  \
    FeatureRequirement                                                                              \
    {                                                                                               \
        label, [](FeatureChain& chain) -> vk::Bool32& { return chain.get<Structure>().field; }      \
    }

// Checked in this order; the first missing one is the one reported.
const FeatureRequirement RequiredFeatures[] = {
    SORTBENCH_FEATURE(vk::PhysicalDeviceVulkan12Features, descriptorBindingUpdateUnusedWhilePending,
                      "descriptorBindingUpdateUnusedWhilePending"),
    SORTBENCH_FEATURE(vk::PhysicalDeviceVulkan12Features, descriptorBindingVariableDescriptorCount,
                      "descriptorBindingVariableDescriptorCount"),
    SORTBENCH_FEATURE(vk::PhysicalDeviceVulkan12Features, descriptorBindingPartiallyBound,
                      "descriptorBindingPartiallyBound"),
    SORTBENCH_FEATURE(vk::PhysicalDeviceVulkan12Features, runtimeDescriptorArray, "runtimeDescriptorArray"),
    SORTBENCH_FEATURE(vk::PhysicalDeviceFeatures2, features.shaderInt16, "features.shaderInt16"),
    SORTBENCH_FEATURE(vk::PhysicalDeviceFeatures2, features.shaderInt64, "features.shaderInt64"),
    SORTBENCH_FEATURE(vk::PhysicalDeviceFeatures2, features.shaderFloat64, "features.shaderFloat64"),
    SORTBENCH_FEATURE(vk::PhysicalDeviceVulkan11Features, storageBuffer16BitAccess, "storageBuffer16BitAccess"),
    SORTBENCH_FEATURE(vk::PhysicalDeviceVulkan12Features, bufferDeviceAddress, "bufferDeviceAddress"),
    SORTBENCH_FEATURE(vk::PhysicalDeviceVulkan12Features, timelineSemaphore, "timelineSemaphore"),
    SORTBENCH_FEATURE(vk::PhysicalDeviceVulkan12Features, shaderInt8, "shaderInt8"),
    SORTBENCH_FEATURE(vk::PhysicalDeviceVulkan12Features, shaderBufferInt64Atomics, "shaderBufferInt64Atomics"),
    SORTBENCH_FEATURE(vk::PhysicalDeviceVulkan12Features, shaderSubgroupExtendedTypes,
                      "shaderSubgroupExtendedTypes"),
    SORTBENCH_FEATURE(vk::PhysicalDeviceVulkan12Features, shaderSharedInt64Atomics, "shaderSharedInt64Atomics"),
    SORTBENCH_FEATURE(vk::PhysicalDeviceVulkan12Features, storageBuffer8BitAccess, "storageBuffer8BitAccess"),
    SORTBENCH_FEATURE(vk::PhysicalDeviceInlineUniformBlockFeaturesEXT, inlineUniformBlock, "inlineUniformBlock"),
};

// Required in addition on the NVIDIA proprietary driver only.
const FeatureRequirement RequiredNvidiaFeatures[] = {
    SORTBENCH_FEATURE(vk::PhysicalDeviceShaderAtomicFloatFeaturesEXT, shaderBufferFloat32Atomics,
                      "shaderBufferFloat32Atomics"),
    SORTBENCH_FEATURE(vk::PhysicalDeviceShaderAtomicFloatFeaturesEXT, shaderBufferFloat32AtomicAdd,
                      "shaderBufferFloat32AtomicAdd"),
    SORTBENCH_FEATURE(vk::PhysicalDeviceShaderAtomicFloatFeaturesEXT, shaderBufferFloat64Atomics,
                      "shaderBufferFloat64Atomics"),
    SORTBENCH_FEATURE(vk::PhysicalDeviceShaderAtomicFloatFeaturesEXT, shaderBufferFloat64AtomicAdd,
                      "shaderBufferFloat64AtomicAdd"),
    SORTBENCH_FEATURE(vk::PhysicalDeviceShaderAtomicFloatFeaturesEXT, shaderSharedFloat32Atomics,
                      "shaderSharedFloat32Atomics"),
    SORTBENCH_FEATURE(vk::PhysicalDeviceShaderAtomicFloatFeaturesEXT, shaderSharedFloat32AtomicAdd,
                      "shaderSharedFloat32AtomicAdd"),
    SORTBENCH_FEATURE(vk::PhysicalDeviceShaderAtomicFloatFeaturesEXT, shaderSharedFloat64Atomics,
                      "shaderSharedFloat64Atomics"),
    SORTBENCH_FEATURE(vk::PhysicalDeviceShaderAtomicFloatFeaturesEXT, shaderSharedFloat64AtomicAdd,
                      "shaderSharedFloat64AtomicAdd"),
};

#undef SORTBENCH_FEATURE

// Enables every feature of `list` in info.enabledFeatures; nullptr when all are
// supported, else the label of the first one that is not.
template <size_t N>
const char* EnableFeatures(const FeatureRequirement (&list)[N], QVCore::PhysicalDeviceInfo& info)
{
    for (const FeatureRequirement& feature : list) {
        if (!feature.member(info.supportedFeatures)) {
            return feature.label;
        }
        feature.member(info.enabledFeatures) = VK_TRUE;
    }
    return nullptr;
}

// Appends the names of `required` to info.enabledExtensions; nullptr when the
// device has all of them, else the first missing name.
const char* EnableExtensions(const std::vector<const char*>& required, QVCore::PhysicalDeviceInfo& info)
{
    for (const char* extension : required) {
        if (!CheckExtensionAvailability(extension, info.extensions)) {
            return extension;
        }
        info.enabledExtensions.push_back(extension);
    }
    return nullptr;
}

bool SkipDevice(const std::string& name, const std::string& reason)
{
    std::cout << "Skipping physical device: " << name << reason << '\n';
    return false;
}

int RankOfType(vk::PhysicalDeviceType type)
{
    switch (type) {
    case vk::PhysicalDeviceType::eDiscreteGpu:
        return 2;
    case vk::PhysicalDeviceType::eIntegratedGpu:
        return 1;
    default:
        return 0;  // software devices, let in only by allowCpuDevices
    }
}

// Lowest family with at least one queue whose flags hold all of `wanted` and
// none of `unwanted`, passing over `excluded`.
bool FindQueueFamily(const std::vector<vk::QueueFamilyProperties>& families, vk::QueueFlags wanted,
                     vk::QueueFlags unwanted, int64_t excluded, uint32_t& family)
{
    for (uint32_t i = 0; i < families.size(); ++i) {
        if (i == excluded || families[i].queueCount == 0) {
            continue;
        }
        if ((families[i].queueFlags & wanted) == wanted && !(families[i].queueFlags & unwanted)) {
            family = i;
            return true;
        }
    }
    return false;
}

// Lowest family with a compute queue, preferring one without graphics.
bool FindComputeFamily(vk::PhysicalDevice physicalDevice, uint32_t& family)
{
    const auto families = physicalDevice.getQueueFamilyProperties();
    return FindQueueFamily(families, vk::QueueFlagBits::eCompute, vk::QueueFlagBits::eGraphics, -1, family) ||
           FindQueueFamily(families, vk::QueueFlagBits::eCompute, {}, -1, family);
}

// Lowest family other than computeFamily with a transfer queue, preferring one
// without graphics.
bool FindTransferFamily(vk::PhysicalDevice physicalDevice, uint32_t computeFamily, uint32_t& family)
{
    const auto families = physicalDevice.getQueueFamilyProperties();
    return FindQueueFamily(families, vk::QueueFlagBits::eTransfer, vk::QueueFlagBits::eGraphics, computeFamily,
                           family) ||
           FindQueueFamily(families, vk::QueueFlagBits::eTransfer, {}, computeFamily, family);
}

}  // namespace

bool IsVulkan12OrBetter(vk::PhysicalDeviceProperties2& properties)
{
    const uint32_t version = properties.properties.apiVersion;
    return (version >> 22) == 1 && (version & 0x3FE000) != 0;
}

bool CheckExtensionAvailability(const char* name, const std::vector<vk::ExtensionProperties>& extensions)
{
    return std::any_of(extensions.begin(), extensions.end(), [name](const vk::ExtensionProperties& extension) {
        return std::strcmp(extension.extensionName.data(), name) == 0;
    });
}

void QVCore::RankPhysicalDevices(std::vector<PhysicalDeviceInfo>& list)
{
    std::stable_sort(list.begin(), list.end(), [](const PhysicalDeviceInfo& a, const PhysicalDeviceInfo& b) {
        const int rankA = RankOfType(a.deviceType);
        const int rankB = RankOfType(b.deviceType);
        return rankA != rankB ? rankA > rankB : a.totalMemory > b.totalMemory;
    });
}

std::string QVCore::SortLimitShortfall(const PhysicalDeviceInfo& info)
{
    const vk::PhysicalDeviceLimits& limits = info.limits;
    const auto& inlineBlocks = info.properties.get<vk::PhysicalDeviceInlineUniformBlockPropertiesEXT>();
    struct Limit {
        const char* name;
        uint64_t value;
        uint64_t needed;
    };
    const Limit checks[] = {
        {"maxPerStageDescriptorStorageBuffers", limits.maxPerStageDescriptorStorageBuffers, SortNeeds::StorageBuffers},
        {"maxDescriptorSetStorageBuffers", limits.maxDescriptorSetStorageBuffers, SortNeeds::StorageBuffers},
        {"maxBoundDescriptorSets", limits.maxBoundDescriptorSets, SortNeeds::DescriptorSets},
        {"maxInlineUniformBlockSize", inlineBlocks.maxInlineUniformBlockSize, SortNeeds::InlineUniformBlockBytes},
        {"maxPerStageDescriptorInlineUniformBlocks", inlineBlocks.maxPerStageDescriptorInlineUniformBlocks,
         SortNeeds::InlineUniformBlocks},
        {"maxDescriptorSetInlineUniformBlocks", inlineBlocks.maxDescriptorSetInlineUniformBlocks,
         SortNeeds::InlineUniformBlocks},
        {"maxPushConstantsSize", limits.maxPushConstantsSize, SortNeeds::PushConstantBytes},
        {"maxComputeSharedMemorySize", limits.maxComputeSharedMemorySize, SortNeeds::SharedMemoryBytes},
        {"maxComputeWorkGroupSize[0]", limits.maxComputeWorkGroupSize[0], SortNeeds::WorkgroupSize},
        {"maxComputeWorkGroupInvocations", limits.maxComputeWorkGroupInvocations, SortNeeds::WorkgroupSize},
        {"maxComputeWorkGroupCount[0]", limits.maxComputeWorkGroupCount[0], SortNeeds::WorkgroupCount},
        {"maxStorageBufferRange", limits.maxStorageBufferRange, SortNeeds::StorageBufferRange},
    };
    for (const Limit& limit : checks) {
        if (limit.value < limit.needed) {
            return std::string(" - Limit ") + limit.name + " is " + std::to_string(limit.value) + ", needs at least " +
                   std::to_string(limit.needed);
        }
    }
    return {};
}

bool QVCore::AcceptPhysicalDevice(vk::PhysicalDevice handle, PhysicalDeviceInfo& info)
{
    const vk::PhysicalDeviceProperties basics = handle.getProperties();
    const std::string deviceName = basics.deviceName.data();
    std::cout << "Found physical device: " << deviceName << '\n';
    std::cout << "    deviceType: " << vk::to_string(basics.deviceType) << '\n';
    const bool gpu = basics.deviceType == vk::PhysicalDeviceType::eIntegratedGpu ||
                     basics.deviceType == vk::PhysicalDeviceType::eDiscreteGpu;
    const bool allowedSoftware = options.allowCpuDevices && basics.deviceType == vk::PhysicalDeviceType::eCpu;
    if (!gpu && !allowedSoftware) {
        return SkipDevice(deviceName, " - Not Discrete or Integrated");
    }

    info.physicalDevice = handle;
    info.name = deviceName;
    info.deviceType = basics.deviceType;
    info.extensions = handle.enumerateDeviceExtensionProperties();
    if (info.extensions.empty() || !CheckExtensionAvailability("VK_KHR_driver_properties", info.extensions) ||
        !CheckExtensionAvailability("VK_KHR_maintenance3", info.extensions)) {
        return SkipDevice(deviceName, " - Driver Does Not Support Required Extensions");
    }

    // Filled in place: the record's chain is already linked.
    handle.getProperties2(&info.properties.get<vk::PhysicalDeviceProperties2>());
    info.driverID = info.properties.get<vk::PhysicalDeviceDriverProperties>().driverID;
    // The driver identifier, not the PCI device ID.
    std::cout << "    deviceID: " << vk::to_string(info.driverID) << '\n';

    vk::PhysicalDeviceProperties2& properties = info.properties.get<vk::PhysicalDeviceProperties2>();
    info.limits = properties.properties.limits;
    info.apiVersion = properties.properties.apiVersion;
    info.driverVersion = properties.properties.driverVersion;
    if (!IsVulkan12OrBetter(properties)) {
        return SkipDevice(deviceName, " - Does not support Vulkan 1.2");
    }
    std::cout << "    api version: " << VersionText(info.apiVersion) << '\n';
    std::cout << "    driver version: " << info.driverVersion << '\n';

    const bool nvidiaProprietary = info.driverID == vk::DriverId::eNvidiaProprietary;
    if (const char* missing = EnableExtensions(extensions_GPUCOM, info)) {
        return SkipDevice(deviceName, std::string(" - Missing extension ") + missing);
    }
    if (nvidiaProprietary) {
        if (const char* missing = EnableExtensions(extensions_GPUCOM_NV, info)) {
            return SkipDevice(deviceName, std::string(" - Missing extension ") + missing);
        }
    }

    info.memoryProperties = handle.getMemoryProperties();
    uint64_t deviceLocal = 0;
    uint64_t other = 0;
    for (uint32_t i = 0; i < info.memoryProperties.memoryHeapCount; ++i) {
        const vk::MemoryHeap& heap = info.memoryProperties.memoryHeaps[i];
        // A multi-instance heap is replicated over a device group, not this device's own.
        const bool local = (heap.flags & vk::MemoryHeapFlagBits::eDeviceLocal) &&
                           !(heap.flags & vk::MemoryHeapFlagBits::eMultiInstance);
        (local ? deviceLocal : other) += heap.size;
    }
    info.totalMemory = deviceLocal + other;
    info.maxAllocation = std::min<uint64_t>(
        info.properties.get<vk::PhysicalDeviceMaintenance3Properties>().maxMemoryAllocationSize, MaxAllocationCap);
    std::cout << "    device local memory: " << LocaleNumberText(deviceLocal) << '\n';
    std::cout << "    other heap memory:   " << LocaleNumberText(other) << '\n';
    std::cout << "    max allocation:      " << LocaleNumberText(info.maxAllocation) << '\n';

    if (!FindComputeFamily(handle, info.computeQueueFamily)) {
        return SkipDevice(deviceName, " - Does Not Support Compute");
    }
    std::cout << "    compute queue:  " << info.computeQueueFamily << '\n';
    if (!FindTransferFamily(handle, info.computeQueueFamily, info.transferQueueFamily)) {
        // Every compute family can transfer, so the compute family always serves.
        if (!options.allowCpuDevices) {
            return SkipDevice(deviceName, " - Does Not Support Transfer");
        }
        info.transferQueueFamily = info.computeQueueFamily;
    }
    std::cout << "    transfer queue: " << info.transferQueueFamily << '\n';

    handle.getFeatures2(&info.supportedFeatures.get<vk::PhysicalDeviceFeatures2>());
    if (const char* missing = EnableFeatures(RequiredFeatures, info)) {
        return SkipDevice(deviceName, std::string(" - Missing feature: ") + missing);
    }
    if (nvidiaProprietary) {
        if (const char* missing = EnableFeatures(RequiredNvidiaFeatures, info)) {
            return SkipDevice(deviceName, std::string(" - Missing feature: ") + missing);
        }
    }
    if (const std::string shortfall = SortLimitShortfall(info); !shortfall.empty()) {
        return SkipDevice(deviceName, shortfall);
    }
    return true;
}

bool QVCore::GetPhysicalDevices()
{
    const std::vector<vk::PhysicalDevice> handles = instance.enumeratePhysicalDevices();
    if (handles.empty()) {
        return Fail("Could not find any physical devices!");
    }
    for (vk::PhysicalDevice handle : handles) {
        PhysicalDeviceInfo info;
        if (AcceptPhysicalDevice(handle, info)) {
            physicalDevices.push_back(info);
        }
    }
    if (physicalDevices.empty()) {
        return Fail("Could not find any physical devices available for compute!");
    }
    RankPhysicalDevices(physicalDevices);
    std::cout << "Sorted physical devices:\n";
    for (size_t k = 0; k < physicalDevices.size(); ++k) {
        std::cout << "  [" << k << "] " << physicalDevices[k].name << '\n';
    }
    return true;
}

}  // namespace QVEvalCore
