// Buffer groups and staged transfers on the software device.
#include <cstring>
#include <list>
#include <random>

#include <gtest/gtest.h>

#include "gpu/QVEvalCore.h"
#include "tests/gpu/GpuTestSupport.h"

namespace {

using GpuTest::CheckedCore;
using QVEvalCore::QVCore;

const vk::BufferUsageFlags kTransferUsage = vk::BufferUsageFlagBits::eTransferSrc |
                                            vk::BufferUsageFlagBits::eTransferDst |
                                            vk::BufferUsageFlagBits::eStorageBuffer;
const vk::MemoryPropertyFlags kDeviceLocal = vk::MemoryPropertyFlagBits::eDeviceLocal;

std::vector<unsigned char> RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 generator(seed);
    std::vector<unsigned char> bytes(size);
    for (unsigned char& byte : bytes) {
        byte = static_cast<unsigned char>(generator());
    }
    return bytes;
}

// "" when equal, else the first differing position with the context.
std::string FirstMismatch(const std::vector<unsigned char>& expected, const std::vector<unsigned char>& actual,
                          const std::string& context) {
    for (size_t i = 0; i < expected.size(); ++i) {
        if (expected[i] != actual[i]) {
            return context + ": first mismatch at byte " + std::to_string(i) + " of " +
                   std::to_string(expected.size()) + " (expected " + std::to_string(expected[i]) + ", got " +
                   std::to_string(actual[i]) + ")";
        }
    }
    return "";
}

class BufferTest : public testing::Test {
protected:
    BufferTest() : core("buffers", GpuTest::SoftwareDevice()) {}
    ~BufferTest() override {
        for (QVCore::BufferGroup& group : groups) {
            group.Clear(Device());
        }
    }
    vk::Device Device() const { return core->SelectedDevice().device; }

    // A group that the fixture releases before the core goes.
    QVCore::BufferGroup& NewGroup(unsigned long count, unsigned int elementSize) {
        groups.emplace_back();
        core->CreateBufferGroup(0, count, elementSize, groups.back(), kTransferUsage, kDeviceLocal, {});
        return groups.back();
    }

    CheckedCore<> core;
    std::list<QVCore::BufferGroup> groups;
};

TEST_F(BufferTest, groups_split_at_the_allocation_limit) {
    core->LimitAllocation(16);  // four 4-byte elements per buffer
    const QVCore::BufferGroup& ten = NewGroup(10, 4);
    EXPECT_EQ(ten.elementCounts, (std::vector<uint32_t>{4, 4, 2}));
    EXPECT_EQ(ten.buffers.size(), 3u);
    EXPECT_EQ(ten.memories.size(), 3u);
    EXPECT_EQ(ten.memoryProperties, std::vector<uint32_t>(3, static_cast<uint32_t>(kDeviceLocal)));
    EXPECT_EQ(ten.elementSize, 4u);
    EXPECT_EQ(NewGroup(8, 4).elementCounts, (std::vector<uint32_t>{4, 4}));

    const QVCore::BufferGroup& none = NewGroup(0, 8);
    EXPECT_TRUE(none.buffers.empty());
    EXPECT_EQ(none.elementSize, 8u);

    QVCore::BufferGroup unfilled;
    unfilled.elementSize = 8;
    unfilled.Clear(Device());
    EXPECT_EQ(unfilled.elementSize, 8u) << "Clear leaves a group without memories alone";

    QVCore::BufferGroup& cleared = NewGroup(5, 4);
    cleared.Clear(Device());
    EXPECT_TRUE(cleared.buffers.empty() && cleared.memories.empty() && cleared.elementCounts.empty() &&
                cleared.memoryProperties.empty());
    EXPECT_EQ(cleared.elementSize, 0u);

    QVCore::BufferGroup rejected;
    EXPECT_THROW(core->CreateBufferGroup(0, 1, 32, rejected, kTransferUsage, kDeviceLocal, {}), std::invalid_argument)
        << "an element larger than an allocation would never be placed";
    EXPECT_THROW(core->CreateBufferGroup(0, 1, 0, rejected, kTransferUsage, kDeviceLocal, {}), std::invalid_argument);
}

