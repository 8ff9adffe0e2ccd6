#pragma once

// What the GPU sorter's tests share: a sorter on the software device with the
// build's shaders, the CPU radix sort's permutations to hold it against, and
// random keys of every magnitude.

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <random>
#include <string>
#include <system_error>
#include <type_traits>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "gpu/QVRadixSort.h"
#include "tests/gpu/GpuTestSupport.h"

namespace GpuSortTest {

using QVEvalCore::QVCore;
using QVEvalCore::QVRadixSort;
using CheckedSorter = GpuTest::CheckedCore<QVRadixSort>;

inline constexpr uint64_t kSeed = 20261207;

// A sorter on the software device, ranking with ballots where allowed.
inline QVRadixSort::Options SoftwareSorter(bool allowBallots = true) {
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

// One sorter per test, initialised from the build's shaders.
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

// The CPU radix sort's permutation of `keys`, the one the GPU sort must give.
std::vector<uint32_t> CpuPermutation(const std::vector<int32_t>& keys);
std::vector<uint32_t> CpuPermutation(const std::vector<float>& keys);
std::vector<uint32_t> CpuPermutation(const std::vector<int64_t>& keys);
std::vector<uint32_t> CpuPermutation(const std::vector<double>& keys);

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
std::string FirstMismatch(const std::vector<uint32_t>& gpu, const std::vector<uint32_t>& cpu, const std::string& what);

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

}  // namespace GpuSortTest
