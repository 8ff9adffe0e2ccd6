// The descriptor bundle: layouts, one pool and the sets allocated from it.
#include <stdexcept>

#include "gpu/OwnedHandle.h"
#include "gpu/QVEvalCore.h"

namespace QVEvalCore {

namespace {

// Pool sizes are rounded to this many descriptors; inline uniform block sizes
// count bytes and must be multiples of 4.
constexpr uint32_t kPoolSizeGranule = 4;

}  // namespace

void DescriptorSetInfo::CreateLayout(vk::Device device, const std::vector<vk::DescriptorSetLayoutBinding>& bindings,
                                     const std::vector<vk::DescriptorBindingFlags>& bindingFlags,
                                     vk::DescriptorSetLayoutCreateFlags flags) {
    // The new tally and the list slot are made first, so that nothing can
    // throw once the layout exists.
    std::vector<vk::DescriptorPoolSize> tally = poolSizes;
    for (const vk::DescriptorSetLayoutBinding& binding : bindings) {
        bool counted = false;
        for (vk::DescriptorPoolSize& size : tally) {
            if (size.type == binding.descriptorType) {
                size.descriptorCount += binding.descriptorCount;
                counted = true;
                break;
            }
        }
        if (!counted) {
            tally.emplace_back(binding.descriptorType, binding.descriptorCount);
        }
    }
    layouts.reserve(layouts.size() + 1);

    vk::DescriptorSetLayoutCreateInfo createInfo(flags, bindings);
    const vk::DescriptorSetLayoutBindingFlagsCreateInfo flagsInfo(bindingFlags);
    if (!bindingFlags.empty()) {
        createInfo.pNext = &flagsInfo;
    }
    layouts.push_back(device.createDescriptorSetLayout(createInfo));
    poolSizes.swap(tally);
}

void DescriptorSetInfo::CreatePool(vk::Device device, vk::DescriptorPoolCreateFlags flags, uint32_t maxSets) {
    if (pool) {
        throw std::logic_error("DescriptorSetInfo::CreatePool: the pool exists already");
    }
    if (maxSets == 0) {
        maxSets = static_cast<uint32_t>(layouts.size());
    }
    uint32_t inlineBlockBindings = 0;
    for (vk::DescriptorPoolSize& size : poolSizes) {
        size.descriptorCount = static_cast<uint32_t>(RoundUp(size.descriptorCount, kPoolSizeGranule));
        if (size.type == vk::DescriptorType::eInlineUniformBlockEXT) {
            inlineBlockBindings = size.descriptorCount;
            break;
        }
    }
    // A pool size of 0 descriptors is invalid; a binding of count 0 needs none.
    std::vector<vk::DescriptorPoolSize> sizes;
    for (const vk::DescriptorPoolSize& size : poolSizes) {
        if (size.descriptorCount != 0) {
            sizes.push_back(size);
        }
    }
    const vk::DescriptorPoolInlineUniformBlockCreateInfoEXT inlineInfo(inlineBlockBindings);
    pool = device.createDescriptorPool(vk::DescriptorPoolCreateInfo(flags, maxSets, sizes, &inlineInfo));
}

void DescriptorSetInfo::Allocate(vk::Device device, const std::vector<uint32_t>& variableCounts) {
    if (!variableCounts.empty() && variableCounts.size() != layouts.size()) {
        throw std::invalid_argument("DescriptorSetInfo::Allocate: " + std::to_string(variableCounts.size()) +
                                    " variable counts for " + std::to_string(layouts.size()) + " layouts");
    }
    const vk::DescriptorSetVariableDescriptorCountAllocateInfo countInfo(variableCounts);
    vk::DescriptorSetAllocateInfo allocateInfo(pool, layouts);
    if (!variableCounts.empty()) {
        allocateInfo.pNext = &countInfo;
    }
    sets = device.allocateDescriptorSets(allocateInfo);
}

void DescriptorSetInfo::Destroy(vk::Device device) {
    for (vk::DescriptorSetLayout layout : layouts) {
        device.destroyDescriptorSetLayout(layout);
    }
    if (pool) {
        device.destroyDescriptorPool(pool);
    }
    pool = nullptr;
    layouts.clear();
    sets.clear();
    poolSizes.clear();
}

}  // namespace QVEvalCore