TEST_F(BufferTest, bytes_round_trip_through_groups_and_single_buffers) {
    const unsigned long sizes[] = {1, 1'000, 26'214'400, 26'214'401};
    // One buffer at an offset: the staging copy must honour both ends.
    core->LimitAllocation(64'000'000);
    for (const unsigned long size : sizes) {
        const std::vector<unsigned char> source = RandomBytes(size, static_cast<uint32_t>(size));
        QVCore::BufferGroup& single = NewGroup(size + 100, 1);
        ASSERT_EQ(single.buffers.size(), 1u);
        std::vector<unsigned char> fromSingle(size, 0);
        core->CopyDataToBuffer(0, size, source.data(), single.buffers[0], 100);
        core->CopyDataFromBuffer(0, size, fromSingle.data(), single.buffers[0], 100);
        EXPECT_EQ(FirstMismatch(source, fromSingle, "single buffer, offset 100"), "");
    }

    // 10,000,000-byte buffers: the largest sizes span three buffers of a group.
    core->LimitAllocation(10'000'000);
    for (const unsigned long size : sizes) {
        const std::vector<unsigned char> source = RandomBytes(size, static_cast<uint32_t>(size));
        QVCore::BufferGroup& group = NewGroup(size, 1);
        std::vector<unsigned char> back(size, 0);
        core->CopyDataToBufferGroup(0, size, source.data(), group);
        core->CopyDataFromBufferGroup(0, size, back.data(), group);
        EXPECT_EQ(FirstMismatch(source, back, "group of " + std::to_string(group.buffers.size()) + " buffers"), "");
    }
}

TEST_F(BufferTest, partial_group_upload_fills_only_the_head_of_the_last_buffer) {
    core->LimitAllocation(16);
    const QVCore::BufferGroup& group = NewGroup(10, 4);
    const std::vector<unsigned char> before(40, 0xAA);
    core->CopyDataToBufferGroup(0, before.size(), before.data(), group);

    const std::vector<unsigned char> head = RandomBytes(20, 7);
    core->CopyDataToBufferGroup(0, head.size(), head.data(), group);

    std::vector<unsigned char> expected = before;
    std::copy(head.begin(), head.end(), expected.begin());
    std::vector<unsigned char> back(40, 0);
    core->CopyDataFromBufferGroup(0, back.size(), back.data(), group);
    EXPECT_EQ(FirstMismatch(expected, back, "20 of 40 bytes uploaded"), "");
}

TEST(ReadBack, pieces_of_at_most_25_MiB_longer_ones_first) {
    using Bounds = std::vector<unsigned long>;
    EXPECT_EQ(QVEvalCore::ReadBackBoundaries(1), (Bounds{0, 1}));
    EXPECT_EQ(QVEvalCore::ReadBackBoundaries(26'214'400), (Bounds{0, 26'214'400}));
    EXPECT_EQ(QVEvalCore::ReadBackBoundaries(26'214'401), (Bounds{0, 13'107'201, 26'214'401}));
    const Bounds large = QVEvalCore::ReadBackBoundaries(400'000'000);
    ASSERT_EQ(large.size(), 17u);
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(large[i + 1] - large[i], 25'000'000u);
    }
}

// Counts every staging object made and released, and makes one chosen call fail.
struct Injection {
    static inline vk::DispatchLoaderDynamic real;
    static inline int buffers = 0;
    static inline int memories = 0;
    static inline int fences = 0;
    static inline std::string failing;

