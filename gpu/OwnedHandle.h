#pragma once

// Owners for Vulkan objects made by calls that must keep their own names in
// errors (vk::Device::createBuffer, not ...Unique): the raw call, then the owner.
#include "gpu/QVEvalCore.h"

namespace QVEvalCore {

template <typename Handle>
using Owned = vk::UniqueHandle<Handle, vk::DispatchLoaderDynamic>;

// Takes over `handle`, a child of `device`; released through the default
// dispatch table when the owner goes.
template <typename Handle>
Owned<Handle> Own(vk::Device device, Handle handle) {
    using Deleter = typename vk::UniqueHandleTraits<Handle, vk::DispatchLoaderDynamic>::deleter;
    return Owned<Handle>(handle, Deleter(device, nullptr, VULKAN_HPP_DEFAULT_DISPATCHER));
}

// value rounded up to a multiple of `multiple` (a Vulkan alignment; 0 acts as 1).
inline uint64_t RoundUp(uint64_t value, uint64_t multiple) {
    return multiple <= 1 ? value : (value + multiple - 1) / multiple * multiple;
}

}  // namespace QVEvalCore
