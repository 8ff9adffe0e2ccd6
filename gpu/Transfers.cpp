// Staged host <-> device copies on the transfer queue.
#include "gpu/OwnedHandle.h"
#include "gpu/QVEvalCore.h"
#include "support/Tools.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <thread>

namespace QVEvalCore {

std::vector<unsigned long> ReadBackBoundaries(unsigned long size)
{
    return AppCore::Tools::SplitRange(0, size, std::numeric_limits<unsigned int>::max() - 1, ReadBackPieceBytes);
}

namespace {

// A host-visible, host-coherent buffer of one transfer, bound and optionally
// mapped; everything is released when it goes, on every exit of the transfer.
class StagingBuffer {
public:
    StagingBuffer(const QVCore& core, unsigned int index, unsigned long size, vk::BufferUsageFlags usage)
        : device(core.Devices().at(index).device)
    {
        const vk::DeviceSize bytes = RoundUp(size, core.PhysicalDevices().at(index).limits.nonCoherentAtomSize);
        buffer = Own(device, device.createBuffer(vk::BufferCreateInfo({}, bytes, usage, vk::SharingMode::eExclusive)));
        const uint32_t memoryType = core.SelectMemory(
            index, *buffer, vk::MemoryPropertyFlagBits::eHostVisible | vk::MemoryPropertyFlagBits::eHostCoherent);
        memory = Own(device, core.AllocMemory(index, *buffer, memoryType, {}));
        device.bindBufferMemory(*buffer, *memory, 0);
    }

    ~StagingBuffer()
    {
        if (mapped != nullptr) {
            device.unmapMemory(*memory);
        }
    }

    StagingBuffer(const StagingBuffer&) = delete;
    StagingBuffer& operator=(const StagingBuffer&) = delete;

    vk::Buffer Buffer() const { return *buffer; }

    // The whole allocation, mapped until the staging buffer goes.
    unsigned char* Map()
    {
        mapped = static_cast<unsigned char*>(device.mapMemory(*memory, 0, VK_WHOLE_SIZE));
        return mapped;
    }

private:
    vk::Device device;
    // Members go in reverse order: the buffer before the memory bound to it.
    Owned<vk::DeviceMemory> memory;
    Owned<vk::Buffer> buffer;
    unsigned char* mapped = nullptr;
};

// Records `record` into the device's transfer command buffer, submits it alone
// on queue 0 of the transfer family and waits for it. The fence is released on
// every exit.
template <typename Record>
void SubmitTransfer(const QVCore& core, unsigned int index, Record record)
{
    const QVCore::DeviceInfo& device = core.Devices().at(index);
    device.device.resetCommandPool(device.transferCommandPool, {});
    device.transferCommandBuffer.begin(vk::CommandBufferBeginInfo(vk::CommandBufferUsageFlagBits::eOneTimeSubmit));
    record(device.transferCommandBuffer);
    device.transferCommandBuffer.end();

    const vk::UniqueFence fence = device.device.createFenceUnique({});
    const vk::Queue queue = device.device.getQueue(core.PhysicalDevices().at(index).transferQueueFamily, 0);
    queue.submit(vk::SubmitInfo(0, nullptr, nullptr, 1, &device.transferCommandBuffer), *fence);
    const vk::Result waited = device.device.waitForFences(*fence, VK_FALSE, std::numeric_limits<uint64_t>::max());
    if (waited == vk::Result::eTimeout) {
        throw std::runtime_error("Waiting for a fence takes too long!");
    }
}

}  // namespace

void QVCore::CopyDataToBuffer(unsigned int index, unsigned long size, const void* source, vk::Buffer target,
                              unsigned long targetOffset) const
{
    if (size == 0) {
        return;
    }
    StagingBuffer staging(*this, index, size,
                          vk::BufferUsageFlagBits::eTransferSrc | vk::BufferUsageFlagBits::eStorageBuffer);
    std::memcpy(staging.Map(), source, size);
    // Host writes before a submission are visible to it without a barrier.
    SubmitTransfer(*this, index, [&](vk::CommandBuffer commands) {
        commands.copyBuffer(staging.Buffer(), target, vk::BufferCopy(0, targetOffset, size));
    });
}

void QVCore::CopyDataFromBuffer(unsigned int index, unsigned long size, void* target, vk::Buffer source,
                                unsigned long sourceOffset) const
{
    if (size == 0) {
        return;
    }
    StagingBuffer staging(*this, index, size,
                          vk::BufferUsageFlagBits::eTransferDst | vk::BufferUsageFlagBits::eStorageBuffer);
    SubmitTransfer(*this, index, [&](vk::CommandBuffer commands) {
        commands.copyBuffer(source, staging.Buffer(), vk::BufferCopy(sourceOffset, 0, size));
        // A fence wait covers device accesses only; the copy's writes reach the
        // host's reads through this barrier.
        const vk::MemoryBarrier toHost(vk::AccessFlagBits::eTransferWrite, vk::AccessFlagBits::eHostRead);
        commands.pipelineBarrier(vk::PipelineStageFlagBits::eTransfer, vk::PipelineStageFlagBits::eHost, {}, toHost,
                                 nullptr, nullptr);
    });

    const unsigned char* mapped = staging.Map();
    auto* out = static_cast<unsigned char*>(target);
    const std::vector<unsigned long> bounds = ReadBackBoundaries(size);
    // jthread: should starting a later thread fail, the started ones are still
    // joined before the mapping goes.
    std::vector<std::jthread> workers;
    workers.reserve(bounds.size() - 1);
    for (size_t piece = 0; piece + 1 < bounds.size(); ++piece) {
        const unsigned long begin = bounds[piece];
        const unsigned long length = bounds[piece + 1] - begin;
        workers.emplace_back([=] { std::memcpy(out + begin, mapped + begin, length); });
    }
    for (std::jthread& worker : workers) {
        worker.join();
    }
}

namespace {

// Calls copy(buffer, byteOffset, byteCount) for each buffer of `group` in turn,
// the group's buffers holding consecutive pieces of one array of `byteCount` bytes.
template <class Copy>
void ForEachGroupPiece(const QVCore::BufferGroup& group, unsigned long byteCount, Copy copy)
{
    unsigned long offset = 0;
    for (size_t i = 0; i < group.buffers.size() && offset < byteCount; ++i) {
        const unsigned long chunk =
            std::min<unsigned long>(static_cast<unsigned long>(group.elementCounts[i]) * group.elementSize,
                                    byteCount - offset);
        copy(group.buffers[i], offset, chunk);
        offset += chunk;
    }
}

}  // namespace

void QVCore::CopyDataToBufferGroup(unsigned int index, unsigned long byteCount, const void* source,
                                   const BufferGroup& group) const
{
    const auto* bytes = static_cast<const unsigned char*>(source);
    ForEachGroupPiece(group, byteCount, [&](vk::Buffer buffer, unsigned long offset, unsigned long chunk) {
        CopyDataToBuffer(index, chunk, bytes + offset, buffer, 0);
    });
}

void QVCore::CopyDataFromBufferGroup(unsigned int index, unsigned long byteCount, void* target,
                                     const BufferGroup& group) const
{
    auto* bytes = static_cast<unsigned char*>(target);
    ForEachGroupPiece(group, byteCount, [&](vk::Buffer buffer, unsigned long offset, unsigned long chunk) {
        CopyDataFromBuffer(index, chunk, bytes + offset, buffer, 0);
    });
}

}  // namespace QVEvalCore
