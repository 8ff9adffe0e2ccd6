// Staged host <-> device copies on the transfer queue.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "gpu/StagedTransfers.h"
#include "support/Tools.h"

namespace QVEvalCore {

std::vector<unsigned long> ReadBackBoundaries(unsigned long size) {
    return AppCore::Tools::SplitRange(0, size, std::numeric_limits<unsigned int>::max() - 1, kReadBackPieceBytes);
}

void QVCore::CopyDataToBuffer(unsigned int index, unsigned long size, const void* source, vk::Buffer target,
                              unsigned long targetOffset) const {
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

void RecordCopyToHost(vk::CommandBuffer commands, vk::Buffer source, unsigned long sourceOffset, vk::Buffer staging,
                      unsigned long size) {
    commands.copyBuffer(source, staging, vk::BufferCopy(sourceOffset, 0, size));
    const vk::MemoryBarrier toHost(vk::AccessFlagBits::eTransferWrite, vk::AccessFlagBits::eHostRead);
    commands.pipelineBarrier(vk::PipelineStageFlagBits::eTransfer, vk::PipelineStageFlagBits::eHost, {}, toHost,
                             nullptr, nullptr);
}

void CopyOutInPieces(const unsigned char* mapped, void* target, unsigned long size) {
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

void QVCore::CopyDataFromBuffer(unsigned int index, unsigned long size, void* target, vk::Buffer source,
                                unsigned long sourceOffset) const {
    if (size == 0) {
        return;
    }
    StagingBuffer staging(*this, index, size,
                          vk::BufferUsageFlagBits::eTransferDst | vk::BufferUsageFlagBits::eStorageBuffer);
    SubmitTransfer(*this, index, [&](vk::CommandBuffer commands) {
        RecordCopyToHost(commands, source, sourceOffset, staging.Buffer(), size);
    });
    CopyOutInPieces(staging.Map(), target, size);
}

namespace {

// Calls copy(buffer, byteOffset, byteCount) for each buffer of `group` in turn,
// the group's buffers holding consecutive pieces of one array of `byteCount` bytes.
template <class Copy>
void ForEachGroupPiece(const QVCore::BufferGroup& group, unsigned long byteCount, Copy copy) {
    unsigned long offset = 0;
    for (size_t i = 0; i < group.buffers.size() && offset < byteCount; ++i) {
        const unsigned long chunk = std::min<unsigned long>(
            static_cast<unsigned long>(group.elementCounts[i]) * group.elementSize, byteCount - offset);
        copy(group.buffers[i], offset, chunk);
        offset += chunk;
    }
}

}  // namespace

void QVCore::CopyDataToBufferGroup(unsigned int index, unsigned long byteCount, const void* source,
                                   const BufferGroup& group) const {
    const auto* bytes = static_cast<const unsigned char*>(source);
    ForEachGroupPiece(group, byteCount, [&](vk::Buffer buffer, unsigned long offset, unsigned long chunk) {
        CopyDataToBuffer(index, chunk, bytes + offset, buffer, 0);
    });
}

void QVCore::CopyDataFromBufferGroup(unsigned int index, unsigned long byteCount, void* target,
                                     const BufferGroup& group) const {
    auto* bytes = static_cast<unsigned char*>(target);
    ForEachGroupPiece(group, byteCount, [&](vk::Buffer buffer, unsigned long offset, unsigned long chunk) {
        CopyDataFromBuffer(index, chunk, bytes + offset, buffer, 0);
    });
}

}  // namespace QVEvalCore
