// Logical devices and their command resources, the third step that fills the
// dispatch table.
#include <array>
#include <string>

#include "gpu/QVEvalCore.h"

namespace QVEvalCore {

bool QVCore::CreateDevice(unsigned int index) {
    if (physicalDevices.empty()) {
        return Fail("Unable to create a logical device, no physical devices found.");
    }
    if (index >= physicalDevices.size()) {
        index = static_cast<unsigned int>(physicalDevices.size() - 1);
    }
    if (devices.size() <= index) {
        devices.resize(index + 1);
    }
    if (devices[index].device) {
        Report("Logical device " + std::to_string(index) + " has already been created.");
        return true;
    }

    PhysicalDeviceInfo& physical = physicalDevices[index];
    const float priority = 1.0f;
    const std::array<vk::DeviceQueueCreateInfo, 2> queues = {
        vk::DeviceQueueCreateInfo({}, physical.computeQueueFamily, 1, &priority),
        vk::DeviceQueueCreateInfo({}, physical.transferQueueFamily, 1, &priority),
    };
    // Only a device let in by allowCpuDevices shares one family for both; a
    // family may be named once per device.
    const uint32_t queueCount = physical.transferQueueFamily == physical.computeQueueFamily ? 1 : 2;
    vk::DeviceCreateInfo createInfo({}, queueCount, queues.data(), 0, nullptr,
                                    static_cast<uint32_t>(physical.enabledExtensions.size()),
                                    physical.enabledExtensions.data(), nullptr);
    // Features go through the chain, so exactly the required ones are enabled.
    createInfo.pNext = &physical.enabledFeatures.get<vk::PhysicalDeviceFeatures2>();

    devices[index].device = physical.physicalDevice.createDevice(createInfo);
    VULKAN_HPP_DEFAULT_DISPATCHER.init(devices[index].device);
    Report("Successfully created a logical device from: " + physical.name);
    return CreateCommandResources(index);
}

bool QVCore::CreateCommandResources(unsigned int index) {
    if (index >= devices.size()) {
        return Fail("Unable to allocate resources for logical device " + std::to_string(index));
    }
    DeviceInfo& record = devices[index];
    const PhysicalDeviceInfo& physical = physicalDevices[index];
    const vk::CommandPoolCreateFlags flags =
        vk::CommandPoolCreateFlagBits::eTransient | vk::CommandPoolCreateFlagBits::eResetCommandBuffer;

    record.computeCommandPool = record.device.createCommandPool({flags, physical.computeQueueFamily});
    record.computeCommandBuffer =
        record.device.allocateCommandBuffers({record.computeCommandPool, vk::CommandBufferLevel::ePrimary, 1})[0];
    record.transferCommandPool = record.device.createCommandPool({flags, physical.transferQueueFamily});
    record.transferCommandBuffer =
        record.device.allocateCommandBuffers({record.transferCommandPool, vk::CommandBufferLevel::ePrimary, 1})[0];

    Report("Successfully intialized command resources for logical device " + std::to_string(index));
    return true;
}

vk::CommandBuffer QVCore::RenewComputeCommandBuffer() {
    const vk::Device device = selectedDevice.device;
    const vk::CommandPool pool = selectedDevice.computeCommandPool;
    device.resetCommandPool(pool);
    // Resetting the pool keeps its buffers allocated; the replaced one is freed.
    const vk::CommandBuffer previous = selectedDevice.computeCommandBuffer;
    const vk::CommandBuffer commandBuffer =
        device.allocateCommandBuffers(vk::CommandBufferAllocateInfo(pool, vk::CommandBufferLevel::ePrimary, 1)).at(0);
    if (previous) {
        device.freeCommandBuffers(pool, previous);
    }
    selectedDevice.computeCommandBuffer = commandBuffer;
    if (!devices.empty() && devices[0].computeCommandPool == pool) {
        devices[0].computeCommandBuffer = commandBuffer;
    }
    return commandBuffer;
}

}  // namespace QVEvalCore
