#include "gpu/QVEvalCore.h"

#include <dlfcn.h>

#include <algorithm>

namespace QVEvalCore {

QVCore::QVCore(const std::string& name, const Options& options) : options(options), name(name) {
    try {
        BaseInit();
    } catch (...) {
        // A constructor that throws gets no destructor call: release here what
        // BaseInit created so far, so callers can catch and run without a GPU.
        Release();
        throw;
    }
}

QVCore::~QVCore() { Release(); }

void QVCore::Report(const std::string& line) const {
    if (options.report) options.report(line);
}

bool QVCore::BaseInit() {
    Report(">>> Initializing: " + name);
    if (!CheckVulkanLibrary() || !CreateInstance() || !GetPhysicalDevices() || !CreateDevice(0)) {
        return false;
    }
    selectedPhysicalDevice = physicalDevices[0];
    selectedDevice = devices[0];
    vulkanReady = true;
    Report("Successfully initialized Vulkan");
    return true;
}

bool QVCore::Init() {
    pipelinesReady = false;
    if (!vulkanReady) {
        return false;
    }
    if (!CreateDescriptorSets() || !CreatePipelineLayout() || !CreatePipelines()) {
        return false;
    }
    pipelinesReady = true;
    Report("Successfully initialized Pipelines");
    return true;
}

bool QVCore::Fail(const std::string& line) {
    failure += line;
    failure += '\n';
    return false;
}

bool QVCore::CreateDescriptorSets() { return true; }

bool QVCore::CreatePipelineLayout() { return true; }

bool QVCore::CreatePipelines() { return true; }

void QVCore::LimitAllocation(uint64_t bytes) {
    if (!vulkanReady) {
        return;
    }
    selectedPhysicalDevice.maxAllocation = std::min(selectedPhysicalDevice.maxAllocation, bytes);
    physicalDevices.at(0).maxAllocation = selectedPhysicalDevice.maxAllocation;
}

void QVCore::AdoptPipelineLayout(vk::PipelineLayout layout) {
    if (pipelineLayout) {
        selectedDevice.device.destroyPipelineLayout(pipelineLayout);
    }
    pipelineLayout = layout;
}

void QVCore::AdoptShaderModule(vk::ShaderModule module) { shaderModules.push_back(module); }

void QVCore::AdoptPipeline(vk::Pipeline pipeline) { pipelines.push_back(pipeline); }

void QVCore::DestroyPipelines() {
    for (vk::Pipeline pipeline : pipelines) {
        selectedDevice.device.destroyPipeline(pipeline);
    }
    pipelines.clear();
}

void QVCore::Release() noexcept {
    WaitForDevices();
    ReleaseClientObjects();
    ReleaseDevices();
    ReleaseLoader();
    vulkanReady = false;
    pipelinesReady = false;
}

void QVCore::WaitForDevices() noexcept {
    // Destroying objects a queue still uses is undefined; after an exception
    // between a submission and its wait that can happen, so drain the queues.
    for (DeviceInfo& record : devices) {
        if (record.device) {
            try {
                record.device.waitIdle();
            } catch (const vk::SystemError&) {
                // A lost device has nothing left to wait for.
            }
        }
    }
}

void QVCore::ReleaseClientObjects() noexcept {
    vk::Device device = selectedDevice.device;
    if (!device && !devices.empty()) {
        device = devices.front().device;
    }
    if (device) {
        for (vk::ShaderModule module : shaderModules) {
            if (module) {
                device.destroyShaderModule(module);
            }
        }
        for (vk::Pipeline pipeline : pipelines) {
            if (pipeline) {
                device.destroyPipeline(pipeline);
            }
        }
        if (pipelineLayout) {
            device.destroyPipelineLayout(pipelineLayout);
        }
        descriptorSets.Destroy(device);
    }
    shaderModules.clear();
    pipelines.clear();
    pipelineLayout = nullptr;
}

void QVCore::ReleaseDevices() noexcept {
    for (DeviceInfo& record : devices) {
        if (record.device) {
            if (record.computeCommandPool) {
                record.device.destroyCommandPool(record.computeCommandPool);
            }
            if (record.transferCommandPool) {
                record.device.destroyCommandPool(record.transferCommandPool);
            }
            record.device.destroy();
        }
        record = DeviceInfo{};
    }
    devices.clear();
    selectedDevice = DeviceInfo{};
    physicalDevices.clear();
}

void QVCore::ReleaseLoader() noexcept {
    if (instance) {
        instance.destroy();
        instance = nullptr;
    }
    if (libraryHandle) {
        dlclose(libraryHandle);
        libraryHandle = nullptr;
    }
    getInstanceProcAddr = nullptr;
    // The table now points into an unloaded library; an empty table makes a
    // stray call fail at once instead of jumping into freed code.
    VULKAN_HPP_DEFAULT_DISPATCHER = vk::DispatchLoaderDynamic();
}

}  // namespace QVEvalCore
