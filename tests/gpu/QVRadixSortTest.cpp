// The GPU radix sort on the software device, under the validation layer,
// checked against the CPU radix sort permutation by permutation.
#include "gpu/QVRadixSort.h"

#include "cpu_sort/RadixSort32.h"
#include "cpu_sort/RadixSort64.h"
#include "gpu/OwnedHandle.h"
#include "tests/gpu/GpuTestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

using QVEvalCore::QVCore;
using QVEvalCore::QVRadixSort;
using CheckedSorter = GpuTest::CheckedCore<QVRadixSort>;

constexpr uint64_t kSeed = 20261207;

// A sorter on the software device, ranking with ballots where allowed.
QVRadixSort::Options SoftwareSorter(bool allowBallots = true) {
    QVRadixSort::Options options;
    options.core = GpuTest::SoftwareDevice();
    options.allowBallotRanking = allowBallots;
    return options;
}

// The build's shader directory for one scope; the sorter reads it in Init.
class BuildShaders {
public:
    explicit BuildShaders(std::filesystem::path path = SORTBENCH_SHADER_DIR) : previous(QVCore::shaderPath) {
        QVCore::shaderPath = std::move(path);
    }
    ~BuildShaders() { QVCore::shaderPath = previous; }
    BuildShaders(const BuildShaders&) = delete;
    BuildShaders& operator=(const BuildShaders&) = delete;

private:
    std::filesystem::path previous;
};

class GpuRadixSort : public testing::Test {
protected:
    void SetUp() override {
        GpuTest::CoutCapture quiet;
        sorter = std::make_unique<CheckedSorter>(SoftwareSorter());
        ASSERT_TRUE((*sorter)->VulkanReady()) << "no software device";
        ASSERT_TRUE((*sorter)->Init()) << "shaders missing in " << SORTBENCH_SHADER_DIR;
        EXPECT_TRUE((*sorter)->RanksWithBallots()) << "these tests cover the ballot ranking the software device offers";
    }

    QVRadixSort& Sorter() { return **sorter; }

    // Lowers the per-allocation limit that both the group builder and the sort read.
    void LimitAllocation(uint64_t bytes) { Sorter().LimitAllocation(bytes); }

    BuildShaders shaders;
    std::unique_ptr<CheckedSorter> sorter;
};

std::vector<uint32_t> CpuPermutation(const std::vector<int32_t>& keys) {
    std::vector<uint32_t> out(keys.size());
    EvalCore::RadixSort32(0).SortINT(keys.data(), keys.size(), out.data(), true);
    return out;
}

std::vector<uint32_t> CpuPermutation(const std::vector<float>& keys) {
    std::vector<uint32_t> out(keys.size());
    EvalCore::RadixSort32(0).SortFLT(keys.data(), keys.size(), out.data(), true);
    return out;
}

std::vector<uint32_t> CpuPermutation(const std::vector<int64_t>& keys) {
    std::vector<uint32_t> out(keys.size());
    EvalCore::RadixSort64(0).SortINT(reinterpret_cast<const long*>(keys.data()), keys.size(), out.data(), true);
    return out;
}

std::vector<uint32_t> CpuPermutation(const std::vector<double>& keys) {
    std::vector<uint32_t> out(keys.size());
    EvalCore::RadixSort64(0).SortFLT(keys.data(), keys.size(), out.data(), true);
    return out;
}

template <typename Key>
std::vector<uint32_t> GpuPermutation(QVRadixSort& sorter, const std::vector<Key>& keys) {
    // A value no permutation of these sizes holds, so unwritten entries show.
    std::vector<uint32_t> out(keys.size(), 0xFFFFFFFFu);
    sorter.Sort(keys.data(), keys.size(), out.data(), true);
    sorter.WaitToFinish();
    sorter.TakeProgress();
    return out;
}

// Empty when equal; otherwise the first mismatch with what identifies the input.
std::string FirstMismatch(const std::vector<uint32_t>& gpu, const std::vector<uint32_t>& cpu, const std::string& what) {
    if (gpu.size() != cpu.size()) {
        return what + ": " + std::to_string(gpu.size()) + " entries, expected " + std::to_string(cpu.size());
    }
    for (size_t i = 0; i < gpu.size(); ++i) {
        if (gpu[i] != cpu[i]) {
            return what + " (n = " + std::to_string(gpu.size()) + ", seed " + std::to_string(kSeed) +
                   "): position " + std::to_string(i) + " holds " + std::to_string(gpu[i]) + ", expected " +
                   std::to_string(cpu[i]);
        }
    }
    return "";
}

