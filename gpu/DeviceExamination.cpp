// The stages of examining one physical device for the start-up report.
#include "gpu/DeviceExamination.h"

#include <algorithm>

#include "gpu/ReportText.h"
#include "strings/GroupedNumber.h"

namespace QVEvalCore {

const std::vector<const char*> kDeviceExtensions = {"VK_EXT_inline_uniform_block", "VK_EXT_shader_atomic_float"};
const std::vector<const char*> kNvidiaDeviceExtensions = {"VK_NV_shader_subgroup_partitioned",
                                                          "VK_NV_shader_sm_builtins"};

namespace {

using Info = QVCore::PhysicalDeviceInfo;

// Per-allocation limit of the buffer groups, whatever the driver allows.
constexpr uint64_t kMaxAllocationCap = 4'294'967'296;

using FeatureChain = QVCore::FeatureChain;

struct FeatureRequirement {
    const char* label;
    vk::Bool32& (*member)(FeatureChain& chain);
};

#define SORTBENCH_FEATURE(Structure, field, label)                                             \
    FeatureRequirement {                                                                       \
        label, [](FeatureChain& chain) -> vk::Bool32& { return chain.get<Structure>().field; } \
    }

// Checked in this order; the first missing one is the one reported.
const FeatureRequirement kRequiredFeatures[] = {
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
    SORTBENCH_FEATURE(vk::PhysicalDeviceVulkan12Features, shaderSubgroupExtendedTypes, "shaderSubgroupExtendedTypes"),
    SORTBENCH_FEATURE(vk::PhysicalDeviceVulkan12Features, shaderSharedInt64Atomics, "shaderSharedInt64Atomics"),
    SORTBENCH_FEATURE(vk::PhysicalDeviceVulkan12Features, storageBuffer8BitAccess, "storageBuffer8BitAccess"),
    SORTBENCH_FEATURE(vk::PhysicalDeviceInlineUniformBlockFeaturesEXT, inlineUniformBlock, "inlineUniformBlock"),
};

// Required in addition on the NVIDIA proprietary driver only.
const FeatureRequirement kRequiredNvidiaFeatures[] = {
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
const char* EnableFeatures(const FeatureRequirement (&list)[N], QVCore::PhysicalDeviceInfo& info) {
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
const char* EnableExtensions(const std::vector<const char*>& required, QVCore::PhysicalDeviceInfo& info) {
    for (const char* extension : required) {
        if (!CheckExtensionAvailability(extension, info.extensions)) {
            return extension;
        }
        info.enabledExtensions.push_back(extension);
    }
    return nullptr;
}

// Lowest family with at least one queue whose flags hold all of `wanted` and
// none of `unwanted`, passing over `excluded`.
bool FindQueueFamily(const std::vector<vk::QueueFamilyProperties>& families, vk::QueueFlags wanted,
                     vk::QueueFlags unwanted, int64_t excluded, uint32_t& family) {
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

// Heap bytes of the device's own (device-local) memory and of the rest.
struct HeapTotals {
    uint64_t deviceLocal = 0;
    uint64_t other = 0;
};

HeapTotals SumHeaps(const vk::PhysicalDeviceMemoryProperties& memory) {
    HeapTotals totals;
    for (uint32_t i = 0; i < memory.memoryHeapCount; ++i) {
        const vk::MemoryHeap& heap = memory.memoryHeaps[i];
        // A multi-instance heap is replicated over a device group, not this device's own.
        const bool local = (heap.flags & vk::MemoryHeapFlagBits::eDeviceLocal) &&
                           !(heap.flags & vk::MemoryHeapFlagBits::eMultiInstance);
        (local ? totals.deviceLocal : totals.other) += heap.size;
    }
    return totals;
}

// --- Queries: facts of the device into its record ---------------------------

void QueryIdentity(vk::PhysicalDevice handle, Info& info) {
    const vk::PhysicalDeviceProperties basics = handle.getProperties();
    info.physicalDevice = handle;
    info.name = basics.deviceName.data();
    info.deviceType = basics.deviceType;
}

void QueryExtensions(vk::PhysicalDevice handle, Info& info) {
    info.extensions = handle.enumerateDeviceExtensionProperties();
}

// Needs VK_KHR_driver_properties and VK_KHR_maintenance3, whose structures the
// property chain holds.
void QueryProperties(vk::PhysicalDevice handle, Info& info) {
    // Filled in place: the record's chain is already linked.
    handle.getProperties2(&info.properties.get<vk::PhysicalDeviceProperties2>());
    info.driverID = info.properties.get<vk::PhysicalDeviceDriverProperties>().driverID;
    const vk::PhysicalDeviceProperties& properties = info.properties.get<vk::PhysicalDeviceProperties2>().properties;
    info.limits = properties.limits;
    info.apiVersion = properties.apiVersion;
    info.driverVersion = properties.driverVersion;
}

void QueryMemory(vk::PhysicalDevice handle, Info& info) {
    info.memoryProperties = handle.getMemoryProperties();
    const HeapTotals heaps = SumHeaps(info.memoryProperties);
    info.totalMemory = heaps.deviceLocal + heaps.other;
    info.maxAllocation = std::min<uint64_t>(
        info.properties.get<vk::PhysicalDeviceMaintenance3Properties>().maxMemoryAllocationSize, kMaxAllocationCap);
}

void QueryQueueFamilies(vk::PhysicalDevice handle, Info& info) {
    info.queueFamilies = handle.getQueueFamilyProperties();
}

// Needs Vulkan 1.2 and the required extensions, whose structures the feature
// chain holds.
void QueryFeatures(vk::PhysicalDevice handle, Info& info) {
    handle.getFeatures2(&info.supportedFeatures.get<vk::PhysicalDeviceFeatures2>());
}

// --- Report lines -------------------------------------------------------------

std::vector<std::string> IdentityLines(const Info& info) {
    return {"Found physical device: " + info.name, "    deviceType: " + vk::to_string(info.deviceType)};
}

std::vector<std::string> DriverLines(const Info& info) {
    // The driver identifier, not the PCI device ID.
    return {"    deviceID: " + vk::to_string(info.driverID)};
}

std::vector<std::string> VersionLines(const Info& info) {
    return {"    api version: " + VersionText(info.apiVersion),
            "    driver version: " + std::to_string(info.driverVersion)};
}

std::vector<std::string> MemoryLines(const Info& info) {
    const HeapTotals heaps = SumHeaps(info.memoryProperties);
    return {"    device local memory: " + SLib::GroupedNumber(heaps.deviceLocal),
            "    other heap memory:   " + SLib::GroupedNumber(heaps.other),
            "    max allocation:      " + SLib::GroupedNumber(info.maxAllocation)};
}

std::vector<std::string> ComputeQueueLines(const Info& info) {
    return {"    compute queue:  " + std::to_string(info.computeQueueFamily)};
}

std::vector<std::string> TransferQueueLines(const Info& info) {
    return {"    transfer queue: " + std::to_string(info.transferQueueFamily)};
}

// --- Checks of the sort's needs ----------------------------------------------

std::string TypeMiss(Info& info, const CoreOptions& options) {
    const bool gpu = info.deviceType == vk::PhysicalDeviceType::eIntegratedGpu ||
                     info.deviceType == vk::PhysicalDeviceType::eDiscreteGpu;
    const bool allowedSoftware = options.allowCpuDevices && info.deviceType == vk::PhysicalDeviceType::eCpu;
    return gpu || allowedSoftware ? "" : " - Not Discrete or Integrated";
}

std::string DriverExtensionMiss(Info& info, const CoreOptions&) {
    const bool present = !info.extensions.empty() &&
                         CheckExtensionAvailability("VK_KHR_driver_properties", info.extensions) &&
                         CheckExtensionAvailability("VK_KHR_maintenance3", info.extensions);
    return present ? "" : " - Driver Does Not Support Required Extensions";
}

std::string VersionMiss(Info& info, const CoreOptions&) {
    return IsVulkan12OrBetter(info.properties.get<vk::PhysicalDeviceProperties2>()) ? ""
                                                                                    : " - Does not support Vulkan 1.2";
}

// Enables the required extensions (and the NVIDIA driver's own).
std::string ExtensionMiss(Info& info, const CoreOptions&) {
    const char* missing = EnableExtensions(kDeviceExtensions, info);
    if (missing == nullptr && info.driverID == vk::DriverId::eNvidiaProprietary) {
        missing = EnableExtensions(kNvidiaDeviceExtensions, info);
    }
    return missing == nullptr ? "" : std::string(" - Missing extension ") + missing;
}

std::string ComputeQueueMiss(Info& info, const CoreOptions&) {
    const bool found =
        FindQueueFamily(info.queueFamilies, vk::QueueFlagBits::eCompute, vk::QueueFlagBits::eGraphics, -1,
                        info.computeQueueFamily) ||
        FindQueueFamily(info.queueFamilies, vk::QueueFlagBits::eCompute, {}, -1, info.computeQueueFamily);
    return found ? "" : " - Does Not Support Compute";
}

// A transfer family other than the compute family, preferring one without
// graphics; with allowCpuDevices the compute family itself, which can always
// transfer, when there is no other.
std::string TransferQueueMiss(Info& info, const CoreOptions& options) {
    const uint32_t compute = info.computeQueueFamily;
    const bool found =
        FindQueueFamily(info.queueFamilies, vk::QueueFlagBits::eTransfer, vk::QueueFlagBits::eGraphics, compute,
                        info.transferQueueFamily) ||
        FindQueueFamily(info.queueFamilies, vk::QueueFlagBits::eTransfer, {}, compute, info.transferQueueFamily);
    if (found) {
        return "";
    }
    if (!options.allowCpuDevices) {
        return " - Does Not Support Transfer";
    }
    info.transferQueueFamily = compute;
    return "";
}

// Enables the required features (and the NVIDIA driver's own), then checks the
// limits.
std::string FeatureMiss(Info& info, const CoreOptions&) {
    const char* missing = EnableFeatures(kRequiredFeatures, info);
    if (missing == nullptr && info.driverID == vk::DriverId::eNvidiaProprietary) {
        missing = EnableFeatures(kRequiredNvidiaFeatures, info);
    }
    if (missing != nullptr) {
        return std::string(" - Missing feature: ") + missing;
    }
    return QVCore::SortLimitShortfall(info);
}

// Each stage's report holds what the checks before it established, which is
// why a queue family is reported by the stage after its check.
const ExaminationStage kStages[] = {
    {QueryIdentity, IdentityLines, TypeMiss},
    {QueryExtensions, nullptr, DriverExtensionMiss},
    {QueryProperties, DriverLines, VersionMiss},
    {nullptr, VersionLines, ExtensionMiss},
    {QueryMemory, MemoryLines, nullptr},
    {QueryQueueFamilies, nullptr, ComputeQueueMiss},
    {nullptr, ComputeQueueLines, TransferQueueMiss},
    {QueryFeatures, TransferQueueLines, FeatureMiss},
};

}  // namespace

std::span<const ExaminationStage> ExaminationStages() { return kStages; }

}  // namespace QVEvalCore
