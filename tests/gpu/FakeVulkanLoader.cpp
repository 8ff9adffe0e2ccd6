// A stand-in for the Vulkan loader, mounted over the real one in a child
// process. SORTBENCH_FAKE_VULKAN picks its behaviour:
//   "1.0"   a Vulkan 1.0 loader: no vkEnumerateInstanceVersion;
//   "fail"  vkCreateInstance fails with VK_ERROR_INCOMPATIBLE_DRIVER;
//   other   an instance of version 1.3.250 without physical devices.
#include <vulkan/vulkan_core.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int instanceObject;  // the fake instance's handle points here

std::string Mode()
{
    const char* mode = std::getenv("SORTBENCH_FAKE_VULKAN");
    return mode != nullptr ? mode : "";
}

VKAPI_ATTR VkResult VKAPI_CALL CreateInstance(const VkInstanceCreateInfo*, const VkAllocationCallbacks*,
                                              VkInstance* instance)
{
    if (Mode() == "fail") {
        return VK_ERROR_INCOMPATIBLE_DRIVER;
    }
    *instance = reinterpret_cast<VkInstance>(&instanceObject);
    return VK_SUCCESS;
}

VKAPI_ATTR void VKAPI_CALL DestroyInstance(VkInstance, const VkAllocationCallbacks*) {}

VKAPI_ATTR VkResult VKAPI_CALL EnumerateInstanceVersion(uint32_t* version)
{
    *version = VK_MAKE_API_VERSION(0, 1, 3, 250);
    return VK_SUCCESS;
}

VKAPI_ATTR VkResult VKAPI_CALL EnumeratePhysicalDevices(VkInstance, uint32_t* count, VkPhysicalDevice*)
{
    *count = 0;
    return VK_SUCCESS;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) VKAPI_ATTR PFN_vkVoidFunction VKAPI_CALL
vkGetInstanceProcAddr(VkInstance, const char* name)
{
    if (std::strcmp(name, "vkGetInstanceProcAddr") == 0) {
        return reinterpret_cast<PFN_vkVoidFunction>(&vkGetInstanceProcAddr);
    }
    if (std::strcmp(name, "vkCreateInstance") == 0) {
        return reinterpret_cast<PFN_vkVoidFunction>(&CreateInstance);
    }
    if (std::strcmp(name, "vkDestroyInstance") == 0) {
        return reinterpret_cast<PFN_vkVoidFunction>(&DestroyInstance);
    }
    if (std::strcmp(name, "vkEnumerateInstanceVersion") == 0 && Mode() != "1.0") {
        return reinterpret_cast<PFN_vkVoidFunction>(&EnumerateInstanceVersion);
    }
    if (std::strcmp(name, "vkEnumeratePhysicalDevices") == 0) {
        return reinterpret_cast<PFN_vkVoidFunction>(&EnumeratePhysicalDevices);
    }
    return nullptr;
}
