#include "tests/gpu/SortTestSupport.h"

#include "cpu_sort/RadixSort32.h"
#include "cpu_sort/RadixSort64.h"

namespace GpuSortTest {

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

// Empty when equal; otherwise the first mismatch with what identifies the input.
std::string FirstMismatch(const std::vector<uint32_t>& gpu, const std::vector<uint32_t>& cpu, const std::string& what) {
    if (gpu.size() != cpu.size()) {
        return what + ": " + std::to_string(gpu.size()) + " entries, expected " + std::to_string(cpu.size());
    }
    for (size_t i = 0; i < gpu.size(); ++i) {
        if (gpu[i] != cpu[i]) {
            return what + " (n = " + std::to_string(gpu.size()) + ", seed " + std::to_string(kSeed) + "): position " +
                   std::to_string(i) + " holds " + std::to_string(gpu[i]) + ", expected " + std::to_string(cpu[i]);
        }
    }
    return "";
}

}  // namespace GpuSortTest
