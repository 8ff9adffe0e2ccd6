// The sort's pipeline layout and its three compute pipelines, built for the
// key type and for whether the keys span several buffers.
#include <array>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <system_error>

#include "gpu/QVRadixSort.h"

namespace QVEvalCore {

namespace {

const char* const kCountingFile = "sort_counting.comp.spv";
const char* const kPartitionFile = "sort_partition.comp.spv";
// Scattering comes in two builds; QVRadixSort::RanksWithBallots says which.
const char* const kBallotScatteringFile = "sort_scattering.comp.spv";
const char* const kMaskScatteringFile = "sort_scattering_masks.comp.spv";

constexpr vk::SubgroupFeatureFlags kBallotRankingOperations =
    vk::SubgroupFeatureFlagBits::eBasic | vk::SubgroupFeatureFlagBits::eBallot | vk::SubgroupFeatureFlagBits::eShuffle;

// Device selection admits devices with the mask build's shared memory; the
// ballot build is chosen only on top of that.
static_assert(QVCore::SortNeeds::kSharedMemoryBytes <= QVRadixSort::kBallotRankingSharedBytes);

}  // namespace

bool QVRadixSort::CreatePipelineLayout() {
    const vk::PushConstantRange pushConstants(vk::ShaderStageFlagBits::eCompute, 0, kPushConstantBytes);
    AdoptPipelineLayout(SelectedDevice().device.createPipelineLayout(
        vk::PipelineLayoutCreateInfo({}, DescriptorSets().layouts, pushConstants)));
    return true;
}

bool QVRadixSort::CanRankWithBallots(const vk::PhysicalDeviceSubgroupProperties& subgroups,
                                     const vk::PhysicalDeviceLimits& limits) {
    return (subgroups.supportedStages & vk::ShaderStageFlagBits::eCompute) &&
           (subgroups.supportedOperations & kBallotRankingOperations) == kBallotRankingOperations &&
           limits.maxComputeSharedMemorySize >= kBallotRankingSharedBytes;
}

bool QVRadixSort::CreatePipelines() {
    const PhysicalDeviceInfo& physical = SelectedPhysicalDevice();
    const char* vendor = physical.driverID == vk::DriverId::eNvidiaProprietary ? "NVIDIA" : "AMD";
    const std::filesystem::path directory = shaderPath / vendor / "NUMERIC";
    const auto properties =
        physical.physicalDevice.getProperties2<vk::PhysicalDeviceProperties2, vk::PhysicalDeviceSubgroupProperties>();
    ranksWithBallots = allowBallotRanking &&
                       CanRankWithBallots(properties.get<vk::PhysicalDeviceSubgroupProperties>(), physical.limits);
    for (const char* file :
         {kCountingFile, kPartitionFile, ranksWithBallots ? kBallotScatteringFile : kMaskScatteringFile}) {
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

void QVRadixSort::UpdatePipelines() {
    if (large == builtLarge && dataType == builtType) {
        return;
    }
    const vk::Device device = SelectedDevice().device;
    DestroyPipelines();

    const std::array<vk::SpecializationMapEntry, 4> entries = {
        vk::SpecializationMapEntry(SORT_SPEC_LARGE, 0, 4), vk::SpecializationMapEntry(SORT_SPEC_DATA_TYPE, 4, 4),
        vk::SpecializationMapEntry(SORT_SPEC_WORKGROUP_COUNT, 8, 4),
        vk::SpecializationMapEntry(SORT_SPEC_DIGIT_BITS, 12, 4)};
    const std::array<uint32_t, 4> constants = {large, static_cast<uint32_t>(dataType), workgroupCount, kDigitBits};
    const vk::SpecializationInfo specialization(static_cast<uint32_t>(entries.size()), entries.data(),
                                                sizeof(constants), constants.data());
    for (vk::ShaderModule module : ShaderModules()) {
        const vk::ComputePipelineCreateInfo createInfo(
            {},
            vk::PipelineShaderStageCreateInfo({}, vk::ShaderStageFlagBits::eCompute, module, "main", &specialization),
            PipelineLayout());
        AdoptPipeline(device.createComputePipeline(nullptr, createInfo).value);
    }
    builtLarge = large;
    builtType = dataType;
    progress += "Created Pipeline for " + TypeName(dataType) + (large == 1 ? ", LARGE" : "") + '\n';
}

}  // namespace QVEvalCore