    static VkResult VKAPI_CALL CreateBuffer(VkDevice d, const VkBufferCreateInfo* i, const VkAllocationCallbacks* a,
                                            VkBuffer* b) {
        const VkResult result = real.vkCreateBuffer(d, i, a, b);
        buffers += result == VK_SUCCESS;
        return result;
    }
    static void VKAPI_CALL DestroyBuffer(VkDevice d, VkBuffer b, const VkAllocationCallbacks* a) {
        buffers -= b != VK_NULL_HANDLE;
        real.vkDestroyBuffer(d, b, a);
    }
    static VkResult VKAPI_CALL AllocateMemory(VkDevice d, const VkMemoryAllocateInfo* i, const VkAllocationCallbacks* a,
                                              VkDeviceMemory* m) {
        if (failing == "allocate") {
            return VK_ERROR_OUT_OF_DEVICE_MEMORY;
        }
        const VkResult result = real.vkAllocateMemory(d, i, a, m);
        memories += result == VK_SUCCESS;
        return result;
    }
    static void VKAPI_CALL FreeMemory(VkDevice d, VkDeviceMemory m, const VkAllocationCallbacks* a) {
        memories -= m != VK_NULL_HANDLE;
        real.vkFreeMemory(d, m, a);
    }
    static VkResult VKAPI_CALL MapMemory(VkDevice d, VkDeviceMemory m, VkDeviceSize o, VkDeviceSize s,
                                         VkMemoryMapFlags f, void** p) {
        return failing == "map" ? VK_ERROR_MEMORY_MAP_FAILED : real.vkMapMemory(d, m, o, s, f, p);
    }
    static VkResult VKAPI_CALL CreateFence(VkDevice d, const VkFenceCreateInfo* i, const VkAllocationCallbacks* a,
                                           VkFence* f) {
        const VkResult result = real.vkCreateFence(d, i, a, f);
        fences += result == VK_SUCCESS;
        return result;
    }
    static void VKAPI_CALL DestroyFence(VkDevice d, VkFence f, const VkAllocationCallbacks* a) {
        fences -= f != VK_NULL_HANDLE;
        real.vkDestroyFence(d, f, a);
    }
    static VkResult VKAPI_CALL QueueSubmit(VkQueue q, uint32_t n, const VkSubmitInfo* s, VkFence f) {
        return failing == "submit" ? VK_ERROR_OUT_OF_HOST_MEMORY : real.vkQueueSubmit(q, n, s, f);
    }
    // Waits for real, then claims the time ran out.
    static VkResult VKAPI_CALL WaitForFences(VkDevice d, uint32_t n, const VkFence* f, VkBool32 all, uint64_t t) {
        const VkResult result = real.vkWaitForFences(d, n, f, all, t);
        return failing == "wait" && result == VK_SUCCESS ? VK_TIMEOUT : result;
    }

    Injection() {
        real = VULKAN_HPP_DEFAULT_DISPATCHER;
        auto& table = VULKAN_HPP_DEFAULT_DISPATCHER;
        table.vkCreateBuffer = CreateBuffer;
        table.vkDestroyBuffer = DestroyBuffer;
        table.vkAllocateMemory = AllocateMemory;
        table.vkFreeMemory = FreeMemory;
        table.vkMapMemory = MapMemory;
        table.vkCreateFence = CreateFence;
        table.vkDestroyFence = DestroyFence;
        table.vkQueueSubmit = QueueSubmit;
        table.vkWaitForFences = WaitForFences;
    }
    ~Injection() { VULKAN_HPP_DEFAULT_DISPATCHER = real; }
};

TEST_F(BufferTest, failing_transfers_release_staging_buffer_memory_and_fence) {
    const QVCore::BufferGroup& group = NewGroup(1'000, 1);
    const std::vector<unsigned char> source = RandomBytes(1'000, 3);
    std::vector<unsigned char> back(1'000);
    Injection injection;
    const auto expectFailure = [&](const std::string& step, const std::string& message, auto transfer) {
        Injection::failing = step;
        try {
            transfer();
            ADD_FAILURE() << step << ": no exception";
        } catch (const std::exception& error) {
            EXPECT_EQ(std::string(error.what()), message) << step;
        }
        Injection::failing.clear();
        EXPECT_EQ(Injection::buffers, 0) << step << ": staging buffers left";
        EXPECT_EQ(Injection::memories, 0) << step << ": staging memories left";
        EXPECT_EQ(Injection::fences, 0) << step << ": fences left";
    };
    const auto upload = [&] { core->CopyDataToBuffer(0, source.size(), source.data(), group.buffers[0], 0); };
    const auto download = [&] { core->CopyDataFromBuffer(0, back.size(), back.data(), group.buffers[0], 0); };

    expectFailure("allocate", "vk::Device::allocateMemory: ErrorOutOfDeviceMemory", upload);
    expectFailure("map", "vk::Device::mapMemory: ErrorMemoryMapFailed", upload);
    expectFailure("submit", "vk::Queue::submit: ErrorOutOfHostMemory", upload);
    expectFailure("wait", "Waiting for a fence takes too long!", download);

    // The transfer command buffer recovers: the next transfers work.
    upload();
    download();
    EXPECT_EQ(FirstMismatch(source, back, "after the failures"), "");
    EXPECT_EQ(Injection::buffers + Injection::memories + Injection::fences, 0);
}

}  // namespace
