// The GPU radix sorter's life around its permutations, on the software
// device under the validation layer: when it rebuilds its pipelines, the sorts
// it refuses, the progress it notes, waits and repeats, how it lays out its
// buffers, and Init without its shaders.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gpu/OwnedHandle.h"
#include "tests/gpu/SortTestSupport.h"

namespace {

using namespace GpuSortTest;

TEST_F(GpuRadixSort, rebuilds_pipelines_only_when_type_or_large_flag_changes) {
    LimitAllocation(262'144);
    const std::vector<int32_t> ints = RandomKeys<int32_t>(1000, kSeed);
    const std::vector<float> floats = RandomKeys<float>(1000, kSeed);
    const std::vector<float> manyFloats = RandomKeys<float>(70'000, kSeed);

    std::vector<uint32_t> out(manyFloats.size());
    for (int round = 0; round < 2; ++round) {
        Sorter().Sort(ints.data(), ints.size(), out.data(), true);
        Sorter().WaitToFinish();
    }
    Sorter().Sort(floats.data(), floats.size(), out.data(), true);
    Sorter().WaitToFinish();
    Sorter().Sort(manyFloats.data(), manyFloats.size(), out.data(), true);
    Sorter().WaitToFinish();
    Sorter().Sort(manyFloats.data(), manyFloats.size(), out.data(), true);
    Sorter().WaitToFinish();

    std::vector<std::string> built;
    for (const std::string& line : GpuTest::Lines(Sorter().TakeProgress())) {
        if (line.rfind("Created Pipeline for ", 0) == 0) {
            built.push_back(line);
        }
    }
    EXPECT_EQ(built, (std::vector<std::string>{"Created Pipeline for INT", "Created Pipeline for FLOAT",
                                               "Created Pipeline for FLOAT, LARGE"}));
    EXPECT_EQ(Sorter().Pipelines().size(), 3u);
}

TEST_F(GpuRadixSort, refuses_sorts_beyond_eight_buffers_or_32_bit_counts) {
    LimitAllocation(262'144);
    const std::vector<int32_t> keys(8 * 65'536 + 1, 1);
    std::vector<uint32_t> out(keys.size());
    try {
        Sorter().Sort(keys.data(), keys.size(), out.data(), true);
        ADD_FAILURE() << "a sort needing nine key buffers was accepted";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()),
                  "GPU sort of 524289 INT keys: needs more than 8 buffers of at most 262144 bytes");
    }
    // The count check comes before any key is read, so no such array is needed.
    EXPECT_THROW(Sorter().Sort(keys.data(), 1ul << 32, out.data(), true), std::runtime_error);
    EXPECT_FALSE(Sorter().Pending());

    // Nothing was left half done: the limit itself still sorts.
    const std::vector<int32_t> fitting(keys.begin(), keys.end() - 1);
    EXPECT_EQ(GpuPermutation(Sorter(), fitting), CpuPermutation(fitting));
}

TEST_F(GpuRadixSort, notes_progress_without_printing_and_spans_every_timestamp_of_the_sort) {
    const std::vector<int32_t> keys = RandomKeys<int32_t>(5000, kSeed);
    std::vector<uint32_t> out(keys.size());
    GpuTest::CoutCapture output;
    Sorter().Sort(keys.data(), keys.size(), out.data(), true);
    Sorter().WaitToFinish();
    EXPECT_EQ(output.Text(), "");

    const std::string progress = Sorter().TakeProgress();
    EXPECT_EQ(Sorter().TakeProgress(), "");
    const std::vector<std::string> lines = GpuTest::Lines(progress);
    ASSERT_EQ(lines.size(), 7u) << progress;
    EXPECT_EQ(lines[0], "Created Pipeline for INT");
    EXPECT_EQ(lines[1], "Updated Storage Buffers");
    EXPECT_EQ(lines[2], "Updated Descriptor Sets");
    EXPECT_EQ(lines[3], "Submitted Command Buffer");
    EXPECT_EQ(lines[4], "Waiting for fence...");
    char expected[64];
    std::snprintf(expected, sizeof expected, "  > Total GPU Time:   %f ms", Sorter().GpuTimeMs());
    EXPECT_EQ(lines[5], expected);
    EXPECT_EQ(lines[6], "Command Finished!");
    // The sort's dispatches run between its first and last timestamp (one tick
    // is a nanosecond on the software device): no device finishes them in no
    // time, and a slow one only makes the span longer.
    EXPECT_GT(Sorter().GpuTimeMs(), 0.0);

    // A 32-bit sort writes timestamps 0 to 15 only; a 64-bit one all 32.
    const auto available = [&] {
        std::array<uint64_t, 2 * QVRadixSort::kQueryCapacity> results{};
        (void)Sorter().SelectedDevice().device.getQueryPoolResults(
            Sorter().LatestLayout().queryPool, 0, QVRadixSort::kQueryCapacity, sizeof results, results.data(), 16,
            vk::QueryResultFlagBits::e64 | vk::QueryResultFlagBits::eWithAvailability);
        uint32_t count = 0;
        while (count < QVRadixSort::kQueryCapacity && results[2 * count + 1] != 0) {
            ++count;
        }
        return count;
    };
    EXPECT_EQ(available(), 16u);
    const std::vector<double> wide = RandomKeys<double>(5000, kSeed);
    GpuPermutation(Sorter(), wide);
    EXPECT_EQ(available(), 32u);
}

TEST_F(GpuRadixSort, wait_without_a_pending_sort_only_says_so) {
    const std::vector<int32_t> keys = RandomKeys<int32_t>(100, kSeed);
    // The latest sort's output, which a second wait must not write again.
    std::vector<uint32_t> untouched(keys.size());
    Sorter().Sort(keys.data(), keys.size(), untouched.data(), true);
    Sorter().WaitToFinish();
    Sorter().TakeProgress();
    const double gpuTime = Sorter().GpuTimeMs();
    std::fill(untouched.begin(), untouched.end(), 5u);

    Sorter().WaitToFinish();
    EXPECT_EQ(Sorter().TakeProgress(), "Nothing to wait for...\n");
    EXPECT_EQ(untouched, std::vector<uint32_t>(keys.size(), 5));
    EXPECT_EQ(Sorter().GpuTimeMs(), gpuTime);
}

TEST_F(GpuRadixSort, refuses_a_second_sort_before_the_first_is_waited_for) {
    const std::vector<int32_t> keys = RandomKeys<int32_t>(100, kSeed);
    std::vector<uint32_t> out(keys.size());
    Sorter().Sort(keys.data(), keys.size(), out.data(), true);
    EXPECT_THROW(Sorter().Sort(keys.data(), keys.size(), out.data(), true), std::logic_error);
    Sorter().WaitToFinish();
    EXPECT_EQ(out, CpuPermutation(keys));
}

TEST_F(GpuRadixSort, execute_repeats_the_latest_sort_with_all_passes) {
    EXPECT_THROW(Sorter().Execute(), std::logic_error);
    const std::vector<double> keys = RandomKeys<double>(3000, kSeed);
    std::vector<uint32_t> out = GpuPermutation(Sorter(), keys);
    std::fill(out.begin(), out.end(), 0u);
    Sorter().Execute();
    Sorter().WaitToFinish();
    EXPECT_EQ(out, CpuPermutation(keys));
}

TEST_F(GpuRadixSort, splits_buffers_where_a_storage_descriptor_can_still_bind_them) {
    // The software device allows 2 GiB allocations but binds 128 MiB.
    const QVCore::PhysicalDeviceInfo& device = Sorter().SelectedPhysicalDevice();
    const uint64_t range = device.limits.maxStorageBufferRange;
    const uint64_t allocation = std::min<uint64_t>(
        device.properties.get<vk::PhysicalDeviceMaintenance3Properties>().maxMemoryAllocationSize, 4ull << 30);
    EXPECT_LE(device.maxAllocation, range);
    EXPECT_GT(device.maxAllocation + QVRadixSort::kBufferSizeGranule, std::min(range, allocation));
    EXPECT_EQ(device.maxAllocation % QVRadixSort::kBufferSizeGranule, 0u);
    EXPECT_EQ(Sorter().PhysicalDevices().at(0).maxAllocation, device.maxAllocation);
}

TEST_F(GpuRadixSort, lays_out_scratch_and_query_pool_once_at_the_first_sort) {
    EXPECT_EQ(Sorter().LatestLayout().scratchSize, 0u);
    EXPECT_FALSE(Sorter().LatestLayout().queryPool);
    GpuPermutation(Sorter(), RandomKeys<int32_t>(10, kSeed));

    const vk::PhysicalDeviceLimits& limits = Sorter().SelectedPhysicalDevice().limits;
    const uint64_t counters = QVEvalCore::RoundUp(109 * 256 * 4, limits.minStorageBufferOffsetAlignment);
    const uint64_t table = QVEvalCore::RoundUp(128, limits.nonCoherentAtomSize);
    const QVRadixSort::Layout first = Sorter().LatestLayout();
    EXPECT_EQ(first.countRegion.offset, 0u);
    EXPECT_EQ(first.countRegion.size, counters);
    EXPECT_EQ(first.offsetRegion.offset, counters);
    EXPECT_EQ(first.addressRegion.offset, 2 * counters);
    EXPECT_EQ(first.addressRegion.size, table);
    EXPECT_EQ(first.scratchSize, 2 * counters + table);
    EXPECT_EQ(first.queryCount, 32u);
    ASSERT_EQ(first.scratchBuffers, 1u);

    GpuPermutation(Sorter(), RandomKeys<double>(10, kSeed));
    const QVRadixSort::Layout second = Sorter().LatestLayout();
    EXPECT_EQ(second.scratchBuffers, 1u);
    EXPECT_EQ(second.scratch, first.scratch);
    EXPECT_EQ(second.queryPool, first.queryPool);
    // One key buffer and one index buffer per set when the keys fit one buffer.
    EXPECT_EQ(second.keyBuffers, 1u);
    EXPECT_EQ(second.indexBuffersA, 1u);
    EXPECT_EQ(second.block, (std::array<uint32_t, 3>{10u, 10u, 80u}));
}

TEST(GpuRadixSortSetup, stops_at_the_first_missing_shader_and_then_refuses_to_sort) {
    PartialShaders files({"sort_counting.comp.spv", "sort_scattering.comp.spv"});
    BuildShaders shaders(files.root);
    GpuTest::CoutCapture output;
    CheckedSorter sorter(SoftwareSorter());
    ASSERT_TRUE(sorter->VulkanReady());

    EXPECT_FALSE(sorter->Init());
    const std::string missing = (files.root / "AMD" / "NUMERIC" / "sort_partition.comp.spv").string();
    EXPECT_EQ(sorter->Failure(), "Invalid shader path: " + missing + "\n");
    EXPECT_EQ(output.Text().find("sort_scattering"), std::string::npos);
    EXPECT_EQ(sorter->ShaderModules().size(), 1u);

    const std::vector<int32_t> keys = {3, 1, 2};
    std::vector<uint32_t> out(keys.size());
    try {
        sorter->Sort(keys.data(), keys.size(), out.data(), true);
        ADD_FAILURE() << "an uninitialised sorter sorted";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), "GPU sort: the GPU sorter is not initialised");
    }
}

TEST(GpuRadixSortSetup, ranks_with_ballots_only_where_compute_shaders_have_them_and_the_shared_memory) {
    using Ops = vk::SubgroupFeatureFlagBits;
    const vk::SubgroupFeatureFlags all = Ops::eBasic | Ops::eBallot | Ops::eShuffle | Ops::eVote;
    const struct {
        const char* what;
        vk::ShaderStageFlags stages;
        vk::SubgroupFeatureFlags operations;
        uint32_t sharedBytes;
        bool expected;
    } cases[] = {
        {"everything", vk::ShaderStageFlagBits::eCompute, all, QVRadixSort::kBallotRankingSharedBytes, true},
        {"fragment stage only", vk::ShaderStageFlagBits::eFragment, all, 65536, false},
        {"no ballot", vk::ShaderStageFlagBits::eCompute, all & ~vk::SubgroupFeatureFlags(Ops::eBallot), 65536, false},
        {"no shuffle", vk::ShaderStageFlagBits::eCompute, all & ~vk::SubgroupFeatureFlags(Ops::eShuffle), 65536, false},
        {"16 KiB shared", vk::ShaderStageFlagBits::eCompute, all, 16384, false},
    };
    for (const auto& c : cases) {
        vk::PhysicalDeviceSubgroupProperties subgroups;
        subgroups.supportedStages = c.stages;
        subgroups.supportedOperations = c.operations;
        vk::PhysicalDeviceLimits limits;
        limits.maxComputeSharedMemorySize = c.sharedBytes;
        EXPECT_EQ(QVRadixSort::CanRankWithBallots(subgroups, limits), c.expected) << c.what;
    }
}

}  // namespace
