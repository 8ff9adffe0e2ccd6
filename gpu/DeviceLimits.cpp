#include "gpu/DeviceLimits.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "gpu/OwnedHandle.h"
#include "gpu/StagedTransfers.h"
#include "strings/MemoryText.h"
#include "support/SecondsSince.h"

namespace QVEvalCore {

namespace {

constexpr vk::MemoryPropertyFlags kHostShared =
    vk::MemoryPropertyFlagBits::eHostVisible | vk::MemoryPropertyFlagBits::eHostCoherent;
constexpr vk::BufferUsageFlags kCopyUsage =
    vk::BufferUsageFlagBits::eTransferSrc | vk::BufferUsageFlagBits::eTransferDst;

DeviceLimits Skipped(std::string device, std::string reason) {
    DeviceLimits limits;
    limits.device = std::move(device);
    limits.skipped = std::move(reason);
    return limits;
}

// Buffer sizes are whole MiB, and what is there is never told as more than it is.

// The largest heap with a memory type of every flag in `required`; 0 when none.
uint64_t LargestHeap(const vk::PhysicalDeviceMemoryProperties& memory, vk::MemoryPropertyFlags required) {
    uint64_t largest = 0;
    for (uint32_t i = 0; i < memory.memoryTypeCount; ++i) {
        if ((memory.memoryTypes[i].propertyFlags & required) == required) {
            largest = std::max(largest, memory.memoryHeaps[memory.memoryTypes[i].heapIndex].size);
        }
    }
    return largest;
}

// A device-local buffer with memory of its own, shared by the compute and the
// transfer family where they differ, as the sorter's buffer groups are.
class DeviceBuffer {
public:
    DeviceBuffer(const QVCore& core, uint64_t bytes) : device(core.SelectedDevice().device) {
        const QVCore::PhysicalDeviceInfo& physical = core.SelectedPhysicalDevice();
        const uint32_t families[] = {physical.computeQueueFamily, physical.transferQueueFamily};
        const bool shared = families[0] != families[1];
        buffer =
            Own(device, device.createBuffer(vk::BufferCreateInfo(
                            {}, bytes, kCopyUsage, shared ? vk::SharingMode::eConcurrent : vk::SharingMode::eExclusive,
                            shared ? 2u : 0u, shared ? families : nullptr)));
        const uint32_t memoryType = core.SelectMemory(0, *buffer, vk::MemoryPropertyFlagBits::eDeviceLocal);
        memory = Own(device, core.AllocMemory(0, *buffer, memoryType, {}));
        device.bindBufferMemory(*buffer, *memory, 0);
    }

    vk::Buffer Buffer() const { return *buffer; }

private:
    vk::Device device;
    // The buffer goes before the memory bound to it.
    Owned<vk::DeviceMemory> memory;
    Owned<vk::Buffer> buffer;
};

// Submissions of the probe's own on the compute queue, and the two timestamps
// around a device copy.
class ComputeQueue {
public:
    explicit ComputeQueue(const QVCore& core) : device(core.SelectedDevice().device) {
        const QVCore::PhysicalDeviceInfo& physical = core.SelectedPhysicalDevice();
        const uint32_t family = physical.computeQueueFamily;
        const uint32_t validBits = physical.queueFamilies.at(family).timestampValidBits;
        tickMask = validBits >= 64 ? std::numeric_limits<uint64_t>::max() : (uint64_t{1} << validBits) - 1;
        nanosecondsPerTick = physical.limits.timestampPeriod;
        queue = device.getQueue(family, 0);
        pool = Own(device, device.createCommandPool(vk::CommandPoolCreateInfo({}, family)));
        // Freed with the pool.
        commandBuffer =
            device.allocateCommandBuffers(vk::CommandBufferAllocateInfo(*pool, vk::CommandBufferLevel::ePrimary, 1))
                .at(0);
        queries = Own(device, device.createQueryPool(vk::QueryPoolCreateInfo({}, vk::QueryType::eTimestamp, 2)));
    }

    // Records `record`, submits it and waits for it.
    template <typename Record>
    void Submit(Record record) {
        SubmitAndWait(device, *pool, commandBuffer, queue, record);
    }

    // Seconds between the timestamps around a copy of `bytes` from `source`
    // to `target`.
    double CopySeconds(vk::Buffer source, vk::Buffer target, uint64_t bytes) {
        Submit([&](vk::CommandBuffer commands) {
            commands.resetQueryPool(*queries, 0, 2);
            // Earlier submissions' accesses to both buffers end before the
            // first timestamp.
            const vk::MemoryBarrier before(vk::AccessFlagBits::eTransferWrite | vk::AccessFlagBits::eTransferRead,
                                           vk::AccessFlagBits::eTransferWrite | vk::AccessFlagBits::eTransferRead);
            commands.pipelineBarrier(vk::PipelineStageFlagBits::eAllCommands, vk::PipelineStageFlagBits::eTransfer, {},
                                     before, nullptr, nullptr);
            commands.writeTimestamp(vk::PipelineStageFlagBits::eTopOfPipe, *queries, 0);
            commands.copyBuffer(source, target, vk::BufferCopy(0, 0, bytes));
            commands.writeTimestamp(vk::PipelineStageFlagBits::eBottomOfPipe, *queries, 1);
        });
        uint64_t stamps[2] = {0, 0};
        const vk::Result result =
            device.getQueryPoolResults(*queries, 0, 2, sizeof stamps, stamps, sizeof(uint64_t),
                                       vk::QueryResultFlagBits::e64 | vk::QueryResultFlagBits::eWait);
        if (result != vk::Result::eSuccess) {
            throw std::runtime_error("the copy's timestamps are not available");
        }
        return static_cast<double>((stamps[1] - stamps[0]) & tickMask) * nanosecondsPerTick * 1e-9;
    }

private:
    vk::Device device;
    vk::Queue queue;
    uint64_t tickMask = 0;
    double nanosecondsPerTick = 0;
    Owned<vk::CommandPool> pool;
    vk::CommandBuffer commandBuffer;
    Owned<vk::QueryPool> queries;
};

// The buffers have been written once when they leave the constructor.
struct Buffers {
    Buffers(const QVCore& core, ComputeQueue& compute, uint64_t bytes)
        : source(core, bytes),
          target(core, bytes),
          staging(core, 0, bytes,
                  vk::BufferUsageFlagBits::eTransferSrc | vk::BufferUsageFlagBits::eTransferDst |
                      vk::BufferUsageFlagBits::eStorageBuffer),
          host(bytes, 1) {
        std::memset(staging.Map(), 1, bytes);
        compute.Submit([&](vk::CommandBuffer commands) {
            commands.fillBuffer(source.Buffer(), 0, VK_WHOLE_SIZE, 0x01010101u);
            commands.fillBuffer(target.Buffer(), 0, VK_WHOLE_SIZE, 0x01010101u);
        });
    }

