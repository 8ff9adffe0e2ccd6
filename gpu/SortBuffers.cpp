// The sort's buffer layout: key, index and scratch buffers, the descriptors
// that bind them and the inline block that describes them to the shaders.
#include <algorithm>
#include <array>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "gpu/QVRadixSort.h"

namespace QVEvalCore {

namespace {

constexpr vk::BufferUsageFlags kKeyUsage = vk::BufferUsageFlagBits::eTransferSrc |
                                           vk::BufferUsageFlagBits::eTransferDst |
                                           vk::BufferUsageFlagBits::eStorageBuffer;
constexpr vk::BufferUsageFlags kIndexUsage = kKeyUsage | vk::BufferUsageFlagBits::eShaderDeviceAddress;
constexpr vk::BufferUsageFlags kScratchUsage = kIndexUsage | vk::BufferUsageFlagBits::eUniformBuffer;

}  // namespace

bool QVRadixSort::CreateDescriptorSets() {
    const vk::Device device = SelectedDevice().device;
    const vk::ShaderStageFlags stage = vk::ShaderStageFlagBits::eCompute;
    const uint32_t maxStorageBuffers = MaxStorageBuffers();
    DescriptorSetInfo& descriptorSets = DescriptorSets();

    descriptorSets.CreateLayout(device, {{0, vk::DescriptorType::eStorageBuffer, maxStorageBuffers, stage}},
                                {vk::DescriptorBindingFlagBits::eVariableDescriptorCount}, {});
    descriptorSets.CreateLayout(
        device,
        {{0, vk::DescriptorType::eStorageBuffer, 1, stage},
         {1, vk::DescriptorType::eStorageBuffer, 1, stage},
         {2, vk::DescriptorType::eStorageBuffer, 1, stage},
         {3, vk::DescriptorType::eInlineUniformBlockEXT, kBlockBytes, stage}},
        {vk::DescriptorBindingFlagBits::ePartiallyBound, vk::DescriptorBindingFlagBits::ePartiallyBound, {}, {}}, {});
    descriptorSets.CreatePool(device, vk::DescriptorPoolCreateFlagBits::eFreeDescriptorSet, 0);
    descriptorSets.Allocate(device, {maxStorageBuffers, 0});
    Report("Successfully created descriptor sets");
    return true;
}

void QVRadixSort::UpdateStorageBuffers() {
    const vk::Device device = SelectedDevice().device;
    const vk::PhysicalDeviceLimits& limits = SelectedPhysicalDevice().limits;
    if (scratchSize == 0) {
        const uint64_t counters =
            RoundUp(uint64_t{workgroupCount + 1} * SORT_RADIX * 4, limits.minStorageBufferOffsetAlignment);
        const uint64_t table = RoundUp(uint64_t{MaxStorageBuffers()} * 2 * 8, limits.nonCoherentAtomSize);
        countRegion = {0, counters};
        offsetRegion = {counters, counters};
        addressRegion = {2 * counters, table};
        CreateBufferGroup(0, (2 * counters + table) / 4, 4, scratchGroup, kScratchUsage,
                          vk::MemoryPropertyFlagBits::eDeviceLocal, vk::MemoryAllocateFlagBits::eDeviceAddress);
        if (scratchGroup.buffers.size() != 1) {
            scratchGroup.Clear(device);
            throw std::runtime_error("GPU sort: the scratch buffer of " + std::to_string(2 * counters + table) +
                                     " bytes exceeds the device's maximum allocation");
        }
        scratchSize = 2 * counters + table;
    }

    keyGroup.Clear(device);
    indexGroupA.Clear(device);
    indexGroupB.Clear(device);
    // At least one element: a sort of 0 keys still binds a key buffer and
    // dispatches shaders that then do nothing.
    const unsigned long elements = recordCount == 0 ? 1 : recordCount;
    CreateBufferGroup(0, elements, keyBytes, keyGroup, kKeyUsage, vk::MemoryPropertyFlagBits::eDeviceLocal, {});
    CopyDataToBufferGroup(0, keyBytes * recordCount, keys, keyGroup);
    CreateBufferGroup(0, elements, 4, indexGroupA, kIndexUsage, vk::MemoryPropertyFlagBits::eDeviceLocal,
                      vk::MemoryAllocateFlagBits::eDeviceAddress);
    CreateBufferGroup(0, elements, 4, indexGroupB, kIndexUsage, vk::MemoryPropertyFlagBits::eDeviceLocal,
                      vk::MemoryAllocateFlagBits::eDeviceAddress);
    if (!initIndices) {
        // The first pass then reads its starting order from set A.
        CopyDataToBufferGroup(0, 4 * recordCount, indices, indexGroupA);
    }

    if (queryCount == 0) {
        queryPool =
            Own(device, device.createQueryPool(vk::QueryPoolCreateInfo({}, vk::QueryType::eTimestamp, kQueryCapacity)));
        queryCount = kQueryCapacity;
    }
    progress += "Updated Storage Buffers\n";
}

void QVRadixSort::UpdateDescriptorSets() {
    const vk::Device device = SelectedDevice().device;
    const uint32_t maxStorageBuffers = MaxStorageBuffers();
    const vk::Buffer scratch = scratchGroup.buffers.at(0);

    std::vector<uint64_t> table(addressRegion.size / 8, 0);
    for (size_t i = 0; i < indexGroupA.buffers.size(); ++i) {
        table.at(2 * i) = device.getBufferAddress(vk::BufferDeviceAddressInfo(indexGroupA.buffers[i]));
    }
    for (size_t i = 0; i < indexGroupB.buffers.size(); ++i) {
        table.at(2 * i + 1) = device.getBufferAddress(vk::BufferDeviceAddressInfo(indexGroupB.buffers[i]));
    }
    CopyDataToBuffer(0, addressRegion.size, table.data(), scratch, addressRegion.offset);

    std::vector<vk::DescriptorBufferInfo> keyInfos(maxStorageBuffers);
    for (uint32_t slot = 0; slot < maxStorageBuffers; ++slot) {
        const vk::Buffer buffer = slot < keyGroup.buffers.size() ? keyGroup.buffers[slot] : keyGroup.buffers.at(0);
        keyInfos[slot] = vk::DescriptorBufferInfo(buffer, 0, VK_WHOLE_SIZE);
    }
    const vk::DescriptorBufferInfo countInfo(scratch, countRegion.offset, countRegion.size);
    const vk::DescriptorBufferInfo offsetInfo(scratch, offsetRegion.offset, offsetRegion.size);
    const vk::DescriptorBufferInfo addressInfo(scratch, addressRegion.offset, addressRegion.size);
    const vk::DescriptorSet set0 = DescriptorSets().sets.at(0);
    const vk::DescriptorSet set1 = DescriptorSets().sets.at(1);
    const std::array<vk::WriteDescriptorSet, 4> writes = {
        vk::WriteDescriptorSet(set0, 0, 0, vk::DescriptorType::eStorageBuffer, {}, keyInfos),
        vk::WriteDescriptorSet(set1, 0, 0, vk::DescriptorType::eStorageBuffer, {}, countInfo),
        vk::WriteDescriptorSet(set1, 1, 0, vk::DescriptorType::eStorageBuffer, {}, offsetInfo),
        vk::WriteDescriptorSet(set1, 2, 0, vk::DescriptorType::eStorageBuffer, {}, addressInfo)};
    device.updateDescriptorSets(writes, {});

    blockData[0] = static_cast<uint32_t>(recordCount);
    blockData[1] = keyGroup.elementCounts.at(0);
    blockData[2] = static_cast<uint32_t>(uint64_t{keyGroup.elementCounts.at(0)} * keyBytes);
    static_assert(sizeof(blockData) == kBlockBytes);
    const vk::WriteDescriptorSetInlineUniformBlockEXT blockWrite(kBlockBytes, blockData);
    vk::WriteDescriptorSet write(set1, 3, 0, kBlockBytes, vk::DescriptorType::eInlineUniformBlockEXT);
    write.pNext = &blockWrite;
    device.updateDescriptorSets(write, {});
    progress += "Updated Descriptor Sets\n";
}

uint64_t QVRadixSort::KeyBuffersFor(uint64_t n, uint64_t bytesPerKey, uint64_t maxAllocation) {
    const uint64_t perBuffer = maxAllocation / bytesPerKey;
    if (perBuffer == 0) {
        return std::numeric_limits<uint64_t>::max();
    }
    return n == 0 ? 1 : (n + perBuffer - 1) / perBuffer;
}

QVRadixSort::Layout QVRadixSort::LatestLayout() const {
    Layout layout;
    layout.large = large != 0;
    layout.firstPass = firstPass;
    layout.endPass = endPass;
    layout.keyBuffers = keyGroup.buffers.size();
    layout.indexBuffersA = indexGroupA.buffers.size();
    layout.indexBuffersB = indexGroupB.buffers.size();
    std::copy(std::begin(blockData), std::end(blockData), layout.block.begin());
    layout.scratch = scratchGroup.buffers.empty() ? vk::Buffer() : scratchGroup.buffers.front();
    layout.scratchBuffers = scratchGroup.buffers.size();
    layout.scratchSize = scratchSize;
    layout.countRegion = countRegion;
    layout.offsetRegion = offsetRegion;
    layout.addressRegion = addressRegion;
    layout.queryPool = queryPool.get();
    layout.queryCount = queryCount;
    return layout;
}

}  // namespace QVEvalCore
