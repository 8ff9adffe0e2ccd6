// Memory types, allocations and buffer groups.
#include <algorithm>
#include <limits>
#include <stdexcept>
#include <string>

#include "gpu/OwnedHandle.h"
#include "gpu/QVEvalCore.h"

namespace QVEvalCore {

uint32_t QVCore::SelectMemory(unsigned int index, const vk::Buffer& buffer, vk::MemoryPropertyFlags required) const {
    const vk::PhysicalDeviceMemoryProperties properties =
        physicalDevices.at(index).physicalDevice.getMemoryProperties();
    const vk::MemoryRequirements requirements = devices.at(index).device.getBufferMemoryRequirements(buffer);
    for (uint32_t i = 0; i < properties.memoryTypeCount; ++i) {
        if ((requirements.memoryTypeBits & (1u << i)) &&
            (properties.memoryTypes[i].propertyFlags & required) == required) {
            return i;
        }
    }
    throw std::runtime_error("Failed to select memory with required properties");
}

vk::DeviceMemory QVCore::AllocMemory(unsigned int index, const vk::Buffer& buffer, unsigned int memoryType,
                                     vk::MemoryAllocateFlags flags) const {
    const vk::Device device = devices.at(index).device;
    const vk::MemoryRequirements requirements = device.getBufferMemoryRequirements(buffer);
    const vk::MemoryAllocateFlagsInfo flagsInfo(flags, 0);
    return device.allocateMemory(vk::MemoryAllocateInfo(requirements.size, memoryType, &flagsInfo));
}

void QVCore::CreateBufferGroup(unsigned int index, unsigned long count, unsigned int elementSize, BufferGroup& group,
                               vk::BufferUsageFlags usage, vk::MemoryPropertyFlags properties,
                               vk::MemoryAllocateFlags allocateFlags) const {
    const PhysicalDeviceInfo& physical = physicalDevices.at(index);
    const vk::Device device = devices.at(index).device;
    if (elementSize == 0 || elementSize > physical.maxAllocation) {
        // Zero elements per buffer would never place the array.
        throw std::invalid_argument("CreateBufferGroup: an element of " + std::to_string(elementSize) +
                                    " bytes does not fit an allocation of " + std::to_string(physical.maxAllocation) +
                                    " bytes");
    }
    group.elementSize = elementSize;
    // elementCounts holds 32-bit counts, which bounds a buffer as well.
    const uint64_t elementsPerBuffer =
        std::min<uint64_t>(physical.maxAllocation / elementSize, std::numeric_limits<uint32_t>::max());

    // Group buffers are filled and read on the transfer queue and used on the
    // compute queue. When those are different families, exclusive ownership would
    // leave the contents undefined after each hand-over without ownership
    // barriers, so the buffers are shared by both families instead.
    const uint32_t families[] = {physical.computeQueueFamily, physical.transferQueueFamily};
    const bool shared = families[0] != families[1];
    const vk::SharingMode sharing = shared ? vk::SharingMode::eConcurrent : vk::SharingMode::eExclusive;

    for (unsigned long placed = 0; placed < count;) {
        const auto elements = static_cast<uint32_t>(std::min<uint64_t>(elementsPerBuffer, count - placed));
        const vk::DeviceSize bytes =
            RoundUp(static_cast<uint64_t>(elements) * elementSize, physical.limits.nonCoherentAtomSize);

        // Owned until all steps succeeded, so a failing step leaks nothing and
        // the group's lists keep equal lengths.
        Owned<vk::Buffer> buffer =
            Own(device, device.createBuffer(vk::BufferCreateInfo({}, bytes, usage, sharing, shared ? 2u : 0u,
                                                                 shared ? families : nullptr)));
        const uint32_t memoryType = SelectMemory(index, *buffer, properties);
        Owned<vk::DeviceMemory> memory = Own(device, AllocMemory(index, *buffer, memoryType, allocateFlags));
        device.bindBufferMemory(*buffer, *memory, 0);

        group.buffers.reserve(group.buffers.size() + 1);
        group.memories.reserve(group.memories.size() + 1);
        group.memoryProperties.reserve(group.memoryProperties.size() + 1);
        group.elementCounts.reserve(group.elementCounts.size() + 1);
        group.buffers.push_back(buffer.release());
        group.memories.push_back(memory.release());
        group.memoryProperties.push_back(static_cast<uint32_t>(properties));
        group.elementCounts.push_back(elements);
        placed += elements;
    }
}

void BufferGroup::Clear(vk::Device device) {
    if (memories.empty()) {
        return;
    }
    for (vk::DeviceMemory memory : memories) {
        device.freeMemory(memory);
    }
    for (vk::Buffer buffer : buffers) {
        device.destroyBuffer(buffer);
    }
    buffers.clear();
    memories.clear();
    memoryProperties.clear();
    elementCounts.clear();
    elementSize = 0;
}

}  // namespace QVEvalCore