template <typename Key>
Key FromBits(uint64_t bits) {
    Key key;
    std::memcpy(&key, &bits, sizeof key);
    return key;
}

// Random keys of every magnitude (shifting narrows the range, which also makes
// duplicates); floats from random bit patterns, so NaNs, infinities and
// subnormals of both signs occur.
template <typename Key>
std::vector<Key> RandomKeys(size_t n, uint64_t seed) {
    std::mt19937_64 random(seed);
    std::vector<Key> keys(n);
    for (Key& key : keys) {
        const uint64_t bits = random();
        if constexpr (std::is_integral_v<Key>) {
            key = static_cast<Key>(static_cast<Key>(bits) >> (random() % (8 * sizeof(Key))));
        } else {
            key = FromBits<Key>(sizeof(Key) == 4 ? bits >> 32 : bits);
        }
    }
    return keys;
}

template <typename Key>
void ExpectMatchesCpu(QVRadixSort& sorter, const std::vector<Key>& keys, const std::string& what) {
    EXPECT_EQ(FirstMismatch(GpuPermutation(sorter, keys), CpuPermutation(keys), what), "");
}

template <typename Key>
void ExpectMatchesCpuAtEverySize(QVRadixSort& sorter, const char* typeName) {
    // Around one tile of 256 and around one key per invocation of all 108
    // workgroups; one past a ballot tile of 16 keys per invocation in every
    // workgroup; the large ones give every workgroup many tiles, the last
    // one partial.
    for (size_t n : {0u, 1u, 2u, 255u, 256u, 257u, 108u * 256u - 1u, 108u * 256u + 1u, 100'000u, 108u * 4096u + 1u,
                     1'000'000u}) {
        ExpectMatchesCpu(sorter, RandomKeys<Key>(n, kSeed + n), std::string(typeName) + " random keys");
    }
}

TEST_F(GpuRadixSort, matches_cpu_radix_sort_for_int_keys_at_every_size) {
    ExpectMatchesCpuAtEverySize<int32_t>(Sorter(), "INT");
}

TEST_F(GpuRadixSort, matches_cpu_radix_sort_for_float_keys_at_every_size) {
    ExpectMatchesCpuAtEverySize<float>(Sorter(), "FLOAT");
}

TEST_F(GpuRadixSort, matches_cpu_radix_sort_for_bigint_keys_at_every_size) {
    ExpectMatchesCpuAtEverySize<int64_t>(Sorter(), "BIGINT");
}

TEST_F(GpuRadixSort, matches_cpu_radix_sort_for_bigfloat_keys_at_every_size) {
    ExpectMatchesCpuAtEverySize<double>(Sorter(), "BIGFLOAT");
}

