#pragma once

#include <cstdint>
#include <vector>

#include "gpu/VulkanDispatch.h"

namespace QVEvalCore {

// An array of elementSize-byte elements spread over device buffers of at
// most maxAllocation bytes each; buffer i continues where buffer i - 1 ends
// and starts at its own offset 0. The four lists always have equal lengths.
// Only Clear releases the buffers and memories: the holder must call it.
struct BufferGroup {
    std::vector<vk::Buffer> buffers;
    std::vector<vk::DeviceMemory> memories;  // one per buffer, bound at offset 0
    std::vector<uint32_t> memoryProperties;  // property flags requested per buffer
    std::vector<uint32_t> elementCounts;     // elements per buffer
    uint32_t elementSize = 0;                // bytes; 0 in an empty group

    // Frees every memory and destroys every buffer on `device`, empties the
    // lists and zeroes elementSize. A group without memories is left as is.
    void Clear(vk::Device device);
};

}  // namespace QVEvalCore
