// Discovery, checking and ranking of physical devices, with the device report.
#include <algorithm>
#include <cstring>

#include "gpu/DeviceExamination.h"
#include "gpu/QVEvalCore.h"

namespace QVEvalCore {

namespace {

int RankOfType(vk::PhysicalDeviceType type) {
    switch (type) {
    case vk::PhysicalDeviceType::eDiscreteGpu: return 2;
    case vk::PhysicalDeviceType::eIntegratedGpu: return 1;
    default: return 0;  // software devices, let in only by allowCpuDevices
    }
}

}  // namespace

bool IsVulkan12OrBetter(vk::PhysicalDeviceProperties2& properties) {
    const uint32_t version = properties.properties.apiVersion;
    return (version >> 22) == 1 && (version & 0x3FE000) != 0;
}

bool CheckExtensionAvailability(const char* name, const std::vector<vk::ExtensionProperties>& extensions) {
    return std::any_of(extensions.begin(), extensions.end(), [name](const vk::ExtensionProperties& extension) {
        return std::strcmp(extension.extensionName.data(), name) == 0;
    });
}

void QVCore::RankPhysicalDevices(std::vector<PhysicalDeviceInfo>& list) {
    std::stable_sort(list.begin(), list.end(), [](const PhysicalDeviceInfo& a, const PhysicalDeviceInfo& b) {
        const int rankA = RankOfType(a.deviceType);
        const int rankB = RankOfType(b.deviceType);
        return rankA != rankB ? rankA > rankB : a.totalMemory > b.totalMemory;
    });
}

std::string QVCore::SortLimitShortfall(const PhysicalDeviceInfo& info) {
    const vk::PhysicalDeviceLimits& limits = info.limits;
    const auto& inlineBlocks = info.properties.get<vk::PhysicalDeviceInlineUniformBlockPropertiesEXT>();
    struct Limit {
        const char* name;
        uint64_t value;
        uint64_t needed;
    };
    const Limit checks[] = {
        {"maxPerStageDescriptorStorageBuffers", limits.maxPerStageDescriptorStorageBuffers, SortNeeds::kStorageBuffers},
        {"maxDescriptorSetStorageBuffers", limits.maxDescriptorSetStorageBuffers, SortNeeds::kStorageBuffers},
        {"maxBoundDescriptorSets", limits.maxBoundDescriptorSets, SortNeeds::kDescriptorSets},
        {"maxInlineUniformBlockSize", inlineBlocks.maxInlineUniformBlockSize, SortNeeds::kInlineUniformBlockBytes},
        {"maxPerStageDescriptorInlineUniformBlocks", inlineBlocks.maxPerStageDescriptorInlineUniformBlocks,
         SortNeeds::kInlineUniformBlocks},
        {"maxDescriptorSetInlineUniformBlocks", inlineBlocks.maxDescriptorSetInlineUniformBlocks,
         SortNeeds::kInlineUniformBlocks},
        {"maxPushConstantsSize", limits.maxPushConstantsSize, SortNeeds::kPushConstantBytes},
        {"maxComputeSharedMemorySize", limits.maxComputeSharedMemorySize, SortNeeds::kSharedMemoryBytes},
        {"maxComputeWorkGroupSize[0]", limits.maxComputeWorkGroupSize[0], SortNeeds::kWorkgroupSize},
        {"maxComputeWorkGroupInvocations", limits.maxComputeWorkGroupInvocations, SortNeeds::kWorkgroupSize},
        {"maxComputeWorkGroupCount[0]", limits.maxComputeWorkGroupCount[0], SortNeeds::kWorkgroupCount},
        {"maxStorageBufferRange", limits.maxStorageBufferRange, SortNeeds::kStorageBufferRange},
    };
    for (const Limit& limit : checks) {
        if (limit.value < limit.needed) {
            return std::string(" - Limit ") + limit.name + " is " + std::to_string(limit.value) + ", needs at least " +
                   std::to_string(limit.needed);
        }
    }
    return {};
}

bool QVCore::AcceptPhysicalDevice(vk::PhysicalDevice handle, PhysicalDeviceInfo& info) const {
    for (const ExaminationStage& stage : ExaminationStages()) {
        if (stage.query != nullptr) {
            stage.query(handle, info);
        }
        if (stage.report != nullptr) {
            for (const std::string& line : stage.report(info)) {
                Report(line);
            }
        }
        const std::string miss = stage.check != nullptr ? stage.check(info, options) : std::string();
        if (!miss.empty()) {
            Report("Skipping physical device: " + info.name + miss);
            return false;
        }
    }
    return true;
}

bool QVCore::GetPhysicalDevices() {
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
    Report("Sorted physical devices:");
    for (size_t k = 0; k < physicalDevices.size(); ++k) {
        Report("  [" + std::to_string(k) + "] " + physicalDevices[k].name);
    }
    return true;
}

}  // namespace QVEvalCore
