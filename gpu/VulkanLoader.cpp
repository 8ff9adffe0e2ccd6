// The loader library and the instance: the first two of the three steps that
// fill the process-wide dispatch table.
#include <dlfcn.h>

#include <stdexcept>

#include "gpu/QVEvalCore.h"
#include "gpu/ReportText.h"

// The one definition of vk::defaultDispatchLoaderDynamic in the process.
VULKAN_HPP_DEFAULT_DISPATCH_LOADER_DYNAMIC_STORAGE

#ifdef NDEBUG
extern "C" const int sortbench_gpu_dispatch_table_built_with_NDEBUG = 1;
#else
extern "C" const int sortbench_gpu_dispatch_table_built_without_NDEBUG = 1;
#endif

namespace QVEvalCore {

bool QVCore::CheckVulkanLibrary() {
    void* probe = dlopen("libvulkan.so", RTLD_NOW);
    if (probe == nullptr) {
        probe = dlopen("libvulkan.so.1", RTLD_NOW);
    }
    if (probe == nullptr) {
        throw std::runtime_error("Failed to load vulkan library!");
    }
    auto entry = reinterpret_cast<PFN_vkGetInstanceProcAddr>(dlsym(probe, "vkGetInstanceProcAddr"));
    if (entry == nullptr) {
        // A library of that name that is no Vulkan loader is as good as none.
        dlclose(probe);
        throw std::runtime_error("Failed to load vulkan library!");
    }
    getInstanceProcAddr = entry;
    VULKAN_HPP_DEFAULT_DISPATCHER.init(entry);

    // The handle kept for the object's life; the probe handle only closes after
    // it, so the library stays loaded throughout.
    void* kept = dlopen("libvulkan.so.1", RTLD_LAZY);
    if (libraryHandle != nullptr) {
        dlclose(libraryHandle);
    }
    libraryHandle = kept;
    dlclose(probe);

    if (libraryHandle == nullptr) {
        return Fail("Could not load Vulkan library!");
    }
    Report("Loaded Vulkan Library");
    return true;
}

bool QVCore::CreateInstance() {
    if (getInstanceProcAddr == nullptr) {
        return false;
    }
    // vkEnumerateInstanceVersion came with Vulkan 1.1: a loader without it is 1.0.
    if (getInstanceProcAddr(nullptr, "vkEnumerateInstanceVersion") == nullptr) {
        return Fail("Vulkan implementation is version 1.0.  Version 1.1 or higher is required.");
    }

    const vk::ApplicationInfo application("Quarn", 0, "no_engine", 0, VK_MAKE_API_VERSION(0, 1, 2, 0));
    const vk::InstanceCreateInfo createInfo({}, &application);
    instance = vk::createInstance(createInfo);
    VULKAN_HPP_DEFAULT_DISPATCHER.init(instance);

    instanceVersion = vk::enumerateInstanceVersion();
    Report("Successfully Created Vulkan Instance (Version " + VersionText(instanceVersion) + ")");
    return true;
}

}  // namespace QVEvalCore
