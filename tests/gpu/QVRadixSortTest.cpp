// The GPU radix sort on the software device, under the validation layer,
// checked against the CPU radix sort permutation by permutation.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cpu_sort/RadixSort64.h"
#include "tests/gpu/SortTestSupport.h"

namespace {

using namespace GpuSortTest;

template <typename Key>
void ExpectMatchesCpuAtEverySize(QVRadixSort& sorter, const char* typeName) {
    // Around one tile of 256 and around one key per invocation of all 108
    // workgroups; one past a ballot tile of 16 keys per invocation in every
    // workgroup; the large ones give every workgroup many tiles, the last
    // one partial.
    for (size_t n :
         {0u, 1u, 2u, 255u, 256u, 257u, 108u * 256u - 1u, 108u * 256u + 1u, 100'000u, 108u * 4096u + 1u, 1'000'000u}) {
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
    std::vector<Key> specials = {Key(0),
                                 -Key(0),
                                 inf,
                                 -inf,
                                 nan,
                                 -nan,
                                 Key(1.5),
                                 Key(-1.5),
                                 std::numeric_limits<Key>::denorm_min(),
                                 -std::numeric_limits<Key>::denorm_min(),
                                 std::numeric_limits<Key>::max(),
                                 std::numeric_limits<Key>::lowest()};
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
