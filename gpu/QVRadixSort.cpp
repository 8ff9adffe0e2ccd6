#include "gpu/QVRadixSort.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <iostream>
#include <limits>
#include <stdexcept>
#include <system_error>
#include <utility>
#include <vector>

namespace QVEvalCore {

namespace {

const char* const CountingFile = "sort_counting.comp.spv";
const char* const PartitionFile = "sort_partition.comp.spv";
// Scattering comes in two builds; QVRadixSort::RanksWithBallots says which.
const char* const BallotScatteringFile = "sort_scattering.comp.spv";
const char* const MaskScatteringFile = "sort_scattering_masks.comp.spv";

constexpr vk::SubgroupFeatureFlags BallotRankingOperations = vk::SubgroupFeatureFlagBits::eBasic |
                                                             vk::SubgroupFeatureFlagBits::eBallot |
                                                             vk::SubgroupFeatureFlagBits::eShuffle;

// Every stage the sort's commands touch, on both sides of each barrier.
constexpr vk::PipelineStageFlags BarrierStages =
    vk::PipelineStageFlagBits::eComputeShader | vk::PipelineStageFlagBits::eTransfer |
    vk::PipelineStageFlagBits::eHost | vk::PipelineStageFlagBits::eAllCommands;
constexpr vk::AccessFlags BarrierWrites = vk::AccessFlagBits::eShaderWrite | vk::AccessFlagBits::eTransferWrite |
                                          vk::AccessFlagBits::eHostWrite | vk::AccessFlagBits::eMemoryWrite;
constexpr vk::AccessFlags BarrierReads = vk::AccessFlagBits::eUniformRead | vk::AccessFlagBits::eShaderRead |
                                         vk::AccessFlagBits::eTransferRead | vk::AccessFlagBits::eHostRead |
                                         vk::AccessFlagBits::eMemoryRead;

constexpr vk::BufferUsageFlags KeyUsage = vk::BufferUsageFlagBits::eTransferSrc |
                                          vk::BufferUsageFlagBits::eTransferDst |
                                          vk::BufferUsageFlagBits::eStorageBuffer;
constexpr vk::BufferUsageFlags IndexUsage = KeyUsage | vk::BufferUsageFlagBits::eShaderDeviceAddress;
constexpr vk::BufferUsageFlags ScratchUsage = IndexUsage | vk::BufferUsageFlagBits::eUniformBuffer;

// Device selection admits devices with the mask build's shared memory; the
// ballot build is chosen only on top of that.
static_assert(QVCore::SortNeeds::SharedMemoryBytes <= QVRadixSort::BallotRankingSharedBytes);

// Indices and digit counters are 32-bit, as in the CPU sort.
constexpr uint64_t MaxRecords = std::numeric_limits<uint32_t>::max();

// The full compute/transfer/host memory barrier recorded after each dispatch.
void RecordBarrier(vk::CommandBuffer commandBuffer)
{
    const vk::MemoryBarrier barrier(BarrierWrites, BarrierReads);
    commandBuffer.pipelineBarrier(BarrierStages, BarrierStages, {}, barrier, {}, {});
}

}  // namespace

QVRadixSort::QVRadixSort(const Options& options)
    : QVCore("QVRadixSort", options.core), allowBallotRanking(options.allowBallotRanking)
{
    if (!VulkanReady()) {
        return;
    }
    // A key buffer is bound whole as a storage buffer, so it may not exceed
    // maxStorageBufferRange (128 MiB on some devices, 4 GiB - 1 on others).
    // A multiple of BufferSizeGranule keeps the core's round-up of buffer sizes
    // to nonCoherentAtomSize inside the range and every key and index split
    // on the same byte boundary.
    const PhysicalDeviceInfo& device = SelectedPhysicalDevice();
    uint64_t limit = std::min<uint64_t>(device.maxAllocation, device.limits.maxStorageBufferRange);
    limit -= limit % BufferSizeGranule;
    LimitAllocation(limit);
}

QVRadixSort::~QVRadixSort()
{
    const vk::Device device = SelectedDevice().device;
    if (!device) {
        return;
    }
    if (submitted) {
        // Freeing memory the GPU still uses is undefined; only an exception
        // between Sort and WaitToFinish gets here.
        try {
            device.waitIdle();
        } catch (const vk::SystemError&) {
        }
    }
    for (BufferGroup* group : {&keyGroup, &scratchGroup, &indexGroupA, &indexGroupB}) {
        group->Clear(device);
    }
}

QVRadixSort::Layout QVRadixSort::LatestLayout() const
{
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

std::string QVRadixSort::TypeName(int32_t code)
{
    const AppCore::DataTypeFacts* facts = AppCore::FactsOfGpuCode(code);
    return facts == nullptr ? "NONE" : facts->name;
}

uint64_t QVRadixSort::KeyBuffersFor(uint64_t n, uint64_t bytesPerKey, uint64_t maxAllocation)
{
    const uint64_t perBuffer = maxAllocation / bytesPerKey;
    if (perBuffer == 0) {
        return std::numeric_limits<uint64_t>::max();
    }
    return n == 0 ? 1 : (n + perBuffer - 1) / perBuffer;
}

bool QVRadixSort::CreateDescriptorSets()
{
    const vk::Device device = SelectedDevice().device;
    const vk::ShaderStageFlags stage = vk::ShaderStageFlagBits::eCompute;
    const uint32_t maxStorageBuffers = MaxStorageBuffers();
    DescriptorSetInfo& descriptorSets = DescriptorSets();

    descriptorSets.CreateLayout(device, {{0, vk::DescriptorType::eStorageBuffer, maxStorageBuffers, stage}},
                                {vk::DescriptorBindingFlagBits::eVariableDescriptorCount}, {});
    descriptorSets.CreateLayout(device,
                                {{0, vk::DescriptorType::eStorageBuffer, 1, stage},
                                 {1, vk::DescriptorType::eStorageBuffer, 1, stage},
                                 {2, vk::DescriptorType::eStorageBuffer, 1, stage},
                                 {3, vk::DescriptorType::eInlineUniformBlockEXT, BlockBytes, stage}},
                                {vk::DescriptorBindingFlagBits::ePartiallyBound,
                                 vk::DescriptorBindingFlagBits::ePartiallyBound, {}, {}},
                                {});
    descriptorSets.CreatePool(device, vk::DescriptorPoolCreateFlagBits::eFreeDescriptorSet, 0);
    descriptorSets.Allocate(device, {maxStorageBuffers, 0});
    std::cout << "Successfully created descriptor sets\n";
    return true;
}

bool QVRadixSort::CreatePipelineLayout()
{
    const vk::PushConstantRange pushConstants(vk::ShaderStageFlagBits::eCompute, 0, PushConstantBytes);
    AdoptPipelineLayout(SelectedDevice().device.createPipelineLayout(
        vk::PipelineLayoutCreateInfo({}, DescriptorSets().layouts, pushConstants)));
    return true;
}

bool QVRadixSort::CanRankWithBallots(const vk::PhysicalDeviceSubgroupProperties& subgroups,
                                     const vk::PhysicalDeviceLimits& limits)
{
    return (subgroups.supportedStages & vk::ShaderStageFlagBits::eCompute) &&
           (subgroups.supportedOperations & BallotRankingOperations) == BallotRankingOperations &&
           limits.maxComputeSharedMemorySize >= BallotRankingSharedBytes;
}

bool QVRadixSort::CreatePipelines()
{
    const PhysicalDeviceInfo& physical = SelectedPhysicalDevice();
    const char* vendor = physical.driverID == vk::DriverId::eNvidiaProprietary ? "NVIDIA" : "AMD";
    const std::filesystem::path directory = ShaderPath / vendor / "NUMERIC";
    const auto properties =
        physical.physicalDevice.getProperties2<vk::PhysicalDeviceProperties2, vk::PhysicalDeviceSubgroupProperties>();
    ranksWithBallots = allowBallotRanking &&
                       CanRankWithBallots(properties.get<vk::PhysicalDeviceSubgroupProperties>(), physical.limits);
    for (const char* file :
         {CountingFile, PartitionFile, ranksWithBallots ? BallotScatteringFile : MaskScatteringFile}) {
        const std::filesystem::path path = directory / file;
        std::error_code error;  // an unreadable directory counts as a missing file
        const std::filesystem::file_type type = std::filesystem::status(path, error).type();
        if (type == std::filesystem::file_type::not_found || type == std::filesystem::file_type::none) {
            return Fail("Invalid shader path: " + path.string());
        }
        const LoadedShader loaded = LoadShader(SelectedDevice().device, path.c_str(), {});
        AdoptShaderModule(loaded.module);
        if (!loaded.module) {
            // A pipeline made from a null module would fail only at sort time.
            if (!loaded.problem.empty()) {
                Fail(loaded.problem);
            }
            return Fail("Could not load shader: " + path.string());
        }
    }
    return true;
}

void QVRadixSort::UpdatePipelines()
{
    if (large == builtLarge && dataType == builtType) {
        return;
    }
    const vk::Device device = SelectedDevice().device;
    DestroyPipelines();

    const std::array<vk::SpecializationMapEntry, 4> entries = {
        vk::SpecializationMapEntry(SORT_SPEC_LARGE, 0, 4), vk::SpecializationMapEntry(SORT_SPEC_DATA_TYPE, 4, 4),
        vk::SpecializationMapEntry(SORT_SPEC_WORKGROUP_COUNT, 8, 4),
        vk::SpecializationMapEntry(SORT_SPEC_DIGIT_BITS, 12, 4)};
    const std::array<uint32_t, 4> constants = {large, static_cast<uint32_t>(dataType), workgroupCount, DigitBits};
    const vk::SpecializationInfo specialization(static_cast<uint32_t>(entries.size()), entries.data(),
                                                sizeof(constants), constants.data());
    for (vk::ShaderModule module : ShaderModules()) {
        const vk::ComputePipelineCreateInfo createInfo(
            {}, vk::PipelineShaderStageCreateInfo({}, vk::ShaderStageFlagBits::eCompute, module, "main", &specialization),
            PipelineLayout());
        AdoptPipeline(device.createComputePipeline(nullptr, createInfo).value);
    }
    builtLarge = large;
    builtType = dataType;
    progress += "Created Pipeline for " + TypeName(dataType) + (large == 1 ? ", LARGE" : "") + '\n';
}

namespace {

template <typename Element>
constexpr const AppCore::DataTypeFacts& FactsFor()
{
    return AppCore::FactsOf(AppCore::DataTypeOf<Element>());
}

}  // namespace

void QVRadixSort::Sort(const int32_t* keyData, unsigned long n, uint32_t* indexData, bool init)
{
    SortKeys(keyData, n, indexData, init, FactsFor<int32_t>().gpuCode, FactsFor<int32_t>().keyBytes);
}

void QVRadixSort::Sort(const float* keyData, unsigned long n, uint32_t* indexData, bool init)
{
    SortKeys(keyData, n, indexData, init, FactsFor<float>().gpuCode, FactsFor<float>().keyBytes);
}

void QVRadixSort::Sort(const int64_t* keyData, unsigned long n, uint32_t* indexData, bool init)
{
    SortKeys(keyData, n, indexData, init, FactsFor<int64_t>().gpuCode, FactsFor<int64_t>().keyBytes);
}

void QVRadixSort::Sort(const double* keyData, unsigned long n, uint32_t* indexData, bool init)
{
    SortKeys(keyData, n, indexData, init, FactsFor<double>().gpuCode, FactsFor<double>().keyBytes);
}

void QVRadixSort::SortKeys(const void* keyData, unsigned long n, uint32_t* indexData, bool init, int32_t type,
                           uint32_t bytesPerKey)
{
    if (!PipelinesReady()) {
        throw std::runtime_error("GPU sort: the GPU sorter is not initialised");
    }
    if (submitted) {
        throw std::logic_error("GPU sort: the previous sort was not waited for (WaitToFinish)");
    }
    if (n > MaxRecords) {
        throw std::runtime_error("GPU sort of " + std::to_string(n) + " keys: at most " +
                                 std::to_string(MaxRecords) + " keys fit 32-bit indices");
    }
    const uint64_t maxAllocation = SelectedPhysicalDevice().maxAllocation;
    const uint32_t maxStorageBuffers = MaxStorageBuffers();
    const uint64_t keyBuffers = KeyBuffersFor(n, bytesPerKey, maxAllocation);
    if (keyBuffers > maxStorageBuffers) {
        throw std::runtime_error("GPU sort of " + std::to_string(n) + " " + TypeName(type) + " keys: needs more than " +
                                 std::to_string(maxStorageBuffers) + " buffers of at most " +
                                 std::to_string(maxAllocation) + " bytes");
    }
    // The shaders split the index buffers where the key buffers end in bytes;
    // the index group splits at maxAllocation / 4 indices. Both agree when the
    // limit is a multiple of the key size, as the constructor makes it.
    if (keyBuffers > 1 && (maxAllocation / bytesPerKey * bytesPerKey) / 4 != maxAllocation / 4) {
        throw std::runtime_error("GPU sort: a maximum allocation of " + std::to_string(maxAllocation) +
                                 " bytes is not a multiple of the key size");
    }
    if (!init) {
        for (unsigned long i = 0; i < n; ++i) {
            if (indexData[i] >= n) {
                throw std::invalid_argument("GPU sort: starting index " + std::to_string(indexData[i]) +
                                            " at position " + std::to_string(i) + " is not below " +
                                            std::to_string(n));
            }
        }
    }

    dataType = type;
    keys = keyData;
    indices = indexData;
    initIndices = init;
    recordCount = n;
    keyBytes = bytesPerKey;
    keyBits = bytesPerKey * 8;
    passCount = endPass = keyBits / DigitBits;
    firstPass = 0;
    large = maxAllocation / keyBytes < n ? 1 : 0;
    SubmitPasses();
}

void QVRadixSort::Execute()
{
    if (dataType < 0 || keyGroup.buffers.empty()) {
        throw std::logic_error("GPU sort: Execute needs a previous Sort");
    }
    if (submitted) {
        throw std::logic_error("GPU sort: the previous sort was not waited for (WaitToFinish)");
    }
    passCount = endPass = keyBits / DigitBits;
    firstPass = 0;
    SubmitPasses();
}

void QVRadixSort::SubmitPasses()
{
    UpdatePipelines();
    UpdateStorageBuffers();
    UpdateDescriptorSets();
    RecordCommandBuffer();
}

void QVRadixSort::UpdateStorageBuffers()
{
    const vk::Device device = SelectedDevice().device;
    const vk::PhysicalDeviceLimits& limits = SelectedPhysicalDevice().limits;
    if (scratchSize == 0) {
        const uint64_t counters =
            RoundUp(uint64_t{workgroupCount + 1} * SORT_RADIX * 4, limits.minStorageBufferOffsetAlignment);
        const uint64_t table = RoundUp(uint64_t{MaxStorageBuffers()} * 2 * 8, limits.nonCoherentAtomSize);
        countRegion = {0, counters};
        offsetRegion = {counters, counters};
        addressRegion = {2 * counters, table};
        CreateBufferGroup(0, (2 * counters + table) / 4, 4, scratchGroup, ScratchUsage,
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
    CreateBufferGroup(0, elements, keyBytes, keyGroup, KeyUsage, vk::MemoryPropertyFlagBits::eDeviceLocal, {});
    CopyDataToBufferGroup(0, keyBytes * recordCount, keys, keyGroup);
    CreateBufferGroup(0, elements, 4, indexGroupA, IndexUsage, vk::MemoryPropertyFlagBits::eDeviceLocal,
                      vk::MemoryAllocateFlagBits::eDeviceAddress);
    CreateBufferGroup(0, elements, 4, indexGroupB, IndexUsage, vk::MemoryPropertyFlagBits::eDeviceLocal,
                      vk::MemoryAllocateFlagBits::eDeviceAddress);
    if (!initIndices) {
        // The first pass then reads its starting order from set A.
        CopyDataToBufferGroup(0, 4 * recordCount, indices, indexGroupA);
    }

    if (queryCount == 0) {
        queryPool =
            Own(device, device.createQueryPool(vk::QueryPoolCreateInfo({}, vk::QueryType::eTimestamp, QueryCapacity)));
        queryCount = QueryCapacity;
    }
    progress += "Updated Storage Buffers\n";
}

void QVRadixSort::UpdateDescriptorSets()
{
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
    static_assert(sizeof(blockData) == BlockBytes);
    const vk::WriteDescriptorSetInlineUniformBlockEXT blockWrite(BlockBytes, blockData);
    vk::WriteDescriptorSet write(set1, 3, 0, BlockBytes, vk::DescriptorType::eInlineUniformBlockEXT);
    write.pNext = &blockWrite;
    device.updateDescriptorSets(write, {});
    progress += "Updated Descriptor Sets\n";
}

void QVRadixSort::RecordCommandBuffer()
{
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
        static_assert(sizeof(constants) == PushConstantBytes);
        commandBuffer.pushConstants(pipelineLayout, vk::ShaderStageFlagBits::eCompute, 0, PushConstantBytes,
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

void QVRadixSort::WaitToFinish()
{
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

    std::array<uint64_t, QueryCapacity> stamps{};
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

std::string QVRadixSort::TakeProgress()
{
    return std::exchange(progress, std::string());
}

}  // namespace QVEvalCore