    DeviceBuffer source;
    DeviceBuffer target;
    StagingBuffer staging;
    std::vector<unsigned char> host;
};

DeviceLimits Measure(const QVCore& core, uint64_t bytes, unsigned repeats) {
    ComputeQueue compute(core);
    Buffers buffers(core, compute, bytes);
    unsigned char* mapped = buffers.staging.Map();
    const vk::Buffer staging = buffers.staging.Buffer();
    constexpr double never = std::numeric_limits<double>::infinity();
    double copy = never;
    double upload = never;
    double readBack = never;
    for (unsigned r = 0; r < repeats; ++r) {
        copy = std::min(copy, compute.CopySeconds(buffers.source.Buffer(), buffers.target.Buffer(), bytes));

        auto start = std::chrono::steady_clock::now();
        std::memcpy(mapped, buffers.host.data(), bytes);
        SubmitTransfer(core, 0, [&](vk::CommandBuffer commands) {
            commands.copyBuffer(staging, buffers.source.Buffer(), vk::BufferCopy(0, 0, bytes));
        });
        upload = std::min(upload, AppCore::SecondsSince(start));

        start = std::chrono::steady_clock::now();
        SubmitTransfer(core, 0, [&](vk::CommandBuffer commands) {
            RecordCopyToHost(commands, buffers.target.Buffer(), 0, staging, bytes);
        });
        CopyOutInPieces(mapped, buffers.host.data(), bytes);
        readBack = std::min(readBack, AppCore::SecondsSince(start));
    }
    const std::string& name = core.SelectedPhysicalDevice().name;
    if (copy <= 0 || upload <= 0 || readBack <= 0) {
        return Skipped(name,
                       "a timing of " + SLib::WholeMiBText(bytes, SLib::Rounding::Down) + " took no measurable time");
    }
    DeviceLimits limits;
    limits.device = name;
    limits.bufferBytes = bytes;
    limits.repeats = repeats;
    limits.copyBytes = 2.0 * static_cast<double>(bytes) / copy;
    limits.uploadBytes = static_cast<double>(bytes) / upload;
    limits.readBackBytes = static_cast<double>(bytes) / readBack;
    return limits;
}

}  // namespace

DeviceLimits ProbeDeviceLimits(const QVCore& core, const DeviceLimitsOptions& options) {
    if (!core.VulkanReady()) {
        return Skipped("", "the GPU core has no device");
    }
    const QVCore::PhysicalDeviceInfo& physical = core.SelectedPhysicalDevice();
    if (physical.queueFamilies.at(physical.computeQueueFamily).timestampValidBits == 0) {
        return Skipped(physical.name, "the compute queue has no timestamps");
    }
    if (options.bufferBytes < SLib::kMiB) {
        return Skipped(physical.name, "buffers of " + std::to_string(options.bufferBytes) + " bytes, under 1 MiB");
    }
    const uint64_t available = options.availableBytes.value_or(std::numeric_limits<uint64_t>::max());
    if (available < DeviceLimitsProbeBytes(SLib::kMiB)) {
        return Skipped(physical.name, "needs at least " +
                                          SLib::WholeMiBText(DeviceLimitsProbeBytes(SLib::kMiB), SLib::Rounding::Down) +
                                          " of memory, " + SLib::WholeMiBText(available, SLib::Rounding::Down) +
                                          " available");
    }
    const uint64_t deviceCap = std::min(
        {physical.maxAllocation, LargestHeap(physical.memoryProperties, vk::MemoryPropertyFlagBits::eDeviceLocal) / 4,
         LargestHeap(physical.memoryProperties, kHostShared) / 4});
    uint64_t bytes = std::min({options.bufferBytes, deviceCap, available / 4});
    bytes -= bytes % SLib::kMiB;
    if (bytes == 0) {
        return Skipped(physical.name,
                       "the device holds no buffers of 1 MiB (at most " + std::to_string(deviceCap) + " bytes each)");
    }
    const unsigned repeats = std::max(options.repeats, 1u);
    try {
        return Measure(core, bytes, repeats);
    } catch (const std::bad_alloc&) {
        return Skipped(physical.name,
                       "cannot allocate " + SLib::WholeMiBText(bytes, SLib::Rounding::Down) + " of host memory");
    } catch (const std::runtime_error& error) {
        // vk::SystemError among them: an allocation the device refused, a lost device.
        return Skipped(physical.name, std::string("buffers of ") + SLib::WholeMiBText(bytes, SLib::Rounding::Down) +
                                          ": " + error.what());
    }
}

}  // namespace QVEvalCore
