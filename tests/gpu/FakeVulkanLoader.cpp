// A stand-in for the Vulkan loader, mounted over the real one in a child
// process. SORTBENCH_FAKE_VULKAN picks its behaviour:
//   "1.0"     a Vulkan 1.0 loader: no vkEnumerateInstanceVersion;
//   "fail"    vkCreateInstance fails with VK_ERROR_INCOMPATIBLE_DRIVER;
//   "device"  one integrated GPU that has every extension, feature and limit
//             the sorter asks for, except that SORTBENCH_FAKE_LIMIT, as
//             "NAME=VALUE", sets one limit; creating its logical device fails
//             with VK_ERROR_INITIALIZATION_FAILED;
//   other     an instance of version 1.3.250 without physical devices.
#include <cstdlib>
#include <cstring>
#include <string>

#include <vulkan/vulkan_core.h>

namespace {

int instanceObject;  // the fake instance's handle points here
int deviceObject;    // and the fake physical device's here

std::string Mode() {
    const char* mode = std::getenv("SORTBENCH_FAKE_VULKAN");
    return mode != nullptr ? mode : "";
}

VKAPI_ATTR VkResult VKAPI_CALL CreateInstance(const VkInstanceCreateInfo*, const VkAllocationCallbacks*,
                                              VkInstance* instance) {
    if (Mode() == "fail") {
        return VK_ERROR_INCOMPATIBLE_DRIVER;
    }
    *instance = reinterpret_cast<VkInstance>(&instanceObject);
    return VK_SUCCESS;
}

VKAPI_ATTR void VKAPI_CALL DestroyInstance(VkInstance, const VkAllocationCallbacks*) {}

VKAPI_ATTR VkResult VKAPI_CALL EnumerateInstanceVersion(uint32_t* version) {
    *version = VK_MAKE_API_VERSION(0, 1, 3, 250);
    return VK_SUCCESS;
}

VKAPI_ATTR VkResult VKAPI_CALL EnumeratePhysicalDevices(VkInstance, uint32_t* count, VkPhysicalDevice* devices) {
    const uint32_t available = Mode() == "device" ? 1 : 0;
    if (devices == nullptr) {
        *count = available;
        return VK_SUCCESS;
    }
    *count = *count < available ? *count : available;
    if (*count > 0) {
        devices[0] = reinterpret_cast<VkPhysicalDevice>(&deviceObject);
    }
    return *count < available ? VK_INCOMPLETE : VK_SUCCESS;
}

// Generous limits, then the one SORTBENCH_FAKE_LIMIT names.
void FillLimits(VkPhysicalDeviceLimits& limits, VkPhysicalDeviceInlineUniformBlockProperties* inlineBlocks) {
    limits.maxPerStageDescriptorStorageBuffers = 1u << 20;
    limits.maxDescriptorSetStorageBuffers = 1u << 20;
    limits.maxBoundDescriptorSets = 32;
    limits.maxPushConstantsSize = 256;
    limits.maxComputeSharedMemorySize = 65536;
    limits.maxComputeWorkGroupSize[0] = 1024;
    limits.maxComputeWorkGroupSize[1] = 1024;
    limits.maxComputeWorkGroupSize[2] = 64;
    limits.maxComputeWorkGroupInvocations = 1024;
    limits.maxComputeWorkGroupCount[0] = 65535;
    limits.maxComputeWorkGroupCount[1] = 65535;
    limits.maxComputeWorkGroupCount[2] = 65535;
    limits.maxStorageBufferRange = 0xFFFFFFFFu;
    limits.minStorageBufferOffsetAlignment = 64;
    limits.nonCoherentAtomSize = 64;
    limits.timestampPeriod = 1.0f;
    VkPhysicalDeviceInlineUniformBlockProperties unusedBlocks{};
    VkPhysicalDeviceInlineUniformBlockProperties& blocks = inlineBlocks != nullptr ? *inlineBlocks : unusedBlocks;
    blocks.maxInlineUniformBlockSize = 256;
    blocks.maxPerStageDescriptorInlineUniformBlocks = 4;
    blocks.maxDescriptorSetInlineUniformBlocks = 4;

    const char* setting = std::getenv("SORTBENCH_FAKE_LIMIT");
    const std::string text = setting != nullptr ? setting : "";
    const size_t equals = text.find('=');
    if (equals == std::string::npos) {
        return;
    }
    const std::string name = text.substr(0, equals);
    const auto value = static_cast<uint32_t>(std::strtoul(text.c_str() + equals + 1, nullptr, 10));
    const struct {
        const char* name;
        uint32_t* field;
    } fields[] = {
        {"maxPerStageDescriptorStorageBuffers", &limits.maxPerStageDescriptorStorageBuffers},
        {"maxDescriptorSetStorageBuffers", &limits.maxDescriptorSetStorageBuffers},
        {"maxBoundDescriptorSets", &limits.maxBoundDescriptorSets},
        {"maxInlineUniformBlockSize", &blocks.maxInlineUniformBlockSize},
        {"maxPerStageDescriptorInlineUniformBlocks", &blocks.maxPerStageDescriptorInlineUniformBlocks},
        {"maxDescriptorSetInlineUniformBlocks", &blocks.maxDescriptorSetInlineUniformBlocks},
        {"maxPushConstantsSize", &limits.maxPushConstantsSize},
        {"maxComputeSharedMemorySize", &limits.maxComputeSharedMemorySize},
        {"maxComputeWorkGroupSize[0]", &limits.maxComputeWorkGroupSize[0]},
        {"maxComputeWorkGroupInvocations", &limits.maxComputeWorkGroupInvocations},
        {"maxComputeWorkGroupCount[0]", &limits.maxComputeWorkGroupCount[0]},
        {"maxStorageBufferRange", &limits.maxStorageBufferRange},
    };
    for (const auto& field : fields) {
        if (name == field.name) {
            *field.field = value;
        }
    }
}

VKAPI_ATTR void VKAPI_CALL GetPhysicalDeviceProperties(VkPhysicalDevice, VkPhysicalDeviceProperties* properties) {
    *properties = {};
    properties->apiVersion = VK_MAKE_API_VERSION(0, 1, 3, 250);
    properties->driverVersion = 1;
    properties->deviceType = VK_PHYSICAL_DEVICE_TYPE_INTEGRATED_GPU;
    std::strcpy(properties->deviceName, "Fake GPU");
    FillLimits(properties->limits, nullptr);
}

VKAPI_ATTR void VKAPI_CALL GetPhysicalDeviceProperties2(VkPhysicalDevice device,
                                                        VkPhysicalDeviceProperties2* properties) {
    GetPhysicalDeviceProperties(device, &properties->properties);
    for (auto* next = static_cast<VkBaseOutStructure*>(properties->pNext); next != nullptr; next = next->pNext) {
        if (next->sType == VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_DRIVER_PROPERTIES) {
            reinterpret_cast<VkPhysicalDeviceDriverProperties*>(next)->driverID = VK_DRIVER_ID_MESA_RADV;
        } else if (next->sType == VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_MAINTENANCE_3_PROPERTIES) {
            reinterpret_cast<VkPhysicalDeviceMaintenance3Properties*>(next)->maxMemoryAllocationSize = 1ull << 32;
        } else if (next->sType == VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_INLINE_UNIFORM_BLOCK_PROPERTIES) {
            FillLimits(properties->properties.limits,
                       reinterpret_cast<VkPhysicalDeviceInlineUniformBlockProperties*>(next));
        }
    }
}

// Every feature: each structure of the chain is its header and VkBool32 members.
VKAPI_ATTR void VKAPI_CALL GetPhysicalDeviceFeatures2(VkPhysicalDevice, VkPhysicalDeviceFeatures2* features) {
    const auto setAll = [](void* structure, size_t size) {
        auto* flags = reinterpret_cast<VkBool32*>(static_cast<char*>(structure) + sizeof(VkBaseOutStructure));
        for (size_t i = 0; i < (size - sizeof(VkBaseOutStructure)) / sizeof(VkBool32); ++i) {
            flags[i] = VK_TRUE;
        }
    };
    setAll(features, sizeof(VkPhysicalDeviceFeatures2));
    for (auto* next = static_cast<VkBaseOutStructure*>(features->pNext); next != nullptr;) {
        VkBaseOutStructure* const following = next->pNext;
        switch (next->sType) {
        case VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_1_FEATURES:
            setAll(next, sizeof(VkPhysicalDeviceVulkan11Features));
            break;
        case VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_2_FEATURES:
            setAll(next, sizeof(VkPhysicalDeviceVulkan12Features));
            break;
        case VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_INLINE_UNIFORM_BLOCK_FEATURES:
            setAll(next, sizeof(VkPhysicalDeviceInlineUniformBlockFeatures));
            break;
        case VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_SHADER_ATOMIC_FLOAT_FEATURES_EXT:
            setAll(next, sizeof(VkPhysicalDeviceShaderAtomicFloatFeaturesEXT));
            break;
        default: break;
        }
        next->pNext = following;
        next = following;
    }
}

VKAPI_ATTR VkResult VKAPI_CALL EnumerateDeviceExtensionProperties(VkPhysicalDevice, const char*, uint32_t* count,
                                                                  VkExtensionProperties* extensions) {
    static const char* const names[] = {"VK_KHR_driver_properties", "VK_KHR_maintenance3",
                                        "VK_EXT_inline_uniform_block", "VK_EXT_shader_atomic_float"};
    constexpr uint32_t available = sizeof(names) / sizeof(names[0]);
    if (extensions == nullptr) {
        *count = available;
        return VK_SUCCESS;
    }
    *count = *count < available ? *count : available;
    for (uint32_t i = 0; i < *count; ++i) {
        extensions[i] = {};
        std::strcpy(extensions[i].extensionName, names[i]);
        extensions[i].specVersion = 1;
    }
    return *count < available ? VK_INCOMPLETE : VK_SUCCESS;
}

VKAPI_ATTR void VKAPI_CALL GetPhysicalDeviceMemoryProperties(VkPhysicalDevice,
                                                             VkPhysicalDeviceMemoryProperties* memory) {
    *memory = {};
    memory->memoryHeapCount = 1;
    memory->memoryHeaps[0] = {1ull << 32, VK_MEMORY_HEAP_DEVICE_LOCAL_BIT};
    memory->memoryTypeCount = 1;
    memory->memoryTypes[0] = {VK_MEMORY_PROPERTY_DEVICE_LOCAL_BIT, 0};
}

// A compute family and a separate transfer family.
VKAPI_ATTR void VKAPI_CALL GetPhysicalDeviceQueueFamilyProperties(VkPhysicalDevice, uint32_t* count,
                                                                  VkQueueFamilyProperties* families) {
    if (families == nullptr) {
        *count = 2;
        return;
    }
    *count = *count < 2 ? *count : 2;
    const VkQueueFlags flags[] = {VK_QUEUE_COMPUTE_BIT | VK_QUEUE_TRANSFER_BIT, VK_QUEUE_TRANSFER_BIT};
    for (uint32_t i = 0; i < *count; ++i) {
        families[i] = {};
        families[i].queueFlags = flags[i];
        families[i].queueCount = 1;
        families[i].timestampValidBits = 64;
    }
}

VKAPI_ATTR VkResult VKAPI_CALL CreateDevice(VkPhysicalDevice, const VkDeviceCreateInfo*, const VkAllocationCallbacks*,
                                            VkDevice*) {
    return VK_ERROR_INITIALIZATION_FAILED;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) VKAPI_ATTR PFN_vkVoidFunction VKAPI_CALL
vkGetInstanceProcAddr(VkInstance, const char* name) {
    const struct {
        const char* name;
        PFN_vkVoidFunction function;
    } entries[] = {
        {"vkGetInstanceProcAddr", reinterpret_cast<PFN_vkVoidFunction>(&vkGetInstanceProcAddr)},
        {"vkCreateInstance", reinterpret_cast<PFN_vkVoidFunction>(&CreateInstance)},
        {"vkDestroyInstance", reinterpret_cast<PFN_vkVoidFunction>(&DestroyInstance)},
        {"vkEnumeratePhysicalDevices", reinterpret_cast<PFN_vkVoidFunction>(&EnumeratePhysicalDevices)},
        {"vkGetPhysicalDeviceProperties", reinterpret_cast<PFN_vkVoidFunction>(&GetPhysicalDeviceProperties)},
        {"vkGetPhysicalDeviceProperties2", reinterpret_cast<PFN_vkVoidFunction>(&GetPhysicalDeviceProperties2)},
        {"vkGetPhysicalDeviceFeatures2", reinterpret_cast<PFN_vkVoidFunction>(&GetPhysicalDeviceFeatures2)},
        {"vkEnumerateDeviceExtensionProperties",
         reinterpret_cast<PFN_vkVoidFunction>(&EnumerateDeviceExtensionProperties)},
        {"vkGetPhysicalDeviceMemoryProperties",
         reinterpret_cast<PFN_vkVoidFunction>(&GetPhysicalDeviceMemoryProperties)},
        {"vkGetPhysicalDeviceQueueFamilyProperties",
         reinterpret_cast<PFN_vkVoidFunction>(&GetPhysicalDeviceQueueFamilyProperties)},
        {"vkCreateDevice", reinterpret_cast<PFN_vkVoidFunction>(&CreateDevice)},
    };
    if (std::strcmp(name, "vkEnumerateInstanceVersion") == 0) {
        return Mode() != "1.0" ? reinterpret_cast<PFN_vkVoidFunction>(&EnumerateInstanceVersion) : nullptr;
    }
    for (const auto& entry : entries) {
        if (std::strcmp(name, entry.name) == 0) {
            return entry.function;
        }
    }
    return nullptr;
}