template <typename Key>
void ExpectTiesInIndexOrder(QVRadixSort& sorter, const char* typeName) {
    const std::vector<Key> equal(70'001, Key(7));
    std::vector<uint32_t> identity(equal.size());
    std::iota(identity.begin(), identity.end(), 0u);
    EXPECT_EQ(FirstMismatch(GpuPermutation(sorter, equal), identity, std::string(typeName) + " all equal"), "");

    std::vector<Key> fewValues(70'001);
    std::mt19937_64 random(kSeed);
    for (Key& key : fewValues) {
        key = static_cast<Key>(static_cast<int>(random() % 3) - 1);
    }
    ExpectMatchesCpu(sorter, fewValues, std::string(typeName) + " three distinct values");
}

TEST_F(GpuRadixSort, keeps_equal_keys_in_index_order) {
    ExpectTiesInIndexOrder<int32_t>(Sorter(), "INT");
    ExpectTiesInIndexOrder<float>(Sorter(), "FLOAT");
    ExpectTiesInIndexOrder<int64_t>(Sorter(), "BIGINT");
    ExpectTiesInIndexOrder<double>(Sorter(), "BIGFLOAT");
}

template <typename Key, typename Bits>
std::vector<Key> SpecialFloats() {
    constexpr int kShift = 8 * sizeof(Bits) - 1;
    const Bits sign = Bits(1) << kShift;
    const Key inf = std::numeric_limits<Key>::infinity();
    const Key nan = std::numeric_limits<Key>::quiet_NaN();
    std::vector<Key> specials = {Key(0), -Key(0), inf, -inf, nan, -nan, Key(1.5), Key(-1.5),
                                 std::numeric_limits<Key>::denorm_min(), -std::numeric_limits<Key>::denorm_min(),
                                 std::numeric_limits<Key>::max(), std::numeric_limits<Key>::lowest()};
    // NaN payloads of both signs: the sort orders them by their bits.
    Bits quiet;
    std::memcpy(&quiet, &nan, sizeof quiet);
    for (Bits payload : {Bits(1), Bits(2), Bits(0x55), Bits(3)}) {
        specials.push_back(FromBits<Key>(quiet | payload));
        specials.push_back(FromBits<Key>((quiet | payload) | sign));
        specials.push_back(FromBits<Key>((quiet & ~(Bits(1) << (kShift - (sizeof(Bits) == 4 ? 9 : 12)))) | payload));
    }
    std::vector<Key> keys;
    std::mt19937_64 random(kSeed);
    for (int copy = 0; copy < 300; ++copy) {
        keys.insert(keys.end(), specials.begin(), specials.end());
    }
    std::shuffle(keys.begin(), keys.end(), random);
    return keys;
}

TEST_F(GpuRadixSort, orders_signed_zeros_infinities_and_nans_like_the_cpu_sort) {
    ExpectMatchesCpu(Sorter(), SpecialFloats<float, uint32_t>(), "FLOAT specials");
    ExpectMatchesCpu(Sorter(), SpecialFloats<double, uint64_t>(), "BIGFLOAT specials");
}

TEST_F(GpuRadixSort, sorts_from_the_callers_order_when_init_indices_is_false) {
    const std::vector<int64_t> keys = RandomKeys<int64_t>(5000, kSeed);
    std::vector<uint32_t> start(keys.size());
    std::iota(start.begin(), start.end(), 0u);
    std::shuffle(start.begin(), start.end(), std::mt19937_64(kSeed));

    std::vector<uint32_t> cpu = start;
    EvalCore::RadixSort64(0).SortINT(reinterpret_cast<const long*>(keys.data()), keys.size(), cpu.data(), false);
    std::vector<uint32_t> gpu = start;
    Sorter().Sort(keys.data(), keys.size(), gpu.data(), false);
    Sorter().WaitToFinish();
    EXPECT_EQ(FirstMismatch(gpu, cpu, "BIGINT from a shuffled order"), "");

    // An entry that names no key would make the device read out of bounds.
    gpu[17] = static_cast<uint32_t>(keys.size());
    EXPECT_THROW(Sorter().Sort(keys.data(), keys.size(), gpu.data(), false), std::invalid_argument);
    EXPECT_FALSE(Sorter().Pending());
}

TEST_F(GpuRadixSort, large_mode_spreads_keys_and_indices_over_up_to_eight_buffers) {
    // 65,536 INT or 32,768 BIGINT keys and 65,536 indices per buffer.
    LimitAllocation(262'144);

    const std::vector<int32_t> ints = RandomKeys<int32_t>(300'000, kSeed);
    ExpectMatchesCpu(Sorter(), ints, "INT over five buffers");
    const QVRadixSort::Layout intLayout = Sorter().LatestLayout();
    EXPECT_TRUE(intLayout.large);
    EXPECT_EQ(intLayout.keyBuffers, 5u);
    EXPECT_EQ(intLayout.indexBuffersA, 5u);
    EXPECT_EQ(intLayout.block, (std::array<uint32_t, 3>{300'000u, 65'536u, 262'144u}));

    ExpectMatchesCpu(Sorter(), RandomKeys<float>(300'000, kSeed), "FLOAT over five buffers");

    const std::vector<int64_t> bigints = RandomKeys<int64_t>(8 * 32'768, kSeed);
    ExpectMatchesCpu(Sorter(), bigints, "BIGINT over eight buffers");
    EXPECT_EQ(Sorter().LatestLayout().keyBuffers, 8u);
    EXPECT_EQ(Sorter().LatestLayout().indexBuffersB, 4u);

    ExpectMatchesCpu(Sorter(), RandomKeys<double>(200'001, kSeed), "BIGFLOAT over seven buffers");
    EXPECT_EQ(Sorter().LatestLayout().keyBuffers, 7u);
}

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

// The shader directory with only some of the build's files, and others added.
class PartialShaders {
public:
    explicit PartialShaders(std::initializer_list<const char*> present)
        : root(std::filesystem::temp_directory_path() / ("sortbench-shaders-" + std::to_string(getpid()))) {
        std::filesystem::create_directories(root / "AMD" / "NUMERIC");
        for (const char* file : present) {
            Add(std::filesystem::path(SORTBENCH_SHADER_DIR) / "AMD" / "NUMERIC" / file, file);
        }
    }
    void Add(const std::filesystem::path& from, const char* name) {
        std::filesystem::copy_file(from, root / "AMD" / "NUMERIC" / name);
    }
    ~PartialShaders() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    PartialShaders(const PartialShaders&) = delete;
    PartialShaders& operator=(const PartialShaders&) = delete;

    std::filesystem::path root;
};

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
        {"no shuffle", vk::ShaderStageFlagBits::eCompute, all & ~vk::SubgroupFeatureFlags(Ops::eShuffle), 65536,
         false},
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

// Every type at sizes around a tile and past many, specials and ties.
void ExpectRankingMatchesCpu(QVRadixSort& sorter, const std::string& ranking) {
    for (size_t n : {1u, 257u, 108u * 256u + 1u, 108u * 4096u + 1u, 300'000u}) {
        ExpectMatchesCpu(sorter, RandomKeys<int32_t>(n, kSeed + n), "INT, " + ranking);
        ExpectMatchesCpu(sorter, RandomKeys<float>(n, kSeed + n), "FLOAT, " + ranking);
        ExpectMatchesCpu(sorter, RandomKeys<int64_t>(n, kSeed + n), "BIGINT, " + ranking);
        ExpectMatchesCpu(sorter, RandomKeys<double>(n, kSeed + n), "BIGFLOAT, " + ranking);
    }
    ExpectMatchesCpu(sorter, SpecialFloats<double, uint64_t>(), "BIGFLOAT specials, " + ranking);
    ExpectTiesInIndexOrder<int64_t>(sorter, ("BIGINT, " + ranking).c_str());
}

// A sorter initialised from `files`, ranking with ballots where allowed.
std::unique_ptr<CheckedSorter> SorterFrom(const PartialShaders& files, bool allowBallots) {
    BuildShaders shaders(files.root);
    GpuTest::CoutCapture quiet;
    auto sorter = std::make_unique<CheckedSorter>(SoftwareSorter(allowBallots));
    if ((*sorter)->VulkanReady()) {
        EXPECT_TRUE((*sorter)->Init());
    }
    return sorter;
}

TEST(GpuRadixSortSetup, mask_ranking_loads_its_own_scattering_build_and_matches_the_cpu_sort) {
    // Without the ballot build: Init must not look for it.
    PartialShaders files({"sort_counting.comp.spv", "sort_partition.comp.spv", "sort_scattering_masks.comp.spv"});
    const std::unique_ptr<CheckedSorter> sorter = SorterFrom(files, false);
    ASSERT_TRUE((*sorter)->VulkanReady());
    EXPECT_FALSE((*sorter)->RanksWithBallots());
    ExpectRankingMatchesCpu(**sorter, "mask ranking");
}

TEST(GpuRadixSortSetup, ballot_matching_of_equal_digits_gives_the_same_permutations) {
    // Subgroups wider than the software device's 8 lanes find equal digits
    // with one ballot per digit bit; this build does so at 8 lanes too.
    PartialShaders files({"sort_counting.comp.spv", "sort_partition.comp.spv"});
    files.Add(SORTBENCH_BALLOT_MATCH_SHADER, "sort_scattering.comp.spv");
    const std::unique_ptr<CheckedSorter> sorter = SorterFrom(files, true);
    ASSERT_TRUE((*sorter)->VulkanReady());
    EXPECT_TRUE((*sorter)->RanksWithBallots());
    ExpectRankingMatchesCpu(**sorter, "ballot matching");
}

}  // namespace
