#pragma once

// The pieces of the core's staged host <-> device copies (Transfers.cpp), for
// code that must move data exactly as the sorter does (DeviceLimits.cpp).
#include <limits>
#include <stdexcept>

#include "gpu/OwnedHandle.h"
#include "gpu/QVEvalCore.h"

namespace QVEvalCore {

// A host-visible, host-coherent buffer of one transfer, bound and optionally
// mapped; everything is released when it goes, on every exit of the transfer.
class StagingBuffer {
public:
    StagingBuffer(const QVCore& core, unsigned int index, unsigned long size, vk::BufferUsageFlags usage)
        : device(core.Devices().at(index).device) {
        const vk::DeviceSize bytes = RoundUp(size, core.PhysicalDevices().at(index).limits.nonCoherentAtomSize);
        buffer = Own(device, device.createBuffer(vk::BufferCreateInfo({}, bytes, usage, vk::SharingMode::eExclusive)));
        const uint32_t memoryType = core.SelectMemory(
            index, *buffer, vk::MemoryPropertyFlagBits::eHostVisible | vk::MemoryPropertyFlagBits::eHostCoherent);
        memory = Own(device, core.AllocMemory(index, *buffer, memoryType, {}));
        device.bindBufferMemory(*buffer, *memory, 0);
    }

    ~StagingBuffer() {
        if (mapped != nullptr) {
            device.unmapMemory(*memory);
        }
    }

    StagingBuffer(const StagingBuffer&) = delete;
    StagingBuffer& operator=(const StagingBuffer&) = delete;

    vk::Buffer Buffer() const { return *buffer; }

    // The whole allocation, mapped until the staging buffer goes.
    unsigned char* Map() {
        if (mapped == nullptr) {
            mapped = static_cast<unsigned char*>(device.mapMemory(*memory, 0, VK_WHOLE_SIZE));
        }
        return mapped;
    }

private:
    vk::Device device;
    // Members go in reverse order: the buffer before the memory bound to it.
    Owned<vk::DeviceMemory> memory;
    Owned<vk::Buffer> buffer;
    unsigned char* mapped = nullptr;
};

// Resets `pool`, records `record` into `commands` (one of the pool's), submits
// it alone on `queue` and waits for it. The fence is released on every exit.
template <typename Record>
void SubmitAndWait(vk::Device device, vk::CommandPool pool, vk::CommandBuffer commands, vk::Queue queue,
                   Record record) {
    device.resetCommandPool(pool, {});
    commands.begin(vk::CommandBufferBeginInfo(vk::CommandBufferUsageFlagBits::eOneTimeSubmit));
    record(commands);
    commands.end();

    const vk::UniqueFence fence = device.createFenceUnique({});
    queue.submit(vk::SubmitInfo(0, nullptr, nullptr, 1, &commands), *fence);
    const vk::Result waited = device.waitForFences(*fence, VK_TRUE, std::numeric_limits<uint64_t>::max());
    if (waited == vk::Result::eTimeout) {
        throw std::runtime_error("Waiting for a fence takes too long!");
    }
}

// SubmitAndWait on the device's transfer command buffer and queue 0 of the
// transfer family.
template <typename Record>
void SubmitTransfer(const QVCore& core, unsigned int index, Record record) {
    const QVCore::DeviceInfo& device = core.Devices().at(index);
    SubmitAndWait(device.device, device.transferCommandPool, device.transferCommandBuffer,
                  device.device.getQueue(core.PhysicalDevices().at(index).transferQueueFamily, 0), record);
}

// The copy of a read-back into its staging buffer, made visible to the host's
// reads: a fence wait covers device accesses only.
void RecordCopyToHost(vk::CommandBuffer commands, vk::Buffer source, unsigned long sourceOffset, vk::Buffer staging,
                      unsigned long size);

// Copies `size` bytes of mapped staging memory to `target` in the pieces of
// ReadBackBoundaries, one thread each, all joined before it returns.
void CopyOutInPieces(const unsigned char* mapped, void* target, unsigned long size);

}  // namespace QVEvalCore
