#pragma once

#include <cstdint>
#include <vector>

#include "gpu/VulkanDispatch.h"

namespace QVEvalCore {

// Descriptor set layouts, one pool and the sets allocated from it, with a
// running tally of the pool sizes the layouts need. Call order: every
// CreateLayout, then CreatePool, then Allocate. The bundle owns only its
// lists; the Vulkan objects are released by Destroy (the core's destructor).
struct DescriptorSetInfo {
    vk::DescriptorPool pool;
    std::vector<vk::DescriptorSetLayout> layouts;   // position = set number
    std::vector<vk::DescriptorSet> sets;            // from the latest Allocate
    std::vector<vk::DescriptorPoolSize> poolSizes;  // one entry per type, first-seen order

    // Creates one layout from `bindings` and appends it; chains the binding
    // flags (one per binding) only when `bindingFlags` is not empty. Adds each
    // binding's count to its type's poolSizes entry. On a throw nothing changes.
    void CreateLayout(vk::Device device, const std::vector<vk::DescriptorSetLayoutBinding>& bindings,
                      const std::vector<vk::DescriptorBindingFlags>& bindingFlags,
                      vk::DescriptorSetLayoutCreateFlags flags);

    // Creates `pool` for maxSets sets (0: one per layout). Rounds poolSizes
    // counts up to multiples of 4 in place, up to and including the first
    // inline-uniform-block entry, whose rounded count also bounds the pool's
    // inline-uniform-block bindings (0 without one).
    void CreatePool(vk::Device device, vk::DescriptorPoolCreateFlags flags, uint32_t maxSets);

    // Allocates one set per layout from `pool` and replaces `sets` (earlier
    // sets stay in the pool). variableCounts is empty or has one entry per
    // layout: std::invalid_argument otherwise.
    void Allocate(vk::Device device, const std::vector<uint32_t>& variableCounts);

    // Destroys every layout, then the pool, on `device`; empties the lists.
    void Destroy(vk::Device device);
};

}  // namespace QVEvalCore
