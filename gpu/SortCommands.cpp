// Recording the sort's passes, submitting them and waiting for them.
#include <array>
#include <cstdio>
#include <limits>
#include <vector>

#include "gpu/QVRadixSort.h"

namespace QVEvalCore {

namespace {

// Every stage the sort's commands touch, on both sides of each barrier.
constexpr vk::PipelineStageFlags kBarrierStages =
    vk::PipelineStageFlagBits::eComputeShader | vk::PipelineStageFlagBits::eTransfer |
    vk::PipelineStageFlagBits::eHost | vk::PipelineStageFlagBits::eAllCommands;
constexpr vk::AccessFlags kBarrierWrites = vk::AccessFlagBits::eShaderWrite | vk::AccessFlagBits::eTransferWrite |
                                           vk::AccessFlagBits::eHostWrite | vk::AccessFlagBits::eMemoryWrite;
constexpr vk::AccessFlags kBarrierReads = vk::AccessFlagBits::eUniformRead | vk::AccessFlagBits::eShaderRead |
                                          vk::AccessFlagBits::eTransferRead | vk::AccessFlagBits::eHostRead |
                                          vk::AccessFlagBits::eMemoryRead;

// The full compute/transfer/host memory barrier recorded after each dispatch.
void RecordBarrier(vk::CommandBuffer commandBuffer) {
    const vk::MemoryBarrier barrier(kBarrierWrites, kBarrierReads);
    commandBuffer.pipelineBarrier(kBarrierStages, kBarrierStages, {}, barrier, {}, {});
}

}  // namespace

void QVRadixSort::RecordCommandBuffer() {
    const vk::Device device = SelectedDevice().device;
    const vk::CommandBuffer commandBuffer = RenewComputeCommandBuffer();
    const vk::PipelineLayout pipelineLayout = PipelineLayout();
    const std::vector<vk::Pipeline>& pipelines = Pipelines();

    commandBuffer.begin(vk::CommandBufferBeginInfo());
    commandBuffer.resetQueryPool(*queryPool, 0, queryCount);
    commandBuffer.bindDescriptorSets(vk::PipelineBindPoint::eCompute, pipelineLayout, 0, DescriptorSets().sets, {});
    const vk::PipelineStageFlagBits stage = vk::PipelineStageFlagBits::eComputeShader;
    for (uint32_t pass = firstPass; pass < endPass; ++pass) {
        const std::array<uint32_t, SORT_PUSH_CONSTANT_WORDS> constants = {
            pass, pass >= passCount / 2 ? 1u : 0u, passCount, pass == firstPass && initIndices ? 1u : 0u};
        static_assert(sizeof(constants) == kPushConstantBytes);
        commandBuffer.pushConstants(pipelineLayout, vk::ShaderStageFlagBits::eCompute, 0, kPushConstantBytes,
                                    constants.data());
        commandBuffer.writeTimestamp(stage, *queryPool, 4 * pass);
        commandBuffer.bindPipeline(vk::PipelineBindPoint::eCompute, pipelines.at(0));
        commandBuffer.dispatch(workgroupCount, 1, 1);
        RecordBarrier(commandBuffer);
        commandBuffer.writeTimestamp(stage, *queryPool, 4 * pass + 1);
        commandBuffer.bindPipeline(vk::PipelineBindPoint::eCompute, pipelines.at(1));
        commandBuffer.dispatch(1, 1, 1);
        RecordBarrier(commandBuffer);
        commandBuffer.writeTimestamp(stage, *queryPool, 4 * pass + 2);
        commandBuffer.bindPipeline(vk::PipelineBindPoint::eCompute, pipelines.at(2));
        commandBuffer.dispatch(workgroupCount, 1, 1);
        RecordBarrier(commandBuffer);
        commandBuffer.writeTimestamp(stage, *queryPool, 4 * pass + 3);
    }
    commandBuffer.end();

    const vk::Queue queue = device.getQueue(SelectedPhysicalDevice().computeQueueFamily, 0);
    fence = Own(device, device.createFence(vk::FenceCreateInfo()));
    queue.submit(vk::SubmitInfo({}, {}, commandBuffer), *fence);
    submitted = true;
    progress += "Submitted Command Buffer\n";
}

void QVRadixSort::WaitToFinish() {
    if (!submitted) {
        progress += "Nothing to wait for...\n";
        return;
    }
    progress += "Waiting for fence...\n";
    const vk::Device device = SelectedDevice().device;
    // A timeout cannot happen without a time limit; the bindings let it through.
    (void)device.waitForFences(*fence, VK_TRUE, std::numeric_limits<uint64_t>::max());
    fence.reset();
    submitted = false;

    std::array<uint64_t, kQueryCapacity> stamps{};
    // Unchecked on purpose: a stamp that is not available reads as 0.
    (void)device.getQueryPoolResults(*queryPool, 0, queryCount, sizeof(stamps), stamps.data(), sizeof(uint64_t),
                                     vk::QueryResultFlagBits::e64);
    const uint64_t ticks = stamps.at(4 * endPass - 1) - stamps.at(0);
    gpuTimeMs = static_cast<double>(ticks) * SelectedPhysicalDevice().limits.timestampPeriod / 1000000.0;
    char line[64];
    std::snprintf(line, sizeof(line), "  > Total GPU Time:   %f ms", gpuTimeMs);
    progress += line;
    progress += '\n';

    CopyDataFromBufferGroup(0, 4 * recordCount, indices, indexGroupA);
    progress += "Command Finished!\n";
}

}  // namespace QVEvalCore
